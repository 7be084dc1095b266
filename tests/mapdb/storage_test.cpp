// Storage failures that may pass (a failed commit rolls its turn back whole,
// reads go on), map databases refused before anything is written, schema
// versions and the migration of maps of earlier forms.
#include "mapdb_fixture.h"

#include "host/hostfile.h"
#include "support/testsupport.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using maptest::queryInt;

// The schema of the design notes, without any column the code added since.
const char kMinimalSchema[] =
    "CREATE TABLE map(name TEXT, root_submap INTEGER, is_open INTEGER);"
    "CREATE TABLE fields(id INTEGER PRIMARY KEY, name TEXT UNIQUE, type INTEGER, flags INTEGER);"
    "CREATE TABLE objects(id INTEGER PRIMARY KEY, selection_name TEXT UNIQUE);"
    "CREATE TABLE field_values(object INTEGER, field INTEGER, type INTEGER, is_list INTEGER,"
    " int_value INTEGER, text_value TEXT, PRIMARY KEY(object, field));"
    "CREATE TABLE submaps(id INTEGER PRIMARY KEY, parent_object INTEGER, type INTEGER, name TEXT,"
    " layout INTEGER, background TEXT);"
    "CREATE TABLE symbols(id INTEGER PRIMARY KEY, submap INTEGER, object INTEGER, variety INTEGER,"
    " symbol_type TEXT, label TEXT, status INTEGER, status_source INTEGER, flags INTEGER, conn_a INTEGER,"
    " conn_z INTEGER);"
    "CREATE TABLE events(id INTEGER PRIMARY KEY, code INTEGER, data TEXT);"
    "INSERT INTO submaps(parent_object, type, name, layout) VALUES(0, 1, 'Root', 0);"
    "INSERT INTO map VALUES('default', 1, 1);"
    "INSERT INTO fields(name, type, flags) VALUES('UniqueName', 3, 3), ('ParentNameList', 3, 2);";

// Creates an SQLite file at the path with the statements run on it.
bool createDb(const std::string &path, const std::string &sql)
{
    sqlite3 *db = nullptr;
    bool ok = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK &&
              sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    sqlite3_close(db);
    return ok;
}

class LogWriteFaultTest : public maptest::MapTest, public ::testing::WithParamInterface<std::pair<int, int>> {
protected:
    const char *dbPath() const override { return path_.c_str(); }
    tqtest::TempRoot root_;
    std::string path_ = root_.file("faults.db");
};

TEST_P(LogWriteFaultTest, AFailedCommitRollsTheTurnBackAndReadsGoOn)
{
    const int sqliteCode = GetParam().first, platformCode = GetParam().second;
    const OVwObjectId kept = object("kept");
    ASSERT_EQ(OVwPending(), 0);
    // Two commits fail, the third is stored: each try makes the turn anew.
    mapdb::failStretch("VfsWrite", 0, 2, sqliteCode);
    for (int attempt = 1; attempt <= 3; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        const OVwObjectId made = object("made");
        ASSERT_EQ(OVwDbSetFieldStringValue(made, field("UniqueName"), "made"), 0);
        EXPECT_EQ(OVwPending(), 0);
        if (attempt == 3) {
            EXPECT_EQ(OVwError(), OVw_SUCCESS);
            break;
        }
        EXPECT_EQ(OVwError(), platformCode);
        EXPECT_EQ(OVwErrorMayPass(OVwError()), 1);
        EXPECT_NE(std::string(OVwErrorMsg(platformCode)), OVwErrorMsg(OVw_STORAGE_FAILURE));
        EXPECT_EQ(queryInt(path_, "SELECT count(*) FROM objects WHERE selection_name = 'made'"), 0);
        // Reads right after the failure, while the disk still fails.
        EXPECT_EQ(OVwDbSelectionNameToObjectId("kept"), kept);
        EXPECT_NE(OVwDbFieldNameToFieldId("UniqueName"), 0);
        EXPECT_EQ(OVwError(), OVw_SUCCESS);
    }
    EXPECT_EQ(queryInt(path_, "SELECT count(*) FROM objects WHERE selection_name = 'made'"), 1);
    EXPECT_EQ(queryInt(path_, "SELECT count(*) FROM field_values WHERE text_value = 'made'"), 1);
}

INSTANTIATE_TEST_SUITE_P(DiskFullAndIoErrors, LogWriteFaultTest,
                         ::testing::Values(std::make_pair(SQLITE_FULL, OVw_DISK_FULL),
                                           std::make_pair(SQLITE_IOERR, OVw_IO_ERROR),
                                           std::make_pair(SQLITE_IOERR_WRITE, OVw_IO_ERROR)));

// ---- databases that are refused, and maps that are migrated ------------------------------

class MapDatabaseTest : public ::testing::Test {
protected:
    // OVwInit on the path: its result and error; a session it opens is ended.
    int init(const std::string &path)
    {
        maptest::ScopedEnv env("OVW_MAPDB", path.c_str());
        int rc = OVwInit();
        error_ = OVwError();
        detail_ = OVwErrorDetail();
        if (rc == 0)
            OVwDone();
        return rc;
    }
    std::vector<std::string> folder() const
    {
        std::vector<std::string> names;
        for (const auto &entry : std::filesystem::directory_iterator(root_.file("maps")))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    tqtest::TempRoot root_;
    std::string db_ = root_.file("maps/map.db");
    int error_ = 0;
    std::string detail_;
};

TEST_F(MapDatabaseTest, UnusableDatabasesAreRefusedAndLeftAsTheyWere)
{
    struct Case {
        const char *name;
        std::string sql;        // run on a new SQLite file at the path first (empty: none)
        std::string bytes;      // else written as the file
        int code;
        const char *detail;
    };
    const std::vector<Case> cases = {
        {"foreign SQLite", "CREATE TABLE notes(x); INSERT INTO notes VALUES('mine');", "", OVw_NOT_A_MAP,
         "not a map"},
        {"not SQLite", "", std::string("plain text, not a database\n"), OVw_NOT_A_DATABASE,
         "not an SQLite database"},
        {"a newer map", std::string(kMinimalSchema) + "PRAGMA user_version = 9;", "", OVw_SCHEMA_UNUSABLE,
         "newer than"},
        {"a map lacking a column", "CREATE TABLE t(x);" + std::string(kMinimalSchema) +
                                       "ALTER TABLE symbols DROP COLUMN conn_z; DROP TABLE t;",
         "", OVw_SCHEMA_UNUSABLE, "lacks the column conn_z"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(root_.file("maps"));
        std::filesystem::create_directories(root_.file("maps"));
        if (!c.sql.empty())
            ASSERT_TRUE(createDb(db_, c.sql));
        else
            tqtest::writeFile(db_, c.bytes);
        const std::string before = tqtest::readFile(db_);
        const std::vector<std::string> filesBefore = folder();
        EXPECT_EQ(init(db_), -1);
        EXPECT_EQ(error_, c.code);
        EXPECT_NE(detail_.find(db_), std::string::npos) << detail_;
        EXPECT_NE(detail_.find(c.detail), std::string::npos) << detail_;
        EXPECT_EQ(tqtest::readFile(db_), before);
        EXPECT_EQ(folder(), filesBefore);
    }
}

TEST_F(MapDatabaseTest, PathsThatNameNoDatabaseFileAreRefused)
{
    std::filesystem::create_directories(root_.file("maps/folder.db"));
    EXPECT_EQ(init(root_.file("maps/folder.db")), -1);
    EXPECT_EQ(error_, OVw_NOT_A_DATABASE);
    EXPECT_NE(detail_.find("is a folder"), std::string::npos) << detail_;

    EXPECT_EQ(init(root_.file("missing/map.db")), -1);
    EXPECT_EQ(error_, OVw_NO_DATABASE_FOLDER);
    EXPECT_FALSE(tqtest::fileExists(root_.file("missing")));
}

TEST_F(MapDatabaseTest, AMapHeldByAnotherDaemonIsRefusedUntilItLetsGo)
{
    std::filesystem::create_directories(root_.file("maps"));
    ASSERT_EQ(init(db_), 0);
    {
        HostFileLock other;
        bool busy = false;
        ASSERT_TRUE(other.acquire(db_ + "-lock", busy));
        EXPECT_EQ(init(db_), -1);
        EXPECT_EQ(error_, OVw_MAP_IN_USE);
        EXPECT_NE(detail_.find("another daemon"), std::string::npos) << detail_;
    }
    EXPECT_EQ(init(db_), 0);
}

TEST_F(MapDatabaseTest, AMapOfTheMinimalSchemaIsMigratedAndUsable)
{
    std::filesystem::create_directories(root_.file("maps"));
    ASSERT_TRUE(createDb(db_, kMinimalSchema));
    maptest::ScopedEnv env("OVW_MAPDB", db_.c_str());
    ASSERT_EQ(OVwInit(), 0);
    EXPECT_EQ(queryInt(db_, "PRAGMA user_version"), 3);
    EXPECT_EQ(queryInt(db_, "SELECT count(*) FROM sqlite_master WHERE name IN ('changes', 'run_counters')"), 2);
    EXPECT_EQ(queryInt(db_, "SELECT is_list FROM fields WHERE name = 'ParentNameList'"), 1);
    EXPECT_EQ(queryInt(db_, "SELECT located FROM fields WHERE name = 'UniqueName'"), 1);

    OVwMapInfo *map = OVwGetMapInfo();
    ASSERT_NE(map, nullptr);
    const OVwObjectId object = OVwDbCreateObjectBySelectionName("1;host1");
    ASSERT_NE(object, 0);
    EXPECT_EQ(OVwDbSetFieldStringValue(object, OVwDbFieldNameToFieldId("UniqueName"), "host1"), 0);
    EXPECT_EQ(OVwDbSetFieldStringValue(object, OVwDbFieldNameToFieldId("VendorName"), "Example"), 0);
    OVwFieldValue element{};
    element.field_type = OVwStringField;
    element.un.string_val = const_cast<char *>("SAN");
    OVwFieldValue list{};
    list.is_list = 1;
    list.field_type = OVwStringField;
    list.un.list_val = &element;
    list.list_count = 1;
    EXPECT_EQ(OVwDbSetFieldValue(object, OVwDbFieldNameToFieldId("ParentNameList"), &list), 0);
    EXPECT_NE(OVwCreateSymbol(map, map->root_submap_id, object, "t", "host1", OVwStatusNormal, 3, nullptr, 0), 0);
    OVwFreeMapInfo(map);
    ASSERT_EQ(OVwPending(), 0);
    ASSERT_EQ(OVwDone(), 0);
    EXPECT_EQ(queryInt(db_, "SELECT count(*) FROM symbols"), 1);
    EXPECT_EQ(queryInt(db_, "SELECT count(*) FROM field_values WHERE object = " + std::to_string(object)), 3);
    // Opened again: nothing left to migrate.
    EXPECT_EQ(init(db_), 0);
    EXPECT_EQ(queryInt(db_, "SELECT count(*) FROM symbols"), 1);
}

}  // namespace
