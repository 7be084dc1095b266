// The session of the embedded map platform: connection to the map database,
// schema, transactions, the error state and the map-level calls.
#include "mapdb/internal.h"
#include "mapdb/operator.h"
#include "mapdb/testhooks.h"
#include "mapdb/walvfs.h"

#include "platform/hostfile.h"
#include "platform/hostpath.h"
#include "platform/signals.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace mapdb {

int g_error = 0;
int g_storageCause = 0;
Session *g_session = nullptr;

namespace {
OVwWaitProc g_waitProc = nullptr;
std::string g_errorDetail;
}  // namespace

void reportWait(int code, int64_t waitedMs, bool ended)
{
    if (g_waitProc != nullptr)
        g_waitProc(code, waitedMs, ended ? 1 : 0);
}

int transientCode(int sqliteResult)
{
    switch (sqliteResult & 0xff) {
    case SQLITE_FULL: return OVw_DISK_FULL;
    case SQLITE_IOERR: return OVw_IO_ERROR;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return OVw_MAP_BUSY;
    default: return 0;
    }
}

// ---- Db ------------------------------------------------------------------------

Db::~Db() { close(); }

namespace {

// Longest wait, in milliseconds, between two tries for another writer's lock.
constexpr int kBusyStepCapMs = 250;

// Waits for another connection's write lock with a growing pause, as long as
// it takes; gives up only when the process is asked to stop. The wait
// handler (OVwSetWaitHandler), when set, hears of it after every pause.
int busyWait(void *arg, int count)
{
    auto *db = static_cast<Db *>(arg);
    if (stopRequested())
        return 0;
    int step = count < 8 ? 1 << count : kBusyStepCapMs;
    if (step > kBusyStepCapMs)
        step = kBusyStepCapMs;
    sleepUnlessStopped(step);
    db->busyWaited(step);
    return stopRequested() ? 0 : 1;
}

}  // namespace

bool Db::openPlain(const std::string &path, bool create, std::string &err)
{
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (create)
        flags |= SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, logGatheringVfs()) != SQLITE_OK) {
        err = db_ != nullptr ? sqlite3_errmsg(db_) : "cannot open the map database";
        close();
        return false;
    }
    sqlite3_busy_handler(db_, &busyWait, this);
    return true;
}

bool Db::open(const std::string &path, bool create, std::string &err)
{
    return openPlain(path, create, err) && configure(err);
}

bool Db::configure(std::string &err)
{
    // A new database gets 2 KiB pages: a message changes a handful of rows
    // spread over the tables and indexes, and each commit writes (and
    // checksums) every page it changed; larger pages mostly carry rows that
    // did not change, smaller ones make the trees of a large map deeper (more
    // pages to read per look-up). No effect on an existing database.
    exec("PRAGMA page_size=2048");
    // The log is copied into the database every 1024 pages (2 MiB of 2 KiB
    // pages; SQLite's default is 1000) without waiting for readers, and a log
    // that grew past 4 MiB (readers kept it from starting over) is cut back
    // to that when it starts over: so the log stays within a few MiB, and a
    // full disk is less likely.
    exec("PRAGMA wal_autocheckpoint=1024");
    exec("PRAGMA journal_size_limit=4194304");
    // 8 MiB of pages stay cached between transactions (SQLite keeps 2 MiB):
    // the pages a message reads are then seldom read again from the files.
    exec("PRAGMA cache_size=-8192");
    // WAL lets other programs read the map while the daemon writes; it does
    // not apply to an in-memory database, which keeps its own journal mode.
    if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL")) {
        err = lastError();
        close();
        return false;
    }
    return true;
}

void Db::noteFailure(int sqliteResult)
{
    const int code = transientCode(sqliteResult);
    g_storageCause = code;
    if (code != 0 && turnFault_ == 0)
        turnFault_ = code;
}

void Db::busyWaited(int milliseconds)
{
    busyWaitedMs_ += milliseconds;
    reportWait(OVw_MAP_BUSY, busyWaitedMs_, false);
}

void Db::busyWaitEnded()
{
    if (busyWaitedMs_ > 0)
        reportWait(OVw_MAP_BUSY, busyWaitedMs_, true);
    busyWaitedMs_ = 0;
}

void Db::close()
{
    for (auto &kv : cache_)
        sqlite3_finalize(kv.second);
    cache_.clear();
    if (db_ != nullptr) {
        sqlite3_close(db_);
        db_ = nullptr;
    }
    inTxn_ = false;
}

sqlite3_stmt *Db::prepare(const char *sql)
{
    auto it = cache_.find(sql);
    if (it != cache_.end())
        return it->second;
    sqlite3_stmt *st = nullptr;
    if (db_ == nullptr)
        return nullptr;
    const int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
    if (rc != SQLITE_OK) {
        // Preparing reads the schema: a full disk or an I/O error shows here too.
        noteFailure(rc);
        return nullptr;
    }
    cache_.emplace(sql, st);
    return st;
}

bool Db::exec(const char *sql)
{
    Stmt q(*this, sql);
    int rc;
    while ((rc = q.step()) == SQLITE_ROW) {
    }
    return rc == SQLITE_DONE;
}

const char *Db::lastError() const
{
    return db_ != nullptr ? sqlite3_errmsg(db_) : "no database";
}

bool Db::begin()
{
    if (inTxn_ && writing_)
        return true;
    if (inTxn_) {
        // The read snapshot becomes the write transaction in place when no
        // other connection wrote since it began: a write that changes nothing
        // takes the write lock. Otherwise the snapshot ends and the write
        // transaction begins anew, waiting for the lock as usual.
        const int faultBefore = turnFault_;
        if (exec("DELETE FROM events WHERE 0") && sqlite3_txn_state(db_, "main") == SQLITE_TXN_WRITE) {
            writing_ = true;
            return true;
        }
        // A snapshot that others wrote past cannot become the write
        // transaction: that is expected, not a failure of the turn.
        turnFault_ = faultBefore;
        g_storageCause = 0;
        if (!commit())
            return false;
    }
    const bool begun = exec("BEGIN IMMEDIATE");
    busyWaitEnded();
    if (!begun)
        return false;
    ++txnSerial_;
    inTxn_ = true;
    writing_ = true;
    return true;
}

bool Db::beginRead()
{
    if (inTxn_)
        return true;
    if (!exec("BEGIN"))
        return false;
    ++txnSerial_;
    inTxn_ = true;
    writing_ = false;
    return true;
}

bool Db::commit()
{
    if (!inTxn_)
        return true;
    knownObject_ = 0;
    if (exec("COMMIT")) {
        // This commit changed the data version; what others commit later
        // shows as a different one.
        unsigned v = 0;
        dataVersionKnown_ = checkedTxn_ == txnSerial_ && dataVersionKnown_ &&
                            sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &v) == SQLITE_OK;
        dataVersion_ = v;
        inTxn_ = false;
        writing_ = false;
        return true;
    }
    rollback();
    return false;
}

void Db::rollback()
{
    if (!inTxn_)
        return;
    ++rollbacks_;
    knownObject_ = 0;
    dataVersionKnown_ = false;
    if (sqlite3_get_autocommit(db_) == 0)
        exec("ROLLBACK");
    inTxn_ = false;
    writing_ = false;
}

// ---- object cache -------------------------------------------------------------------

namespace {
// Beyond this many objects the cache starts again empty (a bound on memory).
constexpr size_t kObjectCacheLimit = 65536;
}  // namespace

void Db::clearObjectCache()
{
    objectIds_.clear();
    objectNames_.clear();
}

bool Db::objectCacheUsable()
{
    if (objectsAt_ != rollbacks_) {
        clearObjectCache();
        objectsAt_ = rollbacks_;
    }
    if (!inTxn_)
        return false;
    if (checkedTxn_ == txnSerial_)
        return true;
    // The version is current only once the transaction has begun reading.
    if (sqlite3_txn_state(db_, "main") == SQLITE_TXN_NONE)
        return false;
    unsigned v = 0;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &v) != SQLITE_OK) {
        clearObjectCache();
        dataVersionKnown_ = false;
        return false;
    }
    if (!dataVersionKnown_ || v != dataVersion_)
        clearObjectCache();
    dataVersion_ = v;
    dataVersionKnown_ = true;
    checkedTxn_ = txnSerial_;
    return true;
}

const std::string *Db::cachedObjectName(OVwObjectId id)
{
    if (!objectCacheUsable())
        return nullptr;
    auto it = objectNames_.find(id);
    return it != objectNames_.end() ? &it->second : nullptr;
}

OVwObjectId Db::cachedObjectId(const char *name)
{
    if (name == nullptr || !objectCacheUsable())
        return 0;
    auto it = objectIds_.find(std::string_view(name));
    return it != objectIds_.end() ? it->second : 0;
}

void Db::rememberObject(OVwObjectId id, const char *name)
{
    // Checked first: what this transaction read (and so may remember) is
    // what the cache must agree with.
    if (id == 0 || name == nullptr || !objectCacheUsable())
        return;
    forgetObject(id);
    auto other = objectIds_.find(std::string_view(name));
    if (other != objectIds_.end())
        forgetObject(other->second);
    if (objectNames_.size() >= kObjectCacheLimit)
        clearObjectCache();
    auto named = objectNames_.emplace(id, name).first;
    objectIds_.emplace(std::string_view(named->second), id);
}

void Db::forgetObject(OVwObjectId id)
{
    auto it = objectNames_.find(id);
    if (it == objectNames_.end())
        return;
    objectIds_.erase(std::string_view(it->second));
    objectNames_.erase(it);
}

char *Stmt::dupText(int col) const
{
    if (isNull(col))
        return nullptr;
    return dupString(text(col));
}

WriteScope::WriteScope(Db &db) : db_(db)
{
    ok_ = db_.exec("SAVEPOINT op");
}

WriteScope::~WriteScope()
{
    if (ok_ && !done_) {
        db_.savepointRolledBack();
        db_.exec("ROLLBACK TO op");
        db_.exec("RELEASE op");
    }
}

bool WriteScope::release()
{
    done_ = true;
    return db_.exec("RELEASE op");
}

// ---- schema --------------------------------------------------------------------

static const char *const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS map(name TEXT, root_submap INTEGER, is_open INTEGER)",
    // located: the field was created to locate objects by (OVwFieldLocate);
    // only its texts are indexed.
    "CREATE TABLE IF NOT EXISTS fields(id INTEGER PRIMARY KEY AUTOINCREMENT, name TEXT UNIQUE,"
    " type INTEGER, flags INTEGER, is_list INTEGER NOT NULL DEFAULT 0, located INTEGER NOT NULL DEFAULT 0)",
    "CREATE TABLE IF NOT EXISTS objects(id INTEGER PRIMARY KEY AUTOINCREMENT, selection_name TEXT UNIQUE)",
    // Kept in the order of its key: a value is one entry, not a row and a
    // separate key index, so a write changes one page fewer. located: 1 for a
    // value of a located field, else NULL (the field's flag, copied so that
    // the index of texts can be limited to them).
    "CREATE TABLE IF NOT EXISTS field_values(object INTEGER, field INTEGER, type INTEGER, is_list INTEGER,"
    " int_value INTEGER, text_value TEXT, located INTEGER, PRIMARY KEY(object, field)) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS submaps(id INTEGER PRIMARY KEY AUTOINCREMENT, parent_object INTEGER,"
    " type INTEGER, name TEXT, layout INTEGER, background TEXT)",
    "CREATE TABLE IF NOT EXISTS symbols(id INTEGER PRIMARY KEY AUTOINCREMENT, submap INTEGER, object INTEGER,"
    " variety INTEGER, symbol_type TEXT, label TEXT, status INTEGER, status_source INTEGER, flags INTEGER,"
    " conn_a INTEGER, conn_z INTEGER, pos_x INTEGER, pos_y INTEGER)",
    "CREATE TABLE IF NOT EXISTS events(id INTEGER PRIMARY KEY AUTOINCREMENT, code INTEGER, data TEXT)",
};

// Created after the tables have their current columns (migrateFrom0).
static const char *const kIndexes[] = {
    // Look-ups by value: the texts of located fields and numbers (integers,
    // enumerations) have an index each; the texts of other fields (states,
    // names, vendors ...), which are written often and looked up rarely, and
    // booleans, which most objects carry and which match a large share of
    // them, are found by a walk of the values. So a value written touches one
    // index at most, and most touch none. (Maps made earlier had one index of
    // every value, then one of every text: replaced on opening.)
    "DROP INDEX IF EXISTS field_values_by_value",
    // Text first: an object's located fields mostly hold the same text, so
    // their entries sit side by side and a new object changes one page of
    // this index rather than one per field. It holds every column a look-up
    // of a located text reads, so the look-up never visits the values.
    "CREATE INDEX IF NOT EXISTS field_values_by_text ON field_values(text_value, field, located, is_list)"
    " WHERE located = 1 AND text_value IS NOT NULL",
    "CREATE INDEX IF NOT EXISTS field_values_by_integer ON field_values(field, int_value) WHERE type IN (1, 4)",
    "CREATE INDEX IF NOT EXISTS symbols_by_object ON symbols(object)",
    "CREATE INDEX IF NOT EXISTS symbols_by_submap ON symbols(submap)",
    // Only connections have ends: icon symbols stay out of these two.
    "CREATE INDEX IF NOT EXISTS symbols_by_conn_a ON symbols(conn_a) WHERE variety = 2",
    "CREATE INDEX IF NOT EXISTS symbols_by_conn_z ON symbols(conn_z) WHERE variety = 2",
    "CREATE INDEX IF NOT EXISTS submaps_by_parent ON submaps(parent_object)",
};

struct SeedField {
    const char *name;
    int type;
    int flags;
    int isList;
};

// The field registry of a new map (isGraph and isVertex are created by the
// daemon itself).
static const SeedField kSeedFields[] = {
    {"UniqueName", OVwStringField, OVwFieldLocate | OVwFieldGeneral, 0},
    {"MoidString", OVwStringField, OVwFieldLocate | OVwFieldGeneral, 0},
    {"TQObjectName", OVwStringField, OVwFieldLocate | OVwFieldGeneral, 0},
    {"ParentNameList", OVwStringField, OVwFieldGeneral, 1},
    {"SanArcIndex", OVwIntegerField, OVwFieldGeneral, 0},
    {"isSanCommon", OVwBooleanField, OVwFieldCapability, 0},
    {"isLaunchable", OVwBooleanField, OVwFieldCapability, 0},
    {"isEDFI", OVwBooleanField, OVwFieldCapability, 0},
    {"isNode", OVwBooleanField, OVwFieldCapability, 0},
    {"State", OVwStringField, OVwFieldGeneral, 0},
    {"Name", OVwStringField, OVwFieldGeneral, 0},
    {"Type", OVwStringField, OVwFieldGeneral, 0},
    {"DeviceCapacity", OVwStringField, OVwFieldGeneral, 0},
    {"Serial", OVwStringField, OVwFieldGeneral, 0},
    {"VendorName", OVwStringField, OVwFieldGeneral, 0},
    {"Management URL", OVwStringField, OVwFieldGeneral, 0},
    {"URLFlag", OVwStringField, OVwFieldGeneral, 0},
};

static bool hasColumn(Db &db, const char *table, const char *column)
{
    Stmt q(db, "SELECT count(*) FROM pragma_table_info(?1) WHERE name = ?2");
    q.bind(1, table).bind(2, column);
    return q.step() == SQLITE_ROW && q.i64(0) > 0;
}

// The version of the schema this code makes and uses (PRAGMA user_version).
// Maps of earlier versions are brought to it one step per version.
constexpr int kSchemaVersion = 2;

// The tables that make a database a map, with the columns of the minimal
// schema; a map lacking one of these is of no form this code knows.
struct TableColumns {
    const char *table;
    const char *columns[12];
};
static const TableColumns kMapColumns[] = {
    {"map", {"name", "root_submap", "is_open"}},
    {"fields", {"id", "name", "type", "flags"}},
    {"objects", {"id", "selection_name"}},
    {"field_values", {"object", "field", "type", "is_list", "int_value", "text_value"}},
    {"submaps", {"id", "parent_object", "type", "name", "layout", "background"}},
    {"symbols", {"id", "submap", "object", "variety", "symbol_type", "label", "status", "status_source",
                 "flags", "conn_a", "conn_z"}},
    {"events", {"id", "code", "data"}},
};
// The columns the code needs beyond those (added by the migration steps).
static const TableColumns kAddedColumns[] = {
    {"fields", {"is_list", "located"}},
    {"field_values", {"located"}},
    {"symbols", {"pos_x", "pos_y"}},
};

// The first column of the list that the table lacks, or null.
static const char *missingColumn(Db &db, const TableColumns &t)
{
    for (const char *column : t.columns) {
        if (column == nullptr)
            break;
        if (!hasColumn(db, t.table, column))
            return column;
    }
    return nullptr;
}

// Runs one statement of the schema code; false with the reason in err.
class SchemaRunner {
public:
    SchemaRunner(Db &db, std::string &err) : db_(db), err_(err) {}
    bool operator()(const char *sql)
    {
        char *msg = nullptr;
        const int rc = sqlite3_exec(db_.handle(), sql, nullptr, nullptr, &msg);
        if (rc != SQLITE_OK) {
            db_.noteFailure(rc);
            err_ = msg != nullptr ? msg : "schema failure";
            sqlite3_free(msg);
            return false;
        }
        return true;
    }
    // A failure of a step made other than through a statement.
    bool fail(const std::string &why)
    {
        err_ = why;
        return false;
    }

private:
    Db &db_;
    std::string &err_;
};

static bool seedFields(Db &db);

// Version 0 to 1. Version 0 is every map made before the schema had a
// version: the minimal schema (no is_list of fields, no positions of
// symbols) and the maps of earlier builds (no located flags, other indexes
// of values). So this step alone looks at the columns that are there.
static bool migrateFrom0(Db &db, SchemaRunner &run)
{
    if (!hasColumn(db, "fields", "is_list") &&
        !(run("ALTER TABLE fields ADD COLUMN is_list INTEGER NOT NULL DEFAULT 0") &&
          run("UPDATE fields SET is_list = 1 WHERE name = 'ParentNameList'")))
        return false;
    if (!hasColumn(db, "fields", "located") &&
        !(run("ALTER TABLE fields ADD COLUMN located INTEGER NOT NULL DEFAULT 0") &&
          run("UPDATE fields SET located = 1 WHERE (flags & 1) != 0")))
        return false;
    if (!hasColumn(db, "field_values", "located") &&
        !(run("ALTER TABLE field_values ADD COLUMN located INTEGER") &&
          run("UPDATE field_values SET located = 1 WHERE field IN (SELECT id FROM fields WHERE located = 1)")))
        return false;
    for (const char *column : {"pos_x", "pos_y"}) {
        if (hasColumn(db, "symbols", column))
            continue;
        const std::string sql = std::string("ALTER TABLE symbols ADD COLUMN ") + column + " INTEGER";
        if (!run(sql.c_str()))
            return false;
    }
    // The index of texts limited to the located fields, text first (an
    // earlier one is dropped and made anew).
    bool current = true;
    {
        Stmt q(db, "SELECT sql FROM sqlite_master WHERE type = 'index' AND name = 'field_values_by_text'");
        if (q.step() == SQLITE_ROW)
            current = !q.isNull(0) && std::strstr(q.text(0), "located") != nullptr &&
                      std::strstr(q.text(0), "(text_value, field, located, is_list)") != nullptr;
    }
    if (!current && !run("DROP INDEX field_values_by_text"))
        return false;
    for (const char *sql : kIndexes) {
        if (!run(sql))
            return false;
    }
    // A registry made by hand may lack fields the daemon relies on.
    return seedFields(db);
}

// Migration steps: kSteps[v] brings version v to v + 1. A new version adds
// its step here and raises kSchemaVersion.
using MigrationStep = bool (*)(Db &, SchemaRunner &);
// Version 2: the operator tables (change history, run counters).
static bool migrateFrom1(Db &db, SchemaRunner &run)
{
    std::string err;
    return ensureOperatorTables(db.handle(), historyRowsFromEnvironment(), err) || run.fail(err);
}

static const MigrationStep kSteps[kSchemaVersion] = {&migrateFrom0, &migrateFrom1};

static int schemaVersion(Db &db)
{
    Stmt q(db, "PRAGMA user_version");
    return q.step() == SQLITE_ROW ? q.i32(0) : -1;
}

// Adds the fields of the registry that the map lacks.
static bool seedFields(Db &db)
{
    for (const SeedField &f : kSeedFields) {
        Stmt q(db, "INSERT OR IGNORE INTO fields(name, type, flags, is_list, located)"
                   " VALUES(?1, ?2, ?3, ?4, ?5)");
        q.bind(1, f.name).bind(2, f.type).bind(3, f.flags).bind(4, f.isList);
        q.bind(5, (f.flags & OVwFieldLocate) != 0 ? 1 : 0);
        if (!q.run())
            return false;
    }
    return true;
}

// Seeds the map row, its root submap and the field registry when the map
// table is empty. Inside the caller's transaction.
static bool seedMap(Db &db, SchemaRunner &run, std::string &err)
{
    // The operator tables (change history, run counters) and this start's
    // history bound.
    if (!ensureOperatorTables(db.handle(), historyRowsFromEnvironment(), err))
        return false;
    bool seeded = false;
    {
        Stmt q(db, "SELECT count(*) FROM map");
        seeded = q.step() == SQLITE_ROW && q.i64(0) > 0;
    }
    if (seeded)
        return true;
    bool ok = run("INSERT INTO submaps(parent_object, type, name, layout, background)"
                  " VALUES(0, 1, 'Root', 0, NULL)") &&
              run("INSERT INTO map(name, root_submap, is_open) VALUES('default', last_insert_rowid(), 1)") &&
              seedFields(db);
    if (!ok && err.empty())
        err = db.lastError();
    return ok;
}

int inspectSchema(Db &db, std::string &err, bool &fresh, int &version)
{
    fresh = false;
    version = schemaVersion(db);
    // Which tables are there: none (a new database), the map's, or others.
    int tables = 0, mapTables = 0;
    {
        Stmt q(db, "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite!_%' ESCAPE '!'");
        int rc;
        while ((rc = q.step()) == SQLITE_ROW) {
            ++tables;
            for (const TableColumns &t : kMapColumns)
                mapTables += std::strcmp(q.text(0), t.table) == 0 ? 1 : 0;
        }
        if (rc != SQLITE_DONE || version < 0) {
            err = db.lastError();
            const int cause = db.takeTurnFault();
            return cause != 0 ? cause : (rc & 0xff) == SQLITE_NOTADB ? OVw_NOT_A_DATABASE : OVw_STORAGE_FAILURE;
        }
    }
    if (tables == 0) {
        fresh = true;
        return 0;
    }
    if (mapTables != static_cast<int>(sizeof kMapColumns / sizeof kMapColumns[0])) {
        err = "it is an SQLite database of other tables, not a map (left unchanged)";
        return OVw_NOT_A_MAP;
    }
    if (version > kSchemaVersion) {
        err = "its schema version " + std::to_string(version) + " is newer than this program's " +
              std::to_string(kSchemaVersion);
        return OVw_SCHEMA_UNUSABLE;
    }
    for (const TableColumns &t : kMapColumns) {
        if (const char *column = missingColumn(db, t)) {
            err = std::string("its table ") + t.table + " lacks the column " + column;
            return OVw_SCHEMA_UNUSABLE;
        }
    }
    return 0;
}

int ensureSchema(Db &db, std::string &err)
{
    SchemaRunner run(db, err);
    auto failed = [&](int code) {
        run("ROLLBACK");
        const int cause = db.takeTurnFault();
        return cause != 0 ? cause : code;
    };
    bool fresh = false;
    int version = 0;
    if (const int code = inspectSchema(db, err, fresh, version))
        return code;
    if (fresh) {
        // A new map: the current schema at once, in one transaction.
        if (!run("BEGIN IMMEDIATE"))
            return failed(OVw_STORAGE_FAILURE);
        for (const char *sql : kSchema) {
            if (!run(sql))
                return failed(OVw_STORAGE_FAILURE);
        }
        for (const char *sql : kIndexes) {
            if (!run(sql))
                return failed(OVw_STORAGE_FAILURE);
        }
        const std::string setVersion = "PRAGMA user_version = " + std::to_string(kSchemaVersion);
        if (!seedMap(db, run, err) || !run(setVersion.c_str()))
            return failed(OVw_STORAGE_FAILURE);
        return run("COMMIT") ? 0 : failed(OVw_STORAGE_FAILURE);
    }
    // One transaction per step, so a map is always of one version or the next.
    for (int v = version; v < kSchemaVersion; ++v) {
        if (!run("BEGIN IMMEDIATE"))
            return failed(OVw_STORAGE_FAILURE);
        const std::string setVersion = "PRAGMA user_version = " + std::to_string(v + 1);
        if (!kSteps[v](db, run) || !run(setVersion.c_str()))
            return failed(OVw_STORAGE_FAILURE);
        if (!run("COMMIT"))
            return failed(OVw_STORAGE_FAILURE);
    }
    for (const TableColumns &t : kAddedColumns) {
        if (const char *column = missingColumn(db, t)) {
            err = std::string("its table ") + t.table + " lacks the column " + column;
            return OVw_SCHEMA_UNUSABLE;
        }
    }
    // A map without its row (made by hand) gets it.
    if (!run("BEGIN IMMEDIATE"))
        return failed(OVw_STORAGE_FAILURE);
    if (!seedMap(db, run, err))
        return failed(OVw_STORAGE_FAILURE);
    return run("COMMIT") ? 0 : failed(OVw_STORAGE_FAILURE);
}

bool loadMap(Session &s)
{
    Stmt q(s.db, "SELECT name, root_submap, is_open FROM map LIMIT 1");
    if (q.step() != SQLITE_ROW)
        return false;
    s.mapName = q.isNull(0) ? "" : q.text(0);
    s.rootSubmap = q.i32(1);
    s.mapOpen = q.i64(2) != 0;
    return true;
}

// ---- shared helpers ---------------------------------------------------------------

char *dupString(const char *s)
{
    if (s == nullptr)
        return nullptr;
    size_t n = std::strlen(s) + 1;
    char *p = static_cast<char *>(std::malloc(n));
    if (p != nullptr)
        std::memcpy(p, s, n);
    return p;
}

Session *connectedSession()
{
    if (g_session == nullptr)
        setError(OVw_NOT_CONNECTED);
    return g_session;
}

Session *session()
{
    Session *s = connectedSession();
    // The first call of a loop turn opens a read transaction, so the turn's
    // reads share one snapshot and one set of locks instead of taking and
    // dropping them for every statement; the first write turns it into the
    // write transaction (beginWrite). Without it reads go on one by one.
    if (s != nullptr)
        s->db.beginRead();
    return s;
}

Session *mapSession(const OVwMapInfo *map)
{
    Session *s = session();
    if (s == nullptr)
        return nullptr;
    // The record is never read: it may be one the caller already released.
    if (map == nullptr || !s->mapOpen) {
        setError(OVw_NO_MAP_OPEN);
        return nullptr;
    }
    return s;
}

bool beginWrite(Session &s)
{
    if (s.db.begin())
        return true;
    return fail(OVw_STORAGE_FAILURE, false);
}

void storageFailure() { fail(OVw_STORAGE_FAILURE, 0); }

bool objectExists(Db &db, OVwObjectId id)
{
    if (id != 0 && (id == db.knownObject() || db.cachedObjectName(id) != nullptr))
        return true;
    Stmt q(db, "SELECT selection_name FROM objects WHERE id = ?1");
    q.bind(1, id);
    if (q.step() != SQLITE_ROW)
        return false;
    db.setKnownObject(id);
    db.rememberObject(id, q.text(0));
    return true;
}

bool symbolExists(Db &db, OVwSymbolId id)
{
    Stmt q(db, "SELECT 1 FROM symbols WHERE id = ?1");
    q.bind(1, id);
    return q.step() == SQLITE_ROW;
}

bool submapExists(Db &db, OVwSubmapId id)
{
    Stmt q(db, "SELECT 1 FROM submaps WHERE id = ?1");
    q.bind(1, id);
    return q.step() == SQLITE_ROW;
}

// Ends the session: commits what the turn wrote, copies the log into the
// database and cuts it to nothing (when no reader holds it), closes.
static bool closeSession(Session *s)
{
    // A turn in which a statement failed for a reason that may pass is never
    // committed in part.
    bool committed = s->db.turnFault() == 0 && s->db.commit();
    if (!committed)
        s->db.rollback();
    if (committed && s->db.handle() != nullptr) {
        // A reader that keeps its snapshot is waited for a little, not more.
        sqlite3_busy_timeout(s->db.handle(), 1000);
        s->db.exec("PRAGMA wal_checkpoint(TRUNCATE)");
    }
    delete s;
    return committed;
}

// Commits what the process wrote when it ends normally (std::exit).
static void commitAtExit()
{
    if (g_session != nullptr) {
        flushRunCounters(true);
        Session *s = g_session;
        g_session = nullptr;
        closeSession(s);
    }
}

std::string databasePath()
{
    return mapDatabasePath();
}

}  // namespace mapdb

using namespace mapdb;

// ---- errors ------------------------------------------------------------------------

extern "C" int OVwError(void) { return g_error; }

extern "C" const char *OVwErrorDetail(void) { return g_errorDetail.c_str(); }

extern "C" int OVwErrorMayPass(int code)
{
    return code == OVw_DISK_FULL || code == OVw_IO_ERROR || code == OVw_MAP_BUSY ? 1 : 0;
}

extern "C" void OVwSetWaitHandler(OVwWaitProc proc) { g_waitProc = proc; }

extern "C" const char *OVwErrorMsg(int code)
{
    switch (code) {
    case OVw_SUCCESS: return "no error";
    case OVw_NOT_CONNECTED: return "not connected to the map platform";
    case OVw_NO_MAP_OPEN: return "no map is open";
    case OVw_BAD_ARGUMENT: return "bad argument";
    case OVw_STORAGE_FAILURE: return "map database storage failure";
    case OVw_OUT_OF_MEMORY: return "out of memory";
    case OVw_EVENT_CHANNEL_FAILURE: return "event channel failure";
    case OVw_DISK_FULL: return "the map database's disk is full";
    case OVw_IO_ERROR: return "map database I/O error";
    case OVw_MAP_BUSY: return "another program holds the map database's write lock";
    case OVw_READ_ONLY_DATABASE: return "the map database cannot be written";
    case OVw_NOT_A_DATABASE: return "the map database path does not name an SQLite database";
    case OVw_NOT_A_MAP: return "the map database is an SQLite database but not a map";
    case OVw_SCHEMA_UNUSABLE: return "the map database's schema cannot be used";
    case OVw_MAP_IN_USE: return "another daemon has the map database open";
    case OVw_NO_DATABASE_FOLDER: return "the map database's folder does not exist";
    case OVw_NO_SUCH_OBJECT: return "no such object";
    case OVw_DUPLICATE_SELECTION_NAME: return "duplicate selection name";
    case OVw_NO_SUCH_FIELD: return "no such field";
    case OVw_NO_SUCH_SYMBOL: return "no such symbol";
    case OVw_NO_SUCH_SUBMAP: return "no such submap";
    case OVw_FIELD_TYPE_MISMATCH: return "field type mismatch";
    case OVw_DUPLICATE_FIELD: return "duplicate field name";
    case OVw_FIELD_VALUE_NOT_SET: return "field value not set";
    case OVw_NO_SUCH_CALLBACK: return "no such callback";
    default: return "unknown map platform error";
    }
}

// ---- connection ----------------------------------------------------------------------

namespace {

// Refuses the database: the code with the path and the reason.
int refuse(int code, const std::string &path, const std::string &why)
{
    g_errorDetail = path + ": " + why;
    return fail(code, -1);
}

// Checks the map database's path before anything is created or written:
// what it names, whether it and its folder can be written, that an existing
// file is an SQLite database. 0, or -1 with the error and its detail set.
int checkDatabasePath(const std::string &path, bool named)
{
    const HostPathKind kind = hostPathKind(path);
    if (kind == HostPathKind::Folder)
        return refuse(OVw_NOT_A_DATABASE, path, "is a folder, not a map database file");
    if (kind == HostPathKind::Other)
        return refuse(OVw_NOT_A_DATABASE, path, "is not a regular file");
    const std::string folder = hostParentFolder(path);
    if (kind == HostPathKind::Missing) {
        // The default place is made when missing; a folder named in
        // OVW_MAPDB must exist (a mistyped name is not a new map).
        if (!named && !ensureParentDirs(path))
            return refuse(OVw_NO_DATABASE_FOLDER, path, "its folder cannot be created");
        if (hostPathKind(folder) != HostPathKind::Folder)
            return refuse(OVw_NO_DATABASE_FOLDER, path, "its folder " + folder + " does not exist");
    }
    // The log and the shared-memory file of WAL mode live beside the database.
    if (!hostFolderWritable(folder))
        return refuse(OVw_READ_ONLY_DATABASE, path, "its folder " + folder + " cannot be written");
    if (kind == HostPathKind::File) {
        if (!hostFileWritable(path))
            return refuse(OVw_READ_ONLY_DATABASE, path, "the file cannot be opened for writing");
        static const char kMagic[] = "SQLite format 3";   // with its NUL: 16 bytes
        const std::string head = hostFileHead(path, sizeof kMagic);
        if (!head.empty() && head != std::string(kMagic, sizeof kMagic))
            return refuse(OVw_NOT_A_DATABASE, path, "is not an SQLite database");
    }
    return 0;
}

}  // namespace

extern "C" int OVwInit(void)
{
    armFaultsFromEnvironment();
    if (hooked("OVwInit"))
        return -1;
    if (g_session != nullptr) {
        setError(OVw_SUCCESS);
        return 0;
    }
    g_errorDetail.clear();
    static bool atexitRegistered = false;
    if (!atexitRegistered) {
        std::atexit(commitAtExit);
        // The platform keeps no memory statistics; without them SQLite takes
        // no global lock per allocation. Refused (and harmless) once SQLite
        // is already in use in this process.
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
        atexitRegistered = true;
    }
    std::string path = databasePath();
    auto s = std::make_unique<Session>();
    std::string err;
    if (path != ":memory:") {
        const char *env = std::getenv("OVW_MAPDB");
        if (checkDatabasePath(path, env != nullptr && *env != '\0') != 0)
            return -1;
        if (!s->db.openPlain(path, true, err))
            return refuse(OVw_STORAGE_FAILURE, path, err);
        // Nothing is written before the contents are known to be a map, or
        // nothing at all (a new file): refused databases keep every byte.
        bool fresh = false;
        int version = 0;
        if (const int code = inspectSchema(s->db, err, fresh, version))
            return refuse(code, path, err);
        bool busy = false;
        if (!s->writerLock.acquire(path + "-lock", busy)) {
            if (busy)
                return refuse(OVw_MAP_IN_USE, path, "another daemon has this map open");
            return refuse(OVw_READ_ONLY_DATABASE, path, "its lock file " + path + "-lock cannot be written");
        }
    } else if (!s->db.openPlain(path, true, err)) {
        return refuse(OVw_STORAGE_FAILURE, path, err);
    }
    // The page size of a new map is set before its first table.
    if (!s->db.configure(err))
        return refuse(OVw_STORAGE_FAILURE, path, err);
    const int code = ensureSchema(s->db, err);
    if (code != 0)
        return refuse(code, path, err);
    if (!loadMap(*s))
        return refuse(OVw_STORAGE_FAILURE, path, "its map row cannot be read");
    g_session = s.release();
    forgetRunCounters();
    setError(OVw_SUCCESS);
    return 0;
}

extern "C" int OVwDone(void)
{
    if (hooked("OVwDone"))
        return -1;
    Session *s = connectedSession();
    if (s == nullptr)
        return -1;
    flushRunCounters(true);
    g_session = nullptr;
    if (!closeSession(s))
        return fail(OVw_STORAGE_FAILURE, -1);
    setError(OVw_SUCCESS);
    return 0;
}

extern "C" int OVwFileDescriptor(void)
{
    if (hooked("OVwFileDescriptor"))
        return -1;
    // Events arrive through the events table, not a descriptor: any
    // non-negative number tells the caller that the channel is up.
    if (g_session == nullptr)
        return fail(OVw_EVENT_CHANNEL_FAILURE, -1);
    setError(OVw_SUCCESS);
    return 0;
}

// ---- map ---------------------------------------------------------------------------------

extern "C" OVwMapInfo *OVwGetMapInfo(void)
{
    if (hooked("OVwGetMapInfo"))
        return nullptr;
    Session *s = session();
    if (s == nullptr)
        return nullptr;
    if (!s->mapOpen)
        return fail(OVw_NO_MAP_OPEN, static_cast<OVwMapInfo *>(nullptr));
    auto *m = static_cast<OVwMapInfo *>(std::calloc(1, sizeof(OVwMapInfo)));
    if (m == nullptr)
        return fail(OVw_OUT_OF_MEMORY, m);
    m->map_name = dupString(s->mapName.c_str());
    if (m->map_name == nullptr) {
        std::free(m);
        return fail(OVw_OUT_OF_MEMORY, static_cast<OVwMapInfo *>(nullptr));
    }
    m->root_submap_id = s->rootSubmap;
    m->is_open = 1;
    setError(OVw_SUCCESS);
    return m;
}

extern "C" void OVwFreeMapInfo(OVwMapInfo *map)
{
    journaled("OVwFreeMapInfo");
    if (map == nullptr)
        return;
    std::free(map->map_name);
    std::free(map);
}

extern "C" char *OVwGetAppName(void)
{
    if (hooked("OVwGetAppName"))
        return nullptr;
    if (session() == nullptr)
        return nullptr;
    char *name = dupString("tqdaemon");
    if (name == nullptr)
        return fail(OVw_OUT_OF_MEMORY, name);
    setError(OVw_SUCCESS);
    return name;
}

extern "C" OVwFieldBindList *OVwGetAppConfigValues(OVwMapInfo *map, const char *app_name)
{
    if (hooked("OVwGetAppConfigValues", app_name))
        return nullptr;
    if (mapSession(map) == nullptr)
        return nullptr;
    auto *list = static_cast<OVwFieldBindList *>(std::calloc(1, sizeof(OVwFieldBindList)));
    if (list == nullptr)
        return fail(OVw_OUT_OF_MEMORY, list);
    setError(OVw_SUCCESS);
    return list;
}

extern "C" int OVwBeginMapSync(OVwMapInfo *map)
{
    if (hooked("OVwBeginMapSync"))
        return -1;
    if (mapSession(map) == nullptr)
        return -1;
    setError(OVw_SUCCESS);
    return 0;
}

extern "C" int OVwEndMapSync(OVwMapInfo *map)
{
    if (hooked("OVwEndMapSync"))
        return -1;
    if (mapSession(map) == nullptr)
        return -1;
    setError(OVw_SUCCESS);
    return 0;
}

extern "C" int OVwAckMapClose(OVwMapInfo *map, OVwTime close_time)
{
    if (hooked("OVwAckMapClose", close_time))
        return -1;
    if (session() == nullptr)
        return -1;
    // Acknowledged for a map that is already closed: only a record is needed.
    if (map == nullptr)
        return fail(OVw_NO_MAP_OPEN, -1);
    setError(OVw_SUCCESS);
    return 0;
}

// ---- memory ---------------------------------------------------------------------------------

extern "C" void OVFree(void *p)
{
    journaled("OVFree");
    std::free(p);
}
