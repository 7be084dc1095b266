// The vertex message: creation in a graph or a box, the fields written on the
// new object, the protocol and status translations, and the messages that are
// dropped before anything on the map changes.
#include "msg_fixture.h"

using namespace tqmsg;

namespace {

struct VertexMsg {
    int identifier = 2;
    const char *graphProtocol = MsgFixture::kGraphProto;
    const char *graphName = "SAN";
    const char *protocol = "1";
    const char *name = "host1";
    const char *status = "2";
    const char *icon = nullptr;
    const char *label = "Host 1";
    const char *details = nullptr;
    const char *uniqueId = "Uhost1";

    Payload payload() const
    {
        Payload p;
        p.byte(identifier).str(graphProtocol).str(graphName).str(protocol).str(name).str(status).str(icon);
        p.str(label).str(details).str(uniqueId);
        return p;
    }
};

class VertexMsgTest : public MsgFixture {
protected:
    void send(const VertexMsg &msg)
    {
        Payload p = msg.payload();
        processVertexMsg(p.data(), p.size());
    }
    void send(Payload p) { processVertexMsg(p.data(), p.size()); }
};

TEST_F(VertexMsgTest, InGraphCreatesSymbolAndWritesThreeFields)
{
    const OVwObjectId graph = rootGraph("SAN");
    ASSERT_NE(graph, 0);
    send(VertexMsg{});

    const OVwObjectId v = vertexId("host1");
    ASSERT_NE(v, 0);
    EXPECT_EQ(stringField(v, "MoidString"), "host1");
    EXPECT_EQ(stringField(v, "TQObjectName"), "host1");
    EXPECT_EQ(stringField(v, "UniqueName"), "Uhost1");
    EXPECT_EQ(onlyStatus(v), mapStatus(2));
    EXPECT_EQ(onlyLabel(v), "Host 1");

    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "Created VertexInGraph (obj name='host1'), objId:" + std::to_string(v) + "\n"));
    EXPECT_TRUE(contains(trace, ">>>>>>>>>>>>>>>>>>>  The name of the Object being created is host1\n"));
    EXPECT_TRUE(contains(trace, "vertexProtocol = 1\n"));
    EXPECT_TRUE(contains(trace, "vstatus = 2\n"));
    // The identifier is traced after the creation, not with the other fields.
    EXPECT_LT(tracePos("Created VertexInGraph"), tracePos("uniqueIdStr = Uhost1\n"));
}

TEST_F(VertexMsgTest, InBoxWritesMoidAndUniqueNameButNotObjectName)
{
    ASSERT_NE(rootGraph("SAN"), 0);
    VertexMsg msg;
    msg.identifier = 1;
    send(msg);

    const OVwObjectId v = vertexId("host1");
    ASSERT_NE(v, 0);
    EXPECT_EQ(stringField(v, "MoidString"), "host1");
    EXPECT_EQ(stringField(v, "UniqueName"), "Uhost1");
    EXPECT_EQ(stringField(v, "TQObjectName"), std::nullopt);
    EXPECT_TRUE(contains(daemonTrace(), "Created VertexInBox (obj name='host1', objId:" + std::to_string(v) + ")\n"));
}

TEST_F(VertexMsgTest, FailedInGraphCreationWritesNothingAndLeavesIdentifierUnread)
{
    ASSERT_NE(rootGraph("SAN"), 0);
    // The object is created, then its symbol fails: the object exists but
    // must stay untagged.
    mapdb::failNext("OVwCreateSymbol", OVw_STORAGE_FAILURE);
    mapdb::journalEnable(true);
    send(VertexMsg{});
    mapdb::journalEnable(false);
    for (const std::string &call : mapdb::journal())
        EXPECT_NE(call.rfind("OVwDbSetFieldStringValue(", 0), 0u) << call;

    const OVwObjectId v = vertexId("host1");
    ASSERT_NE(v, 0);
    EXPECT_EQ(stringField(v, "MoidString"), std::nullopt);
    EXPECT_EQ(stringField(v, "UniqueName"), std::nullopt);
    EXPECT_EQ(stringField(v, "TQObjectName"), std::nullopt);
    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "Cannot create VertexInGraph (obj name='host1'): the map platform created nothing"));
    EXPECT_FALSE(contains(trace, "uniqueIdStr ="));
    EXPECT_FALSE(contains(trace, ">>>>"));
}

TEST_F(VertexMsgTest, InGraphIntoMissingGraphCreatesNothing)
{
    send(VertexMsg{});
    EXPECT_EQ(vertexId("host1"), 0);
    EXPECT_TRUE(
        contains(daemonTrace(), "Cannot create VertexInGraph (obj name='host1'): the containing graph does not exist!\n"));
}

TEST_F(VertexMsgTest, FailedInBoxCreationWritesNothingAndNamesTheReason)
{
    VertexMsg msg;
    msg.identifier = 1;   // no graph SAN on the map: the creation returns 0
    testing::internal::CaptureStdout();
    send(msg);
    const std::string out = testing::internal::GetCapturedStdout();

    // Object 0 is no object: no field write is tried on it, and the line says why.
    const std::string trace = daemonTrace();
    EXPECT_FALSE(contains(trace, "failed to set value to field"));
    EXPECT_FALSE(contains(out, "failed to set value to field"));
    EXPECT_TRUE(contains(trace, "Cannot create VertexInBox(obj name='host1'): the containing graph does not exist!\n"));
    // Nothing anywhere carries the identifier.
    EXPECT_TRUE(objectsWith("UniqueName", "Uhost1").empty());
}

TEST_F(VertexMsgTest, FailedFieldWriteFailsTheMessageAndTheNextWriteStillRuns)
{
    ASSERT_NE(rootGraph("SAN"), 0);
    mapdb::failNth("OVwDbSetFieldStringValue", 2, OVw_STORAGE_FAILURE);   // UniqueName
    testing::internal::CaptureStdout();
    EXPECT_EQ(outcomeOf([&] { send(VertexMsg{}); }),
              std::string("failed: field UniqueName was not written: ") + OVwErrorMsg(OVw_STORAGE_FAILURE));
    const std::string out = testing::internal::GetCapturedStdout();

    const OVwObjectId v = vertexId("host1");
    ASSERT_NE(v, 0);
    EXPECT_EQ(stringField(v, "MoidString"), "host1");
    EXPECT_EQ(stringField(v, "UniqueName"), std::nullopt);
    EXPECT_EQ(stringField(v, "TQObjectName"), "host1");
    EXPECT_TRUE(contains(out, "*****Tqdaemon Error: failed to set value to field: UniqueName with reason: " +
                                  std::string(OVwErrorMsg(OVw_STORAGE_FAILURE)) + "\n"));
}

TEST_F(VertexMsgTest, ProtocolTexts)
{
    ASSERT_NE(rootGraph("SAN"), 0);
    struct Case {
        const char *text;
        int32_t number;
        bool supported;
    };
    const Case cases[] = {{"6", 6, true}, {"99", 99, true}, {"7", 1, false}, {"01", 1, false}};
    int n = 0;
    for (const Case &c : cases) {
        const std::string name = "v" + std::to_string(n++);
        VertexMsg msg;
        msg.protocol = c.text;
        msg.name = name.c_str();
        send(msg);
        EXPECT_NE(vertexId(name, ad->protocol(c.number)), 0) << c.text;
        const std::string unsupported = "This program doesn't support vertexProtocol = " + std::string(c.text) + "!\n";
        EXPECT_EQ(contains(daemonTrace(), unsupported), !c.supported) << c.text;
    }
    // The number line follows the unsupported line: protocol 1 is used.
    const std::string trace = daemonTrace();
    const size_t unsupported = trace.find("vertexProtocol = 7!\n");
    ASSERT_NE(unsupported, std::string::npos);
    EXPECT_EQ(trace.find("vertexProtocol = ", unsupported + 1), trace.find("vertexProtocol = 1\n", unsupported));
}

TEST_F(VertexMsgTest, StatusTextsGiveSymbolStatuses)
{
    ASSERT_NE(rootGraph("SAN"), 0);
    for (int s = 1; s <= 4; ++s) {
        const std::string name = "s" + std::to_string(s);
        const std::string text = std::to_string(s);
        VertexMsg msg;
        msg.name = name.c_str();
        msg.status = text.c_str();
        send(msg);
        EXPECT_EQ(onlyStatus(vertexId(name)), mapStatus(s)) << s;
    }
}

TEST_F(VertexMsgTest, UnknownOrAbsentStatusAndAbsentProtocolAreDropped)
{
    ASSERT_NE(rootGraph("SAN"), 0);
    VertexMsg unknown;
    unknown.status = "5";
    send(unknown);
    VertexMsg noStatus;
    noStatus.status = nullptr;
    send(noStatus);
    VertexMsg noProtocol;
    noProtocol.protocol = nullptr;
    send(noProtocol);

    EXPECT_EQ(vertexId("host1"), 0);
    const std::string trace = daemonTrace();
    EXPECT_TRUE(contains(trace, "Unknown tqotStatusType!\n"));
    EXPECT_FALSE(contains(trace, "vstatus = "));
    const std::string log = messageLog();
    EXPECT_TRUE(contains(log, "Vertex message dropped: unknown vstatus '5'"));
    EXPECT_TRUE(contains(log, "Vertex message dropped: vstatus is absent"));
    EXPECT_TRUE(contains(log, "Vertex message dropped: vertexProtocol is absent"));
}

TEST_F(VertexMsgTest, DetailsPrintedOnlyWhenPresent)
{
    ASSERT_NE(rootGraph("SAN"), 0);
    VertexMsg with;
    with.details = "rack 4, slot 2";
    testing::internal::CaptureStdout();
    send(with);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "vDetails->octetLength: 14\nvDetails->octetString: rack 4, slot 2\n");
    EXPECT_NE(vertexId("host1"), 0);

    VertexMsg nullText;
    nullText.name = "host2";
    nullText.details = "NULL";   // the codec's other form of an absent string
    testing::internal::CaptureStdout();
    send(nullText);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "");
    EXPECT_TRUE(contains(daemonTrace(), "vDetails = (null)\n"));
}

TEST_F(VertexMsgTest, OtherIdentifierCreatesNothingWithoutReadingTheIdentifier)
{
    ASSERT_NE(rootGraph("SAN"), 0);
    for (int id : {0, 3}) {
        VertexMsg msg;
        msg.identifier = id;
        Payload p = msg.payload();
        p.chop(4 + 7);   // no unique identifier at all: it is never read
        send(p);
    }
    EXPECT_EQ(vertexId("host1"), 0);
    const std::string trace = daemonTrace();
    EXPECT_FALSE(contains(trace, "malformed"));
    EXPECT_FALSE(contains(trace, "Created"));
    EXPECT_FALSE(contains(trace, "Cannot create"));
    EXPECT_TRUE(contains(trace, "Vertex Identifier = \x03\n"));
}

TEST_F(VertexMsgTest, MalformedFieldDropsBeforeAnyMapChange)
{
    ASSERT_NE(rootGraph("SAN"), 0);
    // Identifier cut short: the creation must not happen.
    Payload truncated = VertexMsg{}.payload();
    truncated.chop(2);
    send(truncated);
    // A length that runs past the payload in the middle.
    Payload lying;
    lying.byte(2).str(kGraphProto).str("SAN").str("1").word(5000).str("x");
    send(lying);
    // A text without its NUL.
    Payload noNul;
    noNul.byte(2).str(kGraphProto).str("SAN").word(2).byte('1').byte('1');
    send(noNul);

    EXPECT_EQ(vertexId("host1"), 0);
    EXPECT_EQ(count(daemonTrace(), "processVertexMsg: malformed field, message dropped\n"), 3);
}

TEST_F(VertexMsgTest, DebugFlagOffWritesNoTraceButStillCreates)
{
    ASSERT_NE(rootGraph("SAN"), 0);
    tqDebug = 0;
    VertexMsg msg;
    msg.details = "d";
    testing::internal::CaptureStdout();
    send(msg);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "");
    EXPECT_NE(vertexId("host1"), 0);
    EXPECT_FALSE(contains(daemonTrace(), "vname ="));
}

// A vertex sent again with an icon key oid_to_sym lacks keeps its symbol
// type: the message is refused whole.
TEST_F(VertexMsgTest, VertexSentAgainWithAnUnknownIconKeyIsRefused)
{
    root_.writeOidToSym("icon.a:A:Type\n");
    resetNamingTables();
    ASSERT_NE(rootGraph("SAN"), 0);
    VertexMsg msg;
    msg.icon = "icon.a";
    send(msg);
    const OVwObjectId v = vertexId("host1");
    ASSERT_EQ(symbolsOf(v).size(), 1u);
    ASSERT_EQ(symbolsOf(v)[0].type, "A:Type");
    msg.icon = "icon.none";
    msg.label = "relabelled";
    EXPECT_EQ(outcomeOf([&] { send(msg); }), "refused: unknown icon key 'icon.none'");
    EXPECT_EQ(symbolsOf(v)[0].type, "A:Type");
    EXPECT_EQ(symbolsOf(v)[0].label, "Host 1");
}

}  // namespace
