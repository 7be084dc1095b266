// The message log and the two trace writers: exact entry formats.
#include "log/log.h"

#include "support/process_state.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using tqtest::fileExists;
using tqtest::readFile;
using tqtest::splitLines;

const char kStamp[] = R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d)";
const char kTime[] = R"(\[(Mon|Tue|Wed|Thu|Fri|Sat|Sun) (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [ 0-3]\d \d\d:\d\d:\d\d \d{4}\]\t)";

bool matches(const std::string &line, const std::string &pattern)
{
    return std::regex_match(line, std::regex(pattern));
}

// Escapes a literal for a regular expression.
std::string lit(const std::string &text)
{
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    return std::regex_replace(text, special, R"(\$&)");
}

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char *drive = std::getenv("TQ_DRIVE");
        hadDrive_ = drive != nullptr;
        if (hadDrive_)
            oldDrive_ = drive;
        unsetenv("TQ_DRIVE");
        resetLogState();
    }
    void TearDown() override
    {
        if (hadDrive_)
            setenv("TQ_DRIVE", oldDrive_.c_str(), 1);
        else
            unsetenv("TQ_DRIVE");
        unsetenv("TQ_TRACE_LIMIT");
        unsetenv("TQ_LOG_LIMIT");
        resetLogState();
        // Clear a pending MISSING mark so later tests start clean.
        AdapterTrace("%s", "reset");
        resetLogState();
    }

    std::string logPath() const { return root_.file("usr/ov/log/tqdaemon.log"); }
    std::string stdTrace() const { return readFile(root_.file("tq_std.trc")); }
    std::vector<std::string> adapterLines() const { return splitLines(readFile(root_.file("tq_n2o.trc"))); }

    tqtest::TempRoot root_;
    bool hadDrive_ = false;
    std::string oldDrive_;
};

TEST_F(LogTest, MessageLogWritesHeaderOncePerFileThenEntries)
{
    MessageLog("Starting tqdaemon.exe");
    MessageLog("Port: 50%d stays %s text");
    std::vector<std::string> lines = splitLines(readFile(logPath()));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Quillon - tqdaemon Message Log");
    EXPECT_TRUE(matches(lines[1], std::string(kStamp) + ": tqdaemon\\.exe: Starting tqdaemon\\.exe")) << lines[1];
    // The text is written unchanged, not used as a format.
    EXPECT_TRUE(matches(lines[2], std::string(kStamp) + lit(": tqdaemon.exe: Port: 50%d stays %s text"))) << lines[2];

    // Removed while running: the next entry starts a new file with a new header.
    ASSERT_EQ(unlink(logPath().c_str()), 0);
    MessageLog("Ending tqdaemon.exe");
    lines = splitLines(readFile(logPath()));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Quillon - tqdaemon Message Log");
    EXPECT_TRUE(matches(lines[1], std::string(kStamp) + ": tqdaemon\\.exe: Ending tqdaemon\\.exe"));
}

TEST_F(LogTest, LogDirectoryFollowsTqDrive)
{
    char dir[260];
    getLogDirectory(dir, sizeof dir);
    EXPECT_STREQ(dir, "C:\\usr\\ov\\log\\");
    char small[5];
    getLogDirectory(small, sizeof small);
    EXPECT_STREQ(small, "C:\\u");

    // Resolved once: a later change of TQ_DRIVE is not seen until reset.
    setenv("TQ_DRIVE", "D:", 1);
    getLogDirectory(dir, sizeof dir);
    EXPECT_STREQ(dir, "C:\\usr\\ov\\log\\");
    resetLogState();
    getLogDirectory(dir, sizeof dir);
    EXPECT_STREQ(dir, "D:\\usr\\ov\\log\\");
    MessageLog("on D");
    EXPECT_NE(readFile(logPath()).find("on D"), std::string::npos);

    // An absolute host path is taken as it is.
    std::string elsewhere = root_.file("elsewhere");
    setenv("TQ_DRIVE", elsewhere.c_str(), 1);
    resetLogState();
    MessageLog("moved");
    std::string moved = readFile(elsewhere + "/usr/ov/log/tqdaemon.log");
    EXPECT_EQ(splitLines(moved).size(), 2u);
    EXPECT_NE(moved.find("moved"), std::string::npos);
}

TEST_F(LogTest, RelativeTqDriveIsRefusedWithALogLine)
{
    // A relative value would put the log under the working directory.
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    ASSERT_EQ(chdir(root_.path().c_str()), 0);
    setenv("TQ_DRIVE", "rel", 1);
    resetLogState();
    MessageLog("first");
    MessageLog("second");
    ASSERT_EQ(chdir(here), 0);
    EXPECT_FALSE(tqtest::fileExists(root_.file("rel/usr/ov/log/tqdaemon.log")));
    std::vector<std::string> lines = splitLines(readFile(logPath()));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[1].find("TQ_DRIVE 'rel' is neither a drive nor an absolute path: refused, the log is on C:"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find("first"), std::string::npos);
}

TEST_F(LogTest, DaemonTraceEntryFormat)
{
    EXPECT_EQ(DebugTrace("Port: %d", 8010), 0);
    EXPECT_EQ(DebugTrace("msgType: %d\n", 3), 0);
    DebugTrace("%s", "last");
    std::vector<std::string> lines = splitLines(stdTrace());
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(matches(lines[0], std::string(kTime) + "Port: 8010")) << lines[0];
    // A format ending in a line end leaves an empty line after the entry.
    EXPECT_TRUE(matches(lines[1], std::string(kTime) + "msgType: 3")) << lines[1];
    EXPECT_EQ(lines[2], "");
    EXPECT_TRUE(matches(lines[3], std::string(kTime) + "last"));
}

TEST_F(LogTest, LongEntriesAreWrittenWhole)
{
    std::string longText(5000, 'x');
    longText += "END";
    DebugTrace("%s|%d", longText.c_str(), 7);
    tqTraceDepth = 300;
    AdapterTrace("%s", longText.c_str());
    tqTraceDepth = 0;
    std::vector<std::string> daemon = splitLines(stdTrace());
    ASSERT_EQ(daemon.size(), 1u);
    EXPECT_TRUE(matches(daemon[0], std::string(kTime) + longText + "\\|7"));
    std::vector<std::string> adapter = adapterLines();
    ASSERT_EQ(adapter.size(), 1u);
    EXPECT_TRUE(matches(adapter[0], std::string(kTime) + std::string(300, ' ') + longText));
}

TEST_F(LogTest, AdapterTraceIndentsByDepth)
{
    AdapterTrace("%s(%d): enter", "tqotInit", 12);
    tqTraceDepth = 6;
    AdapterTrace("%s(%d): exit", "synchWithMap", 40);
    std::vector<std::string> lines = adapterLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(matches(lines[0], std::string(kTime) + lit("tqotInit(12): enter"))) << lines[0];
    EXPECT_TRUE(matches(lines[1], std::string(kTime) + "      " + lit("synchWithMap(40): exit"))) << lines[1];
}

TEST_F(LogTest, LostAdapterEntryMarksTheNextWrittenOne)
{
    std::string trace = root_.file("tq_n2o.trc");
    // A directory in the file's place makes every open fail.
    ASSERT_EQ(mkdir(trace.c_str(), 0755), 0);
    tqTraceDepth = 3;
    AdapterTrace("%s", "lost one");
    AdapterTrace("%s", "lost two");
    ASSERT_EQ(rmdir(trace.c_str()), 0);
    AdapterTrace("%s", "after loss");
    tqTraceDepth = 10;
    AdapterTrace("%s", "wide field");   // mark already cleared
    std::vector<std::string> lines = adapterLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(matches(lines[0], std::string(kTime) + "MISSINGafter loss")) << lines[0];
    EXPECT_TRUE(matches(lines[1], std::string(kTime) + "          wide field")) << lines[1];

    // At a depth wider than the word, the word is right-aligned in the field.
    ASSERT_EQ(unlink(trace.c_str()), 0);
    ASSERT_EQ(mkdir(trace.c_str(), 0755), 0);
    AdapterTrace("%s", "lost");
    ASSERT_EQ(rmdir(trace.c_str()), 0);
    AdapterTrace("%s", "x");
    lines = adapterLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(matches(lines[0], std::string(kTime) + "   MISSINGx")) << lines[0];
}

TEST_F(LogTest, LostMessageLogEntriesAreCountedAndNamedOnceTheLogCanBeWritten)
{
    const std::string log = root_.file("usr/ov/log/tqdaemon.log");
    MessageLog("before");
    ASSERT_EQ(unlink(log.c_str()), 0);
    ASSERT_EQ(mkdir(log.c_str(), 0755), 0);
    MessageLog("lost one");
    MessageLog("lost two");
    EXPECT_EQ(lostLogEntries(), 2);
    ASSERT_EQ(rmdir(log.c_str()), 0);
    MessageLog("after");
    MessageLog("later");
    const std::vector<std::string> lines = splitLines(readFile(log));
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(matches(lines[1], std::string(kStamp) + ": tqdaemon.exe: 2 log entries were lost")) << lines[1];
    EXPECT_TRUE(matches(lines[2], std::string(kStamp) + ": tqdaemon.exe: after")) << lines[2];
    EXPECT_TRUE(matches(lines[3], std::string(kStamp) + ": tqdaemon.exe: later")) << lines[3];
    EXPECT_EQ(lostLogEntries(), 2);
}

// Scope entries are composed without a format: they must read exactly as
// the formatted entry would, at any depth and after a lost entry.
TEST_F(LogTest, ScopeEntriesReadAsTheFormattedEntry)
{
    const std::string trace = root_.file("tq_n2o.trc");
    // The entries written since the last call, without their time, then gone.
    auto take = [&] {
        std::vector<std::string> lines = adapterLines();
        for (std::string &line : lines)
            line = line.substr(line.find("]\t") + 2);
        std::remove(trace.c_str());
        return lines;
    };
    auto loseOne = [&] {
        // A directory in the file's place makes the open fail.
        EXPECT_EQ(mkdir(trace.c_str(), 0755), 0);
        AdapterTrace("%s", "lost");
        EXPECT_EQ(rmdir(trace.c_str()), 0);
    };
    for (int depth : {0, 3, 9}) {
        tqTraceDepth = depth;
        adapterTraceEdge("createVertex", 87, true);
        AdapterTrace("%s(%d): enter", "createVertex", 87);
        adapterTraceEdge("tqotDone", -4, false);
        AdapterTrace("%s(%d): exit", "tqotDone", -4);
        std::vector<std::string> lines = take();
        ASSERT_EQ(lines.size(), 4u) << "depth " << depth;
        EXPECT_EQ(lines[0], std::string(static_cast<size_t>(depth), ' ') + "createVertex(87): enter");
        EXPECT_EQ(lines[0], lines[1]);
        EXPECT_EQ(lines[2], lines[3]);

        loseOne();
        adapterTraceEdge("afterLoss", 1, true);
        std::vector<std::string> edge = take();
        loseOne();
        AdapterTrace("%s(%d): enter", "afterLoss", 1);
        std::vector<std::string> formatted = take();
        ASSERT_EQ(edge.size(), 1u);
        EXPECT_EQ(edge, formatted);
        EXPECT_NE(edge[0].find("MISSINGafterLoss(1): enter"), std::string::npos) << edge[0];
    }
}

TEST_F(LogTest, NegativeDepthIsShownAndCorrectedAsZero)
{
    tqTraceDepth = -6;
    AdapterTrace("%s", "unbalanced");
    EXPECT_EQ(tqTraceDepth, 0);
    {
        TQ_TRACE_SCOPE("outer");
        {
            TQ_TRACE_SCOPE("inner");
        }
    }
    EXPECT_EQ(tqTraceDepth, 0);
    std::vector<std::string> lines = adapterLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_TRUE(matches(lines[0], std::string(kTime) + "unbalanced"));
    EXPECT_TRUE(matches(lines[1], std::string(kTime) + R"(   outer\(\d+\): enter)")) << lines[1];
    EXPECT_TRUE(matches(lines[2], std::string(kTime) + R"(      inner\(\d+\): enter)")) << lines[2];
    EXPECT_TRUE(matches(lines[3], std::string(kTime) + R"(      inner\(\d+\): exit)")) << lines[3];
    EXPECT_TRUE(matches(lines[4], std::string(kTime) + R"(   outer\(\d+\): exit)")) << lines[4];
}

// The message log keeps its history unless TQ_LOG_LIMIT sets a limit: it is
// the operator's record of what was refused. The traces stay bounded.
TEST_F(LogTest, MessageLogKeepsItsHistoryByDefault)
{
    unsetenv("TQ_LOG_LIMIT");
    resetLogState();
    const std::string entry(1 << 20, 'x');
    for (int i = 0; i < 17; ++i)   // past the 16 MiB that once bounded it
        MessageLog(entry.c_str());
    EXPECT_FALSE(fileExists(logPath() + ".1"));
    EXPECT_GT(readFile(logPath()).size(), size_t{17} << 20);
    std::remove(logPath().c_str());
}

// Each file is bounded by its limit: past it, the file becomes <name>.1 between
// entries. The limits come from TQ_TRACE_LIMIT and TQ_LOG_LIMIT (bytes, K, M
// or G; 0 none; an unreadable value keeps the default).
TEST_F(LogTest, FilesRotateBetweenEntriesPastTheirLimit)
{
    struct Case {
        const char *value;
        size_t limit;   // 0: expect no rotation in the bytes written here
    };
    const Case cases[] = {{"700", 700}, {"1K", 1024}, {"1k", 1024}, {"0", 0},
                          {"1M", 0},    {"12Q", 0},   {"-5", 0},    {"", 0}};
    const std::string trace = root_.file("tq_std.trc");
    const std::string adapter = root_.file("tq_n2o.trc");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        setenv("TQ_TRACE_LIMIT", c.value, 1);
        setenv("TQ_LOG_LIMIT", c.value, 1);
        resetLogState();
        for (const std::string &file : {trace, adapter, logPath()}) {
            std::remove(file.c_str());
            std::remove((file + ".1").c_str());
        }
        const int count = 60;   // about 3 KiB in each file
        for (int i = 0; i < count; ++i) {
            DebugTrace("entry %d of the daemon trace", i);
            AdapterTrace("entry %d of the adapter trace", i);
            MessageLog(("entry " + std::to_string(i) + " of the message log").c_str());
        }
        for (const std::string &file : {trace, adapter, logPath()}) {
            const bool isLog = file == logPath();
            std::string current = readFile(file);
            std::string previous = readFile(file + ".1");
            EXPECT_EQ(fileExists(file + ".1"), c.limit != 0) << file;
            if (c.limit == 0) {
                EXPECT_EQ(splitLines(current).size(), count + (isLog ? 1u : 0u)) << file;
                continue;
            }
            EXPECT_LE(current.size(), c.limit) << file;
            EXPECT_LE(previous.size(), c.limit) << file;
            // The rotated one was full: the next entry would not have fitted.
            EXPECT_GT(previous.size() + 70, c.limit) << file;
            // Entries stay whole and in order, ending with the last one.
            std::vector<std::string> lines = splitLines(previous);
            std::vector<std::string> more = splitLines(current);
            if (isLog) {
                ASSERT_FALSE(lines.empty());
                ASSERT_FALSE(more.empty());
                EXPECT_EQ(lines[0], "Quillon - tqdaemon Message Log");
                EXPECT_EQ(more[0], "Quillon - tqdaemon Message Log");
                lines.erase(lines.begin());
                more.erase(more.begin());
            }
            lines.insert(lines.end(), more.begin(), more.end());
            ASSERT_FALSE(lines.empty());
            int first = count - static_cast<int>(lines.size());
            for (size_t i = 0; i < lines.size(); ++i) {
                std::string expected = "entry " + std::to_string(first + static_cast<int>(i)) + " of the ";
                expected = lit(expected) + ".*";
                EXPECT_TRUE(matches(lines[i], (isLog ? std::string(kStamp) + ": tqdaemon\\.exe: " : std::string(kTime)) +
                                                  expected))
                    << file << ": " << lines[i];
            }
        }
    }

    // A file already near its limit at start (an earlier run's) is measured
    // before the first entry goes in.
    const std::string earlier(1000, 'e');
    tqtest::writeFile(trace, earlier);
    std::remove((trace + ".1").c_str());
    setenv("TQ_TRACE_LIMIT", "1K", 1);
    resetLogState();
    DebugTrace("%s", "first of this run");
    EXPECT_EQ(readFile(trace + ".1"), earlier);
    ASSERT_EQ(splitLines(stdTrace()).size(), 1u);
    EXPECT_TRUE(matches(stdTrace(), std::string(kTime) + "first of this run\n"));
}

}  // namespace
