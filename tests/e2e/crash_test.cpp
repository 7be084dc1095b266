// Crash consistency: tqdaemon killed with SIGKILL at random moments of a
// long stream leaves a map database that passes SQLite's integrity check and
// equals the map after some number k of whole messages: no message is ever
// half applied.
//
// The stream reaches the daemon through a named pipe: each round writes a
// random prefix of it (often ending inside a frame), lets the daemon work
// for a random part of the time that prefix takes, and kills it. The maps
// after each message come from one run of the daemon's code inside this
// process, dumped after every loop turn; a clean run of the program checks
// that reference against the real binary first.
#include "e2e/inprocess.h"
#include "e2e/map_check.h"
#include "e2e/topology_stream.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <random>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using tqtest::freePort;

using Clock = std::chrono::steady_clock;

constexpr int kKills = 50;

// End offsets of the frames of an encoded stream.
std::vector<size_t> frameEnds(const std::string &s)
{
    std::vector<size_t> ends;
    size_t at = 0;
    auto le32 = [&s](size_t pos) {
        int32_t v = 0;
        std::memcpy(&v, s.data() + pos, 4);
        return v;
    };
    while (at + 4 <= s.size()) {
        const int32_t header = le32(at);
        at += 4;
        const bool api = s[at] == 3;
        at += static_cast<size_t>(header);
        if (api) {
            at += 4 + static_cast<size_t>(le32(at));
        }
        ends.push_back(at);
    }
    return ends;
}

// A child process, killed and reaped if the test leaves early.
struct Child {
    pid_t pid = -1;
    ~Child()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    // True when it has ended (status filled); with block false, only checks.
    bool ended(int &status, bool block)
    {
        if (pid <= 0)
            return true;
        if (::waitpid(pid, &status, block ? 0 : WNOHANG) != pid)
            return false;
        pid = -1;
        return true;
    }
};

struct Fd {
    int fd = -1;
    ~Fd() { reset(); }
    void reset()
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
};

void removeDb(const std::string &path)
{
    for (const char *suffix : {"", "-wal", "-shm"})
        std::remove((path + suffix).c_str());
}

class CrashConsistency : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_.writeServices("TQDAEMON " + std::to_string(freePort()) + "/tcp\n");
        root_.writeOidToSym(tqtest::readFile(tqtest::sourcePath("examples/oid_to_sym")));
        tqtest::writeFile(root_.file("in.jsonl"), tqcheck::topologyStream(8, 12));
        tqtest::RunResult enc = tqtest::run(
            {tqtest::binPath("tqstream"), "encode", "-i", root_.file("in.jsonl"), "-o", root_.file("stream.bin")});
        ASSERT_EQ(enc.exitCode, 0) << enc.err;
        stream_ = tqtest::readFile(root_.file("stream.bin"));
        ends_ = frameEnds(stream_);
        ASSERT_EQ(ends_.back(), stream_.size());
        ASSERT_GE(ends_.size(), 300u);
    }

    std::map<std::string, std::string> env(const std::string &db) const
    {
        return {{"OVW_MAPDB", db}, {"TQ_DRIVE", "C:"}, {"TQ_ROOT", root_.path()}};
    }

    void clearOutputs() const
    {
        for (const char *f : {"tq_std.trc", "tq_n2o.trc", "usr/ov/log/tqdaemon.log"})
            std::remove(root_.file(f).c_str());
    }

    // Starts the daemon with stdin, stdout and stderr on files of the root.
    pid_t spawn(const std::string &db) const
    {
        const std::string bin = tqtest::binPath("tqdaemon");
        const std::string console = root_.file("console.txt");
        const auto vars = env(db);
        pid_t pid = ::fork();
        if (pid == 0) {
            for (const auto &kv : vars)
                ::setenv(kv.first.c_str(), kv.second.c_str(), 1);
            int in = ::open("/dev/null", O_RDONLY);
            int out = ::open(console.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (in >= 0)
                ::dup2(in, 0);
            if (out >= 0) {
                ::dup2(out, 1);
                ::dup2(out, 2);
            }
            ::execl(bin.c_str(), bin.c_str(), static_cast<char *>(nullptr));
            ::_exit(127);
        }
        return pid;
    }

    tqtest::TempRoot root_;
    std::string stream_;
    std::vector<size_t> ends_;
};

TEST_F(CrashConsistency, KilledDaemonLeavesTheMapOfWholeMessages)
{
    // The reference: the fresh map before any turn committed, and the map
    // after each loop turn.
    std::string freshMap;
    {
        const std::string scratch = root_.file("fresh.db");
        ::setenv("OVW_MAPDB", scratch.c_str(), 1);
        ASSERT_EQ(OVwInit(), 0);
        ASSERT_EQ(OVwDone(), 0);
        ::unsetenv("OVW_MAPDB");
        freshMap = tqcheck::MapFile(scratch).dump();
    }
    const std::string refDb = root_.file("reference.db");
    tqtest::writeFile(root_.file("tqdaemon.file"), stream_);
    std::vector<std::string> turnMaps;
    {
        std::unique_ptr<tqcheck::MapFile> reader;
        const int code = tqcheck::runDaemonInProcess(refDb, [&] {
            if (!reader)
                reader.reset(new tqcheck::MapFile(refDb));
            turnMaps.push_back(reader->dump());
        });
        ASSERT_EQ(code, 0);
    }
    // One turn per frame, and one more that meets the end of the stream.
    ASSERT_EQ(turnMaps.size(), ends_.size() + 1);
    ASSERT_EQ(turnMaps.back(), tqcheck::MapFile(refDb).dump());
    EXPECT_NE(turnMaps.front(), turnMaps.back());

    std::map<std::string, int> whichPrefix;   // map -> the first k that gives it
    whichPrefix.emplace(freshMap, 0);
    for (size_t k = 0; k < turnMaps.size(); ++k)
        whichPrefix.emplace(turnMaps[k], static_cast<int>(k));
    // The stream changes the map often enough to tell prefixes apart.
    EXPECT_GT(whichPrefix.size(), ends_.size() / 2);

    // The program itself over the whole stream gives the reference's map.
    clearOutputs();
    const std::string cleanDb = root_.file("clean.db");
    const auto started = Clock::now();
    tqtest::RunResult clean = tqtest::run({tqtest::binPath("tqdaemon")}, env(cleanDb), "", 300);
    const double perFrame = std::chrono::duration<double>(Clock::now() - started).count() / ends_.size();
    ASSERT_EQ(clean.exitCode, 0) << clean.err;
    ASSERT_EQ(tqcheck::MapFile(cleanDb).dump(), turnMaps.back());

    // The kills.
    const std::string fifo = root_.file("tqdaemon.file");
    std::remove(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &ignore, &old);

    const unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    const std::string db = root_.file("crash.db");
    int killed = 0, behindWriter = 0, finished = 0;
    std::set<int> prefixesSeen;
    for (int round = 0; round < kKills; ++round) {
        removeDb(db);
        clearOutputs();
        // Most rounds stop the writer somewhere in the stream, half of them
        // inside a frame; some write it all and close, so the daemon ends.
        const bool whole = round % 8 == 7;
        const size_t frames = whole ? ends_.size() : std::uniform_int_distribution<size_t>(0, ends_.size() - 1)(rng);
        size_t bytes = frames == 0 ? 0 : ends_[frames - 1];
        if (!whole && rng() % 2 == 0) {
            const size_t next = ends_[frames] - bytes;
            bytes += std::uniform_int_distribution<size_t>(1, next - 1)(rng);
        }
        SCOPED_TRACE("round " + std::to_string(round) + ": " + std::to_string(frames) + " whole frames, " +
                     std::to_string(bytes) + " bytes");

        Child child;
        child.pid = spawn(db);
        ASSERT_GT(child.pid, 0);
        // The daemon opens the pipe once its start-up is done.
        Fd pipe;
        for (int i = 0; i < 30000 && pipe.fd < 0; ++i) {
            pipe.fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (pipe.fd < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ASSERT_GE(pipe.fd, 0) << "the daemon never opened its stream";
        ::fcntl(pipe.fd, F_SETFL, ::fcntl(pipe.fd, F_GETFL) & ~O_NONBLOCK);
        for (size_t at = 0; at < bytes;) {
            const ssize_t n = ::write(pipe.fd, stream_.data() + at, bytes - at);
            if (n <= 0)
                break;
            at += static_cast<size_t>(n);
        }

        int status = 0;
        if (whole) {
            pipe.reset();
            ASSERT_TRUE(child.ended(status, true));
            ASSERT_TRUE(WIFEXITED(status)) << tqtest::readFile(root_.file("console.txt"));
            EXPECT_EQ(WEXITSTATUS(status), 0) << tqtest::readFile(root_.file("console.txt"));
            ++finished;
        } else {
            const double work = perFrame * static_cast<double>(frames) * 1.2;
            std::this_thread::sleep_for(
                std::chrono::duration<double>(std::uniform_real_distribution<double>(0.0, work)(rng)));
            // It must still be running: it waits for the rest of the stream.
            ASSERT_FALSE(child.ended(status, false)) << tqtest::readFile(root_.file("console.txt"));
            ::kill(child.pid, SIGKILL);
            ASSERT_TRUE(child.ended(status, true));
            ASSERT_TRUE(WIFSIGNALED(status));
            pipe.reset();
            ++killed;
        }

        tqcheck::MapFile map(db);
        ASSERT_TRUE(map.ok() && map.hasMap()) << "no map database after the daemon opened its stream";
        ASSERT_EQ(map.integrity(), "ok");
        const std::vector<std::string> dangling = map.danglingReferences();
        ASSERT_TRUE(dangling.empty()) << dangling.front();
        auto found = whichPrefix.find(map.dump());
        ASSERT_TRUE(found != whichPrefix.end()) << "the map is not the map of any whole number of messages";
        // Never ahead of what was written.
        EXPECT_LE(found->second, static_cast<int>(frames));
        if (found->second < static_cast<int>(frames))
            ++behindWriter;
        prefixesSeen.insert(found->second);
    }
    ::sigaction(SIGPIPE, &old, nullptr);

    std::printf("[ crash    ] %d kills and %d clean ends over %zu messages: every map whole; %d kills came before the"
                " daemon had caught up with the writer; %zu distinct message counts\n",
                killed, finished, ends_.size(), behindWriter, prefixesSeen.size());
    EXPECT_EQ(killed + finished, kKills);
}

}  // namespace
