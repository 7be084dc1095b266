// The content reconciliation and the arc deletions it relies on, called
// directly with record lists built in the test.
#include "content_fixture.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace tqcontent;

namespace {

class ReconcileTest : public ContentFixture {
protected:
    static GraphRef ref(const char *name, const char *protocol = kProto)
    {
        GraphRef g{};
        std::strcpy(g.graph_name, name);
        std::strcpy(g.graph_protocol, protocol);
        return g;
    }
    static void keepGraph(const char *protocol, const char *name)
    {
        ASSERT_TRUE(contentIdLists().graphs.append(protocol, name));
    }
    static void keepVertex(const char *protocol, const char *name)
    {
        ASSERT_TRUE(contentIdLists().vertices.append(protocol, name));
    }
    // Position in the call journal of the first call that starts with `prefix`.
    static size_t journalPos(const std::string &prefix)
    {
        const std::vector<std::string> &calls = mapdb::journal();
        for (size_t i = 0; i < calls.size(); ++i)
            if (calls[i].rfind(prefix, 0) == 0)
                return i;
        return std::string::npos;
    }
};

TEST_F(ReconcileTest, EmptyGraphRecordsDeleteEveryMemberGraphAfterItsArcs)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1");
    const OVwObjectId v1 = vertexIn("G", "v1");
    const OVwObjectId a = arc("G", 5, text(kProto), "m1", number(1), "v1", 1);
    ASSERT_NE(a, 0);
    const OVwSymbolId arcSymbol = symbolsOf(a).at(0).id;
    const OVwSymbolId memberSymbol = symbolsOf(m1).at(0).id;
    keepVertex("1", "v1");

    mapdb::journalClear();
    mapdb::journalEnable(true);
    reconcileGraphContents(ref("G"));
    mapdb::journalEnable(false);

    EXPECT_FALSE(shownIn(m1, g));
    EXPECT_TRUE(shownIn(v1, g));
    const size_t arcDelete = journalPos("OVwDeleteSymbol(" + std::to_string(arcSymbol));
    const size_t memberDelete = journalPos("OVwDeleteSymbol(" + std::to_string(memberSymbol));
    ASSERT_NE(arcDelete, std::string::npos);
    ASSERT_NE(memberDelete, std::string::npos);
    EXPECT_LT(arcDelete, memberDelete);
}

// A removed member graph takes the graph-to-graph arcs that end at it, at
// either end; an arc between kept graphs stays.
TEST_F(ReconcileTest, RemovedGraphTakesItsArcsAtEitherEnd)
{
    const OVwObjectId g = rootGraph("G");
    graphIn("G", "gone");
    graphIn("G", "k1");
    graphIn("G", "k2");
    const OVwObjectId fromGone = arc("G", 4, text(kProto), "gone", text(kProto), "k1", 1);
    const OVwObjectId toGone = arc("G", 4, text(kProto), "k2", text(kProto), "gone", 2);
    const OVwObjectId kept = arc("G", 4, text(kProto), "k1", text(kProto), "k2", 3);
    ASSERT_TRUE(fromGone && toGone && kept);
    keepGraph(kProto, "k1");
    keepGraph(kProto, "k2");
    reconcileGraphContents(ref("G"));
    EXPECT_EQ(indexEntries(g, TQOT_KIND_ARC, fromGone), 0u);
    EXPECT_EQ(indexEntries(g, TQOT_KIND_ARC, toGone), 0u);
    EXPECT_EQ(indexEntries(g, TQOT_KIND_ARC, kept), 1u);
    EXPECT_EQ(connections(kept), 1);
}

TEST_F(ReconcileTest, MemberGraphNeedsBothNameAndProtocol)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId same = graphIn("G", "m1");
    const OVwObjectId other = graphIn("G", "m2", "IP");
    keepGraph(kProto, "m1");
    keepGraph(kProto, "m2");   // m2 is an IP graph
    keepGraph("IP", "M1");     // names compare case-sensitively
    reconcileGraphContents(ref("G"));
    EXPECT_TRUE(shownIn(same, g));
    EXPECT_FALSE(shownIn(other, g));
}

TEST_F(ReconcileTest, VertexProtocolTextsCompareAsDecimalNumbers)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId leadingZeros = vertexIn("G", "v1", 1);
    const OVwObjectId exact = vertexIn("G", "v2", 99);
    const OVwObjectId spaced = vertexIn("G", "v3", 1);
    const OVwObjectId signed1 = vertexIn("G", "v4", 1);
    const OVwObjectId wrongNumber = vertexIn("G", "v5", 2);
    const OVwObjectId empty = vertexIn("G", "v6", 1);
    keepVertex("001", "v1");
    keepVertex("99", "v2");
    keepVertex(" 1", "v3");
    keepVertex("+1", "v4");
    keepVertex("1", "v5");
    keepVertex("", "v6");
    reconcileGraphContents(ref("G"));
    EXPECT_TRUE(shownIn(leadingZeros, g));
    EXPECT_TRUE(shownIn(exact, g));
    EXPECT_FALSE(shownIn(spaced, g));
    EXPECT_FALSE(shownIn(signed1, g));
    EXPECT_FALSE(shownIn(wrongNumber, g));
    EXPECT_FALSE(shownIn(empty, g));
}

// ---- arc deletions ---------------------------------------------------------------------------

TEST_F(ReconcileTest, ArcEndpointsHeldAsNumbersMatchThroughTheirProtocolName)
{
    const OVwObjectId g = rootGraph("G");
    graphIn("G", "m1", "IP");
    vertexIn("G", "v1", 1);
    vertexIn("G", "v2", 1);
    const OVwObjectId toM1 = arc("G", 7, number(56), "m1", number(1), "v1", 1);
    const OVwObjectId other = arc("G", 7, number(1), "v1", number(1), "v2", 2);
    ASSERT_TRUE(toM1 && other);

    deleteArcsTouchingGraph(kProto, "G", kProto, "m1");   // the right name under another protocol
    EXPECT_EQ(indexEntries(g, TQOT_KIND_ARC, toM1), 1u);
    deleteArcsTouchingGraph(kProto, "G", "IP", "m1");
    EXPECT_EQ(indexEntries(g, TQOT_KIND_ARC, toM1), 0u);
    EXPECT_EQ(connections(toM1), 0);
    EXPECT_EQ(indexEntries(g, TQOT_KIND_ARC, other), 1u);
    EXPECT_EQ(connections(other), 1);
}

TEST_F(ReconcileTest, ArcWhoseNameCannotBeReadMatchesNothing)
{
    const OVwObjectId g = rootGraph("G");
    graphIn("G", "m1");
    vertexIn("G", "v1");
    const OVwObjectId real = arc("G", 5, text(kProto), "m1", number(1), "v1", 1);
    // another program's object listed among the graph's arcs
    const OVwObjectId junk = OVwDbCreateObjectBySelectionName("not-an-arc");
    ASSERT_TRUE(real && junk);
    TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(g, TQOT_KIND_ARC), junk);

    deleteArcsTouchingGraph(kProto, "G", kProto, "m1");
    EXPECT_EQ(indexEntries(g, TQOT_KIND_ARC, real), 0u);
    EXPECT_EQ(indexEntries(g, TQOT_KIND_ARC, junk), 1u);
}

TEST_F(ReconcileTest, DeleteGraphArcsRemovesEveryArcOfTheGraphOnly)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId h = rootGraph("H");
    graphIn("G", "m1");
    vertexIn("G", "v1");
    vertexIn("G", "v2");
    vertexIn("H", "v1");
    vertexIn("H", "v2");
    const OVwObjectId a1 = arc("G", 5, text(kProto), "m1", number(1), "v1", 1);
    const OVwObjectId a2 = arc("G", 7, number(1), "v1", number(1), "v2", 2);
    const OVwObjectId inH = arc("H", 7, number(1), "v1", number(1), "v2", 3);
    ASSERT_TRUE(a1 && a2 && inH);

    deleteGraphArcs(kProto, "G");
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(g, TQOT_KIND_ARC)), 0u);
    EXPECT_EQ(connections(a1), 0);
    EXPECT_EQ(connections(a2), 0);
    EXPECT_EQ(indexEntries(h, TQOT_KIND_ARC, inH), 1u);
    EXPECT_EQ(connections(inH), 1);
}

// ---- removeParentName ------------------------------------------------------------------------

TEST_F(ReconcileTest, RemoveParentNameDropsEveryOccurrenceAndKeepsTheOrder)
{
    rootGraph("G");
    const OVwObjectId v = taggedVertex("G", "v1");
    setParents(v, {"A", "G", "B", "G", "C"});
    removeParentName("G", "v1");
    EXPECT_EQ(parents(v), (std::vector<std::string>{"A", "B", "C"}));
    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "fieldId for TQObjectName is "));
    EXPECT_TRUE(contains(trace, "field Value for TQObjectName is v1\n"));
    EXPECT_TRUE(contains(trace, "Free moid string field value\n"));
    EXPECT_TRUE(contains(trace, "parent name list != null\n"));
    EXPECT_TRUE(contains(trace, "is list\n"));
    EXPECT_TRUE(contains(trace, "name in the list: A, pname: G\n"));
    EXPECT_EQ(count(trace, "Removeing parent G\n"), 2);
    EXPECT_EQ(count(trace, "Copying parent: "), 3);
}

TEST_F(ReconcileTest, ListWithoutTheNameIsLeftUnchanged)
{
    rootGraph("G");
    const OVwObjectId v = taggedVertex("G", "v1");
    setParents(v, {"A", "B", "C"});   // every name is copied: the new list needs room for all
    mapdb::journalClear();
    mapdb::journalEnable(true);
    removeParentName("G", "v1");
    mapdb::journalEnable(false);
    EXPECT_EQ(parents(v), (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_EQ(journalPos("OVwDbSetFieldValue"), std::string::npos);
    EXPECT_TRUE(
        contains(daemonTrace(), "*******Tqdaemon Error: deleting parent from list, no parent need to be delete\n"));
}

TEST_F(ReconcileTest, ParentListNeedsAVertexFoundByNameWithAMoidString)
{
    rootGraph("G");
    const OVwObjectId noMoid = vertexIn("G", "v1");
    setString(noMoid, "TQObjectName", "v1");
    setParents(noMoid, {"G"});
    const OVwObjectId noName = vertexIn("G", "v2");
    setString(noName, "MoidString", "v2");
    setParents(noName, {"G"});

    removeParentName("G", "v1");
    removeParentName("G", "v2");
    removeParentName("G", "unknown");
    EXPECT_EQ(parents(noMoid), std::vector<std::string>{"G"});
    EXPECT_EQ(parents(noName), std::vector<std::string>{"G"});
}

TEST_F(ReconcileTest, FailedParentListWriteIsTraced)
{
    rootGraph("G");
    const OVwObjectId v = taggedVertex("G", "v1");
    setParents(v, {"G", "A"});
    mapdb::failNext("OVwDbSetFieldValue", OVw_STORAGE_FAILURE);
    removeParentName("G", "v1");
    EXPECT_EQ(parents(v), (std::vector<std::string>{"G", "A"}));
    EXPECT_TRUE(contains(daemonTrace(), std::string("*****Tqdaemon Error: failed to set value to field: "
                                                    "ParentNameList with reason: ") +
                                            OVwErrorMsg(OVw_STORAGE_FAILURE)));
}

TEST_F(ReconcileTest, NoTraceLinesWhileTheDebugFlagIsOff)
{
    rootGraph("G");
    const OVwObjectId v = taggedVertex("G", "v1");
    setParents(v, {"G"});
    tqDebug = 0;
    removeParentName("G", "v1");
    reconcileGraphContents(ref("G"));
    tqDebug = 1;
    EXPECT_EQ(parents(v), std::vector<std::string>{});
    EXPECT_EQ(daemonTrace(), "");
}

}  // namespace
