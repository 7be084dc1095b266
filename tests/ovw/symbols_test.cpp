// Symbols, connections, submaps, deletion cascades and the session.
#include "ovw/contract.h"

#include "support/testsupport.h"

using maptest::MapContract;
using maptest::symbolsOf;

TEST_P(MapContract, SymbolListsAreNullOnlyOnFailure)
{
    OVwObjectId bare = object("bare");
    OVwDbSelectionNameToObjectId("missing");
    OVwSymbolList *list = OVwGetSymbolsByObject(map, bare);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 0);
    EXPECT_EQ(list->symbols, nullptr);
    EXPECT_EQ(OVwError(), 0);
    OVwFreeSymbolList(list);

    EXPECT_EQ(OVwGetSymbolsByObject(map, bare + 10), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    EXPECT_EQ(OVwGetSymbolsByObject(nullptr, bare), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_MAP_OPEN);
}

TEST_P(MapContract, SymbolsKeepWhatTheyWereCreatedWith)
{
    OVwObjectId o = object("o");
    OVwSymbolId s1 = OVwCreateSymbol(map, root(), o, "Net:Router", "label 1", OVwStatusMajor, 3, nullptr, 0);
    OVwSymbolId s2 = OVwCreateSymbol(map, root(), o, nullptr, nullptr, OVwStatusNormal, 2, nullptr, 0);
    ASSERT_NE(s1, 0);
    ASSERT_NE(s2, 0);
    ASSERT_LT(s1, s2);

    OVwSymbolList *list = OVwGetSymbolsByObject(map, o);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 2);
    const OVwSymbolInfo &a = list->symbols[0];
    EXPECT_EQ(a.symbol_id, s1);
    EXPECT_EQ(a.submap_id, root());
    EXPECT_EQ(a.object_id, o);
    EXPECT_EQ(a.status_source, 3);
    EXPECT_EQ(a.symbol_variety, OVwIconSymbol);
    EXPECT_EQ(a.status, OVwStatusMajor);
    EXPECT_STREQ(a.symbol_type, "Net:Router");
    EXPECT_STREQ(a.label, "label 1");
    EXPECT_EQ(list->symbols[1].symbol_type, nullptr);
    EXPECT_EQ(list->symbols[1].label, nullptr);
    OVwFreeSymbolList(list);

    ASSERT_EQ(OVwSetStatusOnSymbol(map, s1, OVwStatusCritical), 0);
    ASSERT_EQ(OVwSetSymbolType(map, s1, "Net:Hub", 0), 0);
    ASSERT_EQ(OVwSetSymbolLabel(map, s1, nullptr), 0);
    list = OVwListSymbols(map, root(), 7, "tqdaemon");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 2);
    EXPECT_EQ(list->symbols[0].status, OVwStatusCritical);
    EXPECT_STREQ(list->symbols[0].symbol_type, "Net:Hub");
    EXPECT_EQ(list->symbols[0].label, nullptr);
    OVwFreeSymbolList(list);

    EXPECT_NE(OVwSetStatusOnSymbol(map, s2 + 10, 1), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SYMBOL);
    EXPECT_LT(OVwSetSymbolLabel(map, s2 + 10, "x"), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SYMBOL);
    EXPECT_EQ(OVwCreateSymbol(map, root() + 50, o, "t", "l", 1, 2, nullptr, 0), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SUBMAP);
    EXPECT_EQ(OVwCreateSymbol(map, root(), o + 50, "t", "l", 1, 2, nullptr, 0), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
}

TEST_P(MapContract, DeletingASymbolDeletesTheConnectionsEndingAtIt)
{
    OVwObjectId g = object("g"), x = object("x"), y = object("y"), z = object("z");
    OVwObjectId arc1 = object("arc1"), arc2 = object("arc2");
    OVwSubmapId sm = childSubmap(g);
    OVwSymbolId sx = icon(sm, x), sy = icon(sm, y), sz = icon(sm, z);
    OVwSymbolId c1 = OVwCreateConnSymbol(map, arc1, sx, sy, "conn", "l", 2, 3, 0);
    OVwSymbolId c2 = OVwCreateConnSymbol(map, arc2, sy, sz, nullptr, nullptr, 1, 3, 0);
    ASSERT_NE(c1, 0);
    ASSERT_NE(c2, 0);

    OVwSymbolList *list = OVwGetSymbolsByObject(map, arc1);
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 1);
    EXPECT_EQ(list->symbols[0].symbol_variety, OVwConnSymbol);
    EXPECT_EQ(list->symbols[0].conn_derived, 0);
    EXPECT_EQ(list->symbols[0].submap_id, sm);
    EXPECT_EQ(list->symbols[0].conn_a, sx);
    EXPECT_EQ(list->symbols[0].conn_z, sy);
    OVwFreeSymbolList(list);

    EXPECT_EQ(OVwCreateConnSymbol(map, arc1, sx, sz + 100, "conn", "l", 2, 3, 0), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SYMBOL);
    OVwSymbolId elsewhere = icon(root(), z);
    EXPECT_EQ(OVwCreateConnSymbol(map, arc1, sx, elsewhere, "conn", "l", 2, 3, 0), 0);
    EXPECT_EQ(OVwError(), OVw_BAD_ARGUMENT);

    ASSERT_EQ(OVwDeleteSymbol(map, sy), 0);
    EXPECT_EQ(symbolsOf(map, y), std::vector<int>{});
    EXPECT_EQ(symbolsOf(map, arc1), std::vector<int>{});
    EXPECT_EQ(symbolsOf(map, arc2), std::vector<int>{});
    EXPECT_EQ(symbolsOf(map, x), std::vector<int>{sx});
    EXPECT_EQ(symbolsOf(map, z), (std::vector<int>{sz, elsewhere}));
    EXPECT_LT(OVwDeleteSymbol(map, sy), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SYMBOL);
    // Symbols made and read earlier in the turn, deleted since: gone too.
    EXPECT_LT(OVwSetStatusOnSymbol(map, sy, OVwStatusCritical), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SYMBOL);
    EXPECT_LT(OVwSetSymbolLabel(map, c1, "l"), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SYMBOL);
    EXPECT_EQ(OVwCreateConnSymbol(map, arc2, sx, sy, "conn", "l", 2, 3, 0), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SYMBOL);
}

TEST_P(MapContract, AnObjectParentsOneSubmap)
{
    OVwObjectId g = object("g"), v = object("v");
    OVwSubmapId sm = OVwCreateSubmap(map, g, OVwGraphSubmap, 0, "g", OVwStarLayout, 0);
    ASSERT_NE(sm, 0);
    ASSERT_EQ(OVwSetBackgroundGraphic(map, sm, nullptr), 0);
    ASSERT_EQ(OVwSetBackgroundGraphic(map, sm, "world.gif"), 0);
    OVwSymbolId sv = icon(sm, v);

    OVwObjectInfo *info = OVwGetObjectInfo(map, g);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->child_submap_id, sm);
    OVwFreeObjectInfo(info);
    info = OVwGetObjectInfo(map, v);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->child_submap_id, 0);
    OVwFreeObjectInfo(info);

    OVwSubmapInfo *si = OVwGetSubmapInfo(map, sm);
    ASSERT_NE(si, nullptr);
    EXPECT_EQ(si->parent_object_id, g);
    EXPECT_EQ(si->submap_type, OVwGraphSubmap);
    EXPECT_EQ(si->layout, OVwStarLayout);
    EXPECT_STREQ(si->background, "world.gif");
    OVwFreeSubmapInfo(si);

    // Asking again gives the same submap with its contents.
    EXPECT_EQ(OVwCreateSubmap(map, g, OVwGraphSubmap, 0, "g", OVwBusLayout, 0), sm);
    OVwSymbolList *onSm = OVwListSymbols(map, sm, 7, "tqdaemon");
    ASSERT_NE(onSm, nullptr);
    EXPECT_EQ(maptest::symbolIds(onSm), std::vector<int>{sv});
    OVwFreeSymbolList(onSm);

    OVwSubmapList *all = OVwListSubmaps(map, "tqdaemon", 0, 0);
    ASSERT_NE(all, nullptr);
    ASSERT_EQ(all->count, 2);
    EXPECT_EQ(all->submaps[0].submap_id, root());
    EXPECT_EQ(all->submaps[0].parent_object_id, 0);
    EXPECT_EQ(all->submaps[1].submap_id, sm);
    EXPECT_EQ(all->submaps[1].parent_object_id, g);
    OVwFreeSubmapList(all);

    EXPECT_EQ(OVwCreateSubmap(map, v + 100, OVwGraphSubmap, 0, "x", 0, 0), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    EXPECT_LT(OVwSetBackgroundGraphic(map, sm + 100, "x"), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SUBMAP);
    EXPECT_EQ(OVwListSymbols(map, sm + 100, 7, "tqdaemon"), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SUBMAP);

    // The submap, seen earlier in the turn, goes with its parent.
    ASSERT_EQ(OVwDbDeleteObject(g), 0);
    EXPECT_EQ(OVwCreateSymbol(map, sm, v, "t", "l", 1, 2, nullptr, 0), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SUBMAP);
}

TEST_P(MapContract, MapCallsWithoutAMapFailCleanly)
{
    OVwObjectId o = object("o");
    EXPECT_EQ(OVwGetObjectInfo(nullptr, o), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_MAP_OPEN);
    EXPECT_EQ(OVwCreateSymbol(nullptr, root(), o, nullptr, nullptr, 1, 2, nullptr, 0), 0);
    EXPECT_EQ(OVwError(), OVw_NO_MAP_OPEN);
    EXPECT_EQ(OVwCreateSubmap(nullptr, o, 2, 0, "x", 0, 0), 0);
    EXPECT_EQ(OVwError(), OVw_NO_MAP_OPEN);
    EXPECT_EQ(OVwListSubmaps(nullptr, "tqdaemon", 0, 0), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_MAP_OPEN);
    EXPECT_NE(OVwSetStatusOnSymbol(nullptr, 1, 1), 0);
    EXPECT_EQ(OVwError(), OVw_NO_MAP_OPEN);
    EXPECT_EQ(symbolsOf(map, o), std::vector<int>{});
}

TEST_P(MapContract, SessionEndsAndStartsAfresh)
{
    object("before");
    char *app = OVwGetAppName();
    ASSERT_NE(app, nullptr);
    EXPECT_STREQ(app, "tqdaemon");
    OVFree(app);
    OVwFieldBindList *cfg = OVwGetAppConfigValues(map, "tqdaemon");
    ASSERT_NE(cfg, nullptr);
    EXPECT_EQ(cfg->count, 0);
    OVwDbFreeFieldBindList(cfg);
    EXPECT_GE(OVwFileDescriptor(), 0);

    ASSERT_EQ(OVwDone(), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("before"), 0);
    EXPECT_EQ(OVwError(), OVw_NOT_CONNECTED);
    EXPECT_EQ(OVwGetMapInfo(), nullptr);
    EXPECT_EQ(OVwError(), OVw_NOT_CONNECTED);
    EXPECT_EQ(OVwPending(), 0);
    EXPECT_EQ(OVwError(), OVw_NOT_CONNECTED);
    EXPECT_LT(OVwFileDescriptor(), 0);
    EXPECT_EQ(OVwWaitForEvent(0), -1);
    EXPECT_EQ(OVwError(), OVw_NOT_CONNECTED);
    EXPECT_NE(OVwAddCallback(OVwEventMapOpen, nullptr, [](void *, int, OVwMapInfo *, void *) {}, nullptr), 0);
    EXPECT_EQ(OVwError(), OVw_NOT_CONNECTED);

    // A new session on a new map starts empty.
    moveToNewMap();
    ASSERT_EQ(OVwInit(), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("before"), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    EXPECT_NE(OVwDbFieldNameToFieldId("UniqueName"), 0);
}
