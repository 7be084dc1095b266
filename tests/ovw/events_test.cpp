// Map events: delivery through OVwPending/OVwProcessEvent, map open and
// close, and posted deletions.
#include "ovw/contract.h"

#include "support/testsupport.h"

using maptest::MapContract;
using maptest::symbolsOf;

using maptest::drain;
using maptest::g_received;
using maptest::registerAll;

TEST_P(MapContract, EventsRunInPostingOrderOnePerCall)
{
    registerAll();
    ASSERT_EQ(OVwRemoveCallback(OVwEventEndSession, nullptr), 0);
    EXPECT_NE(OVwRemoveCallback(OVwEventEndSession, nullptr), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_CALLBACK);

    EXPECT_EQ(OVwPending(), 0);
    ASSERT_EQ(post(OVwEventMapClose), 0);
    ASSERT_EQ(post(OVwEventEndSession), 0);  // no handler: dropped
    ASSERT_EQ(post(OVwEventMapOpen), 0);
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

// The wait for an event: a store that gives notice of a posted event ends it
// at once (long as it may be), once per notice; one that gives none waits the
// whole time. The event waits all the same.
TEST_P(MapContract, APostedEventEndsTheWaitWhereTheStoreGivesNotice)
{
    const bool notices = GetParam()->notices;
    ASSERT_EQ(post(OVwEventMapOpen), 0);
    EXPECT_EQ(OVwWaitForEvent(notices ? 60000 : 10), notices ? 1 : 0);
    EXPECT_EQ(OVwWaitForEvent(10), 0);
    EXPECT_EQ(OVwError(), OVw_SUCCESS);
    EXPECT_NE(OVwPending(), 0);
}

TEST_P(MapContract, MapCloseAndOpenEventsFlipTheMap)
{
    registerAll();
    OVwObjectId o = object("o");
    ASSERT_EQ(post(OVwEventMapClose), 0);
    drain();
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_FALSE(g_received[0].mapInfoDuringHandler);
    EXPECT_EQ(OVwGetMapInfo(), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_MAP_OPEN);
    // The record from before the close no longer works.
    EXPECT_EQ(OVwGetObjectInfo(map, o), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_MAP_OPEN);
    EXPECT_EQ(OVwAckMapClose(map, g_received[0].closeTime), 0);

    ASSERT_EQ(post(OVwEventMapOpen), 0);
    drain();
    ASSERT_EQ(g_received.size(), 2u);
    EXPECT_TRUE(g_received[1].mapInfoDuringHandler);
    OVwMapInfo *again = OVwGetMapInfo();
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->root_submap_id, root());
    OVwFreeMapInfo(again);
}

TEST_P(MapContract, PostedSymbolDeletionRemovesSymbolsAndConnections)
{
    registerAll();
    OVwObjectId g = object("g"), a = object("a"), b = object("b"), arc = object("arc");
    OVwSubmapId sm = childSubmap(g);
    OVwSymbolId sa = icon(sm, a), sb = icon(sm, b);
    OVwSymbolId conn = OVwCreateConnSymbol(map, arc, sa, sb, "c", "l", 1, 3, 0);
    ASSERT_NE(conn, 0);

    ASSERT_EQ(post(OVwEventDeleteSymbols, {sa}), 0);
    // Gone at once, as an operator's deletion is, before any handler runs.
    EXPECT_EQ(symbolsOf(map, a), std::vector<int>{});
    EXPECT_EQ(symbolsOf(map, arc), std::vector<int>{});
    EXPECT_EQ(symbolsOf(map, b), std::vector<int>{sb});
    EXPECT_TRUE(g_received.empty());

    EXPECT_EQ(drain(), 1);
    ASSERT_EQ(g_received.size(), 1u);
    EXPECT_EQ(g_received[0].ids, (std::vector<int>{sa, conn}));
    EXPECT_EQ(g_received[0].submaps, (std::vector<int>{sm, sm}));

    EXPECT_NE(post(OVwEventDeleteSymbols, {sa}), 0);
    EXPECT_NE(post(OVwEventDeleteObjects, {arc + 100}), 0);
    EXPECT_NE(post(99), 0);
    EXPECT_EQ(OVwPending(), 0);
}

TEST_P(MapContract, PostedObjectDeletionLeavesTheObjectToTheHandler)
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
    ASSERT_EQ(post(OVwEventDeleteObjects, {a, b}), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("a"), a);
    EXPECT_EQ(drain(), 1);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("a"), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("b"), 0);
}
