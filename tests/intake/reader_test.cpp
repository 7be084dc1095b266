// The message reader: acknowledgements, payload kinds, the ends of the
// stream, and frames whose lengths break the frame layout.
#include "frames.h"
#include "intake_fixture.h"
#include "log/runstats.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

namespace {

using tqtest::apiFrame;
using tqtest::le32;
using tqtest::typeFrame;

class Reader : public tqtest::IntakeFixture {};

TEST_F(Reader, AcknowledgesOtherTypesOnceAndApiMessagesTwice)
{
    openStream(typeFrame(127) + typeFrame(5) + apiFrame(9, "abc") + typeFrame(-2));

    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 1);
    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 1);
    // The second acknowledgement waits until the message's turn is stored.
    EXPECT_EQ(readOne(false), kNoExit);
    EXPECT_EQ(acks(), 1);
    endpoint_.turnStored();
    EXPECT_EQ(acks(), 1);
    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 1);

    std::string trace = daemonTrace();
    EXPECT_EQ(count(trace, "msgType: 127\n"), 1);
    EXPECT_EQ(count(trace, "msgType: 5\n"), 1);
    EXPECT_EQ(count(trace, "msgType: -2\n"), 1);
    EXPECT_EQ(count(trace, "Unknown MesgType!\n"), 2);
    EXPECT_EQ(count(trace, "msgType: 3\n"), 1);
    EXPECT_EQ(count(trace, "Length string: 4\n"), 1);
    EXPECT_EQ(count(trace, "msgpropLength: 4\n"), 1);
    EXPECT_EQ(count(trace, "dyn_recvMsg received 1: msgLength: 3\n"), 1);
    EXPECT_EQ(count(trace, "Message Type is not API Msg\n"), 1);
    EXPECT_EQ(count(trace, "\t\tRETURN\n"), 3);

    // The end of the stream ends the daemon with code 0, the stream closed.
    EXPECT_EQ(readOne(), 0);
    EXPECT_EQ(acks(), 0);
    EXPECT_EQ(tqMessageStream, nullptr);
    EXPECT_EQ(count(messageLog(), "tqdaemon.exe: Ending tqdaemon.exe\n"), 1);
}

TEST_F(Reader, TracesNothingWithTheDebugFlagClear)
{
    tqDebug = 0;
    openStream(typeFrame(5) + apiFrame(9, "abc"));
    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 3);
    EXPECT_EQ(daemonTrace(), "");
}

TEST_F(Reader, HeaderTextGivesThePayloadBufferSize)
{
    // "12" announces twelve bytes: a payload of twelve fits and is handed on.
    openStream(apiFrame(9, std::string(11, 'p'), "12") + apiFrame(9, "", "x7") + apiFrame(9, "zz", "3 trailing"));
    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 2);
    EXPECT_EQ(count(daemonTrace(), "msgpropLength: 12\n"), 1);
    EXPECT_EQ(count(daemonTrace(), "Message Type is not API Msg\n"), 1);

    // No leading digit: a buffer of 0 bytes, so even a one-byte payload is too long.
    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 2);
    EXPECT_EQ(count(daemonTrace(), "msgpropLength: 0\n"), 1);
    EXPECT_EQ(count(daemonTrace(), "Message Type is not API Msg\n"), 1);
    EXPECT_NE(messageLog().find("payload length 1 is above the announced size 0"), std::string::npos);

    // Leading digits only.
    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 2);
    EXPECT_EQ(count(daemonTrace(), "msgpropLength: 3\n"), 1);
    EXPECT_EQ(count(daemonTrace(), "Message Type is not API Msg\n"), 2);
}

TEST_F(Reader, AStreamThatEndsInsideAFrameEndsTheDaemonWithCodeZeroAndOneLine)
{
    struct Case {
        const char *what;
        std::string bytes;
        int acksBeforeEnd;
        const char *line;   // null: a clean end, no line
    };
    std::string api = apiFrame(9, "abcdef");
    const std::string apiHead = le32(4) + std::string("\x03" "12\0", 4);
    const Case cases[] = {
        {"empty stream", "", 0, nullptr},
        {"stray bytes", std::string("\x01\x00", 2), 0,
         "Frame at byte 0 ends the stream: 2 stray bytes where a header length belongs (frame 1, 2 bytes left unread)"},
        {"header length 0", le32(0) + "\x7f", 0,
         "Frame at byte 0 ends the stream: header length 0 (frame 1, 5 bytes left unread)"},
        {"header cut short", le32(8) + "\x03" "12", 0,
         "Frame at byte 0 ends the stream: the frame is cut short in its header (frame 1, 7 bytes left unread)"},
        {"payload length missing", apiHead, 1,
         "Frame at byte 0 ends the stream: the frame is cut short before its payload length (frame 1, 8 bytes"},
        {"payload length 0", apiHead + le32(0), 1,
         "Frame at byte 0 ends the stream: payload length 0 (frame 1, 12 bytes left unread)"},
        {"payload cut short", api.substr(0, api.size() - 2), 1,
         "ends the stream: the frame is cut short in its payload (frame 1, "},
        {"after a whole frame", typeFrame(127) + "\x05", 1,
         "Frame at byte 5 ends the stream: 1 stray bytes where a header length belongs (frame 2, 1 bytes"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::remove(root_.file("usr/ov/log/tqdaemon.log").c_str());
        runStats() = RunStats{};
        openStream(c.bytes);
        int code = readOne();
        if (code == kNoExit)
            code = readOne();
        EXPECT_EQ(code, 0);
        EXPECT_EQ(acks(), c.acksBeforeEnd);
        EXPECT_EQ(tqMessageStream, nullptr);
        const std::string log = messageLog();
        EXPECT_EQ(count(log, "Ending tqdaemon.exe\n"), 1);
        EXPECT_EQ(count(log, "ends the stream"), c.line != nullptr ? 1 : 0) << log;
        if (c.line != nullptr) {
            EXPECT_EQ(count(log, c.line), 1) << log;
        }
    }
    EXPECT_EQ(count(daemonTrace(), "Message Type is not API Msg"), 0);
}

TEST_F(Reader, AStreamFileReplacedOrCutWhileItIsReadEndsTheRun)
{
    const std::string path = root_.file("tqdaemon.file");
    for (const bool replace : {true, false}) {
        SCOPED_TRACE(replace ? "replaced" : "cut");
        std::remove(root_.file("usr/ov/log/tqdaemon.log").c_str());
        runStats() = RunStats{};
        openStream(typeFrame(127) + typeFrame(127) + typeFrame(127));
        setStreamPath(path);
        EXPECT_EQ(readOne(), kNoExit);
        EXPECT_EQ(readOne(), kNoExit);
        if (replace) {
            // A writer that makes the stream anew: another file at the path.
            std::remove(path.c_str());
            tqtest::writeFile(path, typeFrame(127) + typeFrame(127) + typeFrame(127) + typeFrame(127));
        } else {
            ASSERT_EQ(::truncate(path.c_str(), 3), 0);
        }
        EXPECT_EQ(readOne(), 0);
        EXPECT_EQ(acks(), 2);
        const std::string log = messageLog();
        EXPECT_EQ(count(log, "stream replaced at frame 3, offset 10\n"), 1) << log;
        EXPECT_EQ(count(log, "ends the stream"), 0) << log;
        setStreamPath("");
    }
}

TEST_F(Reader, MissingStreamEndsTheDaemon)
{
    ASSERT_EQ(tqMessageStream, nullptr);
    EXPECT_EQ(readOne(), 0);
    EXPECT_EQ(acks(), 0);
    EXPECT_EQ(count(messageLog(), "Ending tqdaemon.exe"), 1);
}

TEST_F(Reader, OversizedHeaderIsSkippedWholeAndTheNextFrameRead)
{
    std::string bigAckOnly = le32(300) + "\x7f" + std::string(299, 'h');
    std::string header = std::string("\x03" "5\0", 3) + std::string(297, 'h');
    std::string bigApi = le32(300) + header + le32(5) + std::string("\x09" "abcd", 5);
    openStream(bigAckOnly + typeFrame(127) + bigApi + apiFrame(9, "ok"));

    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 1);
    EXPECT_NE(messageLog().find("tqdaemon.exe: Frame at byte 0 skipped: header length 300 is above 260\n"),
              std::string::npos);
    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 1);

    // An API frame with an oversized header: both acknowledgements, no dispatch.
    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 2);
    size_t at = bigAckOnly.size() + 5;
    EXPECT_NE(messageLog().find("Frame at byte " + std::to_string(at) + " skipped: header length 300"),
              std::string::npos);
    EXPECT_EQ(count(daemonTrace(), "Message Type is not API Msg\n"), 0);

    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 2);
    EXPECT_EQ(count(daemonTrace(), "Message Type is not API Msg\n"), 1);
    EXPECT_EQ(readOne(), 0);
}

TEST_F(Reader, PayloadLongerThanAnnouncedIsSkipped)
{
    std::string oversized = apiFrame(9, std::string(20, 'p'), "4");
    openStream(typeFrame(127) + oversized + apiFrame(9, "next"));
    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 1);
    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 2);
    EXPECT_NE(messageLog().find("Frame at byte 5 skipped: payload length 21 is above the announced size 4\n"),
              std::string::npos);
    EXPECT_EQ(count(daemonTrace(), "Message Type is not API Msg\n"), 0);
    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 2);
    EXPECT_EQ(count(daemonTrace(), "Message Type is not API Msg\n"), 1);
}

TEST_F(Reader, OnAPipeAFrameThatCannotBeSkippedGetsOneLine)
{
    // A pipe cannot tell how much is left: the oversized header looks
    // skippable until the bytes run out.
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const std::string bytes = le32(300) + std::string(100, 'x');
    ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fds[1]);
    if (tqMessageStream != nullptr)
        std::fclose(tqMessageStream);
    tqMessageStream = ::fdopen(fds[0], "rb");
    ASSERT_NE(tqMessageStream, nullptr);
    EXPECT_EQ(readOne(), 0);
    const std::string log = messageLog();
    EXPECT_EQ(count(log, "Frame at byte 0"), 1) << log;
    EXPECT_EQ(count(log, "Frame at byte 0 ends the stream: header length 300 runs past the end of the stream"), 1);
}

TEST_F(Reader, LengthsBeyondTheLimitOrTheFileEndTheStream)
{
    struct Case {
        const char *what;
        std::string bytes;
        int acksBeforeEnd;
        const char *logged;
    };
    const Case cases[] = {
        {"huge header", le32(0x7fffffff) + std::string(400, 'x'), 0,
         "Frame at byte 0 ends the stream: header length 2147483647 is beyond the 64 MiB limit"},
        {"negative header", le32(-4) + std::string(400, 'x'), 0,
         "Frame at byte 0 ends the stream: header length -4 is negative"},
        {"header past the end", le32(1000) + std::string(400, 'x'), 0,
         "Frame at byte 0 ends the stream: header length 1000 runs past the end of the stream"},
        {"payload past the end", le32(3) + std::string("\x03" "4\0", 3) + le32(5000) + std::string(100, 'p'), 1,
         "Frame at byte 0 ends the stream: payload length 5000 runs past the end of the stream"},
        {"huge payload", le32(11) + std::string("\x03" "200000000\0", 11) + le32(100000000) + "p", 1,
         "Frame at byte 0 ends the stream: payload length 100000000 is beyond the 64 MiB limit"},
        {"negative payload", le32(3) + std::string("\x03" "4\0", 3) + le32(-1) + "p", 1,
         "Frame at byte 0 ends the stream: payload length -1 is negative"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        openStream(c.bytes);
        EXPECT_EQ(readOne(), 0);
        EXPECT_EQ(acks(), c.acksBeforeEnd);
        EXPECT_EQ(count(messageLog(), c.logged), 1);
    }
    EXPECT_EQ(count(messageLog(), "Ending tqdaemon.exe\n"), 6);
    EXPECT_EQ(count(daemonTrace(), "Message Type is not API Msg"), 0);
}

TEST_F(Reader, PipeStreamSkipsOversizedFramesAndTellsTheirPosition)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::string bytes = typeFrame(127) + le32(300) + "\x05" + std::string(299, 'h') + typeFrame(127) +
                        le32(280) + "\x7f" + std::string(50, 'h');
    ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fds[1]);
    tqMessageStream = ::fdopen(fds[0], "rb");
    ASSERT_NE(tqMessageStream, nullptr);

    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 1);
    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 1);
    EXPECT_NE(messageLog().find("Frame at byte 5 skipped: header length 300 is above 260\n"), std::string::npos);
    EXPECT_EQ(readOne(), kNoExit);
    EXPECT_EQ(acks(), 1);
    // A pipe cannot tell its size ahead: the end shows while skipping.
    EXPECT_EQ(readOne(), 0);
    EXPECT_EQ(acks(), 0);
    EXPECT_NE(messageLog().find("Frame at byte 314 ends the stream: header length 280 runs past the end"),
              std::string::npos);
}

}  // namespace
