// The adapter core: connection, map events, member index synchronisation,
// the main loop and the pending error, against an in-memory map database.
#include "adapter/testing.h"
#include "adapter/tqot.h"
#include "adapter/turns.h"
#include "log/log.h"
#include "intake/endpoint.h"
#include "mapdb/testhooks.h"
#include "ovw/ovw.h"
#include "support/process_state.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using tqtest::countOf;

using tqtest::readFile;

// The events of the journal lines of one operation, in call order.
std::vector<int> journalArgs(const std::string &operation)
{
    std::vector<int> out;
    for (const std::string &line : mapdb::journal()) {
        if (line.compare(0, operation.size() + 1, operation + "(") == 0)
            out.push_back(std::atoi(line.c_str() + operation.size() + 1));
    }
    return out;
}

class AdapterCore : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("OVW_MAPDB", ":memory:", 1);
        tqtest::resetProcessState();
    }

    void TearDown() override
    {
        tqtest::resetMapState();
        if (connected_)
            ad->tqotDone();
        turn = nullptr;
        tqtest::resetProcessState();
    }

    void connect(int32_t single = 1)
    {
        ASSERT_EQ(ad->tqotInit(0, 1, single), 0);
        connected_ = true;
        ASSERT_NE(TopologyAdapterPeer::mapHandle(*ad), nullptr);
    }

    std::string trace() const { return readFile(root_.file("tq_n2o.trc")); }
    // Enter lines of an operation in the adapter trace.
    int enters(const std::string &operation) const
    {
        int n = 0;
        for (const std::string &line : tqtest::splitLines(trace())) {
            size_t at = line.find(" " + operation + "(");
            if (at != std::string::npos && line.size() >= 8 && line.compare(line.size() - 8, 8, "): enter") == 0)
                ++n;
        }
        return n;
    }

    // ---- building a map ------------------------------------------------
    OVwSubmapId rootSubmap() const { return TopologyAdapterPeer::mapHandle(*ad)->root_submap_id; }
    OVwObjectId rootParent() const
    {
        OVwSubmapInfo *info = OVwGetSubmapInfo(TopologyAdapterPeer::mapHandle(*ad), rootSubmap());
        OVwObjectId parent = info != nullptr ? info->parent_object_id : -1;
        OVwFreeSubmapInfo(info);
        return parent;
    }
    static OVwObjectId object(const std::string &name)
    {
        return OVwDbCreateObjectBySelectionName((name + ";default").c_str());
    }
    OVwSymbolId symbol(OVwSubmapId submap, OVwObjectId obj, int statusSource) const
    {
        return OVwCreateSymbol(TopologyAdapterPeer::mapHandle(*ad), submap, obj, nullptr, "label", OVwStatusNormal, statusSource, nullptr, 0);
    }
    // A graph object shown on `on`, with its own child submap.
    OVwObjectId graph(const std::string &name, OVwSubmapId on, OVwSubmapId *child, OVwSymbolId *sym = nullptr) const
    {
        OVwObjectId g = object("g;" + name);
        *child = OVwCreateSubmap(TopologyAdapterPeer::mapHandle(*ad), g, OVwGraphSubmap, 0, name.c_str(), OVwNoLayout, 0);
        OVwSymbolId s = symbol(on, g, OVwRollUpStatusSource);
        if (sym != nullptr)
            *sym = s;
        return g;
    }

    // A small map: root holds graph G1; G1's submap holds vertex V, graph G2
    // and an arc A between them; G3 (on the root) holds V too.
    struct Map {
        OVwObjectId g1, g2, g3, v, a;
        OVwSubmapId s1, s2, s3;
        OVwSymbolId vSym, vSymInG3, g2Sym;
    };
    Map buildMap() const
    {
        Map m{};
        m.g1 = graph("G1", rootSubmap(), &m.s1);
        m.g2 = graph("G2", m.s1, &m.s2, &m.g2Sym);
        m.g3 = graph("G3", rootSubmap(), &m.s3);
        m.v = object("7;V");
        m.vSym = symbol(m.s1, m.v, OVwOwnStatusSource);
        m.vSymInG3 = symbol(m.s3, m.v, OVwOwnStatusSource);
        m.a = object("arc;V;G2");
        OVwCreateConnSymbol(TopologyAdapterPeer::mapHandle(*ad), m.a, m.vSym, m.g2Sym, nullptr, nullptr, OVwStatusNormal,
                            OVwRollUpStatusSource, 0);
        return m;
    }
    MemberIndex expectedIndex(const Map &m) const
    {
        MemberIndex idx;
        idx.emplace(MemberKey(rootParent(), 0), m.g1);
        idx.emplace(MemberKey(rootParent(), 0), m.g3);
        idx.emplace(MemberKey(m.g1, 0), m.g2);
        idx.emplace(MemberKey(m.g1, 1), m.v);
        idx.emplace(MemberKey(m.g1, 2), m.a);
        idx.emplace(MemberKey(m.g3, 1), m.v);
        return idx;
    }

    // ---- main loop scripting -------------------------------------------
    // The server callback of the loop tests runs `turn` with the turn number.
    static std::function<void(int)> turn;
    static int turns;
    static void serverCallback(int32_t, ServerEndpoint *)
    {
        ++turns;
        if (turn)
            turn(turns);
    }
    void runLoop(ServerEndpoint *serverData)
    {
        turns = 0;
        ad->registerServerCallback(serverData, &serverCallback);
        ad->mainLoop();
    }

    tqtest::TempRoot root_;
    TopologyAdapter *ad = TopologyAdapter::instance();
    bool connected_ = false;
};

std::function<void(int)> AdapterCore::turn;
int AdapterCore::turns = 0;

// ---- the singleton and the pending error ---------------------------------------

TEST_F(AdapterCore, PendingErrorIsReturnedOnceThenPlatformErrorShows)
{
    connect();
    EXPECT_EQ(ad->tqotGetError(), 0);
    TopologyAdapterPeer::pendingError(*ad) = TQOT_ERR_ROOT_EXISTS;
    EXPECT_EQ(ad->tqotGetError(), 20);
    EXPECT_EQ(TopologyAdapterPeer::pendingError(*ad), 0);
    EXPECT_EQ(ad->tqotGetError(), 0);

    // No adapter error pending, but the platform's last call failed.
    EXPECT_EQ(OVwDbDeleteObject(987654), -1);
    EXPECT_EQ(ad->tqotGetError(), -1);
    // A pending error wins over the platform's.
    TopologyAdapterPeer::pendingError(*ad) = 18;
    EXPECT_EQ(ad->tqotGetError(), 18);
    EXPECT_EQ(ad->tqotGetError(), -1);
    ASSERT_NE(object("x;y"), 0);   // a call that succeeds clears the platform error
    EXPECT_EQ(ad->tqotGetError(), 0);

    EXPECT_STREQ(ad->tqotGetErrorMsg(29), "tqot2ov error");
    EXPECT_STREQ(ad->tqotGetErrorMsg(-1), "tqot2ov error");
    EXPECT_STREQ(ad->tqotGetErrorMsg(0), "tqot2ov no error");
    EXPECT_GE(enters("tqotGetError"), 6);
    EXPECT_EQ(enters("tqotGetErrorMsg"), 3);
}

TEST_F(AdapterCore, SynchronousCreationChangesNothing)
{
    connect(0);
    TopologyAdapterPeer::pendingError(*ad) = 20;
    for (int32_t v : {10, 0, -1, 99999})
        EXPECT_EQ(ad->tqotSetSynchronousCreation(v), 0);
    EXPECT_EQ(TopologyAdapterPeer::pendingError(*ad), 20);
    EXPECT_EQ(TopologyAdapterPeer::singleSymbolPerContainer(*ad), 0);
    EXPECT_EQ(TopologyAdapterPeer::orderedArcNames(*ad), 1);
    EXPECT_EQ(TopologyAdapterPeer::done(*ad), 0);
}

// ---- connection ---------------------------------------------------------------------

TEST_F(AdapterCore, InitSetsFlagsFromItsArguments)
{
    struct Case {
        int32_t a, b, c;
        uint8_t ordered;
        int32_t single;
    };
    for (const Case &c : {Case{0, 1, 1, 1, 1}, Case{5, 0, 7, 0, 1}, Case{0, 1, 0, 1, 0}, Case{0, -3, 0, 1, 0}}) {
        TopologyAdapterPeer::reset(*ad);
        ASSERT_EQ(ad->tqotInit(c.a, c.b, c.c), 0);
        connected_ = true;
        EXPECT_EQ(TopologyAdapterPeer::orderedArcNames(*ad), c.ordered);
        EXPECT_EQ(TopologyAdapterPeer::singleSymbolPerContainer(*ad), c.single);
        EXPECT_NE(TopologyAdapterPeer::mapHandle(*ad), nullptr);
        ad->tqotDone();
        connected_ = false;
    }
}

TEST_F(AdapterCore, InitRegistersTheFiveHandlersAndSynchronises)
{
    mapdb::journalEnable(true);
    connect();
    EXPECT_EQ(journalArgs("OVwAddCallback"), (std::vector<int>{1, 3, 4, 14, 15}));
    // The map-open handler ran once, synchronising an empty map.
    EXPECT_EQ(enters("mapOpenCB"), 1);
    EXPECT_EQ(enters("synchWithMap"), 1);
    EXPECT_TRUE(TopologyAdapterPeer::memberIndex(*ad).empty());
    EXPECT_EQ(countOf(trace(), "OV error"), 0);

    mapdb::journalClear();
    ad->tqotDone();
    connected_ = false;
    EXPECT_EQ(journalArgs("OVwRemoveCallback"), (std::vector<int>{1, 3, 4, 14, 15}));
    EXPECT_EQ(countOf(trace(), "OV error"), 0);
}

TEST_F(AdapterCore, FailedRegistrationIsTracedAndTheOthersGoOn)
{
    mapdb::journalEnable(true);
    mapdb::failNth("OVwAddCallback", 2, OVw_BAD_ARGUMENT);
    connect();
    EXPECT_EQ(journalArgs("OVwAddCallback"), (std::vector<int>{1, 3, 4, 14, 15}));
    EXPECT_EQ(countOf(trace(), "tqotInit("), 3);   // enter, the OV error, exit
    EXPECT_EQ(countOf(trace(), "): OV error: "), 1);

    // Removing the unregistered handler fails: traced, the rest removed.
    mapdb::journalClear();
    ad->tqotDone();
    connected_ = false;
    EXPECT_EQ(journalArgs("OVwRemoveCallback"), (std::vector<int>{1, 3, 4, 14, 15}));
    EXPECT_EQ(countOf(trace(), "): OV error: "), 2);
}

TEST_F(AdapterCore, FailedConnectionReturns29AndChangesNothing)
{
    TopologyAdapterPeer::singleSymbolPerContainer(*ad) = 0;
    TopologyAdapterPeer::orderedArcNames(*ad) = 0;
    mapdb::journalEnable(true);
    mapdb::failNext("OVwInit", OVw_STORAGE_FAILURE);
    EXPECT_EQ(ad->tqotInit(0, 1, 1), 29);
    EXPECT_EQ(TopologyAdapterPeer::singleSymbolPerContainer(*ad), 0);
    EXPECT_EQ(TopologyAdapterPeer::orderedArcNames(*ad), 0);
    EXPECT_EQ(TopologyAdapterPeer::mapHandle(*ad), nullptr);
    EXPECT_TRUE(journalArgs("OVwAddCallback").empty());
    EXPECT_EQ(enters("mapOpenCB"), 0);
    EXPECT_NE(trace().find("OV error: " + std::string(OVwErrorMsg(OVw_STORAGE_FAILURE))), std::string::npos);
}

TEST_F(AdapterCore, NoMapAtInitLeavesTheHandleNull)
{
    mapdb::failAlways("OVwGetMapInfo", OVw_NO_MAP_OPEN);
    ASSERT_EQ(ad->tqotInit(0, 1, 1), 0);
    connected_ = true;
    EXPECT_EQ(TopologyAdapterPeer::mapHandle(*ad), nullptr);
    EXPECT_EQ(enters("synchWithMap"), 0);
    EXPECT_NE(trace().find("mapOpenCB("), std::string::npos);
    EXPECT_NE(trace().find("OV error: " + std::string(OVwErrorMsg(OVw_NO_MAP_OPEN))), std::string::npos);
    // With no map, synchronisation leaves an empty index and touches no record.
    TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(1, 1), 2);
    ad->synchWithMap();
    EXPECT_TRUE(TopologyAdapterPeer::memberIndex(*ad).empty());
}

TEST_F(AdapterCore, DoneClosesTheListenerReleasesTheMapAndDisconnects)
{
    connect();
    SocketEndpoint endpoint(0, 1);
    endpoint.open();
    ASSERT_NE(endpoint.listeningSocket, TQ_INVALID_SOCKET);
    ad->registerServerCallback(&endpoint, nullptr);
    EXPECT_EQ(ad->tqotDone(), 0);
    connected_ = false;
    EXPECT_EQ(endpoint.listeningSocket, TQ_INVALID_SOCKET);
    EXPECT_EQ(TopologyAdapterPeer::done(*ad), 1);
    EXPECT_EQ(TopologyAdapterPeer::mapHandle(*ad), nullptr);
    // Disconnected: the platform refuses further calls.
    EXPECT_EQ(OVwFileDescriptor(), -1);
}

// ---- member index -------------------------------------------------------------------

TEST_F(AdapterCore, SynchronisationRebuildsTheIndexFromTheMap)
{
    connect();
    Map m = buildMap();
    TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(4242, 1), 4243);   // stale entry
    ad->synchWithMap();
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad), expectedIndex(m));
}

TEST_F(AdapterCore, RemoveMemberTakesOneOrEveryMatch)
{
    connect(1);
    auto fill = [&] {
        TopologyAdapterPeer::memberIndex(*ad).clear();
        TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(5, 1), 9);
        TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(5, 1), 8);
        TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(5, 1), 9);
        TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(5, 0), 9);
        TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(6, 1), 9);
    };
    fill();
    TopologyAdapterPeer::removeMember(*ad, 5, 1, 9);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).size(), 4u);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(5, 1)), 2u);
    // The remaining entries keep their order: 8 then the second 9.
    auto range = TopologyAdapterPeer::memberIndex(*ad).equal_range(MemberKey(5, 1));
    EXPECT_EQ(range.first->second, 8);

    TopologyAdapterPeer::singleSymbolPerContainer(*ad) = 0;
    fill();
    TopologyAdapterPeer::removeMember(*ad, 5, 1, 9);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).size(), 3u);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(5, 1)), 1u);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(5, 0)), 1u);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(6, 1)), 1u);
}

class DeleteSymbol : public AdapterCore {
protected:
    // Index: container C holds X as graph, twice as vertex, and as arc; Y as
    // vertex; container D holds X as vertex.
    void fill(OVwObjectId c, OVwObjectId d)
    {
        TopologyAdapterPeer::memberIndex(*ad).clear();
        TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(c, 0), kX);
        TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(c, 1), kY);
        TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(c, 1), kX);
        TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(c, 1), kX);
        TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(c, 2), kX);
        TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(d, 1), kX);
    }
    void deleteSymbols(std::vector<OVwSymbolInfo> symbols)
    {
        OVwSymbolList list{static_cast<int32_t>(symbols.size()), symbols.data()};
        TopologyAdapter::deleteSymbolCB(nullptr, OVwEventDeleteSymbols, TopologyAdapterPeer::mapHandle(*ad), &list);
    }
    static OVwSymbolInfo deleted(OVwSubmapId submap, OVwObjectId obj)
    {
        OVwSymbolInfo s{};
        s.symbol_id = 77;
        s.submap_id = submap;
        s.object_id = obj;
        return s;
    }
    static constexpr OVwObjectId kX = 901;
    static constexpr OVwObjectId kY = 902;
};

TEST_F(DeleteSymbol, SingleSymbolPerContainerRemovesTheFirstMatchOnly)
{
    connect(1);
    OVwSubmapId s1, s2;
    OVwObjectId c = graph("C", rootSubmap(), &s1);
    OVwObjectId d = graph("D", rootSubmap(), &s2);
    fill(c, d);
    deleteSymbols({deleted(s1, kX)});
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(c, 0)), 0u);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(c, 1)), 3u);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(c, 2)), 1u);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(d, 1)), 1u);

    // The next deletion of the same object takes the next match in index order.
    deleteSymbols({deleted(s1, kX)});
    auto range = TopologyAdapterPeer::memberIndex(*ad).equal_range(MemberKey(c, 1));
    std::vector<OVwObjectId> left;
    for (auto it = range.first; it != range.second; ++it)
        left.push_back(it->second);
    EXPECT_EQ(left, (std::vector<OVwObjectId>{kY, kX}));
    EXPECT_EQ(enters("synchWithMap"), 1);   // only the one of tqotInit
}

TEST_F(DeleteSymbol, WithTheFlagClearEveryMatchOfTheContainerGoes)
{
    connect(0);
    OVwSubmapId s1, s2;
    OVwObjectId c = graph("C", rootSubmap(), &s1);
    OVwObjectId d = graph("D", rootSubmap(), &s2);
    fill(c, d);
    deleteSymbols({deleted(s1, kX)});
    MemberIndex expected;
    expected.emplace(MemberKey(c, 1), kY);
    expected.emplace(MemberKey(d, 1), kX);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad), expected);
}

TEST_F(DeleteSymbol, UnresolvedSubmapRebuildsTheIndexOnceAfterTheList)
{
    connect(1);
    Map m = buildMap();
    OVwSubmapId s1, s2;
    OVwObjectId c = graph("C", rootSubmap(), &s1);
    OVwObjectId d = graph("D", rootSubmap(), &s2);
    fill(c, d);
    int syncsBefore = enters("synchWithMap");
    deleteSymbols({deleted(99999, kX), deleted(s1, kY), deleted(99998, kX)});
    EXPECT_EQ(enters("synchWithMap"), syncsBefore + 1);
    EXPECT_EQ(countOf(trace(), "deleteSymbolCB(") , 4);   // enter, two OV errors, exit
    MemberIndex expected = expectedIndex(m);
    expected.emplace(MemberKey(rootParent(), 0), c);
    expected.emplace(MemberKey(rootParent(), 0), d);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad), expected);
}

// ---- object deletion ----------------------------------------------------------------

TEST_F(AdapterCore, ObjectDeletionUnsetsFieldsThenDeletesEachObject)
{
    connect();
    OVwFieldId unique = OVwDbFieldNameToFieldId("UniqueName");
    OVwFieldId moid = OVwDbFieldNameToFieldId("MoidString");
    ASSERT_NE(unique, 0);
    ASSERT_NE(moid, 0);
    OVwObjectId first = object("7;first");
    OVwObjectId second = object("7;second");
    OVwObjectId third = object("7;third");
    ASSERT_EQ(OVwDbSetFieldStringValue(first, unique, "u-1"), 0);
    ASSERT_EQ(OVwDbSetFieldStringValue(first, moid, "m-1"), 0);
    ASSERT_EQ(OVwDbSetFieldStringValue(third, unique, "u-3"), 0);
    TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(1, 1), first);

    mapdb::journalEnable(true);
    mapdb::failNth("OVwDbGetFieldValues", 2, OVw_STORAGE_FAILURE);   // second object: no field list
    OVwObjectInfo infos[3] = {};
    infos[0].object_id = first;
    infos[1].object_id = second;
    infos[2].object_id = third;
    OVwObjectList list{3, infos};
    TopologyAdapter::deleteObjectCB(nullptr, OVwEventDeleteObjects, TopologyAdapterPeer::mapHandle(*ad), &list);
    mapdb::journalEnable(false);

    EXPECT_EQ(OVwDbSelectionNameToObjectId("7;first;default"), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("7;second;default"), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("7;third;default"), 0);
    EXPECT_EQ(countOf(trace(), "): OV error: "), 1);
    // Fields are unset before each deletion.
    std::vector<std::string> order;
    for (const std::string &line : mapdb::journal()) {
        if (line.rfind("OVwDbUnsetFieldValue(", 0) == 0 || line.rfind("OVwDbDeleteObject(", 0) == 0)
            order.push_back(line.substr(0, line.find('(') + 1) + std::to_string(std::atoi(line.c_str() + line.find('(') + 1)));
    }
    std::vector<std::string> expected = {
        "OVwDbUnsetFieldValue(" + std::to_string(first), "OVwDbUnsetFieldValue(" + std::to_string(first),
        "OVwDbDeleteObject(" + std::to_string(first),    "OVwDbDeleteObject(" + std::to_string(second),
        "OVwDbUnsetFieldValue(" + std::to_string(third), "OVwDbDeleteObject(" + std::to_string(third)};
    EXPECT_EQ(order, expected);
    // The member index is left to the symbol deletions.
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).size(), 1u);
}

TEST_F(AdapterCore, FailedObjectDeletionIsTracedAndTheNextFollows)
{
    connect();
    OVwObjectId first = object("7;a");
    OVwObjectId second = object("7;b");
    mapdb::failNext("OVwDbDeleteObject", OVw_STORAGE_FAILURE);
    OVwObjectInfo infos[2] = {};
    infos[0].object_id = first;
    infos[1].object_id = second;
    OVwObjectList list{2, infos};
    TopologyAdapter::deleteObjectCB(nullptr, OVwEventDeleteObjects, TopologyAdapterPeer::mapHandle(*ad), &list);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("7;a;default"), first);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("7;b;default"), 0);
    EXPECT_EQ(countOf(trace(), "deleteObjectCB("), 3);   // enter, the OV error, exit
}

// ---- the main loop and the session events -----------------------------------------

TEST_F(AdapterCore, EndOfSessionStopsTheLoopBeforeTheServerCallback)
{
    connect();
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    SocketEndpoint endpoint(0, 1);
    endpoint.connectionSocket = pair[0];
    turn = [](int n) {
        if (n == 2)
            mapdb::postEvent(OVwEventEndSession);
    };
    runLoop(&endpoint);
    connected_ = false;
    // Turn 3 never came: the end of session was drained first.
    EXPECT_EQ(turns, 2);
    EXPECT_EQ(TopologyAdapterPeer::done(*ad), 1);
    EXPECT_EQ(enters("endSessionCB"), 1);
    EXPECT_EQ(enters("endConnection"), 1);
    EXPECT_EQ(enters("tqotDone"), 1);
    EXPECT_EQ(endpoint.connectionSocket, TQ_INVALID_SOCKET);
    char c;
    EXPECT_EQ(::recv(pair[1], &c, 1, 0), 0);   // the peer sees the connection closed
    ::close(pair[1]);
}

// While no map is open no frame is read: the loop only handles map events,
// pausing between looks, until a map opens again.
int g_mapWaitPauses = 0;
void openMapOnSecondPause()
{
    if (++g_mapWaitPauses == 2)
        mapdb::postEvent(OVwEventMapOpen);
}

TEST_F(AdapterCore, MapCloseHoldsTheStreamUntilAMapOpensAndMapOpenRebuildsTheIndex)
{
    connect();
    Map m = buildMap();
    ad->synchWithMap();
    MemberIndex expected = expectedIndex(m);
    ASSERT_EQ(TopologyAdapterPeer::memberIndex(*ad), expected);

    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    SocketEndpoint endpoint(0, 1);
    endpoint.connectionSocket = pair[0];
    g_mapWaitPauses = 0;
    setMapWaitPause(&openMapOnSecondPause);
    bool reopenedSeen = false;
    turn = [&](int n) {
        if (n == 1) {
            mapdb::postEvent(OVwEventMapClose);
            TopologyAdapterPeer::memberIndex(*ad).clear();
        } else if (n == 2) {
            // no frame turn ran while the map was closed
            reopenedSeen = g_mapWaitPauses == 2 && TopologyAdapterPeer::mapHandle(*ad) != nullptr && TopologyAdapterPeer::memberIndex(*ad) == expected &&
                           endpoint.connectionSocket == TQ_INVALID_SOCKET;
            mapdb::postEvent(OVwEventEndSession);
        }
    };
    runLoop(&endpoint);
    setMapWaitPause(nullptr);
    connected_ = false;
    EXPECT_TRUE(reopenedSeen);
    EXPECT_EQ(turns, 2);
    EXPECT_EQ(enters("mapCloseCB"), 1);
    EXPECT_EQ(enters("endConnection"), 2);   // map close and end of session
    EXPECT_EQ(enters("tqotDone"), 1);
    ::close(pair[1]);
}

TEST_F(AdapterCore, ChannelFailureEndsTheLoopWithoutAMessage)
{
    connect();
    mapdb::failNext("OVwFileDescriptor", OVw_EVENT_CHANNEL_FAILURE);
    turn = nullptr;
    runLoop(nullptr);
    connected_ = false;
    EXPECT_EQ(turns, 0);
    EXPECT_EQ(TopologyAdapterPeer::done(*ad), 1);
    EXPECT_EQ(enters("tqotDone"), 1);
    EXPECT_NE(trace().find("OV error: " + std::string(OVwErrorMsg(OVw_EVENT_CHANNEL_FAILURE))), std::string::npos);
}

TEST_F(AdapterCore, FailedEventWaitsForTheNextTurnAndTheMessageStillRuns)
{
    connect();
    mapdb::postEvent(OVwEventEndSession);
    mapdb::failNext("OVwProcessEvent", OVw_STORAGE_FAILURE);
    turn = nullptr;
    runLoop(nullptr);
    connected_ = false;
    EXPECT_EQ(turns, 1);
    EXPECT_EQ(enters("endSessionCB"), 1);
    EXPECT_EQ(enters("tqotDone"), 1);
}

TEST_F(AdapterCore, SymbolAndObjectEventsReachTheirHandlers)
{
    connect(1);
    Map m = buildMap();
    ad->synchWithMap();
    bool symbolForgotten = false;
    bool objectDeleted = false;
    turn = [&](int n) {
        if (n == 1) {
            mapdb::postEvent(OVwEventDeleteSymbols, {m.vSymInG3});
        } else if (n == 2) {
            symbolForgotten = TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(m.g3, 1)) == 0 &&
                              TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(m.g1, 1)) == 1;
            mapdb::postEvent(OVwEventDeleteObjects, {m.v});
        } else {
            objectDeleted = OVwDbSelectionNameToObjectId("7;V;default") == 0;
            mapdb::postEvent(OVwEventEndSession);
        }
    };
    runLoop(nullptr);
    connected_ = false;
    EXPECT_TRUE(symbolForgotten);
    EXPECT_TRUE(objectDeleted);
    EXPECT_EQ(enters("deleteSymbolCB"), 1);
    EXPECT_EQ(enters("deleteObjectCB"), 1);
}

}  // namespace
