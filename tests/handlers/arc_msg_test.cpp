// The arc message: arcs between vertices and graphs, the fields written on
// the arc, the endpoint texts, and the messages that are refused before they
// reach the adapter.
#include "handlers/endpoint_text.h"
#include "msg_fixture.h"

using namespace tqmsg;

namespace {

struct ArcMsg {
    const char *moid = "arc-moid-1";
    const char *graphProtocol = MsgFixture::kGraphProto;
    const char *graphName = "SAN";
    const char *binding = "7";
    const char *a = "NULL:1";
    const char *aName = "h1";
    const char *z = "NULL:1";
    const char *zName = "h2";
    const char *arcId = "12";
    const char *icon = nullptr;
    const char *label = "link";
    const char *details = nullptr;
    const char *status = "1";

    Payload payload() const
    {
        Payload p;
        p.str(moid).str(graphProtocol).str(graphName).str(binding).str(a).str(aName).str(z).str(zName);
        p.str(arcId).str(icon).str(label).str(details).str(status);
        return p;
    }
};

class ArcMsgTest : public MsgFixture {
protected:
    void SetUp() override
    {
        MsgFixture::SetUp();
        ASSERT_NE(rootGraph("SAN"), 0);
        ASSERT_NE(vertexIn("SAN", "h1"), 0);
        ASSERT_NE(vertexIn("SAN", "h2"), 0);
        ASSERT_NE(graphIn("SAN", "G2"), 0);
    }
    void send(const ArcMsg &msg)
    {
        Payload p = msg.payload();
        processArcMsg(p.data(), p.size());
    }
    // The single arc object carrying the MoidString, 0 when none.
    static OVwObjectId arcWith(const char *moid)
    {
        std::vector<OVwObjectId> ids = objectsWith("MoidString", moid);
        return ids.size() == 1 ? ids[0] : 0;
    }
};

TEST_F(ArcMsgTest, ArcBetweenTwoVerticesCarriesIndexAndMoid)
{
    send(ArcMsg{});
    const OVwObjectId arc = arcWith("arc-moid-1");
    ASSERT_NE(arc, 0);
    EXPECT_EQ(intField(arc, "SanArcIndex"), 12);
    std::vector<Sym> symbols = symbolsOf(arc);
    ASSERT_EQ(symbols.size(), 1u);
    EXPECT_EQ(symbols[0].variety, OVwConnSymbol);
    EXPECT_EQ(symbols[0].status, mapStatus(1));
    EXPECT_EQ(symbols[0].label, "link");

    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "so, this aEndpoint is a VERTEX\n"));
    EXPECT_TRUE(contains(trace, "aEndpointProtocol.vertexProtocol = 1\n"));
    EXPECT_TRUE(contains(trace, "so, this zEndpoint is a VERTEX\n"));
    EXPECT_TRUE(contains(trace, "zvertexProtocol = 1\n"));
    EXPECT_TRUE(contains(trace, "\t***arc created\n"));
    EXPECT_TRUE(contains(trace, "Created arc (label:'link', objId:" + std::to_string(arc) + ")\n"));
}

TEST_F(ArcMsgTest, ArcBetweenVertexAndGraphEndpoints)
{
    ArcMsg toGraph;
    toGraph.moid = "v-to-g";
    toGraph.binding = "6";
    toGraph.z = "1.3.6.1.2.1.2.2.1.3.1:ignored";
    toGraph.zName = "G2";
    toGraph.arcId = "3";
    testing::internal::CaptureStdout();
    send(toGraph);
    std::string out = testing::internal::GetCapturedStdout();
    const OVwObjectId arc = arcWith("v-to-g");
    ASSERT_NE(arc, 0);
    EXPECT_EQ(intField(arc, "SanArcIndex"), 3);
    EXPECT_TRUE(contains(out, "aEndpointGraph=NULL & aEndpointVertex=1;"));
    EXPECT_TRUE(contains(out, "zEndpointGraph=1.3.6.1.2.1.2.2.1.3.1 & zEndpointVertex=ignored;"));
    std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "so, this zEndpoint is a Graph:\n"));
    EXPECT_TRUE(contains(trace, "zEndpointProtocol.graphProtocol = 1.3.6.1.2.1.2.2.1.3.1\n"));

    ArcMsg fromGraph;
    fromGraph.moid = "g-to-v";
    fromGraph.binding = "5";
    fromGraph.a = "1.3.6.1.2.1.2.2.1.3.1:";
    fromGraph.aName = "G2";
    fromGraph.zName = "h2";
    testing::internal::CaptureStdout();
    send(fromGraph);
    out = testing::internal::GetCapturedStdout();
    const OVwObjectId arc2 = arcWith("g-to-v");
    ASSERT_NE(arc2, 0);
    EXPECT_NE(arc2, arc);
    EXPECT_EQ(intField(arc2, "SanArcIndex"), 12);
    EXPECT_TRUE(contains(out, "aEndpointProtocol.graphProtocol = 1.3.6.1.2.1.2.2.1.3.1\n"));
    EXPECT_TRUE(contains(daemonTrace(), "so, this aEndpoint is a GRAPH\n"));
}

TEST_F(ArcMsgTest, BindingThatDisagreesWithEndpointKindsIsRefused)
{
    struct Case {
        const char *binding;
        const char *a;
        const char *z;
        const char *line;
    };
    const Case cases[] = {
        {"4", "NULL:1", "1.3.6.1.2.1.2.2.1.3.1:x",
         "Arc message refused: name binding 4 does not match endpoint kinds (vertex, graph)"},
        {"7", "NULL:1", "1.3.6.1.2.1.2.2.1.3.1:x",
         "Arc message refused: name binding 7 does not match endpoint kinds (vertex, graph)"},
        {"5", "NULL:1", "NULL:1", "Arc message refused: name binding 5 does not match endpoint kinds (vertex, vertex)"},
        {"6", "1.3.6.1.2.1.2.2.1.3.1:", "NULL:2",
         "Arc message refused: name binding 6 does not match endpoint kinds (graph, vertex)"},
        {"2", "NULL:1", "NULL:1", "Arc message refused: name binding 2 does not match endpoint kinds (vertex, vertex)"},
        {"0", "G:x", "G:y", "Arc message refused: name binding 0 does not match endpoint kinds (graph, graph)"},
    };
    for (const Case &c : cases) {
        ArcMsg msg;
        msg.binding = c.binding;
        msg.a = c.a;
        msg.z = c.z;
        msg.zName = "G2";
        send(msg);
        EXPECT_TRUE(contains(daemonTrace(), std::string(c.line) + "\n")) << c.line;
        EXPECT_TRUE(contains(messageLog(), c.line)) << c.line;
    }
    EXPECT_EQ(adapterCalls("tqotCreateArcInGraph"), 0);
    EXPECT_TRUE(objectsWith("MoidString", "arc-moid-1").empty());
}

TEST_F(ArcMsgTest, UnknownBindingPrintsItsConsoleLineWithDebugOff)
{
    tqDebug = 0;
    ArcMsg msg;
    msg.binding = "8";
    testing::internal::CaptureStdout();
    send(msg);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Unknown tqotNameBindingType\n");
    EXPECT_TRUE(contains(messageLog(), "Arc message dropped: unknown arcNameBinding '8'"));
    EXPECT_EQ(adapterCalls("tqotCreateArcInGraph"), 0);
    EXPECT_EQ(daemonTrace(), "");
}

TEST_F(ArcMsgTest, ArcIdIsTheLeadingNumber)
{
    const struct {
        const char *text;
        int32_t value;
    } cases[] = {{"42abc", 42}, {"abc", 0}, {"  -7", -7}, {"+15x", 15}};
    int n = 0;
    for (const auto &c : cases) {
        const std::string moid = "arc-" + std::to_string(n++);
        ArcMsg msg;
        msg.moid = moid.c_str();
        msg.arcId = c.text;
        send(msg);
        const OVwObjectId arc = arcWith(moid.c_str());
        ASSERT_NE(arc, 0) << c.text;
        EXPECT_EQ(intField(arc, "SanArcIndex"), c.value) << c.text;
        // The stored index is the one the arc was created with.
        EXPECT_NE(OVwDbSelectionNameToObjectId(("OTHER_PROTOCOL;h1;OTHER_PROTOCOL;h2;" + std::to_string(c.value) +
                                                ";default")
                                                   .c_str()),
                  0)
            << c.text;
    }
}

TEST_F(ArcMsgTest, FailedCreationWritesNothingAndNamesTheReason)
{
    ArcMsg msg;
    msg.zName = "nowhere";
    msg.binding = "4";
    msg.a = "IP:x";
    msg.z = "IP:y";
    send(msg);
    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "\t***arc created\n"));
    // Object 0 is no object: no field write is tried on it, and the line says why.
    EXPECT_TRUE(contains(trace, "Cannot create arc (label:'link'): an arc endpoint does not resolve!\n")) << trace;
    EXPECT_FALSE(contains(trace, "failed to set value to field"));
    EXPECT_FALSE(contains(trace, "objId:0"));
    EXPECT_TRUE(objectsWith("MoidString", "arc-moid-1").empty());
}

// Every failed platform write fails the message, whatever the debug flag.
TEST_F(ArcMsgTest, FailedWritesAndConnectionsFailTheMessage)
{
    tqDebug = 0;
    const std::string storage = OVwErrorMsg(OVw_STORAGE_FAILURE);
    const struct {
        const char *operation;
        const char *outcome;
    } cases[] = {
        {"OVwDbSetFieldIntegerValue", "failed: field SanArcIndex was not written: "},
        {"OVwDbSetFieldStringValue", "failed: field MoidString was not written: "},
        {"OVwCreateConnSymbol", "failed: the arc's connection was not drawn: "},
    };
    int index = 20;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.operation);
        ArcMsg msg;
        const std::string id = std::to_string(++index);
        msg.arcId = id.c_str();
        mapdb::failNext(c.operation, OVw_STORAGE_FAILURE);
        const std::string outcome = outcomeOf([&] { send(msg); });
        EXPECT_EQ(outcome.rfind(c.outcome, 0), 0u) << outcome;
    }
    EXPECT_EQ(runStats().failed, 3);
}

// An arc sent again takes its new label and status, as a vertex does.
TEST_F(ArcMsgTest, ArcSentAgainTakesItsNewLabelAndStatus)
{
    send(ArcMsg{});
    const OVwObjectId arc = arcWith("arc-moid-1");
    ASSERT_NE(arc, 0);
    ArcMsg again;
    again.label = "relabelled";
    again.status = "4";
    EXPECT_EQ(outcomeOf([&] { send(again); }), "applied");
    EXPECT_EQ(onlyLabel(arc), "relabelled");
    EXPECT_EQ(onlyStatus(arc), mapStatus(4));
}

TEST_F(ArcMsgTest, EndpointTextLimits)
{
    // 49 characters are accepted: a graph part of 47 characters, ':' and one more.
    const std::string longest = std::string(47, 'P') + ":x";
    ArcMsg fits;
    fits.binding = "4";
    fits.a = longest.c_str();
    fits.z = longest.c_str();
    send(fits);
    EXPECT_FALSE(contains(messageLog(), "dropped"));
    EXPECT_EQ(adapterCalls("tqotCreateArcInGraph"), 1);

    const std::string tooLong = std::string(48, 'P') + ":x";
    ArcMsg over;
    over.binding = "4";
    over.a = tooLong.c_str();
    over.z = "G:x";
    send(over);
    EXPECT_TRUE(contains(messageLog(), "Arc message dropped: the a endpoint text '" + tooLong + "' is too long"));

    ArcMsg noColon;
    noColon.z = "NULL1";
    send(noColon);
    EXPECT_TRUE(contains(messageLog(), "Arc message dropped: the z endpoint text 'NULL1' has no ':'"));
    EXPECT_EQ(adapterCalls("tqotCreateArcInGraph"), 1);
}

TEST_F(ArcMsgTest, EndpointSplitsAtFirstColonAndChecksVertexProtocols)
{
    ArcMsg twoColons;
    twoColons.a = "NULL:1:2";
    send(twoColons);
    EXPECT_TRUE(contains(daemonTrace(), "This program doesn't support vertexProtocol = 1:2!\n"));
    EXPECT_TRUE(contains(messageLog(), "Arc message dropped: unsupported vertex protocol '1:2' in the a endpoint"));

    // "6" is a vertex message protocol but not an arc endpoint protocol.
    ArcMsg six;
    six.z = "NULL:6";
    send(six);
    EXPECT_TRUE(contains(messageLog(), "Arc message dropped: unsupported vertex protocol '6' in the z endpoint"));
    EXPECT_EQ(adapterCalls("tqotCreateArcInGraph"), 0);

    // "2" and "99" are accepted: the endpoints are created under those protocols.
    ArcMsg numbered;
    numbered.a = "NULL:2";
    numbered.z = "NULL:99";
    send(numbered);
    EXPECT_TRUE(contains(daemonTrace(), "aEndpointProtocol.vertexProtocol = 2\n"));
    EXPECT_TRUE(contains(daemonTrace(), "zvertexProtocol = 99\n"));
    EXPECT_NE(arcWith("arc-moid-1"), 0);
    EXPECT_NE(vertexId("h1", ad->protocol(2)), 0);
    EXPECT_NE(vertexId("h2", ad->protocol(99)), 0);
}

TEST_F(ArcMsgTest, AbsentRequiredFieldsAndUnknownStatusAreDropped)
{
    ArcMsg m;
    m.binding = nullptr;
    send(m);
    m = ArcMsg{};
    m.a = nullptr;
    send(m);
    m = ArcMsg{};
    m.z = "NULL";   // the absent form
    send(m);
    m = ArcMsg{};
    m.arcId = nullptr;
    send(m);
    m = ArcMsg{};
    m.status = nullptr;
    send(m);
    m = ArcMsg{};
    m.status = "0";
    send(m);

    const std::string log = messageLog();
    EXPECT_TRUE(contains(log, "Arc message dropped: arcNameBinding is absent"));
    EXPECT_TRUE(contains(log, "Arc message dropped: the a endpoint is absent"));
    EXPECT_TRUE(contains(log, "Arc message dropped: the z endpoint is absent"));
    EXPECT_TRUE(contains(log, "Arc message dropped: arcId is absent"));
    EXPECT_TRUE(contains(log, "Arc message dropped: astatus is absent"));
    EXPECT_TRUE(contains(log, "Arc message dropped: unknown astatus '0'"));
    EXPECT_TRUE(contains(daemonTrace(), "Unknown tqotStatusType!\n"));
    EXPECT_EQ(adapterCalls("tqotCreateArcInGraph"), 0);
}

TEST_F(ArcMsgTest, DetailsConsoleLinesAndMalformedFields)
{
    ArcMsg msg;
    msg.details = "fibre";
    testing::internal::CaptureStdout();
    send(msg);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(contains(out, "arcDetails->octetLength: 5\narcDetails->octetString: fibre\n"));

    // Last field cut short: nothing reaches the adapter.
    ArcMsg second;
    second.moid = "second";
    Payload p = second.payload();
    p.chop(1);
    processArcMsg(p.data(), p.size());
    EXPECT_TRUE(contains(daemonTrace(), "processArcMsg: malformed field, message dropped\n"));
    EXPECT_EQ(adapterCalls("tqotCreateArcInGraph"), 1);
    EXPECT_TRUE(objectsWith("MoidString", "second").empty());
}

// ---- helpers shared by the two arc messages -------------------------------------

TEST(EndpointTextTest, LeadingInt)
{
    EXPECT_EQ(leadingInt("12"), 12);
    EXPECT_EQ(leadingInt(" \t-3x"), -3);
    EXPECT_EQ(leadingInt("x3"), 0);
    EXPECT_EQ(leadingInt(nullptr), 0);
    EXPECT_EQ(leadingInt("-"), 0);
    EXPECT_EQ(leadingInt("2147483647"), 2147483647);
    EXPECT_EQ(leadingInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(leadingInt("99999999999999999999"), INT32_MAX);
    EXPECT_EQ(leadingInt("-99999999999999999999"), INT32_MIN);
}

TEST(EndpointTextTest, SplitBounds)
{
    char first[52];
    char second[12];
    EXPECT_EQ(splitEndpointText("a:b:c", 79, first, sizeof first, second, sizeof second), SplitResult::Ok);
    EXPECT_STREQ(first, "a");
    EXPECT_STREQ(second, "b:c");
    EXPECT_EQ(splitEndpointText(":", 79, first, sizeof first, second, sizeof second), SplitResult::Ok);
    EXPECT_STREQ(first, "");
    EXPECT_STREQ(second, "");

    const std::string first51 = std::string(51, 'f');
    EXPECT_EQ(splitEndpointText((first51 + ":" + std::string(11, 's')).c_str(), 79, first, sizeof first, second,
                                sizeof second),
              SplitResult::Ok);
    EXPECT_EQ(first51, first);
    EXPECT_EQ(splitEndpointText((std::string(52, 'f') + ":1").c_str(), 79, first, sizeof first, second, sizeof second),
              SplitResult::FirstTooLong);
    EXPECT_EQ(splitEndpointText(("f:" + std::string(12, 's')).c_str(), 79, first, sizeof first, second, sizeof second),
              SplitResult::SecondTooLong);
    EXPECT_EQ(splitEndpointText(std::string(80, 'x').c_str(), 79, first, sizeof first, second, sizeof second),
              SplitResult::WholeTooLong);
    EXPECT_EQ(splitEndpointText("nocolon", 79, first, sizeof first, second, sizeof second), SplitResult::NoColon);
}

TEST(EndpointTextTest, BindingForKinds)
{
    EXPECT_EQ(bindingForKinds(true, true), 4);
    EXPECT_EQ(bindingForKinds(true, false), 5);
    EXPECT_EQ(bindingForKinds(false, true), 6);
    EXPECT_EQ(bindingForKinds(false, false), 7);
}

}  // namespace
