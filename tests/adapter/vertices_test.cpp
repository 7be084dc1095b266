// Vertex operations of the adapter on an in-memory map.
#include "adapter_fixture.h"

#include <string>

namespace {

using tqtest::AdapterFixture;
using tqtest::AdapterFixtureMulti;
using tqtest::SymbolView;

constexpr int32_t kIP = 56;
constexpr int32_t kEthernet = 6;

// Map status values the status numbers give.
constexpr int kMapStatus1 = 2;
constexpr int kMapStatus2 = 4;
constexpr int kMapStatus4 = 3;

const char kIcons[] =
    "dev.a:Device:A\n"
    "dev.b:Device:B\n";

// A graph made directly on the platform: object, child submap, symbol on `parent`.
OVwObjectId makeGraph(OVwMapInfo *map, const std::string &selectionName, OVwSubmapId parent)
{
    OVwObjectId id = OVwDbCreateObjectBySelectionName(selectionName.c_str());
    if (id == 0 || OVwCreateSubmap(map, id, OVwGraphSubmap, 0, selectionName.c_str(), 0, 0) == 0 ||
        OVwCreateSymbol(map, parent, id, nullptr, selectionName.c_str(), 1, 2, nullptr, 0) == 0)
        return 0;
    return id;
}

bool traceHas(const std::string &trace, const std::string &operation, const std::string &message)
{
    for (const std::string &line : tqtest::splitLines(trace))
        if (line.find(operation + "(") != std::string::npos && line.find("): " + message) != std::string::npos)
            return true;
    return false;
}

template <class Base>
class VertexOpsT : public Base {
protected:
    OVwObjectId net = 0;
    OVwSubmapId netSubmap = 0;

    void SetUp() override
    {
        Base::SetUp();
        this->writeIcons(kIcons);
        net = makeGraph(TopologyAdapterPeer::mapHandle(*this->ad), this->sel("IP", "net"), this->rootSubmap());
        ASSERT_NE(net, 0);
        netSubmap = this->childSubmap(net);
        ASSERT_NE(netSubmap, 0);
    }

    OVwObjectId create(const char *vertex, const char *iconKey = "dev.a", const char *label = "L",
                       int32_t statusNumber = 1, const char *graph = "net", int32_t protocol = kIP)
    {
        return this->ad->tqotCreateVertexInGraph("IP", graph, protocol, vertex, iconKey, label, nullptr,
                                                 statusNumber);
    }
};
using VertexOps = VertexOpsT<AdapterFixture>;
using VertexOpsMulti = VertexOpsT<AdapterFixtureMulti>;

// ---- creation ------------------------------------------------------------------

TEST_F(VertexOps, NewVertexGetsObjectTypeFieldsSymbolAndIndexEntry)
{
    OVwObjectId v = create("v1", "dev.a", "V one", 1);
    ASSERT_NE(v, 0);
    EXPECT_EQ(v, objectId(sel("IP", "v1")));
    EXPECT_EQ(boolField(v, "isVertex"), 1);
    EXPECT_EQ(boolField(v, "isGraph"), 0);

    std::vector<SymbolView> syms = symbolsOf(v);
    ASSERT_EQ(syms.size(), 1u);
    EXPECT_EQ(syms[0].submap, netSubmap);
    EXPECT_EQ(syms[0].type, "Device:A");
    EXPECT_EQ(syms[0].label, "V one");
    EXPECT_EQ(syms[0].status, kMapStatus1);
    EXPECT_EQ(syms[0].statusSource, 3);
    EXPECT_EQ(indexCount(net, TQOT_KIND_VERTEX, v), 1u);
}

TEST_F(VertexOps, BothCreationEntriesBehaveAlikeAndTraceTheirOwnName)
{
    OVwObjectId a = ad->tqotCreateVertexInBox("IP", "net", kEthernet, "box", nullptr, nullptr, nullptr, 2);
    ASSERT_NE(a, 0);
    EXPECT_EQ(a, objectId(sel("ETHERNET_CSMACD", "box")));
    std::vector<SymbolView> syms = symbolsOf(a, netSubmap);
    ASSERT_EQ(syms.size(), 1u);
    EXPECT_FALSE(syms[0].hasType);   // null icon key: no symbol type
    EXPECT_FALSE(syms[0].hasLabel);  // null label passed as null
    EXPECT_EQ(syms[0].status, kMapStatus2);

    std::string trace = adapterTrace();
    EXPECT_TRUE(traceHas(trace, "tqotCreateVertexInBox", "enter"));
    EXPECT_TRUE(traceHas(trace, "createVertex", "enter"));
    EXPECT_FALSE(traceHas(trace, "tqotCreateVertexInGraph", "enter"));
}

TEST_F(VertexOps, ExistingVertexOnTheSubmapIsUpdatedNotDuplicated)
{
    OVwObjectId v = create("v1", "dev.a", "first", 1);
    ASSERT_NE(v, 0);
    clearAdapterTrace();

    EXPECT_EQ(create("v1", "dev.b", "second", 4), v);
    std::vector<SymbolView> syms = symbolsOf(v);
    ASSERT_EQ(syms.size(), 1u);
    EXPECT_EQ(syms[0].status, kMapStatus4);
    EXPECT_EQ(syms[0].label, "second");
    EXPECT_EQ(syms[0].type, "Device:B");
    EXPECT_EQ(indexCount(net, TQOT_KIND_VERTEX), 1u);
    EXPECT_TRUE(traceHas(adapterTrace(), "createVertex", "Vertex exists; setting status and label."));

    // Null icon key and label leave both as they are; the status still follows.
    EXPECT_EQ(create("v1", nullptr, nullptr, 2), v);
    syms = symbolsOf(v);
    ASSERT_EQ(syms.size(), 1u);
    EXPECT_EQ(syms[0].status, kMapStatus2);
    EXPECT_EQ(syms[0].label, "second");
    EXPECT_EQ(syms[0].type, "Device:B");
    EXPECT_EQ(indexCount(net, TQOT_KIND_VERTEX), 1u);
}

TEST_F(VertexOps, UpdateWithAnotherStatusSourceLeavesTheStatus)
{
    OVwObjectId v = create("v1", "dev.a", "first", 1);
    ASSERT_NE(v, 0);
    EXPECT_EQ(ad->createVertex(sel("IP", "net").c_str(), sel("IP", "v1").c_str(), nullptr, "relabelled", 4, 2), v);
    std::vector<SymbolView> syms = symbolsOf(v);
    ASSERT_EQ(syms.size(), 1u);
    EXPECT_EQ(syms[0].status, kMapStatus1);
    EXPECT_EQ(syms[0].label, "relabelled");
}

TEST_F(VertexOps, SameVertexInTwoGraphsHasOneObjectTwoSymbolsTwoEntries)
{
    OVwObjectId san = makeGraph(TopologyAdapterPeer::mapHandle(*ad), sel("IP", "san"), rootSubmap());
    ASSERT_NE(san, 0);
    OVwObjectId v = create("shared");
    ASSERT_NE(v, 0);
    EXPECT_EQ(create("shared", "dev.a", "L", 1, "san"), v);

    EXPECT_EQ(symbolsOf(v).size(), 2u);
    EXPECT_EQ(symbolsOf(v, netSubmap).size(), 1u);
    EXPECT_EQ(symbolsOf(v, childSubmap(san)).size(), 1u);
    EXPECT_EQ(indexCount(net, TQOT_KIND_VERTEX, v), 1u);
    EXPECT_EQ(indexCount(san, TQOT_KIND_VERTEX, v), 1u);
}

TEST_F(VertexOpsMulti, WithoutSingleSymbolARepeatAddsSymbolAndEntry)
{
    OVwObjectId v = create("v1");
    ASSERT_NE(v, 0);
    EXPECT_EQ(create("v1"), v);
    EXPECT_EQ(symbolsOf(v, netSubmap).size(), 2u);
    EXPECT_EQ(indexCount(net, TQOT_KIND_VERTEX, v), 2u);
}

TEST_F(VertexOps, CreationFailures)
{
    // Unknown graph: nothing is created.
    EXPECT_EQ(create("v1", "dev.a", "L", 1, "nograph"), 0);
    EXPECT_EQ(objectId(sel("IP", "v1")), 0);

    // A failed symbol creation gives 0 and keeps the object and the index entry.
    mapdb::failNext("OVwCreateSymbol", OVw_NO_SUCH_SUBMAP);
    EXPECT_EQ(create("v2"), 0);
    OVwObjectId v2 = objectId(sel("IP", "v2"));
    ASSERT_NE(v2, 0);
    EXPECT_EQ(indexCount(net, TQOT_KIND_VERTEX, v2), 1u);
    EXPECT_TRUE(symbolsOf(v2).empty());
    EXPECT_TRUE(traceHas(adapterTrace(), "createVertex", "OV error"));

    // A vertex name whose selection name does not fit is refused whole.
    std::string longName(250, 'n');
    EXPECT_EQ(create(longName.c_str()), 0);
    EXPECT_EQ(indexCount(net, TQOT_KIND_VERTEX), 1u);
}

// ---- status, icon, label -----------------------------------------------------------

TEST_F(VertexOps, StatusChangeReachesEverySymbolAndGoesOnAfterAFailure)
{
    OVwObjectId san = makeGraph(TopologyAdapterPeer::mapHandle(*ad), sel("IP", "san"), rootSubmap());
    OVwObjectId v = create("v1");
    ASSERT_EQ(create("v1", "dev.a", "L", 1, "san"), v);

    EXPECT_EQ(ad->tqotChangeVertexStatus(kIP, "v1", 2), 0);
    for (const SymbolView &s : symbolsOf(v))
        EXPECT_EQ(s.status, kMapStatus2);

    mapdb::failNext("OVwSetStatusOnSymbol", OVw_NO_SUCH_SYMBOL);
    EXPECT_EQ(ad->tqotChangeVertexStatus(kIP, "v1", 4), TQOT_ERR_PLATFORM);
    std::vector<SymbolView> syms = symbolsOf(v);
    ASSERT_EQ(syms.size(), 2u);
    EXPECT_EQ(syms[0].status, kMapStatus2);
    EXPECT_EQ(syms[1].status, kMapStatus4);
    EXPECT_NE(san, 0);
}

TEST_F(VertexOps, StatusOfAnUnknownVertexChangesNothing)
{
    OVwObjectId v = create("v1");
    mapdb::journalClear();
    mapdb::journalEnable(true);
    EXPECT_EQ(ad->tqotChangeVertexStatus(kIP, "ghost", 2), TQOT_ERR_NO_OBJECT);
    EXPECT_EQ(ad->tqotChangeVertexStatus(kEthernet, "v1", 2), TQOT_ERR_NO_OBJECT);   // same name, other protocol
    mapdb::journalEnable(false);
    for (const std::string &call : mapdb::journal())
        EXPECT_EQ(call.find("OVwSetStatusOnSymbol"), std::string::npos) << call;
    EXPECT_EQ(symbolsOf(v)[0].status, kMapStatus1);
}

TEST_F(VertexOps, IconAndLabelChangeEverySymbol)
{
    OVwObjectId san = makeGraph(TopologyAdapterPeer::mapHandle(*ad), sel("IP", "san"), rootSubmap());
    OVwObjectId v = create("v1");
    ASSERT_EQ(create("v1", "dev.a", "L", 1, "san"), v);
    ASSERT_NE(san, 0);

    EXPECT_EQ(ad->tqotChangeVertexIconInGraph(kIP, "v1", "dev.b"), 0);
    EXPECT_EQ(ad->tqotChangeVertexLabelInGraph(kIP, "v1", "renamed"), 0);
    for (const SymbolView &s : symbolsOf(v)) {
        EXPECT_EQ(s.type, "Device:B");
        EXPECT_EQ(s.label, "renamed");
    }
    EXPECT_EQ(ad->tqotChangeVertexIconInGraph(kIP, "ghost", "dev.b"), TQOT_ERR_NO_SUCH_OBJECT);
    EXPECT_EQ(ad->tqotChangeVertexLabelInGraph(kIP, "ghost", "x"), TQOT_ERR_NO_SUCH_OBJECT);
}

// ---- listing ---------------------------------------------------------------------

TEST_F(VertexOps, ListingGivesNamesAndProtocolsInIndexOrder)
{
    OVwObjectId a = create("alpha", "dev.a", "L", 1, "net", kIP);
    OVwObjectId b = create("beta", "dev.a", "L", 1, "net", kEthernet);
    ASSERT_NE(a, 0);
    ASSERT_NE(b, 0);

    VertexList *list = ad->tqotGetVerticesInGraph("IP", "net");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 2);
    EXPECT_EQ(list->entries[0].protocol, kIP);
    EXPECT_STREQ(list->entries[0].name, "alpha");
    EXPECT_STREQ(list->entries[0].selectionName, "IP");
    EXPECT_EQ(list->entries[1].protocol, kEthernet);
    EXPECT_STREQ(list->entries[1].name, "beta");
    EXPECT_EQ(ad->tqotFreeVertexList(list), 0);

    for (const char *graph : {"san", "net2"}) {
        if (std::string(graph) == "san") {
            ASSERT_NE(makeGraph(TopologyAdapterPeer::mapHandle(*ad), sel("IP", "san"), rootSubmap()), 0);
        }
        list = ad->tqotGetVerticesInGraph("IP", graph);   // no vertices / unknown graph
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->count, 0);
        EXPECT_EQ(list->entries, nullptr);
        EXPECT_EQ(ad->tqotFreeVertexList(list), 0);
    }
    EXPECT_EQ(ad->tqotFreeVertexList(nullptr), 0);
}

TEST_F(VertexOps, StaleIndexEntryRebuildsTheIndexAndRepeats)
{
    OVwObjectId a = create("alpha");
    ASSERT_NE(a, 0);
    // An entry for an object the map does not know, before the real one.
    TopologyAdapterPeer::memberIndex(*ad).clear();
    TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(net, TQOT_KIND_VERTEX), 987654);
    TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(net, TQOT_KIND_VERTEX), a);

    VertexList *list = ad->tqotGetVerticesInGraph("IP", "net");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 1);
    EXPECT_STREQ(list->entries[0].name, "alpha");
    ad->tqotFreeVertexList(list);
    EXPECT_EQ(indexCount(net, TQOT_KIND_VERTEX, 987654), 0u);
    EXPECT_TRUE(traceHas(adapterTrace(), "synchWithMap", "enter"));
}

TEST_F(VertexOps, ListingThatNeverResolvesStopsAfterBoundedRebuilds)
{
    ASSERT_NE(create("alpha"), 0);
    ASSERT_NE(create("beta"), 0);
    clearAdapterTrace();
    mapdb::failAlways("OVwDbObjectIdToSelectionName", OVw_NO_SUCH_OBJECT);
    VertexList *list = ad->tqotGetVerticesInGraph("IP", "net");
    mapdb::clearFaults();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 0);
    ad->tqotFreeVertexList(list);
    EXPECT_EQ(traceCount("synchWithMap("), 2 * 3);   // enter and exit of three rebuilds
    EXPECT_EQ(traceCount("unresolved members skipped"), 1);
}

// ---- deletion ---------------------------------------------------------------------

TEST_F(VertexOps, DeletionRemovesTheSymbolFromThatGraphOnly)
{
    OVwObjectId san = makeGraph(TopologyAdapterPeer::mapHandle(*ad), sel("IP", "san"), rootSubmap());
    OVwObjectId v = create("v1");
    ASSERT_EQ(create("v1", "dev.a", "L", 1, "san"), v);

    EXPECT_EQ(ad->tqotDeleteVertexFromGraph("IP", "net", kIP, "v1"), 0);
    EXPECT_TRUE(symbolsOf(v, netSubmap).empty());
    EXPECT_EQ(symbolsOf(v, childSubmap(san)).size(), 1u);
    EXPECT_EQ(indexCount(net, TQOT_KIND_VERTEX), 0u);
    EXPECT_EQ(indexCount(san, TQOT_KIND_VERTEX, v), 1u);
    EXPECT_EQ(objectId(sel("IP", "v1")), v);   // the object stays

    EXPECT_EQ(ad->tqotDeleteVertexFromGraph("IP", "san", kIP, "ghost"), -1);
}

TEST_F(VertexOps, DeletionWithANullNameTouchesNothing)
{
    OVwObjectId v = create("v1");
    mapdb::journalClear();
    mapdb::journalEnable(true);
    EXPECT_EQ(ad->tqotDeleteVertexFromGraph("IP", "net", kIP, nullptr), -1);
    mapdb::journalEnable(false);
    EXPECT_TRUE(mapdb::journal().empty());
    EXPECT_EQ(symbolsOf(v, netSubmap).size(), 1u);
    EXPECT_EQ(indexCount(net, TQOT_KIND_VERTEX, v), 1u);
    EXPECT_TRUE(traceHas(adapterTrace(), "tqotDeleteVertexFromGraph", "vertexName is null"));
}

// ---- no map open -------------------------------------------------------------------

TEST_F(VertexOps, WithNoMapOpenEveryOperationFailsCleanly)
{
    OVwObjectId v = create("v1");
    ASSERT_NE(v, 0);
    OVwFreeMapInfo(TopologyAdapterPeer::mapHandle(*ad));
    TopologyAdapterPeer::mapHandle(*ad) = nullptr;

    EXPECT_EQ(create("v2"), 0);
    EXPECT_EQ(ad->tqotGetError(), TQOT_ERR_NO_MAP);
    EXPECT_EQ(ad->createVertex(net, "IP;v3;default", nullptr, nullptr, 1, 3), 0);
    EXPECT_EQ(ad->tqotChangeVertexStatus(kIP, "v1", 2), TQOT_ERR_NO_MAP);
    VertexList *list = ad->tqotGetVerticesInGraph("IP", "net");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 0);
    ad->tqotFreeVertexList(list);
    EXPECT_EQ(ad->tqotDeleteVertexFromGraph("IP", "net", kIP, "v1"), -1);
    EXPECT_EQ(objectId(sel("IP", "v2")), 0);
    EXPECT_EQ(objectId(sel("IP", "v3")), 0);
}

}  // namespace
