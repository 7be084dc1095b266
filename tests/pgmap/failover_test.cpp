// The map surviving the loss of its database server's machine: the daemon
// writes through a multi-host URI to a primary with a synchronous streaming
// standby; the primary is stopped hard between two parts of the stream and
// the standby promoted; the daemon reconnects, makes the interrupted turn
// again and finishes with the map a clean run makes.
#include "e2e/piped_daemon.h"
#include "support/mapcontent.h"
#include "support/pgserver.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <map>
#include <thread>
#include <string>
#include <vector>

namespace {

using tqtest::PgServer;
using tqtest::RunResult;

// A daemon root with the example's services and symbol types.
void layOut(const tqtest::TempRoot &root)
{
    root.writeServices(tqtest::readFile(tqtest::sourcePath("examples/services")));
    root.writeOidToSym(tqtest::readFile(tqtest::sourcePath("examples/oid_to_sym")));
}

// The message log's last run summary line.
std::string runSummary(const tqtest::TempRoot &root)
{
    std::string last;
    for (const std::string &line : tqtest::logTexts(tqtest::readFile(root.file("usr/ov/log/tqdaemon.log"))))
        if (line.rfind("Run summary:", 0) == 0)
            last = line;
    return last;
}

// The frames of JSON Lines, encoded by tqstream.
std::string encode(const tqtest::TempRoot &root, const std::string &jsonl)
{
    const std::string in = root.file("part.jsonl"), out = root.file("part.bin");
    tqtest::writeFile(in, jsonl);
    RunResult r = tqtest::run({tqtest::binPath("tqstream"), "encode", "-i", in, "-o", out});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return tqtest::readFile(out);
}

TEST(PgFailover, TheDaemonFinishesOnThePromotedStandbyWithTheMapOfACleanRun)
{
    std::signal(SIGPIPE, SIG_IGN);
    // The example stream in two parts: the topology, then its changes.
    const std::vector<std::string> lines = tqtest::splitLines(tqtest::readFile(tqtest::sourcePath("examples/storage.jsonl")));
    ASSERT_GT(lines.size(), 10u);
    std::string first, second;
    for (size_t i = 0; i < lines.size(); ++i)
        (i < lines.size() / 2 ? first : second) += lines[i] + "\n";

    // The clean runs, on SQLite: the first part alone, then the whole stream.
    tqtest::TempRoot clean;
    layOut(clean);
    const std::string cleanDb = clean.file("usr/ov/databases/tqmap.db");
    std::map<std::string, std::string> env = {{"TQ_ROOT", clean.path()}, {"TQ_DRIVE", "C:"}};
    tqtest::writeFile(clean.file("tqdaemon.file"), encode(clean, first));
    ASSERT_EQ(tqtest::run({tqtest::binPath("tqdaemon")}, env).exitCode, 0);
    const std::vector<std::string> afterFirst = tqtest::mapContent(cleanDb);
    ASSERT_GT(afterFirst.size(), 10u) << afterFirst.front();
    const std::string firstSummary = runSummary(clean);
    for (const char *suffix : {"", "-wal", "-shm"})
        std::remove((cleanDb + suffix).c_str());
    tqtest::writeFile(clean.file("tqdaemon.file"), encode(clean, first + second));
    ASSERT_EQ(tqtest::run({tqtest::binPath("tqdaemon")}, env).exitCode, 0);
    const std::vector<std::string> whole = tqtest::mapContent(cleanDb);
    const std::string wholeSummary = runSummary(clean);
    ASSERT_NE(wholeSummary, firstSummary);

    // The two servers.
    auto primary = PgServer::startPrivate();
    ASSERT_TRUE(primary->ok()) << primary->error();
    std::string err;
    ASSERT_TRUE(primary->exec("CREATE SCHEMA m", err, "tq")) << err;
    auto standby = primary->startStandby("standby1", true);
    ASSERT_TRUE(standby->ok()) << standby->error();
    const std::string uri = PgServer::multiHostUri({primary.get(), standby.get()}, "tq", "m");

    tqtest::TempRoot root;
    layOut(root);
    const std::string firstFrames = encode(root, first), secondFrames = encode(root, second);
    tqtest::PipedDaemon daemon(root.file("tqdaemon.file"),
                               {{"TQ_ROOT", root.path()}, {"TQ_DRIVE", "C:"}, {"OVW_MAPDB", uri}});
    ASSERT_TRUE(daemon.running());
    ASSERT_TRUE(daemon.write(firstFrames));
    // The point of the loss: the map holds the first part, as its clean run
    // made it.
    std::vector<std::string> seen;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         (seen = tqtest::mapContent(uri)) != afterFirst && std::chrono::steady_clock::now() < end;)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(tqtest::contentDifference(seen, afterFirst), "");

    ASSERT_TRUE(primary->kill()) << primary->error();
    ASSERT_TRUE(standby->promote()) << standby->error();
    ASSERT_TRUE(daemon.write(secondFrames));
    RunResult r = daemon.finish();
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err << tqtest::readFile(root.file("usr/ov/log/tqdaemon.log"));
    EXPECT_EQ(tqtest::contentDifference(tqtest::mapContent(standby->uri("tq", "m")), whole), "");
    // The turn the loss interrupted was made again once the standby took
    // over, and every message applied once: the run's summary is the clean run's.
    const std::string log = tqtest::readFile(root.file("usr/ov/log/tqdaemon.log"));
    EXPECT_NE(log.find("map changes stored after"), std::string::npos) << log;
    EXPECT_EQ(runSummary(root), wholeSummary);
}

}  // namespace
