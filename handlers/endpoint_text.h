// Helpers shared by the vertex, arc and status handlers: endpoint texts of the
// two arc messages, the decimal conversions, the protocol and binding checks,
// and the outcome of a failed adapter call.
#ifndef TQ_HANDLERS_ENDPOINT_TEXT_H
#define TQ_HANDLERS_ENDPOINT_TEXT_H

#include "log/log.h"

#include <cstddef>
#include <cstdint>

// Protocol name that marks a graph endpoint in the arc status message and
// names graphs in the icon and label messages.
extern const char *const kGraphProtocolName;

// Leading decimal integer of a text: leading white space skipped, an optional
// sign, the digits up to the first other character; 0 without digits or for
// null. Values outside the 32-bit range are clamped to it.
int32_t leadingInt(const char *text);

// Vertex protocol texts accepted by the vertex message ("1".."6", "99") and
// by the arc message's vertex endpoints ("1".."5", "99"); -1 otherwise.
int32_t vertexMsgProtocol(const char *text);
int32_t arcEndpointVertexProtocol(const char *text);

// Name-binding text "0".."7" to its number; -1 otherwise.
int32_t bindingFromText(const char *text);

// Splitting an endpoint text at its first ':' into two caller buffers.
enum class SplitResult { Ok, WholeTooLong, NoColon, FirstTooLong, SecondTooLong };

// wholeMax is the longest whole text accepted (in characters); firstSize and
// secondSize are the buffer sizes, NUL included. Nothing is written on failure
// except possibly a truncated prefix never used by the caller; no text is cut.
SplitResult splitEndpointText(const char *text, size_t wholeMax, char *first, size_t firstSize,
                              char *second, size_t secondSize);

// Short reason text for a failed split ("has no ':'", ...).
const char *splitFailureText(SplitResult result);

// The name binding whose endpoint reading agrees with the endpoint kinds:
// 4 graph/graph, 5 graph/vertex, 6 vertex/graph, 7 vertex/vertex.
int32_t bindingForKinds(bool aIsGraph, bool zIsGraph);
const char *endpointKindName(bool isGraph);

// An adapter call that failed with this code: the adapter's own refusals
// (no map, bad names, missing graph, endpoint or object, bad binding, no
// symbol to change) refuse the message, any other code fails it; the line
// gives the code's text.
void reportAdapterFailure(int32_t code);

#endif
