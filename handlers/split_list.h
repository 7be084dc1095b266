// The split-list assembler: collects the content-ID records of a content list
// that comes in parts (a graph or content-ID message, then continuation
// messages), with the state kept between the parts.
#ifndef TQ_HANDLERS_SPLIT_LIST_H
#define TQ_HANDLERS_SPLIT_LIST_H

#include "handlers/content.h"

#include <string>
#include <utility>
#include <vector>

// The ending flag: the byte after a message's list part.
enum ListEndingFlag : int {
    kListEnds = 1,        // no part of the list follows
    kListContinues = 3,   // more parts follow in continuation messages
};

// Where a message's list part stands in its list.
enum class ListFragment {
    Full,      // a first message whose flag ends the list: the whole list
    First,     // a first message whose list continues
    Middle,    // a continuation followed by more
    Last,      // the continuation that ends the list
    Unknown,   // any other flag
};

// The fragment of a first message (graph or content-ID) with this flag.
ListFragment firstFragment(int flag);
// The fragment of a continuation message with this flag.
ListFragment continuationFragment(int flag);

class SplitListAssembler {
public:
    SplitListAssembler() = default;
    SplitListAssembler(const SplitListAssembler &) = delete;
    SplitListAssembler &operator=(const SplitListAssembler &) = delete;

    // A first message of fragment Full or First (listPart: its N list bytes
    // and the ending flag). Drops an unfinished list, reads the records of
    // the list part (a Full list of no bytes has none), then takes the
    // message's leading fields as the pending ones; a First fragment opens
    // the list for continuation parts. False when the list part was refused:
    // the message is dropped, and so are the remaining parts of its list.
    bool begin(const char *handler, ListFragment fragment, char *listPart, int listLength,
               const PendingGraphFields &fields);
    // A first message with an unknown ending flag: its leading fields become
    // the pending ones; the records stay as they are.
    void keepFields(const PendingGraphFields &fields);

    // Decides on a continuation (data: its list part with the ending flag
    // as the last byte). True with Middle or Last when its records are to be
    // read (append); false when the part is dropped (no flag, a refused
    // earlier part, no list open, an unknown flag), with the refusal traced.
    bool admit(const char *handler, const char *data, int length, ListFragment &fragment);
    // Reads the records of an admitted continuation part. A Last fragment
    // closes the list. False when the part was refused: a Middle fragment
    // abandons the list, a Last one completes it with nothing to reconcile.
    bool append(const char *handler, ListFragment fragment, char *data, int length);
    // The list was applied (or dropped at its end): its records go, and the
    // list is closed.
    void complete();
    // Drops what has been collected of the current list and the parts of it
    // still to come.
    void abandon();

    ContentIdLists &records() { return records_; }
    PendingGraphFields &pending() { return pending_; }

    // Saves the state before a message is dispatched; restore() puts it
    // back when that message is made again.
    void save();
    void restore();
    // Forgets everything (the daemon never calls it).
    void reset();

private:
    // Drops a list in progress (with trace lines) before a new one starts.
    void startNew(const char *handler);

    ContentIdLists records_;
    PendingGraphFields pending_{};
    // Set when a part of the list being received was refused: the records
    // collected so far are gone, so the remaining parts are dropped up to
    // the last one (or the next graph or content-ID message) and nothing
    // reconciles on a partial list.
    bool discarding_ = false;
    // Set while a split list is being received: from its First fragment to
    // its Last. A part that comes while none is open belongs to a list that
    // was abandoned for another, and is dropped.
    bool open_ = false;

    // The state as it was before the message in hand. The record lists are
    // copied only while a split list is being collected.
    struct Saved {
        std::vector<std::pair<std::string, std::string>> records[3];
        PendingGraphFields pending{};
        bool discarding = false;
        bool open = false;
        int unknownEntries = 0;
    };
    Saved saved_;
};

// The process-wide assembler of the graph and content-ID messages: the whole
// of the handlers' process-wide state (the record lists, the pending fields,
// the list's progress and the copy saved before the message in hand). One
// instance; read and written by the main loop's thread alone, through the
// graph and content-ID handlers, the reconciliation and the reader's save
// and restore around each frame. Reset for tests: resetHandlerState()
// (handlers/testing.h).
SplitListAssembler &splitList();

#endif
