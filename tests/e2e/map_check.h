// Reading a map database from outside, as the hardening tests do after a
// daemon was killed or failed: SQLite's integrity check, references between
// the map's rows, and a canonical dump of everything the map holds.
#ifndef TQ_TESTS_E2E_MAP_CHECK_H
#define TQ_TESTS_E2E_MAP_CHECK_H

#include <sqlite3.h>

#include <string>
#include <vector>

namespace tqcheck {

// An open connection to a map database file (read-write, so that a WAL left
// by a killed writer is recovered). ok() is false when the file is missing
// or cannot be opened.
class MapFile {
public:
    explicit MapFile(const std::string &path)
    {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            sqlite3_close(db_);
            db_ = nullptr;
            return;
        }
        sqlite3_busy_timeout(db_, 5000);
    }
    ~MapFile() { sqlite3_close(db_); }
    MapFile(const MapFile &) = delete;
    MapFile &operator=(const MapFile &) = delete;

    bool ok() const { return db_ != nullptr; }

    // Rows of a query, each row its columns joined by '|' (NULL as "∅"); a
    // failing query gives one row "error: <message>".
    std::vector<std::string> rows(const std::string &sql) const
    {
        std::vector<std::string> out;
        sqlite3_stmt *st = nullptr;
        if (db_ == nullptr || sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            out.push_back(std::string("error: ") + (db_ != nullptr ? sqlite3_errmsg(db_) : "no database"));
            return out;
        }
        int rc;
        while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
            std::string row;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                if (c != 0)
                    row += '|';
                if (sqlite3_column_type(st, c) == SQLITE_NULL) {
                    row += "\xE2\x88\x85";
                } else {
                    const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(st, c));
                    row.append(text, static_cast<size_t>(sqlite3_column_bytes(st, c)));
                }
            }
            out.push_back(std::move(row));
        }
        if (rc != SQLITE_DONE)
            out.push_back(std::string("error: ") + sqlite3_errmsg(db_));
        sqlite3_finalize(st);
        return out;
    }

    // True when the map's tables exist (the schema was committed).
    bool hasMap() const
    {
        std::vector<std::string> r = rows("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'map'");
        return r.size() == 1 && r[0] == "1";
    }

    // "ok", or SQLite's list of problems.
    std::string integrity() const
    {
        std::string out;
        for (const std::string &r : rows("PRAGMA integrity_check"))
            out += (out.empty() ? "" : "; ") + r;
        return out;
    }

    // Rows that point at something missing: symbols, values, submaps and
    // connection ends whose object, submap or symbol does not exist.
    std::vector<std::string> danglingReferences() const
    {
        static const char *const checks[][2] = {
            {"symbol without its object",
             "SELECT id FROM symbols WHERE object NOT IN (SELECT id FROM objects)"},
            {"symbol on a missing submap",
             "SELECT id FROM symbols WHERE submap NOT IN (SELECT id FROM submaps)"},
            {"connection with a missing end",
             "SELECT id FROM symbols WHERE variety = 2 AND (conn_a NOT IN (SELECT id FROM symbols)"
             " OR conn_z NOT IN (SELECT id FROM symbols))"},
            {"value of a missing object",
             "SELECT object || '/' || field FROM field_values WHERE object NOT IN (SELECT id FROM objects)"},
            {"value of a missing field",
             "SELECT object || '/' || field FROM field_values WHERE field NOT IN (SELECT id FROM fields)"},
            {"submap of a missing object",
             "SELECT id FROM submaps WHERE parent_object <> 0 AND parent_object NOT IN (SELECT id FROM objects)"},
            {"map without its root submap",
             "SELECT name FROM map WHERE root_submap NOT IN (SELECT id FROM submaps)"},
        };
        std::vector<std::string> out;
        for (const auto &check : checks) {
            for (const std::string &r : rows(check[1]))
                out.push_back(std::string(check[0]) + ": " + r);
        }
        return out;
    }

    // Everything the map holds, ids included, in a fixed order: two maps
    // with equal dumps are the same map.
    std::string dump() const
    {
        static const char *const queries[] = {
            "SELECT * FROM map ORDER BY rowid",
            "SELECT * FROM fields ORDER BY id",
            "SELECT * FROM objects ORDER BY id",
            "SELECT * FROM field_values ORDER BY object, field",
            "SELECT * FROM submaps ORDER BY id",
            "SELECT * FROM symbols ORDER BY id",
            "SELECT * FROM events ORDER BY id",
            "SELECT * FROM sqlite_sequence ORDER BY name",
        };
        std::string out;
        for (const char *q : queries) {
            out += q;
            out += '\n';
            for (const std::string &r : rows(q)) {
                out += r;
                out += '\n';
            }
        }
        return out;
    }

private:
    sqlite3 *db_ = nullptr;
};

}  // namespace tqcheck

#endif
