// Selection names, protocol, layout and status tables, and the icon table
// read from oid_to_sym.
#include "adapter_fixture.h"

#include <cctype>
#include <cstring>
#include <set>
#include <string>

namespace {

using tqtest::AdapterFixture;

class NamingTest : public AdapterFixture {};

// ---- selection names ----------------------------------------------------------

TEST_F(NamingTest, NameJoinsProtocolObjectAndMapAndUnnameSplitsInPlace)
{
    char *shared = ad->name("IP", "router1");
    ASSERT_NE(shared, nullptr);
    EXPECT_STREQ(shared, "IP;router1;default");

    char own[256];
    EXPECT_EQ(ad->name("TCP", "port7", own), own);
    EXPECT_STREQ(own, "TCP;port7;default");
    EXPECT_STREQ(shared, "IP;router1;default") << "a caller's buffer leaves the shared one alone";

    char copy[64];
    std::strcpy(copy, shared);
    char *object = ad->unname(copy);
    EXPECT_STREQ(copy, "IP");
    EXPECT_STREQ(object, "router1");
    EXPECT_STREQ(object + std::strlen(object) + 1, "default");
}

TEST_F(NamingTest, NameWritesNullTextsAsNull)
{
    char buf[256];
    EXPECT_STREQ(ad->name(nullptr, "x", buf), "(null);x;default");
    EXPECT_STREQ(ad->name("IP", nullptr, buf), "IP;(null);default");
}

TEST_F(NamingTest, NameThatDoesNotFitIsRefusedNotCut)
{
    // "IP;" + object + ";default" fills 255 characters with a 244-character object name.
    char buf[256];
    std::string fits(244, 'n');
    ASSERT_EQ(ad->name("IP", fits.c_str(), buf), buf);
    EXPECT_EQ(std::strlen(buf), 255u);

    std::memset(buf, 'z', sizeof buf);
    std::string tooLong(245, 'n');
    EXPECT_EQ(ad->name("IP", tooLong.c_str(), buf), nullptr);
    EXPECT_EQ(buf[0], 'z') << "a refused name writes nothing";
    std::string longProtocol(246, 'P');   // with ";x;default" one past the limit
    EXPECT_EQ(ad->name(longProtocol.c_str(), "x"), nullptr);
    EXPECT_NE(ad->name(longProtocol.c_str() + 1, "x"), nullptr);
    EXPECT_EQ(traceCount("Name too long."), 2);
}

TEST_F(NamingTest, NamePartHoldingTheSeparatorIsRefused)
{
    // "x;OTHER_PROTOCOL;y;1" would be the selection name of the arc x-y.
    char buf[256];
    for (const auto &parts : {std::pair<const char *, const char *>{"OTHER_PROTOCOL", "x;OTHER_PROTOCOL;y;1"},
                              {"A;B", "C"}, {"A", "B;C"}, {";", "x"}}) {
        SCOPED_TRACE(std::string(parts.first) + " / " + parts.second);
        TopologyAdapterPeer::pendingError(*ad) = 0;
        EXPECT_EQ(ad->name(parts.first, parts.second, buf), nullptr);
        EXPECT_EQ(ad->tqotGetError(), TQOT_ERR_NAME_SEPARATOR);
    }
    EXPECT_NE(adapterTrace().find("Name contains ';'."), std::string::npos);
    // Look-ups through the adapter refuse them too: nothing is changed or deleted under another name.
    EXPECT_EQ(ad->tqotChangeVertexStatus(1, "x;OTHER_PROTOCOL;y;1", 2), TQOT_ERR_NAME_SEPARATOR);
    EXPECT_EQ(ad->tqotDeleteGraph("A;B", "C"), -1);
    EXPECT_EQ(ad->tqotChangeRootGraphLabel("A", "B;C", "l"), 2);
}

TEST_F(NamingTest, NameWithoutOpenMapIsRefused)
{
    OVwMapInfo *saved = TopologyAdapterPeer::mapHandle(*ad);
    TopologyAdapterPeer::mapHandle(*ad) = nullptr;
    EXPECT_EQ(ad->name("IP", "x"), nullptr);
    TopologyAdapterPeer::mapHandle(*ad) = saved;
    EXPECT_EQ(traceCount("No map open."), 1);
}

TEST_F(NamingTest, UnnameWithFewerSeparatorsStaysInsideTheText)
{
    char none[] = "plain";
    char *object = ad->unname(none);
    EXPECT_STREQ(none, "plain");
    EXPECT_STREQ(object, "");
    EXPECT_EQ(object, none + 5);

    char one[] = "IP;host";
    EXPECT_STREQ(ad->unname(one), "host");
    EXPECT_STREQ(one, "IP");

    char extra[] = "a;b;c;d";
    EXPECT_STREQ(ad->unname(extra), "b");
    EXPECT_STREQ(extra + 4, "c;d") << "only the first two separators are split";
    EXPECT_EQ(ad->unname(nullptr), nullptr);
}

// ---- protocols ------------------------------------------------------------------

bool isEmptyProtocolSlot(int i)
{
    return (i >= 33 && i <= 49) || (i >= 59 && i <= 64) || (i >= 66 && i <= 69) || i == 97;
}

TEST_F(NamingTest, ProtocolTableHasItsFixedShape)
{
    std::set<std::string> names;
    int empties = 0;
    for (int i = 0; i < 100; ++i) {
        const char *p = ad->protocol(i);
        ASSERT_NE(p, nullptr) << i;
        if (isEmptyProtocolSlot(i)) {
            EXPECT_STREQ(p, "") << "slot " << i << " is free";
            ++empties;
            continue;
        }
        ASSERT_NE(p[0], '\0') << "slot " << i << " holds a name";
        for (const char *c = p; *c != '\0'; ++c)
            EXPECT_TRUE(std::isupper(static_cast<unsigned char>(*c)) || std::isdigit(static_cast<unsigned char>(*c)) ||
                        *c == '_')
                << p;
        EXPECT_TRUE(names.insert(p).second) << "duplicate " << p;
    }
    EXPECT_EQ(empties, 28);
    EXPECT_EQ(names.size(), 72u);
    int block = 0;
    for (int i = 50; i < 100; ++i)
        block += isEmptyProtocolSlot(i) ? 0 : 1;
    EXPECT_EQ(block, 39);

    EXPECT_STREQ(ad->protocol(0), "NONEXISTENT");
    EXPECT_STREQ(ad->protocol(6), "ETHERNET_CSMACD");
    EXPECT_STREQ(ad->protocol(32), "FRAME_RELAY");
    EXPECT_STREQ(ad->protocol(56), "IP");
    EXPECT_STREQ(ad->protocol(90), "IPX");
    EXPECT_STREQ(ad->protocol(98), "DHCP");
}

TEST_F(NamingTest, ProtocolOutsideTheTableIsInvalid)
{
    EXPECT_STREQ(ad->protocol(100), "invalid");
    EXPECT_STREQ(ad->protocol(-1), "invalid");
    EXPECT_EQ(traceCount("invalid protocol"), 2);
}

TEST_F(NamingTest, UnprotocolInvertsTheTable)
{
    for (int i = 0; i < 100; ++i) {
        if (!isEmptyProtocolSlot(i)) {
            EXPECT_EQ(ad->unprotocol(ad->protocol(i)), i) << ad->protocol(i);
        }
    }
    EXPECT_EQ(ad->unprotocol("IP"), 56);
    EXPECT_EQ(ad->unprotocol("NONEXISTENT"), 0);
    EXPECT_EQ(ad->unprotocol("NO_SUCH_PROTOCOL"), 0);
    EXPECT_EQ(ad->unprotocol("ip"), 0) << "names compare exactly";
    EXPECT_EQ(ad->unprotocol(nullptr), 0);
    EXPECT_EQ(ad->unprotocol(""), 97) << "the empty text maps to its last slot";
    EXPECT_EQ(traceCount("initUnprotocolMap("), 2) << "built once: one enter, one exit";
}

// ---- layouts and statuses ----------------------------------------------------------

TEST_F(NamingTest, LayoutAndStatusTables)
{
    const int32_t layouts[10] = {0, 0, 0, 1, 3, 4, 5, 2, 1, 7};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(ad->layout(i), layouts[i]) << i;
    const int32_t statuses[5] = {5, 2, 4, 1, 3};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(ad->status(i), statuses[i]) << i;
    EXPECT_EQ(traceCount("invalid"), 0);
}

TEST_F(NamingTest, NumbersOutsideTheTablesFallBack)
{
    EXPECT_EQ(ad->status(7), 5);
    EXPECT_EQ(ad->status(-1), 5);
    EXPECT_EQ(traceCount("invalid status"), 2);
    EXPECT_EQ(ad->layout(10), 0);
    EXPECT_EQ(ad->layout(-3), 0);
    EXPECT_EQ(traceCount("invalid layout"), 2);
}

// ---- icon table ------------------------------------------------------------------------

TEST_F(NamingTest, IconFileLinesFollowTheirRules)
{
    writeIcons("1.3.6.1.4.1.99.1:Connector:Generic   # a comment\n"
               "# comment:with a colon\n"
               "abc\tdef:ghi\n"
               "abc\n"
               "k: v\tmore text\n"
               "a:X:Y\n"
               "a:Z\n"
               "c:Q\t# note\n"
               "d: P  \n"
               "\n"
               " lead:val\n"
               "hash # before:colon\n"
               "e:F\r\n"
               "empty:\n"
               "last:noNewline");
    EXPECT_STREQ(ad->icon("1.3.6.1.4.1.99.1"), "Connector:Generic");
    EXPECT_EQ(ad->icon("# comment"), nullptr);
    EXPECT_STREQ(ad->icon("abc\tdef"), "ghi") << "a tab before the ':' belongs to the key";
    EXPECT_EQ(ad->icon("abc"), nullptr);
    EXPECT_STREQ(ad->icon("k"), " v") << "leading blank kept, value ends at the tab";
    EXPECT_STREQ(ad->icon("a"), "Z") << "the later line replaces the earlier";
    EXPECT_STREQ(ad->icon("c"), "Q");
    EXPECT_STREQ(ad->icon("d"), " P") << "trailing blanks removed";
    EXPECT_STREQ(ad->icon(" lead"), "val") << "the key is taken as written";
    EXPECT_EQ(ad->icon("lead"), nullptr);
    EXPECT_EQ(ad->icon("hash "), nullptr) << "a '#' before any ':' skips the line";
    EXPECT_STREQ(ad->icon("e"), "F");
    EXPECT_STREQ(ad->icon("empty"), "");
    EXPECT_STREQ(ad->icon("last"), "noNewline");
    EXPECT_EQ(traceCount("initIconMap("), 2) << "read once";
    // Lines that give no symbol type, comments and blank lines aside, are
    // named once in the message log.
    const std::string log = tqtest::readFile(root_.file("usr/ov/log/tqdaemon.log"));
    const std::string noColon = "cannot be read: no ':' between an icon key and a symbol type";
    EXPECT_NE(log.find("oid_to_sym line 4 " + noColon), std::string::npos) << log;
    EXPECT_NE(log.find("oid_to_sym line 12 " + noColon), std::string::npos) << log;
    EXPECT_EQ(log.find("oid_to_sym line "), log.find("oid_to_sym line 4 "));
    EXPECT_EQ(log.find("oid_to_sym line ", log.find("line 12 ")), std::string::npos);
}

TEST_F(NamingTest, LongIconLinesAreSplitAndOversizedTextsSkipped)
{
    std::string key127(127, 'K');
    std::string key128(128, 'L');
    std::string value127(127, 'v');
    std::string value128(128, 'w');
    writeIcons(std::string(255, 'x') + "r:S\n" +   // the rest after 255 characters is a line of its own
               key127 + ":ok\n" + key128 + ":dropped\n" + "v1:" + value127 + "\n" + "v2:" + value128 + "\n");
    EXPECT_STREQ(ad->icon("r"), "S");
    EXPECT_STREQ(ad->icon(key127.c_str()), "ok");
    EXPECT_EQ(ad->icon(key128.c_str()), nullptr);
    EXPECT_EQ(ad->icon(key128.substr(0, 127).c_str()), nullptr) << "never cut into another key";
    EXPECT_STREQ(ad->icon("v1"), value127.c_str());
    EXPECT_EQ(ad->icon("v2"), nullptr);
    EXPECT_EQ(traceCount("key too long"), 1);
    EXPECT_EQ(traceCount("value too long"), 1);
    const std::string log = tqtest::readFile(root_.file("usr/ov/log/tqdaemon.log"));
    EXPECT_NE(log.find("oid_to_sym line 3 cannot be read: icon key longer than 127 characters"), std::string::npos);
    EXPECT_NE(log.find("oid_to_sym line 5 cannot be read: symbol type longer than 127 characters"),
              std::string::npos);
}

TEST_F(NamingTest, MissingIconFileIsReportedOnce)
{
    EXPECT_EQ(ad->icon("1.3.6.1"), nullptr);
    EXPECT_EQ(ad->icon("1.3.6.1"), nullptr);
    EXPECT_EQ(ad->icon(nullptr), nullptr);
    EXPECT_EQ(traceCount("initIconMap: could not open \\usr\\ov\\conf\\c\\oid_to_sym"), 1);
    EXPECT_EQ(traceCount("icon not found"), 2);
}

TEST_F(NamingTest, NullKeyStillBuildsTheTableWhichIsReadOnce)
{
    writeIcons("a:B\n");
    EXPECT_EQ(ad->icon(nullptr), nullptr);
    root_.writeOidToSym("a:C\n");
    EXPECT_STREQ(ad->icon("a"), "B") << "the file is read at the first lookup only";
    resetNamingTables();
    EXPECT_STREQ(ad->icon("a"), "C");
}

}  // namespace
