// The database wrapper of the map platform: the connection with its
// statement cache and object cache, transactions, savepoints and statements.
// Its own engine is SQLite; a server engine (mapdb/engine.h) takes its place
// when the map lives on a database server, behind the same calls.
#ifndef TQ_MAPDB_DB_H
#define TQ_MAPDB_DB_H

#include "mapdb/engine.h"
#include "mapdb/errors.h"
#include "mapdb/hooks.h"
#include "ovw/ovw.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace mapdb {

class Stmt;

// One connection: SQLite's, or a server engine's. Statements are prepared
// once and kept: the cache is keyed by the address of the SQL text, so every
// call site passes a string literal.
class Db {
public:
    Db() = default;
    ~Db();
    Db(const Db &) = delete;
    Db &operator=(const Db &) = delete;

    // Works through a server engine's connection from now on (in place of a
    // SQLite file).
    void useEngine(std::unique_ptr<Engine> engine) { engine_ = std::move(engine); }
    Engine *engine() const { return engine_.get(); }

    // Opens the file (create: allowed to create it) and applies the pragmas.
    bool open(const std::string &path, bool create, std::string &err);
    // Opens the file without changing it (no pragma that writes); configure()
    // then applies the pragmas.
    bool openPlain(const std::string &path, bool create, std::string &err);
    bool configure(std::string &err);
    // A statement failed with this result (engine.h's codes): a cause that
    // may pass marks the turn as failed (see takeTurnFault).
    void noteFailure(int sqliteResult);
    // The platform code of the first failure that may pass since the last
    // call (0: none). A turn with one is rolled back, never committed in part.
    int takeTurnFault()
    {
        int code = turnFault_;
        turnFault_ = 0;
        return code;
    }
    int turnFault() const { return turnFault_; }
    // The first failure since the last call that makes the map database
    // unusable for the rest of the run (damage met by a statement, a file
    // that became read-only), as a text; empty when none. A turn with one is
    // rolled back and the session ends.
    bool damaged() const { return !damage_.empty(); }
    std::string takeDamage()
    {
        std::string text;
        text.swap(damage_);
        return text;
    }
    // The engine's text of the last failed statement.
    const std::string &lastFailure() const { return lastFailure_; }
    int lastFailureCode() const { return lastFailureCode_; }
    // The busy handler waited this long again for another writer's lock;
    // the wait ended (the lock was taken or not).
    void busyWaited(int milliseconds);
    void busyWaitEnded();
    void close();
    // The SQLite connection (null with a server engine), for what only
    // SQLite has: its file checks and log.
    sqlite3 *handle() const { return db_; }
    sqlite3_stmt *prepare(const char *sql);
    bool exec(const char *sql);             // runs a statement that returns no rows
    const char *lastError() const;
    // The id the last insertion made, and the rows the last write changed.
    int64_t lastInsertId() const;
    int64_t changes() const;
    // The session ends: SQLite's log is copied into the database and cut to
    // nothing, a reader holding it waited for a second at most.
    void truncateLog();
    // SQLite's check of every page's structure, within the budget: empty
    // when it passes, else what it found first; cut tells that the budget
    // ended it early.
    std::string checkPages(std::chrono::milliseconds budget, bool &cut);
    // Once per process, before the first connection: SQLite keeps no memory
    // statistics (no global lock per allocation).
    static void configureLibrary();

    // Write transaction: begin() opens one when none is open, or turns the
    // read transaction of beginRead() into one (ending it and beginning anew,
    // as a read snapshot cannot always become a write).
    bool begin();
    // Read transaction: the reads until commit() share one snapshot and one
    // set of locks; takes no lock that writers wait for.
    bool beginRead();
    bool commit();
    // As commit(); a server may run `look` (a read without parameters) in
    // the commit's round trip, after it: the caller steps it either way.
    bool commit(Stmt &look);
    void rollback();
    bool inTransaction() const { return inTxn_; }
    bool inWriteTransaction() const { return inTxn_ && writing_; }
    // How many transactions were rolled back: caches of what the database
    // holds compare it to know when to forget.
    uint64_t rollbacks() const { return rollbacks_; }
    // The last object found to exist in the open transaction (0: none): a
    // message sets many values on one object, and each write checks it.
    // Forgotten when the transaction or a savepoint ends without its changes,
    // and when an object is deleted.
    OVwObjectId knownObject() const { return inTxnNow() ? knownObject_ : 0; }
    void setKnownObject(OVwObjectId id) { knownObject_ = inTxn_ ? id : 0; }
    void forgetKnownObject() { knownObject_ = 0; }
    // Symbols and submaps read or created in the open transaction: an
    // update of such a symbol need not ask whether it exists when it changes
    // nothing, so on a server it is sent ahead without a round trip, nor
    // need a symbol made on such a submap. Forgotten as the known object is,
    // and when symbols or submaps are deleted.
    bool knownSymbol(OVwSymbolId id) const { return knownSymbolSubmap(id) != 0; }
    // The submap a known symbol is on (0: not known).
    OVwSubmapId knownSymbolSubmap(OVwSymbolId id) const
    {
        auto it = knownSymbols_.find(id);
        return inTxnNow() && it != knownSymbols_.end() ? it->second : 0;
    }
    void rememberSymbol(OVwSymbolId id, OVwSubmapId submap)
    {
        if (!inTxnNow() || id == 0 || submap == 0)
            return;
        if (knownSymbols_.size() >= kKnownLimit)
            knownSymbols_.clear();
        knownSymbols_[id] = submap;
    }
    void forgetSymbols()
    {
        knownSymbols_.clear();
        turnSymbols_.clear();
    }
    bool knownSubmap(OVwSubmapId id) const { return inTxnNow() && knownSubmaps_.count(id) != 0; }
    void rememberSubmap(OVwSubmapId id)
    {
        if (!inTxnNow() || id == 0)
            return;
        if (knownSubmaps_.size() >= kKnownLimit)
            knownSubmaps_.clear();
        knownSubmaps_.insert(id);
    }
    void forgetSubmaps() { knownSubmaps_.clear(); }
    // The field values of objects the open transaction read whole (a
    // server's: one round trip for all of an object's values, where a
    // message reads several). Forgotten for an object whose values are
    // written or deleted, and as the known object is.
    struct Value {
        OVwFieldId field = 0;
        int type = 0;
        bool isList = false;
        int64_t intValue = 0;
        bool hasText = false;
        std::string text;
    };
    using Values = std::vector<Value>;
    const Values *turnValues(OVwObjectId object) const { return findInTurn(turnValues_, object); }
    void keepTurnValues(OVwObjectId object, Values values) { keepInTurn(turnValues_, object, std::move(values)); }
    void forgetTurnValues(OVwObjectId object) { turnValues_.erase(object); }
    // The symbols of objects read whole in the open transaction, as
    // OVwGetSymbolsByObject gives them. All are forgotten at any change of
    // a symbol, and as the known object is.
    struct SymbolRow {
        OVwSymbolId id = 0;
        OVwSubmapId submap = 0;
        OVwObjectId object = 0;
        int statusSource = 0;
        int variety = 0;
        int64_t flags = 0;
        int status = 0;
        bool hasType = false, hasLabel = false;
        std::string type, label;
        OVwSymbolId connA = 0, connZ = 0;
    };
    using SymbolRows = std::vector<SymbolRow>;
    const SymbolRows *turnSymbols(OVwObjectId object) const { return findInTurn(turnSymbols_, object); }
    void keepTurnSymbols(OVwObjectId object, SymbolRows rows) { keepInTurn(turnSymbols_, object, std::move(rows)); }
    void forgetTurnSymbols() { turnSymbols_.clear(); }
    // A savepoint was rolled back: what caches hold may be gone.
    void savepointRolledBack()
    {
        ++rollbacks_;
        forgetTurn();
    }

    // Objects known to exist, by id and by selection name, kept across
    // transactions while no other connection writes to the database (its
    // data version tells, once per transaction, after the transaction has
    // begun reading). Empty after any rollback. Only consulted inside a
    // transaction that has read; else null / 0 and the caller asks the
    // database.
    const std::string *cachedObjectName(OVwObjectId id);
    OVwObjectId cachedObjectId(const char *name);
    void rememberObject(OVwObjectId id, const char *name);
    void forgetObject(OVwObjectId id);

private:
    // The log is copied into the database (a passive checkpoint, which waits
    // for no reader) once it holds kCheckpointFrames pages (2 MiB of 2 KiB
    // pages). Past kHeldFrames a reader holds it: that is told once (and
    // when it is back), and a copy is tried only every kCheckpointFrames
    // more pages, so each commit costs what it did.
    static constexpr int kCheckpointFrames = 1024;
    static constexpr int kHeldFrames = 2048;
    static int logCommitted(void *self, sqlite3 *db, const char *schema, int frames);
    bool commitWith(EngineStatement *look);
    void logGrew(int frames);
    bool objectCacheUsable();
    void clearObjectCache();

    sqlite3 *db_ = nullptr;
    std::unique_ptr<Engine> engine_;
    int turnFault_ = 0;
    bool logHeld_ = false;
    int nextCheckpointAt_ = 0;
    std::string damage_;
    std::string lastFailure_;
    int lastFailureCode_ = 0;
    int64_t busyWaitedMs_ = 0;
    uint64_t rollbacks_ = 0;
    OVwObjectId knownObject_ = 0;
    // Forgets what the open transaction knew (it ended, or a savepoint
    // rolled back).
    void forgetTurn()
    {
        knownObject_ = 0;
        knownSymbols_.clear();
        knownSubmaps_.clear();
        turnValues_.clear();
        turnSymbols_.clear();
    }
    static constexpr size_t kKnownLimit = 4096;   // symbols, and submaps, known in a turn
    std::unordered_map<OVwSymbolId, OVwSubmapId> knownSymbols_;
    std::unordered_set<OVwSubmapId> knownSubmaps_;
    static constexpr size_t kTurnValuesLimit = 256;
    std::unordered_map<OVwObjectId, Values> turnValues_;
    std::unordered_map<OVwObjectId, SymbolRows> turnSymbols_;
    // What an object-keyed cache of the open transaction holds (bounded).
    template <class Rows>
    const Rows *findInTurn(const std::unordered_map<OVwObjectId, Rows> &cache, OVwObjectId object) const
    {
        auto it = cache.find(object);
        return inTxnNow() && it != cache.end() ? &it->second : nullptr;
    }
    template <class Rows>
    void keepInTurn(std::unordered_map<OVwObjectId, Rows> &cache, OVwObjectId object, Rows rows)
    {
        if (!inTxnNow())
            return;
        if (cache.size() >= kTurnValuesLimit)
            cache.clear();
        cache[object] = std::move(rows);
    }
    // A transaction is open on the database itself (SQLite ends one on its
    // own after some failures).
    bool inTxnNow() const { return inTxn_ && (engine_ != nullptr || sqlite3_get_autocommit(db_) == 0); }
    std::unordered_map<const char *, sqlite3_stmt *> cache_;
    bool inTxn_ = false;
    bool writing_ = false;

    // The object cache and what tells whether it still holds.
    std::unordered_map<OVwObjectId, std::string> objectNames_;
    std::unordered_map<std::string_view, OVwObjectId> objectIds_;   // views of objectNames_
    uint64_t objectsAt_ = 0;      // rollbacks_ when the cache was last emptied
    uint64_t txnSerial_ = 0;      // transactions begun
    uint64_t checkedTxn_ = 0;     // the transaction that last compared the data version
    unsigned dataVersion_ = 0;    // the data version after this connection's last look
    bool dataVersionKnown_ = false;
};

// A cached statement in use: bound on construction site, reset on scope exit.
class Stmt {
public:
    Stmt(Db &db, const char *sql);
    ~Stmt()
    {
        if (e_ != nullptr) {
            e_->reset();
        } else if (s_ != nullptr) {
            sqlite3_reset(s_);
            sqlite3_clear_bindings(s_);
        }
    }
    Stmt(const Stmt &) = delete;
    Stmt &operator=(const Stmt &) = delete;

    bool ok() const { return s_ != nullptr || e_ != nullptr; }
    // The server engine's statement (null on a file).
    EngineStatement *engineStatement() const { return e_; }
    Stmt &bind(int i, int64_t v)
    {
        if (e_ != nullptr)
            e_->bindInt(i, v);
        else
            sqlite3_bind_int64(s_, i, v);
        return *this;
    }
    Stmt &bind(int i, const char *v)
    {
        if (v == nullptr)
            return bindNull(i);
        if (e_ != nullptr)
            e_->bindText(i, v, std::char_traits<char>::length(v));
        else
            sqlite3_bind_text(s_, i, v, -1, SQLITE_TRANSIENT);
        return *this;
    }
    Stmt &bind(int i, const std::string &v)
    {
        if (e_ != nullptr)
            e_->bindText(i, v.data(), v.size());
        else
            sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt &bindNull(int i)
    {
        if (e_ != nullptr)
            e_->bindNull(i);
        else
            sqlite3_bind_null(s_, i);
        return *this;
    }
    // kResultRow, kResultDone or a failure code.
    int step()
    {
        // A statement that could not be prepared: its failure is noted.
        if (!ok())
            return kResultError;
        int rc = kResultError;
        // Tests make one statement fail ("Statement", a result code) as a
        // full disk under it would.
        if (!(g_hooksActive && vfsFaultFires("Statement", rc)))
            rc = e_ != nullptr ? e_->step() : sqlite3_step(s_);
        if (rc != kResultRow && rc != kResultDone)
            db_->noteFailure(rc);
        return rc;
    }
    // Runs a statement that returns no rows; true on success.
    bool run() { return step() == kResultDone; }
    int64_t i64(int col) const { return e_ != nullptr ? e_->i64(col) : sqlite3_column_int64(s_, col); }
    int32_t i32(int col) const { return static_cast<int32_t>(i64(col)); }
    bool isNull(int col) const
    {
        return e_ != nullptr ? e_->isNull(col) : sqlite3_column_type(s_, col) == SQLITE_NULL;
    }
    const char *text(int col) const
    {
        return e_ != nullptr ? e_->text(col) : reinterpret_cast<const char *>(sqlite3_column_text(s_, col));
    }
    // A malloc'd copy of a text column, null for SQL NULL.
    char *dupText(int col) const;

private:
    Db *db_;
    sqlite3_stmt *s_ = nullptr;
    EngineStatement *e_ = nullptr;
};

// A savepoint around one multi-statement write: rolled back unless release()
// is called, so a call either changes the map entirely or not at all.
class WriteScope {
public:
    explicit WriteScope(Db &db);
    ~WriteScope();
    WriteScope(const WriteScope &) = delete;
    WriteScope &operator=(const WriteScope &) = delete;
    bool ok() const { return ok_; }
    bool release();

private:
    Db &db_;
    bool ok_ = false;
    bool done_ = false;
};

// malloc'd copy of a text (null stays null).
char *dupString(const char *s);

}  // namespace mapdb

#endif
