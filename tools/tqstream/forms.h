// The message forms of the stream, as encode.cpp and decode.cpp share them:
// message types and payload kinds, the field list of every API message
// sub-type, and the byte helpers of both directions.
#ifndef TQ_TOOLS_TQSTREAM_FORMS_H
#define TQ_TOOLS_TQSTREAM_FORMS_H

#include "frames.h"

#include "host/compiler.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tqstream {

constexpr int kApiMsgType = 3;
constexpr int kAckMsgType = 127;
constexpr int kApiKind = 1;
constexpr int kGraphContinueKind = 2;
constexpr int kContentContinueKind = 4;
constexpr int kMaxHeaderLength = 260;

enum class FieldKind {
    Text,      // payload string (JSON string or null)
    Byte,      // one raw byte (JSON integer 0..255)
    Contents,  // payload integer N, then N bytes of content-ID entries
    End,       // the ending flag byte (JSON integer 0..255)
};

struct FieldSpec {
    const char *name;
    FieldKind kind;
};

struct ApiSpec {
    const char *type;
    int subtype;
    std::vector<FieldSpec> fields;
};


// The field list of an API message by its JSON type or its sub-type; null
// when there is none.
const ApiSpec *specByType(const std::string &type);
const ApiSpec *specBySubtype(int subtype);

// The kinds of a content-ID entry and their keywords.
struct ContentKeyword {
    const char *kind;
    const char *keyword;
};
extern const ContentKeyword contentKeywords[3];

// printf into a std::string (at most 511 bytes).
std::string format(const char *fmt, ...) TQ_PRINTF(1, 2);

// 32-bit integers: little-endian (frame lengths) and big-endian (payload integers).
void putLittleEndian(std::string &out, int32_t v);
int32_t littleEndianAt(const std::string &s, size_t pos);
int32_t bigEndianAt(const std::string &s, size_t pos);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates
// or code points past U+10FFFF).
bool validUtf8(const std::string &s);

}  // namespace tqstream

#endif
