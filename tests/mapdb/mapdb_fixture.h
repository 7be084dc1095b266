// Shared fixtures of the map platform tests.
#ifndef TQ_TESTS_MAPDB_FIXTURE_H
#define TQ_TESTS_MAPDB_FIXTURE_H

#include "mapdb/testhooks.h"
#include "ovw/ovw.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace maptest {

// Sets an environment variable for a scope, restoring the old value after.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name)
    {
        const char *old = std::getenv(name);
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (had_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_, old_;
    bool had_ = false;
};

// Symbol ids of a list, in list order.
inline std::vector<int> symbolIds(const OVwSymbolList *list)
{
    std::vector<int> ids;
    for (int i = 0; list != nullptr && i < list->count; ++i)
        ids.push_back(list->symbols[i].symbol_id);
    return ids;
}

inline std::vector<int> symbolsOf(OVwMapInfo *map, OVwObjectId object)
{
    OVwSymbolList *list = OVwGetSymbolsByObject(map, object);
    std::vector<int> ids = symbolIds(list);
    OVwFreeSymbolList(list);
    return ids;
}

// A map session on a database chosen by the derived fixture (in memory here).
class MapTest : public ::testing::Test {
protected:
    virtual const char *dbPath() const { return ":memory:"; }

    void SetUp() override
    {
        env_ = new ScopedEnv("OVW_MAPDB", dbPath());
        ASSERT_EQ(OVwInit(), 0);
        map = OVwGetMapInfo();
        ASSERT_NE(map, nullptr);
    }
    void TearDown() override
    {
        OVwFreeMapInfo(map);
        OVwDone();
        mapdb::clearFaults();
        mapdb::journalEnable(false);
        mapdb::journalClear();
        delete env_;
    }

    OVwObjectId object(const std::string &name)
    {
        OVwObjectId id = OVwDbCreateObjectBySelectionName(name.c_str());
        EXPECT_NE(id, 0) << name;
        return id;
    }
    OVwFieldId field(const char *name)
    {
        OVwFieldId id = OVwDbFieldNameToFieldId(name);
        EXPECT_NE(id, 0) << name;
        return id;
    }
    OVwSubmapId root() const { return map->root_submap_id; }
    OVwSymbolId icon(OVwSubmapId submap, OVwObjectId obj, const char *label = "l")
    {
        OVwSymbolId id = OVwCreateSymbol(map, submap, obj, "t", label, OVwStatusNormal, 3, nullptr, 0);
        EXPECT_NE(id, 0);
        return id;
    }
    OVwSubmapId childSubmap(OVwObjectId parent)
    {
        OVwSubmapId id = OVwCreateSubmap(map, parent, OVwGraphSubmap, 0, "sub", OVwStarLayout, 0);
        EXPECT_NE(id, 0);
        return id;
    }

    OVwMapInfo *map = nullptr;

private:
    ScopedEnv *env_ = nullptr;
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
