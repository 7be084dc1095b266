// Shared fixtures of the tests of mapdb's own workings: its files, faults,
// schema and operator reads.
#ifndef TQ_TESTS_MAPDB_FIXTURE_H
#define TQ_TESTS_MAPDB_FIXTURE_H

#include "mapdb/testhooks.h"
#include "ovw/contract.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>

namespace maptest {

using maptest::symbolsOf;

// A map session on a database chosen by the derived fixture (in memory here).
class MapTest : public MapSession<::testing::Test> {
protected:
    const char *dbPath() const override { return ":memory:"; }
    void resetStore() override { mapdb::resetHooks(); }
};

// Runs a query on a separate connection and returns the first column of the
// first row as an integer (-1 when there is none).
inline long long queryInt(const std::string &dbFile, const std::string &sql)
{
    sqlite3 *db = nullptr;
    long long v = -1;
    if (sqlite3_open_v2(dbFile.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(db, 5000);
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
            v = sqlite3_column_int64(st, 0);
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return v;
}

inline bool execSql(const std::string &dbFile, const std::string &sql)
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open_v2(dbFile.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
    if (ok) {
        sqlite3_busy_timeout(db, 5000);
        ok = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    sqlite3_close(db);
    return ok;
}

}  // namespace maptest

#endif
