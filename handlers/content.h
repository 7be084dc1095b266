// Content-ID records and the state that the graph and content-ID messages keep
// between the parts of a split content list.
#ifndef TQ_HANDLERS_CONTENT_H
#define TQ_HANDLERS_CONTENT_H

#include "handlers/handlers.h"

// One content-ID record: a contained graph, vertex or box.
struct ContentIdList {
    char protocol[50];    // protocol name (graphs, boxes) or decimal protocol number (vertices)
    char name[502];
    ContentIdList *next;  // next record of the same list, null at the end
};

// Longest texts the records and GraphRef hold (their sizes less the NUL).
enum : int {
    kRecordProtocolMax = static_cast<int>(sizeof(ContentIdList::protocol)) - 1,    // 49
    kRecordNameMax = static_cast<int>(sizeof(ContentIdList::name)) - 1,            // 501
    kGraphProtocolMax = static_cast<int>(sizeof(GraphRef::graph_protocol)) - 1,    // 49
    kGraphNameMax = static_cast<int>(sizeof(GraphRef::graph_name)) - 1,            // 499
};

// One record list with head and tail; records in arrival order. Owns them.
class ContentIdChain {
public:
    ContentIdChain() = default;
    ~ContentIdChain() { clear(); }
    ContentIdChain(const ContentIdChain &) = delete;
    ContentIdChain &operator=(const ContentIdChain &) = delete;

    // Appends a record holding copies of the two texts. False, with nothing
    // appended, when a text is null or longer than its record field, or
    // when memory runs out.
    bool append(const char *protocol, const char *name);
    // Frees every record; head and tail become null.
    void clear();

    const ContentIdList *head() const { return head_; }
    const ContentIdList *tail() const { return tail_; }
    bool empty() const { return head_ == nullptr; }
    int size() const { return size_; }

private:
    ContentIdList *head_ = nullptr;
    ContentIdList *tail_ = nullptr;
    int size_ = 0;
};

// The three record lists of the content list being collected, and the
// number of its entries whose keyword is none of the three.
struct ContentIdLists {
    ContentIdChain graphs;
    ContentIdChain vertices;
    ContentIdChain boxes;
    int unknownEntries = 0;

    void clear()
    {
        graphs.clear();
        vertices.clear();
        boxes.clear();
        unknownEntries = 0;
    }
    bool empty() const { return graphs.empty() && vertices.empty() && boxes.empty(); }
    // A list that had entries, none of them known: it names nothing the
    // daemon can read, which is not the same as naming nothing.
    bool unreadable() const { return empty() && unknownEntries > 0; }
};

// The value of a text of decimal digits ("01" is 1). False for an empty
// text, any other character, or a value beyond 32 bits.
bool decimalValue(const char *text, int32_t &value);

// The process-wide record lists (read by the content reconciliation).
ContentIdLists &contentIdLists();

// The leading fields of the last accepted graph or content-ID message.
enum : int { kPendingFieldsSize = 2000 };
struct PendingGraphFields {
    char bytes[kPendingFieldsSize];
    int length;   // bytes in use; 0 until a first message has been accepted
};
const PendingGraphFields &pendingGraphFields();

// Reads content-ID entries from data (the list part followed by the ending
// flag byte, which is left unread) and appends records to the three lists.
// False when an entry is malformed, has an absent text or a text that does
// not fit its record, or a vertex entry's protocol is not a decimal number;
// records appended before the fault stay, and the caller discards the whole
// list.
bool BuildCTIDLinkedList(char *data, int length);

// Decodes the eleven graph fields held in fields[0, length), creates the
// graph (an existing one keeps an icon or label the message leaves absent),
// deletes its arcs and writes its fields. True when the graph is there and
// *graph names it. False, with the message refused or failed, when the
// fields are malformed, a name is absent, too long or cannot be built, the
// parent graph does not exist, an existing graph would get an icon key that
// oid_to_sym lacks, or the creation failed: then the map is as it was
// (a creation that failed in the platform may have left its parts).
bool mkCreateGraphInGraph(char *fields, int length, GraphRef *graph);

// Saves the state kept between graph and content-ID messages before a
// message is dispatched, and puts it back when that message's map changes
// were rolled back and the message is made again.
void saveContentState();
void restoreContentState();

#endif
