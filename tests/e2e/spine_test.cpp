// End-to-end runs of the built daemon: start-up, the ways it ends, its log
// and traces, and map events posted while it runs.
#include "intake/frames.h"
#include "mapdb/testhooks.h"
#include "ovw/ovw.h"
#include "support/testsupport.h"
#include "e2e/piped_daemon.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <future>
#include <map>
#include <netinet/in.h>
#include <sqlite3.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using tqtest::countOf;

using tqtest::freePort;

using tqtest::apiFrame;
using tqtest::le32;
using tqtest::readFile;
using tqtest::splitLines;
using tqtest::typeFrame;

const char kPortLine1[] =
    "Port no for Orrery Daemon has not been defined properly in the services file in your system.";
const char kPortLine2[] =
    "Only TCP protocol is allowed for this service, please change it and try to start this service.";
const char kEqualsLine[] = "=====================================================================";

using tqtest::logTexts;

// Enter lines of an adapter operation.
int enters(const std::string &trace, const std::string &operation)
{
    int n = 0;
    for (const std::string &line : splitLines(trace)) {
        if (line.find(" " + operation + "(") != std::string::npos && line.size() >= 8 &&
            line.compare(line.size() - 8, 8, "): enter") == 0)
            ++n;
    }
    return n;
}

class Spine : public ::testing::Test {
protected:
    void SetUp() override { port_ = freePort(); }

    void services(const std::string &entry) const { root_.writeServices(entry); }
    void tcpService() const { services("TQDAEMON " + std::to_string(port_) + "/tcp\n"); }
    void stream(const std::string &bytes) const { tqtest::writeFile(root_.file("tqdaemon.file"), bytes); }

    std::map<std::string, std::string> env() const
    {
        return {{"OVW_MAPDB", dbPath()}, {"TQ_DRIVE", "C:"}, {"TQ_ROOT", root_.path()}};
    }
    tqtest::RunResult runDaemon() const { return tqtest::run({tqtest::binPath("tqdaemon")}, env()); }

    std::string dbPath() const { return root_.file("map.db"); }
    std::string messageLog() const { return readFile(root_.file("usr/ov/log/tqdaemon.log")); }
    std::string daemonTrace() const { return readFile(root_.file("tq_std.trc")); }
    std::string adapterTrace() const { return readFile(root_.file("tq_n2o.trc")); }

    tqtest::TempRoot root_;
    int port_ = 0;
};

// ---- start-up and the ways the daemon ends -------------------------------------------

TEST_F(Spine, PortNotDefinedStopsStartUpWithTheTwoMessages)
{
    for (const char *servicesText : {"", "TQDAEMON 7777/udp\n", "OTHER 7777/tcp\n"}) {
        SCOPED_TRACE(servicesText);
        services(servicesText);
        std::remove(root_.file("tq_std.trc").c_str());
        std::remove(root_.file("usr/ov/log/tqdaemon.log").c_str());
        tqtest::RunResult r = runDaemon();
        EXPECT_EQ(r.exitCode, 1);
        // Whoever started it sees why on the console too.
        EXPECT_NE(r.err.find(std::string(kPortLine1) + "\n" + kPortLine2 + "\n"), std::string::npos) << r.err;

        std::vector<std::string> trace = splitLines(daemonTrace());
        ASSERT_EQ(trace.size(), 2u);
        EXPECT_NE(trace[0].find(std::string("]\t") + kPortLine1), std::string::npos);
        EXPECT_NE(trace[1].find(std::string("]\t") + kPortLine2), std::string::npos);
        std::vector<std::string> log = logTexts(messageLog());
        EXPECT_EQ(log, (std::vector<std::string>{"Quillon - tqdaemon Message Log", "Starting tqdaemon.exe",
                                                 kPortLine1, kPortLine2}));
        // Nothing else started: no map database, no adapter trace.
        EXPECT_FALSE(tqtest::fileExists(dbPath()));
        EXPECT_FALSE(tqtest::fileExists(root_.file("usr/ov/databases/tqmap.db")));
        EXPECT_FALSE(tqtest::fileExists(root_.file("tq_n2o.trc")));
    }
}

TEST_F(Spine, HelpAndVersionTouchNoFileAndOtherArgumentsAreUsageErrors)
{
    // With TQ_ROOT unset the daemon's files would be under / and the working directory.
    struct Place {
        std::string path;
        bool existed;
        std::string bytes;
    };
    std::vector<Place> places;
    for (const char *path : {"/usr/ov/log/tqdaemon.log", "/tq_std.trc", "/tq_n2o.trc", "/usr/ov/databases/tqmap.db"})
        places.push_back({path, tqtest::fileExists(path), tqtest::fileExists(path) ? readFile(path) : ""});
    const std::string cwd = root_.file("cwd");
    tqtest::writeFile(cwd + "/.keep", "");
    auto bare = [&](const std::string &argument) {
        return tqtest::run({"/usr/bin/env", "-u", "TQ_ROOT", "-u", "OVW_MAPDB", "-u", "TQ_DRIVE", "-C", cwd,
                            tqtest::binPath("tqdaemon"), argument});
    };
    tqtest::RunResult help = bare("--help");
    EXPECT_EQ(help.exitCode, 0) << help.err;
    EXPECT_NE(help.out.find("TQ_ROOT"), std::string::npos);
    EXPECT_NE(help.out.find("Exit codes"), std::string::npos);
    tqtest::RunResult version = bare("--version");
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out.rfind("tqdaemon ", 0), 0u) << version.out;
    for (const char *wrong : {"--bogus", "stream.file", "-x"}) {
        tqtest::RunResult r = bare(wrong);
        EXPECT_EQ(r.exitCode, 2) << wrong;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("usage: tqdaemon"), std::string::npos) << r.err;
    }
    for (const Place &p : places) {
        EXPECT_EQ(tqtest::fileExists(p.path), p.existed) << p.path;
        if (p.existed) {
            EXPECT_EQ(readFile(p.path), p.bytes) << p.path;
        }
    }
    EXPECT_FALSE(tqtest::fileExists(cwd + "/usr"));
    EXPECT_FALSE(tqtest::fileExists(cwd + "/tq_std.trc"));
}

TEST_F(Spine, MissingStreamEndsWithCodeZeroAfterStartUp)
{
    tcpService();
    tqtest::RunResult r = runDaemon();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    // The exit code stays 0, and the log says why nothing was read.
    EXPECT_EQ(logTexts(messageLog()),
              (std::vector<std::string>{
                  "Quillon - tqdaemon Message Log", "Starting tqdaemon.exe", "Initialization complete.",
                  "Stream file " + root_.file("tqdaemon.file") + " could not be opened: not found",
                  "Run summary: 0 frames read, 0 applied, 0 refused, 0 failed, 0 skipped, 0 map events handled",
                  "Ending tqdaemon.exe", kEqualsLine}));
    std::vector<std::string> trace = splitLines(daemonTrace());
    // The ready line's own two line ends leave two empty lines after it.
    ASSERT_EQ(trace.size(), 4u);
    EXPECT_NE(trace[0].find("]\tPort: " + std::to_string(port_)), std::string::npos) << trace[0];
    EXPECT_NE(trace[1].find("]\tPLX connection ready..."), std::string::npos);
    EXPECT_EQ(trace[2], "");
    EXPECT_EQ(trace[3], "");
    // Connected to the map: the database exists and the handlers were registered.
    EXPECT_TRUE(tqtest::fileExists(dbPath()));
    std::string adapter = adapterTrace();
    EXPECT_EQ(enters(adapter, "tqotInit"), 1);
    EXPECT_EQ(enters(adapter, "synchWithMap"), 1);
    EXPECT_EQ(enters(adapter, "mainLoop"), 1);
    EXPECT_EQ(countOf(adapter, "OV error"), 0);
}

TEST_F(Spine, PortZeroMeans8010AndAnEmptyStreamEndsAtOnce)
{
    services("TQDAEMON 0/tcp\n");
    stream("");
    tqtest::RunResult r = runDaemon();
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(countOf(daemonTrace(), "]\tPort: 8010\n"), 1);
    EXPECT_EQ(countOf(daemonTrace(), "msgType"), 0);
    std::vector<std::string> log = logTexts(messageLog());
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "Ending tqdaemon.exe");
    EXPECT_EQ(log.back(), kEqualsLine);
}

TEST_F(Spine, EveryFrameIsReadUntilTheStreamEnds)
{
    tcpService();
    std::string oversized = le32(300) + "\x7f" + std::string(299, 'x');
    stream(typeFrame(127) + typeFrame(5) + apiFrame(9, "data") + oversized + apiFrame(9, std::string(9, 'p'), "3") +
           typeFrame(127));
    tqtest::RunResult r = runDaemon();
    EXPECT_EQ(r.exitCode, 0);
    std::string trace = daemonTrace();
    EXPECT_EQ(countOf(trace, "]\tmsgType: 127\n"), 3);
    EXPECT_EQ(countOf(trace, "]\tmsgType: 5\n"), 1);
    EXPECT_EQ(countOf(trace, "]\tmsgType: 3\n"), 2);
    EXPECT_EQ(countOf(trace, "]\tUnknown MesgType!\n"), 1);
    EXPECT_EQ(countOf(trace, "]\tMessage Type is not API Msg\n"), 1);
    EXPECT_EQ(countOf(trace, "]\t\t\tRETURN\n"), 3);
    std::string log = messageLog();
    EXPECT_EQ(countOf(log, "skipped: header length 300 is above 260"), 1);
    EXPECT_EQ(countOf(log, "skipped: payload length 10 is above the announced size 3"), 1);
    EXPECT_EQ(countOf(log, "Ending tqdaemon.exe"), 1);
}

TEST_F(Spine, PayloadCutShortEndsWithCodeZero)
{
    tcpService();
    std::string frame = apiFrame(9, "abcdefgh");
    stream(typeFrame(127) + frame.substr(0, frame.size() - 3));
    tqtest::RunResult r = runDaemon();
    EXPECT_EQ(r.exitCode, 0);
    std::string trace = daemonTrace();
    EXPECT_EQ(countOf(trace, "dyn_recvMsg received 1: msgLength: 3\n"), 1);
    EXPECT_EQ(countOf(trace, "RETURN"), 0);
    EXPECT_EQ(countOf(messageLog(), "Ending tqdaemon.exe"), 1);
}

TEST_F(Spine, UnreachableMapIsTracedAndTheLoopEndsAtOnce)
{
    tcpService();
    stream(typeFrame(127));
    // The platform cannot connect (a database it refuses has its own exit).
    std::map<std::string, std::string> e = env();
    e["OVW_FAULTS"] = "OVwInit:always:1";
    tqtest::RunResult r = tqtest::run({tqtest::binPath("tqdaemon")}, e);
    EXPECT_EQ(r.exitCode, 1);
    // Code 29: traced, not retried, and start-up still completes.
    std::string trace = daemonTrace();
    EXPECT_EQ(countOf(trace, "]\ttqot2ov error\n"), 1);
    EXPECT_EQ(countOf(trace, "Error again!"), 0);
    EXPECT_EQ(countOf(trace, "PLX connection ready..."), 1);
    std::string adapter = adapterTrace();
    EXPECT_EQ(enters(adapter, "tqotInit"), 1);
    EXPECT_EQ(enters(adapter, "tqotSetSynchronousCreation"), 1);
    EXPECT_EQ(enters(adapter, "tqotDone"), 1);
    // The event channel is down, so the loop ends before reading a message.
    EXPECT_EQ(countOf(trace, "msgType"), 0);
    EXPECT_EQ(logTexts(messageLog()),
              (std::vector<std::string>{
                  "Quillon - tqdaemon Message Log", "Starting tqdaemon.exe", "Initialization complete.",
                  "Run summary: 0 frames read, 0 applied, 0 refused, 0 failed, 0 skipped, 0 map events handled",
                  "Ending tqdaemon.exe", kEqualsLine}));
}

// ---- map events while the daemon runs -----------------------------------------------------

class LiveSpine : public Spine {
protected:
    void SetUp() override
    {
        Spine::SetUp();
        signal(SIGPIPE, SIG_IGN);
        tcpService();
    }
    void post(int code, const std::vector<int> &ids = {}) const
    {
        std::string err;
        EXPECT_EQ(mapdb::postEventToFile(dbPath(), code, ids, err), 0) << err;
    }
};

TEST_F(LiveSpine, EndOfSessionEndsTheDaemonWithCodeOne)
{
    tqtest::PipedDaemon daemon(root_.file("tqdaemon.file"), env());
    ASSERT_TRUE(daemon.running());
    daemon.turn();
    post(OVwEventEndSession);
    daemon.turn();
    tqtest::RunResult r = daemon.finish();
    EXPECT_EQ(r.exitCode, 1);
    std::string adapter = adapterTrace();
    EXPECT_EQ(enters(adapter, "endSessionCB"), 1);
    EXPECT_EQ(enters(adapter, "tqotDone"), 1);
    std::vector<std::string> log = logTexts(messageLog());
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "Ending tqdaemon.exe");
    EXPECT_EQ(countOf(messageLog(), "Ending tqdaemon.exe"), 1);
}

TEST_F(LiveSpine, MapCloseThenOpenResynchronises)
{
    tqtest::PipedDaemon daemon(root_.file("tqdaemon.file"), env());
    ASSERT_TRUE(daemon.running());
    post(OVwEventMapClose);
    daemon.turn();
    post(OVwEventMapOpen);
    daemon.turn();
    post(OVwEventEndSession);
    daemon.turn();
    tqtest::RunResult r = daemon.finish();
    EXPECT_EQ(r.exitCode, 1);
    std::string adapter = adapterTrace();
    EXPECT_EQ(enters(adapter, "mapCloseCB"), 1);
    EXPECT_EQ(enters(adapter, "mapOpenCB"), 2);      // tqotInit's and the event's
    EXPECT_EQ(enters(adapter, "synchWithMap"), 2);
    EXPECT_EQ(enters(adapter, "endConnection"), 2);  // map close and end of session
    EXPECT_EQ(enters(adapter, "tqotDone"), 1);
    EXPECT_LT(adapter.find("mapCloseCB("), adapter.rfind("synchWithMap("));
    EXPECT_EQ(countOf(adapter, "OV error"), 0);
}

// While no map is open the stream waits: no frame is taken that could not be
// applied, the wait is logged after 3 s, and reading resumes when a map opens.
TEST_F(LiveSpine, NoFrameIsReadWhileNoMapIsOpen)
{
    // Polls until the daemon has got there (its pace, not a guess).
    auto eventually = [](const std::function<bool()> &reached) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            if (reached())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    };
    auto framesRead = [this] { return countOf(daemonTrace(), "msgType: "); };
    const std::string waitLine = "No map is open: frame ";
    tqtest::PipedDaemon daemon(root_.file("tqdaemon.file"), env());
    ASSERT_TRUE(daemon.running());
    daemon.turn();   // frame 1; the daemon then waits in the stream for frame 2
    ASSERT_TRUE(eventually([&] { return framesRead() == 1; }));
    post(OVwEventMapClose);
    daemon.turn();   // frame 2: read before the close is handled, or held back
    daemon.turn();   // frame 3: held back
    ASSERT_TRUE(eventually([&] { return messageLog().find(waitLine) != std::string::npos; }));
    std::string log = messageLog();
    const int held = std::atoi(log.c_str() + log.find(waitLine) + waitLine.size());
    EXPECT_TRUE(held == 2 || held == 3) << held;
    EXPECT_NE(log.find(waitLine + std::to_string(held) + " and those after it wait until a map opens ("),
              std::string::npos);
    EXPECT_EQ(framesRead(), held - 1);
    post(OVwEventMapOpen);
    ASSERT_TRUE(eventually([&] { return framesRead() == 3; }));
    EXPECT_TRUE(eventually([&] { return messageLog().find("A map is open again after ") != std::string::npos; }));
    post(OVwEventEndSession);
    daemon.turn();
    tqtest::RunResult r = daemon.finish();
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(messageLog().find("no map is open"), std::string::npos);   // no frame refused for it
}

// Runs a query returning one integer against the map database.
long long queryInt(const std::string &db, const std::string &sql)
{
    sqlite3 *h = nullptr;
    long long v = -1;
    if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            v = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(h);
    return v;
}

TEST_F(LiveSpine, SymbolAndObjectDeletionsAreFollowed)
{
    // A map made before the daemon starts: graph G holding vertex V, and an
    // object O with a field value.
    const char *old = std::getenv("OVW_MAPDB");
    std::string oldValue = old != nullptr ? old : "";
    setenv("OVW_MAPDB", dbPath().c_str(), 1);
    ASSERT_EQ(OVwInit(), 0);
    OVwMapInfo *map = OVwGetMapInfo();
    ASSERT_NE(map, nullptr);
    OVwObjectId g = OVwDbCreateObjectBySelectionName("SAN;G;default");
    OVwSubmapId gSubmap = OVwCreateSubmap(map, g, OVwGraphSubmap, 0, "G", OVwNoLayout, 0);
    OVwCreateSymbol(map, map->root_submap_id, g, nullptr, "G", OVwStatusNormal, OVwRollUpStatusSource, nullptr, 0);
    OVwObjectId v = OVwDbCreateObjectBySelectionName("7;V;default");
    OVwSymbolId vSym = OVwCreateSymbol(map, gSubmap, v, nullptr, "V", OVwStatusNormal, OVwOwnStatusSource,
                                       nullptr, 0);
    OVwObjectId o = OVwDbCreateObjectBySelectionName("7;O;default");
    ASSERT_EQ(OVwDbSetFieldStringValue(o, OVwDbFieldNameToFieldId("UniqueName"), "u-O"), 0);
    ASSERT_GT(vSym, 0);
    OVwFreeMapInfo(map);
    ASSERT_EQ(OVwDone(), 0);
    if (old != nullptr)
        setenv("OVW_MAPDB", oldValue.c_str(), 1);
    else
        unsetenv("OVW_MAPDB");

    tqtest::PipedDaemon daemon(root_.file("tqdaemon.file"), env());
    ASSERT_TRUE(daemon.running());
    post(OVwEventDeleteSymbols, {vSym});
    daemon.turn();
    post(OVwEventDeleteObjects, {o});
    daemon.turn();
    post(OVwEventEndSession);
    daemon.turn();
    tqtest::RunResult r = daemon.finish();
    EXPECT_EQ(r.exitCode, 1);

    std::string adapter = adapterTrace();
    EXPECT_EQ(enters(adapter, "deleteSymbolCB"), 1);
    EXPECT_EQ(enters(adapter, "deleteObjectCB"), 1);
    // The symbol's submap resolved: no re-synchronisation after the deletion.
    EXPECT_EQ(enters(adapter, "synchWithMap"), 1);
    EXPECT_EQ(countOf(adapter, "OV error"), 0);
    std::string id = std::to_string(o);
    EXPECT_EQ(queryInt(dbPath(), "SELECT count(*) FROM objects WHERE id = " + id), 0);
    EXPECT_EQ(queryInt(dbPath(), "SELECT count(*) FROM field_values WHERE object = " + id), 0);
    EXPECT_EQ(queryInt(dbPath(), "SELECT count(*) FROM objects WHERE id = " + std::to_string(v)), 1);
}

}  // namespace
