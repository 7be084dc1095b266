// The private server the PostgreSQL tests share: reached through its socket
// alone, maps apart, committed data kept across a crash of the server, and
// never left running by a test program that was killed.
#include "support/pgserver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const auto queryOne = &tqtest::PgServer::value;

TEST(PgServer, ServesMapsApartThroughItsSocketAlone)
{
    ASSERT_PG_SERVER();
    auto &pg = tqtest::PgServer::shared();
    const std::string a = pg.freshMap(), b = pg.freshMap();
    ASSERT_FALSE(a.empty()) << pg.error();
    ASSERT_NE(a, b);
    EXPECT_EQ(queryOne(a, "SHOW listen_addresses"), "");
    EXPECT_NE(queryOne(a, "SELECT current_schema()"), queryOne(b, "SELECT current_schema()"));
    ASSERT_EQ(queryOne(a, "CREATE TABLE t (v int)"), "");
    EXPECT_EQ(queryOne(b, "SELECT count(*) FROM t").rfind("error: ", 0), 0u) << "a map's table seen from another";
    const std::string db = pg.freshDatabase();
    ASSERT_FALSE(db.empty()) << pg.error();
    EXPECT_EQ(queryOne(db, "SELECT count(*) FROM pg_namespace WHERE nspname LIKE 'map%'"), "0");
}

TEST(PgServer, KeepsCommittedRowsAcrossACrash)
{
    ASSERT_PG_SERVER();
    auto &pg = tqtest::PgServer::shared();
    const std::string m = pg.freshMap();
    ASSERT_EQ(queryOne(m, "CREATE TABLE t AS SELECT 42 AS v"), "");
    ASSERT_TRUE(pg.restart("immediate")) << pg.error();
    EXPECT_EQ(queryOne(m, "SELECT v FROM t"), "42");
}

// Whether a process runs (a zombie left for a parent that never reaps it
// does not).
bool processRuns(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidField, name, state;
    return stat >> pidField >> name >> state && state != "Z";
}

TEST(PgServer, IsStoppedAndRemovedWhenItsTestProgramIsKilled)
{
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t program = fork();
    ASSERT_GE(program, 0);
    if (program == 0) {
        // A test program holding a server, killed before it can stop it.
        close(fds[0]);
        auto server = tqtest::PgServer::startPrivate();
        const std::string line = (server->ok() ? server->dir() : "error: " + server->error()) + "\n";
        if (write(fds[1], line.data(), line.size()) < 0)
            _exit(1);
        for (;;)
            pause();
    }
    close(fds[1]);
    std::string dir;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        dir += c;
    close(fds[0]);
    const std::string pidFile = dir + "/data/postmaster.pid";
    std::ifstream pidText(pidFile);
    pid_t postmaster = 0;
    pidText >> postmaster;
    kill(program, SIGKILL);
    waitpid(program, nullptr, 0);
    ASSERT_GT(postmaster, 0) << dir;
    // The guard stops the server and removes its folder.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while ((processRuns(postmaster) || std::filesystem::exists(dir)) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(processRuns(postmaster)) << "the server of the killed program still runs";
    EXPECT_FALSE(std::filesystem::exists(dir)) << dir;
}

}  // namespace
