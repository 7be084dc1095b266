// Graph and content-ID messages: graph creation, content lists split over
// continuation messages, and the state kept between the parts.
#include "handlers/content.h"
#include "handlers/handlers.h"

#include "adapter/tqot.h"
#include "log/log.h"
#include "log/outcome.h"
#include "handlers/common.h"
#include "handlers/endpoint_text.h"
#include "codec/codec.h"
#include "platform/ovw.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---- state kept between messages -------------------------------------------------

ContentIdLists g_lists;
PendingGraphFields g_pending{};
// Set when a part of the split list being received was refused: the records
// collected so far are gone, so the remaining parts are dropped up to the
// last one (or the next graph or content-ID message) and nothing reconciles
// on a partial list.
bool g_discarding = false;
// Set while a split list is being received: from its first message (ending
// flag 3) to its last part. A part that comes while none is open belongs to
// a list that was abandoned for another, and is dropped.
bool g_listOpen = false;

// A part of a message dropped: the line goes to the daemon trace (debug flag
// on) and names the message's refusal in the message log.
void refuseTraced(const char *format, ...) TQ_PRINTF(1, 2);
void refuseTraced(const char *format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (tqDebug)
        DebugTrace("%s", line);
    size_t length = std::strlen(line);
    while (length > 0 && line[length - 1] == '\n')
        line[--length] = '\0';
    refuseMessage("%s", line);
}

const char *shown(const char *text)
{
    return text != nullptr ? text : "(null)";
}

// True when text is present and has at most max characters.
bool fitsText(const char *text, int max)
{
    return text != nullptr && std::strlen(text) <= static_cast<size_t>(max);
}

// Drops what has been collected of the current split list and the parts of
// it still to come.
void abandonSplitList()
{
    g_lists.clear();
    g_discarding = true;
    g_listOpen = false;
}

// ---- first messages: the leading fields, the list length and the flag ------------

struct FirstMessage {
    int fieldsLength = 0;        // S: bytes of the leading fields
    int32_t listLength = 0;      // N
    char *listPart = nullptr;    // N bytes, then the ending flag
    int flag = 0;
    const char *identity[2] = {nullptr, nullptr};   // protocol and name of the graph
};

enum class FirstKind { Graph, ContentId };

// Reads a graph (eleven leading fields) or content-ID message (two) and checks
// every length against the message: the fields, the 2,000-byte pending area,
// the graph's protocol and name, the list part and the flag. False, with a
// trace line, when the message must be dropped.
bool readFirstMessage(char *data, int length, FirstKind kind, FirstMessage &msg)
{
    const bool graph = kind == FirstKind::Graph;
    const char *handler = graph ? "processGraphMsg" : "processContentIDMsg";
    const int fieldCount = graph ? 11 : 2;
    // positions of the graph's protocol and name among the leading fields
    const int protocolField = graph ? 3 : 0;
    const int nameField = graph ? 4 : 1;

    const int total = length > 0 ? length : 0;
    long size = 0;
    for (int i = 0; i < fieldCount; ++i) {
        const long left = total - size;
        if (left < 4) {
            refuseTraced("%s: field %d is cut off by the end of the message, message dropped\n", handler, i + 1);
            return false;
        }
        const int32_t fieldLength = payloadInt(data + size);
        char *text = data + size + 4;
        if (fieldLength < 1 || fieldLength > left - 4 || text[fieldLength - 1] != '\0') {
            refuseTraced("%s: field %d is malformed (length %d, %ld bytes left), message dropped\n", handler,
                         i + 1, fieldLength, left - 4);
            return false;
        }
        if (tqDebug) {
            if (graph)
                DebugTrace("processGraphMsg skip: %s\n", text);
            else
                DebugTrace("processContentIDMsg skip: %s\n", text);
        }
        const bool absent = fieldLength == 1 || std::strcmp(text, "NULL") == 0;
        if (i == protocolField)
            msg.identity[0] = absent ? nullptr : text;
        if (i == nameField)
            msg.identity[1] = absent ? nullptr : text;
        size += fieldLength + 4;
    }
    if (msg.identity[1] != nullptr)
        messageIdentity("name '%.200s'", msg.identity[1]);

    if (total - size < 4) {
        refuseTraced("%s: list length is cut off by the end of the message, message dropped\n", handler);
        return false;
    }
    msg.listLength = payloadInt(data + size);

    const char *protocol = msg.identity[0];
    const char *name = msg.identity[1];
    if (protocol == nullptr || name == nullptr) {
        refuseTraced("%s: graph %s is absent, message dropped\n", handler, protocol == nullptr ? "protocol" : "name");
        return false;
    }
    if (!fitsText(protocol, kGraphProtocolMax)) {
        refuseTraced("%s: graph protocol of %zu characters is longer than %d, message dropped\n", handler,
                     std::strlen(protocol), kGraphProtocolMax);
        return false;
    }
    if (!fitsText(name, kGraphNameMax)) {
        refuseTraced("%s: graph name of %zu characters is longer than %d, message dropped\n", handler,
                     std::strlen(name), kGraphNameMax);
        return false;
    }
    if (size > kPendingFieldsSize) {
        refuseTraced("%s: leading fields of %ld bytes do not fit the %d-byte pending area, message dropped\n",
                     handler, size, static_cast<int>(kPendingFieldsSize));
        return false;
    }
    // the list part and the ending flag that follows it
    const long afterLength = total - size - 4;
    if (msg.listLength < 0 || msg.listLength > afterLength - 1) {
        refuseTraced("%s: list length %d runs past the message (%ld bytes left with the flag), message dropped\n",
                     handler, msg.listLength, afterLength);
        return false;
    }
    msg.fieldsLength = static_cast<int>(size);
    msg.listPart = data + size + 4;
    msg.flag = static_cast<unsigned char>(msg.listPart[msg.listLength]);
    return true;
}

// A new first message starts a new list; records of an unfinished one belong
// to another graph and go.
void startNewList(const char *handler)
{
    const int leftover = g_lists.graphs.size() + g_lists.vertices.size() + g_lists.boxes.size();
    if (leftover > 0 && tqDebug)
        DebugTrace("%s: discarding %d records of an unfinished content list\n", handler, leftover);
    if (g_listOpen && tqDebug)
        DebugTrace("%s: the split content list in progress is abandoned; its remaining parts will be dropped\n",
                   handler);
    g_lists.clear();
    g_discarding = false;
    g_listOpen = false;
}

// A continuation part while no split list is open: dropped.
bool noListOpen(const char *handler)
{
    if (g_listOpen)
        return false;
    refuseTraced("%s: no split content list is open, part dropped\n", handler);
    return true;
}

void commitPending(const char *fields, int size)
{
    std::memcpy(g_pending.bytes, fields, static_cast<size_t>(size));
    g_pending.length = size;
}

// Builds the list part of a first message (N bytes and the flag). On a
// refused list the message is dropped: nothing stays of the list.
bool buildFirstList(const FirstMessage &msg, const char *handler)
{
    if (BuildCTIDLinkedList(msg.listPart, msg.listLength + 1))
        return true;
    refuseTraced("%s: content list refused, message dropped\n", handler);
    abandonSplitList();
    return false;
}

// The graph identity held in the pending fields: their first two texts.
bool graphRefFromPending(GraphRef &graph, const char *handler)
{
    FieldReader reader(g_pending.bytes, g_pending.length);
    const char *protocol = reader.str();
    const char *name = reader.ok() ? reader.str() : nullptr;
    if (!reader.ok()) {
        refuseTraced("%s: no graph identity is pending, list dropped\n", handler);
        return false;
    }
    if (!fitsText(protocol, kGraphProtocolMax) || !fitsText(name, kGraphNameMax)) {
        refuseTraced("%s: pending graph protocol or name is absent or too long, list dropped\n", handler);
        return false;
    }
    graph = GraphRef{};
    std::memcpy(graph.graph_protocol, protocol, std::strlen(protocol) + 1);
    if (tqDebug)
        DebugTrace("Struct graph_protocol=%s\n", graph.graph_protocol);
    std::memcpy(graph.graph_name, name, std::strlen(name) + 1);
    if (tqDebug)
        DebugTrace("Struct graph_name=%s\n", graph.graph_name);
    return true;
}

int layoutNumber(const char *text)
{
    static const char *const texts[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9"};
    if (text != nullptr)
        for (int i = 0; i < 9; ++i)
            if (std::strcmp(text, texts[i]) == 0)
                return i + 1;
    if (tqDebug)
        DebugTrace("layout %s is not 1 to 9, layout 0 used\n", shown(text));
    return 0;
}

// Continuation data: the list part with the ending flag as its last byte.
// Returns the flag, or -1 (and drops the split list) when there is none.
int continuationFlag(const char *data, int length, const char *handler)
{
    if (data == nullptr || length < 1) {
        refuseTraced("%s: no ending flag, message dropped\n", handler);
        abandonSplitList();
        return -1;
    }
    return static_cast<unsigned char>(data[length - 1]);
}

// While a refused part is being skipped, every further part is dropped; the
// last part ends the skipping.
bool skippingRefusedList(int flag, const char *handler)
{
    if (!g_discarding)
        return false;
    refuseTraced("%s: an earlier part of this content list was refused, part dropped\n", handler);
    if (flag == 1)
        g_discarding = false;
    return true;
}

}  // namespace

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

ContentIdLists &contentIdLists()
{
    return g_lists;
}

const PendingGraphFields &pendingGraphFields()
{
    return g_pending;
}

void resetGraphStateForTests()
{
    g_lists.clear();
    g_pending.length = 0;
    g_discarding = false;
    g_listOpen = false;
}

namespace {

// The state as it was before the message in hand. The record lists are
// copied only while a split list is being collected.
struct SavedContentState {
    std::vector<std::pair<std::string, std::string>> records[3];
    PendingGraphFields pending{};
    bool discarding = false;
    bool listOpen = false;
};
SavedContentState g_saved;

ContentIdChain *chainOf(int i)
{
    return i == 0 ? &g_lists.graphs : i == 1 ? &g_lists.vertices : &g_lists.boxes;
}

}  // namespace

void saveContentState()
{
    for (int i = 0; i < 3; ++i) {
        g_saved.records[i].clear();
        for (const ContentIdList *r = chainOf(i)->head(); r != nullptr; r = r->next)
            g_saved.records[i].emplace_back(r->protocol, r->name);
    }
    g_saved.pending.length = g_pending.length;
    std::memcpy(g_saved.pending.bytes, g_pending.bytes, static_cast<size_t>(g_pending.length));
    g_saved.discarding = g_discarding;
    g_saved.listOpen = g_listOpen;
}

void restoreContentState()
{
    g_lists.clear();
    for (int i = 0; i < 3; ++i) {
        for (const auto &r : g_saved.records[i])
            chainOf(i)->append(r.first.c_str(), r.second.c_str());
    }
    g_pending.length = g_saved.pending.length;
    std::memcpy(g_pending.bytes, g_saved.pending.bytes, static_cast<size_t>(g_saved.pending.length));
    g_discarding = g_saved.discarding;
    g_listOpen = g_saved.listOpen;
}

// ---- BuildCTIDLinkedList -----------------------------------------------------------

bool BuildCTIDLinkedList(char *data, int length)
{
    if (tqDebug)
        DebugTrace("BuildCTIDLinkedList bufferSize: %d\n", length);
    if (data == nullptr || length < 2)
        return true;

    char *cursor = data;
    const char *end = data + length - 1;   // the ending flag stays unread
    int processed = 0;

    // Reads one payload string of an entry, counting its bytes.
    auto next = [&](char *&text) {
        const int used = extractNextStr(cursor, end, text);
        if (used < 0) {
            refuseTraced("BuildCTIDLinkedList: malformed entry at byte %d, list refused\n", processed);
            return false;
        }
        processed += used;
        if (tqDebug)
            DebugTrace("BuildCTIDLinkedList processedBytes: %d, tmpString: %s\n", processed, shown(text));
        return true;
    };

    while (length - processed >= 2) {
        if (tqDebug)
            DebugTrace("BuildCTIDLinkedList extractNextStr #1\n");
        char *keyword = nullptr;
        if (!next(keyword))
            return false;
        if (keyword == nullptr) {
            refuseTraced("BuildCTIDLinkedList: absent keyword, list refused\n");
            return false;
        }
        ContentIdChain *chain = nullptr;
        if (std::strcmp(keyword, "GetGraphsInGraph") == 0)
            chain = &g_lists.graphs;
        else if (std::strcmp(keyword, "GetVerticesInGraph") == 0)
            chain = &g_lists.vertices;
        else if (std::strcmp(keyword, "GetBoxesInGraph") == 0)
            chain = &g_lists.boxes;
        if (chain == nullptr)
            continue;   // an unknown keyword adds no record; the next string is a keyword

        char *protocol = nullptr;
        char *name = nullptr;
        if (!next(protocol) || !next(name))
            return false;
        if (protocol == nullptr || name == nullptr) {
            refuseTraced("BuildCTIDLinkedList: %s entry with an absent %s, list refused\n", keyword,
                         protocol == nullptr ? "protocol" : "name");
            return false;
        }
        if (!fitsText(protocol, kRecordProtocolMax) || !fitsText(name, kRecordNameMax)) {
            refuseTraced("BuildCTIDLinkedList: %s entry (protocol of %zu, name of %zu characters) does not "
                         "fit its record (at most %d and %d), list refused\n",
                         keyword, std::strlen(protocol), std::strlen(name), static_cast<int>(kRecordProtocolMax),
                         static_cast<int>(kRecordNameMax));
            return false;
        }
        if (!chain->append(protocol, name)) {
            refuseTraced("BuildCTIDLinkedList: out of memory, list refused\n");
            return false;
        }
    }
    return true;
}

// ---- mkCreateGraphInGraph ------------------------------------------------------------

bool mkCreateGraphInGraph(char *fields, int length, GraphRef *graph)
{
    if (tqDebug)
        DebugTrace("mkCreateGraphInGraph getting first parameter\n");

    FieldReader reader(fields, length);
    auto next = [&reader](char *&text) {
        text = reader.str();
        return reader.ok();
    };
    auto malformed = []() {
        refuseTraced("mkCreateGraphInGraph: graph fields are malformed, graph not created\n");
        return false;
    };

    char *moidStr = nullptr, *parentProtocol = nullptr, *parentName = nullptr;
    if (!next(moidStr))
        return malformed();
    if (tqDebug)
        DebugTrace("moidStr=%s\n", shown(moidStr));
    if (!next(parentProtocol))
        return malformed();
    if (tqDebug)
        DebugTrace("parentprotocol=%s\n", shown(parentProtocol));
    if (!next(parentName))
        return malformed();
    if (tqDebug)
        DebugTrace("parentname = %s\n", shown(parentName));

    char *gprotocol = nullptr;
    if (!next(gprotocol))
        return malformed();
    if (!fitsText(gprotocol, kGraphProtocolMax)) {
        refuseTraced("mkCreateGraphInGraph: gprotocol is absent or longer than %d characters, graph not created\n",
                     static_cast<int>(kGraphProtocolMax));
        return false;
    }
    *graph = GraphRef{};
    std::memcpy(graph->graph_protocol, gprotocol, std::strlen(gprotocol) + 1);
    if (tqDebug) {
        DebugTrace("Struct graph_protocol=%s\n", graph->graph_protocol);
        DebugTrace("gprotocol = %s\n", gprotocol);
    }

    char *objName = nullptr;
    if (!next(objName))
        return malformed();
    if (!fitsText(objName, kGraphNameMax)) {
        refuseTraced("mkCreateGraphInGraph: graph name is absent or longer than %d characters, graph not created\n",
                     static_cast<int>(kGraphNameMax));
        return false;
    }
    std::memcpy(graph->graph_name, objName, std::strlen(objName) + 1);
    if (tqDebug) {
        DebugTrace("Struct graph_name=%s\n", graph->graph_name);
        DebugTrace("ObjName = %s\n", objName);
    }

    char *layoutText = nullptr;
    if (!next(layoutText))
        return malformed();
    const int layout = layoutNumber(layoutText);
    if (tqDebug)
        DebugTrace("layout = %s\n", shown(layoutText));

    char *background = nullptr, *icon = nullptr, *label = nullptr, *details = nullptr, *uniqueIdStr = nullptr;
    if (!next(background))
        return malformed();
    if (tqDebug)
        DebugTrace("graphBackground = %s\n", shown(background));
    if (!next(icon))
        return malformed();
    if (tqDebug)
        DebugTrace("icon = %s\n", shown(icon));
    if (!next(label))
        return malformed();
    if (tqDebug)
        DebugTrace("label = %s\n", shown(label));
    if (!next(details))
        return malformed();
    if (tqDebug)
        DebugTrace("graphDetails = %s\n", shown(details));
    // read now, so that a malformed last field stops the message before the map changes
    if (!next(uniqueIdStr))
        return malformed();

    octetString detailsRecord{};
    octetString *detailsArg = nullptr;
    if (details != nullptr) {
        detailsRecord.octetString = details;
        detailsRecord.octetLength = static_cast<int32_t>(std::strlen(details));
        detailsArg = &detailsRecord;
        if (tqDebug) {
            DebugTrace("graphDetails->octetLength: %d\n", detailsRecord.octetLength);
            DebugTrace("graphDetails->octetString: %s\n", detailsRecord.octetString);
        }
    }

    deleteGraphArcs(gprotocol, objName);

    TopologyAdapter *adapter = TopologyAdapter::instance();
    OVwObjectId objId = 0;
    if (parentProtocol != nullptr) {
        objId = adapter->tqotCreateGraphInGraph(parentProtocol, parentName, gprotocol, objName, layout, background,
                                                icon, label, detailsArg);
    } else {
        objId = adapter->tqotCreateRootGraph(gprotocol, objName, layout, background, icon, label, detailsArg);
    }
    int32_t error = adapter->tqotGetError();
    if (parentProtocol == nullptr && error == TQOT_ERR_ROOT_EXISTS) {
        adapter->tqotChangeRootGraphIcon(gprotocol, objName, icon);
        adapter->tqotChangeRootGraphLabel(gprotocol, objName, label);
        error = adapter->tqotGetError();
    }

    // Object 0 is no object: a failed creation writes no field.
    if (error != 0 || objId == 0) {
        if (tqDebug)
            DebugTrace("Cannot create graph (obj name:'%s'): %s!\n", objName, adapter->tqotGetErrorMsg(error));
        reportAdapterFailure(error);
        return true;
    }
    if (tqDebug) {
        DebugTrace("Created graph (obj name:'%s', objId:%d)\n", objName, objId);
        DebugTrace(">>>>>>>>>>>>>>>>>>>  The name of the Object being created is %s\nobjId is %d", objName, objId);
    }

    const char *moidValue = moidStr != nullptr ? moidStr : objName;
    if (tqDebug)
        DebugTrace("\nMoidStr is %s\n", moidValue);
    if (OVwDbSetFieldStringValue(objId, OVwDbFieldNameToFieldId("MoidString"), moidValue) != 0 && tqDebug)
        DebugTrace("******Tqdaemon Error: failed to set value to field %s with reason: %s\n", "MoidString",
                   ovReason());

    if (tqDebug) {
        DebugTrace("uniqueIdStr=%s\n", shown(uniqueIdStr));
        DebugTrace("\nUnique id is %s\n", shown(uniqueIdStr));
    }
    if (uniqueIdStr == nullptr) {
        if (tqDebug)
            DebugTrace("uniqueIdStr is absent, UniqueName not written\n");
    } else if (OVwDbSetFieldStringValue(objId, OVwDbFieldNameToFieldId("UniqueName"), uniqueIdStr) != 0 && tqDebug) {
        std::printf("*****Tqdaemon Error: failed to set value to field: %s with reason: %s\n", "UniqueName",
                    ovReason());
        std::fflush(stdout);
    }

    if (OVwDbSetFieldStringValue(objId, OVwDbFieldNameToFieldId("TQObjectName"), objName) != 0 && tqDebug) {
        std::printf("*****Tqdaemon Error: failed to set value to field: %s with reason: %s\n", "TQObjectName",
                    ovReason());
        std::fflush(stdout);
    }
    return true;
}

// ---- the four handlers ----------------------------------------------------------------

void processGraphMsg(char *data, int length)
{
    if (tqDebug)
        DebugTrace("processGraphMsg bufferSize: %d\n", length);
    FirstMessage msg;
    if (!readFirstMessage(data, length, FirstKind::Graph, msg)) {
        abandonSplitList();
        return;
    }
    if (tqDebug)
        DebugTrace("processGraphMsg memcpy objectinfo: %d\n", msg.fieldsLength);
    // The fields replace the pending ones only once the message is accepted whole.
    PendingGraphFields staged;
    std::memcpy(staged.bytes, data, static_cast<size_t>(msg.fieldsLength));
    staged.length = msg.fieldsLength;
    if (tqDebug) {
        DebugTrace("processGraphMsg memcpy objectinfo done\n");
        DebugTrace("processGraphMsg cid list length: %d\n", msg.listLength);
    }

    // Only a first message with a known ending flag starts a new list; any
    // other leaves the records collected so far as they are.
    if (msg.flag == 1) {
        startNewList("processGraphMsg");
        const bool listRead = msg.listLength > 0;
        if (listRead && !buildFirstList(msg, "processGraphMsg"))
            return;
        commitPending(staged.bytes, staged.length);
        if (tqDebug)
            DebugTrace("processGraphMsg calling mkCreateGraphInGraph\n");
        GraphRef graph{};
        if (mkCreateGraphInGraph(g_pending.bytes, g_pending.length, &graph) && listRead)
            reconcileGraphContents(graph);
        g_lists.clear();
    } else if (msg.flag == 3) {
        if (tqDebug)
            DebugTrace("processGraphMsg calling BuildCTIDLinkedList\n");
        startNewList("processGraphMsg");
        if (!buildFirstList(msg, "processGraphMsg"))
            return;
        commitPending(staged.bytes, staged.length);
        g_listOpen = true;
    } else {
        commitPending(staged.bytes, staged.length);
    }
}

void processContinueGraphMsg(char *data, int length)
{
    const int flag = continuationFlag(data, length, "processContinueGraphMsg");
    if (flag < 0 || skippingRefusedList(flag, "processContinueGraphMsg"))
        return;

    if ((flag == 1 || flag == 3) && noListOpen("processContinueGraphMsg"))
        return;
    if (flag == 1) {
        g_listOpen = false;
        if (!BuildCTIDLinkedList(data, length)) {
            refuseTraced("processContinueGraphMsg: content list refused, message dropped\n");
            g_lists.clear();
            return;
        }
        GraphRef graph{};
        if (mkCreateGraphInGraph(g_pending.bytes, g_pending.length, &graph))
            reconcileGraphContents(graph);
        g_lists.clear();
    } else if (flag == 3) {
        if (!BuildCTIDLinkedList(data, length)) {
            refuseTraced("processContinueGraphMsg: content list refused, message dropped\n");
            abandonSplitList();
        }
    } else {
        refuseTraced("Unknown msg ending flag.\n");
    }
}

void processContentIDMsg(char *data, int length)
{
    if (tqDebug)
        DebugTrace("processContentIDMsg bufferSize: %d\n", length);
    FirstMessage msg;
    if (!readFirstMessage(data, length, FirstKind::ContentId, msg)) {
        abandonSplitList();
        return;
    }
    if (tqDebug)
        DebugTrace("processContentIDMsg memcpy objectinfo: %d\n", msg.fieldsLength);
    PendingGraphFields staged;
    std::memcpy(staged.bytes, data, static_cast<size_t>(msg.fieldsLength));
    staged.length = msg.fieldsLength;
    if (tqDebug) {
        DebugTrace("processContentIDMsg memcpy objectinfo done\n");
        DebugTrace("processContentIDMsg cid list length: %d\n", msg.listLength);
    }

    // Only a first message with a known ending flag starts a new list; any
    // other leaves the records collected so far as they are.
    if (msg.flag == 1) {
        startNewList("processContentIDMsg");
        if (msg.listLength > 0 && !buildFirstList(msg, "processContentIDMsg"))
            return;
        commitPending(staged.bytes, staged.length);
        GraphRef graph{};
        if (graphRefFromPending(graph, "processContentIDMsg"))
            reconcileGraphContents(graph);
        g_lists.clear();
    } else if (msg.flag == 3) {
        if (tqDebug)
            DebugTrace("processContentIDMsg calling BuildCTIDLinkedList\n");
        startNewList("processContentIDMsg");
        if (!buildFirstList(msg, "processContentIDMsg"))
            return;
        commitPending(staged.bytes, staged.length);
        g_listOpen = true;
    } else {
        commitPending(staged.bytes, staged.length);
    }
}

void processContinueContentIDListMsg(char *data, int length)
{
    if (tqDebug)
        DebugTrace("processContinueContentIDListMsg bufferSize: %d\n", length);
    const int flag = continuationFlag(data, length, "processContinueContentIDListMsg");
    if (flag < 0 || skippingRefusedList(flag, "processContinueContentIDListMsg"))
        return;

    if (flag == 1 || flag == 3) {
        if (noListOpen("processContinueContentIDListMsg"))
            return;
        if (flag == 1)
            g_listOpen = false;
        if (tqDebug)
            DebugTrace("processContinueContentIDListMsg calling BuildCTIDLinkedList\n");
        if (!BuildCTIDLinkedList(data, length)) {
            refuseTraced("processContinueContentIDListMsg: content list refused, message dropped\n");
            if (flag == 1)
                g_lists.clear();
            else
                abandonSplitList();
            return;
        }
        if (flag == 1) {
            GraphRef graph{};
            if (graphRefFromPending(graph, "processContinueContentIDListMsg"))
                reconcileGraphContents(graph);
            g_lists.clear();
        }
    } else {
        refuseTraced("Unknown msg ending flag.\n");
    }
}
