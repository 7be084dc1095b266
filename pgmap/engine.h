// The PostgreSQL engine: one libpq connection, its prepared statements
// (each SQLite-dialect text translated once: pgmap/dialect.cpp), its
// transactions, the map's lock, and reconnection after a lost connection.
#ifndef TQ_PGMAP_ENGINE_H
#define TQ_PGMAP_ENGINE_H

#include "mapdb/engine.h"

#include <libpq-fe.h>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace pgmap {

// The statement text for PostgreSQL: $N parameters, the dialect's forms.
struct Translated {
    std::string sql;
    int params = 0;                 // the highest parameter number
    std::vector<bool> used;         // used[i]: $i+1 appears in the text
    bool returnsId = false;         // an insertion that reports its id (RETURNING id)
    bool ignoreConflict = false;    // INSERT OR IGNORE: a conflict is no failure
};
Translated translate(const char *sql);

// The result code for a failed command: what its SQLSTATE (or a lost
// connection) means to the platform.
int resultFor(PGconn *conn, const PGresult *res);

class PgEngine;

class PgStatement : public mapdb::EngineStatement {
public:
    PgStatement(PgEngine &engine, const char *sql, int serial);
    ~PgStatement() override;
    void bindInt(int i, int64_t v) override;
    void bindText(int i, const char *v, size_t n) override;
    void bindNull(int i) override;
    int step() override;
    void reset() override;
    int64_t i64(int col) const override;
    bool isNull(int col) const override;
    const char *text(int col) const override;
    // The connection was made anew: prepared again at the next step.
    void forgetPrepared() { prepared_ = false; }
    bool translatedOk() const { return !t_.sql.empty(); }

private:
    int prepare();   // kResultDone or the failure code
    PgEngine &engine_;
    Translated t_;
    std::string name_;
    bool prepared_ = false;
    std::vector<std::string> values_;
    std::vector<bool> null_;
    PGresult *res_ = nullptr;
    int row_ = -1;          // the row the columns read (-1: none yet)
    bool ran_ = false;
};

class PgEngine : public mapdb::Engine {
public:
    // A reader's engine (takesLock false) never takes the map's lock, nor
    // after a reconnection, and is never the map's sole writer.
    PgEngine(PGconn *conn, std::string uri, int64_t lockKey, bool takesLock = true);
    ~PgEngine() override;

    mapdb::EngineStatement *prepare(const char *sql) override;
    int exec(const char *sql) override;
    int begin() override;
    int beginRead() override;
    int commit() override;
    void rollback() override;
    int64_t lastInsertId() const override { return lastId_; }
    int64_t changes() const override { return changes_; }
    const char *lastError() const override { return error_.c_str(); }
    std::string where() const override;
    bool soleWriter() const override { return takesLock_; }
    bool listen(const char *channel) override;
    int noticeSocket() const override { return PQsocket(conn_); }
    int takeNotices() override;

    PGconn *conn() const { return conn_; }
    // Notes the outcome of a command: its code (kResultDone when it
    // succeeded), the error text, a lost connection.
    int note(const PGresult *res, bool ok);
    void setLastId(int64_t id) { lastId_ = id; }
    void setChanges(int64_t n) { changes_ = n; }
    void setError(std::string text) { error_ = std::move(text); }
    // Runs a command without parameters; kResultDone or the failure code.
    int command(const char *sql);
    // Takes the map's lock on this connection; false when another holds it.
    bool lock(std::string &err);

private:
    // Makes the connection anew after it was lost: statements are prepared
    // again and the lock taken again. kResultDone, or the code that tells.
    int reconnect();

    PGconn *conn_;
    std::string uri_;
    int64_t lockKey_;
    bool takesLock_;
    bool broken_ = false;
    bool inTxn_ = false;
    int64_t lastId_ = 0;
    int64_t changes_ = 0;
    std::string error_;
    int serial_ = 0;
    std::vector<std::string> channels_;   // listened to, again after a reconnection
    std::string schema_;                  // the map's: the payload of its notices
    std::unordered_map<const char *, std::unique_ptr<PgStatement>> cache_;
};

}  // namespace pgmap

#endif
