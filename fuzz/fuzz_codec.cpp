// Fuzz target: the payload field codec (extractNextStr, FieldReader,
// payloadInt, textDup). The input's first byte selects the debug flag (bit 0,
// so the trace formatting of decoded texts runs too) and, with the second,
// the order of FieldReader reads; the rest is the field data, copied into a
// buffer of exactly its size so that any read past it is caught.
#include "fuzz/fuzz_support.h"

#include "log/log.h"
#include "codec/codec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "fuzz_codec: %s\n", what);
    std::abort();
}

int32_t bigEndian(const unsigned char *b)
{
    return static_cast<int32_t>((static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
                                (static_cast<uint32_t>(b[2]) << 8) | static_cast<uint32_t>(b[3]));
}

// Decodes strings one after the other and checks what extractNextStr
// promises about the cursor, the count and the text.
void walkStrings(char *begin, char *end)
{
    char *cursor = begin;
    while (cursor < end) {
        char *before = cursor;
        char *text = reinterpret_cast<char *>(1);
        const int consumed = extractNextStr(cursor, end, text);
        if (consumed < 0) {
            if (cursor != before)
                fail("a rejected string moved the cursor");
            if (text != nullptr)
                fail("a rejected string left a text");
            return;
        }
        if (consumed < 5 || cursor != before + consumed || cursor > end)
            fail("the count disagrees with the cursor");
        const int32_t length = bigEndian(reinterpret_cast<unsigned char *>(before));
        if (length != consumed - 4 || before[3 + length] != '\0')
            fail("the count disagrees with the length word");
        if (text != nullptr) {
            if (text != before + 4)
                fail("the text is not in place");
            if (length == 1 || std::strcmp(text, "NULL") == 0)
                fail("an absent string yielded a text");
            std::unique_ptr<char, decltype(&std::free)> copy(textDup(text), &std::free);
            if (!copy || std::strcmp(copy.get(), text) != 0)
                fail("textDup differs from its source");
        } else if (length != 1 && std::strcmp(before + 4, "NULL") != 0) {
            fail("a present string yielded null");
        }
    }
}

// Reads fields in an order taken from the selector bits and checks that the
// reader never leaves its buffer and stays failed once it failed.
void readFields(char *begin, char *end, unsigned selector)
{
    FieldReader reader(begin, static_cast<int>(end - begin));
    bool failed = false;
    for (int step = 0; step < 64; ++step) {
        const unsigned op = (selector >> ((step % 8) * 2)) & 3u;
        const char *before = reader.cursor();
        if (op == 0 || op == 3) {
            char *text = reader.str();
            if (text != nullptr && (text < begin || text >= end))
                fail("FieldReader::str yielded a text outside the data");
            if (failed && text != nullptr)
                fail("a failed reader yielded a text");
        } else if (op == 1) {
            const int32_t v = reader.integer();
            if (failed && v != 0)
                fail("a failed reader yielded an integer");
            if (reader.ok() && v != bigEndian(reinterpret_cast<const unsigned char *>(before)))
                fail("FieldReader::integer differs from the payload integer");
        } else {
            const int8_t v = reader.byte();
            if (failed && v != 0)
                fail("a failed reader yielded a byte");
        }
        if (failed && reader.ok())
            fail("a failed reader became good again");
        if (reader.cursor() < begin || reader.cursor() > end || reader.remaining() < 0)
            fail("FieldReader left its data");
        failed = !reader.ok();
        if (failed && reader.cursor() != before)
            fail("a failed read moved the cursor");
        if (reader.remaining() == 0 && failed)
            return;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    tqfuzz::setUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    tqfuzz::trimOutputs(4096);
    tqDebug = data[0] & 1;
    const unsigned selector = (static_cast<unsigned>(data[0]) >> 1) | (static_cast<unsigned>(data[1]) << 7);

    const size_t n = size - 2;
    std::unique_ptr<char[]> buffer(new char[n == 0 ? 1 : n]);
    if (n != 0)
        std::memcpy(buffer.get(), data + 2, n);
    char *begin = buffer.get();
    char *end = begin + n;

    for (size_t i = 0; i + 4 <= n; ++i) {
        if (payloadInt(begin + i) != bigEndian(reinterpret_cast<unsigned char *>(begin + i)))
            fail("payloadInt is not the big-endian value");
    }
    walkStrings(begin, end);
    readFields(begin, end, selector);
    tqDebug = 0;
    return 0;
}
