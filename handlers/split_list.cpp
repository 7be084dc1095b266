// The split-list assembler and the content-ID record lists it fills.
#include "handlers/split_list.h"

#include "log/log.h"
#include "handlers/common.h"

#include <cstring>
#include <new>

// ---- ending flags ----------------------------------------------------------------

ListFragment firstFragment(int flag)
{
    return flag == kListEnds        ? ListFragment::Full
           : flag == kListContinues ? ListFragment::First
                                    : ListFragment::Unknown;
}

ListFragment continuationFragment(int flag)
{
    return flag == kListEnds        ? ListFragment::Last
           : flag == kListContinues ? ListFragment::Middle
                                    : ListFragment::Unknown;
}

// ---- record lists ------------------------------------------------------------------

bool ContentIdChain::append(const char *protocol, const char *name)
{
    if (!fitsText(protocol, kRecordProtocolMax) || !fitsText(name, kRecordNameMax))
        return false;
    auto *record = new (std::nothrow) ContentIdList;
    if (record == nullptr)
        return false;
    std::memcpy(record->protocol, protocol, std::strlen(protocol) + 1);
    std::memcpy(record->name, name, std::strlen(name) + 1);
    record->next = nullptr;
    if (tail_ != nullptr)
        tail_->next = record;
    else
        head_ = record;
    tail_ = record;
    ++size_;
    return true;
}

void ContentIdChain::clear()
{
    ContentIdList *record = head_;
    while (record != nullptr) {
        ContentIdList *next = record->next;
        delete record;
        record = next;
    }
    head_ = tail_ = nullptr;
    size_ = 0;
}

// ---- the assembler -------------------------------------------------------------------

void SplitListAssembler::startNew(const char *handler)
{
    // A new first message starts a new list; records of an unfinished one
    // belong to another graph and go.
    const int leftover = records_.graphs.size() + records_.vertices.size() + records_.boxes.size();
    if (leftover > 0 && tqDebug)
        DebugTrace("%s: discarding %d records of an unfinished content list\n", handler, leftover);
    if (open_ && tqDebug)
        DebugTrace("%s: the split content list in progress is abandoned; its remaining parts will be dropped\n",
                   handler);
    records_.clear();
    discarding_ = false;
    open_ = false;
}

bool SplitListAssembler::begin(const char *handler, ListFragment fragment, char *listPart, int listLength,
                               const PendingGraphFields &fields)
{
    startNew(handler);
    if ((fragment == ListFragment::First || listLength > 0) && !BuildCTIDLinkedList(listPart, listLength + 1)) {
        refuse(traced(handler), "content list refused");
        abandon();
        return false;
    }
    keepFields(fields);
    open_ = fragment == ListFragment::First;
    return true;
}

void SplitListAssembler::keepFields(const PendingGraphFields &fields)
{
    std::memcpy(pending_.bytes, fields.bytes, static_cast<size_t>(fields.length));
    pending_.length = fields.length;
}

bool SplitListAssembler::admit(const char *handler, const char *data, int length, ListFragment &fragment)
{
    if (data == nullptr || length < 1) {
        refuse(traced(handler), "no ending flag");
        abandon();
        return false;
    }
    const int flag = static_cast<unsigned char>(data[length - 1]);
    fragment = continuationFragment(flag);
    // While a refused part is being skipped, every further part is dropped;
    // the last part ends the skipping.
    if (discarding_) {
        refuse(traced(handler, ", part dropped"), "an earlier part of this content list was refused");
        if (fragment == ListFragment::Last)
            discarding_ = false;
        return false;
    }
    if (fragment == ListFragment::Unknown) {
        if (tqDebug)
            DebugTrace("Unknown msg ending flag.\n");
        refuse(kRefusalOnly, "unknown ending flag %d", flag);
        return false;
    }
    if (!open_) {
        refuse(traced(handler, ", part dropped"), "no split content list is open");
        return false;
    }
    return true;
}

bool SplitListAssembler::append(const char *handler, ListFragment fragment, char *data, int length)
{
    if (fragment == ListFragment::Last)
        open_ = false;
    if (BuildCTIDLinkedList(data, length))
        return true;
    refuse(traced(handler), "content list refused");
    if (fragment == ListFragment::Last)
        complete();
    else
        abandon();
    return false;
}

void SplitListAssembler::complete()
{
    records_.clear();
    open_ = false;
}

void SplitListAssembler::abandon()
{
    records_.clear();
    discarding_ = true;
    open_ = false;
}

void SplitListAssembler::save()
{
    ContentIdChain *chains[3] = {&records_.graphs, &records_.vertices, &records_.boxes};
    for (int i = 0; i < 3; ++i) {
        saved_.records[i].clear();
        for (const ContentIdList *r = chains[i]->head(); r != nullptr; r = r->next)
            saved_.records[i].emplace_back(r->protocol, r->name);
    }
    saved_.pending.length = pending_.length;
    std::memcpy(saved_.pending.bytes, pending_.bytes, static_cast<size_t>(pending_.length));
    saved_.discarding = discarding_;
    saved_.open = open_;
    saved_.unknownEntries = records_.unknownEntries;
}

void SplitListAssembler::restore()
{
    records_.clear();
    ContentIdChain *chains[3] = {&records_.graphs, &records_.vertices, &records_.boxes};
    for (int i = 0; i < 3; ++i) {
        for (const auto &r : saved_.records[i])
            chains[i]->append(r.first.c_str(), r.second.c_str());
    }
    pending_.length = saved_.pending.length;
    std::memcpy(pending_.bytes, saved_.pending.bytes, static_cast<size_t>(saved_.pending.length));
    discarding_ = saved_.discarding;
    open_ = saved_.open;
    records_.unknownEntries = saved_.unknownEntries;
}

void SplitListAssembler::reset()
{
    records_.clear();
    pending_.length = 0;
    discarding_ = false;
    open_ = false;
    saved_ = Saved{};
}

SplitListAssembler &splitList()
{
    static SplitListAssembler assembler;
    return assembler;
}

// ---- the process-wide state, by its older names -----------------------------------

ContentIdLists &contentIdLists()
{
    return splitList().records();
}

const PendingGraphFields &pendingGraphFields()
{
    return splitList().pending();
}

void saveContentState()
{
    splitList().save();
}

void restoreContentState()
{
    splitList().restore();
}
