// The vertex status and arc status messages: status changes on the map, the
// state text on the common-properties objects, the unknown-status and
// invalid-binding lines, and the refusals.
#include "msg_fixture.h"

using namespace tqmsg;

namespace {

class StatusMsgTest : public MsgFixture {
protected:
    void SetUp() override
    {
        MsgFixture::SetUp();
        ASSERT_NE(rootGraph("SAN"), 0);
        h1 = vertexIn("SAN", "h1");
        h2 = vertexIn("SAN", "h2");
        g2 = graphIn("SAN", "G2");
        ASSERT_NE(h1, 0);
        ASSERT_NE(h2, 0);
        ASSERT_NE(g2, 0);
    }
    void vertexStatus(const char *uniqueId, const char *vname, const char *status, const char *state)
    {
        Payload p;
        p.str(uniqueId).str(vname).str(status).str(state);
        processVertexStatusMsg(p.data(), p.size());
    }
    // A plain map object (neither vertex nor graph) with the given UniqueName.
    OVwObjectId commonObject(const std::string &selection, const char *uniqueName)
    {
        OVwObjectId id = OVwDbCreateObjectBySelectionName(selection.c_str());
        EXPECT_NE(id, 0);
        setString(id, "UniqueName", uniqueName);
        return id;
    }

    OVwObjectId h1 = 0;
    OVwObjectId h2 = 0;
    OVwObjectId g2 = 0;
};

// ---- vertex status --------------------------------------------------------------

TEST_F(StatusMsgTest, VertexStatusFollowsTheStatusTable)
{
    setString(h1, "UniqueName", "Xdev1");
    for (int s = 1; s <= 4; ++s) {
        vertexStatus("Xdev1", "h1", std::to_string(s).c_str(), "online");
        EXPECT_EQ(onlyStatus(h1), mapStatus(s)) << s;
    }
    EXPECT_EQ(onlyStatus(h2), mapStatus(3));   // untouched
    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "vertex protocol is 1\n"));
    EXPECT_TRUE(contains(trace, "vertex name is h1\n"));
    EXPECT_TRUE(contains(trace, "vertex status type is 4\n\n"));
}

TEST_F(StatusMsgTest, StateGoesToObjectsNamedByTheIdentifierLessItsFirstCharacter)
{
    setString(h1, "UniqueName", "Xdev1");
    const OVwObjectId c1 = commonObject("common;dev1;a", "dev1");
    const OVwObjectId c2 = commonObject("common;dev1;b", "dev1");

    testing::internal::CaptureStdout();
    vertexStatus("Xdev1", "h1", "1", "degraded");
    const std::string out = testing::internal::GetCapturedStdout();

    EXPECT_EQ(onlyStatus(h1), mapStatus(1));
    for (OVwObjectId c : {c1, c2}) {
        EXPECT_EQ(stringField(c, "State"), "degraded");
        EXPECT_EQ(intField(c, "isSanCommon"), 1);
    }
    // The object found by the full identifier is not the one that gets the state.
    EXPECT_EQ(stringField(h1, "State"), std::nullopt);
    EXPECT_EQ(intField(h1, "isSanCommon"), std::nullopt);
    EXPECT_TRUE(contains(out, "dev1\n"));
}

TEST_F(StatusMsgTest, GraphObjectKeepsItsStatusButStoresTheState)
{
    setString(g2, "UniqueName", "Xg2");
    const std::vector<Sym> before = symbolsOf(g2);
    const OVwObjectId c = commonObject("common;g2", "g2");
    vertexStatus("Xg2", "G2", "2", "up");
    const std::vector<Sym> after = symbolsOf(g2);
    ASSERT_EQ(before.size(), after.size());
    for (size_t i = 0; i < before.size(); ++i)
        EXPECT_EQ(before[i].status, after[i].status);
    EXPECT_EQ(stringField(c, "State"), "up");
    EXPECT_EQ(adapterCalls("tqotChangeVertexStatus"), 0);
}

TEST_F(StatusMsgTest, NeitherVertexNorGraphIsReportedWhateverTheDebugFlag)
{
    commonObject("plain;thing", "Xthing");
    const OVwObjectId c = commonObject("common;thing", "thing");
    tqDebug = 0;
    testing::internal::CaptureStderr();
    vertexStatus("Xthing", "thing", "1", "up");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Failed to change the status : the object is not a graph or a vertex.\n");
    EXPECT_TRUE(contains(messageLog(), "Failed to change the status : the object is not a graph or a vertex."));
    EXPECT_EQ(stringField(c, "State"), std::nullopt);
}

// An unknown status text is refused whole: no status and no state text change.
TEST_F(StatusMsgTest, UnknownStatusChangesNoStatusAndNoState)
{
    setString(h1, "UniqueName", "Xdev1");
    const OVwObjectId c = commonObject("common;dev1", "dev1");
    vertexStatus("Xdev1", "h1", "1", "s");
    ASSERT_EQ(onlyStatus(h1), mapStatus(1));

    tqDebug = 0;
    testing::internal::CaptureStderr();
    vertexStatus("Xdev1", "h1", "5", "t");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "");
    EXPECT_EQ(onlyStatus(h1), mapStatus(1));
    EXPECT_EQ(stringField(c, "State"), "s");
    EXPECT_EQ(count(messageLog(), ": tqdaemon.exe: Unknown tqotStatusType = 3!\n"), 1);
    EXPECT_TRUE(contains(messageLog(), "refused: unknown status '5'\n"));

    tqDebug = 1;
    testing::internal::CaptureStderr();
    vertexStatus("Xdev1", "h1", "five", "t");
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Unknown tqotStatusType = 3!\n");
    EXPECT_EQ(count(messageLog(), "Unknown tqotStatusType = 3!"), 2);
    EXPECT_EQ(onlyStatus(h1), mapStatus(1));
    EXPECT_EQ(stringField(c, "State"), "s");
}

// A status that is not set keeps the state text from being stored, and a
// message that would change nothing is named.
TEST_F(StatusMsgTest, StatusNotSetStoresNoStateAndNoOpsAreRefused)
{
    const OVwObjectId h3 = vertexIn("SAN", "h3");
    setString(h3, "UniqueName", "Xdev3");
    for (const Sym &sym : symbolsOf(h3))
        ASSERT_EQ(OVwDeleteSymbol(TopologyAdapterPeer::mapHandle(*ad), sym.id), 0);
    const OVwObjectId c3 = commonObject("common;dev3", "dev3");
    setString(h1, "UniqueName", "Xdev1");
    const OVwObjectId c1 = commonObject("common;dev1", "dev1");
    setString(g2, "UniqueName", "Xg2");   // a graph with no common-properties object

    OVwMapInfo *map = TopologyAdapterPeer::mapHandle(*ad);
    const struct {
        const char *id;
        const char *vname;
        bool mapClosed;
        const char *reason;
    } cases[] = {
        {"Xdev3", "h3", false, "refused: the object has no symbol there"},
        {"Xdev1", "h1", true, "refused: no map is open"},
        {"Xg2", "G2", false, "refused: no common-properties object has the unique id 'g2'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.id);
        endMessage();
        beginMessage("vertex status");
        if (c.mapClosed)
            TopologyAdapterPeer::mapHandle(*ad) = nullptr;
        vertexStatus(c.id, c.vname, "1", "up");
        TopologyAdapterPeer::mapHandle(*ad) = map;
        EXPECT_TRUE(messageRejected());
        EXPECT_TRUE(contains(messageLog(), c.reason));
    }
    EXPECT_EQ(runStats().refused, 3);
    EXPECT_EQ(stringField(c3, "State"), std::nullopt);
    EXPECT_EQ(stringField(c1, "State"), std::nullopt);
    EXPECT_EQ(onlyStatus(h1), mapStatus(3));
}

// A status or state write the platform refuses fails the message.
TEST_F(StatusMsgTest, FailedStatusOrStateWriteFailsTheMessage)
{
    setString(h1, "UniqueName", "Xdev1");
    commonObject("common;dev1", "dev1");
    mapdb::failNext("OVwSetStatusOnSymbol", OVw_STORAGE_FAILURE);
    const std::string status = outcomeOf([&] { vertexStatus("Xdev1", "h1", "1", "up"); });
    EXPECT_EQ(status.rfind("failed: ", 0), 0u) << status;
    mapdb::failNext("OVwDbSetFieldStringValue", OVw_STORAGE_FAILURE);
    EXPECT_EQ(outcomeOf([&] { vertexStatus("Xdev1", "h1", "1", "up"); }),
              std::string("failed: field State was not written: ") + OVwErrorMsg(OVw_STORAGE_FAILURE));
    EXPECT_EQ(runStats().failed, 2);
}

TEST_F(StatusMsgTest, UnknownIdentifierChangesNothing)
{
    const OVwObjectId c = commonObject("common;dev9", "dev9");
    vertexStatus("Xdev9", "h1", "1", "up");
    EXPECT_EQ(onlyStatus(h1), mapStatus(3));
    EXPECT_EQ(stringField(c, "State"), std::nullopt);
    // The operator learns that the status went nowhere.
    EXPECT_TRUE(contains(messageLog(), "(unique id 'Xdev9') refused: no object has this unique id\n"));
}

TEST_F(StatusMsgTest, OneCharacterIdentifierLooksUpTheEmptyText)
{
    setString(h1, "UniqueName", "X");
    const OVwObjectId c = commonObject("common;empty", "");
    vertexStatus("X", "h1", "2", "blank");
    EXPECT_EQ(onlyStatus(h1), mapStatus(2));
    EXPECT_EQ(stringField(c, "State"), "blank");
}

TEST_F(StatusMsgTest, FailedLookupAndAbsentStatusAreDropped)
{
    setString(h1, "UniqueName", "Xdev1");
    mapdb::failNext("OVwDbListObjectsByFieldValue", OVw_STORAGE_FAILURE);
    vertexStatus("Xdev1", "h1", "1", "up");
    EXPECT_EQ(onlyStatus(h1), mapStatus(3));
    // The reason is the lookup's own, not that of the field look-ups after it.
    EXPECT_TRUE(contains(messageLog(), "Vertex status message dropped: the UniqueName lookup for 'Xdev1' failed: "
                                       "map database storage failure"));

    vertexStatus("Xdev1", "h1", nullptr, "up");
    EXPECT_EQ(onlyStatus(h1), mapStatus(3));
    EXPECT_TRUE(contains(messageLog(), "Vertex status message dropped: the status is absent"));

    Payload cut;
    cut.str("Xdev1").str("h1").str("1").word(9);
    processVertexStatusMsg(cut.data(), cut.size());
    EXPECT_EQ(onlyStatus(h1), mapStatus(3));
    EXPECT_TRUE(contains(daemonTrace(), "processVertexStatusMsg: malformed field, message dropped\n"));
}

TEST_F(StatusMsgTest, AbsentStateTextLeavesStateUnwritten)
{
    setString(h1, "UniqueName", "Xdev1");
    const OVwObjectId c = commonObject("common;dev1", "dev1");
    vertexStatus("Xdev1", "h1", "4", nullptr);
    EXPECT_EQ(onlyStatus(h1), mapStatus(4));
    EXPECT_EQ(intField(c, "isSanCommon"), 1);
    EXPECT_EQ(stringField(c, "State"), std::nullopt);
}

// ---- arc status -------------------------------------------------------------------

struct ArcStatusMsg {
    const char *binding = "7";
    const char *a = "x:1";
    const char *aName = "h1";
    const char *z = "x:1";
    const char *zName = "h2";
    const char *index = "5";
    const char *status = "2";
    const char *moid = "arc-1";

    Payload payload() const
    {
        Payload p;
        p.str(binding).str(a).str(aName).str(z).str(zName).str(index).str(status).str(moid);
        return p;
    }
};

class ArcStatusMsgTest : public StatusMsgTest {
protected:
    void send(const ArcStatusMsg &msg)
    {
        Payload p = msg.payload();
        processArcStatusMsg(p.data(), p.size());
    }
    OVwObjectId vertexArc(const char *aName, const char *zName, int32_t index)
    {
        tqotEndpointProtocol a{};
        tqotEndpointProtocol z{};
        a.vertexProtocol = 1;
        z.vertexProtocol = 1;
        OVwObjectId id = ad->tqotCreateArcInGraph(kGraphProto, "SAN", 7, a, aName, z, zName, index, nullptr, "l",
                                                  nullptr, 3);
        (void)ad->tqotGetError();
        return id;
    }
};

TEST_F(ArcStatusMsgTest, StoredArcIndexOverridesTheCallersIndex)
{
    const OVwObjectId arc = vertexArc("h1", "h2", 5);
    ASSERT_NE(arc, 0);
    setString(arc, "MoidString", "arc-1");
    ASSERT_EQ(OVwDbSetFieldIntegerValue(arc, OVwDbFieldNameToFieldId("SanArcIndex"), 5), 0);

    ArcStatusMsg msg;
    msg.index = "99";   // would name no arc
    send(msg);
    EXPECT_TRUE(contains(daemonTrace(), "arcIndexId = 99\n"));
    EXPECT_EQ(onlyStatus(arc), mapStatus(2));
}

TEST_F(ArcStatusMsgTest, WithoutStoredIndexTheCallersIndexIsUsed)
{
    const OVwObjectId arc = vertexArc("h1", "h2", 6);
    ASSERT_NE(arc, 0);
    setString(arc, "MoidString", "arc-2");
    ArcStatusMsg wrong;
    wrong.moid = "arc-2";
    wrong.index = "7";
    send(wrong);
    EXPECT_EQ(onlyStatus(arc), mapStatus(3));
    ArcStatusMsg right;
    right.moid = "arc-2";
    right.index = "6";
    right.status = "4";
    send(right);
    EXPECT_EQ(onlyStatus(arc), mapStatus(4));
}

TEST_F(ArcStatusMsgTest, UnknownMoidStringChangesNothing)
{
    const OVwObjectId arc = vertexArc("h1", "h2", 5);
    ASSERT_NE(arc, 0);
    send(ArcStatusMsg{});   // no object carries "arc-1"
    EXPECT_EQ(onlyStatus(arc), mapStatus(3));
    EXPECT_EQ(adapterCalls("tqotChangeArcStatus"), 0);
    EXPECT_TRUE(contains(messageLog(), "(arc id 5 between 'h1' and 'h2') refused: no arc has the MoidString 'arc-1'\n"));
}

TEST_F(ArcStatusMsgTest, InvalidBindingIsReportedWhateverTheDebugFlagAndDropped)
{
    const OVwObjectId arc = vertexArc("h1", "h2", 5);
    setString(arc, "MoidString", "arc-1");
    tqDebug = 0;
    for (const char *b : {"9", "-1"}) {
        ArcStatusMsg msg;
        msg.binding = b;
        testing::internal::CaptureStderr();
        send(msg);
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(err, "Invalid Name Binding Type specified - " + std::string(b) + "\n");
        EXPECT_TRUE(contains(messageLog(), "Invalid Name Binding Type specified - " + std::string(b) + "\n"));
        EXPECT_TRUE(contains(messageLog(), "Arc status message dropped: name binding " + std::string(b) +
                                               " is outside 0 to 7"));
    }
    EXPECT_EQ(onlyStatus(arc), mapStatus(3));
    EXPECT_EQ(adapterCalls("tqotChangeArcStatus"), 0);
}

TEST_F(ArcStatusMsgTest, UnknownStatusChangesNoStatus)
{
    const OVwObjectId arc = vertexArc("h1", "h2", 5);
    setString(arc, "MoidString", "arc-1");
    ArcStatusMsg first;
    first.status = "1";
    send(first);
    ASSERT_EQ(onlyStatus(arc), mapStatus(1));
    ArcStatusMsg unknown;
    unknown.status = "5";
    send(unknown);
    EXPECT_EQ(onlyStatus(arc), mapStatus(1));
    EXPECT_TRUE(contains(messageLog(), "Unknown tqotStatusType = 3!"));
    EXPECT_TRUE(contains(messageLog(), "refused: unknown status '5'"));
    EXPECT_EQ(count(daemonTrace(), "arcStatus = "), 1);   // the first message's
}

TEST_F(ArcStatusMsgTest, BindingThatDisagreesWithEndpointKindsIsRefused)
{
    const OVwObjectId arc = vertexArc("h1", "h2", 5);
    setString(arc, "MoidString", "arc-1");
    const struct {
        const char *binding;
        const char *a;
        const char *z;
        const char *line;
    } cases[] = {
        {"4", "x:1", "x:1", "Arc status message refused: name binding 4 does not match endpoint kinds (vertex, vertex)"},
        {"2", "x:1", "x:1", "Arc status message refused: name binding 2 does not match endpoint kinds (vertex, vertex)"},
        {"7", "1.3.6.1.2.1.2.2.1.3.1:", "x:1",
         "Arc status message refused: name binding 7 does not match endpoint kinds (graph, vertex)"},
        {"5", "x:1", "1.3.6.1.2.1.2.2.1.3.1:",
         "Arc status message refused: name binding 5 does not match endpoint kinds (vertex, graph)"},
    };
    for (const auto &c : cases) {
        ArcStatusMsg msg;
        msg.binding = c.binding;
        msg.a = c.a;
        msg.z = c.z;
        send(msg);
        EXPECT_TRUE(contains(messageLog(), c.line)) << c.line;
        EXPECT_TRUE(contains(daemonTrace(), std::string(c.line) + "\n")) << c.line;
    }
    EXPECT_EQ(onlyStatus(arc), mapStatus(3));
    EXPECT_EQ(adapterCalls("tqotChangeArcStatus"), 0);
}

TEST_F(ArcStatusMsgTest, EndpointFormsAndLimits)
{
    // A graph endpoint by its first part, a vertex endpoint by the number after ':'.
    tqotEndpointProtocol g{};
    g.graphProtocol = const_cast<char *>(kGraphProto);
    tqotEndpointProtocol v{};
    v.vertexProtocol = 1;
    const OVwObjectId arc = ad->tqotCreateArcInGraph(kGraphProto, "SAN", 5, g, "G2", v, "h1", 2, nullptr, "l", nullptr, 3);
    ASSERT_NE(arc, 0);
    setString(arc, "MoidString", "g-arc");
    ArcStatusMsg msg;
    msg.binding = "5";
    msg.a = "1.3.6.1.2.1.2.2.1.3.1:whatever";
    msg.aName = "G2";
    msg.z = "anything:1";
    msg.zName = "h1";
    msg.index = "2";
    msg.status = "4";
    msg.moid = "g-arc";
    send(msg);
    EXPECT_EQ(onlyStatus(arc), mapStatus(4));
    EXPECT_TRUE(contains(daemonTrace(), "aEndPointProtocol = 1.3.6.1.2.1.2.2.1.3.1\n"));
    EXPECT_TRUE(contains(daemonTrace(), "zEndPointProtocol = 1\n"));

    // Limits: 79 characters in all, 51 before the ':', 11 after it.
    const std::string second11 = "x:" + std::string(10, '0') + "1";
    const std::string first52 = std::string(52, 'f') + ":1";
    const std::string second12 = "x:" + std::string(11, '0') + "1";
    const std::string whole80 = std::string(51, 'f') + ":" + std::string(28, '1');
    ArcStatusMsg fits;
    fits.z = second11.c_str();
    send(fits);
    EXPECT_TRUE(contains(daemonTrace(), "zEndPointProtocol = 1\n"));
    EXPECT_FALSE(contains(messageLog(), "dropped"));
    for (const std::string *text : {&first52, &second12, &whole80}) {
        ArcStatusMsg over;
        over.a = text->c_str();
        send(over);
        EXPECT_TRUE(contains(messageLog(), "Arc status message dropped: the a endpoint text '" + text->substr(0, 100)))
            << *text;
    }
    ArcStatusMsg noColon;
    noColon.z = "x1";
    send(noColon);
    EXPECT_TRUE(contains(messageLog(), "Arc status message dropped: the z endpoint text 'x1' has no ':'"));
}

TEST_F(ArcStatusMsgTest, AbsentRequiredFieldsAreDropped)
{
    const OVwObjectId arc = vertexArc("h1", "h2", 5);
    setString(arc, "MoidString", "arc-1");
    ArcStatusMsg m;
    m.binding = nullptr;
    send(m);
    m = ArcStatusMsg{};
    m.a = nullptr;
    send(m);
    m = ArcStatusMsg{};
    m.z = nullptr;
    send(m);
    m = ArcStatusMsg{};
    m.index = nullptr;
    send(m);
    m = ArcStatusMsg{};
    m.status = nullptr;
    send(m);
    const std::string log = messageLog();
    EXPECT_TRUE(contains(log, "Arc status message dropped: the Arc Name Binding is absent"));
    EXPECT_TRUE(contains(log, "Arc status message dropped: the a endpoint is absent"));
    EXPECT_TRUE(contains(log, "Arc status message dropped: the z endpoint is absent"));
    EXPECT_TRUE(contains(log, "Arc status message dropped: arcIndexId is absent"));
    EXPECT_TRUE(contains(log, "Arc status message dropped: arcStatus is absent"));
    EXPECT_EQ(onlyStatus(arc), mapStatus(3));
    EXPECT_EQ(adapterCalls("tqotChangeArcStatus"), 0);
}

// Arc names keep the endpoints in the order given, so an arc and its reverse
// are two objects: the second call of binding 7 must reach the reverse.
class ArcStatusUnorderedTest : public ArcStatusMsgTest {
protected:
    ArcStatusUnorderedTest() { orderedArcNames_ = 0; }
};

TEST_F(ArcStatusUnorderedTest, BindingSevenMakesASecondCallWithEndpointsSwapped)
{
    const OVwObjectId forward = vertexArc("h1", "h2", 5);
    const OVwObjectId reverse = vertexArc("h2", "h1", 5);
    ASSERT_NE(forward, 0);
    ASSERT_NE(reverse, 0);
    ASSERT_NE(forward, reverse);
    setString(forward, "MoidString", "arc-1");

    ArcStatusMsg msg;
    msg.status = "1";
    send(msg);
    EXPECT_EQ(adapterCalls("tqotChangeArcStatus"), 2);
    EXPECT_EQ(onlyStatus(forward), mapStatus(1));
    EXPECT_EQ(onlyStatus(reverse), mapStatus(1));
}

TEST_F(ArcStatusUnorderedTest, OtherBindingsMakeOneCall)
{
    tqotEndpointProtocol g{};
    g.graphProtocol = const_cast<char *>(kGraphProto);
    tqotEndpointProtocol v{};
    v.vertexProtocol = 1;
    const OVwObjectId forward = ad->tqotCreateArcInGraph(kGraphProto, "SAN", 5, g, "G2", v, "h1", 1, nullptr, "l",
                                                         nullptr, 3);
    const OVwObjectId reverse = ad->tqotCreateArcInGraph(kGraphProto, "SAN", 6, v, "h1", g, "G2", 1, nullptr, "l",
                                                         nullptr, 3);
    ASSERT_NE(forward, 0);
    ASSERT_NE(reverse, 0);
    ASSERT_NE(forward, reverse);
    setString(forward, "MoidString", "g-arc");

    ArcStatusMsg msg;
    msg.binding = "5";
    msg.a = "1.3.6.1.2.1.2.2.1.3.1:";
    msg.aName = "G2";
    msg.z = "x:1";
    msg.zName = "h1";
    msg.index = "1";
    msg.status = "1";
    msg.moid = "g-arc";
    send(msg);
    EXPECT_EQ(adapterCalls("tqotChangeArcStatus"), 1);
    EXPECT_EQ(onlyStatus(forward), mapStatus(1));
    EXPECT_EQ(onlyStatus(reverse), mapStatus(3));
}

}  // namespace
