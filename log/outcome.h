// The outcome of the message in hand. A message that is refused (malformed,
// bad names, unknown codes) or whose map changes fail gets one message-log
// line naming its frame, its kind, its identity and the reason; the run
// counters learn how every message ended.
#ifndef TQ_LOG_OUTCOME_H
#define TQ_LOG_OUTCOME_H

#include "log/log.h"

// Starts a message of the given kind ("vertex", "arc status", ...).
void beginMessage(const char *kind);

// What names the message in hand: "name 'x'", "unique id 'u'", "arc id 3".
// Used by the refusal or failure line that may follow.
void messageIdentity(const char *format, ...) TQ_PRINTF(1, 2);

// The message in hand is refused, or its map changes failed, for the reason
// given. Only the first outcome of a message is logged and counted.
void refuseMessage(const char *format, ...) TQ_PRINTF(1, 2);
void failMessage(const char *format, ...) TQ_PRINTF(1, 2);

// True when the message in hand was refused or failed.
bool messageRejected();

// Ends the message: one that was neither refused nor failed counts as applied.
void endMessage();

// The run summary line of the message log.
void logRunSummary();

#endif
