// The read side of a map database: read-only access to the platform's
// tables for the tools, through SQLite for a file or a server engine for a
// map on a database server. The statements are SQLite's; the few a server
// reads otherwise are given in its form beside them.
#include "mapdb/read.h"

#include "mapdb/engine.h"
#include "mapdb/operator.h"
#include "host/hostpath.h"
#include "host/signals.h"
#include "mapdb/post.h"
#include "ovw/ovw.h"
#include "pgmap/pgmap.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

namespace mapdb {

namespace {

// A statement on either connection: SQLite's prepared and finalized on
// scope exit, or the server engine's (kept by it, keyed by the text's
// address: every text is a literal), reset on scope exit.
class Query {
public:
    template <typename C>
    Query(const C &c, const char *sql) : e_(c.server.get())
    {
        if (e_ != nullptr)
            es_ = e_->prepare(sql);
        else if (sqlite3_prepare_v2(c.lite, sql, -1, &s_, nullptr) != SQLITE_OK)
            s_ = nullptr;
    }
    ~Query()
    {
        if (es_ != nullptr)
            es_->reset();
        sqlite3_finalize(s_);
    }
    Query(const Query &) = delete;
    Query &operator=(const Query &) = delete;

    bool ok() const { return s_ != nullptr || es_ != nullptr; }
    int step()
    {
        if (es_ != nullptr)
            return es_->step();
        return s_ != nullptr ? sqlite3_step(s_) : SQLITE_ERROR;
    }
    void bind(int i, int64_t v)
    {
        if (es_ != nullptr)
            es_->bindInt(i, v);
        else
            sqlite3_bind_int64(s_, i, v);
    }
    void bind(int i, const std::string &v)
    {
        if (es_ != nullptr)
            es_->bindText(i, v.data(), v.size());
        else
            sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
    }
    void bindNull(int i)
    {
        if (es_ != nullptr)
            es_->bindNull(i);
        else
            sqlite3_bind_null(s_, i);
    }
    void reset()
    {
        if (es_ != nullptr)
            es_->reset();
        else
            sqlite3_reset(s_);
    }

    int i32(int col) const { return static_cast<int>(i64(col)); }
    int64_t i64(int col) const { return es_ != nullptr ? es_->i64(col) : sqlite3_column_int64(s_, col); }
    bool isNull(int col) const
    {
        return es_ != nullptr ? es_->isNull(col) : sqlite3_column_type(s_, col) == SQLITE_NULL;
    }
    std::string text(int col) const
    {
        if (es_ != nullptr) {
            const char *t = es_->text(col);
            return t != nullptr ? std::string(t) : std::string();
        }
        const unsigned char *t = sqlite3_column_text(s_, col);
        return t != nullptr ? std::string(reinterpret_cast<const char *>(t),
                                          static_cast<size_t>(sqlite3_column_bytes(s_, col)))
                            : std::string();
    }
    std::optional<std::string> optText(int col) const
    {
        if (isNull(col))
            return std::nullopt;
        return text(col);
    }
    std::optional<int64_t> optInt(int col) const
    {
        if (isNull(col))
            return std::nullopt;
        return i64(col);
    }

private:
    Engine *e_;
    EngineStatement *es_ = nullptr;
    sqlite3_stmt *s_ = nullptr;
};

template <typename C>
std::string sqlError(const C &c, const char *what)
{
    return std::string(what) + ": " + (c.server != nullptr ? c.server->lastError() : sqlite3_errmsg(c.lite));
}

// A server's map was checked whole when it was opened: it has every table.
template <typename C>
bool hasTableOn(const C &c, const char *name)
{
    return c.server != nullptr || hasTable(c.lite, name);
}

// Parses a whole text as a signed integer.
std::optional<int64_t> parseInteger(const std::string &text)
{
    if (text.empty())
        return std::nullopt;
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end == nullptr || *end != '\0')
        return std::nullopt;
    return static_cast<int64_t>(v);
}

std::optional<int64_t> parseBoolean(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (text == "true" || text == "yes" || text == "on" || text == "1")
        return 1;
    if (text == "false" || text == "no" || text == "off" || text == "0")
        return 0;
    return std::nullopt;
}

}  // namespace

std::string defaultMapPath()
{
    // The daemon's own mapping, so both look at the same file.
    const char *env = std::getenv("OVW_MAPDB");
    if (env != nullptr && pgmap::isServerLocation(env))
        return env;
    return mapDatabasePath();
}

bool isServerMap(const std::string &location)
{
    return pgmap::isServerLocation(location);
}

MapReader::Connection::Connection() = default;

MapReader::Connection::~Connection()
{
    close();
}

void MapReader::Connection::close()
{
    if (lite != nullptr)
        sqlite3_close(lite);
    lite = nullptr;
    server.reset();
}

MapReader::~MapReader() = default;

bool MapReader::open(const std::string &path, std::string &error)
{
    db_.close();   // opened again: the earlier connection goes
    watch_ = Watch::Undecided;
    if (pgmap::isServerLocation(path)) {
        const std::string where = pgmap::displayUri(path);
        const int code = pgmap::openReader(path, db_.server, error);
        if (code == OVw_NOT_A_MAP)
            error = where + " is not a map database (" + error + ")";
        else if (code != 0)
            error = "cannot read the map database " + where + ": " + error;
        return code == 0;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = "no map database at " + path;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + " is not a file";
        return false;
    }
    // Read-only and never created; the daemon may be writing it (WAL), so
    // wait for its locks a little instead of failing at once.
    if (sqlite3_open_v2(path.c_str(), &db_.lite, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        error = db_.lite != nullptr ? sqlError(db_, ("cannot open " + path).c_str()) : "cannot open " + path;
        return false;
    }
    sqlite3_busy_timeout(db_.lite, 5000);
    for (const char *t : {"map", "fields", "objects", "field_values", "submaps", "symbols"}) {
        if (!hasTable(db_.lite, t)) {
            int code = sqlite3_errcode(db_.lite) & 0xff;
            if (code == SQLITE_NOTADB || code == SQLITE_CORRUPT)
                error = sqlError(db_, (path + " is not a map database").c_str());
            else if (code == SQLITE_CANTOPEN || code == SQLITE_PERM || code == SQLITE_AUTH || code == SQLITE_IOERR ||
                     code == SQLITE_READONLY)
                // A file this user may not read (or whose folder lacks the
                // shared-memory index it may not make) is no map problem.
                error = sqlError(db_, ("cannot read the map database " + path).c_str());
            else
                error = path + " is not a map database (no table '" + t + "')";
            return false;
        }
    }
    return true;
}

bool MapReader::readFields(std::map<int, FieldInfo> &fields, std::string &error)
{
    Query q(db_, "SELECT id, name, type FROM fields ORDER BY id");
    if (!q.ok()) {
        error = sqlError(db_, "reading the fields");
        return false;
    }
    int rc;
    while ((rc = q.step()) == SQLITE_ROW) {
        FieldInfo f;
        f.id = q.i32(0);
        f.name = q.text(1);
        f.type = q.i32(2);
        fields[f.id] = f;
    }
    if (rc != SQLITE_DONE) {
        error = sqlError(db_, "reading the fields");
        return false;
    }
    return true;
}

bool MapReader::readValues(std::map<int, Object> &objects, const std::vector<int> *only, std::string &error)
{
    const char *all = "SELECT object, field, type, is_list, int_value, text_value FROM field_values "
                      "ORDER BY object, field";
    const char *one = "SELECT object, field, type, is_list, int_value, text_value FROM field_values "
                      "WHERE object = ?1 ORDER BY field";
    Query q(db_, only != nullptr ? one : all);
    if (!q.ok()) {
        error = sqlError(db_, "reading the field values");
        return false;
    }
    auto readRows = [&]() {
        int rc;
        while ((rc = q.step()) == SQLITE_ROW) {
            auto it = objects.find(q.i32(0));
            if (it == objects.end())
                continue;   // a value of a missing object: nothing to show it on
            FieldValue v;
            v.field = q.i32(1);
            v.type = q.i32(2);
            v.isList = q.i32(3) != 0;
            v.intValue = q.optInt(4);
            v.textValue = q.optText(5);
            it->second.values.push_back(std::move(v));
        }
        return rc == SQLITE_DONE;
    };
    if (only == nullptr) {
        if (!readRows()) {
            error = sqlError(db_, "reading the field values");
            return false;
        }
        return true;
    }
    for (int id : *only) {
        q.reset();
        q.bind(1, id);
        if (!readRows()) {
            error = sqlError(db_, "reading the field values");
            return false;
        }
    }
    return true;
}

bool MapReader::readMap(MapRows &m, std::string &error, bool withValues)
{
    // One read transaction (one snapshot on a server), so the daemon's
    // commits cannot tear the picture.
    const bool begun = db_.server != nullptr
                           ? db_.server->exec("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY") == kResultDone
                           : sqlite3_exec(db_.lite, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!begun) {
        error = sqlError(db_, "starting a read");
        return false;
    }
    struct EndRead {
        Connection &c;
        ~EndRead()
        {
            if (c.server != nullptr)
                c.server->exec("COMMIT");
            else
                sqlite3_exec(c.lite, "COMMIT", nullptr, nullptr, nullptr);
        }
    } endRead{db_};

    {
        Query q(db_, "SELECT name, root_submap, is_open FROM map LIMIT 1");
        int rc = q.step();
        if (rc == SQLITE_ROW) {
            m.mapName = q.text(0);
            m.rootSubmap = q.i32(1);
            m.isOpen = q.i32(2) != 0;
        } else if (rc != SQLITE_DONE) {
            error = sqlError(db_, "reading the map record");
            return false;
        } else {
            error = "the database holds no map";
            return false;
        }
    }
    if (!readFields(m.fields, error))
        return false;
    {
        Query q(db_, "SELECT id, selection_name FROM objects ORDER BY id");
        int rc;
        while ((rc = q.step()) == SQLITE_ROW) {
            Object o;
            o.id = q.i32(0);
            o.selectionName = q.text(1);
            m.objects[o.id] = std::move(o);
        }
        if (rc != SQLITE_DONE) {
            error = sqlError(db_, "reading the objects");
            return false;
        }
    }
    if (withValues && !readValues(m.objects, nullptr, error))
        return false;
    {
        Query q(db_, "SELECT id, parent_object, type, name, layout, background FROM submaps ORDER BY id");
        int rc;
        while ((rc = q.step()) == SQLITE_ROW) {
            Submap s;
            s.id = q.i32(0);
            s.parentObject = q.i32(1);
            s.type = q.i32(2);
            s.name = q.text(3);
            s.layout = q.i32(4);
            s.background = q.optText(5);
            m.submaps[s.id] = std::move(s);
        }
        if (rc != SQLITE_DONE) {
            error = sqlError(db_, "reading the submaps");
            return false;
        }
    }
    {
        // Maps made before positions were kept have no columns for them.
        bool positions = db_.server != nullptr;
        if (!positions) {
            Query p(db_, "SELECT 1 FROM pragma_table_info('symbols') WHERE name = 'pos_x'");
            positions = p.step() == SQLITE_ROW;
        }
        Query q(db_, positions ? "SELECT id, submap, object, variety, symbol_type, label, status, status_source,"
                                 " flags, conn_a, conn_z, pos_x, pos_y FROM symbols ORDER BY id"
                               : "SELECT id, submap, object, variety, symbol_type, label, status, status_source,"
                                 " flags, conn_a, conn_z, NULL, NULL FROM symbols ORDER BY id");
        int rc;
        while ((rc = q.step()) == SQLITE_ROW) {
            Symbol s;
            s.id = q.i32(0);
            s.submap = q.i32(1);
            s.object = q.i32(2);
            s.variety = q.i32(3);
            s.symbolType = q.optText(4);
            s.label = q.optText(5);
            s.status = q.i32(6);
            s.statusSource = q.i32(7);
            s.flags = q.i32(8);
            s.connA = q.i32(9);
            s.connZ = q.i32(10);
            if (!q.isNull(11))
                s.posX = q.i32(11);
            if (!q.isNull(12))
                s.posY = q.i32(12);
            m.symbols[s.id] = std::move(s);
        }
        if (rc != SQLITE_DONE) {
            error = sqlError(db_, "reading the symbols");
            return false;
        }
    }
    return true;
}

bool MapReader::findObjects(const std::string &fieldName, const std::string &value, std::vector<Object> &out,
                              std::string &error)
{
    int fieldId = 0;
    int fieldType = 0;
    {
        Query q(db_, "SELECT id, type FROM fields WHERE name = ?1");
        q.bind(1, fieldName);
        int rc = q.step();
        if (rc == SQLITE_ROW) {
            fieldId = q.i32(0);
            fieldType = q.i32(1);
        } else if (rc == SQLITE_DONE) {
            error = "no field named '" + fieldName + "' in this map database";
            return false;
        } else {
            error = sqlError(db_, "looking up the field");
            return false;
        }
    }

    // The number the text stands for, by the field's type; strings match as
    // text only.
    std::optional<int64_t> number;
    if (fieldType == 2) {
        number = parseBoolean(value);
        if (!number) {
            error = "field '" + fieldName + "' is boolean: give true or false, not '" + value + "'";
            return false;
        }
    } else if (fieldType == 1 || fieldType == 4) {
        number = parseInteger(value);
        if (!number) {
            error = "field '" + fieldName + "' holds integers: '" + value + "' is not one";
            return false;
        }
    }

    // A list holds the value when one of its string elements equals it.
    Query q(db_, db_.server != nullptr
                     ? "SELECT object FROM field_values WHERE field = ?1 AND ("
                       " (is_list = 0 AND type = 3 AND text_value = ?2)"
                       " OR (is_list = 0 AND type IN (1, 2, 4) AND CAST(?3 AS bigint) IS NOT NULL AND int_value = ?3)"
                       " OR (is_list = 1 AND text_value LIKE '[%' AND CAST(text_value AS jsonb) @> jsonb_build_array(CAST(?2 AS text))))"
                       " ORDER BY object"
                     : "SELECT object FROM field_values WHERE field = ?1 AND ("
                       " (is_list = 0 AND type = 3 AND text_value = ?2)"
                       " OR (is_list = 0 AND type IN (1, 2, 4) AND ?3 IS NOT NULL AND int_value = ?3)"
                       " OR (is_list = 1 AND json_valid(text_value) AND EXISTS ("
                       "     SELECT 1 FROM json_each(field_values.text_value) AS j WHERE j.value = ?2)))"
                       " ORDER BY object");
    if (!q.ok()) {
        error = sqlError(db_, "searching the field values");
        return false;
    }
    q.bind(1, fieldId);
    q.bind(2, value);
    if (number)
        q.bind(3, *number);
    else
        q.bindNull(3);
    std::vector<int> ids;
    int rc;
    while ((rc = q.step()) == SQLITE_ROW)
        ids.push_back(q.i32(0));
    if (rc != SQLITE_DONE) {
        error = sqlError(db_, "searching the field values");
        return false;
    }

    std::map<int, Object> found;
    Query names(db_, "SELECT selection_name FROM objects WHERE id = ?1");
    for (int id : ids) {
        names.reset();
        names.bind(1, id);
        Object o;
        o.id = id;
        if (names.step() == SQLITE_ROW)
            o.selectionName = names.text(0);
        found[id] = std::move(o);
    }
    if (!readValues(found, &ids, error))
        return false;
    for (auto &entry : found)
        out.push_back(std::move(entry.second));
    return true;
}

bool MapReader::readObjectValues(Object &o, std::string &error)
{
    std::map<int, Object> one;
    one[o.id] = Object{o.id, o.selectionName, {}};
    std::vector<int> ids{o.id};
    if (!readValues(one, &ids, error))
        return false;
    o.values = std::move(one[o.id].values);
    return true;
}

bool MapReader::searchValues(const std::string &needle, std::map<int, std::string> &hits, std::string &error)
{
    // instr over lower() rather than LIKE: no wildcards to escape.
    Query q(db_, db_.server != nullptr
                     ? "SELECT v.object, f.name FROM field_values v LEFT JOIN fields f ON f.id = v.field WHERE"
                       " strpos(lower(coalesce(v.text_value, CAST(v.int_value AS text))), lower(?1)) > 0"
                       " ORDER BY v.object, v.field"
                     : "SELECT v.object, f.name FROM field_values v LEFT JOIN fields f ON f.id = v.field"
                       " WHERE instr(lower(coalesce(v.text_value, v.int_value)), lower(?1)) > 0"
                       " ORDER BY v.object, v.field");
    if (!q.ok()) {
        error = sqlError(db_, "searching the field values");
        return false;
    }
    q.bind(1, needle);
    int rc;
    while ((rc = q.step()) == SQLITE_ROW)
        hits.emplace(q.i32(0), q.text(1));
    if (rc != SQLITE_DONE) {
        error = sqlError(db_, "searching the field values");
        return false;
    }
    return true;
}

#define TQ_CHANGE_COLUMNS "SELECT id, time, kind, object, symbol, submap, old_value, new_value FROM changes"

namespace {

// A row of TQ_CHANGE_COLUMNS.
Change changeRow(Query &q)
{
    Change c;
    c.id = q.i64(0);
    c.timeMs = q.i64(1);
    c.kind = q.text(2);
    c.object = q.i32(3);
    c.symbol = q.i32(4);
    c.submap = q.i32(5);
    c.oldValue = q.optText(6);
    c.newValue = q.optText(7);
    return c;
}

}  // namespace

bool MapReader::readChanges(int64_t sinceMs, int limit, std::vector<Change> &out, std::string &error)
{
    if (!hasTableOn(db_, "changes"))
        return true;   // a map made before the history: nothing to show
    // The rows kept only for rebuilding past maps (object and submap
    // creations, positions, submap changes) are left out of the list.
    Query q(db_, TQ_CHANGE_COLUMNS " WHERE time >= ?1 AND kind IN ('created', 'deleted', 'status', 'label', 'type',"
                                   " 'object deleted') ORDER BY id DESC LIMIT ?2");
    if (!q.ok()) {
        error = sqlError(db_, "reading the changes");
        return false;
    }
    q.bind(1, sinceMs);
    q.bind(2, limit);
    int rc;
    while ((rc = q.step()) == SQLITE_ROW)
        out.push_back(changeRow(q));
    if (rc != SQLITE_DONE) {
        error = sqlError(db_, "reading the changes");
        return false;
    }
    return true;
}

bool MapReader::lastStatusChange(int object, std::optional<Change> &out, std::string &error)
{
    out.reset();
    if (!hasTableOn(db_, "changes"))
        return true;
    Query q(db_, TQ_CHANGE_COLUMNS " WHERE kind = 'status' AND object = ?1 ORDER BY id DESC LIMIT 1");
    if (!q.ok()) {
        error = sqlError(db_, "reading the changes");
        return false;
    }
    q.bind(1, object);
    int rc = q.step();
    if (rc == SQLITE_ROW)
        out = changeRow(q);
    else if (rc != SQLITE_DONE) {
        error = sqlError(db_, "reading the changes");
        return false;
    }
    return true;
}

bool MapReader::readRunCounters(RunCounters &c, bool &found, std::string &error)
{
    found = false;
    if (!hasTableOn(db_, "run_counters"))
        return true;
    Query q(db_,
            "SELECT started, updated, ended, frames_read, applied, refused, failed, skipped, events_handled"
            " FROM run_counters WHERE id = 1");
    int rc = q.step();
    if (rc == SQLITE_ROW) {
        found = true;
        c.started = q.i64(0);
        c.updated = q.i64(1);
        c.ended = q.i64(2);
        c.framesRead = q.i64(3);
        c.applied = q.i64(4);
        c.refused = q.i64(5);
        c.failed = q.i64(6);
        c.skipped = q.i64(7);
        c.eventsHandled = q.i64(8);
        return true;
    }
    if (rc != SQLITE_DONE) {
        error = sqlError(db_, "reading the run counters");
        return false;
    }
    return true;
}

int64_t MapReader::dataVersion()
{
    // A server's: where its log is written (a primary) or replayed (a standby).
    Query q(db_, db_.server != nullptr ? "SELECT CAST((CASE WHEN pg_is_in_recovery() THEN pg_last_wal_replay_lsn()"
                                         " ELSE pg_current_wal_insert_lsn() END) - '0/0' AS bigint)"
                                       : "PRAGMA data_version");
    return q.step() == SQLITE_ROW ? q.i64(0) : -1;
}

int MapReader::waitForChange(int timeoutMs)
{
    if (watch_ == Watch::Undecided) {
        watch_ = db_.server != nullptr && pgmap::listenForChanges(*db_.server) ? Watch::Notices : Watch::Look;
        seen_ = dataVersion();
    }
    if (watch_ == Watch::Look) {
        sleepUnlessStopped(timeoutMs);
        const int64_t v = dataVersion();
        if (v < 0)
            return -1;
        const bool changed = v != seen_;
        seen_ = v;
        return changed ? 1 : 0;
    }
    Engine &e = *db_.server;
    const int n = e.waitForNotices(timeoutMs);
    if (n >= 0)
        return n > 0 ? 1 : 0;
    // The connection was lost: made again (listening again) with the next
    // transaction; until then one try per wait.
    if (e.beginRead() != kResultDone) {
        sleepUnlessStopped(timeoutMs);
        return -1;
    }
    e.rollback();
    return 1;
}

std::set<int> MapReader::statusChangedSince(int64_t sinceMs)
{
    std::set<int> out;
    if (!hasTableOn(db_, "changes"))
        return out;   // a map made before the history
    Query q(db_, "SELECT DISTINCT symbol FROM changes WHERE kind = 'status' AND time >= ?1");
    q.bind(1, sinceMs);
    while (q.step() == SQLITE_ROW)
        out.insert(q.i32(0));
    return out;
}

std::string utcTime(int64_t ms)
{
    // Civil date from days since 1970 (proleptic Gregorian), by arithmetic:
    // no time zone and no call of the host.
    const int64_t msOfDay = ((ms % 86400000) + 86400000) % 86400000;
    const int64_t z = (ms - msOfDay) / 86400000 + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day),
                  static_cast<long long>(msOfDay / 3600000), static_cast<long long>(msOfDay / 60000 % 60),
                  static_cast<long long>(msOfDay / 1000 % 60), static_cast<long long>(msOfDay % 1000));
    return buf;
}

bool MapReader::readHistoryWindow(HistoryWindow &w, std::string &error)
{
    w = HistoryWindow();
    if (!hasTableOn(db_, "changes"))
        return true;   // a map made before the history
    // A map whose history cannot undo its changes has no complete_since: a
    // file made before that history, or a server map of schema version 1.
    {
        Query q(db_, db_.server != nullptr
                         ? "SELECT 1 FROM information_schema.columns WHERE table_schema = current_schema()"
                           " AND table_name = 'change_settings' AND column_name = 'complete_since'"
                         : "SELECT 1 FROM pragma_table_info('change_settings') WHERE name = 'complete_since'");
        if (q.step() != SQLITE_ROW)
            return true;   // a history that cannot undo its changes
    }
    Query q(db_, "SELECT complete_since, max_rows, (SELECT count(*) FROM changes) FROM change_settings LIMIT 1");
    int rc = q.step();
    if (rc == SQLITE_ROW && !q.isNull(0)) {
        w.kept = true;
        w.completeSinceMs = q.i64(0);
        w.maxRows = q.i64(1);
        w.rows = q.i64(2);
    } else if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        error = sqlError(db_, "reading the history's window");
        return false;
    }
    return true;
}

namespace {

int orZero(const std::optional<int64_t> &v) { return v ? static_cast<int>(*v) : 0; }

// The undoing of one history row on the rows of a map.
void undo(MapRows &m, const UndoRow &c)
{
    const std::string &k = c.kind;
    if (k == "created") {
        m.symbols.erase(c.symbol);
    } else if (k == "deleted") {
        Symbol s;
        s.id = c.symbol;
        s.submap = c.submap;
        s.object = c.object;
        s.label = c.oldValue;
        s.variety = orZero(c.was[0]);
        s.symbolType = c.wasText;
        s.status = orZero(c.was[2]);
        s.statusSource = orZero(c.was[3]);
        s.flags = orZero(c.was[4]);
        s.connA = orZero(c.was[5]);
        s.connZ = orZero(c.was[6]);
        if (c.was[7])
            s.posX = static_cast<int>(*c.was[7]);
        if (c.was[8])
            s.posY = static_cast<int>(*c.was[8]);
        m.symbols[s.id] = std::move(s);
    } else if (k == "object created") {
        m.objects.erase(c.object);
    } else if (k == "object deleted") {
        Object &o = m.objects[c.object];
        o.id = c.object;
        o.selectionName = c.oldValue.value_or("");
    } else if (k == "submap created") {
        m.submaps.erase(c.submap);
    } else if (k == "submap deleted" || k == "submap changed") {
        Submap &sm = m.submaps[c.submap];
        sm.id = c.submap;
        sm.parentObject = c.object;
        sm.name = c.oldValue.value_or("");
        sm.type = orZero(c.was[0]);
        sm.layout = orZero(c.was[1]);
        sm.background = c.wasText;
    } else {
        auto it = m.symbols.find(c.symbol);
        if (it == m.symbols.end())
            return;
        Symbol &s = it->second;
        if (k == "status")
            s.status = c.oldValue ? std::atoi(c.oldValue->c_str()) : 0;
        else if (k == "label")
            s.label = c.oldValue;
        else if (k == "type")
            s.symbolType = c.oldValue;
        else if (k == "position") {
            s.posX = c.was[0] ? std::optional<int>(static_cast<int>(*c.was[0])) : std::nullopt;
            s.posY = c.was[1] ? std::optional<int>(static_cast<int>(*c.was[1])) : std::nullopt;
        }
    }
}

}  // namespace

bool UndoRow::ofObject() const { return kind == "object created" || kind == "object deleted"; }

bool UndoRow::ofSubmap() const { return kind.compare(0, 7, "submap ") == 0; }

bool UndoRow::ofSymbol() const { return !ofObject() && !ofSubmap(); }

void Undo::apply(MapRows &m) const
{
    for (const UndoRow &c : rows)
        undo(m, c);
}

void Undo::apply(MapRows &m, const std::set<int> &submaps, const std::set<int> &symbolObjects,
                 const std::set<int> &objects, bool withSubmaps) const
{
    for (const UndoRow &c : rows) {
        const bool take = c.ofSubmap()   ? withSubmaps
                          : c.ofObject() ? objects.count(c.object) != 0
                                         : submaps.count(c.submap) != 0 || symbolObjects.count(c.object) != 0;
        if (take)
            undo(m, c);
    }
}

bool MapReader::rewind(MapRows &rows, int64_t atMs, std::string &error)
{
    Undo u;
    if (!readUndo(atMs, u, error))
        return false;
    u.apply(rows);
    return true;
}

bool MapReader::readUndo(int64_t atMs, Undo &out, std::string &error)
{
    out.rows.clear();
    HistoryWindow w;
    if (!readHistoryWindow(w, error))
        return false;
    if (!w.kept) {
        error = "this map's history cannot rebuild it: the map was last opened by a daemon older than the "
                "history that keeps every change";
        return false;
    }
    if (atMs < w.completeSinceMs) {
        error = "the history reaches back to " + utcTime(w.completeSinceMs) + " only: the map as it was at " +
                utcTime(atMs) + " is not known";
        return false;
    }
    // Newest first, up to the first row at or before the time. The `was`
    // arrays are taken apart here so the undoing reads plain columns.
    Query q(db_, db_.server != nullptr
                     ? "SELECT time, kind, object, symbol, submap, old_value,"
                       " was::json ->> 0, was::json ->> 1, was::json ->> 2, was::json ->> 3, was::json ->> 4,"
                       " was::json ->> 5, was::json ->> 6, was::json ->> 7, was::json ->> 8"
                       " FROM changes ORDER BY id DESC"
                     : "SELECT time, kind, object, symbol, submap, old_value,"
                       " json_extract(was, '$[0]'), json_extract(was, '$[1]'), json_extract(was, '$[2]'),"
                       " json_extract(was, '$[3]'), json_extract(was, '$[4]'), json_extract(was, '$[5]'),"
                       " json_extract(was, '$[6]'), json_extract(was, '$[7]'), json_extract(was, '$[8]')"
                       " FROM changes ORDER BY id DESC");
    if (!q.ok()) {
        error = sqlError(db_, "reading the history");
        return false;
    }
    int rc;
    while ((rc = q.step()) == SQLITE_ROW) {
        if (q.i64(0) <= atMs)
            break;
        UndoRow c;
        c.kind = q.text(1);
        c.object = q.i32(2);
        c.symbol = q.i32(3);
        c.submap = q.i32(4);
        c.oldValue = q.optText(5);
        for (int i = 0; i < 9; ++i)
            c.was[i] = q.optInt(6 + i);
        // A deleted symbol's type and a submap's background are the texts of the arrays.
        if (c.kind == "deleted")
            c.wasText = q.optText(7);
        else if (c.kind == "submap deleted" || c.kind == "submap changed")
            c.wasText = q.optText(8);
        out.rows.push_back(std::move(c));
    }
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) {
        out.rows.clear();
        error = sqlError(db_, "reading the history");
        return false;
    }
    return true;
}

bool postOperatorEvent(const std::string &dbPath, int code, const std::vector<int> &ids, std::string &error)
{
    return postEventToFile(dbPath, code, ids, error) == 0;
}

}  // namespace mapdb
