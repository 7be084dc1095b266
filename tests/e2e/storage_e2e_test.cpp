// No silent loss, end to end: the daemon program against map databases it
// must refuse, a log whose writes fail for a while, a full disk, another
// program's write lock, a second daemon, and SIGTERM in the middle of a run.
// Every run that ends must leave the map of a clean run over the messages
// it took (or over a whole-message prefix of them, when stopped).
#include "e2e/inprocess.h"
#include "e2e/map_check.h"
#include "e2e/topology_stream.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using tqtest::freePort;

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A daemon process, killed and reaped if the test leaves early.
struct Daemon {
    pid_t pid = -1;
    ~Daemon()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    // The exit code, 128 + signal, or -1 when it has not ended in time.
    int wait(int seconds = 120)
    {
        const auto until = Clock::now() + std::chrono::seconds(seconds);
        int status = 0;
        while (pid > 0 && Clock::now() < until) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
};

// The writing end of the daemon's stream when it is a named pipe.
struct Pipe {
    int fd = -1;
    ~Pipe() { close(); }
    void close()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    // Opens it once the daemon has opened its end (its start-up is done).
    bool open(const std::string &path)
    {
        for (int i = 0; i < 30000 && fd < 0; ++i) {
            fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (fd >= 0)
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd >= 0;
    }
    void write(const std::string &bytes)
    {
        for (size_t at = 0; at < bytes.size();) {
            const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
            if (n <= 0)
                return;
            at += static_cast<size_t>(n);
        }
    }
};

class StorageE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        ::sigaction(SIGPIPE, &ignore, &oldPipe_);
        root_.writeServices("TQDAEMON " + std::to_string(freePort()) + "/tcp\n");
        root_.writeOidToSym(tqtest::readFile(tqtest::sourcePath("examples/oid_to_sym")));
        fs::create_directories(root_.file("maps"));
        fs::create_directories(root_.file("usr/ov/log"));
        tqtest::writeFile(root_.file("in.jsonl"), tqcheck::topologyStream(4, 8));
        tqtest::RunResult enc = tqtest::run(
            {tqtest::binPath("tqstream"), "encode", "-i", root_.file("in.jsonl"), "-o", root_.file("stream.bin")});
        ASSERT_EQ(enc.exitCode, 0) << enc.err;
        stream_ = tqtest::readFile(root_.file("stream.bin"));
    }
    void TearDown() override { ::sigaction(SIGPIPE, &oldPipe_, nullptr); }

    std::string db(const char *name = "map.db") const { return root_.file(std::string("maps/") + name); }
    std::string messageLog() const { return tqtest::readFile(root_.file("usr/ov/log/tqdaemon.log")); }
    std::string console() const { return tqtest::readFile(root_.file("console.txt")); }
    void clearOutputs() const
    {
        for (const char *f : {"tq_std.trc", "tq_n2o.trc", "usr/ov/log/tqdaemon.log", "console.txt"})
            std::remove(root_.file(f).c_str());
    }
    // The stream as a file, or as a named pipe that the test writes.
    void streamAsFile() const
    {
        std::remove(root_.file("tqdaemon.file").c_str());
        tqtest::writeFile(root_.file("tqdaemon.file"), stream_);
    }
    std::string streamAsPipe() const
    {
        const std::string fifo = root_.file("tqdaemon.file");
        std::remove(fifo.c_str());
        EXPECT_EQ(::mkfifo(fifo.c_str(), 0666), 0) << std::strerror(errno);
        return fifo;
    }

    // Starts the daemon on the map database (console to console.txt); as
    // user nobody when uid is not -1.
    void spawn(Daemon &d, const std::string &dbPath, std::map<std::string, std::string> extra = {},
               int uid = -1) const
    {
        extra["OVW_MAPDB"] = dbPath;
        extra["TQ_DRIVE"] = "C:";
        extra["TQ_ROOT"] = root_.path();
        const std::string bin = tqtest::binPath("tqdaemon");
        const std::string out = root_.file("console.txt");
        d.pid = ::fork();
        if (d.pid == 0) {
            for (const auto &kv : extra)
                ::setenv(kv.first.c_str(), kv.second.c_str(), 1);
            int in = ::open("/dev/null", O_RDONLY);
            int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            ::dup2(in, 0);
            ::dup2(fd, 1);
            ::dup2(fd, 2);
            if (uid != -1 && (::setgid(static_cast<gid_t>(uid)) != 0 || ::setuid(static_cast<uid_t>(uid)) != 0))
                ::_exit(126);
            ::execl(bin.c_str(), bin.c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
    }
    int runToEnd(const std::string &dbPath, std::map<std::string, std::string> extra = {}, int uid = -1) const
    {
        Daemon d;
        spawn(d, dbPath, std::move(extra), uid);
        return d.wait();
    }
    // The map a clean run of the whole stream leaves.
    const std::string &cleanMap()
    {
        if (clean_.empty()) {
            streamAsFile();
            EXPECT_EQ(runToEnd(db("clean.db")), 0) << console();
            clean_ = tqcheck::MapFile(db("clean.db")).dump();
            clearOutputs();
        }
        return clean_;
    }
    // Waits until the message log holds the text.
    bool logShows(const std::string &text, int seconds = 60) const
    {
        const auto until = Clock::now() + std::chrono::seconds(seconds);
        while (Clock::now() < until) {
            if (messageLog().find(text) != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    tqtest::TempRoot root_;
    std::string stream_;
    std::string clean_;
    struct sigaction oldPipe_ {};
};

// ---- databases refused at start-up -----------------------------------------------------------

TEST_F(StorageE2E, UnusableMapDatabasesAreRefusedBeforeAnythingIsWritten)
{
    streamAsFile();
    // As root, permissions bind only other users: the daemon runs as nobody.
    const bool root = ::geteuid() == 0;
    const int uid = root ? 65534 : -1;
    if (root) {
        for (const auto &entry : fs::recursive_directory_iterator(root_.path()))
            ::chmod(entry.path().c_str(), entry.is_directory() ? 0777 : 0666);
        ::chmod(root_.path().c_str(), 0777);
    }
    struct Case {
        const char *name;
        std::function<std::string()> setUp;   // returns the database path
        int exitCode;
        std::string line;
    };
    const std::string foreign = "CREATE TABLE notes(x); INSERT INTO notes VALUES('mine');";
    auto sqliteFile = [](const std::string &path, const std::string &sql) {
        sqlite3 *h = nullptr;
        sqlite3_open_v2(path.c_str(), &h, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        sqlite3_exec(h, sql.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(h);
        ::chmod(path.c_str(), 0666);
        return path;
    };
    const std::vector<Case> cases = {
        {"read-only file",
         [&] {
             const std::string p = db("ro.db");
             EXPECT_EQ(runToEnd(p), 0);
             ::chmod(p.c_str(), 0444);
             return p;
         },
         3, "the file cannot be opened for writing"},
        {"read-only folder",
         [&] {
             fs::create_directories(root_.file("maps/locked"));
             const std::string p = root_.file("maps/locked/map.db");
             EXPECT_EQ(runToEnd(p), 0);
             ::chmod(p.c_str(), 0666);
             ::chmod(root_.file("maps/locked").c_str(), 0555);
             return p;
         },
         3, "cannot be written"},
        {"foreign SQLite file", [&] { return sqliteFile(db("foreign.db"), foreign); }, 3,
         "it is an SQLite database of other tables, not a map (left unchanged)"},
        {"not SQLite",
         [&] {
             tqtest::writeFile(db("text.db"), "just some text\n");
             ::chmod(db("text.db").c_str(), 0666);
             return db("text.db");
         },
         3, "is not an SQLite database"},
        {"folder at the path",
         [&] {
             fs::create_directories(db("folder.db"));
             return db("folder.db");
         },
         3, "is a folder, not a map database file"},
        {"missing folder", [&] { return root_.file("nowhere/map.db"); }, 3, "does not exist"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.setUp();
        const std::string before = tqtest::fileExists(path) && !fs::is_directory(path) ? tqtest::readFile(path) : "";
        const auto filesBefore = std::distance(fs::directory_iterator(root_.file("maps")), fs::directory_iterator());
        clearOutputs();
        EXPECT_EQ(runToEnd(path, {}, uid), c.exitCode) << console();
        const std::string expected = "Map database refused: " + path + ": ";
        EXPECT_NE(messageLog().find(expected), std::string::npos) << messageLog();
        EXPECT_NE(messageLog().find(c.line), std::string::npos) << messageLog();
        EXPECT_NE(console().find(expected), std::string::npos) << console();
        EXPECT_EQ(messageLog().find("Initialization complete."), std::string::npos);
        if (!before.empty()) {
            EXPECT_EQ(tqtest::readFile(path), before);
        }
        EXPECT_EQ(std::distance(fs::directory_iterator(root_.file("maps")), fs::directory_iterator()), filesBefore);
    }
    EXPECT_FALSE(tqtest::fileExists(root_.file("nowhere")));
}

TEST_F(StorageE2E, AMapOfTheMinimalSchemaIsMigratedAndTheRunFillsIt)
{
    {
        sqlite3 *h = nullptr;
        ASSERT_EQ(sqlite3_open(db().c_str(), &h), SQLITE_OK);
        const char *sql =
            "CREATE TABLE map(name TEXT, root_submap INTEGER, is_open INTEGER);"
            "CREATE TABLE fields(id INTEGER PRIMARY KEY, name TEXT UNIQUE, type INTEGER, flags INTEGER);"
            "CREATE TABLE objects(id INTEGER PRIMARY KEY, selection_name TEXT UNIQUE);"
            "CREATE TABLE field_values(object INTEGER, field INTEGER, type INTEGER, is_list INTEGER,"
            " int_value INTEGER, text_value TEXT, PRIMARY KEY(object, field));"
            "CREATE TABLE submaps(id INTEGER PRIMARY KEY, parent_object INTEGER, type INTEGER, name TEXT,"
            " layout INTEGER, background TEXT);"
            "CREATE TABLE symbols(id INTEGER PRIMARY KEY, submap INTEGER, object INTEGER, variety INTEGER,"
            " symbol_type TEXT, label TEXT, status INTEGER, status_source INTEGER, flags INTEGER,"
            " conn_a INTEGER, conn_z INTEGER);"
            "CREATE TABLE events(id INTEGER PRIMARY KEY, code INTEGER, data TEXT);";
        ASSERT_EQ(sqlite3_exec(h, sql, nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(h);
    }
    streamAsFile();
    EXPECT_EQ(runToEnd(db()), 0) << console();
    tqcheck::MapFile map(db());
    EXPECT_EQ(map.rows("PRAGMA user_version"), std::vector<std::string>{"2"});
    cleanMap();
    tqcheck::MapFile clean(db("clean.db"));
    for (const char *sql : {"SELECT * FROM objects ORDER BY id", "SELECT * FROM field_values ORDER BY object, field",
                            "SELECT * FROM submaps ORDER BY id",
                            // Without AUTOINCREMENT the minimal schema may give a deleted symbol's id again.
                            "SELECT submap, object, variety, symbol_type, label, status, status_source FROM symbols"
                            " ORDER BY object, variety"}) {
        SCOPED_TRACE(sql);
        EXPECT_TRUE(map.rows(sql) == clean.rows(sql));
        EXPECT_FALSE(map.rows(sql).empty());
    }
}

TEST_F(StorageE2E, ASecondDaemonOnTheSameMapIsRefused)
{
    const std::string fifo = streamAsPipe();
    Daemon first;
    spawn(first, db());
    Pipe pipe;
    ASSERT_TRUE(pipe.open(fifo));
    // The first holds the map while it waits for its stream.
    const std::string firstLog = messageLog();
    std::remove(root_.file("usr/ov/log/tqdaemon.log").c_str());
    Daemon second;
    spawn(second, db());
    EXPECT_EQ(second.wait(), 4);
    EXPECT_NE(messageLog().find("Map database refused: " + db() + ": another daemon has this map open"),
              std::string::npos)
        << messageLog();
    pipe.write(stream_);
    pipe.close();
    EXPECT_EQ(first.wait(), 0);
    EXPECT_TRUE(tqcheck::MapFile(db()).dump() == cleanMap());
}

// ---- failed commits, a full disk, another writer's lock -------------------------------------

TEST_F(StorageE2E, LogWritesThatFailForAWhileLoseNothing)
{
    for (const auto &fault : {std::make_pair("13", "the map database's disk is full"),
                              std::make_pair("10", "map database I/O error")}) {
        SCOPED_TRACE(fault.second);
        const std::string path = db((std::string("faults-") + fault.first + ".db").c_str());
        streamAsFile();
        clearOutputs();
        EXPECT_EQ(runToEnd(path, {{"OVW_FAULTS", std::string("VfsWrite:stretch=40+4:") + fault.first}}), 0)
            << console();
        const std::string log = messageLog();
        const std::string notStored = std::string(": map changes not stored: ") + fault.second;
        const size_t at = log.find(notStored);
        ASSERT_NE(at, std::string::npos) << log;
        // The line names the frame.
        const size_t lineStart = log.rfind('\n', at) + 1;
        EXPECT_NE(log.substr(lineStart, at - lineStart).find("Frame "), std::string::npos) << log;
        EXPECT_NE(log.find(": map changes stored after "), std::string::npos) << log;
        EXPECT_TRUE(tqcheck::MapFile(path).dump() == cleanMap());
    }
}

// Mounts a small tmpfs for the test's life.
struct SmallDisk {
    std::string path;
    bool mounted = false;
    explicit SmallDisk(const std::string &at) : path(at)
    {
        fs::create_directories(path);
        mounted = ::mount("tmpfs", path.c_str(), "tmpfs", 0, "size=2m") == 0;
    }
    ~SmallDisk()
    {
        if (mounted)
            ::umount2(path.c_str(), MNT_DETACH);
    }
};

TEST_F(StorageE2E, AFullDiskIsWaitedForAndTheMapEndsAsACleanRun)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root; not run as root";
    SmallDisk disk(root_.file("disk"));
    if (!disk.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    const std::string expected = cleanMap();
    const std::string path = disk.path + "/map.db";
    const std::string fifo = streamAsPipe();
    Daemon d;
    spawn(d, path);
    Pipe pipe;
    ASSERT_TRUE(pipe.open(fifo));
    // Fill the disk to the last byte.
    const std::string filler = disk.path + "/filler";
    {
        int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        while (::write(fd, block.data(), 1) > 0) {
        }
        ::close(fd);
    }
    std::thread writer([&] {
        pipe.write(stream_);
        pipe.close();
    });
    const bool waited = logShows(": map changes not stored: the map database's disk is full");
    // A few more tries fail before the space comes back.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::remove(filler.c_str());
    writer.join();
    ASSERT_TRUE(waited) << messageLog();
    EXPECT_EQ(d.wait(), 0) << console();
    EXPECT_NE(messageLog().find(": map changes stored after "), std::string::npos) << messageLog();
    tqcheck::MapFile map(path);
    EXPECT_EQ(map.integrity(), "ok");
    EXPECT_TRUE(map.dump() == expected) << messageLog();
}

TEST_F(StorageE2E, AnotherWritersLockIsWaitedForAndNoMessageIsLost)
{
    const std::string expected = cleanMap();
    const std::string fifo = streamAsPipe();
    Daemon d;
    spawn(d, db());
    Pipe pipe;
    ASSERT_TRUE(pipe.open(fifo));
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open(db().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    std::thread writer([&] {
        pipe.write(stream_);
        pipe.close();
    });
    // Longer than any fixed timeout a writer might have given up after.
    std::this_thread::sleep_for(std::chrono::seconds(7));
    EXPECT_NE(messageLog().find(": waiting for the map database: another program holds the map database's write lock"),
              std::string::npos)
        << messageLog();
    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    writer.join();
    EXPECT_EQ(d.wait(), 0) << console();
    EXPECT_NE(messageLog().find(": the map database can be written again after "), std::string::npos);
    EXPECT_TRUE(tqcheck::MapFile(db()).dump() == expected);
}

// ---- SIGTERM ---------------------------------------------------------------------------------

TEST_F(StorageE2E, SigtermEndsTheRunAfterAWholeMessage)
{
    // The map after each whole message, from the daemon's code in this process.
    streamAsFile();
    std::set<std::string> prefixes;
    {
        std::unique_ptr<tqcheck::MapFile> reader;
        const std::string ref = db("reference.db");
        ASSERT_EQ(tqcheck::runDaemonInProcess(ref, [&] {
                      if (!reader)
                          reader.reset(new tqcheck::MapFile(ref));
                      prefixes.insert(reader->dump());
                  }),
                  0);
        prefixes.insert(tqcheck::MapFile(ref).dump());
    }
    // Once while messages arrive, once while the daemon waits for more.
    for (const bool idle : {false, true}) {
        SCOPED_TRACE(idle ? "waiting for the stream" : "in the middle of the stream");
        clearOutputs();
        const std::string path = db(idle ? "idle.db" : "busy.db");
        const std::string fifo = streamAsPipe();
        Daemon d;
        spawn(d, path);
        Pipe pipe;
        ASSERT_TRUE(pipe.open(fifo));
        std::thread writer([&] { pipe.write(stream_); });
        if (idle) {
            ASSERT_TRUE(logShows("Initialization complete."));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(idle ? 3000 : 150));
        ::kill(d.pid, SIGTERM);
        const int code = d.wait();
        pipe.close();
        writer.join();
        EXPECT_EQ(code, 0) << console();
        const std::string log = messageLog();
        EXPECT_NE(log.find("Stopped by signal 15 after frame "), std::string::npos) << log;
        EXPECT_NE(log.find("Ending tqdaemon.exe"), std::string::npos) << log;
        tqcheck::MapFile map(path);
        EXPECT_EQ(map.integrity(), "ok");
        EXPECT_TRUE(prefixes.count(map.dump()) == 1) << "not the map of a whole number of messages";
        if (idle) {
            EXPECT_TRUE(map.dump() == tqcheck::MapFile(db("reference.db")).dump());
        }
    }
    // While a commit that keeps failing is waited for: nothing of that
    // message is written.
    clearOutputs();
    streamAsFile();
    Daemon d;
    spawn(d, db("stuck.db"), {{"OVW_FAULTS", "VfsWrite:stretch=30+1000000:13"}});
    ASSERT_TRUE(logShows(": map changes not stored: the map database's disk is full")) << messageLog();
    ::kill(d.pid, SIGTERM);
    EXPECT_EQ(d.wait(), 0) << console();
    const std::string log = messageLog();
    EXPECT_NE(log.find(": map changes not stored: the map database's disk is full; stopping"), std::string::npos)
        << log;
    EXPECT_NE(log.find("Stopped by signal 15 after frame "), std::string::npos) << log;
    tqcheck::MapFile map(db("stuck.db"));
    EXPECT_EQ(map.integrity(), "ok");
    EXPECT_TRUE(prefixes.count(map.dump()) == 1) << "not the map of a whole number of messages";
}

}  // namespace
