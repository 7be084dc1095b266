// How a turn's writes reach the map file: each commit whole in the files the
// moment it ends (the log's frames of a commit are written together), none of
// an unfinished turn, the turn's first write holding off other writers, the
// shortcuts of a turn (known objects, updates that change nothing) never
// hiding a missing row, and the indexes of values (every type found, texts of
// located fields and numbers by index, earlier maps converted).
#include "mapdb_fixture.h"

#include "support/testsupport.h"

#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;
using maptest::MapTest;

// SQLite's own check of a database file: "ok" when sound.
std::string integrity(const std::string &dbFile)
{
    sqlite3 *db = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(dbFile.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK) {
        sqlite3_stmt *st = nullptr;
        result = "no answer";
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &st, nullptr) == SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            result = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return result;
}

// A session on the default map file under a temporary root.
class MapFileTest : public MapTest {
protected:
    const char *dbPath() const override { return nullptr; }
    std::string file() const { return root_.file("usr/ov/databases/tqmap.db"); }

    // Ends the session, changes the file as an earlier version left it, and
    // opens it again (which brings it to the current schema).
    void reopenAfter(const char *earlierSchemaSql)
    {
        ASSERT_EQ(OVwDone(), 0);
        ASSERT_TRUE(maptest::execSql(file(), earlierSchemaSql));
        // Maps of earlier versions carried no schema version.
        ASSERT_TRUE(maptest::execSql(file(), "PRAGMA user_version = 0"));
        ASSERT_EQ(OVwInit(), 0);
    }
    // Indexes of that name whose definition is LIKE the pattern.
    long long indexes(const char *name, const char *like = "%") const
    {
        return maptest::queryInt(file(), std::string("SELECT count(*) FROM sqlite_master WHERE name = '") + name +
                                             "' AND sql LIKE '" + like + "'");
    }

    // What a process that died now would leave: copies of the database and
    // its log (no shared index, so opening it rebuilds one from the log and
    // keeps only whole, checksummed commits). Returns the copy's path.
    std::string snapshot(const std::string &name) const
    {
        std::string copy = root_.file("snap/" + name + ".db");
        fs::create_directories(fs::path(copy).parent_path());
        fs::remove(copy);
        fs::remove(copy + "-wal");
        fs::remove(copy + "-shm");
        fs::copy_file(file(), copy);
        if (fs::exists(file() + "-wal"))
            fs::copy_file(file() + "-wal", copy + "-wal");
        return copy;
    }

    // Creates `count` objects named <prefix><i>, each with a Name of `size` characters.
    void createObjects(const std::string &prefix, int count, size_t size)
    {
        OVwFieldId name = field("Name");
        for (int i = 0; i < count; ++i) {
            std::string sel = prefix + std::to_string(i);
            OVwObjectId id = object(sel);
            std::string value(size, static_cast<char>('a' + i % 26));
            ASSERT_EQ(OVwDbSetFieldStringValue(id, name, value.c_str()), 0) << sel;
        }
    }

    tqtest::TempRoot root_;
};

TEST_F(MapFileTest, EveryCommitIsWholeInTheFilesWhenItEndsAndAnUnfinishedTurnIsNot)
{
    // Turns of many pages (the log is copied into the database several
    // times on the way), checked as a dead process would leave them.
    long long objects = 0;
    for (int turn = 0; turn < 40; ++turn) {
        createObjects("t" + std::to_string(turn) + "-", 60, 1500);
        objects += 60;
        if (turn % 8 == 3) {
            // Mid-turn: none of this turn, all of the previous ones.
            std::string copy = snapshot("mid" + std::to_string(turn));
            EXPECT_EQ(maptest::queryInt(copy, "SELECT count(*) FROM objects"), objects - 60) << turn;
            EXPECT_EQ(integrity(copy), "ok");
        }
        ASSERT_EQ(OVwPending(), 0);
        // Another connection sees the commit at once, value for value.
        EXPECT_EQ(maptest::queryInt(file(), "SELECT count(*) FROM objects"), objects) << turn;
        if (turn % 8 == 3 || turn == 39) {
            std::string copy = snapshot("end" + std::to_string(turn));
            EXPECT_EQ(maptest::queryInt(copy, "SELECT count(*) FROM objects"), objects) << turn;
            EXPECT_EQ(integrity(copy), "ok");
            EXPECT_EQ(maptest::queryInt(copy, "SELECT count(*) FROM field_values WHERE length(text_value) = 1500"),
                      objects)
                << turn;
        }
    }
}

TEST_F(MapFileTest, SmallTurnsLandOneByOneAndSurviveAsTheyEnded)
{
    OVwFieldId state = field("State");
    OVwObjectId a = object("a");
    ASSERT_EQ(OVwPending(), 0);
    for (int turn = 1; turn <= 25; ++turn) {
        std::string value = "state " + std::to_string(turn);
        ASSERT_EQ(OVwDbSetFieldStringValue(a, state, value.c_str()), 0);
        if (turn % 5 == 0) {
            std::string copy = snapshot("small");
            EXPECT_EQ(maptest::queryInt(copy, "SELECT count(*) FROM field_values WHERE text_value = 'state " +
                                                  std::to_string(turn - 1) + "'"),
                      turn > 1 ? 1 : 0);
        }
        ASSERT_EQ(OVwPending(), 0);
        EXPECT_EQ(maptest::queryInt(file(), "SELECT count(*) FROM field_values WHERE text_value = '" + value + "'"),
                  1)
            << turn;
    }
    std::string copy = snapshot("small-end");
    EXPECT_EQ(maptest::queryInt(copy, "SELECT count(*) FROM field_values WHERE text_value = 'state 25'"), 1);
}

TEST_F(MapFileTest, TheFirstWriteOfATurnHoldsOffOtherWritersUntilTheTurnEnds)
{
    OVwObjectId a = object("a");
    ASSERT_EQ(OVwPending(), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("a"), a);   // the turn reads first
    ASSERT_EQ(OVwDbSetFieldStringValue(a, field("State"), "up"), 0);

    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_busy_timeout(other, 0);
    EXPECT_EQ(sqlite3_exec(other, "INSERT INTO objects(selection_name) VALUES('b')", nullptr, nullptr, nullptr),
              SQLITE_BUSY);
    ASSERT_EQ(OVwPending(), 0);
    EXPECT_EQ(sqlite3_exec(other, "INSERT INTO objects(selection_name) VALUES('b')", nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(other);
    sqlite3_close(other);
    EXPECT_NE(OVwDbSelectionNameToObjectId("b"), 0);
}

TEST_F(MapFileTest, AnObjectGoneSinceItWasLastWrittenRefusesValues)
{
    OVwFieldId state = field("State");
    OVwObjectId a = object("a");
    ASSERT_EQ(OVwDbSetFieldStringValue(a, state, "1"), 0);
    // Deleted in the same turn, after a write to it.
    ASSERT_EQ(OVwDbDeleteObject(a), 0);
    EXPECT_EQ(OVwDbSetFieldStringValue(a, state, "2"), -1);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    ASSERT_EQ(OVwPending(), 0);

    // Deleted by another program between two turns.
    OVwObjectId b = object("b");
    ASSERT_EQ(OVwDbSetFieldStringValue(b, state, "1"), 0);
    ASSERT_EQ(OVwPending(), 0);
    ASSERT_TRUE(maptest::execSql(file(), "DELETE FROM objects WHERE selection_name = 'b'"));
    EXPECT_EQ(OVwDbSetFieldStringValue(b, state, "2"), -1);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    ASSERT_EQ(OVwPending(), 0);
    EXPECT_EQ(maptest::queryInt(file(), "SELECT count(*) FROM field_values WHERE text_value = '2'"), 0);
}

std::vector<OVwObjectId> listBy(OVwFieldId field, const OVwFieldValue &value)
{
    OVwFieldBinding binding{field, const_cast<OVwFieldValue *>(&value)};
    std::vector<OVwObjectId> ids;
    OVwObjectIdList *list = OVwDbListObjectsByFieldValue(&binding);
    EXPECT_NE(list, nullptr);
    for (int i = 0; list != nullptr && i < list->count; ++i)
        ids.push_back(list->object_ids[i]);
    OVwDbFreeObjectIdList(list);
    return ids;
}

std::string queryPlan(const std::string &dbFile, const std::string &sql)
{
    sqlite3 *db = nullptr;
    std::string plan;
    if (sqlite3_open_v2(dbFile.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db, ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &st, nullptr) == SQLITE_OK)
            while (sqlite3_step(st) == SQLITE_ROW)
                plan += reinterpret_cast<const char *>(sqlite3_column_text(st, 3)) + std::string("\n");
        sqlite3_finalize(st);
    }
    sqlite3_close(db);
    return plan;
}

TEST_F(MapFileTest, LookUpsByValueFindEveryTypeAndTextsAndNumbersUseAnIndex)
{
    OVwFieldId flag = OVwDbCreateField("Flag", OVwBooleanField, 0);
    OVwFieldId kind = OVwDbCreateField("Kind", OVwEnumField, 0);
    OVwFieldId count = OVwDbCreateField("Count", OVwIntegerField, 0);
    OVwFieldId name = field("Name");
    OVwFieldId unique = field("UniqueName");
    OVwFieldId tag = OVwDbCreateField("Tag", OVwStringField, OVwFieldLocate);
    ASSERT_NE(tag, 0);
    ASSERT_NE(flag, 0);
    ASSERT_NE(kind, 0);
    ASSERT_NE(count, 0);
    OVwObjectId a = object("a"), b = object("b"), c = object("c");
    for (OVwObjectId o : {a, b, c}) {
        ASSERT_EQ(OVwDbSetFieldBooleanValue(o, flag, o != b), 0);
        ASSERT_EQ(OVwDbSetFieldIntegerValue(o, count, 7), 0);
        ASSERT_EQ(OVwDbSetFieldStringValue(o, name, "n"), 0);
        ASSERT_EQ(OVwDbSetFieldStringValue(o, unique, o == a ? "u1" : "u2"), 0);
        ASSERT_EQ(OVwDbSetFieldStringValue(o, tag, "t"), 0);
        OVwFieldValue e{};
        e.field_type = OVwEnumField;
        e.un.enum_val = o == c ? 3 : 2;
        ASSERT_EQ(OVwDbSetFieldValue(o, kind, &e), 0);
    }
    ASSERT_EQ(OVwDbSetFieldIntegerValue(b, count, 8), 0);   // rewritten: the old value no longer matches
    ASSERT_EQ(OVwDbSetFieldStringValue(c, name, "m"), 0);
    ASSERT_EQ(OVwDbSetFieldStringValue(b, tag, "s"), 0);
    ASSERT_EQ(OVwPending(), 0);

    OVwFieldValue v{};
    v.field_type = OVwBooleanField;
    v.un.bool_val = 1;
    EXPECT_EQ(listBy(flag, v), (std::vector<OVwObjectId>{a, c}));
    v.un.bool_val = 0;
    EXPECT_EQ(listBy(flag, v), (std::vector<OVwObjectId>{b}));
    v = {};
    v.field_type = OVwIntegerField;
    v.un.int_val = 7;
    EXPECT_EQ(listBy(count, v), (std::vector<OVwObjectId>{a, c}));
    v.un.int_val = 8;
    EXPECT_EQ(listBy(count, v), (std::vector<OVwObjectId>{b}));
    v = {};
    v.field_type = OVwEnumField;
    v.un.enum_val = 2;
    EXPECT_EQ(listBy(kind, v), (std::vector<OVwObjectId>{a, b}));
    v = {};
    v.field_type = OVwStringField;
    v.un.string_val = const_cast<char *>("n");
    EXPECT_EQ(listBy(name, v), (std::vector<OVwObjectId>{a, b}));
    v.un.string_val = const_cast<char *>("u2");   // located fields: found by the index of texts
    EXPECT_EQ(listBy(unique, v), (std::vector<OVwObjectId>{b, c}));
    v.un.string_val = const_cast<char *>("t");
    EXPECT_EQ(listBy(tag, v), (std::vector<OVwObjectId>{a, c}));
    v.un.string_val = const_cast<char *>("s");
    EXPECT_EQ(listBy(tag, v), (std::vector<OVwObjectId>{b}));
    v.un.string_val = const_cast<char *>("n");
    EXPECT_TRUE(listBy(unique, v).empty());   // the same text in another field is no match
    EXPECT_EQ(maptest::queryInt(file(), "SELECT count(*) FROM field_values WHERE located = 1"), 6);

    // The look-ups the daemon makes (texts of located fields) and those by
    // number never walk the map.
    for (const char *sql : {"SELECT object FROM field_values WHERE field = 1 AND located = 1 AND text_value = 'x'"
                            " AND is_list = 0 ORDER BY object",
                            "SELECT object FROM field_values WHERE field = 1 AND int_value = 3 AND is_list = 0"
                            " AND type IN (1, 4) ORDER BY object"}) {
        std::string plan = queryPlan(file(), sql);
        EXPECT_NE(plan.find("INDEX field_values_by_"), std::string::npos) << sql << "\n" << plan;
        EXPECT_EQ(plan.find("SCAN"), std::string::npos) << sql << "\n" << plan;
    }
    // A located text is found in its index alone.
    EXPECT_NE(queryPlan(file(), "SELECT object FROM field_values WHERE field = 1 AND located = 1"
                                " AND text_value = 'x' AND is_list = 0 ORDER BY object")
                  .find("COVERING INDEX field_values_by_text"),
              std::string::npos);
}

TEST_F(MapFileTest, AMapWithTheEarlierIndexOfAllValuesGetsTheNarrowerOnesOnOpening)
{
    OVwObjectId a = object("a");
    ASSERT_EQ(OVwDbSetFieldStringValue(a, field("Name"), "n"), 0);
    ASSERT_EQ(OVwDbSetFieldStringValue(a, field("UniqueName"), "u"), 0);
    // The map as the earliest version left it: no located flags, one index of every value.
    reopenAfter("DROP INDEX field_values_by_text;"
                " ALTER TABLE field_values DROP COLUMN located;"
                " ALTER TABLE fields DROP COLUMN located;"
                " CREATE INDEX field_values_by_value ON field_values(field, text_value)");
    EXPECT_EQ(indexes("field_values_by_value"), 0);
    EXPECT_EQ(indexes("field_values_by_text", "%located%"), 1);
    OVwFieldValue v{};
    v.field_type = OVwStringField;
    v.un.string_val = const_cast<char *>("n");
    EXPECT_EQ(listBy(field("Name"), v), (std::vector<OVwObjectId>{a}));
    v.un.string_val = const_cast<char *>("u");
    EXPECT_EQ(listBy(field("UniqueName"), v), (std::vector<OVwObjectId>{a}));
    OVwObjectId b = object("b");   // values written after the change are flagged too
    ASSERT_EQ(OVwDbSetFieldStringValue(b, field("UniqueName"), "u"), 0);
    EXPECT_EQ(listBy(field("UniqueName"), v), (std::vector<OVwObjectId>{a, b}));
}

TEST_F(MapFileTest, AMapWithTheIndexOfEveryTextGetsTheIndexOfLocatedTextsOnOpening)
{
    OVwObjectId a = object("a");
    ASSERT_EQ(OVwDbSetFieldStringValue(a, field("Name"), "n"), 0);
    ASSERT_EQ(OVwDbSetFieldStringValue(a, field("MoidString"), "m"), 0);
    reopenAfter("DROP INDEX field_values_by_text;"
                " ALTER TABLE field_values DROP COLUMN located;"
                " ALTER TABLE fields DROP COLUMN located;"
                " CREATE INDEX field_values_by_text ON field_values(field, text_value)"
                " WHERE text_value IS NOT NULL");
    EXPECT_EQ(indexes("field_values_by_text", "%located%"), 1);
    EXPECT_EQ(maptest::queryInt(file(), "SELECT count(*) FROM fields WHERE located = 1"), 3);
    EXPECT_EQ(maptest::queryInt(file(), "SELECT count(*) FROM field_values WHERE located = 1"), 1);
    OVwFieldValue v{};
    v.field_type = OVwStringField;
    v.un.string_val = const_cast<char *>("m");
    EXPECT_EQ(listBy(field("MoidString"), v), (std::vector<OVwObjectId>{a}));
    v.un.string_val = const_cast<char *>("n");
    EXPECT_EQ(listBy(field("Name"), v), (std::vector<OVwObjectId>{a}));
}

TEST_F(MapFileTest, AMapWithAnEarlierIndexOfLocatedTextsGetsTheCurrentOneOnOpening)
{
    OVwObjectId a = object("a");
    ASSERT_EQ(OVwDbSetFieldStringValue(a, field("UniqueName"), "u"), 0);
    ASSERT_EQ(OVwDbSetFieldStringValue(a, field("TQObjectName"), "u"), 0);
    reopenAfter("DROP INDEX field_values_by_text;"
                " CREATE INDEX field_values_by_text ON field_values(field, text_value)"
                " WHERE located = 1 AND text_value IS NOT NULL");
    EXPECT_EQ(indexes("field_values_by_text", "%(text_value, field, located, is_list)%"), 1);
    OVwFieldValue v{};
    v.field_type = OVwStringField;
    v.un.string_val = const_cast<char *>("u");
    EXPECT_EQ(listBy(field("UniqueName"), v), (std::vector<OVwObjectId>{a}));
    EXPECT_EQ(listBy(field("TQObjectName"), v), (std::vector<OVwObjectId>{a}));
    EXPECT_EQ(listBy(field("MoidString"), v), (std::vector<OVwObjectId>{}));
}

TEST_F(MapTest, SymbolUpdatesThatChangeNothingSucceedAndMissingSymbolsStillFail)
{
    OVwObjectId a = object("a");
    OVwSymbolId s = icon(root(), a, "label");
    for (int round = 0; round < 2; ++round) {   // the second round changes nothing
        EXPECT_EQ(OVwSetStatusOnSymbol(map, s, OVwStatusCritical), 0);
        EXPECT_EQ(OVwError(), OVw_SUCCESS);
        EXPECT_EQ(OVwSetSymbolLabel(map, s, "other"), 0);
        EXPECT_EQ(OVwSetSymbolLabel(map, s, nullptr), 0);
        EXPECT_EQ(OVwSetSymbolType(map, s, "kind", 0), 0);
        EXPECT_EQ(OVwError(), OVw_SUCCESS);
    }
    OVwSymbolList *list = OVwGetSymbolsByObject(map, a);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 1);
    EXPECT_EQ(list->symbols[0].status, OVwStatusCritical);
    EXPECT_EQ(list->symbols[0].label, nullptr);
    EXPECT_STREQ(list->symbols[0].symbol_type, "kind");
    OVwFreeSymbolList(list);

    const OVwSymbolId missing = s + 100;
    EXPECT_EQ(OVwSetStatusOnSymbol(map, missing, OVwStatusCritical), -1);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SYMBOL);
    EXPECT_EQ(OVwSetSymbolLabel(map, missing, nullptr), -1);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SYMBOL);
    EXPECT_EQ(OVwSetSymbolType(map, missing, "kind", 0), -1);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SYMBOL);
}

}  // namespace
