#include "codec/codec.h"

#include "log/log.h"

#include <cstdlib>
#include <cstring>

int32_t payloadInt(const char *p)
{
    const auto *b = reinterpret_cast<const unsigned char *>(p);
    uint32_t v = (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
                 (static_cast<uint32_t>(b[2]) << 8) | static_cast<uint32_t>(b[3]);
    return static_cast<int32_t>(v);
}

int extractNextStr(char *&cursor, const char *end, char *&out)
{
    out = nullptr;
    if (cursor == nullptr || end == nullptr || end - cursor < 4) {
        if (tqDebug)
            DebugTrace("extractNextStr: fewer than 4 bytes left for a string length\n");
        return -1;
    }
    const int32_t length = payloadInt(cursor);
    if (tqDebug)
        DebugTrace("extractNextStr strLength: %d\n", length);

    char *text = cursor + 4;
    const long left = static_cast<long>(end - text);
    if (length < 1) {
        if (tqDebug)
            DebugTrace("extractNextStr: string length %d is below 1\n", length);
        return -1;
    }
    if (length > left) {
        if (tqDebug)
            DebugTrace("extractNextStr: string length %d runs past the payload (%ld bytes left)\n",
                       length, left);
        return -1;
    }
    if (text[length - 1] != '\0') {
        if (tqDebug)
            DebugTrace("extractNextStr: string of length %d does not end in NUL\n", length);
        return -1;
    }

    if (length == 1) {
        cursor = text + 1;
        return 5;
    }
    if (tqDebug)
        DebugTrace("extractNextStr string: %s\n", text);
    if (std::strcmp(text, "NULL") != 0)
        out = text;
    cursor = text + length;
    return length + 4;
}

char *textDup(const char *text)
{
    if (text == nullptr)
        return nullptr;
    const size_t n = std::strlen(text) + 1;
    auto *copy = static_cast<char *>(std::malloc(n));
    if (copy != nullptr)
        std::memcpy(copy, text, n);
    return copy;
}

char *FieldReader::str()
{
    if (!ok_)
        return nullptr;
    char *text = nullptr;
    if (extractNextStr(cur_, end_, text) < 0) {
        ok_ = false;
        return nullptr;
    }
    return text;
}

int32_t FieldReader::integer()
{
    if (!ok_)
        return 0;
    if (end_ - cur_ < 4) {
        if (tqDebug)
            DebugTrace("FieldReader: fewer than 4 bytes left for an integer\n");
        ok_ = false;
        return 0;
    }
    const int32_t v = payloadInt(cur_);
    cur_ += 4;
    return v;
}

int8_t FieldReader::byte()
{
    if (!ok_)
        return 0;
    if (end_ - cur_ < 1) {
        if (tqDebug)
            DebugTrace("FieldReader: no byte left\n");
        ok_ = false;
        return 0;
    }
    const auto v = static_cast<int8_t>(*cur_);
    cur_ += 1;
    return v;
}
