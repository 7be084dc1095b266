// Helpers the handlers share: field-value lookups by a string key and the
// endpoint text checks of the arc messages.
#ifndef TQ_HANDLERS_COMMON_H
#define TQ_HANDLERS_COMMON_H

#include "host/compiler.h"
#include "ovw/ovw.h"

// A field-value lookup: the field binding and its string value, built by
// the handler and freed by it, and the object-id list the platform returned.
class StringFieldQuery {
public:
    // Looks up the field id of keyField and lists the objects whose value of
    // that field is the string key (read here only, not kept). list() is
    // null when the lookup failed; the query owns the list.
    StringFieldQuery(const char *keyField, const char *key);
    ~StringFieldQuery();
    StringFieldQuery(const StringFieldQuery &) = delete;
    StringFieldQuery &operator=(const StringFieldQuery &) = delete;

    OVwFieldId fieldId() const { return binding_.field_id; }
    const OVwObjectIdList *list() const { return list_; }
    int count() const { return list_ ? list_->count : 0; }
    OVwObjectId at(int i) const { return list_->object_ids[i]; }   // 0 <= i < count()
    // Why the lookup failed, as the platform said right after it (later
    // calls set the platform error anew).
    const char *reason() const { return OVwErrorMsg(error_); }

private:
    OVwFieldValue value_{};
    OVwFieldBinding binding_{};
    OVwObjectIdList *list_ = nullptr;
    int error_ = 0;
};

// Text of the platform's current error (a static text), for failure lines.
const char *ovReason();

// Exact-text translation of "1".."4" to a status number; -1 when unknown.
int statusFromText(const char *text);

// Where a refusal is told besides its "Frame N: ... refused: <reason>" line
// of the message log. `where` null: nowhere else. Otherwise the debug trace
// (debug flag on) gets "<where>: <reason><traceEnd>", and with messageLog the
// message log gets "<where>: <reason>" before the refusal line.
struct RefusalLines {
    const char *where;
    const char *traceEnd;
    bool messageLog;
};
// No line but the refusal line.
constexpr RefusalLines kRefusalOnly{nullptr, "", false};
// A trace line naming the handler, e.g. "processArcMsg: <reason>, message dropped".
constexpr RefusalLines traced(const char *where, const char *end = ", message dropped")
{
    return RefusalLines{where, end, false};
}
// A trace and a message-log line, e.g. "Arc message dropped: <reason>".
constexpr RefusalLines logged(const char *where) { return RefusalLines{where, "", true}; }

// The handlers' one way to refuse the message in hand (the map stays as it
// was): the reason, formatted, goes to the lines asked for and to the
// refusal line, and the message counts as refused. Failed platform calls go
// to failMessage (log/outcome.h) instead.
void refuse(const RefusalLines &lines, const char *format, ...) TQ_PRINTF(2, 3);

// A field write the platform refused, just now: the message in hand fails
// ("field <name> was not written: <platform reason>").
void failedFieldWrite(const char *fieldName);

// True when text is present and has at most max characters.
bool fitsText(const char *text, int max);

#endif
