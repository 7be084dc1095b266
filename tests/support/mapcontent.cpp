#include "support/mapcontent.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <set>

namespace tqtest {

namespace {

// The queries, in SQL both stores read alike.
struct Part {
    const char *table;
    const char *sql;
};
const Part kParts[] = {
    {"map", "SELECT name, is_open FROM map"},
    {"fields", "SELECT name, type, flags, is_list, located FROM fields"},
    {"objects", "SELECT selection_name FROM objects"},
    {"field_values",
     "SELECT o.selection_name, f.name, v.type, v.is_list, v.int_value, v.text_value, v.located"
     " FROM field_values v LEFT JOIN objects o ON o.id = v.object LEFT JOIN fields f ON f.id = v.field"},
    {"submaps",
     "SELECT p.selection_name, s.type, s.name, s.layout, s.background"
     " FROM submaps s LEFT JOIN objects p ON p.id = s.parent_object"},
    {"symbols",
     "SELECT o.selection_name, p.selection_name, m.name, s.variety, s.symbol_type, s.label, s.status,"
     " s.status_source, s.flags, ao.selection_name, zo.selection_name, s.pos_x, s.pos_y"
     " FROM symbols s LEFT JOIN objects o ON o.id = s.object LEFT JOIN submaps m ON m.id = s.submap"
     " LEFT JOIN objects p ON p.id = m.parent_object"
     " LEFT JOIN symbols a ON a.id = s.conn_a LEFT JOIN objects ao ON ao.id = a.object"
     " LEFT JOIN symbols z ON z.id = s.conn_z LEFT JOIN objects zo ON zo.id = z.object"},
    {"events", "SELECT code, data FROM events"},
};

using Query = std::function<bool(const char *sql, std::vector<std::string> &rows, std::string &err)>;

// The history in the order it was written, without ids or times.
const Part kHistory[] = {{"changes", "SELECT kind, old_value, new_value, was FROM changes ORDER BY id"}};

// The parts' rows, sorted unless `history`.
std::vector<std::string> collect(const Query &query, bool history)
{
    std::vector<std::string> out;
    for (const Part &p : history ? std::vector<Part>(std::begin(kHistory), std::end(kHistory))
                                 : std::vector<Part>(std::begin(kParts), std::end(kParts))) {
        std::vector<std::string> rows;
        std::string err;
        if (!query(p.sql, rows, err))
            return {"error: " + std::string(p.table) + ": " + err};
        if (!history)
            std::sort(rows.begin(), rows.end());
        out.push_back(std::string("== ") + p.table);
        out.insert(out.end(), rows.begin(), rows.end());
    }
    return out;
}

std::vector<std::string> fromPostgres(const std::string &uri, bool history)
{
    PGconn *c = PQconnectdb(uri.c_str());
    if (PQstatus(c) != CONNECTION_OK) {
        std::string err = PQerrorMessage(c);
        PQfinish(c);
        return {"error: " + err};
    }
    auto out = collect([&](const char *sql, std::vector<std::string> &rows, std::string &err) {
        PGresult *r = PQexec(c, sql);
        const bool ok = PQresultStatus(r) == PGRES_TUPLES_OK;
        if (!ok)
            err = PQresultErrorMessage(r);
        for (int i = 0; ok && i < PQntuples(r); ++i) {
            std::string line;
            for (int j = 0; j < PQnfields(r); ++j)
                line += (j > 0 ? "|" : "") + std::string(PQgetisnull(r, i, j) ? "\\N" : PQgetvalue(r, i, j));
            rows.push_back(line);
        }
        PQclear(r);
        return ok;
    }, history);
    PQfinish(c);
    return out;
}

std::vector<std::string> fromFile(const std::string &path, bool history)
{
    sqlite3 *h = nullptr;
    if (sqlite3_open_v2(path.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(h);
        return {"error: cannot open " + path};
    }
    auto out = collect([&](const char *sql, std::vector<std::string> &rows, std::string &err) {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(h, sql, -1, &st, nullptr) != SQLITE_OK) {
            err = sqlite3_errmsg(h);
            return false;
        }
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            std::string line;
            for (int j = 0; j < sqlite3_column_count(st); ++j) {
                const auto *t = sqlite3_column_text(st, j);
                line += (j > 0 ? "|" : "") + std::string(t != nullptr ? reinterpret_cast<const char *>(t) : "\\N");
            }
            rows.push_back(line);
        }
        sqlite3_finalize(st);
        if (rc != SQLITE_DONE)
            err = sqlite3_errmsg(h);
        return rc == SQLITE_DONE;
    }, history);
    sqlite3_close(h);
    return out;
}

}  // namespace

namespace {

std::vector<std::string> content(const std::string &location, bool history)
{
    if (location.rfind("postgresql://", 0) == 0 || location.rfind("postgres://", 0) == 0)
        return fromPostgres(location, history);
    return fromFile(location, history);
}

}  // namespace

std::vector<std::string> mapContent(const std::string &location) { return content(location, false); }

std::vector<std::string> historyContent(const std::string &location) { return content(location, true); }

std::string contentDifference(const std::vector<std::string> &a, const std::vector<std::string> &b, int limit)
{
    std::string out;
    const std::multiset<std::string> sa(a.begin(), a.end()), sb(b.begin(), b.end());
    int n = 0;
    for (const std::string &line : a)
        if (sb.count(line) < sa.count(line) && n++ < limit)
            out += "only in the first: " + line + "\n";
    for (const std::string &line : b)
        if (sa.count(line) < sb.count(line) && n++ < limit)
            out += "only in the second: " + line + "\n";
    if (out.empty() && a != b)
        out = "the same rows in another order\n";
    return out;
}

}  // namespace tqtest
