#include "support/pgserver.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <pwd.h>
#include <thread>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tqtest {

namespace {

// The server's superuser, and the database the tests' maps live in.
constexpr const char *kSuperuser = "postgres";
constexpr const char *kMapsDb = "tq";
// Unix socket paths are limited to about 100 bytes.
constexpr size_t kSocketPathRoom = 90;

// The server binaries: TQ_PG_BINDIR, else the folder found when the build
// was configured.
std::string serverBinDir()
{
    const char *env = std::getenv("TQ_PG_BINDIR");
    if (env != nullptr && *env != '\0')
        return env;
    return TQ_PG_BINDIR;
}

// Quotes a value for a libpq URI query (percent-encodes all but the safe).
std::string uriEncode(const std::string &s)
{
    static const char *hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '/' || c == '-' || c == '_' || c == '.')
            out += static_cast<char>(c);
        else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

// Whether a test asked for the program's server.
bool g_asked = false;

// Stops the program's server once its tests have ended (if one asked for it:
// a program whose tests need none starts none).
class PgServerEnvironment : public ::testing::Environment {
public:
    void TearDown() override
    {
        if (g_asked)
            PgServer::shared().stop();
    }
};
[[maybe_unused]] ::testing::Environment *const g_pgEnvironment =
    ::testing::AddGlobalTestEnvironment(new PgServerEnvironment);

}  // namespace

PgServer &PgServer::shared()
{
    static PgServer server;
    if (!g_asked) {
        g_asked = true;
        server.start();
    }
    return server;
}

PgServer::~PgServer() { stop(); }

bool PgServer::runServerProgram(const std::vector<std::string> &args, std::string &out, int timeoutSeconds) const
{
    // As root, the programs run as the server's user, in its folder (a
    // working folder it may not enter makes them complain).
    std::vector<std::string> argv;
    if (geteuid() == 0)
        argv = {"/usr/sbin/runuser", "-u", kSuperuser, "--"};
    argv.insert(argv.end(), {"/usr/bin/timeout", std::to_string(timeoutSeconds), "/usr/bin/env", "-C", dir_,
                             bin_ + "/" + args[0]});
    argv.insert(argv.end(), args.begin() + 1, args.end());
    // The server that pg_ctl starts outlives it: its output goes to a file
    // and the wait is for the program alone, not for the end of its output.
    const std::string outPath = dir_ + "/command.out";
    std::vector<char *> cargv;
    for (auto &a : argv)
        cargv.push_back(a.data());
    cargv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int fd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_RDONLY);
        if (fd < 0 || null < 0)
            _exit(127);
        dup2(null, 0);
        dup2(fd, 1);
        dup2(fd, 2);
        for (int other = 3; other < 1024; ++other)
            close(other);
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) {
        out = "cannot run " + args[0];
        return false;
    }
    out = readFile(outPath);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::unique_ptr<PgServer> PgServer::startPrivate()
{
    std::unique_ptr<PgServer> server(new PgServer);
    server->start();
    return server;
}

bool PgServer::makeFolder()
{
    const char *tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    if (base.size() + 30 > kSocketPathRoom)
        base = "/tmp";
    std::string tmpl = base + "/tq-pg-XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) {
        error_ = "cannot make a folder for the PostgreSQL server under " + base;
        return false;
    }
    dir_ = tmpl;
    startGuard();
    if (geteuid() == 0) {
        const passwd *pw = getpwnam(kSuperuser);
        if (pw == nullptr || chown(dir_.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
            error_ = "running as root, the PostgreSQL server needs the user 'postgres' (the postgresql package "
                     "makes it) to own " + dir_;
            return false;
        }
    }
    return true;
}

void PgServer::startGuard()
{
    // The pipe's write end stays in this process alone (close-on-exec, so the
    // programs the tests run never hold it): its end is this process's end.
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return;
    // Everything the guard runs is made before the fork: the test program
    // may have threads, so the guard allocates nothing.
    std::vector<std::string> stop;
    if (geteuid() == 0)
        stop = {"/usr/sbin/runuser", "-u", kSuperuser, "--"};
    stop.insert(stop.end(), {"/usr/bin/env", "-C", "/", bin_ + "/pg_ctl", "stop", "-w", "-t", "60", "-m", "immediate",
                             "-D", dir_ + "/data"});
    std::vector<std::string> remove = {"/bin/rm", "-rf", dir_};
    auto pointers = [](std::vector<std::string> &args) {
        std::vector<char *> out;
        for (auto &a : args)
            out.push_back(a.data());
        out.push_back(nullptr);
        return out;
    };
    std::vector<char *> stopArgv = pointers(stop), removeArgv = pointers(remove);
    const char *dir = dir_.c_str();
    auto run = [](char *const *argv) {
        const pid_t pid = fork();
        if (pid == 0) {
            execv(argv[0], argv);
            _exit(127);
        }
        int status = 0;
        if (pid > 0)
            waitpid(pid, &status, 0);
    };
    const pid_t first = fork();
    if (first == 0) {
        // A new session, then a grandchild: neither a signal to the test's
        // process group nor a kill of its process tree reaches the guard.
        setsid();
        if (fork() != 0)
            _exit(0);
        for (int fd = 0; fd < 1024; ++fd)
            if (fd != fds[0])
                close(fd);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        // Nothing is ever written: the read ends when the test program
        // closes its end (stop()) or ends. A folder gone was stopped and
        // removed by stop().
        char word = 0;
        while (read(fds[0], &word, 1) < 0 && errno == EINTR) {
        }
        if (access(dir, F_OK) != 0)
            _exit(0);
        run(stopArgv.data());
        run(removeArgv.data());
        _exit(0);
    }
    close(fds[0]);
    if (first < 0) {
        close(fds[1]);
        return;
    }
    waitpid(first, nullptr, 0);
    guard_ = fds[1];
}

void PgServer::dismissGuard()
{
    if (guard_ >= 0)
        close(guard_);
    guard_ = -1;
}

bool PgServer::launch()
{
    std::string out;
    if (!runServerProgram({"pg_ctl", "start", "-w", "-t", "120", "-D", dir_ + "/data", "-l", dir_ + "/server.log"},
                          out)) {
        error_ = "pg_ctl start failed: " + out + "\n" + readFile(dir_ + "/server.log");
        return false;
    }
    running_ = true;
    return true;
}

bool PgServer::start()
{
    bin_ = serverBinDir();
    if (bin_.empty() || !fs::exists(bin_ + "/pg_ctl") || !fs::exists(bin_ + "/initdb")) {
        error_ = "the PostgreSQL server binaries (initdb, pg_ctl) are not installed (looked in '" + bin_ +
                 "'; scripts/deps installs the postgresql package, TQ_PG_BINDIR names another folder)";
        return false;
    }
    if (!makeFolder())
        return false;
    std::string out;
    if (!runServerProgram({"initdb", "-D", dir_ + "/data", "-U", kSuperuser, "-A", "trust", "-E", "SQL_ASCII",
                           "--locale=C", "--no-sync", "--no-instructions"},
                          out)) {
        error_ = "initdb failed: " + out;
        return false;
    }
    // A Unix socket in the folder and no network; fsync off (the tests'
    // crashes are server crashes, whose commits the system's cache keeps),
    // synchronous commit on so a commit reported is a commit kept.
    {
        std::string conf = "listen_addresses = ''\n"
                           "unix_socket_directories = '" + dir_ + "'\n"
                           "port = 5432\n"
                           "fsync = off\n"
                           "full_page_writes = off\n"
                           "max_connections = 40\n"
                           "shared_buffers = 32MB\n";
        std::string path = dir_ + "/data/postgresql.conf";
        writeFile(path, readFile(path) + conf);
    }
    if (!launch())
        return false;
    std::string err;
    if (!exec(std::string("CREATE DATABASE ") + kMapsDb, err)) {
        error_ = "cannot create the tests' database: " + err;
        stop();
        return false;
    }
    return true;
}

std::unique_ptr<PgServer> PgServer::startStandby(const std::string &name, bool synchronous)
{
    std::unique_ptr<PgServer> standby(new PgServer);
    if (!running_) {
        standby->error_ = "the primary is not running";
        return standby;
    }
    standby->bin_ = bin_;
    if (!standby->makeFolder())
        return standby;
    // -R leaves standby.signal and the connection to this server (named
    // `name` through application_name) in the copy's settings.
    std::string out;
    if (!standby->runServerProgram({"pg_basebackup", "-D", standby->dir_ + "/data", "-R", "-X", "stream", "-c",
                                    "fast", "--no-sync", "-d",
                                    "host=" + dir_ + " port=5432 user=" + kSuperuser + " application_name=" + name},
                                   out)) {
        standby->error_ = "pg_basebackup failed: " + out;
        return standby;
    }
    // The copy holds this server's settings: the socket goes in the
    // standby's own folder.
    const std::string path = standby->dir_ + "/data/postgresql.conf";
    writeFile(path, readFile(path) + "unix_socket_directories = '" + standby->dir_ + "'\n");
    if (!standby->launch())
        return standby;
    // Set after the copy, so that a promoted standby does not wait for a
    // standby of its own.
    std::string err;
    if (synchronous &&
        (!exec("ALTER SYSTEM SET synchronous_standby_names = '" + name + "'", err) ||
         !exec("SELECT pg_reload_conf()", err) ||
         !waitFor("SELECT sync_state FROM pg_stat_replication WHERE application_name = '" + name + "'", "sync",
                  err))) {
        standby->error_ = "the standby did not become synchronous: " + err;
        standby->stop();
    }
    return standby;
}

bool PgServer::kill()
{
    std::string out;
    if (!running_ ||
        !runServerProgram({"pg_ctl", "stop", "-w", "-t", "60", "-m", "immediate", "-D", dir_ + "/data"}, out)) {
        error_ = "pg_ctl stop -m immediate failed: " + out;
        return false;
    }
    running_ = false;
    return true;
}

bool PgServer::promote()
{
    std::string out;
    if (!running_ || !runServerProgram({"pg_ctl", "promote", "-w", "-t", "120", "-D", dir_ + "/data"}, out)) {
        error_ = "pg_ctl promote failed: " + out;
        return false;
    }
    return true;
}

std::string PgServer::multiHostUri(const std::vector<const PgServer *> &servers, const std::string &db,
                                   const std::string &schema)
{
    std::string hosts, ports;
    for (const PgServer *s : servers) {
        hosts += (hosts.empty() ? "" : ",") + uriEncode(s->dir_);
        ports += (ports.empty() ? "" : ",") + std::string("5432");
    }
    std::string u = "postgresql:///" + db + "?host=" + hosts + "&port=" + ports + "&user=" + kSuperuser +
                    "&target_session_attrs=read-write";
    if (!schema.empty())
        u += "&options=" + uriEncode("-csearch_path=" + schema);
    return u;
}

std::string PgServer::uri(const std::string &db, const std::string &schema) const
{
    std::string u = "postgresql:///" + db + "?host=" + uriEncode(dir_) + "&port=5432&user=" + kSuperuser;
    if (!schema.empty())
        u += "&options=" + uriEncode("-csearch_path=" + schema);
    return u;
}

bool PgServer::exec(const std::string &sql, std::string &err, const std::string &db, std::string *value) const
{
    if (!running_) {
        err = error_.empty() ? "the PostgreSQL server is not running" : error_;
        return false;
    }
    PGconn *c = PQconnectdb(uri(db).c_str());
    bool ok = PQstatus(c) == CONNECTION_OK;
    if (ok) {
        PGresult *r = PQexec(c, sql.c_str());
        ok = PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK;
        if (ok && value != nullptr)
            *value = PQntuples(r) > 0 && PQnfields(r) > 0 ? PQgetvalue(r, 0, 0) : "";
        PQclear(r);
    }
    if (!ok)
        err = PQerrorMessage(c);
    PQfinish(c);
    return ok;
}

bool PgServer::waitFor(const std::string &sql, const std::string &want, std::string &err, const std::string &db,
                       int timeoutSeconds) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    for (;;) {
        std::string value;
        if (exec(sql, err, db, &value)) {
            if (value == want)
                return true;
            err = "the last answer was '" + value + "', not '" + want + "'";
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

std::string PgServer::value(const std::string &uri, const std::string &sql)
{
    PGconn *c = PQconnectdb(uri.c_str());
    std::string v = "error: " + std::string(PQerrorMessage(c));
    if (PQstatus(c) == CONNECTION_OK) {
        PGresult *r = PQexec(c, sql.c_str());
        if (PQresultStatus(r) == PGRES_TUPLES_OK)
            v = PQntuples(r) > 0 ? PQgetvalue(r, 0, 0) : "";
        else if (PQresultStatus(r) == PGRES_COMMAND_OK)
            v = "";
        else
            v = "error: " + std::string(PQresultErrorMessage(r));
        PQclear(r);
    }
    PQfinish(c);
    return v;
}

std::string PgServer::freshMap()
{
    std::string schema = "map" + std::to_string(++serial_);
    std::string err;
    if (!exec("CREATE SCHEMA " + schema, err, kMapsDb)) {
        error_ = "cannot create a map's schema: " + err;
        return "";
    }
    return uri(kMapsDb, schema);
}

std::string PgServer::freshDatabase()
{
    std::string db = "db" + std::to_string(++serial_);
    std::string err;
    if (!exec("CREATE DATABASE " + db, err)) {
        error_ = "cannot create a database: " + err;
        return "";
    }
    return uri(db);
}

bool PgServer::restart(const char *mode)
{
    if (!running_)
        return false;
    std::string out;
    if (!runServerProgram({"pg_ctl", "restart", "-w", "-t", "120", "-m", mode, "-D", dir_ + "/data", "-l",
                           dir_ + "/server.log"},
                          out)) {
        error_ = "pg_ctl restart failed: " + out;
        return false;
    }
    return true;
}

void PgServer::stop()
{
    if (running_) {
        std::string out;
        if (!runServerProgram({"pg_ctl", "stop", "-w", "-t", "60", "-m", "fast", "-D", dir_ + "/data"}, out))
            runServerProgram({"pg_ctl", "stop", "-w", "-t", "60", "-m", "immediate", "-D", dir_ + "/data"}, out);
        running_ = false;
    }
    if (!dir_.empty()) {
        std::error_code ec;
        fs::remove_all(dir_, ec);
        dir_.clear();
    }
    dismissGuard();
}

}  // namespace tqtest
