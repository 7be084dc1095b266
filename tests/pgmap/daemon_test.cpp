// The daemon with its map on a PostgreSQL server (the tests' private one):
// refusals at start, one daemon per map, a server restart mid-run, the
// demo's map equal to the one the SQLite store keeps, tqmap reading it, and
// the server's notices waking the live view and the daemon.
#include "e2e/piped_daemon.h"
#include "support/mapcontent.h"
#include "support/pgserver.h"
#include "support/testsupport.h"
#include "tools/serve_fixture.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <csignal>
#include <mutex>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using tqtest::PgServer;

const auto sqlValue = &PgServer::value;

class PgDaemon : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_PG_SERVER();
        root_.writeServices(tqtest::readFile(tqtest::sourcePath("examples/services")));
        root_.writeOidToSym(tqtest::readFile(tqtest::sourcePath("examples/oid_to_sym")));
        ::mkdir(root_.file("usr/ov/databases").c_str(), 0755);
        tqtest::RunResult enc = tqtest::run({tqtest::binPath("tqstream"), "encode", "-i",
                                             tqtest::sourcePath("examples/storage.jsonl"), "-o", stream()});
        ASSERT_EQ(enc.exitCode, 0) << enc.err;
    }

    std::string stream() const { return root_.file("stream.bin"); }
    std::string log() const { return tqtest::readFile(root_.file("usr/ov/log/tqdaemon.log")); }
    std::map<std::string, std::string> env(const std::string &map) const
    {
        return {{"OVW_MAPDB", map}, {"TQ_DRIVE", "C:"}, {"TQ_ROOT", root_.path()}};
    }
    // Runs the daemon over the demo stream (a file) to its end, with the
    // faults (OVW_FAULTS) armed when given.
    tqtest::RunResult runDemo(const std::string &map, const std::string &faults = "") const
    {
        tqtest::writeFile(root_.file("tqdaemon.file"), tqtest::readFile(stream()));
        std::remove(root_.file("usr/ov/log/tqdaemon.log").c_str());
        auto vars = env(map);
        if (!faults.empty())
            vars["OVW_FAULTS"] = faults;
        return tqtest::run({tqtest::binPath("tqdaemon")}, vars, "", 120);
    }
    // Starts the daemon on the map, its output dropped; its id.
    pid_t spawnDaemon(const std::string &map) const
    {
        const auto vars = env(map);
        const std::string bin = tqtest::binPath("tqdaemon");
        const pid_t pid = ::fork();
        if (pid == 0) {
            for (const auto &kv : vars)
                ::setenv(kv.first.c_str(), kv.second.c_str(), 1);
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::execl(bin.c_str(), bin.c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        return pid;
    }
    // The demo's map as the SQLite store keeps it.
    std::vector<std::string> sqliteDemo()
    {
        const std::string file = root_.file("usr/ov/databases/demo.db");
        EXPECT_EQ(runDemo(file).exitCode, 0);
        return tqtest::mapContent(file);
    }

    tqtest::TempRoot root_;
};

// The long runs: a CTest test of their own (tests/CMakeLists.txt).
class PgLongRun : public PgDaemon {
};

TEST_F(PgDaemon, RefusesAServerMapBeforeWritingAnything)
{
    auto &pg = PgServer::shared();
    struct Case {
        const char *name;
        std::string uri;
        std::string line;
    };
    const std::string foreign = pg.freshMap();
    ASSERT_EQ(sqlValue(foreign, "CREATE TABLE notes(x text)"), "");
    const std::string newer = pg.freshMap();
    ASSERT_EQ(runDemo(newer).exitCode, 0);
    ASSERT_EQ(sqlValue(newer, "UPDATE schema_version SET version = 99"), "");
    std::string err;
    ASSERT_TRUE(pg.exec("CREATE DATABASE utf8map ENCODING 'UTF8' TEMPLATE template0", err)) << err;
    const std::vector<Case> cases = {
        {"malformed URI", "postgresql://[::1/x?host=", "malformed URI"},
        {"unknown user", pg.uri("tq") + "&user=nobody_here", "nobody_here"},
        {"missing database", pg.uri("no_such_db"), "no_such_db"},
        {"missing schema", pg.uri("tq", "no_such_schema"), "no schema of the connection's search path exists"},
        {"other tables", foreign, "holds other tables, not a map (left unchanged)"},
        {"newer schema", newer, "its schema version 99 is newer than this program's 5"},
        {"UTF-8 database", pg.uri("utf8map"), "not SQL_ASCII"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const tqtest::RunResult r = runDemo(c.uri);
        EXPECT_EQ(r.exitCode, 3) << r.out << r.err;
        EXPECT_EQ(tqtest::countOf(log(), "Map database refused: "), 1) << log();
        EXPECT_NE(log().find(c.line), std::string::npos) << log();
        EXPECT_NE(r.err.find("Map database refused: "), std::string::npos) << r.err;
        EXPECT_EQ(log().find("Initialization complete."), std::string::npos);
    }
    EXPECT_EQ(sqlValue(foreign, "SELECT count(*) FROM information_schema.tables WHERE table_schema = current_schema()"),
              "1");
    EXPECT_EQ(sqlValue(newer, "SELECT version FROM schema_version"), "99");
}

TEST_F(PgDaemon, AServerThatDoesNotAnswerIsWaitedForUntilSigterm)
{
    // A socket folder where no server listens (yet).
    ::mkdir(root_.file("nosrv").c_str(), 0777);
    const std::string uri = "postgresql:///tq?host=" + root_.file("nosrv") + "&user=postgres";
    tqtest::writeFile(root_.file("tqdaemon.file"), tqtest::readFile(stream()));
    const pid_t pid = spawnDaemon(uri);
    ASSERT_GT(pid, 0);
    const char *waiting = "waiting for the map database: the map database server does not answer";
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (log().find(waiting) == std::string::npos && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_NE(log().find(waiting), std::string::npos) << log();
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_NE(log().find("stopped while waiting for the server"), std::string::npos) << log();
    EXPECT_EQ(log().find("Initialization complete."), std::string::npos);
}

TEST_F(PgDaemon, ASecondDaemonOnTheMapGetsExitCode4)
{
    const std::string map = PgServer::shared().freshMap();
    ASSERT_EQ(runDemo(map).exitCode, 0);
    // The first daemon: a connection holding the map's lock, as a running
    // daemon's does.
    PGconn *first = PQconnectdb(map.c_str());
    ASSERT_EQ(PQstatus(first), CONNECTION_OK);
    PGresult *r = PQexec(first, "SELECT pg_advisory_lock(hashtextextended(current_database() || '/' ||"
                                " current_schema(), 0))");
    ASSERT_EQ(PQresultStatus(r), PGRES_TUPLES_OK);
    PQclear(r);
    const tqtest::RunResult second = runDemo(map);
    EXPECT_EQ(second.exitCode, 4) << second.err;
    EXPECT_NE(log().find("another daemon has this map open"), std::string::npos) << log();
    // The server ends the first backend, and its lock, a moment after the
    // connection closes: waited for, as a restarted daemon would.
    const int firstBackend = PQbackendPID(first);
    PQfinish(first);
    std::string err;
    ASSERT_TRUE(PgServer::shared().waitFor(
        "SELECT count(*) FROM pg_stat_activity WHERE pid = " + std::to_string(firstBackend), "0", err))
        << err;
    EXPECT_EQ(runDemo(map).exitCode, 0) << "the lock ends with the connection that held it";
}

TEST_F(PgDaemon, TheDemoMapEqualsTheSQLiteStoresObjectForObject)
{
    const std::vector<std::string> expected = sqliteDemo();
    ASSERT_GT(expected.size(), 20u);
    const std::vector<std::string> history = tqtest::historyContent(root_.file("usr/ov/databases/demo.db"));
    ASSERT_GT(history.size(), 20u);
    auto summaryLine = [this] {
        const std::string text = log();
        const size_t at = text.find("Run summary");
        return at == std::string::npos ? std::string() : text.substr(at, text.find('\n', at) - at);
    };
    const std::string summary = summaryLine();
    ASSERT_FALSE(summary.empty()) << log();
    // A clean run, and one whose connection is lost with COMMIT sent and its
    // reply unread, several write turns in a row: the server tells the turn
    // was stored, so none is made again.
    for (const char *faults : {"", "CommitReplyLost:stretch=6+5:10"}) {
        SCOPED_TRACE(faults);
        const std::string map = PgServer::shared().freshMap();
        const tqtest::RunResult r = runDemo(map, faults);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::vector<std::string> got = tqtest::mapContent(map);
        EXPECT_EQ(tqtest::contentDifference(expected, got), "");
        // The history and the run counters are kept as on SQLite: the same
        // rows (kinds, values, `was`) in the same order.
        EXPECT_EQ(tqtest::historyContent(map), history);
        EXPECT_EQ(sqlValue(map, "SELECT ended FROM run_counters WHERE id = 1"), "1");
        EXPECT_EQ(summaryLine(), summary);
        EXPECT_EQ(log().find("was committed: the turn is stored") != std::string::npos, *faults != '\0') << log();
        EXPECT_EQ(log().find("map changes not stored"), std::string::npos) << log();
    }
}

TEST_F(PgDaemon, AMapOfTheFirstHistoryFormIsUpgradedAndShownFromTheUpgradeOn)
{
    const std::string map = PgServer::shared().freshMap();
    ASSERT_EQ(runDemo(map).exitCode, 0);
    // The first form: no `was`, no window, no change notices.
    ASSERT_EQ(sqlValue(map, "ALTER TABLE changes DROP COLUMN was; ALTER TABLE change_settings DROP COLUMN"
                            " complete_since; DROP FUNCTION map_changed() CASCADE;"
                            " UPDATE schema_version SET version = 1"),
              "");
    const std::string rows = sqlValue(map, "SELECT count(*) FROM changes");
    const std::string before = sqlValue(map, "SELECT tq_now_ms()");
    // Opening the map brings it up to date; the copy carries its window.
    const std::string back = root_.file("usr/ov/databases/back.db");
    const tqtest::RunResult copy = tqtest::run({tqtest::binPath("tqmap"), "copy", map, back});
    ASSERT_EQ(copy.exitCode, 0) << copy.out << copy.err;
    EXPECT_EQ(sqlValue(map, "SELECT version FROM schema_version"), "5");
    EXPECT_EQ(sqlValue(map, "SELECT count(*) FROM changes"), rows);
    {
        // Its changes are notified again, naming the map.
        PGconn *listener = PQconnectdb(map.c_str());
        ASSERT_EQ(PQstatus(listener), CONNECTION_OK);
        PQclear(PQexec(listener, "LISTEN tq_map_changes"));
        ASSERT_EQ(sqlValue(map, "UPDATE symbols SET label = label || '+' WHERE id = (SELECT min(id) FROM symbols)"),
                  "");
        pollfd ready{PQsocket(listener), POLLIN, 0};
        EXPECT_EQ(::poll(&ready, 1, 60000), 1);
        PQconsumeInput(listener);
        PGnotify *notice = PQnotifies(listener);
        ASSERT_NE(notice, nullptr);
        EXPECT_EQ(std::string(notice->extra), sqlValue(map, "SELECT current_schema()"));
        PQfreemem(notice);
        PQfinish(listener);
    }
    EXPECT_EQ(sqlValue(map, "SELECT complete_since >= " + before + " FROM change_settings"), "t");
    const tqtest::RunResult past = tqtest::run({tqtest::binPath("tqmap"), "--db", back, "tree", "--at", before});
    EXPECT_EQ(past.exitCode, 2);
    EXPECT_NE(past.err.find("the history reaches back to "), std::string::npos) << past.err;
    const tqtest::RunResult now = tqtest::run({tqtest::binPath("tqmap"), "--db", back, "tree", "--at", "now"});
    EXPECT_EQ(now.exitCode, 0) << now.err;
    // The trim moves the window on to the newest time it drops.
    ASSERT_EQ(sqlValue(map, "UPDATE change_settings SET max_rows = 10; INSERT INTO changes(time, kind)"
                            " SELECT tq_now_ms() + 1000 + g, 'x' FROM generate_series(1, 600) AS g"),
              "");
    EXPECT_EQ(sqlValue(map, "SELECT (SELECT count(*) FROM changes) <= 265 AND complete_since ="
                            " (SELECT min(time) - 1 FROM changes) FROM change_settings"),
              "t");
}

TEST_F(PgDaemon, AServerRestartMidRunLosesAndRepeatsNoMessage)
{
    const std::vector<std::string> expected = sqliteDemo();
    const std::string map = PgServer::shared().freshMap();
    const std::string bytes = tqtest::readFile(stream());
    const std::string fifo = root_.file("tqdaemon.file");
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    std::remove(root_.file("usr/ov/log/tqdaemon.log").c_str());
    const pid_t pid = spawnDaemon(map);
    ASSERT_GT(pid, 0);
    const int fd = ::open(fifo.c_str(), O_WRONLY);   // waits for the daemon to open its stream
    ASSERT_GE(fd, 0);
    ::signal(SIGPIPE, SIG_IGN);
    auto send = [&](size_t from, size_t to) {
        for (size_t at = from; at < to;) {
            const ssize_t n = ::write(fd, bytes.data() + at, to - at);
            ASSERT_GT(n, 0);
            at += static_cast<size_t>(n);
        }
    };
    const size_t half = bytes.size() / 2;
    send(0, half);
    // The first half stored (objects show), then the server crashes and
    // comes back while the daemon runs.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (sqlValue(map, "SELECT count(*) FROM objects") == "0" && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_NE(sqlValue(map, "SELECT count(*) FROM objects"), "0");
    ASSERT_TRUE(PgServer::shared().restart("immediate")) << PgServer::shared().error();
    send(half, bytes.size());
    ::close(fd);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << log();
    EXPECT_EQ(tqtest::contentDifference(expected, tqtest::mapContent(map)), "");
    EXPECT_NE(log().find("map changes stored after"), std::string::npos) << log();
}

TEST_F(PgDaemon, TqmapCopyTakesTheDemoMapToTheServerAndBackUnchanged)
{
    const std::vector<std::string> demo = sqliteDemo();
    const std::string file = root_.file("usr/ov/databases/demo.db"), back = root_.file("usr/ov/databases/back.db");
    const std::string server = PgServer::shared().freshMap();
    ASSERT_FALSE(server.empty()) << PgServer::shared().error();
    for (const auto &[from, to] : {std::pair{file, server}, std::pair{server, back}}) {
        tqtest::RunResult r = tqtest::run({tqtest::binPath("tqmap"), "copy", from, to});
        ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
        EXPECT_NE(r.out.find("the copy equals the original"), std::string::npos) << r.out;
        EXPECT_EQ(tqtest::contentDifference(demo, tqtest::mapContent(to)), "") << to;
    }
    // The server map and the map copied back are shown at a past time as
    // the original is.
    auto treeAt = [](const std::string &db, const std::string &at) {
        return tqtest::run({tqtest::binPath("tqmap"), "--db", db, "tree", "--at", at});
    };
    const std::string at = sqlValue(server, "SELECT time FROM changes ORDER BY id OFFSET (SELECT count(*) / 2 FROM changes) LIMIT 1");
    const tqtest::RunResult past = treeAt(file, at);
    ASSERT_EQ(past.exitCode, 0) << past.err;
    EXPECT_NE(past.out, tqtest::run({tqtest::binPath("tqmap"), "--db", file, "tree"}).out);
    EXPECT_EQ(treeAt(back, at).out, past.out);
    EXPECT_EQ(treeAt(server, at).out, past.out) << treeAt(server, at).err;
    // Ids, history and counters too: the tool compared them row for row; the
    // server map hands out the ids after the copied ones.
    EXPECT_EQ(sqlValue(server, "SELECT nextval(pg_get_serial_sequence('objects', 'id')) - max(id) FROM objects"),
              "1");
    // The copy leaves the server map vacuumed and analysed, ready to use.
    EXPECT_EQ(sqlValue(server, "SELECT count(*) FROM pg_stat_user_tables WHERE schemaname = current_schema()"
                               " AND last_vacuum IS NOT NULL AND last_analyze IS NOT NULL"),
              "10");
    tqtest::RunResult again = tqtest::run({tqtest::binPath("tqmap"), "copy", file, server});
    EXPECT_EQ(again.exitCode, 1);
    EXPECT_NE(again.err.find("already holds a map"), std::string::npos) << again.err;
}

TEST_F(PgDaemon, TqmapReadsServesAndPostsToTheServerMapAsToTheFile)
{
    sqliteDemo();
    const std::string file = root_.file("usr/ov/databases/demo.db");
    const std::string map = PgServer::shared().freshMap();
    ASSERT_EQ(runDemo(map).exitCode, 0);
    auto tqmap = [](const std::string &db, std::vector<std::string> args) {
        args.insert(args.begin(), {tqtest::binPath("tqmap"), "--db", db});
        return tqtest::run(args);
    };
    const std::vector<std::vector<std::string>> commands = {
        {"tree", "--fields"}, {"tree", "--json"}, {"show", "--json", "1"}, {"dot"},
        {"objects", "--json", "--field", "UniqueName", "--value", "GFabricA"}, {"find", "--json", "fabric"},
        {"export", "--format", "graphml"}};
    for (const auto &args : commands) {
        SCOPED_TRACE(args.front() + " " + args.back());
        const tqtest::RunResult want = tqmap(file, args), got = tqmap(map, args);
        ASSERT_EQ(want.exitCode, 0) << want.err;
        EXPECT_GT(want.out.size(), 100u);
        EXPECT_EQ(got.exitCode, 0) << got.err;
        EXPECT_EQ(got.out, want.out);
    }
    // The history lists the same changes (times differ).
    const tqtest::RunResult changes = tqmap(map, {"changes", "--all"});
    EXPECT_EQ(changes.exitCode, 0) << changes.err;
    EXPECT_EQ(tqtest::countOf(changes.out, "\n"), tqtest::countOf(tqmap(file, {"changes", "--all"}).out, "\n"));

    {
        servetest::Server fromFile(file), fromServer(map);
        ASSERT_TRUE(fromFile.ready() && fromServer.ready());
        for (const char *path : {"/api/map", "/api/submap/1"}) {
            SCOPED_TRACE(path);
            auto want = fromFile.client().Get(path), got = fromServer.client().Get(path);
            ASSERT_TRUE(want && got);
            EXPECT_EQ(want->status, 200);
            EXPECT_EQ(got->status, 200);
            EXPECT_EQ(got->body, want->body);
        }
    }

    // An operator event lands in the map's events table, for the daemon's
    // next turn (the insertion notifies it).
    const tqtest::RunResult post = tqmap(map, {"post", "map-close"});
    EXPECT_EQ(post.exitCode, 0) << post.err;
    EXPECT_EQ(sqlValue(map, "SELECT count(*) FROM events"), "1");
    // A schema that holds no map is refused, and left as it was.
    const tqtest::RunResult empty = tqmap(PgServer::shared().freshMap(), {"tree"});
    EXPECT_EQ(empty.exitCode, 2);
    EXPECT_NE(empty.err.find("is not a map database"), std::string::npos) << empty.err;
}

// The server's notices: a commit to the map reaches a live page at once (a
// commit to another map of the database does not), and a posted event wakes
// the daemon that waits for a map to open.
TEST_F(PgDaemon, TheServersNoticesWakeTheLiveViewAndTheWaitingDaemon)
{
    auto &pg = PgServer::shared();
    const std::string map = pg.freshMap();
    ASSERT_EQ(runDemo(map).exitCode, 0);
    {
        servetest::Server live(map);
        ASSERT_TRUE(live.ready());
        std::mutex m;
        std::condition_variable arrived;
        std::vector<long> versions;
        std::atomic<bool> stop{false};
        httplib::Client sse("127.0.0.1", live.port());
        std::thread listener([&]() {
            sse.Get("/api/events", [&](const char *data, size_t n) {
                const std::string chunk(data, n);
                for (size_t at = chunk.find("data: "); at != std::string::npos; at = chunk.find("data: ", at + 1)) {
                    std::lock_guard<std::mutex> lock(m);
                    versions.push_back(std::atol(chunk.c_str() + at + 6));
                    arrived.notify_all();
                }
                return !stop.load();
            });
        });
        auto eventsCame = [&](size_t n) {
            std::unique_lock<std::mutex> lock(m);
            return arrived.wait_for(lock, std::chrono::seconds(60), [&] { return versions.size() >= n; });
        };
        EXPECT_TRUE(eventsCame(1)) << "the stream opens with the current version";
        ASSERT_EQ(sqlValue(pg.freshMap(), "SELECT pg_notify('tq_map_changes', current_schema())"), "");
        ASSERT_EQ(sqlValue(map, "UPDATE symbols SET label = 'relabelled' WHERE id = (SELECT min(id) FROM symbols)"),
                  "");
        EXPECT_TRUE(eventsCame(2));
        {
            std::lock_guard<std::mutex> lock(m);
            ASSERT_EQ(versions.size(), 2u);
            EXPECT_EQ(versions[1], versions[0] + 1) << "another map's notice woke the page";
        }
        const std::string submap = sqlValue(map, "SELECT submap FROM symbols WHERE label = 'relabelled'");
        auto shows = [&](const char *label) {
            auto page = live.client().Get(("/api/submap/" + submap).c_str());
            return page && page->body.find(label) != std::string::npos;
        };
        EXPECT_TRUE(shows("relabelled"));
        // The server restarts: the page's connections are made again, and
        // what is committed then reaches the page too.
        ASSERT_TRUE(pg.restart("fast")) << pg.error();
        ASSERT_EQ(sqlValue(map, "UPDATE symbols SET label = 'after restart' WHERE label = 'relabelled'"), "");
        for (size_t n = 3; !shows("after restart") && eventsCame(n); ++n) {
        }
        EXPECT_TRUE(shows("after restart"));
        stop = true;
        sse.stop();
        listener.join();
    }

    // The daemon takes the posted close, waits for a map to open, and is
    // woken by the posted open.
    auto post = [&](const char *event) {
        return tqtest::run({tqtest::binPath("tqmap"), "--db", map, "post", event}).exitCode;
    };
    auto mapIs = [&](const char *open) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (sqlValue(map, "SELECT is_open || '/' || (SELECT count(*) FROM events) FROM map") !=
                   std::string(open) + "/0" &&
               std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return sqlValue(map, "SELECT is_open || '/' || (SELECT count(*) FROM events) FROM map");
    };
    ASSERT_EQ(post("map-close"), 0);
    std::remove(root_.file("tqdaemon.file").c_str());
    tqtest::PipedDaemon daemon(root_.file("tqdaemon.file"), env(map));
    ASSERT_TRUE(daemon.running());
    ASSERT_EQ(mapIs("0"), "0/0");
    ASSERT_EQ(post("map-open"), 0);
    EXPECT_EQ(mapIs("1"), "1/0");
    const tqtest::RunResult end = daemon.finish();
    EXPECT_EQ(end.exitCode, 0) << end.err << log();
}

// A long stream of every kind (tqgen's mix: fabrics, devices, links, then
// updates of each kind) run on both stores at once: the maps are equal
// object for object, and both runs read and stored every message.
TEST_F(PgLongRun, TwentyThousandMessagesMakeTheSameMapOnBothStores)
{
    const int messages = 20000;
    const tqtest::RunResult lines =
        tqtest::run({tqtest::binPath("tqgen"), "--messages", std::to_string(messages), "--seed", "27"});
    ASSERT_EQ(lines.exitCode, 0) << lines.err;
    ASSERT_EQ(tqtest::countOf(lines.out, "\n"), messages);
    for (const char *kind : {"graph", "vertex", "arc", "vertex_status", "arc_status", "common_properties",
                             "change_icon", "change_label", "graph_update", "content_ids"})
        EXPECT_NE(lines.out.find(std::string("{\"type\":\"") + kind + "\""), std::string::npos) << kind;
    tqtest::writeFile(root_.file("long.jsonl"), lines.out);
    const tqtest::RunResult enc = tqtest::run(
        {tqtest::binPath("tqstream"), "encode", "-i", root_.file("long.jsonl"), "-o", root_.file("tqdaemon.file")});
    ASSERT_EQ(enc.exitCode, 0) << enc.err;
    const std::string icons = tqtest::run({tqtest::binPath("tqgen"), "--oid-to-sym"}).out;
    const std::string file = root_.file("usr/ov/databases/long.db"), map = PgServer::shared().freshMap();
    tqtest::TempRoot serverRoot;
    for (const tqtest::TempRoot *r : {&root_, &serverRoot}) {
        r->writeServices(tqtest::readFile(tqtest::sourcePath("examples/services")));
        r->writeOidToSym(icons);
        tqtest::writeFile(r->file("tqdaemon.file"), tqtest::readFile(root_.file("tqdaemon.file")));
    }
    auto daemon = [](const tqtest::TempRoot &r, const std::string &db) {
        return std::async(std::launch::async, [&r, db] {
            return tqtest::run({tqtest::binPath("tqdaemon")},
                               {{"OVW_MAPDB", db}, {"TQ_DRIVE", "C:"}, {"TQ_ROOT", r.path()}}, "", 900);
        });
    };
    auto onFile = daemon(root_, file), onServer = daemon(serverRoot, map);
    const tqtest::RunResult a = onFile.get(), b = onServer.get();
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(b.exitCode, 0) << b.err;
    const std::vector<std::string> want = tqtest::mapContent(file);
    ASSERT_GT(want.size(), static_cast<size_t>(messages / 4));
    EXPECT_EQ(tqtest::contentDifference(want, tqtest::mapContent(map)), "");
    EXPECT_EQ(sqlValue(map, "SELECT frames_read FROM run_counters"), std::to_string(messages));
}

}  // namespace
