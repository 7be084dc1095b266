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
    bool write = false;             // INSERT, UPDATE or DELETE returning nothing
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
    // The result of this statement's run, read by the engine in a pipeline.
    void takeResult(PGresult *res) { res_ = res; }
    // Sends the statement ahead in the pipeline; the sync that reads its
    // result makes it the statement's run (tookAhead), which step() then
    // reads without a round trip. kResultDone or the failure code.
    int sendRead();
    void tookAhead(PGresult *res)
    {
        PQclear(res_);
        res_ = res;
        row_ = -1;
        ran_ = true;
    }

private:
    int prepare();   // kResultDone or the failure code
    int sendPrepared(); // in a pipeline: the statement prepared and sent
    // The run's result is in res_: the rows changed, the id inserted.
    int finish();
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
    int commitThenRead(mapdb::EngineStatement &read) override;
    void rollback() override;
    int64_t lastInsertId() const override { return lastId_; }
    int64_t changes() override;
    const char *lastError() const override { return error_.c_str(); }
    std::string where() const override;
    bool soleWriter() const override { return takesLock_; }
    void loseNextCommitReply() override { loseReply_ = true; }
    std::string takeNotice() override { return std::move(notice_); }
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

    // Inside a transaction the connection is in pipeline mode: commands are
    // sent ahead and their results read at the next sync.
    bool pipelined() const { return pipelined_; }
    // What a result sent ahead is for.
    enum class Ahead { Command, Prepare, Write, Xid, Commit, Read };
    void sentAhead(Ahead kind, PgStatement *st = nullptr) { ahead_.push_back({kind, st}); }
    // Ends the pipeline's segment and reads every result sent ahead, then
    // the result of `last` (sent after them) into it. kResultDone, or the
    // code of the first failure (the commands after it were not run).
    int sync(PgStatement *last = nullptr);
    // A write was sent ahead (kResultDone: its failure comes later).
    int sentWrite();
    // A command that may write was sent in the write transaction.
    void mayHaveWritten()
    {
        if (writing_ && xid_ == 0)
            xidDirty_ = true;
    }

private:
    // Makes the connection anew after it was lost: statements are prepared
    // again and the lock taken again. kResultDone, or the code that tells.
    int reconnect();
    // Sends a command without parameters ahead in the pipeline.
    int sendAhead(const char *sql, Ahead kind);
    // Leaves pipeline mode once every result has been read.
    void leavePipeline();
    // The reply to COMMIT was lost with the connection: connects again and
    // asks the server what became of transaction xid. kResultDone when it
    // committed, kResultUnreachable when it did not (the turn is made
    // again) or the process was asked to stop before the server answered.
    int settleLostCommit(int oldBackend);
    // commit(), with `after` sent after COMMIT in the same segment (null: none).
    int commitWith(PgStatement *after);
    static constexpr size_t kLongestRun = 256;
    struct Sent {
        Ahead kind;
        PgStatement *st;
    };

    PGconn *conn_;
    std::string uri_;
    int64_t lockKey_;
    bool takesLock_;
    bool broken_ = false;
    bool inTxn_ = false;
    bool pipelined_ = false;
    std::vector<Sent> ahead_;
    int held_ = 0;              // a failure read ahead that no caller was told yet
    std::string heldError_;
    int64_t xid_ = 0;           // the write transaction's id (0: none yet)
    bool writing_ = false;      // the transaction is the writer's (begin())
    bool xidDirty_ = false;     // sent what may have written since the id was last asked
    bool committed_ = false;    // the last sync read a COMMIT that took effect
    bool loseReply_ = false;
    std::string notice_;
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
