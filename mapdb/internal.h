// Private declarations of the embedded map platform: the session, the
// statement cache, the error state and the hook checks shared by the sources
// of mapdb/.
#ifndef TQ_MAPDB_INTERNAL_H
#define TQ_MAPDB_INTERNAL_H

#include "platform/hostfile.h"
#include "platform/ovw.h"

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace mapdb {

// ---- error state ------------------------------------------------------------

extern int g_error;
// The specific cause of the last failed statement when it may pass (full
// disk, I/O error, another writer's lock), else 0: a storage failure reported
// after it carries that code instead of the general one.
extern int g_storageCause;

inline void setError(int code)
{
    g_error = code;
    g_storageCause = 0;
}

// Sets the error and returns the given failure value (for one-line returns).
template <typename T>
inline T fail(int code, T value)
{
    if (code == OVw_STORAGE_FAILURE && g_storageCause != 0)
        code = g_storageCause;
    g_error = code;
    g_storageCause = 0;
    return value;
}

// Tells the registered wait handler (OVwSetWaitHandler) of a wait for the map
// database.
void reportWait(int code, int64_t waitedMs, bool ended);

// The platform code of an SQLite result that may pass by itself (full disk,
// I/O error, lock held by another connection); 0 for any other result.
int transientCode(int sqliteResult);

// ---- database connection with a statement cache -----------------------------

// One SQLite connection. Statements are prepared once and kept: the cache is
// keyed by the address of the SQL text, so every call site passes a string
// literal.
class Db {
public:
    Db() = default;
    ~Db();
    Db(const Db &) = delete;
    Db &operator=(const Db &) = delete;

    // Opens the file (create: allowed to create it) and applies the pragmas.
    bool open(const std::string &path, bool create, std::string &err);
    // Opens the file without changing it (no pragma that writes); configure()
    // then applies the pragmas.
    bool openPlain(const std::string &path, bool create, std::string &err);
    bool configure(std::string &err);
    // A statement failed with this SQLite result: a cause that may pass marks
    // the turn as failed (see takeTurnFault).
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
    // The busy handler waited this long again for another writer's lock;
    // the wait ended (the lock was taken or not).
    void busyWaited(int milliseconds);
    void busyWaitEnded();
    void close();
    sqlite3 *handle() const { return db_; }
    sqlite3_stmt *prepare(const char *sql);
    bool exec(const char *sql);             // runs a statement that returns no rows
    const char *lastError() const;

    // Write transaction: begin() opens one when none is open, or turns the
    // read transaction of beginRead() into one (ending it and beginning anew,
    // as a read snapshot cannot always become a write).
    bool begin();
    // Read transaction: the reads until commit() share one snapshot and one
    // set of locks; takes no lock that writers wait for.
    bool beginRead();
    bool commit();
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
    OVwObjectId knownObject() const
    {
        return inTxn_ && sqlite3_get_autocommit(db_) == 0 ? knownObject_ : 0;
    }
    void setKnownObject(OVwObjectId id) { knownObject_ = inTxn_ ? id : 0; }
    void forgetKnownObject() { knownObject_ = 0; }
    // A savepoint was rolled back: what caches hold may be gone.
    void savepointRolledBack()
    {
        ++rollbacks_;
        knownObject_ = 0;
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
    bool objectCacheUsable();
    void clearObjectCache();

    sqlite3 *db_ = nullptr;
    int turnFault_ = 0;
    int64_t busyWaitedMs_ = 0;
    uint64_t rollbacks_ = 0;
    OVwObjectId knownObject_ = 0;
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
    Stmt(Db &db, const char *sql) : db_(&db), s_(db.prepare(sql)) {}
    ~Stmt()
    {
        if (s_ != nullptr) {
            sqlite3_reset(s_);
            sqlite3_clear_bindings(s_);
        }
    }
    Stmt(const Stmt &) = delete;
    Stmt &operator=(const Stmt &) = delete;

    bool ok() const { return s_ != nullptr; }
    Stmt &bind(int i, int64_t v)
    {
        sqlite3_bind_int64(s_, i, v);
        return *this;
    }
    Stmt &bind(int i, const char *v)
    {
        if (v == nullptr)
            sqlite3_bind_null(s_, i);
        else
            sqlite3_bind_text(s_, i, v, -1, SQLITE_TRANSIENT);
        return *this;
    }
    Stmt &bind(int i, const std::string &v)
    {
        sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Stmt &bindNull(int i)
    {
        sqlite3_bind_null(s_, i);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step()
    {
        const int rc = s_ != nullptr ? sqlite3_step(s_) : SQLITE_ERROR;
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            db_->noteFailure(rc);
        return rc;
    }
    // Runs a statement that returns no rows; true on success.
    bool run() { return step() == SQLITE_DONE; }
    int64_t i64(int col) const { return sqlite3_column_int64(s_, col); }
    int32_t i32(int col) const { return static_cast<int32_t>(sqlite3_column_int64(s_, col)); }
    bool isNull(int col) const { return sqlite3_column_type(s_, col) == SQLITE_NULL; }
    const char *text(int col) const
    {
        return reinterpret_cast<const char *>(sqlite3_column_text(s_, col));
    }
    // A malloc'd copy of a text column, null for SQL NULL.
    char *dupText(int col) const;

private:
    Db *db_;
    sqlite3_stmt *s_;
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

// ---- the session ---------------------------------------------------------------

struct FieldDef {
    int type = 0;
    bool isList = false;
    bool located = false;   // created with OVwFieldLocate: its texts are indexed
};

struct Callback {
    OVwCallbackProc proc = nullptr;
    void *userData = nullptr;
};

struct Session {
    HostFileLock writerLock;   // one daemon per map database; released after db closes
    Db db;
    std::string mapName;
    OVwSubmapId rootSubmap = 0;
    bool mapOpen = false;
    std::map<int, Callback> callbacks;
    std::unordered_map<int, FieldDef> fields;   // known field definitions by id
    std::unordered_map<std::string, OVwFieldId> fieldIds;   // known field ids by name
    uint64_t fieldCachesAt = 0;                 // db.rollbacks() when the two caches were valid
};

extern Session *g_session;

// The open session, or null with OVw_NOT_CONNECTED.
Session *session();
// The same without opening the turn's transaction.
Session *connectedSession();
// The open session for a call that takes the map record: null with
// OVw_NOT_CONNECTED, or with OVw_NO_MAP_OPEN for a null record or a closed map.
Session *mapSession(const OVwMapInfo *map);
// Opens the write transaction of this loop turn when none is open; false
// (with OVw_STORAGE_FAILURE) when it cannot be opened.
bool beginWrite(Session &s);
// Sets OVw_STORAGE_FAILURE.
void storageFailure();

// Creates the schema and seeds a new database, or brings a map of an
// earlier form to the current one. Returns 0, or the platform code of the
// refusal or failure with the reason in err.
int ensureSchema(Db &db, std::string &err);
// Looks at the schema without writing: fresh when the database has no table
// yet. 0, or the code of the refusal (not a map, a map of an unknown form)
// with the reason in err.
int inspectSchema(Db &db, std::string &err, bool &fresh, int &version);
// Re-reads the map row (name, root submap, open flag) after a rollback.
bool loadMap(Session &s);

// Writes the run counters not yet written (ended: the session ends).
void flushRunCounters(bool ended);
// A new session starts without counters.
void forgetRunCounters();

// Existence checks (indexed look-ups).
bool objectExists(Db &db, OVwObjectId id);
bool symbolExists(Db &db, OVwSymbolId id);
bool submapExists(Db &db, OVwSubmapId id);
// The field's definition, from the cache or the database; false when unknown.
bool fieldDef(Session &s, OVwFieldId id, FieldDef &out);

// A deleted symbol, as reported in a symbol-deletion event.
struct DeletedSymbol {
    OVwSymbolId symbol;
    OVwSubmapId submap;
    OVwObjectId object;
    int variety;
    int statusSource;
};

// Deletes the symbols with the given ids and every connection that ends at
// one of them (repeatedly). Appends what was deleted. Needs a transaction.
bool deleteSymbolsCascade(Db &db, const std::vector<OVwSymbolId> &ids, std::vector<DeletedSymbol> *deleted);
// Deletes an object with its values, symbols and the submaps it parents.
bool deleteObjectCascade(Db &db, OVwObjectId id);

// Posts an event on a connection (inside a transaction opened by the caller).
bool postEventOn(Db &db, int code, const std::vector<int> &ids, std::string &err);

// Builds a symbol record list from a query that selects
// id, submap, object, status_source, variety, flags, status, symbol_type, label, conn_a, conn_z.
OVwSymbolList *collectSymbols(Stmt &q);
void freeSymbolRecords(OVwSymbolInfo *recs, int count);

// ---- hooks ------------------------------------------------------------------------

extern bool g_hooksActive;   // any fault armed or the journal on
extern bool g_journalOn;

void journalAdd(const char *op, std::string args);
// True when an armed fault fires for this call of the operation (error set).
bool faultFires(const char *op);
// The same for the file layer under SQLite: the code is an SQLite result,
// and the platform error is left alone.
bool vfsFaultFires(const char *op, int &code);
// Arms the faults of OVW_FAULTS, the first time it is called in a process
// (OVwInit); a malformed value is reported on stderr and ignored.
void armFaultsFromEnvironment();

inline void jfmt(std::string &out, int v) { out += std::to_string(v); }
inline void jfmt(std::string &out, long v) { out += std::to_string(v); }
inline void jfmt(std::string &out, long long v) { out += std::to_string(v); }
void jfmt(std::string &out, const char *s);
void jfmt(std::string &out, const OVwFieldValue *v);

template <typename... A>
std::string jargs(const A &...a)
{
    std::string s;
    int n = 0;
    ((s += (n++ != 0 ? ", " : ""), jfmt(s, a)), ...);
    (void)n;
    return s;
}

// Called first by every platform call: journals the call and tells whether an
// injected fault makes it fail. Cheap while no hook is active.
template <typename... A>
inline bool hooked(const char *op, const A &...a)
{
    if (!g_hooksActive)
        return false;
    if (g_journalOn)
        journalAdd(op, jargs(a...));
    return faultFires(op);
}

// Release calls are journaled but never fail.
inline void journaled(const char *op)
{
    if (g_hooksActive && g_journalOn)
        journalAdd(op, std::string());
}

// malloc'd copy of a text (null stays null).
char *dupString(const char *s);

}  // namespace mapdb

#endif
