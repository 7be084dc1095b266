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

// A part of a message dropped: the line goes to the daemon trace (debug flag
// on) and names the message's refusal in the message log.
void refuseTraced(const char *format, ...) TQ_PRINTF(1, 2);

// True when text is present and has at most max characters.
bool fitsText(const char *text, int max);

#endif
