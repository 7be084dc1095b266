// Graph, content-ID and continuation messages against an in-memory map.
#include "content_fixture.h"
#include "handlers/split_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace tqcontent;

namespace {

class GraphMsgTest : public ContentFixture {};

// ---- graph messages ------------------------------------------------------------------

TEST_F(GraphMsgTest, RootGraphGetsSubmapSymbolAndThreeFields)
{
    GraphFields f;
    f.layout = "4";
    f.label = "Label G";
    sendGraph(graphMessage(f, {}, 1));

    const OVwObjectId g = graphId("G");
    ASSERT_NE(g, 0);
    const OVwSubmapId child = childSubmap(g);
    ASSERT_NE(child, 0);
    EXPECT_EQ(symbolsOn(g, rootSubmap()), 1);
    EXPECT_EQ(onlyLabel(g), "Label G");
    OVwSubmapInfo *info = OVwGetSubmapInfo(TopologyAdapterPeer::mapHandle(*ad), child);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->layout, OVwStarLayout);   // layout number 4
    OVwFreeSubmapInfo(info);

    EXPECT_EQ(stringField(g, "MoidString"), "moid-g");
    EXPECT_EQ(stringField(g, "UniqueName"), "uid-g");
    EXPECT_EQ(stringField(g, "TQObjectName"), "G");
    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "Created graph (obj name:'G', objId:" + std::to_string(g) + ")"));
    EXPECT_TRUE(contains(trace, ">>>>>>>>>>>>>>>>>>>  The name of the Object being created is G\nobjId is " +
                                    std::to_string(g)));
    // the pending state is left holding this message's fields, and no records
    EXPECT_GT(pendingGraphFields().length, 0);
    EXPECT_TRUE(contentIdLists().empty());
}

TEST_F(GraphMsgTest, RootGraphSentAgainChangesIconAndLabelAndRewritesFields)
{
    root_.writeOidToSym("1.1:Cls:One\n1.2:Cls:Two\n");
    resetNamingTables();
    GraphFields f;
    f.icon = "1.1";
    f.label = "first";
    f.uniqueId = "uid-1";
    sendGraph(graphMessage(f, {}, 1));
    const OVwObjectId g = graphId("G");
    ASSERT_NE(g, 0);
    ASSERT_EQ(symbolsOf(g).size(), 1u);
    EXPECT_EQ(symbolsOf(g)[0].type, "Cls:One");

    f.icon = "1.2";
    f.label = "second";
    f.moid = "moid-2";
    f.uniqueId = "uid-2";
    sendGraph(graphMessage(f, {}, 1));
    EXPECT_EQ(graphId("G"), g);
    const std::vector<Sym> symbols = symbolsOf(g);
    ASSERT_EQ(symbols.size(), 1u);
    EXPECT_EQ(symbols[0].type, "Cls:Two");
    EXPECT_EQ(symbols[0].label, "second");
    EXPECT_EQ(stringField(g, "MoidString"), "moid-2");
    EXPECT_EQ(stringField(g, "UniqueName"), "uid-2");
    EXPECT_EQ(stringField(g, "TQObjectName"), "G");
    EXPECT_FALSE(contains(daemonTrace(), "Cannot create graph"));

    // An absent icon or label keeps the one shown.
    f.icon = nullptr;
    f.label = nullptr;
    sendGraph(graphMessage(f, {}, 1));
    EXPECT_EQ(symbolsOf(g)[0].type, "Cls:Two");
    EXPECT_EQ(symbolsOf(g)[0].label, "second");
    EXPECT_FALSE(messageRejected());

    // A key oid_to_sym lacks would strip the type: the message changes nothing.
    f.icon = "9.9";
    f.label = "third";
    f.moid = "moid-3";
    sendGraph(graphMessage(f, {}, 1));
    EXPECT_EQ(symbolsOf(g)[0].type, "Cls:Two");
    EXPECT_EQ(symbolsOf(g)[0].label, "second");
    EXPECT_EQ(stringField(g, "MoidString"), "moid-2");
    EXPECT_TRUE(contains(messageLog(), "refused: unknown icon key '9.9'"));
}

TEST_F(GraphMsgTest, MoidStringFallsBackToTheGraphName)
{
    GraphFields f;
    f.moid = nullptr;
    sendGraph(graphMessage(f, {}, 1));
    EXPECT_EQ(stringField(graphId("G"), "MoidString"), "G");

    f.name = "H";
    f.moid = "NULL";   // the absent text
    sendGraph(graphMessage(f, {}, 1));
    EXPECT_EQ(stringField(graphId("H"), "MoidString"), "H");
}

TEST_F(GraphMsgTest, LayoutOutsideOneToNineGivesNoLayout)
{
    GraphFields f;
    f.layout = "12";
    sendGraph(graphMessage(f, {}, 1));
    const OVwObjectId g = graphId("G");
    ASSERT_NE(g, 0);
    OVwSubmapInfo *info = OVwGetSubmapInfo(TopologyAdapterPeer::mapHandle(*ad), childSubmap(g));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->layout, OVwNoLayout);
    OVwFreeSubmapInfo(info);
}

TEST_F(GraphMsgTest, GraphInGraphWithSplitListIsCreatedAtTheLastPartThenReconciled)
{
    const OVwObjectId p = rootGraph("P");
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1");
    const OVwObjectId m2 = graphIn("G", "m2");
    const OVwObjectId v1 = vertexIn("G", "v1");
    const OVwObjectId v2 = vertexIn("G", "v2");
    ASSERT_TRUE(p && g && m1 && m2 && v1 && v2);

    GraphFields f;
    f.parentProtocol = kProto;
    f.parentName = "P";
    sendGraph(graphMessage(f, listPart({graphEntry(kProto, "m1")}), 3));
    EXPECT_FALSE(shownIn(g, p));
    EXPECT_EQ(recordTexts(contentIdLists().graphs), std::vector<std::string>{std::string(kProto) + "|m1"});

    sendGraphPart(continuation(listPart({vertexEntry("01", "v1")}), 3));
    EXPECT_FALSE(shownIn(g, p));
    EXPECT_TRUE(shownIn(m2, g));
    EXPECT_EQ(recordTexts(contentIdLists().vertices), std::vector<std::string>{"01|v1"});

    sendGraphPart(continuation(listPart({boxEntry("BOX", "b1")}), 1));
    EXPECT_TRUE(shownIn(g, p));
    EXPECT_EQ(stringField(g, "UniqueName"), "uid-g");
    EXPECT_TRUE(shownIn(m1, g));
    EXPECT_FALSE(shownIn(m2, g));
    EXPECT_TRUE(shownIn(v1, g));
    EXPECT_FALSE(shownIn(v2, g));
    EXPECT_TRUE(contentIdLists().empty());
}

TEST_F(GraphMsgTest, SingleMessageWithEmptyListRunsNoReconciliation)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1");
    const OVwObjectId v1 = vertexIn("G", "v1");
    sendGraph(graphMessage(GraphFields{}, {}, 1));
    EXPECT_TRUE(shownIn(m1, g));
    EXPECT_TRUE(shownIn(v1, g));
}

// A graph sent again is drawn anew: its arcs go, its members stay.
TEST_F(GraphMsgTest, GraphMessageSentAgainDeletesTheGraphsArcs)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1", "IP");
    vertexIn("G", "v1");
    vertexIn("G", "v2");
    const OVwObjectId a1 = arc("G", 7, number(56), "m1", number(1), "v1", 1);
    const OVwObjectId a2 = arc("G", 7, number(1), "v1", number(1), "v2", 2);
    ASSERT_TRUE(a1 && a2);
    ASSERT_EQ(connections(a1), 1);

    sendGraph(graphMessage(GraphFields{}, {}, 1));
    EXPECT_EQ(connections(a1), 0);
    EXPECT_EQ(connections(a2), 0);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(g, TQOT_KIND_ARC)), 0u);
    EXPECT_TRUE(shownIn(m1, g));   // members stay: no content list
}

// A graph message the daemon refuses leaves the map as it was: no arc
// deleted, no member reconciled, no field written.
TEST_F(GraphMsgTest, RefusedGraphMessageChangesNothing)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId gIn = graphIn("G", "Inner");
    const OVwObjectId v1 = vertexIn("G", "v1");
    vertexIn("G", "v2");
    vertexIn("Inner", "w1");
    vertexIn("Inner", "w2");
    const OVwObjectId a = arc("G", 7, number(1), "v1", number(1), "v2", 1);
    const OVwObjectId b = arc("Inner", 7, number(1), "w1", number(1), "w2", 1);
    ASSERT_TRUE(a && b && gIn);

    const struct {
        const char *parent;
        const char *name;
        const char *reason;
    } cases[] = {
        {"Nowhere", "G", "refused: the containing graph does not exist"},
        {"G", "Inn;er", "refused: a name contains ';'"},
        {"No;where", "Inner", "refused: a name contains ';'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.reason);
        GraphFields f;
        f.parentProtocol = kProto;
        f.parentName = c.parent;
        f.name = c.name;
        endMessage();
        beginMessage("graph");
        sendGraph(graphMessage(f, listPart({vertexEntry("1", "nobody")}), 1));
        EXPECT_TRUE(contains(messageLog(), c.reason));
        EXPECT_TRUE(messageRejected());
    }
    EXPECT_TRUE(contains(daemonTrace(), "Cannot create graph (obj name:'G'): "));
    EXPECT_EQ(connections(a), 1);
    EXPECT_EQ(connections(b), 1);
    EXPECT_EQ(indexEntries(g, TQOT_KIND_ARC, a), 1u);
    EXPECT_TRUE(shownIn(v1, g));
    EXPECT_EQ(stringField(g, "UniqueName"), std::nullopt);
    EXPECT_EQ(stringField(gIn, "UniqueName"), std::nullopt);
}

TEST_F(GraphMsgTest, FailedMoidStringWriteFailsTheMessageAndTheOtherFieldsStillWritten)
{
    mapdb::failNext("OVwDbSetFieldStringValue", OVw_STORAGE_FAILURE);
    EXPECT_EQ(outcomeOf([&] { sendGraph(graphMessage(GraphFields{}, {}, 1)); }),
              std::string("failed: field MoidString was not written: ") + OVwErrorMsg(OVw_STORAGE_FAILURE));
    const OVwObjectId g = graphId("G");
    EXPECT_TRUE(contains(daemonTrace(), std::string("******Tqdaemon Error: failed to set value to field MoidString "
                                                    "with reason: ") +
                                            OVwErrorMsg(OVw_STORAGE_FAILURE)));
    EXPECT_EQ(stringField(g, "MoidString"), std::nullopt);
    EXPECT_EQ(stringField(g, "UniqueName"), "uid-g");
    EXPECT_EQ(stringField(g, "TQObjectName"), "G");
}

TEST_F(GraphMsgTest, FailedUniqueNameWriteIsPrintedOnStandardOutput)
{
    mapdb::failNth("OVwDbSetFieldStringValue", 2, OVw_STORAGE_FAILURE);
    testing::internal::CaptureStdout();
    sendGraph(graphMessage(GraphFields{}, {}, 1));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(contains(out, std::string("*****Tqdaemon Error: failed to set value to field: UniqueName with "
                                          "reason: ") +
                                  OVwErrorMsg(OVw_STORAGE_FAILURE)));
    EXPECT_FALSE(contains(daemonTrace(), "failed to set value to field: UniqueName"));
    EXPECT_EQ(stringField(graphId("G"), "TQObjectName"), "G");
}

// ---- content-ID messages ------------------------------------------------------------------

TEST_F(GraphMsgTest, EmptyContentListRemovesEveryMemberAndTheArcsToRemovedGraphs)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1", "IP");   // an arc holds it as protocol number 56
    const OVwObjectId m2 = graphIn("G", "m2");
    const OVwObjectId v1 = vertexIn("G", "v1");
    const OVwObjectId v2 = vertexIn("G", "v2");
    const OVwObjectId a1 = arc("G", 7, number(56), "m1", number(1), "v1", 1);
    const OVwObjectId a2 = arc("G", 5, text(kProto), "m2", number(1), "v2", 2);
    ASSERT_TRUE(a1 && a2);

    sendContentId(contentIdMessage(kProto, "G", {}, 1));
    EXPECT_FALSE(shownIn(m1, g));
    EXPECT_FALSE(shownIn(m2, g));
    EXPECT_FALSE(shownIn(v1, g));
    EXPECT_FALSE(shownIn(v2, g));
    EXPECT_EQ(indexEntries(g, TQOT_KIND_ARC, a1), 0u);
    EXPECT_EQ(indexEntries(g, TQOT_KIND_ARC, a2), 0u);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(g, TQOT_KIND_GRAPH)), 0u);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(g, TQOT_KIND_VERTEX)), 0u);
}

TEST_F(GraphMsgTest, ContentListKeepsExactlyTheMembersItNames)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1", "IP");
    const OVwObjectId m2 = graphIn("G", "m2");
    const OVwObjectId m3 = graphIn("G", "m3");
    const OVwObjectId v1 = vertexIn("G", "v1", 1);
    const OVwObjectId v2 = vertexIn("G", "v2", 1);
    const OVwObjectId v3 = vertexIn("G", "v3", 2);
    const OVwObjectId keep1 = arc("G", 7, number(56), "m1", number(1), "v1", 1);      // m1 to v1
    const OVwObjectId gone1 = arc("G", 5, text(kProto), "m2", number(1), "v2", 2);    // m2 to v2
    const OVwObjectId gone2 = arc("G", 6, number(56), "m1", text(kProto), "m3", 3);   // m1 to m3
    const OVwObjectId keep2 = arc("G", 7, number(1), "v1", number(2), "v3", 4);       // v1 to v3
    ASSERT_TRUE(keep1 && gone1 && gone2 && keep2);

    sendContentId(contentIdMessage(kProto, "G",
                                   listPart({graphEntry("IP", "m1"),
                                             graphEntry("IP", "m2"),    // right name, other protocol
                                             vertexEntry("01", "v1"),   // decimal 1
                                             vertexEntry("2", "v3")}),
                                   1));
    EXPECT_TRUE(shownIn(m1, g));
    EXPECT_FALSE(shownIn(m2, g));
    EXPECT_FALSE(shownIn(m3, g));
    EXPECT_TRUE(shownIn(v1, g));
    EXPECT_FALSE(shownIn(v2, g));
    EXPECT_TRUE(shownIn(v3, g));
    EXPECT_EQ(connections(keep1), 1);
    EXPECT_EQ(connections(keep2), 1);
    EXPECT_EQ(indexEntries(g, TQOT_KIND_ARC, keep1), 1u);
    EXPECT_EQ(indexEntries(g, TQOT_KIND_ARC, gone1), 0u);
    EXPECT_EQ(indexEntries(g, TQOT_KIND_ARC, gone2), 0u);
}

TEST_F(GraphMsgTest, RemovedVerticesLoseTheGraphFromTheirParentNameList)
{
    rootGraph("G");
    const OVwObjectId v1 = taggedVertex("G", "v1");
    const OVwObjectId v2 = taggedVertex("G", "v2");
    const OVwObjectId v3 = taggedVertex("G", "v3");
    const OVwObjectId v4 = taggedVertex("G", "v4");
    setParents(v1, {"G"});
    setParents(v2, {"Other", "G"});
    setParents(v3, {"G"});
    setParents(v4, {"Other"});

    sendContentId(contentIdMessage(kProto, "G", listPart({vertexEntry("1", "v1")}), 1));
    EXPECT_EQ(parents(v1), std::vector<std::string>{"G"});   // kept vertex: untouched
    EXPECT_EQ(parents(v2), std::vector<std::string>{"Other"});
    EXPECT_EQ(parents(v3), std::vector<std::string>{});
    EXPECT_EQ(parents(v4), std::vector<std::string>{"Other"});
    const std::string trace = daemonTrace();
    EXPECT_EQ(count(trace, "*******Tqdaemon Error: deleting parent from list, no parent need to be delete"), 1);
    EXPECT_TRUE(contains(trace, "Removeing parent G"));
    EXPECT_TRUE(contains(trace, "Copying parent: Other"));
}

// A box is a member graph of its parent: a box record keeps it (and what is
// in it). A list without vertex records removes every vertex, each losing
// the graph from its ParentNameList.
TEST_F(GraphMsgTest, BoxRecordKeepsTheBoxAndRemovedVerticesLoseTheirParentName)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId box = graphIn("G", "Box1");
    const OVwObjectId inBox = vertexIn("Box1", "h9");
    const OVwObjectId v1 = taggedVertex("G", "v1");
    setParents(v1, {"G", "Other"});
    sendContentId(contentIdMessage(kProto, "G", listPart({boxEntry(kProto, "Box1")}), 1));
    EXPECT_TRUE(shownIn(box, g));
    EXPECT_TRUE(shownIn(inBox, box));
    EXPECT_FALSE(shownIn(v1, g));
    EXPECT_EQ(parents(v1), std::vector<std::string>{"Other"});

    const OVwObjectId host1 = taggedVertex("G", "host1");
    sendContentId(contentIdMessage(kProto, "G", listPart({boxEntry(kProto, "Box1"), vertexEntry("1", "host1")}), 1));
    EXPECT_TRUE(shownIn(box, g));
    EXPECT_TRUE(shownIn(inBox, box));
    EXPECT_TRUE(shownIn(host1, g));
}

// A list the daemon cannot read deletes nothing: a vertex record whose
// protocol is not a decimal number, or entries whose keywords are all unknown.
TEST_F(GraphMsgTest, UnreadableContentListIsRefusedAndDeletesNothing)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1");
    const OVwObjectId v1 = vertexIn("G", "v1");
    Bytes unknownOnly;
    unknownOnly.str("GetThingsInGraph").str("x").str("y");
    const std::vector<char> lists[] = {
        listPart({vertexEntry("1x", "v1")}),
        unknownOnly.vec(),
    };
    for (const std::vector<char> &list : lists) {
        endMessage();
        beginMessage("content id");
        sendContentId(contentIdMessage(kProto, "G", list, 1));
        EXPECT_TRUE(messageRejected());
        endMessage();
        beginMessage("graph");
        sendGraph(graphMessage(GraphFields{}, list, 1));
        EXPECT_TRUE(messageRejected());
        EXPECT_TRUE(shownIn(m1, g));
        EXPECT_TRUE(shownIn(v1, g));
    }
    EXPECT_EQ(runStats().refused, 4);
    EXPECT_TRUE(contains(messageLog(), "refused: vertex protocol '1x' is not a decimal number"));
    EXPECT_TRUE(contains(messageLog(), "refused: no entry of the content list has a known keyword"));
    // a list for a graph that does not exist would change nothing
    EXPECT_EQ(outcomeOf([&] { sendContentId(contentIdMessage(kProto, "Nowhere", listPart({}), 1)); }),
              "refused: no graph has this name");
}

TEST_F(GraphMsgTest, SplitContentListReconcilesOnlyAtTheLastPart)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1");
    const OVwObjectId m2 = graphIn("G", "m2");
    const OVwObjectId m3 = graphIn("G", "m3");

    sendContentId(contentIdMessage(kProto, "G", listPart({graphEntry(kProto, "m1")}), 3));
    sendContentPart(continuation(listPart({graphEntry(kProto, "m2")}), 3));
    EXPECT_TRUE(shownIn(m3, g));
    EXPECT_EQ(contentIdLists().graphs.size(), 2);
    sendContentPart(continuation({}, 1));
    EXPECT_TRUE(shownIn(m1, g));
    EXPECT_TRUE(shownIn(m2, g));
    EXPECT_FALSE(shownIn(m3, g));
    EXPECT_TRUE(contentIdLists().empty());
}

TEST_F(GraphMsgTest, TheStateBetweenPartsIsPutBackForAPartMadeAgain)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1");
    const OVwObjectId m2 = graphIn("G", "m2");
    const OVwObjectId m3 = graphIn("G", "m3");

    sendContentId(contentIdMessage(kProto, "G", listPart({graphEntry(kProto, "m1")}), 3));
    const std::vector<std::string> before = recordTexts(contentIdLists().graphs);
    saveContentState();
    // The last part reconciles and empties the lists; its changes are then
    // rolled back, and it is made again from the state before it.
    sendContentPart(continuation(listPart({graphEntry(kProto, "m2")}), 1));
    EXPECT_TRUE(contentIdLists().empty());
    restoreContentState();
    EXPECT_EQ(recordTexts(contentIdLists().graphs), before);
    sendContentPart(continuation(listPart({graphEntry(kProto, "m2")}), 1));
    EXPECT_TRUE(shownIn(m1, g));
    EXPECT_TRUE(shownIn(m2, g));
    EXPECT_FALSE(shownIn(m3, g));
}

TEST_F(GraphMsgTest, ContinuationWithoutAnOpenListIsDropped)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1");
    const OVwObjectId m2 = graphIn("G", "m2");

    // nothing pending at all: no graph to work on
    sendContentPart(continuation(listPart({graphEntry(kProto, "m1")}), 1));
    EXPECT_TRUE(shownIn(m2, g));
    EXPECT_TRUE(contains(daemonTrace(), "processContinueContentIDListMsg: no split content list is open, part dropped"));

    // A complete list leaves no list open: a later part is not applied to its graph.
    sendContentId(contentIdMessage(kProto, "G", listPart({graphEntry(kProto, "m1"), graphEntry(kProto, "m2")}), 1));
    EXPECT_TRUE(shownIn(m2, g));
    sendContentPart(continuation(listPart({graphEntry(kProto, "m1")}), 1));
    EXPECT_TRUE(shownIn(m1, g));
    EXPECT_TRUE(shownIn(m2, g));
}

TEST_F(GraphMsgTest, UnknownFlagOnAContinuationLeavesTheListAsItIs)
{
    sendContentId(contentIdMessage(kProto, "G", listPart({graphEntry(kProto, "m1")}), 3));
    sendContentPart(continuation(listPart({graphEntry(kProto, "m2")}), 5));
    sendGraphPart(continuation(listPart({graphEntry(kProto, "m3")}), 0));
    EXPECT_EQ(count(daemonTrace(), "Unknown msg ending flag.\n"), 2);
    EXPECT_EQ(recordTexts(contentIdLists().graphs), std::vector<std::string>{std::string(kProto) + "|m1"});
}

TEST_F(GraphMsgTest, UnknownFlagOnAFirstMessageOnlyReplacesThePendingFields)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1");
    sendContentId(contentIdMessage(kProto, "G", {}, 7));
    EXPECT_TRUE(shownIn(m1, g));
    EXPECT_EQ(pendingGraphFields().length, static_cast<int>(Bytes().str(kProto).str("G").vec().size()));
}

TEST_F(GraphMsgTest, UnknownFlagOnAFirstMessageKeepsTheRecordsCollected)
{
    sendContentId(contentIdMessage(kProto, "G", listPart({graphEntry(kProto, "m1")}), 3));
    sendContentId(contentIdMessage(kProto, "G", {}, 7));
    sendGraph(graphMessage(GraphFields{}, {}, 0));
    EXPECT_EQ(recordTexts(contentIdLists().graphs), std::vector<std::string>{std::string(kProto) + "|m1"});
}

TEST_F(GraphMsgTest, NewFirstMessageStartsAFreshList)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1");
    const OVwObjectId m2 = graphIn("G", "m2");
    sendContentId(contentIdMessage(kProto, "G", listPart({graphEntry(kProto, "m1")}), 3));
    // abandoned: the records of m1 must not leak into the next list
    sendContentId(contentIdMessage(kProto, "G", listPart({graphEntry(kProto, "m2")}), 1));
    EXPECT_FALSE(shownIn(m1, g));
    EXPECT_TRUE(shownIn(m2, g));
    EXPECT_TRUE(contains(daemonTrace(), "processContentIDMsg: discarding 1 records of an unfinished content list"));
}

// ---- refusals: nothing is cut, nothing partial reconciles ---------------------------------

TEST_F(GraphMsgTest, OversizedGraphNameOrProtocolIsRefusedNotCut)
{
    sendGraph(graphMessage(GraphFields{}, {}, 1));   // an accepted message, pending
    const PendingGraphFields before = pendingGraphFields();

    const std::string longName(500, 'n');
    GraphFields f;
    f.name = longName.c_str();
    sendGraph(graphMessage(f, {}, 1));
    EXPECT_EQ(graphId(longName.c_str()), 0);
    EXPECT_EQ(graphId(longName.substr(0, 499).c_str()), 0);
    EXPECT_TRUE(contains(daemonTrace(), "processGraphMsg: graph name of 500 characters is longer than 499"));

    const std::string longProtocol(50, 'p');
    GraphFields h;
    h.name = "H";
    h.protocol = longProtocol.c_str();
    sendGraph(graphMessage(h, {}, 1));
    EXPECT_EQ(graphId("H", longProtocol.c_str()), 0);
    EXPECT_EQ(graphId("H", longProtocol.substr(0, 49).c_str()), 0);

    ASSERT_EQ(pendingGraphFields().length, before.length);
    EXPECT_EQ(std::memcmp(pendingGraphFields().bytes, before.bytes, static_cast<size_t>(before.length)), 0);
}

TEST_F(GraphMsgTest, PendingFieldsOverTwoThousandBytesAreRefused)
{
    GraphFields f;
    f.name = "H";
    f.details = "x";
    const int base = static_cast<int>(graphFieldBytes(f).size());   // details of one character
    const std::string fits(static_cast<size_t>(2000 - base + 1), 'd');
    const std::string over(fits.size() + 1, 'd');

    f.details = fits.c_str();
    ASSERT_EQ(graphFieldBytes(f).size(), 2000u);
    sendGraph(graphMessage(f, {}, 1));
    EXPECT_NE(graphId("H"), 0);
    ASSERT_EQ(pendingGraphFields().length, 2000);
    const PendingGraphFields before = pendingGraphFields();

    GraphFields g = f;
    g.name = "J";
    g.details = over.c_str();
    sendGraph(graphMessage(g, {}, 1));
    EXPECT_EQ(graphId("J"), 0);
    EXPECT_TRUE(contains(daemonTrace(), "processGraphMsg: leading fields of 2001 bytes do not fit the 2000-byte "
                                        "pending area, message dropped"));
    EXPECT_EQ(std::memcmp(pendingGraphFields().bytes, before.bytes, 2000), 0);
}

TEST_F(GraphMsgTest, ContentEntryThatDoesNotFitDropsTheWholeMessage)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1");
    const OVwObjectId v1 = vertexIn("G", "v1");
    const std::string longName(502, 'v');
    const std::string longProtocol(50, '1');

    sendContentId(contentIdMessage(kProto, "G",
                                   listPart({graphEntry(kProto, "m1"), vertexEntry("1", longName.c_str())}), 1));
    sendContentId(contentIdMessage(kProto, "G",
                                   listPart({vertexEntry("1", "v1"), graphEntry(longProtocol.c_str(), "m1")}), 1));
    EXPECT_TRUE(shownIn(m1, g));
    EXPECT_TRUE(shownIn(v1, g));
    EXPECT_EQ(count(daemonTrace(), "processContentIDMsg: content list refused, message dropped"), 2);
    EXPECT_TRUE(contentIdLists().empty());
}

TEST_F(GraphMsgTest, AbsentIdentityKeywordOrValueDropsTheMessage)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1");

    sendContentId(contentIdMessage(nullptr, "G", {}, 1));
    sendContentId(contentIdMessage(kProto, "NULL", {}, 1));
    sendContentId(contentIdMessage(kProto, "G", listPart({{nullptr, kProto, "m2"}}), 1));
    sendContentId(contentIdMessage(kProto, "G", listPart({graphEntry(nullptr, "m2")}), 1));
    sendContentId(contentIdMessage(kProto, "G", listPart({graphEntry(kProto, nullptr)}), 1));
    EXPECT_TRUE(shownIn(m1, g));

    GraphFields f;
    f.name = nullptr;
    sendGraph(graphMessage(f, {}, 1));
    GraphFields h;
    h.protocol = nullptr;
    sendGraph(graphMessage(h, {}, 1));
    EXPECT_EQ(pendingGraphFields().length, 0);   // nothing was accepted
    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "processContentIDMsg: graph protocol is absent, message dropped"));
    EXPECT_TRUE(contains(trace, "processContentIDMsg: graph name is absent, message dropped"));
    EXPECT_TRUE(contains(trace, "BuildCTIDLinkedList: absent keyword, list refused"));
    EXPECT_TRUE(contains(trace, "BuildCTIDLinkedList: GetGraphsInGraph entry with an absent protocol"));
    EXPECT_TRUE(contains(trace, "BuildCTIDLinkedList: GetGraphsInGraph entry with an absent name"));
    EXPECT_TRUE(contains(trace, "processGraphMsg: graph name is absent, message dropped"));
    EXPECT_TRUE(contains(trace, "processGraphMsg: graph protocol is absent, message dropped"));
}

TEST_F(GraphMsgTest, ListLengthPastTheMessageOrMalformedFieldDropsIt)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1");

    // N claims more bytes than the message holds
    std::vector<char> list = listPart({graphEntry(kProto, "m2")});
    Bytes b;
    b.str(kProto).str("G").word(static_cast<int32_t>(list.size()) + 40).raw(list).byte(1);
    sendContentId(b.vec());
    // a negative N
    Bytes n;
    n.str(kProto).str("G").word(-3).byte(1);
    sendContentId(n.vec());
    // an entry whose length runs past the list part
    Bytes e;
    e.str("GetGraphsInGraph").str(kProto).word(900).str("m2");
    sendContentId(contentIdMessage(kProto, "G", e.vec(), 1));
    // a leading field whose length runs past the message, and one of length 0
    Bytes f;
    f.str(kProto).word(5000).str("G");
    sendContentId(f.vec());
    Bytes z;
    z.word(0).str("G").word(0).byte(1);
    sendContentId(z.vec());
    // a message cut before its flag
    std::vector<char> cut = contentIdMessage(kProto, "G", {}, 1);
    cut.pop_back();
    sendContentId(cut);

    EXPECT_TRUE(shownIn(m1, g));
    EXPECT_EQ(pendingGraphFields().length, 0);
    const std::string trace = daemonTrace();
    EXPECT_EQ(count(trace, "runs past the message"), 3);
    EXPECT_TRUE(contains(trace, "processContentIDMsg: field 2 is malformed"));
    EXPECT_TRUE(contains(trace, "processContentIDMsg: field 1 is malformed"));
    EXPECT_TRUE(contains(trace, "BuildCTIDLinkedList: malformed entry at byte"));
}

TEST_F(GraphMsgTest, RefusedPartDiscardsTheWholeSplitList)
{
    const OVwObjectId g = rootGraph("G");
    const OVwObjectId m1 = graphIn("G", "m1");
    const OVwObjectId m2 = graphIn("G", "m2");
    const OVwObjectId m3 = graphIn("G", "m3");

    sendContentId(contentIdMessage(kProto, "G", listPart({graphEntry(kProto, "m1")}), 3));
    Bytes bad;
    bad.str("GetGraphsInGraph").word(900);
    sendContentPart(continuation(bad.vec(), 3));
    EXPECT_TRUE(contentIdLists().empty());
    sendContentPart(continuation(listPart({graphEntry(kProto, "m2")}), 3));
    sendContentPart(continuation(listPart({graphEntry(kProto, "m2")}), 1));
    // no reconciliation ran on what was left of the list
    EXPECT_TRUE(shownIn(m1, g));
    EXPECT_TRUE(shownIn(m2, g));
    EXPECT_TRUE(shownIn(m3, g));
    EXPECT_EQ(count(daemonTrace(), "an earlier part of this content list was refused, part dropped"), 2);

    // the last part ended the refused list: later lists work again
    sendContentId(contentIdMessage(kProto, "G", listPart({graphEntry(kProto, "m1")}), 1));
    EXPECT_TRUE(shownIn(m1, g));
    EXPECT_FALSE(shownIn(m2, g));
    EXPECT_FALSE(shownIn(m3, g));
}

TEST_F(GraphMsgTest, RefusedGraphContinuationMeansTheGraphIsNotCreated)
{
    const OVwObjectId p = rootGraph("P");
    GraphFields f;
    f.parentProtocol = kProto;
    f.parentName = "P";
    sendGraph(graphMessage(f, listPart({graphEntry(kProto, "m1")}), 3));
    sendGraphPart(continuation(listPart({graphEntry(kProto, "NULL")}), 3));   // absent name
    sendGraphPart(continuation(listPart({graphEntry(kProto, "m2")}), 1));
    EXPECT_EQ(graphId("G"), 0);
    EXPECT_EQ(TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(p, TQOT_KIND_GRAPH)), 0u);

    // a refused first part: its continuations do not act on the older pending graph
    sendGraph(graphMessage(GraphFields{}, {}, 1));   // G at the root, pending
    const OVwObjectId g = graphId("G");
    const OVwObjectId m1 = graphIn("G", "m1");
    GraphFields h;
    h.name = nullptr;
    sendGraph(graphMessage(h, listPart({graphEntry(kProto, "x")}), 3));
    sendGraphPart(continuation(listPart({graphEntry(kProto, "y")}), 1));
    EXPECT_TRUE(shownIn(m1, g));
}

// ---- BuildCTIDLinkedList ------------------------------------------------------------------

TEST_F(GraphMsgTest, BuildCTIDLinkedListFillsTheThreeListsInOrder)
{
    Bytes b;
    b.raw(listPart({graphEntry("IP", "g1"), vertexEntry("56", "v1"), boxEntry("B", "b1")}));
    b.str("SomethingElse");   // an unknown keyword: the next string is read as a keyword
    b.raw(listPart({graphEntry("IPX", "g2"), vertexEntry("1", "v2")}));
    b.byte(1);
    ASSERT_TRUE(BuildCTIDLinkedList(b.vec().data(), static_cast<int>(b.vec().size())));
    const ContentIdLists &lists = contentIdLists();
    EXPECT_EQ(recordTexts(lists.graphs), (std::vector<std::string>{"IP|g1", "IPX|g2"}));
    EXPECT_EQ(recordTexts(lists.vertices), (std::vector<std::string>{"56|v1", "1|v2"}));
    EXPECT_EQ(recordTexts(lists.boxes), std::vector<std::string>{"B|b1"});
    EXPECT_EQ(lists.graphs.tail()->next, nullptr);
    EXPECT_TRUE(contains(daemonTrace(), "BuildCTIDLinkedList processedBytes: 21, tmpString: GetGraphsInGraph"));
}

TEST_F(GraphMsgTest, RecordTextsUpToTheirFieldSizesAreKeptWhole)
{
    const std::string name501(501, 'n');
    const std::string protocol49(49, 'p');
    std::vector<char> ok = continuation(listPart({graphEntry(protocol49.c_str(), name501.c_str())}), 1);
    ASSERT_TRUE(BuildCTIDLinkedList(ok.data(), static_cast<int>(ok.size())));
    ASSERT_EQ(contentIdLists().graphs.size(), 1);
    EXPECT_EQ(std::string(contentIdLists().graphs.head()->name), name501);
    EXPECT_EQ(std::string(contentIdLists().graphs.head()->protocol), protocol49);

    const std::string name502(502, 'n');
    std::vector<char> over = continuation(listPart({vertexEntry("1", name502.c_str())}), 1);
    EXPECT_FALSE(BuildCTIDLinkedList(over.data(), static_cast<int>(over.size())));
    EXPECT_EQ(contentIdLists().vertices.size(), 0);   // nothing appended for the refused entry
}

TEST(SplitListFragments, EndingFlagsNameTheFragmentOfFirstAndContinuationMessages)
{
    const struct {
        int flag;
        ListFragment first;
        ListFragment continuation;
    } rows[] = {
        {1, ListFragment::Full, ListFragment::Last},
        {3, ListFragment::First, ListFragment::Middle},
        {0, ListFragment::Unknown, ListFragment::Unknown},
        {2, ListFragment::Unknown, ListFragment::Unknown},
        {255, ListFragment::Unknown, ListFragment::Unknown},
    };
    for (const auto &row : rows) {
        EXPECT_EQ(firstFragment(row.flag), row.first) << row.flag;
        EXPECT_EQ(continuationFragment(row.flag), row.continuation) << row.flag;
    }
}

}  // namespace
