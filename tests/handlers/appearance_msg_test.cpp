// Icon and label changes: by UniqueName on vertices and graphs, and the graph
// update message on a root graph.
#include "msg_fixture.h"

using namespace tqmsg;

namespace {

class AppearanceMsgTest : public MsgFixture {
protected:
    void SetUp() override
    {
        MsgFixture::SetUp();
        root_.writeOidToSym("icon.old:Old:Type\nicon.new:New:Type\n");
        resetNamingTables();
        ASSERT_NE(rootGraph("SAN"), 0);
    }
    void changeIcon(const char *uniqueId, const char *icon)
    {
        Payload p;
        p.str(uniqueId).str(icon);
        processChangeIconMsg(p.data(), p.size());
    }
    void changeLabel(const char *uniqueId, const char *label)
    {
        Payload p;
        p.str(uniqueId).str(label);
        processChangeLabelMsg(p.data(), p.size());
    }
    void graphUpdate(const char *protocol, const char *name, const char *icon, const char *label)
    {
        Payload p;
        p.str(protocol).str(name).str(icon).str(label);
        processGraphUpdateMsg(p.data(), p.size());
    }
    // A vertex and a graph that share one UniqueName, each under its own TQObjectName.
    void sharedPair()
    {
        vertex = vertexIn("SAN", "h1");
        graph = graphIn("SAN", "G2");
        ASSERT_NE(vertex, 0);
        ASSERT_NE(graph, 0);
        for (OVwObjectId id : {vertex, graph})
            setString(id, "UniqueName", "dev");
        setString(vertex, "TQObjectName", "h1");
        setString(graph, "TQObjectName", "G2");
    }
    std::vector<std::string> types(OVwObjectId id) const
    {
        std::vector<std::string> out;
        for (const Sym &s : symbolsOf(id))
            out.push_back(s.type);
        return out;
    }

    OVwObjectId vertex = 0;
    OVwObjectId graph = 0;
};

TEST_F(AppearanceMsgTest, ChangeIconReachesVertexAndGraphSharingAUniqueName)
{
    sharedPair();
    testing::internal::CaptureStdout();
    changeIcon("dev", "icon.new");
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(types(vertex), std::vector<std::string>{"New:Type"});
    ASSERT_FALSE(types(graph).empty());
    for (const std::string &t : types(graph))
        EXPECT_EQ(t, "New:Type");
    EXPECT_EQ(out, "icon for vertex is changed\n");
    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "setting icon for a vertex.\n"));
    EXPECT_TRUE(contains(trace, "setting icon for a graph. \n"));
    EXPECT_TRUE(contains(trace, "icon for graph is changed\n"));
    EXPECT_EQ(count(trace, "objNameFieldValue free\n"), 2);
    // The vertex under protocol 1, the graph under the graph protocol name.
    EXPECT_EQ(adapterCalls("tqotChangeVertexIconInGraph"), 1);
    EXPECT_EQ(adapterCalls("tqotChangeGraphIconInGraph"), 2);
}

TEST_F(AppearanceMsgTest, ChangeLabelReachesVertexAndGraphSharingAUniqueName)
{
    sharedPair();
    testing::internal::CaptureStdout();
    changeLabel("dev", "New label");
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(onlyLabel(vertex), "New label");
    for (const Sym &s : symbolsOf(graph))
        EXPECT_EQ(s.label, "New label");
    EXPECT_EQ(out, "");   // the label message writes only to the trace
    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "label = New label\n"));
    EXPECT_TRUE(contains(trace, "label for vertex is changed\n"));
    EXPECT_TRUE(contains(trace, "label for graph is changed\n"));
}

TEST_F(AppearanceMsgTest, ObjectWithoutObjectNameIsReportedAndSkipped)
{
    const OVwObjectId first = vertexIn("SAN", "h1");
    const OVwObjectId second = vertexIn("SAN", "h2");
    ASSERT_LT(first, second);
    setString(first, "UniqueName", "dev");
    setString(second, "UniqueName", "dev");
    setString(second, "TQObjectName", "h2");

    changeLabel("dev", "renamed");
    EXPECT_EQ(onlyLabel(first), "h1");
    EXPECT_EQ(onlyLabel(second), "renamed");
    const std::string trace = daemonTrace();
    EXPECT_EQ(count(trace, "*******Tqdaemon error: no value found for dev in object name field\n"), 1);
    EXPECT_LT(tracePos("no value found"), tracePos("label for vertex is changed"));
    EXPECT_EQ(count(trace, "objNameFieldValue free\n"), 1);
}

TEST_F(AppearanceMsgTest, BothFlagsSetChangesAsVertexOnly)
{
    const OVwObjectId v = vertexIn("SAN", "h1");
    setString(v, "UniqueName", "dev");
    setString(v, "TQObjectName", "h1");
    ASSERT_EQ(OVwDbSetFieldBooleanValue(v, OVwDbFieldNameToFieldId("isGraph"), 1), 0);

    changeLabel("dev", "both");
    EXPECT_EQ(onlyLabel(v), "both");
    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "setting label for a vertex.\n"));
    EXPECT_TRUE(contains(trace, "setting label for a graph. \n"));
    EXPECT_TRUE(contains(trace, "label for vertex is changed\n"));
    EXPECT_FALSE(contains(trace, "label for graph is changed"));
    EXPECT_EQ(adapterCalls("tqotChangeVertexLabelInGraph"), 1);
}

TEST_F(AppearanceMsgTest, FailedFlagReadCountsAsFalse)
{
    const OVwObjectId v = vertexIn("SAN", "h1");
    setString(v, "UniqueName", "dev");
    setString(v, "TQObjectName", "h1");
    mapdb::failNext("OVwDbGetFieldBooleanValue", OVw_NO_SUCH_FIELD);   // isVertex

    changeLabel("dev", "unchanged?");
    EXPECT_EQ(onlyLabel(v), "h1");
    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "no such field isVertex \n"));
    EXPECT_FALSE(contains(trace, "setting label"));
    EXPECT_TRUE(contains(trace, "objNameFieldValue free\n"));
    EXPECT_EQ(adapterCalls("tqotChangeVertexLabelInGraph") + adapterCalls("tqotChangeGraphLabelInGraph"), 0);
}

TEST_F(AppearanceMsgTest, FailuresGoToConsoleForIconsAndTraceForLabels)
{
    // The object's name points at no vertex on the map.
    const OVwObjectId v = vertexIn("SAN", "h1");
    setString(v, "UniqueName", "dev");
    setString(v, "TQObjectName", "ghost");

    testing::internal::CaptureStdout();
    changeIcon("dev", "icon.new");
    changeLabel("dev", "x");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "********Tqdaemon error: failed to change icon for ghost\n");
    EXPECT_TRUE(contains(daemonTrace(), "********Tqdaemon error: failed to change label for ghost\n"));
}

TEST_F(AppearanceMsgTest, AbsentTextsDropSilentlyAndUnknownIdentifiersChangeNothing)
{
    sharedPair();
    changeIcon(nullptr, "icon.new");
    changeIcon("dev", nullptr);
    changeLabel("NULL", "x");
    EXPECT_FALSE(contains(daemonTrace(), "fieldId for UniqueName"));
    changeLabel("nobody", "x");
    EXPECT_TRUE(contains(daemonTrace(), "field Value for unique name is nobody\n\n"));
    EXPECT_EQ(onlyLabel(vertex), "h1");
    EXPECT_EQ(types(vertex), std::vector<std::string>{""});
    EXPECT_EQ(adapterCalls("tqotChangeVertexLabelInGraph") + adapterCalls("tqotChangeVertexIconInGraph"), 0);
}

TEST_F(AppearanceMsgTest, GraphUpdateChangesRootGraphIconAndLabel)
{
    const OVwObjectId san = objectId(sel(kGraphProto, "SAN"));
    ASSERT_NE(san, 0);
    graphUpdate(kGraphProto, "SAN", "icon.new", "Storage");
    EXPECT_EQ(onlyLabel(san), "Storage");
    EXPECT_EQ(types(san), std::vector<std::string>{"New:Type"});
    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "graphToUpdate.graph_icon = icon.new\n"));
    EXPECT_TRUE(contains(trace, "This is what we received\n"));
    EXPECT_TRUE(contains(trace, "Graph icon for SAN updated successfully \n"));
    EXPECT_TRUE(contains(trace, "Graph lable for SAN updated successfully \n"));
}

TEST_F(AppearanceMsgTest, GraphUpdateChangesLabelAfterAFailedIconChange)
{
    const OVwObjectId san = objectId(sel(kGraphProto, "SAN"));
    mapdb::failNext("OVwSetSymbolType", OVw_STORAGE_FAILURE);
    graphUpdate(kGraphProto, "SAN", "icon.new", "Still labelled");
    EXPECT_EQ(onlyLabel(san), "Still labelled");
    EXPECT_NE(types(san), std::vector<std::string>{"New:Type"});
    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "An error occured in updating icon for SAN with error code tqot2ov error\n"));
    EXPECT_TRUE(contains(trace, "Graph lable for SAN updated successfully \n"));

    graphUpdate(kGraphProto, "NOSUCH", "icon.new", "x");
    EXPECT_TRUE(contains(daemonTrace(), "An error occured in updating label for NOSUCH with error code tqot2ov error\n"));
}

// A change that would change nothing is refused with its reason, and a key
// oid_to_sym lacks never strips a symbol type.
TEST_F(AppearanceMsgTest, NoOpsAndUnknownIconKeysAreRefusedAndChangeNothing)
{
    sharedPair();
    changeIcon("dev", "icon.old");
    ASSERT_EQ(types(vertex), std::vector<std::string>{"Old:Type"});
    const OVwObjectId plain = OVwDbCreateObjectBySelectionName("plain;thing;default");
    setString(plain, "UniqueName", "plain");

    EXPECT_EQ(outcomeOf([&] { changeIcon("dev", "no.such.key"); }), "refused: unknown icon key 'no.such.key'");
    EXPECT_EQ(outcomeOf([&] { changeLabel("nobody", "x"); }), "refused: no object has this unique id");
    EXPECT_EQ(outcomeOf([&] { changeIcon("nobody", "icon.new"); }), "refused: no object has this unique id");
    EXPECT_EQ(outcomeOf([&] { changeLabel("plain", "x"); }),
              "refused: no vertex or graph with a name has this unique id");
    EXPECT_EQ(types(vertex), std::vector<std::string>{"Old:Type"});
    EXPECT_EQ(types(graph), std::vector<std::string>{"Old:Type"});
    EXPECT_EQ(outcomeOf([&] { changeLabel("dev", "y"); }), "applied");
    EXPECT_EQ(onlyLabel(vertex), "y");
}

// The graph update keeps an icon or label it leaves absent, refuses a key
// oid_to_sym lacks, and names an update of a graph that is not on the root
// submap (or of none) instead of counting it applied.
TEST_F(AppearanceMsgTest, GraphUpdateChangesOnlyWhatItNames)
{
    const OVwObjectId san = objectId(sel(kGraphProto, "SAN"));
    const OVwObjectId inner = graphIn("SAN", "Inner");
    graphUpdate(kGraphProto, "SAN", "icon.old", "Storage");
    const struct {
        const char *name;
        const char *icon;
        const char *label;
        const char *outcome;
        const char *type;    // SAN's afterwards
        const char *shown;   // SAN's label afterwards
    } cases[] = {
        {"SAN", nullptr, "Relabelled", "applied", "Old:Type", "Relabelled"},
        {"SAN", "icon.new", nullptr, "applied", "New:Type", "Relabelled"},
        {"SAN", "no.such.key", "x", "refused: unknown icon key 'no.such.key'", "New:Type", "Relabelled"},
        {"SAN", nullptr, nullptr, "refused: the icon and the label are absent", "New:Type", "Relabelled"},
        {"Inner", "icon.old", "x", "refused: the graph is not on the root submap", "New:Type", "Relabelled"},
        {"NOSUCH", nullptr, "x", "refused: no graph has this name", "New:Type", "Relabelled"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.outcome);
        const std::string outcome = outcomeOf([&] { graphUpdate(kGraphProto, c.name, c.icon, c.label); });
        EXPECT_EQ(outcome, c.outcome);
        EXPECT_EQ(types(san), std::vector<std::string>{c.type});
        EXPECT_EQ(onlyLabel(san), c.shown);
    }
    EXPECT_EQ(onlyLabel(inner), "Inner");
}

}  // namespace
