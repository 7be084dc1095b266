// Graph operations on an in-memory map: creation, icon and label changes,
// listings from the member index and removal from a container.
#include "adapter_fixture.h"

#include <cstring>
#include <string>
#include <vector>

namespace {

using tqtest::AdapterFixture;
using tqtest::AdapterFixtureMulti;
using tqtest::SymbolView;

const char kIcons[] = "g.key:Net:Graph\n"
                      "h.key:Net:Other\n";

// Graph helpers shared by both flag settings.
template <typename Base>
class GraphFixture : public Base {
protected:
    void SetUp() override
    {
        Base::SetUp();
        this->writeIcons(kIcons);
    }

    OVwObjectId root(const char *graph, const char *label = "L", const char *iconKey = "g.key")
    {
        return this->ad->tqotCreateRootGraph("IP", graph, 0, nullptr, iconKey, label, nullptr);
    }
    OVwObjectId inGraph(const char *parent, const char *graph, const char *label = "L")
    {
        return this->ad->tqotCreateGraphInGraph("IP", parent, "IP", graph, 0, nullptr, "g.key", label, nullptr);
    }
    OVwObjectId id(const char *graph) { return this->objectId(this->sel("IP", graph)); }
    std::vector<std::string> listNames(const char *graph)
    {
        std::vector<std::string> out;
        GraphList *list = this->ad->tqotGetGraphsInGraph("IP", graph);
        EXPECT_NE(list, nullptr);
        if (list == nullptr)
            return out;
        if (list->count == 0) {
            EXPECT_EQ(list->entries, nullptr);
        }
        for (int32_t i = 0; i < list->count; ++i)
            out.push_back(std::string(list->entries[i].protocol) + "|" + list->entries[i].name);
        EXPECT_EQ(this->ad->tqotFreeGraphList(list), 0);
        return out;
    }
    int synchCount() const
    {
        int n = 0;
        for (const std::string &line : tqtest::splitLines(this->adapterTrace()))
            if (line.find("synchWithMap(") != std::string::npos && line.find("): enter") != std::string::npos)
                ++n;
        return n;
    }
};

using GraphsTest = GraphFixture<AdapterFixture>;
using GraphsMultiTest = GraphFixture<AdapterFixtureMulti>;

// ---- creation --------------------------------------------------------------------

TEST_F(GraphsTest, RootGraphGetsObjectSubmapSymbolAndTypeFields)
{
    int submapsBefore = submapCount();
    OVwObjectId g = ad->tqotCreateRootGraph("IP", "net", 9, "bg.gif", "g.key", "Net", nullptr);
    ASSERT_NE(g, 0);
    EXPECT_EQ(id("net"), g);
    EXPECT_EQ(ad->tqotGetError(), 0);
    EXPECT_EQ(submapCount(), submapsBefore + 1);

    OVwSubmapId child = childSubmap(g);
    ASSERT_NE(child, 0);
    OVwSubmapInfo *info = OVwGetSubmapInfo(TopologyAdapterPeer::mapHandle(*ad), child);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->parent_object_id, g);
    EXPECT_EQ(info->submap_type, 2);
    EXPECT_EQ(info->layout, 7) << "layout number 9 is the platform's layout 7";
    EXPECT_STREQ(info->name, "IP;net;default");
    ASSERT_NE(info->background, nullptr);
    EXPECT_STREQ(info->background, "bg.gif");
    OVwFreeSubmapInfo(info);

    std::vector<SymbolView> symbols = symbolsOf(g);
    ASSERT_EQ(symbols.size(), 1u);
    EXPECT_EQ(symbols[0].submap, rootSubmap());
    EXPECT_EQ(symbols[0].type, "Net:Graph");
    EXPECT_EQ(symbols[0].label, "Net");
    EXPECT_EQ(symbols[0].status, 1);
    EXPECT_EQ(symbols[0].statusSource, 2);
    EXPECT_EQ(boolField(g, "isGraph"), 1);
    EXPECT_EQ(boolField(g, "isVertex"), 0);
}

TEST_F(GraphsTest, RootGraphTwiceUpdatesTheSymbolAndReports20Once)
{
    OVwObjectId g = root("net", "Old", "g.key");
    ASSERT_NE(g, 0);
    int submaps = submapCount();

    EXPECT_EQ(root("net", "New", "h.key"), g);
    EXPECT_EQ(submapCount(), submaps);
    std::vector<SymbolView> symbols = symbolsOf(g);
    ASSERT_EQ(symbols.size(), 1u);
    EXPECT_EQ(symbols[0].label, "New");
    EXPECT_EQ(symbols[0].type, "Net:Other");
    EXPECT_EQ(ad->tqotGetError(), 20);
    EXPECT_EQ(ad->tqotGetError(), 0);

    // Null label and icon leave the symbol as it is.
    EXPECT_EQ(root("net", nullptr, nullptr), g);
    symbols = symbolsOf(g);
    ASSERT_EQ(symbols.size(), 1u);
    EXPECT_EQ(symbols[0].label, "New");
    EXPECT_EQ(symbols[0].type, "Net:Other");
    EXPECT_EQ(ad->tqotGetError(), 20);
}

TEST_F(GraphsTest, NullIconAndLabelCreateABareSymbol)
{
    OVwObjectId g = ad->tqotCreateRootGraph("IP", "bare", 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(g, 0);
    OVwObjectId u = ad->tqotCreateRootGraph("IP", "unknownIcon", 0, nullptr, "no.such.key", "x", nullptr);
    ASSERT_NE(u, 0);
    std::vector<SymbolView> bare = symbolsOf(g);
    ASSERT_EQ(bare.size(), 1u);
    EXPECT_FALSE(bare[0].hasType);
    EXPECT_FALSE(bare[0].hasLabel);
    std::vector<SymbolView> unknown = symbolsOf(u);
    ASSERT_EQ(unknown.size(), 1u);
    EXPECT_FALSE(unknown[0].hasType);
    EXPECT_EQ(traceCount("icon not found"), 1);
}

TEST_F(GraphsTest, GraphInGraphSitsOnTheParentsSubmapAndInTheIndex)
{
    OVwObjectId a = root("A");
    OVwObjectId b = inGraph("A", "B");
    ASSERT_NE(b, 0);
    std::vector<SymbolView> symbols = symbolsOf(b);
    ASSERT_EQ(symbols.size(), 1u);
    EXPECT_EQ(symbols[0].submap, childSubmap(a));
    EXPECT_NE(childSubmap(b), 0);
    EXPECT_EQ(indexCount(a, TQOT_KIND_GRAPH, b), 1u);

    // Again with one symbol per container: updated, not repeated, nothing pending.
    int submaps = submapCount();
    EXPECT_EQ(inGraph("A", "B", "Relabelled"), b);
    symbols = symbolsOf(b);
    ASSERT_EQ(symbols.size(), 1u);
    EXPECT_EQ(symbols[0].label, "Relabelled");
    EXPECT_EQ(submapCount(), submaps);
    EXPECT_EQ(indexCount(a, TQOT_KIND_GRAPH, b), 1u) << "no second index entry";
    EXPECT_EQ(ad->tqotGetError(), 0);
}

TEST_F(GraphsTest, OneGraphInTwoParentsHasASymbolInEach)
{
    OVwObjectId a = root("A");
    OVwObjectId c = root("C");
    OVwObjectId b = inGraph("A", "B");
    int submaps = submapCount();
    EXPECT_EQ(inGraph("C", "B"), b);
    EXPECT_EQ(submapCount(), submaps) << "the graph keeps its one submap";
    EXPECT_EQ(symbolsOf(b, childSubmap(a)).size(), 1u);
    EXPECT_EQ(symbolsOf(b, childSubmap(c)).size(), 1u);
    EXPECT_EQ(indexCount(c, TQOT_KIND_GRAPH, b), 1u);
}

TEST_F(GraphsMultiTest, ExistingGraphInGraphGetsAnotherSymbolAndNoSubmap)
{
    OVwObjectId a = root("A");
    OVwObjectId b = inGraph("A", "B");
    ASSERT_NE(b, 0);
    int submaps = submapCount();
    EXPECT_EQ(inGraph("A", "B"), b);
    EXPECT_EQ(symbolsOf(b, childSubmap(a)).size(), 2u);
    EXPECT_EQ(submapCount(), submaps);
    EXPECT_EQ(indexCount(a, TQOT_KIND_GRAPH, b), 2u);
}

TEST_F(GraphsTest, UnknownParentCreatesNothing)
{
    int submaps = submapCount();
    EXPECT_EQ(inGraph("nowhere", "B"), 0);
    EXPECT_EQ(id("B"), 0);
    EXPECT_EQ(submapCount(), submaps);
    EXPECT_TRUE(TopologyAdapterPeer::memberIndex(*ad).empty());
    EXPECT_GE(traceCount("OV error"), 1);
}

TEST_F(GraphsTest, FailedSubmapDeletesOnlyAnObjectThisCallCreated)
{
    mapdb::failNext("OVwCreateSubmap", OVw_STORAGE_FAILURE);
    EXPECT_EQ(root("fresh"), 0);
    EXPECT_EQ(id("fresh"), 0) << "the object made by the call is gone";

    // An object that existed before, with a field value and no symbol.
    OVwObjectId old = OVwDbCreateObjectBySelectionName(sel("IP", "old").c_str());
    ASSERT_NE(old, 0);
    OVwFieldId nameField = OVwDbFieldNameToFieldId("Name");
    ASSERT_NE(nameField, 0);
    ASSERT_EQ(OVwDbSetFieldStringValue(old, nameField, "keep me"), 0);
    mapdb::failNext("OVwCreateSubmap", OVw_STORAGE_FAILURE);
    EXPECT_EQ(root("old"), 0);
    EXPECT_EQ(id("old"), old) << "an object that existed before stays";
    OVwFieldValue *v = OVwDbGetFieldValue(old, nameField);
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v->un.string_val, "keep me");
    OVwDbFreeFieldValue(v);
    EXPECT_EQ(traceCount("Object exists, but does not have any symbols."), 1);

    // Without the fault the same object becomes a graph.
    EXPECT_EQ(root("old"), old);
    EXPECT_EQ(symbolsOf(old, rootSubmap()).size(), 1u);
}

TEST_F(GraphsTest, FailedSymbolLeavesObjectAndSubmap)
{
    mapdb::failNext("OVwCreateSymbol", OVw_STORAGE_FAILURE);
    EXPECT_EQ(root("g"), 0);
    OVwObjectId g = id("g");
    ASSERT_NE(g, 0);
    EXPECT_NE(childSubmap(g), 0);
    EXPECT_TRUE(symbolsOf(g).empty());
    // The next creation finds it without symbols and gives it its symbol.
    EXPECT_EQ(root("g"), g);
    EXPECT_EQ(symbolsOf(g).size(), 1u);
}

TEST_F(GraphsTest, FailedBackgroundDoesNotStopCreation)
{
    mapdb::failNext("OVwSetBackgroundGraphic", OVw_STORAGE_FAILURE);
    OVwObjectId g = ad->tqotCreateRootGraph("IP", "g", 0, "bg.gif", "g.key", "L", nullptr);
    ASSERT_NE(g, 0);
    EXPECT_EQ(symbolsOf(g).size(), 1u);
    EXPECT_GE(traceCount("OV error"), 1);
}

// ---- type fields ---------------------------------------------------------------------

TEST_F(GraphsTest, GetFieldIdCreatesAMissingBooleanField)
{
    EXPECT_EQ(OVwDbFieldNameToFieldId("brandNewFlag"), 0);
    OVwFieldId f = ad->getFieldId("brandNewFlag");
    ASSERT_NE(f, 0);
    EXPECT_EQ(ad->getFieldId("brandNewFlag"), f);
    OVwObjectId g = root("g");
    EXPECT_EQ(OVwDbSetFieldBooleanValue(g, f, 1), 0) << "created as a boolean field";
    EXPECT_EQ(boolField(g, "brandNewFlag"), 1);

    mapdb::failNext("OVwDbFieldNameToFieldId", OVw_STORAGE_FAILURE);
    EXPECT_EQ(ad->getFieldId("otherFlag"), 0);
    EXPECT_EQ(OVwDbFieldNameToFieldId("otherFlag"), 0) << "another error creates nothing";
}

TEST_F(GraphsTest, MissingTypeFieldsDoNotStopCreation)
{
    mapdb::failAlways("OVwDbCreateField", OVw_STORAGE_FAILURE);
    OVwObjectId g = root("g");
    mapdb::clearFaults();
    ASSERT_NE(g, 0);
    EXPECT_EQ(symbolsOf(g).size(), 1u);
    EXPECT_EQ(traceCount("Field does not exist."), 1);
    EXPECT_EQ(boolField(g, "isGraph"), -1);
}

// ---- icons and labels -------------------------------------------------------------------

TEST_F(GraphsTest, RootIconAndLabelChangeTheRootSymbolOnly)
{
    OVwObjectId a = root("A");
    OVwObjectId b = inGraph("A", "B");
    EXPECT_EQ(ad->tqotChangeRootGraphIcon("IP", "A", "h.key"), 0);
    EXPECT_EQ(ad->tqotChangeRootGraphLabel("IP", "A", "Renamed"), 0);
    std::vector<SymbolView> sa = symbolsOf(a);
    ASSERT_EQ(sa.size(), 1u);
    EXPECT_EQ(sa[0].type, "Net:Other");
    EXPECT_EQ(sa[0].label, "Renamed");

    // B's only symbol is on A's submap: nothing to do, and the call says so.
    EXPECT_EQ(ad->tqotChangeRootGraphIcon("IP", "B", "h.key"), TQOT_ERR_NOT_SHOWN);
    EXPECT_EQ(ad->tqotChangeRootGraphLabel("IP", "B", "X"), TQOT_ERR_NOT_SHOWN);
    std::vector<SymbolView> sb = symbolsOf(b);
    ASSERT_EQ(sb.size(), 1u);
    EXPECT_EQ(sb[0].type, "Net:Graph");
    EXPECT_EQ(sb[0].label, "L");

    EXPECT_EQ(ad->tqotChangeRootGraphIcon("IP", "nope", "h.key"), TQOT_ERR_NO_SUCH_OBJECT);
    EXPECT_EQ(ad->tqotChangeRootGraphLabel("IP", "nope", "x"), TQOT_ERR_NO_SUCH_OBJECT);

    // An unknown icon key clears the symbol type.
    EXPECT_EQ(ad->tqotChangeRootGraphIcon("IP", "A", "no.such.key"), 0);
    EXPECT_FALSE(symbolsOf(a)[0].hasType);
}

TEST_F(GraphsTest, InGraphFormsChangeEverySymbolAndGoOnAfterAFailure)
{
    root("A");
    root("C");
    OVwObjectId b = inGraph("A", "B");
    inGraph("C", "B");
    ASSERT_EQ(symbolsOf(b).size(), 2u);

    EXPECT_EQ(ad->tqotChangeGraphLabelInGraph("IP", "B", "Both"), 0);
    EXPECT_EQ(ad->tqotChangeGraphIconInGraph("IP", "B", "h.key"), 0);
    for (const SymbolView &s : symbolsOf(b)) {
        EXPECT_EQ(s.label, "Both");
        EXPECT_EQ(s.type, "Net:Other");
    }

    mapdb::failNth("OVwSetSymbolLabel", 1, OVw_STORAGE_FAILURE);
    EXPECT_EQ(ad->tqotChangeGraphLabelInGraph("IP", "B", "Second"), -1);
    int changed = 0;
    for (const SymbolView &s : symbolsOf(b))
        changed += s.label == "Second" ? 1 : 0;
    EXPECT_EQ(changed, 1) << "the second symbol still changes";

    EXPECT_EQ(ad->tqotChangeGraphIconInGraph("IP", "nope", "h.key"), TQOT_ERR_NO_SUCH_OBJECT);
}

TEST_F(GraphsTest, ChangesOfAnObjectWithoutSymbolsChangeNothingAndSetterFailuresFail)
{
    ASSERT_NE(OVwDbCreateObjectBySelectionName(sel("IP", "bare").c_str()), 0);
    EXPECT_EQ(ad->tqotChangeRootGraphIcon("IP", "bare", "g.key"), TQOT_ERR_NOT_SHOWN);
    EXPECT_EQ(ad->tqotChangeGraphLabelInGraph("IP", "bare", "x"), TQOT_ERR_NOT_SHOWN);

    root("A");
    mapdb::failNext("OVwSetSymbolType", OVw_STORAGE_FAILURE);
    EXPECT_EQ(ad->tqotChangeRootGraphIcon("IP", "A", "h.key"), -1);
}

TEST_F(GraphsTest, FailedUpdateOfAnExistingRootGraphStillReturnsIt)
{
    OVwObjectId g = root("g");
    mapdb::failNext("OVwSetSymbolLabel", OVw_STORAGE_FAILURE);
    EXPECT_EQ(root("g", "New"), g);
    EXPECT_EQ(traceCount("Could not set label."), 1);
    EXPECT_EQ(ad->tqotGetError(), 20);
}

// ---- listings -------------------------------------------------------------------------------

TEST_F(GraphsTest, ListingGivesTheGraphsOfAGraphInIndexOrder)
{
    root("A");
    inGraph("A", "B");
    inGraph("A", "C");
    inGraph("B", "D");
    EXPECT_EQ(listNames("A"), (std::vector<std::string>{"IP|B", "IP|C"}));
    EXPECT_EQ(listNames("B"), std::vector<std::string>{"IP|D"});
    EXPECT_TRUE(listNames("C").empty());
    EXPECT_TRUE(listNames("unknown").empty());
    EXPECT_EQ(ad->tqotFreeGraphList(nullptr), 0);
}

TEST_F(GraphsTest, ListingRebuildsAnIndexOutOfStepAndListsTheRest)
{
    root("A");
    inGraph("A", "B");
    OVwObjectId c = inGraph("A", "C");
    inGraph("A", "D");
    ASSERT_EQ(OVwDbDeleteObject(c), 0);   // behind the adapter's back
    clearAdapterTrace();
    EXPECT_EQ(listNames("A"), (std::vector<std::string>{"IP|B", "IP|D"}));
    EXPECT_EQ(synchCount(), 1);
}

TEST_F(GraphsTest, ListingRebuildsABoundedNumberOfTimes)
{
    root("A");
    inGraph("A", "B");
    inGraph("A", "C");
    clearAdapterTrace();
    mapdb::failAlways("OVwDbObjectIdToSelectionName", OVw_STORAGE_FAILURE);
    EXPECT_TRUE(listNames("A").empty());
    mapdb::clearFaults();
    EXPECT_EQ(synchCount(), 3);
    EXPECT_EQ(traceCount("unresolved members skipped"), 1);
    EXPECT_EQ(listNames("A"), (std::vector<std::string>{"IP|B", "IP|C"}));
}

TEST_F(GraphsTest, ListingAfterTheBoundKeepsWhatResolves)
{
    root("A");
    inGraph("A", "B");
    inGraph("A", "C");
    clearAdapterTrace();
    // B's look-up fails on every pass (each pass stops at its first failure,
    // the last one goes on): calls 1 to 4 fail, C's (call 5) succeeds.
    for (int n = 1; n <= 4; ++n)
        mapdb::failNth("OVwDbObjectIdToSelectionName", n, OVw_NO_SUCH_OBJECT);
    EXPECT_EQ(listNames("A"), std::vector<std::string>{"IP|C"});
    mapdb::clearFaults();
    EXPECT_EQ(synchCount(), 3);
}

// ---- deletion ----------------------------------------------------------------------------------

TEST_F(GraphsTest, DeleteFromGraphRemovesOnlyThatContainersSymbolAndEntry)
{
    OVwObjectId a = root("A");
    OVwObjectId c = root("C");
    OVwObjectId b = inGraph("A", "B");
    inGraph("C", "B");
    OVwSubmapId bSubmap = childSubmap(b);

    EXPECT_EQ(ad->tqotDeleteGraphFromGraph("IP", "A", "IP", "B"), 0);
    EXPECT_TRUE(symbolsOf(b, childSubmap(a)).empty());
    EXPECT_EQ(symbolsOf(b, childSubmap(c)).size(), 1u);
    EXPECT_EQ(indexCount(a, TQOT_KIND_GRAPH, b), 0u);
    EXPECT_EQ(indexCount(c, TQOT_KIND_GRAPH, b), 1u);
    EXPECT_EQ(id("B"), b) << "symbols only: the object stays";
    EXPECT_EQ(childSubmap(b), bSubmap) << "and so does its submap";
}

TEST_F(GraphsTest, DeleteWithOneSymbolPerContainerStopsAtTheFirst)
{
    OVwObjectId a = root("A");
    OVwObjectId b = inGraph("A", "B");
    // A second symbol and entry in the same container, as a map edit could leave.
    ASSERT_NE(OVwCreateSymbol(TopologyAdapterPeer::mapHandle(*ad), childSubmap(a), b, nullptr, "dup", 1, 2, nullptr, 0), 0);
    TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(a, TQOT_KIND_GRAPH), b);

    EXPECT_EQ(ad->tqotDeleteGraphFromGraph("IP", "A", "IP", "B"), 0);
    EXPECT_EQ(symbolsOf(b, childSubmap(a)).size(), 1u);
    EXPECT_EQ(indexCount(a, TQOT_KIND_GRAPH, b), 1u);
}

TEST_F(GraphsMultiTest, DeleteWithoutOneSymbolPerContainerRemovesAll)
{
    OVwObjectId a = root("A");
    OVwObjectId b = inGraph("A", "B");
    inGraph("A", "B");
    inGraph("A", "other");
    ASSERT_EQ(symbolsOf(b, childSubmap(a)).size(), 2u);

    EXPECT_EQ(ad->tqotDeleteGraphFromGraph("IP", "A", "IP", "B"), 0);
    EXPECT_TRUE(symbolsOf(b, childSubmap(a)).empty());
    EXPECT_EQ(indexCount(a, TQOT_KIND_GRAPH, b), 0u);
    EXPECT_EQ(indexCount(a, TQOT_KIND_GRAPH), 1u) << "other members stay";
}

// A graph that does not resolve is never the root submap: deletions aimed at
// it are refused with TQOT_ERR_NO_CONTAINER and the root keeps its symbols.
TEST_F(GraphsTest, UnknownParentIsNoContainerNeverTheRootSubmap)
{
    OVwObjectId a = root("A");
    OVwObjectId b = root("B");
    inGraph("A", "B");
    tqotEndpointProtocol ip{};
    ip.graphProtocol = const_cast<char *>("IP");
    const int32_t results[] = {
        ad->tqotDeleteGraphFromGraph("IP", "nope", "IP", "B"),
        ad->tqotDeleteVertexFromGraph("IP", "nope", ad->unprotocol("IP"), "B"),
        ad->tqotDeleteArcFromGraph("IP", "nope", 4, ip, "A", ip, "B", 1),
    };
    for (int32_t rc : results)
        EXPECT_EQ(rc, TQOT_ERR_NO_CONTAINER);
    EXPECT_EQ(ad->tqotGetError(), TQOT_ERR_NO_CONTAINER);
    EXPECT_EQ(symbolsOf(b, rootSubmap()).size(), 1u);
    EXPECT_EQ(symbolsOf(b, childSubmap(a)).size(), 1u);

    EXPECT_EQ(ad->tqotDeleteGraph("IP", "A"), 0);
    EXPECT_TRUE(symbolsOf(a).empty());
}

TEST_F(GraphsTest, DeleteFailures)
{
    root("A");
    EXPECT_EQ(ad->tqotDeleteGraphFromGraph("IP", "A", "IP", nullptr), -1);
    EXPECT_EQ(traceCount("graphName is null"), 1);
    EXPECT_EQ(ad->tqotDeleteGraph("IP", "nope"), -1);
    EXPECT_EQ(ad->deleteGraph(987654, sel("IP", "A").c_str(), TQOT_KIND_GRAPH), -1) << "container without information";
    EXPECT_EQ(symbolsOf(id("A")).size(), 1u);

    mapdb::failNext("OVwDeleteSymbol", OVw_STORAGE_FAILURE);
    EXPECT_EQ(ad->tqotDeleteGraph("IP", "A"), 0) << "a symbol that cannot be deleted is traced";
    EXPECT_EQ(symbolsOf(id("A")).size(), 1u);
}

// ---- refused names and no open map --------------------------------------------------------------

TEST_F(GraphsTest, TooLongNameIsRefusedAndNothingIsMade)
{
    root("A");
    std::string tooLong(245, 'n');
    int submaps = submapCount();
    size_t rootSymbols = symbolsOn(rootSubmap()).size();
    EXPECT_EQ(root(tooLong.c_str()), 0);
    EXPECT_EQ(inGraph("A", tooLong.c_str()), 0);
    EXPECT_EQ(inGraph(tooLong.c_str(), "B"), 0);
    EXPECT_EQ(id("B"), 0);
    EXPECT_EQ(objectId(sel("IP", tooLong.substr(0, 244))), 0) << "not cut into a shorter name";
    EXPECT_EQ(submapCount(), submaps);
    EXPECT_EQ(symbolsOn(rootSubmap()).size(), rootSymbols);
    EXPECT_EQ(ad->tqotChangeRootGraphIcon("IP", tooLong.c_str(), "g.key"), TQOT_ERR_NO_SUCH_OBJECT);
    EXPECT_EQ(ad->tqotChangeGraphLabelInGraph("IP", tooLong.c_str(), "x"), TQOT_ERR_NO_SUCH_OBJECT);
    EXPECT_EQ(ad->tqotDeleteGraph("IP", tooLong.c_str()), -1);
    EXPECT_EQ(ad->tqotDeleteGraphFromGraph("IP", tooLong.c_str(), "IP", "A"), -1);
    EXPECT_TRUE(listNames(tooLong.c_str()).empty());
    EXPECT_EQ(traceCount("Name too long."), 8);
}

TEST_F(GraphsTest, WithoutOpenMapOperationsFailCleanly)
{
    root("A");
    OVwMapInfo *saved = TopologyAdapterPeer::mapHandle(*ad);
    TopologyAdapterPeer::mapHandle(*ad) = nullptr;
    EXPECT_EQ(root("B"), 0);
    EXPECT_EQ(inGraph("A", "B"), 0);
    EXPECT_EQ(ad->tqotChangeRootGraphLabel("IP", "A", "x"), TQOT_ERR_NO_SUCH_OBJECT);
    EXPECT_EQ(ad->changeGraphLabel("IP;A;default", "x"), -1);
    EXPECT_EQ(ad->createGraph("IP;B;default", 1, 0, nullptr, nullptr, nullptr, 1, nullptr), 0);
    EXPECT_EQ(ad->tqotDeleteGraph("IP", "A"), -1);
    EXPECT_EQ(ad->deleteGraph(0, "IP;A;default", TQOT_KIND_GRAPH), -1);
    EXPECT_TRUE(listNames("A").empty());
    TopologyAdapterPeer::mapHandle(*ad) = saved;
    EXPECT_EQ(id("B"), 0);
    EXPECT_EQ(symbolsOf(id("A")).size(), 1u);
    EXPECT_EQ(symbolsOf(id("A"))[0].label, "L");
}

}  // namespace
