// The payload field codec: payload strings and payload integers (big-endian),
// with every length checked against the bytes that are really there.
#ifndef TQ_CODEC_CODEC_H
#define TQ_CODEC_CODEC_H

#include <cstdint>

// Reads the 32-bit big-endian signed integer at p. Does not advance anything;
// the caller guarantees four readable bytes.
int32_t payloadInt(const char *p);

// Decodes the payload string at cursor. Sets out to null first. On success
// stores the text in out (a pointer into the payload, valid as long as the
// payload; null for an absent string: length 1 or the text "NULL"), advances
// the cursor past the string and returns the bytes consumed (length + 4). A
// malformed string (fewer than four bytes left, a length below 1 or past
// `end`, or a text whose last byte is not NUL) returns -1 and leaves the
// cursor where it was (out stays null).
int extractNextStr(char *&cursor, const char *end, char *&out);

// Newly allocated copy of a NUL-terminated text (malloc), null when memory
// runs out. The caller frees it.
char *textDup(const char *text);

// Sequential reader over one message's fields. The first malformed field
// makes ok() false and every later read yields null / 0; the handler then
// drops the message with a trace line.
class FieldReader {
public:
    FieldReader(char *data, int length) : cur_(data), end_(data + (length > 0 ? length : 0)) {}

    // Next payload string: a pointer into the data (null when absent or
    // malformed).
    char *str();
    // Next payload integer (0, and ok() false, when fewer than four bytes remain).
    int32_t integer();
    // Next raw byte (0, and ok() false, when none remains).
    int8_t byte();

    bool ok() const { return ok_; }
    char *cursor() const { return cur_; }
    const char *end() const { return end_; }
    int remaining() const { return static_cast<int>(end_ - cur_); }

private:
    char *cur_;
    const char *end_;
    bool ok_ = true;
};

#endif
