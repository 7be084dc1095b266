// The store's map file seen by other programs: events another connection or
// a tool posts reach the handlers, and a deleted object leaves no row behind.
#include "mapdb/mapdb_fixture.h"

#include "support/testsupport.h"

using maptest::drain;
using maptest::g_received;
using maptest::MapTest;
using maptest::registerAll;
using maptest::symbolsOf;

// Events posted by another process land in the events table of the file.
class FileEventsTest : public MapTest {
protected:
    const char *dbPath() const override { return nullptr; }  // the default path under TQ_ROOT
    tqtest::TempRoot root_;
};

TEST_F(FileEventsTest, EventsFromAnotherConnectionReachTheHandlers)
{
    registerAll();
    std::string file = root_.file("usr/ov/databases/tqmap.db");
    ASSERT_EQ(mapdb::databasePath(), file);
    ASSERT_TRUE(tqtest::fileExists(file));
    EXPECT_EQ(maptest::queryInt(file, "SELECT count(*) FROM map"), 1);

    OVwObjectId o = object("o");
    ASSERT_EQ(OVwPending(), 0);
    ASSERT_TRUE(maptest::execSql(file, "INSERT INTO events(code, data) VALUES(4, '{\"time\": 12345}');"
                                       "INSERT INTO events(code, data) VALUES(15, '{\"objects\": [" +
                                           std::to_string(o) + "]}')"));
    EXPECT_TRUE(g_received.empty());
    EXPECT_EQ(drain(), 2);
    ASSERT_EQ(g_received.size(), 2u);
    EXPECT_EQ(g_received[0].event, OVwEventMapClose);
    EXPECT_EQ(g_received[0].closeTime, 12345);
    EXPECT_EQ(g_received[1].event, OVwEventDeleteObjects);
    EXPECT_EQ(g_received[1].ids, std::vector<int>{o});
    EXPECT_EQ(maptest::queryInt(file, "SELECT is_open FROM map"), 0);

    // A tool posts into the file while this session has it open.
    std::string err;
    ASSERT_EQ(mapdb::postEventToFile(file, OVwEventMapOpen, {}, err), 0) << err;
    EXPECT_EQ(drain(), 1);
    EXPECT_EQ(g_received.back().event, OVwEventMapOpen);
    EXPECT_EQ(maptest::queryInt(file, "SELECT is_open FROM map"), 1);

    EXPECT_NE(mapdb::postEventToFile(root_.file("nowhere.db"), OVwEventMapOpen, {}, err), 0);
    EXPECT_FALSE(err.empty());
    EXPECT_FALSE(tqtest::fileExists(root_.file("nowhere.db")));

    // Malformed event data is dropped with an error; the next event still comes.
    ASSERT_TRUE(maptest::execSql(file, "INSERT INTO events(code, data) VALUES(14, 'not json');"
                                       "INSERT INTO events(code, data) VALUES(1, NULL)"));
    EXPECT_NE(OVwPending(), 0);
    EXPECT_LT(OVwProcessEvent(), 0);
    EXPECT_EQ(OVwError(), OVw_EVENT_CHANNEL_FAILURE);
    EXPECT_EQ(drain(), 1);
    EXPECT_EQ(g_received.back().event, OVwEventEndSession);
}

// Object deletion on a file database, so that a second connection can check
// that no row is left pointing at a missing one.
class FileMapTest : public MapTest {
protected:
    const char *dbPath() const override { return path_.c_str(); }
    tqtest::TempRoot root_;
    std::string path_ = root_.file("cascade.db");
};

TEST_F(FileMapTest, DeletingAnObjectLeavesNothingDangling)
{
    OVwObjectId g = object("graph"), v1 = object("v1"), v2 = object("v2"), arc = object("arc");
    OVwObjectId inner = object("inner graph"), deep = object("deep");
    OVwFieldId name = field("Name");
    OVwDbSetFieldStringValue(g, name, "G");
    OVwDbSetFieldStringValue(v1, name, "V1");
    icon(root(), g);
    OVwSubmapId sm = childSubmap(g);
    OVwSymbolId s1 = icon(sm, v1), s2 = icon(sm, v2);
    OVwSymbolId v1OnRoot = icon(root(), v1);
    ASSERT_NE(OVwCreateConnSymbol(map, arc, s1, s2, "c", "l", 1, 3, 0), 0);
    icon(sm, inner);
    OVwSubmapId innerSm = childSubmap(inner);
    icon(innerSm, deep);

    ASSERT_EQ(OVwDbDeleteObject(g), 0);
    EXPECT_LT(OVwDbDeleteObject(g), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    ASSERT_EQ(OVwPending(), 0);

    EXPECT_EQ(OVwDbSelectionNameToObjectId("graph"), 0);
    EXPECT_EQ(OVwGetSubmapInfo(map, sm), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SUBMAP);
    EXPECT_EQ(symbolsOf(map, v1), std::vector<int>{v1OnRoot});
    EXPECT_EQ(symbolsOf(map, v2), std::vector<int>{});
    EXPECT_EQ(symbolsOf(map, arc), std::vector<int>{});
    // Objects shown on the deleted submap stay, with their own submaps.
    EXPECT_EQ(OVwDbSelectionNameToObjectId("inner graph"), inner);
    EXPECT_EQ(symbolsOf(map, deep).size(), 1u);
    OVwFieldValue *v = OVwDbGetFieldValue(v1, name);
    ASSERT_NE(v, nullptr);
    OVwDbFreeFieldValue(v);

    using maptest::queryInt;
    EXPECT_EQ(queryInt(path_, "SELECT count(*) FROM field_values WHERE object NOT IN (SELECT id FROM objects)"), 0);
    EXPECT_EQ(queryInt(path_, "SELECT count(*) FROM symbols WHERE object NOT IN (SELECT id FROM objects)"
                              " OR submap NOT IN (SELECT id FROM submaps)"),
              0);
    EXPECT_EQ(queryInt(path_, "SELECT count(*) FROM symbols WHERE variety = 2 AND"
                              " (conn_a NOT IN (SELECT id FROM symbols) OR conn_z NOT IN (SELECT id FROM symbols))"),
              0);
    EXPECT_EQ(queryInt(path_, "SELECT count(*) FROM submaps WHERE parent_object <> 0 AND"
                              " parent_object NOT IN (SELECT id FROM objects)"),
              0);
    EXPECT_EQ(queryInt(path_, "SELECT count(*) FROM field_values WHERE object = " + std::to_string(v1)), 1);
}
