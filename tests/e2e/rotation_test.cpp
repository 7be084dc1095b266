// Bounded traces and log end to end: a run whose daemon trace passes its limit
// once leaves tq_std.trc.1 and tq_std.trc that together read as the trace of
// the same run without a limit; every message-log file begins with its header.
#include "support/testsupport.h"
#include "topology_stream.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using tqtest::freePort;

using tqtest::readFile;
using tqtest::splitLines;

using tqtest::logTexts;
using tqtest::traceTexts;

class Rotation : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_.writeServices("TQDAEMON " + std::to_string(freePort()) + "/tcp\n");
        root_.writeOidToSym(readFile(tqtest::sourcePath("examples/oid_to_sym")));
        tqtest::writeFile(root_.file("in.jsonl"), tqcheck::topologyStream(2, 8));
        tqtest::RunResult enc = tqtest::run(
            {tqtest::binPath("tqstream"), "encode", "-i", root_.file("in.jsonl"), "-o", root_.file("tqdaemon.file")});
        ASSERT_EQ(enc.exitCode, 0) << enc.err;
    }

    // One run over the stream on a fresh map, with the given extra settings.
    void runDaemon(std::map<std::string, std::string> env)
    {
        std::remove(root_.file("map.db").c_str());
        env["OVW_MAPDB"] = root_.file("map.db");
        env["TQ_ROOT"] = root_.path();
        env["TQ_DRIVE"] = "C:";
        tqtest::RunResult r = tqtest::run({tqtest::binPath("tqdaemon")}, env);
        ASSERT_EQ(r.exitCode, 0) << r.err;
    }

    // Moves a file of the last run aside, so the next run starts without it.
    std::string take(const std::string &rel)
    {
        std::string text = readFile(root_.file(rel));
        std::remove(root_.file(rel).c_str());
        return text;
    }

    tqtest::TempRoot root_;
};

TEST_F(Rotation, TwoFilesHoldTheWholeRunInOrder)
{
    runDaemon({{"TQ_TRACE_LIMIT", "0"}, {"TQ_LOG_LIMIT", "0"}});
    const std::string trace = take("tq_std.trc");
    const std::string log = take("usr/ov/log/tqdaemon.log");
    take("tq_n2o.trc");
    ASSERT_FALSE(tqtest::fileExists(root_.file("tq_std.trc.1")));
    ASSERT_GT(trace.size(), 1000u);

    // Between a half and the whole of the run: exactly one rotation.
    runDaemon({{"TQ_TRACE_LIMIT", std::to_string(trace.size() * 3 / 4)},
               {"TQ_LOG_LIMIT", std::to_string(log.size() * 3 / 4)}});
    const std::string older = readFile(root_.file("tq_std.trc.1"));
    const std::string newer = readFile(root_.file("tq_std.trc"));
    ASSERT_FALSE(older.empty());
    ASSERT_FALSE(newer.empty());
    EXPECT_LE(older.size(), trace.size() * 3 / 4);
    // Each file starts with an entry: none is split across the two.
    EXPECT_EQ(older[0], '[');
    EXPECT_EQ(newer[0], '[');
    std::vector<std::string> joined = traceTexts(older);
    std::vector<std::string> rest = traceTexts(newer);
    joined.insert(joined.end(), rest.begin(), rest.end());
    EXPECT_EQ(joined, traceTexts(trace));

    // The log: each file starts with the header; together they hold the run's entries.
    const std::string logOlder = readFile(root_.file("usr/ov/log/tqdaemon.log.1"));
    const std::string logNewer = readFile(root_.file("usr/ov/log/tqdaemon.log"));
    std::vector<std::string> logJoined = logTexts(logOlder);
    std::vector<std::string> logRest = logTexts(logNewer);
    ASSERT_FALSE(logJoined.empty());
    ASSERT_FALSE(logRest.empty());
    EXPECT_EQ(logJoined[0], "Quillon - tqdaemon Message Log");
    EXPECT_EQ(logRest[0], "Quillon - tqdaemon Message Log");
    logJoined.insert(logJoined.end(), logRest.begin() + 1, logRest.end());
    EXPECT_EQ(logJoined, logTexts(log));
}

}  // namespace
