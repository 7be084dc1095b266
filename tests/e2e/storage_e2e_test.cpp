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
        port_ = freePort();
        root_.writeServices("TQDAEMON " + std::to_string(port_) + "/tcp\n");
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
        extra.emplace("TQ_ROOT", root_.path());
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
    // Starts the daemon on the map with the stream as a named pipe and opens
    // the pipe's writing end, which succeeds once the daemon's start-up is done.
    bool startOnPipe(Daemon &d, Pipe &pipe, const std::string &dbPath, std::map<std::string, std::string> extra = {})
    {
        const std::string fifo = streamAsPipe();
        spawn(d, dbPath, std::move(extra));
        return pipe.open(fifo);
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
    // The maps after each whole message of the stream, from the daemon's
    // code in this process (reference.db holds the whole run).
    const std::set<std::string> &prefixes()
    {
        if (prefixes_.empty()) {
            streamAsFile();
            std::unique_ptr<tqcheck::MapFile> reader;
            const std::string ref = db("reference.db");
            EXPECT_EQ(tqcheck::runDaemonInProcess(ref, [&] {
                          if (!reader)
                              reader.reset(new tqcheck::MapFile(ref));
                          prefixList_.push_back(reader->dump());
                      }),
                      0);
            prefixList_.push_back(tqcheck::MapFile(ref).dump());
            prefixes_.insert(prefixList_.begin(), prefixList_.end());
        }
        return prefixes_;
    }
    // The counts of the run summary line: frames read, applied, refused,
    // failed, skipped (empty when there is no summary).
    std::vector<long long> summary() const
    {
        const std::string log = messageLog();
        const size_t at = log.rfind("Run summary: ");
        std::vector<long long> n(5, -1);
        if (at == std::string::npos ||
            std::sscanf(log.c_str() + at, "Run summary: %lld frames read, %lld applied, %lld refused, %lld failed, "
                                          "%lld skipped",
                        &n[0], &n[1], &n[2], &n[3], &n[4]) != 5)
            return {};
        return n;
    }
    static int count(const std::string &text, const std::string &needle)
    {
        int n = 0;
        for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
            ++n;
        return n;
    }
    // Waits until the map holds a committed message (an object).
    static bool framesStored(const std::string &path, int seconds = 60)
    {
        const auto until = Clock::now() + std::chrono::seconds(seconds);
        while (Clock::now() < until) {
            sqlite3 *h = nullptr;
            long long frames = 0;
            if (sqlite3_open_v2(path.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK)
                sqlite3_exec(
                    h, "SELECT count(*) FROM objects",
                    [](void *out, int, char **v, char **) {
                        *static_cast<long long *>(out) = v[0] != nullptr ? std::atoll(v[0]) : 0;
                        return 0;
                    },
                    &frames, nullptr);
            sqlite3_close(h);
            if (frames > 0)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
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
    std::set<std::string> prefixes_;
    std::vector<std::string> prefixList_;   // the map after 0, 1, 2... messages
    uint16_t port_ = 0;
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
        {"truncated map",
         [&] {
             const std::string p = db("cut.db");
             EXPECT_EQ(runToEnd(p), 0);
             ::truncate(p.c_str(), static_cast<off_t>(fs::file_size(p) / 2));
             ::chmod(p.c_str(), 0666);
             return p;
         },
         3, "it is damaged: "},
        {"damaged page",
         [&] {
             const std::string p = db("damaged.db");
             EXPECT_EQ(runToEnd(p), 0);
             const std::string garbage(2048, '\xa5');
             int fd = ::open(p.c_str(), O_WRONLY);
             EXPECT_EQ(::pwrite(fd, garbage.data(), garbage.size(), static_cast<off_t>(fs::file_size(p) / 2 & ~2047)),
                       2048);
             ::close(fd);
             ::chmod(p.c_str(), 0666);
             return p;
         },
         3, "it is damaged: "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.setUp();
        const std::string before = tqtest::fileExists(path) && !fs::is_directory(path) ? tqtest::readFile(path) : "";
        const auto filesBefore = std::distance(fs::directory_iterator(root_.file("maps")), fs::directory_iterator());
        clearOutputs();
        EXPECT_EQ(runToEnd(path, {}, uid), c.exitCode) << console();
        const std::string expected = "Map database refused: " + path + ": ";
        EXPECT_EQ(count(messageLog(), expected), 1) << messageLog();
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
    EXPECT_EQ(map.rows("PRAGMA user_version"), std::vector<std::string>{"3"});
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
    Daemon first;
    Pipe pipe;
    ASSERT_TRUE(startOnPipe(first, pipe, db()));
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
    // Writes of the log that fail, and one statement in the middle of a turn
    // that fails (a full disk for one write) while the turn's commit would
    // succeed: no part of that message may be stored. The failing statement
    // is one from the middle of the run (a clean run makes about 700).
    int n = 0;
    for (const auto &fault : {std::make_pair("VfsWrite:stretch=40+4:13", "the map database's disk is full"),
                              std::make_pair("VfsWrite:stretch=40+4:10", "map database I/O error"),
                              std::make_pair("Statement:nth=350:13", "the map database's disk is full")}) {
        SCOPED_TRACE(fault.first);
        const std::string path = db(("faults-" + std::to_string(++n) + ".db").c_str());
        streamAsFile();
        clearOutputs();
        EXPECT_EQ(runToEnd(path, {{"OVW_FAULTS", fault.first}}), 0) << console();
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
    // Fills the disk with one file of whole blocks and, with `toTheByte`,
    // single bytes after them; false when the file cannot be made.
    bool fill(const std::string &filler, bool toTheByte) const
    {
        int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd < 0)
            return false;
        const std::string block(4096, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        while (toTheByte && ::write(fd, block.data(), 1) > 0) {
        }
        ::close(fd);
        return true;
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
    Daemon d;
    Pipe pipe;
    ASSERT_TRUE(startOnPipe(d, pipe, path));
    // Fill the disk to the last byte.
    const std::string filler = disk.path + "/filler";
    ASSERT_TRUE(disk.fill(filler, true));
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

    // A new map on a full disk is refused, and no empty file is left behind.
    ASSERT_TRUE(disk.fill(filler, true));
    clearOutputs();
    EXPECT_EQ(runToEnd(disk.path + "/new.db"), 1) << console();
    EXPECT_NE(messageLog().find("Map database refused: " + disk.path + "/new.db: "), std::string::npos)
        << messageLog();
    EXPECT_FALSE(fs::exists(disk.path + "/new.db"));
    EXPECT_FALSE(fs::exists(disk.path + "/new.db-wal"));
}

TEST_F(StorageE2E, AFullLogDiskLosesWholeEntriesCountsThemAndTheMapIsKept)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a small tmpfs needs root; not run as root";
    const std::string expected = cleanMap();
    clearOutputs();
    SmallDisk disk(root_.file("usr/ov/log"));
    if (!disk.mounted)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    // The log's disk holds the first entries, then is full to the last byte.
    // A log of whole pages: the disk's blocks are all in use (no room left
    // at the end of the log's last page either).
    const std::string header = "Quillon - tqdaemon Message Log\n";
    const std::string entry = "12/09/26 00:00:00: tqdaemon.exe: ";
    tqtest::writeFile(root_.file("usr/ov/log/tqdaemon.log"),
                      header + entry + std::string(4096 - header.size() - entry.size() - 1, 'x') + "\n");
    const std::string filler = disk.path + "/filler";
    ASSERT_TRUE(disk.fill(filler, false));
    Daemon d;
    Pipe pipe;
    ASSERT_TRUE(startOnPipe(d, pipe, db()));
    pipe.write(stream_.substr(0, stream_.size() / 2));
    // The daemon goes on: the map takes the frames while the log cannot.
    ASSERT_TRUE(framesStored(db()));
    std::remove(filler.c_str());
    pipe.write(stream_.substr(stream_.size() / 2));
    pipe.close();
    EXPECT_EQ(d.wait(), 0) << console();
    EXPECT_TRUE(tqcheck::MapFile(db()).dump() == expected);
    EXPECT_EQ(count(console(), "the message log " + root_.file("usr/ov/log/tqdaemon.log") + " cannot be written"), 1)
        << console();
    const std::string log = messageLog();
    EXPECT_EQ(count(log, " log entries were lost\n"), 1) << log;
    EXPECT_NE(log.find("log entries lost\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Ending tqdaemon.exe\n"), std::string::npos) << log;
    // Every entry is whole: each line after the header is a stamped entry.
    size_t at = log.find('\n') + 1;
    while (at < log.size()) {
        const size_t end = log.find('\n', at);
        ASSERT_NE(end, std::string::npos) << "the log ends inside an entry";
        EXPECT_NE(log.substr(at, end - at).find(": tqdaemon.exe: "), std::string::npos) << log.substr(at, end - at);
        at = end + 1;
    }
}

TEST_F(StorageE2E, AnotherWritersLockIsWaitedForAndNoMessageIsLost)
{
    const std::string expected = cleanMap();
    Daemon d;
    Pipe pipe;
    ASSERT_TRUE(startOnPipe(d, pipe, db()));
    // The daemon writes at its start (schema, run counters): the lock is
    // taken once it is ready for the stream, waiting for a turn it may be
    // finishing.
    ASSERT_TRUE(logShows("Initialization complete.")) << messageLog();
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open(db().c_str(), &other), SQLITE_OK);
    sqlite3_busy_timeout(other, 60000);
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
    const std::set<std::string> &prefixes = this->prefixes();
    // Once while messages arrive, once while the daemon waits for more.
    for (const bool idle : {false, true}) {
        SCOPED_TRACE(idle ? "waiting for the stream" : "in the middle of the stream");
        clearOutputs();
        const std::string path = db(idle ? "idle.db" : "busy.db");
        Daemon d;
        Pipe pipe;
        ASSERT_TRUE(startOnPipe(d, pipe, path));
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
    // The frame whose changes were not stored is not counted as handled.
    const std::vector<long long> n = summary();
    ASSERT_EQ(n.size(), 5u) << log;
    EXPECT_EQ(n[1] + n[2] + n[3] + n[4], n[0] - 1) << log;
}

// ---- acknowledgements -------------------------------------------------------------------------

// The stream's frames, each whole (header length, header, and for an API
// message its payload length and payload).
std::vector<std::string> framesOf(const std::string &stream)
{
    auto le32 = [&](size_t at) {
        uint32_t v = 0;
        std::memcpy(&v, stream.data() + at, 4);
        return static_cast<size_t>(v);
    };
    std::vector<std::string> frames;
    for (size_t at = 0; at + 4 <= stream.size();) {
        size_t end = at + 4 + le32(at);
        if (stream[at + 4] == 3)
            end += 4 + le32(end);
        frames.push_back(stream.substr(at, end - at));
        at = end;
    }
    return frames;
}

TEST_F(StorageE2E, APeerGetsTwoAcknowledgementsPerMessageTheSecondOnceTheMapHoldsIt)
{
    prefixes();
    const std::vector<std::string> frames = framesOf(stream_);
    // One map before each turn (the last one finds the stream's end) and the end's.
    ASSERT_GE(prefixList_.size(), frames.size() + 1);
    Daemon d;
    Pipe pipe;
    ASSERT_TRUE(startOnPipe(d, pipe, db()));
    const int peer = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port_);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(peer, reinterpret_cast<sockaddr *>(&to), sizeof to), 0) << std::strerror(errno);
    timeval wait{60, 0};
    ::setsockopt(peer, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    auto readAck = [&] {
        char ack[4];
        size_t got = 0;
        while (got < 4) {
            const ssize_t n = ::recv(peer, ack + got, 4 - got, 0);
            if (n <= 0)
                return false;
            got += static_cast<size_t>(n);
        }
        return std::memcmp(ack, "0\n\0\0", 4) == 0;
    };
    for (size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE("message " + std::to_string(i + 1));
        pipe.write(frames[i]);
        ASSERT_TRUE(readAck());
        ASSERT_TRUE(readAck());
        // The second came after the message's changes were committed.
        EXPECT_TRUE(tqcheck::MapFile(db()).dump() == prefixList_[i + 1]);
    }
    pipe.close();
    EXPECT_EQ(d.wait(), 0) << console();
    char extra;
    EXPECT_EQ(::recv(peer, &extra, 1, 0), 0) << "no more acknowledgements, and the connection closed";
    ::close(peer);

    // tqstream send does the same for a writer: each frame after the last was stored.
    clearOutputs();
    const std::string path = db("sent.db");
    const std::string fifo2 = streamAsPipe();
    Daemon sent;
    spawn(sent, path);
    // It listens before it connects to the map.
    ASSERT_TRUE(logShows("Initialization complete."));
    const tqtest::RunResult r = tqtest::run({tqtest::binPath("tqstream"), "send", "-i", root_.file("stream.bin"),
                                             "--to", fifo2, "--port", std::to_string(port_)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(count(r.out, ": stored\n"), static_cast<int>(frames.size())) << r.out;
    EXPECT_EQ(sent.wait(), 0) << console();
    EXPECT_TRUE(tqcheck::MapFile(path).dump() == prefixList_.back());
}

// ---- the map database failing for good during a run ------------------------------------------

TEST_F(StorageE2E, AMapDatabaseThatFailsForGoodEndsTheRunWithCodeFiveAndAWholeMessagePrefix)
{
    const std::set<std::string> &prefixes = this->prefixes();
    struct Case {
        const char *name;
        std::map<std::string, std::string> env;
        std::function<void(const std::string &)> during;   // with the map's path, after 10 frames
        const char *cause;
    };
    const std::vector<Case> cases = {
        {"a commit that fails with corruption", {{"OVW_FAULTS", "VfsWrite:stretch=40+1:11"}}, nullptr,
         ": the commit failed: "},
        {"damage met by a statement", {{"OVW_FAULTS", "Statement:nth=300:11"}}, nullptr, ""},
        {"the map file moved", {},
         [&](const std::string &p) { ASSERT_EQ(::rename(p.c_str(), (p + ".moved").c_str()), 0); },
         ": the file is gone from its path"},
        {"the map file replaced", {},
         [&](const std::string &p) {
             // The path names the map or the new file at every moment: a
             // moment with nothing there would read as the file gone.
             ASSERT_EQ(::link(p.c_str(), (p + ".moved").c_str()), 0);
             tqtest::writeFile(p + ".new", "");
             ASSERT_EQ(::rename((p + ".new").c_str(), p.c_str()), 0);
         },
         ": the path names another file"},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        clearOutputs();
        const std::string path = db(("unusable-" + std::to_string(++n) + ".db").c_str());
        Daemon d;
        Pipe pipe;
        ASSERT_TRUE(startOnPipe(d, pipe, path, c.env));
        const size_t half = c.during ? stream_.size() / 2 : 0;
        if (c.during) {
            pipe.write(stream_.substr(0, half));
            ASSERT_TRUE(framesStored(path));
            c.during(path);
        }
        std::thread writer([&] {
            pipe.write(stream_.substr(half));
            pipe.close();
        });
        const int code = d.wait();
        pipe.close();
        writer.join();
        EXPECT_EQ(code, 5) << console();
        const std::string log = messageLog();
        const std::string line = ": map changes not stored: the map database cannot be used any more: " + path;
        EXPECT_EQ(count(log, line), 1) << log;
        EXPECT_NE(log.find(line + c.cause), std::string::npos) << log;
        EXPECT_NE(console().find(line), std::string::npos) << console();
        const std::vector<long long> counts = summary();
        ASSERT_EQ(counts.size(), 5u) << log;
        EXPECT_LT(counts[1], static_cast<long long>(prefixes.size()) - 1) << log;
        // The frame in hand is not counted: it was not stored.
        EXPECT_EQ(counts[1] + counts[2] + counts[3] + counts[4], counts[0] - 1) << log;
        tqcheck::MapFile map(c.during ? path + ".moved" : path);
        EXPECT_EQ(map.integrity(), "ok");
        EXPECT_TRUE(prefixes.count(map.dump()) == 1) << "not the map of a whole number of messages";
    }
}

// ---- start-up checks -------------------------------------------------------------------------

TEST_F(StorageE2E, AKilledRunIsNamedByTheNextAndAMissingRootOrOversizedTablesAreRefused)
{
    // After a kill -9 the next start says so, with the last frame the counters knew.
    const std::string fifo = streamAsPipe();
    {
        Daemon d;
        spawn(d, db());
        Pipe pipe;
        ASSERT_TRUE(pipe.open(fifo));
        pipe.write(stream_.substr(0, stream_.size() / 2));
        ASSERT_TRUE(framesStored(db()));
        ::kill(d.pid, SIGKILL);
        EXPECT_EQ(d.wait(), 128 + SIGKILL);
    }
    clearOutputs();
    streamAsFile();
    EXPECT_EQ(runToEnd(db()), 0) << console();
    EXPECT_EQ(count(messageLog(), "the previous run ended without its ending lines after frame "), 1) << messageLog();
    clearOutputs();
    EXPECT_EQ(runToEnd(db()), 0) << console();
    EXPECT_EQ(count(messageLog(), "the previous run ended without"), 0) << messageLog();

    // A root that does not exist is not made.
    {
        Daemon d;
        spawn(d, db(), {{"TQ_ROOT", root_.file("no-such-root")}});
        EXPECT_EQ(d.wait(), 1);
        EXPECT_NE(console().find("TQ_ROOT " + root_.file("no-such-root") + " is not an existing folder"),
                  std::string::npos)
            << console();
        EXPECT_FALSE(fs::exists(root_.file("no-such-root")));
    }
    // Table files past 16 MiB are not read into memory.
    for (const char *file : {"usr/ov/conf/c/oid_to_sym", "etc/services"}) {
        SCOPED_TRACE(file);
        clearOutputs();
        const std::string before = tqtest::readFile(root_.file(file));
        ASSERT_EQ(::truncate(root_.file(file).c_str(), 17 * 1024 * 1024), 0);
        const bool isServices = std::string(file) == "etc/services";
        EXPECT_EQ(runToEnd(db()), isServices ? 1 : 0) << console();
        EXPECT_NE(messageLog().find(root_.file(file) + " is larger than 16777216 bytes: not read"), std::string::npos)
            << messageLog();
        tqtest::writeFile(root_.file(file), before);
    }
}

}  // namespace
