// The status roll-up, the history of changes and the run counters.
#include "mapdb/operator.h"

#include "mapdb/internal.h"

#include <chrono>
#include <cstdlib>
#include <functional>

namespace mapdb {

// ---- status roll-up ----------------------------------------------------------------

const std::vector<StatusInfo> &statuses()
{
    static const std::vector<StatusInfo> table = {
        {OVwStatusUnknown, "unknown", 1},   {OVwStatusNormal, "normal", 2},    {OVwStatusCritical, "critical", 7},
        {OVwStatusMarginal, "marginal", 5}, {OVwStatusMajor, "major", 6},      {OVwStatusUnmanaged, "unmanaged", 0},
        {OVwStatusMinor, "minor", 4},       {OVwStatusWarning, "warning", 3},
    };
    return table;
}

std::string statusName(int status)
{
    for (const StatusInfo &s : statuses())
        if (s.value == status)
            return s.name;
    return "status " + std::to_string(status);
}

int statusSeverity(int status)
{
    for (const StatusInfo &s : statuses())
        if (s.value == status)
            return s.severity;
    return -1;
}

int worseStatus(int a, int b)
{
    if (a == -1)
        return b;
    if (b == -1)
        return a;
    return statusSeverity(b) > statusSeverity(a) ? b : a;
}

namespace {

// The roll-up's walk over any source of rows: the submaps an object parents
// and the symbols on a submap. Each symbol's and each submap's result is
// computed once; a submap met again while its own roll-up is under way (a
// cycle of graphs) adds nothing.
class RollUp {
public:
    using ChildSubmaps = std::function<const std::vector<int> &(int object)>;
    using SymbolsOn = std::function<const std::vector<StatusRow> &(int submap)>;
    RollUp(ChildSubmaps childSubmaps, SymbolsOn symbolsOn)
        : childSubmaps_(std::move(childSubmaps)), symbolsOn_(std::move(symbolsOn))
    {
    }

    int effective(const StatusRow &r)
    {
        auto done = out_.find(r.id);
        if (done != out_.end())
            return done->second;
        int e = r.status;
        if (r.statusSource == OVwRollUpStatusSource) {
            int w = -1;
            for (int submap : childSubmaps_(r.object))
                w = worseStatus(w, submapWorst(submap));
            if (w != -1)
                e = w;
        }
        out_[r.id] = e;
        return e;
    }

    std::unordered_map<int, int> &results() { return out_; }

private:
    static constexpr int kBusy = -2;

    int submapWorst(int submap)
    {
        auto it = worst_.find(submap);
        if (it != worst_.end())
            return it->second == kBusy ? -1 : it->second;
        worst_[submap] = kBusy;
        int w = -1;
        for (const StatusRow &r : symbolsOn_(submap))
            w = worseStatus(w, effective(r));
        worst_[submap] = w;
        return w;
    }

    ChildSubmaps childSubmaps_;
    SymbolsOn symbolsOn_;
    std::unordered_map<int, int> out_;     // symbol -> effective status
    std::unordered_map<int, int> worst_;   // submap -> worst effective status (-1: no symbol)
};

const std::vector<int> kNoSubmaps;
const std::vector<StatusRow> kNoRows;

}  // namespace

std::unordered_map<int, int> effectiveStatuses(const std::vector<StatusRow> &symbols,
                                               const std::vector<std::pair<int, int>> &submapParents)
{
    std::unordered_map<int, std::vector<StatusRow>> onSubmap;
    for (const StatusRow &r : symbols)
        onSubmap[r.submap].push_back(r);
    std::unordered_map<int, std::vector<int>> childSubmaps;   // object -> submaps it parents
    for (const auto &[submap, parent] : submapParents)
        if (parent != 0)
            childSubmaps[parent].push_back(submap);
    RollUp rollUp(
        [&](int object) -> const std::vector<int> & {
            auto it = childSubmaps.find(object);
            return it != childSubmaps.end() ? it->second : kNoSubmaps;
        },
        [&](int submap) -> const std::vector<StatusRow> & {
            auto it = onSubmap.find(submap);
            return it != onSubmap.end() ? it->second : kNoRows;
        });
    rollUp.results().reserve(symbols.size());
    for (const StatusRow &r : symbols)
        rollUp.effective(r);
    return std::move(rollUp.results());
}

// ---- the tables ------------------------------------------------------------------------

int64_t historyRowsFromEnvironment()
{
    const char *env = std::getenv("OVW_HISTORY_ROWS");
    if (env == nullptr || *env == '\0')
        return kDefaultHistoryRows;
    char *end = nullptr;
    long long v = std::strtoll(env, &end, 10);
    return end != nullptr && *end == '\0' && v > 0 ? static_cast<int64_t>(v) : kDefaultHistoryRows;
}

bool hasTable(sqlite3 *db, const char *name)
{
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1", -1, &st,
                           nullptr) != SQLITE_OK)
        return false;
    sqlite3_bind_text(st, 1, name, -1, SQLITE_STATIC);
    bool found = sqlite3_step(st) == SQLITE_ROW;
    sqlite3_finalize(st);
    return found;
}

// Milliseconds since 1970, as SQL.
#define TQ_NOW_MS "CAST((julianday('now') - 2440587.5) * 86400000 AS INTEGER)"

static const char *const kOperatorSchema[] = {
    // What changed, oldest first. kind: created, deleted, status, label, type
    // (of a symbol; the symbol's submap and object) or object deleted (old:
    // its selection name). old/new: the values before and after.
    "CREATE TABLE IF NOT EXISTS changes(id INTEGER PRIMARY KEY, time INTEGER, kind TEXT, object INTEGER,"
    " symbol INTEGER, submap INTEGER, old_value TEXT, new_value TEXT)",
    // No index by time: times grow with the id, and readers can afford a
    // scan of the bounded table better than every change a second insertion.
    "CREATE TABLE IF NOT EXISTS change_settings(max_rows INTEGER NOT NULL)",
    // Trimmed every 256 rows back to max_rows, so the history holds at most
    // max_rows + 255 rows and a change rarely pays for a deletion.
    "CREATE TRIGGER IF NOT EXISTS changes_trim AFTER INSERT ON changes WHEN new.id % 256 = 0 BEGIN"
    " DELETE FROM changes WHERE id <= new.id - (SELECT max_rows FROM change_settings LIMIT 1); END",
    "CREATE TRIGGER IF NOT EXISTS changes_symbol_created AFTER INSERT ON symbols BEGIN"
    " INSERT INTO changes(time, kind, object, symbol, submap, new_value)"
    " VALUES(" TQ_NOW_MS ", 'created', new.object, new.id, new.submap, new.label); END",
    "CREATE TRIGGER IF NOT EXISTS changes_symbol_deleted AFTER DELETE ON symbols BEGIN"
    " INSERT INTO changes(time, kind, object, symbol, submap, old_value)"
    " VALUES(" TQ_NOW_MS ", 'deleted', old.object, old.id, old.submap, old.label); END",
    "CREATE TRIGGER IF NOT EXISTS changes_symbol_status AFTER UPDATE OF status ON symbols"
    " WHEN old.status IS NOT new.status BEGIN"
    " INSERT INTO changes(time, kind, object, symbol, submap, old_value, new_value)"
    " VALUES(" TQ_NOW_MS ", 'status', new.object, new.id, new.submap, old.status, new.status); END",
    "CREATE TRIGGER IF NOT EXISTS changes_symbol_label AFTER UPDATE OF label ON symbols"
    " WHEN old.label IS NOT new.label BEGIN"
    " INSERT INTO changes(time, kind, object, symbol, submap, old_value, new_value)"
    " VALUES(" TQ_NOW_MS ", 'label', new.object, new.id, new.submap, old.label, new.label); END",
    "CREATE TRIGGER IF NOT EXISTS changes_symbol_type AFTER UPDATE OF symbol_type ON symbols"
    " WHEN old.symbol_type IS NOT new.symbol_type BEGIN"
    " INSERT INTO changes(time, kind, object, symbol, submap, old_value, new_value)"
    " VALUES(" TQ_NOW_MS ", 'type', new.object, new.id, new.submap, old.symbol_type, new.symbol_type); END",
    "CREATE TRIGGER IF NOT EXISTS changes_object_deleted AFTER DELETE ON objects BEGIN"
    " INSERT INTO changes(time, kind, object, old_value)"
    " VALUES(" TQ_NOW_MS ", 'object deleted', old.id, old.selection_name); END",
    // The daemon's run counters, one row (id 1): started and updated are
    // seconds since 1970; ended is 1 once the daemon wrote them on its way out.
    "CREATE TABLE IF NOT EXISTS run_counters(id INTEGER PRIMARY KEY, started INTEGER,"
    " updated INTEGER, ended INTEGER, frames_read INTEGER, applied INTEGER, refused INTEGER, failed INTEGER,"
    " skipped INTEGER, events_handled INTEGER)",
};

#undef TQ_NOW_MS

bool ensureOperatorTables(sqlite3 *db, int64_t historyRows, std::string &err)
{
    auto run = [&](const char *sql) {
        char *msg = nullptr;
        if (sqlite3_exec(db, sql, nullptr, nullptr, &msg) != SQLITE_OK) {
            err = msg != nullptr ? msg : "cannot create the history tables";
            sqlite3_free(msg);
            return false;
        }
        return true;
    };
    for (const char *sql : kOperatorSchema)
        if (!run(sql))
            return false;
    std::string setting = "DELETE FROM change_settings; INSERT INTO change_settings(max_rows) VALUES(" +
                          std::to_string(historyRows) + ")";
    return run(setting.c_str());
}

}  // namespace mapdb

using namespace mapdb;

// ---- platform calls ------------------------------------------------------------------------

namespace {

// The counters last given, written at most once a second and when the
// session ends.
struct PendingCounters {
    OVwRunCounters counters{};
    bool unwritten = false;
    std::chrono::steady_clock::time_point lastWrite{};
    bool everWritten = false;
};

PendingCounters g_counters;

bool writeCounters(Session &s, bool ended)
{
    if (!beginWrite(s))
        return false;
    const OVwRunCounters &c = g_counters.counters;
    Stmt q(s.db,
           "INSERT OR REPLACE INTO run_counters(id, started, updated, ended, frames_read, applied, refused,"
           " failed, skipped, events_handled) VALUES(1, ?2, CAST(strftime('%s', 'now') AS INTEGER), ?3, ?4, ?5,"
           " ?6, ?7, ?8, ?9)");
    q.bind(2, c.started).bind(3, ended ? 1 : 0);
    q.bind(4, c.frames_read).bind(5, c.applied).bind(6, c.refused).bind(7, c.failed).bind(8, c.skipped);
    q.bind(9, c.events_handled);
    if (!q.run()) {
        storageFailure();
        return false;
    }
    g_counters.unwritten = false;
    g_counters.everWritten = true;
    g_counters.lastWrite = std::chrono::steady_clock::now();
    return true;
}

}  // namespace

namespace mapdb {

namespace {
// What the previous session on the map left, when it never ended.
OVwRunCounters g_previous{};
bool g_previousUnended = false;
}  // namespace

void readPreviousRunCounters(Db &db)
{
    g_previousUnended = false;
    Stmt q(db, "SELECT ended, started, frames_read, applied, refused, failed, skipped, events_handled"
               " FROM run_counters WHERE id = 1");
    if (q.step() != kResultRow || q.i64(0) != 0)
        return;
    g_previousUnended = true;
    g_previous = OVwRunCounters{q.i64(1), q.i64(2), q.i64(3), q.i64(4), q.i64(5), q.i64(6), q.i64(7)};
}

void forgetRunCounters() { g_counters = PendingCounters(); }

void flushRunCounters(bool ended)
{
    if (g_session != nullptr && (g_counters.unwritten || (ended && g_counters.everWritten)))
        writeCounters(*g_session, ended);
}

}  // namespace mapdb

extern "C" int OVwPreviousRunUnended(OVwRunCounters *last)
{
    if (g_previousUnended && last != nullptr)
        *last = g_previous;
    return g_previousUnended ? 1 : 0;
}

extern "C" int OVwSetRunCounters(const OVwRunCounters *counters, OVwBoolean force)
{
    if (counters == nullptr)
        return fail(OVw_BAD_ARGUMENT, -1);
    Session *s = session();
    if (s == nullptr)
        return -1;
    g_counters.counters = *counters;
    g_counters.unwritten = true;
    auto now = std::chrono::steady_clock::now();
    if (force == 0 && g_counters.everWritten && now - g_counters.lastWrite < std::chrono::seconds(1)) {
        setError(OVw_SUCCESS);
        return 0;
    }
    if (!writeCounters(*s, false))
        return -1;
    setError(OVw_SUCCESS);
    return 0;
}

extern "C" int OVwGetEffectiveStatus(OVwMapInfo *map, OVwSymbolId symbol)
{
    Session *s = mapSession(map);
    if (s == nullptr)
        return -1;
    // The walk covers the symbol's own subtree only: the child submaps of
    // compound symbols, each read once through the index of symbols by submap.
    std::unordered_map<int, std::vector<int>> kids;
    std::unordered_map<int, std::vector<StatusRow>> rows;
    RollUp rollUp(
        [&](int object) -> const std::vector<int> & {
            auto [it, fresh] = kids.try_emplace(object);
            if (fresh) {
                Stmt q(s->db, "SELECT id FROM submaps WHERE parent_object = ?1");
                q.bind(1, object);
                while (q.step() == kResultRow)
                    it->second.push_back(q.i32(0));
            }
            return it->second;
        },
        [&](int submap) -> const std::vector<StatusRow> & {
            auto [it, fresh] = rows.try_emplace(submap);
            if (fresh) {
                Stmt q(s->db, "SELECT id, object, status, status_source FROM symbols WHERE submap = ?1");
                q.bind(1, submap);
                while (q.step() == kResultRow)
                    it->second.push_back({q.i32(0), submap, q.i32(1), q.i32(2), q.i32(3)});
            }
            return it->second;
        });
    int object = 0, status = 0, source = 0;
    {
        Stmt q(s->db, "SELECT object, status, status_source FROM symbols WHERE id = ?1");
        q.bind(1, symbol);
        int rc = q.step();
        if (rc != kResultRow)
            return fail(rc == kResultDone ? OVw_NO_SUCH_SYMBOL : OVw_STORAGE_FAILURE, -1);
        object = q.i32(0);
        status = q.i32(1);
        source = q.i32(2);
    }
    int e = rollUp.effective({symbol, 0, object, status, source});
    setError(OVw_SUCCESS);
    return e;
}
