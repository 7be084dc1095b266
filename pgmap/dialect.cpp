// The PostgreSQL dialect of the map platform's statements. The logic writes
// SQLite's SQL; each text is translated once, when first prepared:
//   ?N                          -> $N
//   a IS NOT b (b not NULL)     -> a IS DISTINCT FROM b
//   INSERT [OR IGNORE] INTO t   -> ... ON CONFLICT DO NOTHING RETURNING id,
//                                  for the tables with an id column (the id
//                                  in place of SQLite's last insert rowid, no
//                                  row for a conflict, which so never aborts
//                                  the turn's transaction)
//   WHERE 0                     -> WHERE false
// and the few statements whose form differs more are given whole.
#include "pgmap/engine.h"

#include <cctype>
#include <cstring>

namespace pgmap {

namespace {

// Statements written anew for PostgreSQL, by their SQLite text.
struct Rewrite {
    const char *sqlite;
    const char *postgres;
};
const Rewrite kRewrites[] = {
    {"INSERT OR REPLACE INTO run_counters(id, started, updated, ended, frames_read, applied, refused,"
     " failed, skipped, events_handled) VALUES(1, ?2, CAST(strftime('%s', 'now') AS INTEGER), ?3, ?4, ?5,"
     " ?6, ?7, ?8, ?9)",
     "INSERT INTO run_counters(id, started, updated, ended, frames_read, applied, refused, failed, skipped,"
     " events_handled) VALUES(1, $2, CAST(extract(epoch FROM now()) AS bigint), $3, $4, $5, $6, $7, $8, $9)"
     " ON CONFLICT (id) DO UPDATE SET started = excluded.started, updated = excluded.updated,"
     " ended = excluded.ended, frames_read = excluded.frames_read, applied = excluded.applied,"
     " refused = excluded.refused, failed = excluded.failed, skipped = excluded.skipped,"
     " events_handled = excluded.events_handled"},
};

// The tables whose rows have an id the platform hands out.
const char *const kIdTables[] = {"fields", "objects", "submaps", "symbols", "events"};

bool consume(const std::string &s, size_t &i, const char *word)
{
    const size_t n = std::strlen(word);
    if (s.compare(i, n, word) != 0)
        return false;
    i += n;
    return true;
}

}  // namespace

Translated translate(const char *sql)
{
    Translated t;
    std::string in = sql;
    for (const Rewrite &r : kRewrites)
        if (in == r.sqlite)
            in = r.postgres;
    // INSERT INTO <id table>: its id returned, conflicts let pass.
    size_t at = 0;
    bool insertWithId = false;
    if (consume(in, at, "INSERT ")) {
        t.ignoreConflict = consume(in, at, "OR IGNORE ");
        if (consume(in, at, "INTO ")) {
            for (const char *table : kIdTables) {
                const size_t n = std::strlen(table);
                if (in.compare(at, n, table) == 0 && (in[at + n] == '(' || in[at + n] == ' '))
                    insertWithId = true;
            }
        }
        if (t.ignoreConflict)
            in.erase(7, std::strlen("OR IGNORE "));
    }
    std::string out;
    out.reserve(in.size() + 48);
    for (size_t i = 0; i < in.size();) {
        const char c = in[i];
        if (c == '\'') {
            // A literal is copied as it is.
            const size_t end = in.find('\'', i + 1);
            const size_t stop = end == std::string::npos ? in.size() : end + 1;
            out.append(in, i, stop - i);
            i = stop;
            continue;
        }
        if ((c == '?' || c == '$') && i + 1 < in.size() && std::isdigit(static_cast<unsigned char>(in[i + 1]))) {
            size_t j = i + 1;
            int n = 0;
            while (j < in.size() && std::isdigit(static_cast<unsigned char>(in[j])))
                n = n * 10 + (in[j++] - '0');
            if (n > t.params) {
                t.params = n;
                t.used.resize(static_cast<size_t>(n), false);
            }
            t.used[static_cast<size_t>(n - 1)] = true;
            out += '$';
            out += std::to_string(n);
            i = j;
            continue;
        }
        if (in.compare(i, 8, " IS NOT ") == 0 && in.compare(i + 8, 4, "NULL") != 0) {
            out += " IS DISTINCT FROM ";
            i += 8;
            continue;
        }
        if (in.compare(i, 8, " WHERE 0") == 0 && i + 8 == in.size()) {
            out += " WHERE false";
            i += 8;
            continue;
        }
        out += c;
        ++i;
    }
    if (insertWithId) {
        out += " ON CONFLICT DO NOTHING RETURNING id";
        t.returnsId = true;
    }
    // A write that returns nothing can be sent ahead of the turn's next read.
    t.write = !t.returnsId && out.find(" RETURNING ") == std::string::npos &&
              (out.rfind("INSERT ", 0) == 0 || out.rfind("UPDATE ", 0) == 0 || out.rfind("DELETE ", 0) == 0);
    t.sql = std::move(out);
    return t;
}

}  // namespace pgmap
