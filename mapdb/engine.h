// The seam between the map platform's logic and a server database engine.
// The logic (session, objects, fields, symbols, events, history, run
// counters) is written once against Db and Stmt (mapdb/db.h) in SQLite's SQL
// with ?N parameters; SQLite is Db's own engine, and a server engine (pgmap/
// on PostgreSQL) implements Engine: it owns its connection, its dialect
// (translating the statements it is given, once each), its schema and its
// migrations.
//
// Statement results are the codes below, whatever the engine: a step gives
// a row, the end, or a failure code; a server engine maps its errors onto
// the failure codes by what they mean to the platform (a cause that may pass,
// a constraint, damage). The codes are SQLite's numbers, so the SQLite path
// passes its own results through unchanged.
//
// Header only: an engine library needs nothing else of mapdb.
#ifndef TQ_MAPDB_ENGINE_H
#define TQ_MAPDB_ENGINE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace mapdb {

// Step results and failure codes (SQLite's primary result codes).
constexpr int kResultError = 1;        // any failure without a more precise code
constexpr int kResultBusy = 5;         // another writer, a conflict: may pass
constexpr int kResultReadOnly = 8;     // the database cannot be written: ends the session
constexpr int kResultIoError = 10;     // the storage failed: may pass
// The server does not answer or the connection to it was lost: may pass
// (an extended I/O error code SQLite itself never gives).
constexpr int kResultUnreachable = kResultIoError | (99 << 8);
constexpr int kResultCorrupt = 11;     // damage: ends the session
constexpr int kResultFull = 13;        // no room left: may pass
constexpr int kResultConstraint = 19;  // a uniqueness (or other) constraint refused the write
constexpr int kResultRow = 100;        // a step gave a row
constexpr int kResultDone = 101;       // a step ended the statement

// One prepared statement of an engine, kept by it for the connection's
// lifetime. Parameters are numbered from 1, columns from 0. A step after the
// last row gives kResultDone; reset() makes it ready to bind and run again.
class EngineStatement {
public:
    virtual ~EngineStatement() = default;
    virtual void bindInt(int i, int64_t v) = 0;
    virtual void bindText(int i, const char *v, size_t n) = 0;
    virtual void bindNull(int i) = 0;
    // kResultRow, kResultDone or a failure code (Engine::lastError() tells).
    virtual int step() = 0;
    virtual void reset() = 0;
    virtual int64_t i64(int col) const = 0;
    virtual bool isNull(int col) const = 0;
    // The column's text (null for SQL NULL), valid until the next step or reset.
    virtual const char *text(int col) const = 0;
};

// A connection to a server database holding one map. Its transactions are
// the loop turn's: begin() for writing, beginRead() for a turn that only
// reads so far (begin() after it makes it the write transaction).
class Engine {
public:
    virtual ~Engine() = default;
    // The statement for this SQL text (SQLite's dialect, ?N parameters),
    // prepared once and kept, keyed by the text's address (call sites pass
    // literals); null when it cannot be prepared (lastError() tells).
    virtual EngineStatement *prepare(const char *sql) = 0;
    // Runs a statement that returns no rows (savepoints and the like).
    virtual int exec(const char *sql) = 0;
    // kResultDone, or the failure code (a lost connection: kResultIoError).
    // A server engine may send BEGIN, and writes whose results the logic does
    // not read, ahead with the next statement that returns rows: a failure of
    // such a write is then the failure of the next statement run, or of
    // commit(), with the write's own code, so the turn fails as it would have.
    virtual int begin() = 0;
    virtual int beginRead() = 0;
    virtual int commit() = 0;
    // Commits, and may run `read` (a statement that returns rows, without
    // parameters) after the commit in the same round trip: then its rows are
    // what its next step() returns; else it runs when stepped.
    virtual int commitThenRead(EngineStatement &read)
    {
        (void)read;
        return commit();
    }
    virtual void rollback() = 0;
    // The id the last insertion into a table with an id column made.
    virtual int64_t lastInsertId() const = 0;
    // The rows the last insertion, update or deletion changed (a server
    // engine may have to wait for the writes it sent ahead).
    virtual int64_t changes() = 0;
    virtual const char *lastError() const = 0;
    // What the map is called in messages (the URI without its password).
    virtual std::string where() const = 0;
    // Whether objects can be kept in a cache across turns: true while this
    // connection is the map's only writer.
    virtual bool soleWriter() const = 0;
    // What the last commit had to do that the log should tell (empty:
    // nothing); told once.
    virtual std::string takeNotice() { return {}; }
    // Test hook: the connection is lost right after the next commit is
    // sent, before its reply is read (as a network failure would do).
    virtual void loseNextCommitReply() {}

    // Notices: the server's word that another connection committed something
    // of interest. listen() subscribes to a channel about this map (kept
    // across reconnections); false when the engine gives no notices there.
    virtual bool listen(const char *channel) { (void)channel; return false; }
    // The connection's socket, to wait on for notices; -1 when none.
    virtual int noticeSocket() const { return -1; }
    // Takes the notices that came, without waiting: how many were about this
    // map; -1 when the connection is lost (the next transaction reconnects
    // and listens again; notices sent meanwhile are lost).
    virtual int takeNotices() { return 0; }
    // Takes the notices already read, else waits at most timeoutMs for one
    // on noticeSocket(): as takeNotices (0 when none came in that time).
    int waitForNotices(int timeoutMs);
};

}  // namespace mapdb

#endif
