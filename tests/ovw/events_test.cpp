// Map events: delivery through OVwPending/OVwProcessEvent, map open and
// close, and posted deletions.
#include "mapdb/mapdb_fixture.h"

#include "support/testsupport.h"

using maptest::MapTest;
using maptest::symbolsOf;

namespace {

struct Received {
    int event;
    std::vector<int> ids;       // symbol or object ids
    std::vector<int> submaps;   // symbol deletion: submap of each symbol
    OVwTime closeTime = 0;
    bool mapInfoDuringHandler = false;
};

std::vector<Received> g_received;

void record(void *user, int event, OVwMapInfo *map, void *data)
{
    EXPECT_EQ(user, &g_received);
    EXPECT_NE(map, nullptr);
    Received r{event, {}, {}};
    if (event == OVwEventDeleteSymbols) {
        auto *list = static_cast<OVwSymbolList *>(data);
        for (int i = 0; i < list->count; ++i) {
            r.ids.push_back(list->symbols[i].symbol_id);
            r.submaps.push_back(list->symbols[i].submap_id);
        }
    } else if (event == OVwEventDeleteObjects) {
        auto *list = static_cast<OVwObjectList *>(data);
        for (int i = 0; i < list->count; ++i)
            r.ids.push_back(list->objects[i].object_id);
    } else if (event == OVwEventMapClose) {
        r.closeTime = *static_cast<OVwTime *>(data);
    }
    OVwMapInfo *now = OVwGetMapInfo();
    r.mapInfoDuringHandler = now != nullptr;
    OVwFreeMapInfo(now);
    g_received.push_back(r);
}

void registerAll()
{
    g_received.clear();
    for (int ev : {OVwEventEndSession, OVwEventMapOpen, OVwEventMapClose, OVwEventDeleteSymbols,
                   OVwEventDeleteObjects})
        ASSERT_EQ(OVwAddCallback(ev, nullptr, record, &g_received), 0);
}

// Drains the waiting events as the daemon's loop does.
int drain()
{
    int n = 0;
    while (OVwPending() != 0) {
        EXPECT_EQ(OVwProcessEvent(), 0);
        ++n;
    }
    return n;
}

}  // namespace

TEST_F(MapTest, EventsRunInPostingOrderOnePerCall)
{
    registerAll();
    ASSERT_EQ(OVwRemoveCallback(OVwEventEndSession, nullptr), 0);
    EXPECT_NE(OVwRemoveCallback(OVwEventEndSession, nullptr), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_CALLBACK);

    EXPECT_EQ(OVwPending(), 0);
    ASSERT_EQ(mapdb::postEvent(OVwEventMapClose), 0);
    ASSERT_EQ(mapdb::postEvent(OVwEventEndSession), 0);  // no handler: dropped
    ASSERT_EQ(mapdb::postEvent(OVwEventMapOpen), 0);
    EXPECT_TRUE(g_received.empty());
    EXPECT_NE(OVwPending(), 0);
    EXPECT_TRUE(g_received.empty());

    ASSERT_EQ(OVwProcessEvent(), 0);
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_EQ(g_received[0].event, OVwEventMapClose);
    EXPECT_GT(g_received[0].closeTime, 0);
    EXPECT_EQ(drain(), 2);
    ASSERT_EQ(g_received.size(), 2u);
    EXPECT_EQ(g_received[1].event, OVwEventMapOpen);
    EXPECT_EQ(OVwProcessEvent(), 0);  // nothing waiting
    EXPECT_EQ(g_received.size(), 2u);
}

TEST_F(MapTest, MapCloseAndOpenEventsFlipTheMap)
{
    registerAll();
    OVwObjectId o = object("o");
    ASSERT_EQ(mapdb::postEvent(OVwEventMapClose), 0);
    drain();
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_FALSE(g_received[0].mapInfoDuringHandler);
    EXPECT_EQ(OVwGetMapInfo(), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_MAP_OPEN);
    // The record from before the close no longer works.
    EXPECT_EQ(OVwGetObjectInfo(map, o), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_MAP_OPEN);
    EXPECT_EQ(OVwAckMapClose(map, g_received[0].closeTime), 0);

    ASSERT_EQ(mapdb::postEvent(OVwEventMapOpen), 0);
    drain();
    ASSERT_EQ(g_received.size(), 2u);
    EXPECT_TRUE(g_received[1].mapInfoDuringHandler);
    OVwMapInfo *again = OVwGetMapInfo();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->root_submap_id, root());
    OVwFreeMapInfo(again);
}

TEST_F(MapTest, PostedSymbolDeletionRemovesSymbolsAndConnections)
{
    registerAll();
    OVwObjectId g = object("g"), a = object("a"), b = object("b"), arc = object("arc");
    OVwSubmapId sm = childSubmap(g);
    OVwSymbolId sa = icon(sm, a), sb = icon(sm, b);
    OVwSymbolId conn = OVwCreateConnSymbol(map, arc, sa, sb, "c", "l", 1, 3, 0);
    ASSERT_NE(conn, 0);

    ASSERT_EQ(mapdb::postEvent(OVwEventDeleteSymbols, {sa}), 0);
    // Gone at once, as an operator's deletion is, before any handler runs.
    EXPECT_EQ(symbolsOf(map, a), std::vector<int>{});
    EXPECT_EQ(symbolsOf(map, arc), std::vector<int>{});
    EXPECT_EQ(symbolsOf(map, b), std::vector<int>{sb});
    EXPECT_TRUE(g_received.empty());

    EXPECT_EQ(drain(), 1);
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_EQ(g_received[0].ids, (std::vector<int>{sa, conn}));
    EXPECT_EQ(g_received[0].submaps, (std::vector<int>{sm, sm}));

    EXPECT_NE(mapdb::postEvent(OVwEventDeleteSymbols, {sa}), 0);
    EXPECT_NE(mapdb::postEvent(OVwEventDeleteObjects, {arc + 100}), 0);
    EXPECT_NE(mapdb::postEvent(99), 0);
    EXPECT_EQ(OVwPending(), 0);
}

TEST_F(MapTest, PostedObjectDeletionLeavesTheObjectToTheHandler)
{
    g_received.clear();
    OVwObjectId a = object("a"), b = object("b");
    OVwFieldId name = field("Name");
    OVwDbSetFieldStringValue(a, name, "A");
    ASSERT_EQ(OVwAddCallback(
                  OVwEventDeleteObjects, nullptr,
                  [](void *, int, OVwMapInfo *, void *data) {
                      auto *list = static_cast<OVwObjectList *>(data);
                      for (int i = 0; i < list->count; ++i)
                          OVwDbDeleteObject(list->objects[i].object_id);
                  },
                  nullptr),
              0);
    ASSERT_EQ(mapdb::postEvent(OVwEventDeleteObjects, {a, b}), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("a"), a);
    EXPECT_EQ(drain(), 1);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("a"), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("b"), 0);
}

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
