// The payload field codec: payload strings and integers, the bounds checks
// on malformed fields, FieldReader and textDup.
#include "codec/codec.h"
#include "log/log.h"
#include "support/process_state.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string be32(int32_t v)
{
    const auto u = static_cast<uint32_t>(v);
    return {static_cast<char>(u >> 24), static_cast<char>((u >> 16) & 0xFF), static_cast<char>((u >> 8) & 0xFF),
            static_cast<char>(u & 0xFF)};
}

// A payload string: length with the NUL, the text, the NUL.
std::string pstr(const std::string &text)
{
    return be32(static_cast<int32_t>(text.size() + 1)) + text + std::string(1, '\0');
}

// The bytes at the very end of a heap block of exactly their size, so that
// any read past them is an overread the address sanitizer reports.
class ExactBuffer {
public:
    explicit ExactBuffer(const std::string &bytes) : size_(bytes.size()), buf_(new char[bytes.size()])
    {
        std::memcpy(buf_.get(), bytes.data(), bytes.size());
    }
    char *begin() { return buf_.get(); }
    char *end() { return buf_.get() + size_; }
    int size() const { return static_cast<int>(size_); }

private:
    size_t size_;
    std::unique_ptr<char[]> buf_;
};

// Trace entries of tq_std.trc without their time stamps; empty lines dropped.
std::vector<std::string> traceEntries(const tqtest::TempRoot &root)
{
    return tqtest::traceTexts(tqtest::readFile(root.file("tq_std.trc")), true);
}

class Codec : public ::testing::Test {
protected:
    void SetUp() override { resetLogState(); }
    void TearDown() override { resetLogState(); }
    tqtest::TempRoot root_;
};

char sentinel[] = "untouched";

TEST_F(Codec, AbsentStringsYieldNull)
{
    ExactBuffer absent(be32(1) + std::string(1, '\0'));
    char *cursor = absent.begin();
    char *out = sentinel;
    EXPECT_EQ(extractNextStr(cursor, absent.end(), out), 5);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(cursor, absent.end());

    ExactBuffer word(pstr("NULL"));
    cursor = word.begin();
    out = sentinel;
    EXPECT_EQ(extractNextStr(cursor, word.end(), out), 9);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(cursor, word.end());
}

TEST_F(Codec, TextsAreYieldedInPlace)
{
    // The comparison with NULL is case-sensitive.
    ExactBuffer lower(pstr("null"));
    char *cursor = lower.begin();
    char *out = nullptr;
    EXPECT_EQ(extractNextStr(cursor, lower.end(), out), 9);
    EXPECT_EQ(out, lower.begin() + 4);
    EXPECT_STREQ(out, "null");

    ExactBuffer abc(be32(4) + std::string("abc", 4));
    cursor = abc.begin();
    EXPECT_EQ(extractNextStr(cursor, abc.end(), out), 8);
    EXPECT_EQ(out, abc.begin() + 4);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(cursor, abc.end());
}

TEST_F(Codec, PayloadIntegersAreBigEndianAndSigned)
{
    EXPECT_EQ(payloadInt("\x00\x00\x01\x02"), 258);
    EXPECT_EQ(payloadInt("\xFF\xFF\xFF\xFE"), -2);
    EXPECT_EQ(payloadInt("\x80\x00\x00\x00"), INT32_MIN);
    EXPECT_EQ(payloadInt("\x7F\xFF\xFF\xFF"), INT32_MAX);
}

TEST_F(Codec, MalformedStringsAreRefusedWithoutReadingOutside)
{
    tqDebug = 1;  // the trace path must stay inside the buffer too
    const struct {
        const char *what;
        std::string bytes;
    } cases[] = {
        {"length past the end", be32(10) + std::string("abc", 3)},
        {"length one past the end", be32(5) + std::string("abc\0", 4)},
        {"length 0", be32(0) + std::string("abc\0", 4)},
        {"length -5", be32(-5) + std::string("abc\0", 4)},
        {"largest length", be32(INT32_MAX) + std::string("abc\0", 4)},
        {"text without its NUL", be32(3) + std::string("abc", 3)},
        {"length 1 without the NUL", be32(1) + std::string("x", 1)},
        {"three bytes", std::string("\x00\x00\x00", 3)},
        {"one byte", std::string("\x01", 1)},
        {"nothing", std::string()},
        {"length without text", be32(1)},
    };
    for (const auto &c : cases) {
        ExactBuffer buf(c.bytes);
        char *cursor = buf.begin();
        char *out = sentinel;
        EXPECT_EQ(extractNextStr(cursor, buf.end(), out), -1) << c.what;
        EXPECT_EQ(cursor, buf.begin()) << c.what;
        EXPECT_EQ(out, nullptr) << c.what;
    }
}

TEST_F(Codec, StringTracesFollowTheDebugFlag)
{
    ExactBuffer buf(pstr("abc") + be32(1) + std::string(1, '\0'));
    char *cursor = buf.begin();
    char *out = nullptr;
    ASSERT_EQ(extractNextStr(cursor, buf.end(), out), 8);
    EXPECT_FALSE(tqtest::fileExists(root_.file("tq_std.trc")));

    tqDebug = 1;
    cursor = buf.begin();
    ASSERT_EQ(extractNextStr(cursor, buf.end(), out), 8);
    ASSERT_EQ(extractNextStr(cursor, buf.end(), out), 5);
    const std::vector<std::string> expected = {"extractNextStr strLength: 4", "extractNextStr string: abc",
                                               "extractNextStr strLength: 1"};
    EXPECT_EQ(traceEntries(root_), expected);
}

TEST_F(Codec, FieldReaderReadsFieldsInOrder)
{
    ExactBuffer buf(pstr("name") + be32(-7) + std::string("\x02", 1) + be32(1) + std::string(1, '\0'));
    FieldReader r(buf.begin(), buf.size());
    EXPECT_STREQ(r.str(), "name");
    EXPECT_EQ(r.integer(), -7);
    EXPECT_EQ(r.byte(), 2);
    EXPECT_EQ(r.str(), nullptr);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.remaining(), 0);
    EXPECT_EQ(r.cursor(), buf.end());
}

TEST_F(Codec, FieldReaderStopsAtTheFirstMalformedField)
{
    // A good string, one whose length is -5, then bytes that would read as
    // an integer, a byte and a string if reading went on.
    ExactBuffer buf(pstr("a") + be32(-5) + be32(77) + std::string("\x09", 1) + pstr("b"));
    FieldReader r(buf.begin(), buf.size());
    EXPECT_STREQ(r.str(), "a");
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.str(), nullptr);
    EXPECT_FALSE(r.ok());
    EXPECT_EQ(r.integer(), 0);
    EXPECT_EQ(r.byte(), 0);
    EXPECT_EQ(r.str(), nullptr);
    EXPECT_FALSE(r.ok());
}

TEST_F(Codec, FieldReaderIntegerAndByteNeedTheirBytes)
{
    ExactBuffer three(std::string("\x00\x00\x01", 3));
    FieldReader r(three.begin(), three.size());
    EXPECT_EQ(r.integer(), 0);
    EXPECT_FALSE(r.ok());

    ExactBuffer one(std::string("\x05", 1));
    FieldReader b(one.begin(), one.size());
    EXPECT_EQ(b.byte(), 5);
    EXPECT_TRUE(b.ok());
    EXPECT_EQ(b.byte(), 0);
    EXPECT_FALSE(b.ok());

    // A negative length is an empty field area.
    FieldReader neg(one.begin(), -3);
    EXPECT_EQ(neg.remaining(), 0);
    EXPECT_EQ(neg.str(), nullptr);
    EXPECT_FALSE(neg.ok());
}

TEST_F(Codec, TextDupCopies)
{
    char original[] = "device 7";
    char *copy = textDup(original);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, original);
    original[0] = 'X';
    EXPECT_STREQ(copy, "device 7");
    std::free(copy);
    EXPECT_EQ(textDup(nullptr), nullptr);
}

}  // namespace
