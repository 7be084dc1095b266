#include "support/mapdump.h"

#include <libpq-fe.h>
#include <sqlite3.h>

namespace tqtest {

namespace {

// Each query's first column names its table; the rest are the same columns
// on both stores, in an order that does not depend on the run.
const char *const kQueries[] = {
    "SELECT 'map', name, root_submap, is_open FROM map",
    "SELECT 'fields', id, name, type, flags, is_list, located FROM fields ORDER BY id",
    "SELECT 'objects', id, selection_name FROM objects ORDER BY id",
    "SELECT 'values', object, field, type, is_list, int_value, text_value, located FROM field_values"
    " ORDER BY object, field",
    "SELECT 'submaps', id, parent_object, type, name, layout, background FROM submaps ORDER BY id",
    "SELECT 'symbols', id, submap, object, variety, symbol_type, label, status, status_source, flags, conn_a,"
    " conn_z, pos_x, pos_y FROM symbols ORDER BY id",
    "SELECT 'events', id, code, data FROM events ORDER BY id",
    "SELECT 'changes', kind, object, symbol, submap, old_value, new_value FROM changes ORDER BY id",
    "SELECT 'counters', frames_read, applied, refused, failed, skipped, events_handled FROM run_counters",
};

void dumpSqlite(const std::string &path, std::vector<std::string> &out)
{
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        out = {"error: cannot open " + path};
        sqlite3_close(db);
        return;
    }
    for (const char *sql : kQueries) {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
            out = {std::string("error: ") + sqlite3_errmsg(db)};
            break;
        }
        while (sqlite3_step(st) == SQLITE_ROW) {
            std::string row;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const auto *t = reinterpret_cast<const char *>(sqlite3_column_text(st, c));
                row += (c == 0 ? "" : "|") + (t != nullptr ? std::string(t, static_cast<size_t>(sqlite3_column_bytes(st, c)))
                                                           : std::string("NULL"));
            }
            out.push_back(std::move(row));
        }
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
}

void dumpServer(const std::string &uri, std::vector<std::string> &out)
{
    PGconn *c = PQconnectdb(uri.c_str());
    if (PQstatus(c) != CONNECTION_OK) {
        out = {"error: " + std::string(PQerrorMessage(c))};
        PQfinish(c);
        return;
    }
    for (const char *sql : kQueries) {
        PGresult *r = PQexec(c, sql);
        if (PQresultStatus(r) != PGRES_TUPLES_OK) {
            out = {"error: " + std::string(PQresultErrorMessage(r))};
            PQclear(r);
            break;
        }
        for (int i = 0; i < PQntuples(r); ++i) {
            std::string row;
            for (int f = 0; f < PQnfields(r); ++f)
                row += (f == 0 ? "" : "|") + std::string(PQgetisnull(r, i, f) ? "NULL" : PQgetvalue(r, i, f));
            out.push_back(std::move(row));
        }
        PQclear(r);
    }
    PQfinish(c);
}

}  // namespace

std::vector<std::string> dumpMap(const std::string &location)
{
    std::vector<std::string> out;
    if (location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0)
        dumpServer(location, out);
    else
        dumpSqlite(location, out);
    return out;
}

}  // namespace tqtest
