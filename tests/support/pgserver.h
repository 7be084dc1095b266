// A private PostgreSQL server for the tests of one program: initdb and
// pg_ctl in a temporary folder, reached only through a Unix socket in that
// folder (listen_addresses='': no network). Run as the `postgres` user when
// the tests run as root (the server refuses root). Started at first use,
// stopped (fast, then immediate) and removed when the program's tests end.
// A guard process watches the test program: when it ends without stopping
// the server (killed by a signal, a timeout), the guard stops the server
// (immediate) and removes its folder.
// Each test takes a fresh map (a new schema) or a fresh database of its own.
//
// Where the server binaries are missing the server is not ok() and error()
// says why: tests assert ok() (ASSERT_PG_SERVER), so they fail, never skip.
// POSIX hosts only.
#ifndef TQ_TESTS_SUPPORT_PGSERVER_H
#define TQ_TESTS_SUPPORT_PGSERVER_H

#include <memory>
#include <string>
#include <vector>

namespace tqtest {

class PgServer {
public:
    // The program's server, started (and waited for: pg_ctl -w) at the first
    // call; a start that failed is not tried again.
    static PgServer &shared();
    // A server of the caller's own, started like the shared one (for tests
    // that crash or replace it). Not ok() (error() says why) on failure.
    static std::unique_ptr<PgServer> startPrivate();

    bool ok() const { return running_; }
    const std::string &error() const { return error_; }
    // The folder holding the data directory ("data"), the socket and the
    // server's log ("server.log").
    const std::string &dir() const { return dir_; }

    // A connection URI to database `db` as the superuser, with `schema` first
    // on the search path when given (the map of that name).
    std::string uri(const std::string &db, const std::string &schema = "") const;
    // A URI to a new, empty schema in the tests' database ("tq"): a new map.
    // Empty (and error() set) on failure.
    std::string freshMap();
    // A URI to a new, empty database. Empty (and error() set) on failure.
    std::string freshDatabase();
    // Runs SQL in database `db` (the server's own "postgres" by default);
    // false with the server's message in `err` on failure. With `value`, the
    // first column of the first row is stored there ("" when none).
    bool exec(const std::string &sql, std::string &err, const std::string &db = "postgres",
              std::string *value = nullptr) const;
    // Runs a query every 20 ms until its single value is `want`, for at most
    // `timeoutSeconds`; false (with the last value or error in `err`) then.
    bool waitFor(const std::string &sql, const std::string &want, std::string &err,
                 const std::string &db = "postgres", int timeoutSeconds = 60) const;

    // A streaming standby of this server: a base backup (pg_basebackup -R)
    // in a folder of its own, with its own socket there, started as a hot
    // standby that serves reads and known to this server as `name`. With
    // `synchronous`, this server's commits then wait for the standby
    // (synchronous_standby_names), and the call returns once the standby
    // streams as the synchronous one. Not ok() (error() says why) on failure.
    std::unique_ptr<PgServer> startStandby(const std::string &name, bool synchronous);
    // Ends the server at once, as the loss of its machine would
    // (pg_ctl stop -m immediate); its folder stays until stop().
    bool kill();
    // Makes a standby the primary (pg_ctl promote, waited for).
    bool promote();
    // A URI to database `db` over several servers, which libpq tries in
    // order, keeping the first that accepts writes
    // (host=A,B&target_session_attrs=read-write; socket folders as hosts).
    static std::string multiHostUri(const std::vector<const PgServer *> &servers, const std::string &db,
                                    const std::string &schema = "");

    // The first value a query on `uri` returns ("" for none or a command),
    // or "error: ..." when it fails.
    static std::string value(const std::string &uri, const std::string &sql);

    // Restarts the server (mode "fast" or "immediate": a crash, recovered at
    // the start) and waits until it accepts connections again.
    bool restart(const char *mode);
    // Stops the server (fast, then immediate if that fails) and removes its
    // folder; the destructor does the same.
    void stop();

    ~PgServer();
    PgServer(const PgServer &) = delete;
    PgServer &operator=(const PgServer &) = delete;

private:
    PgServer() = default;
    bool start();
    // Makes the server's temporary folder, owned by its user; false (with
    // error_ set) on failure.
    bool makeFolder();
    // Starts the guard of the folder (and of the server that will run in
    // it), in a session of its own so that it outlives the test program.
    void startGuard();
    // Lets the guard go once the folder is removed: it ends, doing nothing.
    void dismissGuard();
    // pg_ctl start, waited for; sets running_.
    bool launch();
    // Runs a server program (pg_ctl, initdb) as the server's user; false
    // with its output in `out` when it fails.
    bool runServerProgram(const std::vector<std::string> &args, std::string &out, int timeoutSeconds = 120) const;

    std::string bin_;
    std::string dir_;
    bool running_ = false;
    int serial_ = 0;
    std::string error_;
    int guard_ = -1;   // the write end of the guard's pipe (its only one)
};

}  // namespace tqtest

// Fails the test (never skips) when the program's server could not start.
#define ASSERT_PG_SERVER()                                                               \
    ASSERT_TRUE(::tqtest::PgServer::shared().ok()) << ::tqtest::PgServer::shared().error()

#endif
