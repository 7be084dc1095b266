// tqmap against a small map built through the platform API: the views show
// what the map holds, the read-only commands leave the database alone, and
// `post` writes exactly the event it is asked for.
#include "ovw/ovw.h"
#include "mapdb/read.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using tqtest::countOf;

using tqtest::RunResult;

// One value of a query on the database file, read-only; -1 when no row.
long long queryInt(const std::string &db, const std::string &sql)
{
    sqlite3 *h = nullptr;
    long long v = -1;
    if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt *s = nullptr;
        if (sqlite3_prepare_v2(h, sql.c_str(), -1, &s, nullptr) == SQLITE_OK && sqlite3_step(s) == SQLITE_ROW)
            v = sqlite3_column_int64(s, 0);
        sqlite3_finalize(s);
    }
    sqlite3_close(h);
    return v;
}

size_t indentOf(const std::string &line)
{
    return line.find_first_not_of(' ');
}

// The first line holding `needle`, or "" when there is none.
std::string lineWith(const std::string &text, const std::string &needle)
{
    for (const std::string &l : tqtest::splitLines(text))
        if (l.find(needle) != std::string::npos)
            return l;
    return "";
}

// Lines that begin with `prefix`.
int linesStartingWith(const std::string &text, const std::string &prefix)
{
    int n = 0;
    for (const std::string &l : tqtest::splitLines(text))
        n += l.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

// A map with a root graph, a graph inside it, devices, connections and fields:
//
//   root submap: SAN (graph)
//     SAN's submap: Fab (graph), mgr (vertex); mgr -- Fab
//       Fab's submap: sw1 (critical), h1 (normal), disk (marginal); h1 -- sw1 (major)
//   plus an object without a symbol.
class TqmapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db_ = root_.file("maps/test.db");
        tqtest::writeFile(root_.file("maps/.keep"), "");
        setenv("OVW_MAPDB", db_.c_str(), 1);
        ASSERT_EQ(OVwInit(), 0) << OVwErrorMsg(OVwError());
        OVwMapInfo *map = OVwGetMapInfo();
        ASSERT_NE(map, nullptr);
        rootSubmap_ = map->root_submap_id;

        const std::string mapName = map->map_name;
        auto object = [&](const std::string &proto, const std::string &name) {
            OVwObjectId id = OVwDbCreateObjectBySelectionName((proto + ";" + name + ";" + mapName).c_str());
            EXPECT_NE(id, 0) << name;
            return id;
        };
        san_ = object("P", "SAN");
        sanSubmap_ = OVwCreateSubmap(map, san_, OVwGraphSubmap, 0, "P;SAN", 0, 0);
        sanSymbol_ = OVwCreateSymbol(map, rootSubmap_, san_, "Network:SAN", "SAN", OVwStatusNormal, 2, nullptr, 0);
        fab_ = object("P", "Fab");
        fabSubmap_ = OVwCreateSubmap(map, fab_, OVwGraphSubmap, 0, "P;Fab", 0, 0);
        fabSymbol_ = OVwCreateSymbol(map, sanSubmap_, fab_, "Network:Fabric", "Fab", OVwStatusNormal, 2, nullptr, 0);

        sw1_ = object("OTHER_PROTOCOL", "sw1");
        h1_ = object("OTHER_PROTOCOL", "h1");
        disk_ = object("OTHER_PROTOCOL", "disk");
        mgr_ = object("OTHER_PROTOCOL", "mgr");
        sw1Symbol_ = OVwCreateSymbol(map, fabSubmap_, sw1_, "Connector:FC Switch", "sw1", OVwStatusCritical, 3,
                                     nullptr, 0);
        h1Symbol_ = OVwCreateSymbol(map, fabSubmap_, h1_, "Computer:Server", "h1", OVwStatusNormal, 3, nullptr, 0);
        diskSymbol_ = OVwCreateSymbol(map, fabSubmap_, disk_, "Storage:Disk Array", "disk", OVwStatusMarginal, 3,
                                      nullptr, 0);
        mgrSymbol_ = OVwCreateSymbol(map, sanSubmap_, mgr_, "Computer:Workstation", "mgr", OVwStatusNormal, 3,
                                     nullptr, 0);

        link_ = object("OTHER_PROTOCOL", "h1;OTHER_PROTOCOL;sw1;7");
        linkSymbol_ = OVwCreateConnSymbol(map, link_, h1Symbol_, sw1Symbol_, "Connection:Fibre Channel", "link1",
                                          OVwStatusMajor, 3, 0);
        member_ = object("P", "Fab;OTHER_PROTOCOL;mgr;1");
        memberSymbol_ = OVwCreateConnSymbol(map, member_, mgrSymbol_, fabSymbol_, "Connection:Generic", nullptr,
                                            OVwStatusNormal, 3, 0);
        orphan_ = object("OTHER_PROTOCOL", "orphan");
        other_ = object("OTHER_PROTOCOL", "other");

        OVwFieldId unique = OVwDbFieldNameToFieldId("UniqueName");
        OVwFieldId arcIndex = OVwDbFieldNameToFieldId("SanArcIndex");
        OVwFieldId isGraph = OVwDbCreateField("isGraph", OVwBooleanField, 16);
        ASSERT_NE(unique, 0);
        ASSERT_NE(arcIndex, 0);
        ASSERT_NE(isGraph, 0);
        EXPECT_EQ(OVwDbSetFieldStringValue(h1_, unique, "shared"), 0);
        EXPECT_EQ(OVwDbSetFieldStringValue(disk_, unique, "shared"), 0);
        EXPECT_EQ(OVwDbSetFieldStringValue(other_, unique, "shared-not"), 0);
        EXPECT_EQ(OVwDbSetFieldStringValue(sw1_, unique, "Usw1"), 0);
        EXPECT_EQ(OVwDbSetFieldIntegerValue(link_, arcIndex, 7), 0);
        EXPECT_EQ(OVwDbSetFieldBooleanValue(san_, isGraph, 1), 0);
        EXPECT_EQ(OVwDbSetFieldBooleanValue(fab_, isGraph, 1), 0);
        EXPECT_EQ(OVwDbSetFieldBooleanValue(sw1_, isGraph, 0), 0);

        for (int id : {sanSubmap_, fabSubmap_, sanSymbol_, fabSymbol_, sw1Symbol_, h1Symbol_, diskSymbol_, mgrSymbol_,
                       linkSymbol_, memberSymbol_})
            ASSERT_NE(id, 0) << OVwErrorMsg(OVwError());
        OVwFreeMapInfo(map);
        ASSERT_EQ(OVwDone(), 0);
    }

    RunResult tqmap(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {tqtest::binPath("tqmap"), "--db", db_});
        return tqtest::run(args);
    }

    tqtest::TempRoot root_;
    std::string db_;
    int rootSubmap_ = 0, sanSubmap_ = 0, fabSubmap_ = 0;
    int san_ = 0, fab_ = 0, sw1_ = 0, h1_ = 0, disk_ = 0, mgr_ = 0, link_ = 0, member_ = 0, orphan_ = 0, other_ = 0;
    int sanSymbol_ = 0, fabSymbol_ = 0, sw1Symbol_ = 0, h1Symbol_ = 0, diskSymbol_ = 0, mgrSymbol_ = 0;
    int linkSymbol_ = 0, memberSymbol_ = 0;
};

// ---- tree -------------------------------------------------------------------------

TEST_F(TqmapTest, TreeNestsGraphsAndShowsStatusesAndConnections)
{
    RunResult r = tqmap({"tree"});
    ASSERT_EQ(r.exitCode, 0) << r.err;

    std::string san = lineWith(r.out, "graph \"SAN\"");
    std::string fab = lineWith(r.out, "graph \"Fab\"");
    std::string sw1 = lineWith(r.out, "vertex \"sw1\"");
    std::string disk = lineWith(r.out, "vertex \"disk\"");
    std::string mgr = lineWith(r.out, "vertex \"mgr\"");
    ASSERT_FALSE(san.empty()) << r.out;
    ASSERT_FALSE(fab.empty()) << r.out;
    ASSERT_FALSE(sw1.empty()) << r.out;
    ASSERT_FALSE(mgr.empty()) << r.out;
    // Each graph's contents sit deeper than the graph; siblings align.
    EXPECT_LT(indentOf(san), indentOf(fab));
    EXPECT_LT(indentOf(fab), indentOf(sw1));
    EXPECT_EQ(indentOf(fab), indentOf(mgr));
    EXPECT_EQ(indentOf(sw1), indentOf(disk));
    // The devices of Fab are listed after Fab and before the SAN-level vertex.
    EXPECT_LT(r.out.find(fab), r.out.find(sw1));

    EXPECT_NE(sw1.find("critical"), std::string::npos) << sw1;
    EXPECT_NE(sw1.find("Connector:FC Switch"), std::string::npos) << sw1;
    EXPECT_NE(sw1.find("OTHER_PROTOCOL;sw1;"), std::string::npos) << sw1;
    EXPECT_NE(disk.find("marginal"), std::string::npos) << disk;
    EXPECT_NE(lineWith(r.out, "vertex \"h1\"").find("normal"), std::string::npos);

    std::string link = lineWith(r.out, "\"h1\" -- \"sw1\"");
    ASSERT_FALSE(link.empty()) << r.out;
    EXPECT_NE(link.find("label \"link1\""), std::string::npos) << link;
    EXPECT_NE(link.find("major"), std::string::npos) << link;
    EXPECT_GT(indentOf(link), indentOf(fab));
    EXPECT_FALSE(lineWith(r.out, "\"mgr\" -- \"Fab\"").empty()) << r.out;

    // Counts, and the object that has no symbol.
    EXPECT_NE(r.out.find("Symbols: 2 graphs, 4 vertices, 2 connections"), std::string::npos) << r.out;
    std::string orphan = lineWith(r.out, "OTHER_PROTOCOL;orphan;");
    EXPECT_NE(orphan.find("object " + std::to_string(orphan_)), std::string::npos) << r.out;
    EXPECT_GT(r.out.find(orphan), r.out.find("Objects without a symbol"));
}

TEST_F(TqmapTest, TreeShowsFieldValuesOnlyWhenAsked)
{
    RunResult plain = tqmap({"tree"});
    RunResult full = tqmap({"tree", "--fields"});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;
    ASSERT_EQ(full.exitCode, 0) << full.err;
    EXPECT_EQ(plain.out.find("UniqueName"), std::string::npos);

    // The value lines follow their own symbol's line.
    std::vector<std::string> lines = tqtest::splitLines(full.out);
    auto at = [&](const std::string &needle) {
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i].find(needle) != std::string::npos)
                return i;
        return lines.size();
    };
    size_t sw1 = at("vertex \"sw1\"");
    ASSERT_LT(sw1 + 2, lines.size()) << full.out;
    std::string block = lines[sw1 + 1] + "\n" + lines[sw1 + 2];
    EXPECT_NE(block.find("UniqueName = \"Usw1\""), std::string::npos) << full.out;
    EXPECT_NE(block.find("isGraph = false"), std::string::npos) << full.out;
    EXPECT_NE(full.out.find("SanArcIndex = 7"), std::string::npos) << full.out;
}

// ---- dot, svg, png ------------------------------------------------------------------

TEST_F(TqmapTest, DotNestsClustersAndDrawsEdgesAndLegend)
{
    RunResult r = tqmap({"dot"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string &dot = r.out;

    // Brace depth at which each cluster opens: Fab's inside SAN's inside the root's.
    auto depthAt = [&](const std::string &needle) {
        size_t pos = dot.find(needle);
        if (pos == std::string::npos)
            return -1;
        int depth = 0;
        for (size_t i = 0; i < pos; ++i)
            depth += dot[i] == '{' ? 1 : dot[i] == '}' ? -1 : 0;
        return depth;
    };
    int rootDepth = depthAt("subgraph cluster_" + std::to_string(rootSubmap_) + " ");
    int sanDepth = depthAt("subgraph cluster_" + std::to_string(sanSubmap_) + " ");
    int fabDepth = depthAt("subgraph cluster_" + std::to_string(fabSubmap_) + " ");
    ASSERT_GT(rootDepth, 0) << dot;
    EXPECT_EQ(sanDepth, rootDepth + 1) << dot;
    EXPECT_EQ(fabDepth, sanDepth + 1) << dot;
    // sw1 lies inside Fab's cluster.
    EXPECT_EQ(depthAt("s" + std::to_string(sw1Symbol_) + " ["), fabDepth + 1) << dot;

    // Shapes by symbol class, fill by status.
    std::string sw1 = lineWith(dot, "s" + std::to_string(sw1Symbol_) + " [");
    std::string h1 = lineWith(dot, "s" + std::to_string(h1Symbol_) + " [");
    std::string disk = lineWith(dot, "s" + std::to_string(diskSymbol_) + " [");
    EXPECT_NE(sw1.find("shape=box"), std::string::npos) << sw1;
    EXPECT_NE(h1.find("shape=ellipse"), std::string::npos) << h1;
    EXPECT_NE(disk.find("shape=cylinder"), std::string::npos) << disk;
    auto fill = [](const std::string &line) {
        size_t p = line.find("fillcolor=\"");
        return p == std::string::npos ? std::string() : line.substr(p + 11, 7);
    };
    EXPECT_NE(fill(sw1), fill(h1));
    EXPECT_NE(fill(sw1), fill(disk));
    EXPECT_NE(fill(h1), fill(disk));

    // Edges with their labels. A graph's symbol sits on the submap it is on,
    // not inside the cluster of the submap it holds, which a dotted line ties
    // to it; an edge to the graph ends at its symbol.
    std::string link = lineWith(dot, "s" + std::to_string(h1Symbol_) + " -- s" + std::to_string(sw1Symbol_));
    EXPECT_NE(link.find("label=\"link1\""), std::string::npos) << dot;
    EXPECT_EQ(depthAt("s" + std::to_string(fabSymbol_) + " ["), sanDepth + 1) << dot;
    std::string member = lineWith(dot, "s" + std::to_string(mgrSymbol_) + " -- s" + std::to_string(fabSymbol_));
    EXPECT_EQ(member.find("lhead="), std::string::npos) << dot;
    std::string tie = lineWith(dot, "s" + std::to_string(fabSymbol_) + " -- s");
    EXPECT_NE(tie.find("style=dotted"), std::string::npos) << dot;
    EXPECT_NE(tie.find("lhead=cluster_" + std::to_string(fabSubmap_)), std::string::npos) << dot;

    // The legend names each status with the colour its nodes use.
    ASSERT_NE(dot.find("subgraph cluster_legend"), std::string::npos);
    std::string legend = dot.substr(dot.find("subgraph cluster_legend"));
    auto legendColour = [&](const std::string &status) {
        size_t at = legend.find(">" + status + "<");
        size_t p = legend.rfind("bgcolor=\"", at);
        return at == std::string::npos || p == std::string::npos ? std::string() : legend.substr(p + 9, 7);
    };
    EXPECT_EQ(legendColour("critical"), fill(sw1)) << legend;
    EXPECT_EQ(legendColour("normal"), fill(h1)) << legend;
    EXPECT_EQ(legendColour("marginal"), fill(disk)) << legend;
    EXPECT_FALSE(legendColour("major").empty()) << legend;
}

TEST_F(TqmapTest, DotToAFileWritesWhatStandardOutputShows)
{
    RunResult toStdout = tqmap({"dot"});
    std::string file = root_.file("out/map.dot");
    tqtest::writeFile(root_.file("out/.keep"), "");
    RunResult toFile = tqmap({"dot", "-o", file});
    ASSERT_EQ(toFile.exitCode, 0) << toFile.err;
    EXPECT_TRUE(toFile.out.empty());
    EXPECT_EQ(tqtest::readFile(file), toStdout.out);
}

TEST_F(TqmapTest, SvgAndPngAreRenderedPictures)
{
    std::string svg = root_.file("map.svg");
    std::string png = root_.file("map.png");
    RunResult a = tqmap({"svg", "-o", svg});
    RunResult b = tqmap({"png", "-o", png});
    ASSERT_EQ(a.exitCode, 0) << a.err;
    ASSERT_EQ(b.exitCode, 0) << b.err;

    std::string s = tqtest::readFile(svg);
    EXPECT_NE(s.find("<svg"), std::string::npos);
    EXPECT_NE(s.find(">sw1<"), std::string::npos);
    EXPECT_NE(s.find(">link1<"), std::string::npos);

    std::string p = tqtest::readFile(png);
    ASSERT_GT(p.size(), 24u);
    EXPECT_EQ(p.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(p.substr(12, 4), "IHDR");
}

TEST_F(TqmapTest, PictureCommandsNeedAnOutputAndAWritablePlace)
{
    RunResult noOutput = tqmap({"png"});
    EXPECT_EQ(noOutput.exitCode, 2);
    RunResult badDir = tqmap({"svg", "-o", root_.file("no/such/dir/map.svg")});
    EXPECT_EQ(badDir.exitCode, 1);
    EXPECT_FALSE(badDir.err.empty());
}

// ---- objects ----------------------------------------------------------------------

TEST_F(TqmapTest, ObjectsFindsExactlyTheObjectsWithThatValue)
{
    RunResult r = tqmap({"objects", "--field", "UniqueName", "--value", "shared"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(linesStartingWith(r.out, "object "), 2) << r.out;
    EXPECT_NE(r.out.find("object " + std::to_string(h1_) + "  OTHER_PROTOCOL;h1;"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("object " + std::to_string(disk_) + "  OTHER_PROTOCOL;disk;"), std::string::npos);
    EXPECT_EQ(r.out.find(";other;"), std::string::npos) << r.out;
    EXPECT_EQ(countOf(r.out, "UniqueName = \"shared\""), 2);

    // Integers and booleans are matched by their value; every field is shown.
    RunResult byInt = tqmap({"objects", "--field", "SanArcIndex", "--value", "7"});
    ASSERT_EQ(byInt.exitCode, 0) << byInt.err;
    EXPECT_NE(byInt.out.find("object " + std::to_string(link_) + " "), std::string::npos) << byInt.out;
    RunResult byBool = tqmap({"objects", "--field", "isGraph", "--value", "true"});
    ASSERT_EQ(byBool.exitCode, 0) << byBool.err;
    EXPECT_NE(byBool.out.find("object " + std::to_string(san_) + " "), std::string::npos);
    EXPECT_NE(byBool.out.find("object " + std::to_string(fab_) + " "), std::string::npos);
    EXPECT_EQ(byBool.out.find("object " + std::to_string(sw1_) + " "), std::string::npos) << byBool.out;
    RunResult byFalse = tqmap({"objects", "--field", "isGraph", "--value", "false"});
    EXPECT_NE(byFalse.out.find("object " + std::to_string(sw1_) + " "), std::string::npos) << byFalse.out;
    EXPECT_NE(byFalse.out.find("UniqueName = \"Usw1\""), std::string::npos) << byFalse.out;
}

TEST_F(TqmapTest, ObjectsReportsNothingFoundAndBadQueriesApart)
{
    RunResult none = tqmap({"objects", "--field", "UniqueName", "--value", "nobody"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("no object"), std::string::npos) << none.err;

    RunResult unknown = tqmap({"objects", "--field", "NoSuchField", "--value", "x"});
    EXPECT_EQ(unknown.exitCode, 2);
    EXPECT_NE(unknown.err.find("NoSuchField"), std::string::npos) << unknown.err;

    RunResult notNumber = tqmap({"objects", "--field", "SanArcIndex", "--value", "7x"});
    EXPECT_EQ(notNumber.exitCode, 2);
    RunResult missingValue = tqmap({"objects", "--field", "UniqueName"});
    EXPECT_EQ(missingValue.exitCode, 2);
}

// ---- read-only, missing and wrong databases ------------------------------------------

TEST_F(TqmapTest, ReadingCommandsLeaveTheDatabaseByteIdentical)
{
    const std::string before = tqtest::readFile(db_);
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(tqmap({"tree", "--fields"}).exitCode, 0);
    EXPECT_EQ(tqmap({"dot"}).exitCode, 0);
    EXPECT_EQ(tqmap({"objects", "--field", "UniqueName", "--value", "shared"}).exitCode, 0);
    EXPECT_EQ(tqmap({"svg", "-o", root_.file("x.svg")}).exitCode, 0);
    EXPECT_TRUE(tqtest::readFile(db_) == before);
}

TEST_F(TqmapTest, AMissingDatabaseIsAnErrorAndIsNeverCreated)
{
    std::string missing = root_.file("nowhere/map.db");
    for (std::vector<std::string> args :
         {std::vector<std::string>{"tree"}, {"dot"}, {"svg", "-o", root_.file("m.svg")},
          {"png", "-o", root_.file("m.png")}, {"objects", "--field", "UniqueName", "--value", "x"},
          {"post", "end-session"}, {"post", "delete-symbols", "3"}}) {
        args.insert(args.begin(), {tqtest::binPath("tqmap"), "--db", missing});
        RunResult r = tqtest::run(args);
        EXPECT_EQ(r.exitCode, 2) << args[3];
        EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
        EXPECT_FALSE(tqtest::fileExists(missing)) << args[3];
    }
    EXPECT_FALSE(tqtest::fileExists(root_.file("nowhere")));
    EXPECT_FALSE(tqtest::fileExists(root_.file("m.svg")));
}

TEST_F(TqmapTest, WithoutDbOptionTheDatabaseComesFromTheEnvironment)
{
    // OVW_MAPDB names it ...
    RunResult viaEnv = tqtest::run({tqtest::binPath("tqmap"), "tree"}, {{"OVW_MAPDB", db_}});
    ASSERT_EQ(viaEnv.exitCode, 0) << viaEnv.err;
    EXPECT_NE(viaEnv.out.find("graph \"Fab\""), std::string::npos);

    // ... else it is <TQ_ROOT>/usr/ov/databases/tqmap.db, which is not created.
    unsetenv("OVW_MAPDB");
    RunResult none = tqtest::run({tqtest::binPath("tqmap"), "tree"});
    EXPECT_EQ(none.exitCode, 2);
    EXPECT_NE(none.err.find(root_.file("usr/ov/databases/tqmap.db")), std::string::npos) << none.err;
    EXPECT_FALSE(tqtest::fileExists(root_.file("usr")));

    tqtest::writeFile(root_.file("usr/ov/databases/tqmap.db"), tqtest::readFile(db_));
    RunResult viaRoot = tqtest::run({tqtest::binPath("tqmap"), "tree"});
    ASSERT_EQ(viaRoot.exitCode, 0) << viaRoot.err;
    EXPECT_NE(viaRoot.out.find("vertex \"sw1\""), std::string::npos);
}

TEST_F(TqmapTest, AFileThatIsNotAMapDatabaseIsRefused)
{
    std::string text = root_.file("notes.txt");
    tqtest::writeFile(text, "this is not a database\n");
    RunResult r = tqtest::run({tqtest::binPath("tqmap"), "--db", text, "tree"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("not a map database"), std::string::npos) << r.err;
    EXPECT_EQ(tqtest::readFile(text), "this is not a database\n");

    RunResult dir = tqtest::run({tqtest::binPath("tqmap"), "--db", root_.path(), "dot"});
    EXPECT_EQ(dir.exitCode, 2);

    // Posting to it is refused as well, and leaves it as it was.
    RunResult post = tqtest::run({tqtest::binPath("tqmap"), "--db", text, "post", "end-session"});
    EXPECT_EQ(post.exitCode, 2);
    EXPECT_NE(post.err.find("not a map database"), std::string::npos) << post.err;
    EXPECT_EQ(tqtest::readFile(text), "this is not a database\n");
}

// ---- post -------------------------------------------------------------------------------

TEST_F(TqmapTest, PostDeleteSymbolsRemovesTheSymbolItsConnectionsAndQueuesTheEvent)
{
    long long eventsBefore = queryInt(db_, "SELECT COUNT(*) FROM events WHERE code = 14");
    RunResult r = tqmap({"post", "delete-symbols", std::to_string(sw1Symbol_)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    // It answers with what it posted: the object each symbol stood for.
    EXPECT_NE(r.out.find("  symbol " + std::to_string(sw1Symbol_) + ": OTHER_PROTOCOL;sw1;default\n"),
              std::string::npos)
        << r.out;

    EXPECT_EQ(queryInt(db_, "SELECT COUNT(*) FROM symbols WHERE id = " + std::to_string(sw1Symbol_)), 0);
    // The connection that ended at it went with it; the other one stays.
    EXPECT_EQ(queryInt(db_, "SELECT COUNT(*) FROM symbols WHERE id = " + std::to_string(linkSymbol_)), 0);
    EXPECT_EQ(queryInt(db_, "SELECT COUNT(*) FROM symbols WHERE id = " + std::to_string(memberSymbol_)), 1);
    // The object stays: only an object deletion removes it.
    EXPECT_EQ(queryInt(db_, "SELECT COUNT(*) FROM objects WHERE id = " + std::to_string(sw1_)), 1);
    EXPECT_EQ(queryInt(db_, "SELECT COUNT(*) FROM events WHERE code = 14"), eventsBefore + 1);

    RunResult tree = tqmap({"tree"});
    EXPECT_EQ(tree.out.find("vertex \"sw1\""), std::string::npos) << tree.out;
    EXPECT_NE(tree.out.find("OTHER_PROTOCOL;sw1;"), std::string::npos) << "listed among objects without a symbol";
}

TEST_F(TqmapTest, TreeGivesTheObjectIdsThatDeleteObjectsTakes)
{
    RunResult tree = tqmap({"tree"});
    const std::string sw1 = lineWith(tree.out, "vertex \"sw1\"");
    EXPECT_NE(sw1.find("object " + std::to_string(sw1_) + " "), std::string::npos) << sw1;
    EXPECT_NE(lineWith(tree.out, "label \"link1\"").find("object " + std::to_string(link_) + " "), std::string::npos);

    RunResult r = tqmap({"post", "delete-objects", std::to_string(sw1_)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("  object " + std::to_string(sw1_) + ": OTHER_PROTOCOL;sw1;default\n"), std::string::npos)
        << r.out;
}

TEST_F(TqmapTest, ADriveInOvwMapdbMapsAsTheDaemonMapsIt)
{
    // The daemon writes C:\maps\test.db under TQ_ROOT; tqmap reads the same file.
    RunResult r = tqtest::run({tqtest::binPath("tqmap"), "tree"}, {{"OVW_MAPDB", "C:\\maps\\test.db"}});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("graph \"Fab\""), std::string::npos);
}

TEST_F(TqmapTest, PostEventsWithoutIdsQueueOneEventEach)
{
    long long before = queryInt(db_, "SELECT COUNT(*) FROM events");
    long long symbols = queryInt(db_, "SELECT COUNT(*) FROM symbols");
    ASSERT_EQ(tqmap({"post", "map-close"}).exitCode, 0);
    ASSERT_EQ(tqmap({"post", "map-open"}).exitCode, 0);
    ASSERT_EQ(tqmap({"post", "end-session"}).exitCode, 0);
    EXPECT_EQ(queryInt(db_, "SELECT COUNT(*) FROM events"), before + 3);
    EXPECT_EQ(queryInt(db_, "SELECT code FROM events ORDER BY id DESC LIMIT 1"), OVwEventEndSession);
    // Posting touches neither symbols nor objects.
    EXPECT_EQ(queryInt(db_, "SELECT COUNT(*) FROM symbols"), symbols);
}

TEST_F(TqmapTest, PostRefusesMalformedRequestsWithoutWriting)
{
    long long before = queryInt(db_, "SELECT COUNT(*) FROM events");
    const std::string bytes = tqtest::readFile(db_);
    EXPECT_EQ(tqmap({"post", "delete-symbols"}).exitCode, 2);
    EXPECT_EQ(tqmap({"post", "end-session", "5"}).exitCode, 2);
    EXPECT_EQ(tqmap({"post", "reboot"}).exitCode, 2);
    EXPECT_EQ(tqmap({"post", "delete-objects", "-4"}).exitCode, 2);
    EXPECT_EQ(tqmap({"post"}).exitCode, 2);
    EXPECT_EQ(queryInt(db_, "SELECT COUNT(*) FROM events"), before);
    EXPECT_TRUE(tqtest::readFile(db_) == bytes);
}

// ---- usage ------------------------------------------------------------------------------

// ---- the map as it was ----------------------------------------------------------------

TEST_F(TqmapTest, TreeAtATimeTakesEveryTimeFormAndRefusesTimesItCannotShow)
{
    const RunResult now = tqmap({"tree"});
    ASSERT_EQ(now.exitCode, 0) << now.err;
    RunResult json = tqmap({"tree", "--json", "--at", "now"});
    ASSERT_EQ(json.exitCode, 0) << json.err;
    const int64_t at = nlohmann::json::parse(json.out)["at"].get<int64_t>();
    struct Case {
        std::string time;
        int exitCode;
        std::string says;   // on standard output, or standard error on a refusal
    };
    const std::string iso = mapdb::utcTime(at);   // 2026-01-31T12:00:00.250Z
    for (const Case &c : std::vector<Case>{
             {std::to_string(at), 0, "The map as it was at " + iso},
             {iso, 0, "The map as it was at " + iso},
             {iso.substr(0, 23) + "+00:00", 0, "The map as it was at " + iso},
             {"now", 0, "The map as it was at "},
             {"2000-01-31 12:00", 2, "the history reaches back to "},
             {"1d", 2, "the history reaches back to "},
             {"yesterday", 2, "not 'yesterday'"},
             {"2026-13-01T00:00Z", 2, "not '2026-13-01T00:00Z'"},
         }) {
        RunResult r = tqmap({"tree", "--at", c.time});
        EXPECT_EQ(r.exitCode, c.exitCode) << c.time << ": " << r.err;
        EXPECT_NE((c.exitCode == 0 ? r.out : r.err).find(c.says), std::string::npos) << c.time << ": " << r.out << r.err;
        if (c.exitCode == 0) {
            EXPECT_EQ(r.out.substr(r.out.find('\n') + 1), now.out) << c.time;
        }
    }
}

TEST(TqmapUsage, HelpListsTheCommandsAndUsageErrorsExitWithTwo)
{
    RunResult help = tqtest::run({tqtest::binPath("tqmap"), "--help"});
    EXPECT_EQ(help.exitCode, 0);
    for (const char *cmd : {"tree", "dot", "svg", "png", "export", "objects", "post", "--db"})
        EXPECT_NE(help.out.find(cmd), std::string::npos) << cmd;

    EXPECT_EQ(tqtest::run({tqtest::binPath("tqmap")}).exitCode, 2);
    for (std::vector<std::string> args : {std::vector<std::string>{"bogus"}, {"--db", "x.db", "bogus", "tree"}}) {
        args.insert(args.begin(), tqtest::binPath("tqmap"));
        RunResult unknown = tqtest::run(args);
        EXPECT_EQ(unknown.exitCode, 2);
        EXPECT_NE(unknown.err.find("unknown command 'bogus'"), std::string::npos) << unknown.err;
    }
    EXPECT_EQ(tqtest::run({tqtest::binPath("tqmap"), "tree", "--no-such-flag"}).exitCode, 2);
}

// ---- copy ---------------------------------------------------------------------------

TEST_F(TqmapTest, CopyMakesAnEqualMapAndNeverOverwritesOneUnasked)
{
    const std::string copy = root_.file("maps/copy.db"), missing = root_.file("maps/none.db");
    // What the map holds, with every id: symbols (#N), objects, field
    // values, and the history of changes.
    auto views = [](const std::string &db) {
        return tqtest::run({tqtest::binPath("tqmap"), "--db", db, "tree", "--fields"}).out +
               tqtest::run({tqtest::binPath("tqmap"), "--db", db, "changes", "--json"}).out;
    };
    const std::string original = views(db_);
    ASSERT_NE(original.find("#1"), std::string::npos) << original;
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char *says;
    } cases[] = {
        {{db_, copy}, 0, "the copy equals the original"},
        {{db_, copy}, 1, "already holds a map"},
        {{db_, copy, "--replace"}, 0, "the copy equals the original"},
        {{copy, copy, "--replace"}, 1, "onto itself"},
        {{missing, root_.file("maps/other.db")}, 1, "cannot open"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> argv = {tqtest::binPath("tqmap"), "copy"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        RunResult r = tqtest::run(argv);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.args[1] << r.err;
        EXPECT_NE((r.out + r.err).find(c.says), std::string::npos) << r.out << r.err;
        EXPECT_EQ(views(copy), original);
    }
    EXPECT_FALSE(tqtest::fileExists(missing));
    EXPECT_FALSE(tqtest::fileExists(root_.file("maps/other.db")));
}

}  // namespace
