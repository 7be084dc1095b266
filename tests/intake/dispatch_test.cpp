// The API dispatcher: the sub-type table, its trace lines and the data each
// handler receives.
#include "log/log.h"
#include "intake/dispatch.h"
#include "support/process_state.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string pstr(const std::string &text)
{
    const auto n = static_cast<uint32_t>(text.size() + 1);
    std::string out{static_cast<char>(n >> 24), static_cast<char>((n >> 16) & 0xFF),
                    static_cast<char>((n >> 8) & 0xFF), static_cast<char>(n & 0xFF)};
    return out + text + std::string(1, '\0');
}

// Trace entries of tq_std.trc without their time stamps; empty lines dropped.
std::vector<std::string> traceEntries(const tqtest::TempRoot &root)
{
    return tqtest::traceTexts(tqtest::readFile(root.file("tq_std.trc")), true);
}

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override { tqtest::resetProcessState(1); }
    void TearDown() override { tqtest::resetProcessState(); }

    // Dispatches the bytes from an exactly-sized heap block and returns the
    // trace entries it wrote.
    std::vector<std::string> dispatch(const std::string &bytes, int *result = nullptr)
    {
        std::remove(root_.file("tq_std.trc").c_str());
        std::unique_ptr<char[]> buf(new char[bytes.size()]);
        std::memcpy(buf.get(), bytes.data(), bytes.size());
        const int rc = dispatchApiMsg(buf.get(), static_cast<int>(bytes.size()));
        if (result != nullptr)
            *result = rc;
        return traceEntries(root_);
    }

    tqtest::TempRoot root_;
};

TEST_F(Dispatch, EveryKnownSubTypeTracesItsLineBeforeItsHandler)
{
    const struct {
        int subType;
        const char *line;
    } table[] = {
        {1, "processing graph msg"},
        {2, "processing vertex msg"},
        {3, "processing arc msg"},
        {5, "processing vertex status msg"},
        {6, "processing arc status msg"},
        {7, "processing common properties msg"},
        {8, "processing delete graph msg"},
        {9, "processing change icon msg"},
        {10, "processing change label msg"},
        {11, "processing contentID msg"},
    };
    for (const auto &row : table) {
        // The sub-type alone: every handler gets no field bytes and must
        // drop the message without reading outside it.
        int rc = -99;
        const auto lines = dispatch(std::string(1, static_cast<char>(row.subType)), &rc);
        EXPECT_EQ(rc, 0) << row.subType;
        ASSERT_GE(lines.size(), 2u) << row.subType;
        EXPECT_EQ(lines[0], "processing tqot api msg") << row.subType;
        EXPECT_EQ(lines[1], row.line) << row.subType;
        for (size_t i = 2; i < lines.size(); ++i) {
            EXPECT_NE(lines[i], "Unknown API Msg type.") << row.subType;
            EXPECT_EQ(lines[i].rfind("processing ", 0), std::string::npos) << row.subType << ": " << lines[i];
        }
    }
}

TEST_F(Dispatch, HandlerReceivesTheFieldsAfterTheSubTypeAndTheirLength)
{
    // A common properties message: its handler traces every field it decodes,
    // so the first and the last field show that data and length were right.
    std::string msg(1, '\x07');
    const char *fields[] = {"nobody-has-this", "n", "s", "t", "1http://a", "c", "sn", "v", "TRUE", "TRUE", "last"};
    for (const char *f : fields)
        msg += pstr(f);
    int rc = -99;
    const auto lines = dispatch(msg, &rc);
    EXPECT_EQ(rc, 0);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], "processing common properties msg");
    std::vector<std::string> decoded;
    for (const auto &line : lines) {
        EXPECT_EQ(line.find("malformed"), std::string::npos) << line;
        if (line.rfind("common.", 0) == 0)
            decoded.push_back(line);
    }
    ASSERT_EQ(decoded.size(), 11u);
    EXPECT_EQ(decoded.front(), "common.CommonObjName = nobody-has-this");
    EXPECT_EQ(decoded.back(), "common.NodeFlag = last");
}

TEST_F(Dispatch, UnknownSubTypesAreTracedAndIgnored)
{
    const std::vector<std::string> expected = {"processing tqot api msg", "Unknown API Msg type."};
    for (int subType : {0, 4, 12, 13, 127, -1, -128}) {
        int rc = 0;
        // Followed by a well-formed string, which nothing may decode.
        EXPECT_EQ(dispatch(std::string(1, static_cast<char>(subType)) + pstr("x"), &rc), expected) << subType;
        EXPECT_EQ(rc, -1) << subType;
    }
}

TEST_F(Dispatch, EmptyMessageCountsAsUnknown)
{
    const std::vector<std::string> expected = {"processing tqot api msg", "Unknown API Msg type."};
    std::remove(root_.file("tq_std.trc").c_str());
    EXPECT_EQ(dispatchApiMsg(nullptr, 0), -1);
    EXPECT_EQ(traceEntries(root_), expected);

    std::remove(root_.file("tq_std.trc").c_str());
    char byte = 2;
    EXPECT_EQ(dispatchApiMsg(&byte, 0), -1);
    EXPECT_EQ(dispatchApiMsg(&byte, -4), -1);
    EXPECT_EQ(traceEntries(root_).size(), 4u);
}

TEST_F(Dispatch, NothingIsTracedWithoutTheDebugFlag)
{
    tqDebug = 0;
    dispatch(std::string(1, '\x09'));
    dispatch(std::string(1, '\x04'));
    EXPECT_FALSE(tqtest::fileExists(root_.file("tq_std.trc")));
}

}  // namespace
