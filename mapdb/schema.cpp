// The schema of the map database: its tables and indexes, the seeded field
// registry, the checks that a database is a map this code knows, and the
// migration steps, one per version of PRAGMA user_version.
#include "mapdb/schema.h"

#include "mapdb/operator.h"

#include <cstring>
#include <string>

namespace mapdb {

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
    ("CREATE INDEX IF NOT EXISTS field_values_by_text ON field_values(text_value, field, located, is_list)"
     " WHERE located = 1 AND text_value IS NOT NULL"),
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
    return q.step() == kResultRow && q.i64(0) > 0;
}

// The version of the schema this code makes and uses (PRAGMA user_version).
// Maps of earlier versions are brought to it one step per version.
constexpr int kSchemaVersion = 3;

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
        if (q.step() == kResultRow)
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

// Version 3: a history that holds what rebuilding a past map needs.
static bool migrateFrom2(Db &db, SchemaRunner &run)
{
    std::string err;
    return upgradeHistory(db.handle(), err) || run.fail(err);
}

static const MigrationStep kSteps[kSchemaVersion] = {&migrateFrom0, &migrateFrom1, &migrateFrom2};

static int schemaVersion(Db &db)
{
    Stmt q(db, "PRAGMA user_version");
    return q.step() == kResultRow ? q.i32(0) : -1;
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
        seeded = q.step() == kResultRow && q.i64(0) > 0;
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

bool seedServerMap(Db &db, std::string &err)
{
    auto failed = [&]() {
        err = db.lastError();
        db.rollback();
        return false;
    };
    if (!db.begin())
        return failed();
    {
        // A new history is complete from its first row on; the bound is
        // this start's.
        Stmt seed(db, "INSERT INTO change_settings(max_rows, complete_since) SELECT 0, tq_now_ms()"
                      " WHERE NOT EXISTS (SELECT 1 FROM change_settings)");
        Stmt bound(db, "UPDATE change_settings SET max_rows = ?1");
        bound.bind(1, historyRowsFromEnvironment());
        if (!seed.run() || !bound.run())
            return failed();
    }
    bool seeded = false;
    {
        Stmt q(db, "SELECT count(*) FROM map");
        seeded = q.step() == kResultRow && q.i64(0) > 0;
    }
    if (!seeded) {
        Stmt root(db, "INSERT INTO submaps(parent_object, type, name, layout, background) VALUES(0, 1, 'Root', 0, NULL)");
        if (!root.run())
            return failed();
        Stmt row(db, "INSERT INTO map(name, root_submap, is_open) VALUES('default', ?1, 1)");
        row.bind(1, db.lastInsertId());
        if (!row.run() || !seedFields(db))
            return failed();
    }
    return db.commit() || failed();
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
        while ((rc = q.step()) == kResultRow) {
            ++tables;
            for (const TableColumns &t : kMapColumns)
                mapTables += std::strcmp(q.text(0), t.table) == 0 ? 1 : 0;
        }
        if (rc != kResultDone || version < 0) {
            err = db.lastError();
            const int cause = db.takeTurnFault();
            db.takeDamage();
            if (cause != 0)
                return cause;
            // The failure may have come when the statement was prepared.
            const int failure = rc == kResultDone || (rc & 0xff) == SQLITE_ERROR ? db.lastFailureCode() & 0xff
                                                                                 : rc & 0xff;
            if (failure == SQLITE_CORRUPT) {
                err = "it is damaged: " + err + " (left unchanged)";
                return OVw_MAP_DAMAGED;
            }
            return failure == SQLITE_NOTADB ? OVw_NOT_A_DATABASE : OVw_STORAGE_FAILURE;
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

}  // namespace mapdb
