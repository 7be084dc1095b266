// Graph and content-ID messages end to end: JSON lines, tqstream encode, the
// daemon on the stream, then the map database file read back with SQLite.
#include "e2e/inprocess.h"
#include "mapdb/testhooks.h"
#include "host/hostpath.h"
#include "ovw/ovw.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using json = nlohmann::ordered_json;

json graphLine(const std::string &name, const json &parent, const json &moid, const json &icon,
               const json &label, const json &uniqueId, const json &contents = json::array(), int end = 1,
               const std::string &protocol = "SAN")
{
    return json{{"type", "graph"},
                {"moid", moid},
                {"parent_protocol", parent.is_null() ? json(nullptr) : json("SAN")},
                {"parent_name", parent},
                {"protocol", protocol},
                {"name", name},
                {"layout", "1"},
                {"background", nullptr},
                {"icon", icon},
                {"label", label},
                {"details", nullptr},
                {"unique_id", uniqueId},
                {"contents", contents},
                {"end", end}};
}

json rootGraph(const std::string &name)
{
    return graphLine(name, nullptr, "moid-" + name, nullptr, name, "uid-" + name);
}

json graphIn(const std::string &parent, const std::string &name, const std::string &protocol = "SAN")
{
    return graphLine(name, parent, "moid-" + name, nullptr, name, "uid-" + name, json::array(), 1, protocol);
}

json vertexIn(const std::string &graph, const std::string &name)
{
    return json{{"type", "vertex"},   {"identifier", 2}, {"graph_protocol", "SAN"}, {"graph_name", graph},
                {"protocol", "1"},    {"name", name},    {"status", "3"},           {"icon", nullptr},
                {"label", name},      {"details", nullptr}, {"unique_id", "uid-" + name}};
}

// An arc in G between two endpoint texts ("IP:x" a graph of protocol IP,
// "NULL:1" a vertex of protocol 1).
json arcIn(const std::string &graph, const std::string &binding, const std::string &a, const std::string &aName,
           const std::string &z, const std::string &zName, const std::string &id)
{
    return json{{"type", "arc"},        {"moid", "arc-" + id}, {"graph_protocol", "SAN"}, {"graph_name", graph},
                {"binding", binding},   {"a_endpoint", a},     {"a_name", aName},         {"z_endpoint", z},
                {"z_name", zName},      {"arc_id", id},        {"icon", nullptr},         {"label", "arc-" + id},
                {"details", nullptr},   {"status", "3"}};
}

json entry(const std::string &kind, const std::string &protocol, const std::string &name)
{
    return json{{"kind", kind}, {"protocol", protocol}, {"name", name}};
}

json contentIds(const std::string &graph, const json &contents, int end)
{
    return json{{"type", "content_ids"}, {"protocol", "SAN"}, {"name", graph}, {"contents", contents}, {"end", end}};
}

json part(const std::string &type, const json &contents, int end)
{
    return json{{"type", type}, {"contents", contents}, {"end", end}};
}

// Read-only queries on the map database file.
class MapFile {
public:
    explicit MapFile(const std::string &path)
    {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db_);
            db_ = nullptr;
        }
    }
    ~MapFile() { sqlite3_close(db_); }
    MapFile(const MapFile &) = delete;
    MapFile &operator=(const MapFile &) = delete;
    bool ok() const { return db_ != nullptr; }

    // First column of the first row, null when there is no row or the value is NULL.
    std::optional<std::string> value(const std::string &sql, const std::vector<std::string> &args = {}) const
    {
        sqlite3_stmt *st = nullptr;
        std::optional<std::string> out;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
            return std::string("<sql error: ") + sqlite3_errmsg(db_) + ">";
        for (size_t i = 0; i < args.size(); ++i)
            sqlite3_bind_text(st, static_cast<int>(i + 1), args[i].c_str(), -1, SQLITE_TRANSIENT);
        if (sqlite3_step(st) == SQLITE_ROW && sqlite3_column_type(st, 0) != SQLITE_NULL)
            out = reinterpret_cast<const char *>(sqlite3_column_text(st, 0));
        sqlite3_finalize(st);
        return out;
    }
    int number(const std::string &sql, const std::vector<std::string> &args = {}) const
    {
        std::optional<std::string> v = value(sql, args);
        return v ? std::atoi(v->c_str()) : -1;
    }

    int object(const std::string &selectionName) const
    {
        return number("SELECT id FROM objects WHERE selection_name = ?", {selectionName});
    }
    int rootSubmap() const { return number("SELECT root_submap FROM map"); }
    int childSubmap(int object) const
    {
        return number("SELECT id FROM submaps WHERE parent_object = ?", {std::to_string(object)});
    }
    int symbolsOn(int object, int submap) const
    {
        return number("SELECT count(*) FROM symbols WHERE object = ? AND submap = ?",
                      {std::to_string(object), std::to_string(submap)});
    }
    // Whether the member has a symbol on the graph's submap.
    bool shownIn(int member, int graph) const { return member > 0 && symbolsOn(member, childSubmap(graph)) > 0; }
    int connections(int object) const
    {
        return number("SELECT count(*) FROM symbols WHERE object = ? AND variety = 2", {std::to_string(object)});
    }
    std::optional<std::string> field(int object, const std::string &name) const
    {
        return value("SELECT fv.text_value FROM field_values fv JOIN fields f ON f.id = fv.field "
                     "WHERE fv.object = ? AND f.name = ?",
                     {std::to_string(object), name});
    }
    std::optional<std::string> symbolColumn(int object, int submap, const std::string &column) const
    {
        return value("SELECT " + column + " FROM symbols WHERE object = ? AND submap = ?",
                     {std::to_string(object), std::to_string(submap)});
    }
    int count(const std::string &table) const { return number("SELECT count(*) FROM " + table); }

private:
    sqlite3 *db_ = nullptr;
};

class GraphMessagesE2E : public ::testing::Test {
protected:
    tqtest::TempRoot root_;

    void SetUp() override
    {
        unsetenv("OVW_MAPDB");
        root_.writeServices("TQDAEMON 0/tcp\n");
    }

    std::string dbPath() const { return root_.file("usr/ov/databases/tqmap.db"); }
    std::string trace() const { return tqtest::readFile(root_.file("tq_std.trc")); }
    std::string messageLog() const { return tqtest::readFile(root_.file("usr/ov/log/tqdaemon.log")); }

    // Encodes the lines into the daemon's stream file and runs the daemon to
    // the end of the stream; false (with the failure recorded) when a step fails.
    bool encode(const std::vector<json> &lines)
    {
        std::string text;
        for (const json &line : lines)
            text += line.dump() + "\n";
        tqtest::writeFile(root_.file("in.jsonl"), text);
        tqtest::RunResult enc = tqtest::run(
            {tqtest::binPath("tqstream"), "encode", "-i", root_.file("in.jsonl"), "-o", root_.file("tqdaemon.file")});
        EXPECT_EQ(enc.exitCode, 0) << enc.err;
        return enc.exitCode == 0;
    }

    bool run(const std::vector<json> &lines)
    {
        if (!encode(lines))
            return false;
        tqtest::RunResult daemon = tqtest::run({tqtest::binPath("tqdaemon")}, {{"TQ_ROOT", root_.path()}});
        EXPECT_EQ(daemon.exitCode, 0) << daemon.err;
        return daemon.exitCode == 0;
    }

    // Sets a vertex's ParentNameList through the platform, between two runs.
    void setParents(const std::string &selectionName, const std::vector<std::string> &names)
    {
        setenv("OVW_MAPDB", dbPath().c_str(), 1);
        ASSERT_EQ(OVwInit(), 0);
        const OVwObjectId object = OVwDbSelectionNameToObjectId(selectionName.c_str());
        ASSERT_NE(object, 0);
        std::vector<OVwFieldValue> elements(names.size() + 1);
        for (size_t i = 0; i < names.size(); ++i) {
            elements[i].field_type = OVwStringField;
            elements[i].un.string_val = const_cast<char *>(names[i].c_str());
        }
        OVwFieldValue list{};
        list.is_list = 1;
        list.field_type = OVwStringField;
        list.un.list_val = elements.data();
        list.list_count = static_cast<int32_t>(names.size());
        EXPECT_EQ(OVwDbSetFieldValue(object, OVwDbFieldNameToFieldId("ParentNameList"), &list), 0);
        ASSERT_EQ(OVwDone(), 0);
        unsetenv("OVW_MAPDB");
    }
};

TEST_F(GraphMessagesE2E, RootGraphIsCreatedThenUpdatedByTheSameMessage)
{
    root_.writeOidToSym("1.1:Cls:One\n1.2:Cls:Two\n");
    ASSERT_TRUE(run({graphLine("G", nullptr, "moid-1", "1.1", "first", "uid-1"),
                     graphLine("G", nullptr, "moid-2", "1.2", "second", "uid-2"),
                     graphLine("H", nullptr, nullptr, nullptr, "H", "uid-h")}));
    MapFile map(dbPath());
    ASSERT_TRUE(map.ok());
    const int g = map.object("SAN;G;default");
    ASSERT_GT(g, 0);
    EXPECT_GT(map.childSubmap(g), 0);
    EXPECT_EQ(map.symbolsOn(g, map.rootSubmap()), 1);
    EXPECT_EQ(map.symbolColumn(g, map.rootSubmap(), "symbol_type"), "Cls:Two");
    EXPECT_EQ(map.symbolColumn(g, map.rootSubmap(), "label"), "second");
    EXPECT_EQ(map.field(g, "MoidString"), "moid-2");
    EXPECT_EQ(map.field(g, "UniqueName"), "uid-2");
    EXPECT_EQ(map.field(g, "TQObjectName"), "G");
    const int h = map.object("SAN;H;default");
    EXPECT_EQ(map.field(h, "MoidString"), "H");
    EXPECT_EQ(map.number("SELECT count(*) FROM submaps WHERE parent_object = ?", {std::to_string(g)}), 1);
}

TEST_F(GraphMessagesE2E, SplitGraphListCreatesTheGraphOnlyWithItsLastPart)
{
    const std::vector<json> setup = {rootGraph("P"),     rootGraph("G"),     graphIn("G", "m1"),
                                     graphIn("G", "m2"), vertexIn("G", "v1"), vertexIn("G", "v2")};
    std::vector<json> firstParts = setup;
    firstParts.push_back(graphLine("G", "P", "moid-G", nullptr, "G", "uid-G2",
                                   json::array({entry("graph", "SAN", "m1")}), 3));
    firstParts.push_back(part("graph_continue", json::array({entry("vertex", "01", "v1")}), 3));
    ASSERT_TRUE(run(firstParts));
    {
        MapFile map(dbPath());
        const int p = map.object("SAN;P;default");
        const int g = map.object("SAN;G;default");
        EXPECT_FALSE(map.shownIn(g, p));
        EXPECT_TRUE(map.shownIn(map.object("SAN;m2;default"), g));
    }

    // a fresh map: the whole list, ended by its last part
    std::vector<json> all = firstParts;
    all.push_back(part("graph_continue", json::array({entry("box", "BOX", "b1")}), 1));
    std::remove(dbPath().c_str());
    ASSERT_TRUE(run(all));
    MapFile map(dbPath());
    const int p = map.object("SAN;P;default");
    const int g = map.object("SAN;G;default");
    EXPECT_TRUE(map.shownIn(g, p));
    EXPECT_EQ(map.field(g, "UniqueName"), "uid-G2");
    EXPECT_TRUE(map.shownIn(map.object("SAN;m1;default"), g));
    EXPECT_FALSE(map.shownIn(map.object("SAN;m2;default"), g));
    EXPECT_TRUE(map.shownIn(map.object("OTHER_PROTOCOL;v1;default"), g));
    EXPECT_FALSE(map.shownIn(map.object("OTHER_PROTOCOL;v2;default"), g));
}

TEST_F(GraphMessagesE2E, ContentListsRemoveWhatTheyDoNotName)
{
    ASSERT_TRUE(run({rootGraph("G"), graphIn("G", "m1", "IP"), graphIn("G", "m2"), graphIn("G", "m3"),
                     vertexIn("G", "v1"), vertexIn("G", "v2"),
                     arcIn("G", "5", "IP:x", "m1", "NULL:1", "v1", "1"),
                     arcIn("G", "5", "SAN:x", "m2", "NULL:1", "v1", "2"),
                     arcIn("G", "7", "NULL:1", "v1", "NULL:1", "v2", "3"),
                     contentIds("G",
                                json::array({entry("graph", "IP", "m1"), entry("graph", "IP", "m2"),
                                             entry("vertex", "001", "v1")}),
                                1)}));
    MapFile map(dbPath());
    const int g = map.object("SAN;G;default");
    EXPECT_TRUE(map.shownIn(map.object("IP;m1;default"), g));
    EXPECT_FALSE(map.shownIn(map.object("SAN;m2;default"), g));   // named under another protocol
    EXPECT_FALSE(map.shownIn(map.object("SAN;m3;default"), g));
    EXPECT_TRUE(map.shownIn(map.object("OTHER_PROTOCOL;v1;default"), g));
    EXPECT_FALSE(map.shownIn(map.object("OTHER_PROTOCOL;v2;default"), g));
    const int toM1 = map.object("IP;m1;OTHER_PROTOCOL;v1;1;default");
    const int toM2 = map.object("OTHER_PROTOCOL;v1;SAN;m2;2;default");
    ASSERT_TRUE(toM1 > 0 && toM2 > 0);
    EXPECT_EQ(map.connections(toM1), 1);
    EXPECT_EQ(map.connections(toM2), 0);
}

TEST_F(GraphMessagesE2E, RemovedVerticesLoseTheGraphFromTheirParentNameList)
{
    ASSERT_TRUE(run({rootGraph("G"), vertexIn("G", "v1"), vertexIn("G", "v2"), vertexIn("G", "v3")}));
    setParents("OTHER_PROTOCOL;v2;default", {"G", "Other"});
    setParents("OTHER_PROTOCOL;v3;default", {"Other"});
    ASSERT_TRUE(run({contentIds("G", json::array({entry("vertex", "1", "v1")}), 1)}));

    MapFile map(dbPath());
    const int g = map.object("SAN;G;default");
    const int v2 = map.object("OTHER_PROTOCOL;v2;default");
    const int v3 = map.object("OTHER_PROTOCOL;v3;default");
    EXPECT_TRUE(map.shownIn(map.object("OTHER_PROTOCOL;v1;default"), g));
    EXPECT_FALSE(map.shownIn(v2, g));
    EXPECT_FALSE(map.shownIn(v3, g));
    EXPECT_EQ(map.field(v2, "ParentNameList"), "[\"Other\"]");
    EXPECT_EQ(map.field(v3, "ParentNameList"), "[\"Other\"]");
    EXPECT_NE(trace().find("*******Tqdaemon Error: deleting parent from list, no parent need to be delete"),
              std::string::npos);
}

TEST_F(GraphMessagesE2E, GraphMessageDeletesTheGraphsArcsBeforeCreatingItAgain)
{
    ASSERT_TRUE(run({rootGraph("G"), vertexIn("G", "v1"), vertexIn("G", "v2"),
                     arcIn("G", "7", "NULL:1", "v1", "NULL:1", "v2", "1"), rootGraph("G")}));
    MapFile map(dbPath());
    const int g = map.object("SAN;G;default");
    EXPECT_EQ(map.connections(map.object("OTHER_PROTOCOL;v1;OTHER_PROTOCOL;v2;1;default")), 0);
    EXPECT_TRUE(map.shownIn(map.object("OTHER_PROTOCOL;v1;default"), g));
    EXPECT_EQ(map.symbolsOn(g, map.rootSubmap()), 1);
}

TEST_F(GraphMessagesE2E, OversizedTextsAreRefusedAndChangeNothing)
{
    const std::string longName(500, 'n');
    const std::string longDetails(1990, 'd');
    json bigFields = graphLine("J", nullptr, "moid-J", nullptr, "J", "uid-J");
    bigFields["details"] = longDetails;
    ASSERT_TRUE(run({rootGraph("G"), graphIn("G", "m1"), graphLine(longName, nullptr, "m", nullptr, "l", "u"),
                     bigFields,
                     contentIds("G", json::array({entry("graph", "SAN", std::string(502, 'x'))}), 1),
                     contentIds(std::string(500, 'g'), json::array(), 1)}));
    MapFile map(dbPath());
    EXPECT_EQ(map.count("objects"), 2);   // G and m1 only
    EXPECT_TRUE(map.shownIn(map.object("SAN;m1;default"), map.object("SAN;G;default")));
    const std::string text = trace();
    EXPECT_NE(text.find("processGraphMsg: graph name of 500 characters is longer than 499"), std::string::npos);
    EXPECT_NE(text.find("do not fit the 2000-byte pending area"), std::string::npos);
    EXPECT_NE(text.find("processContentIDMsg: content list refused, message dropped"), std::string::npos);
    EXPECT_NE(text.find("processContentIDMsg: graph name of 500 characters is longer than 499"), std::string::npos);
}

// ---- names that hold ';', absent identifiers, abandoned split lists ----------------------

TEST_F(GraphMessagesE2E, NamesHoldingTheSeparatorAreRefusedAndTakeNoOtherObjectsName)
{
    json moidless = arcIn("G", "7", "NULL:1", "x", "NULL:1", "y", "1");
    moidless["moid"] = nullptr;
    ASSERT_TRUE(run({rootGraph("G"), vertexIn("G", "x"), vertexIn("G", "y"),
                     // its selection name would be the one of the arc x-y with index 1
                     vertexIn("G", "x;OTHER_PROTOCOL;y;1"), arcIn("G", "7", "NULL:1", "x", "NULL:1", "y", "1"),
                     // (A;B, C) and (A, B;C) would both be "A;B;C;default"
                     graphLine("C", nullptr, "m", nullptr, "C", "u", json::array(), 1, "A;B"),
                     graphLine("B;C", nullptr, "m", nullptr, "B;C", "u", json::array(), 1, "A")}));
    MapFile map(dbPath());
    const int arc = map.object("OTHER_PROTOCOL;x;OTHER_PROTOCOL;y;1;default");
    ASSERT_GT(arc, 0);
    EXPECT_EQ(map.connections(arc), 1) << "the arc is drawn, not found as a vertex";
    EXPECT_EQ(map.field(arc, "MoidString"), "arc-1");
    EXPECT_EQ(map.field(arc, "UniqueName"), std::nullopt);
    EXPECT_EQ(map.object("A;B;C;default"), -1);
    EXPECT_EQ(map.count("objects"), 4);   // G, x, y and the arc

    const std::string log = messageLog();
    EXPECT_NE(log.find("Frame 4: vertex message (name 'x;OTHER_PROTOCOL;y;1') refused: a name contains ';'\n"),
              std::string::npos) << log;
    EXPECT_NE(log.find("Frame 6: graph message (name 'C') refused: a name contains ';'\n"), std::string::npos);
    EXPECT_NE(log.find("Frame 7: graph message (name 'B;C') refused: a name contains ';'\n"), std::string::npos);
    EXPECT_NE(log.find("Run summary: 7 frames read, 4 applied, 3 refused, 0 failed, 0 skipped"), std::string::npos);
    EXPECT_LT(log.find("Run summary:"), log.find("Ending tqdaemon.exe"));
    const std::string text = trace();
    EXPECT_NE(text.find("Cannot create graph (obj name:'C'): a name contains ';'!"), std::string::npos);
    EXPECT_EQ(text.find("no error"), std::string::npos);
    EXPECT_EQ(text.find("objId:0"), std::string::npos);
    EXPECT_NE(tqtest::readFile(root_.file("tq_n2o.trc")).find("Name contains ';'."), std::string::npos);
}

TEST_F(GraphMessagesE2E, AbsentIdentifiersKeepTheStoredOnes)
{
    json arcAgain = arcIn("G", "7", "NULL:1", "x", "NULL:1", "y", "1");
    arcAgain["moid"] = nullptr;
    json xAgain = vertexIn("G", "x");
    xAgain["unique_id"] = nullptr;
    json nameless = vertexIn("G", "z");
    nameless["name"] = nullptr;
    const json arcStatus = {{"type", "arc_status"}, {"binding", "7"},     {"a_endpoint", "NULL:1"}, {"a_name", "x"},
                            {"z_endpoint", "NULL:1"}, {"z_name", "y"},   {"arc_index", "1"},       {"status", "1"},
                            {"moid", "arc-1"}};
    const json vertexStatus = {{"type", "vertex_status"}, {"unique_id", "uid-x"}, {"name", "x"}, {"status", "2"},
                               {"state", "degraded"}};
    ASSERT_TRUE(run({rootGraph("G"), vertexIn("G", "x"), vertexIn("G", "y"),
                     arcIn("G", "7", "NULL:1", "x", "NULL:1", "y", "1"), arcAgain, xAgain, nameless, arcStatus,
                     vertexStatus}));
    MapFile map(dbPath());
    const int arc = map.object("OTHER_PROTOCOL;x;OTHER_PROTOCOL;y;1;default");
    const int x = map.object("OTHER_PROTOCOL;x;default");
    EXPECT_EQ(map.field(arc, "MoidString"), "arc-1");
    EXPECT_EQ(map.field(x, "UniqueName"), "uid-x");
    // The status messages still find both by their identifiers.
    EXPECT_EQ(map.number("SELECT status FROM symbols WHERE object = ? AND variety = 2", {std::to_string(arc)}),
              OVwStatusCritical);
    EXPECT_EQ(map.number("SELECT status FROM symbols WHERE object = ?", {std::to_string(x)}), OVwStatusMajor);
    EXPECT_EQ(map.object("OTHER_PROTOCOL;(null);default"), -1);
    EXPECT_NE(messageLog().find("Frame 7: vertex message refused: vname is absent\n"), std::string::npos)
        << messageLog();
}

TEST_F(GraphMessagesE2E, TheRestOfAnAbandonedSplitListLandsOnNoOtherGraph)
{
    ASSERT_TRUE(run({rootGraph("R"), graphIn("R", "r1"), graphIn("R", "r2"), rootGraph("R2"), graphIn("R2", "s1"),
                     graphIn("R2", "s2"),
                     contentIds("R", json::array({entry("graph", "SAN", "r1")}), 3),               // frame 7
                     contentIds("R2", json::array({entry("graph", "SAN", "s1"), entry("graph", "SAN", "s2")}), 1),
                     part("content_continue", json::array({entry("graph", "SAN", "r2")}), 1)}));  // frame 9
    MapFile map(dbPath());
    const int r = map.object("SAN;R;default");
    const int r2 = map.object("SAN;R2;default");
    EXPECT_TRUE(map.shownIn(map.object("SAN;s1;default"), r2));
    EXPECT_TRUE(map.shownIn(map.object("SAN;s2;default"), r2));
    EXPECT_TRUE(map.shownIn(map.object("SAN;r1;default"), r));
    EXPECT_TRUE(map.shownIn(map.object("SAN;r2;default"), r));
    EXPECT_NE(messageLog().find("Frame 9: content list continuation message refused: no split content list is "
                                "open\n"),
              std::string::npos)
        << messageLog();
    EXPECT_NE(trace().find("the split content list in progress is abandoned"), std::string::npos);
}

TEST_F(GraphMessagesE2E, AnOperatorsDeletionInTheTurnOfTheGraphMessageKeepsTheGraphIndexed)
{
    // P holds G; an operator deletes G's symbol just before the message that
    // shows G in P again is read; an empty content list for P follows.
    ASSERT_TRUE(encode({rootGraph("P"), graphIn("P", "G"), graphIn("P", "G"), contentIds("P", json::array(), 1)}));
    ASSERT_TRUE(ensureParentDirs(dbPath()));
    int turn = 0;
    const int code = tqcheck::runDaemonInProcess(dbPath(), [&turn] {
        if (++turn != 3)
            return;
        TopologyAdapter *ad = TopologyAdapter::instance();
        const OVwObjectId g = OVwDbSelectionNameToObjectId("SAN;G;default");
        OVwSymbolList *symbols = OVwGetSymbolsByObject(TopologyAdapterPeer::mapHandle(*ad), g);
        ASSERT_NE(symbols, nullptr);
        ASSERT_EQ(symbols->count, 1);
        const int symbol = static_cast<int>(symbols->symbols[0].symbol_id);
        OVwFreeSymbolList(symbols);
        ASSERT_EQ(mapdb::postEvent(OVwEventDeleteSymbols, {symbol}), 0);
    });
    EXPECT_EQ(code, 0);
    EXPECT_GE(turn, 4);
    MapFile map(dbPath());
    EXPECT_FALSE(map.shownIn(map.object("SAN;G;default"), map.object("SAN;P;default")))
        << "the content list must take G off P";
}

// ---- the worked topology of the stream format's documentation --------------------------

TEST_F(GraphMessagesE2E, TheDocumentedWorkedTopologyRunsAsDescribed)
{
    const std::string doc = tqtest::readFile(tqtest::sourcePath("docs/stream-format.md"));
    const size_t marker = doc.find("<!-- worked topology");
    ASSERT_NE(marker, std::string::npos);
    const size_t start = doc.find("```json\n", marker);
    ASSERT_NE(start, std::string::npos);
    const size_t end = doc.find("```", start + 8);
    ASSERT_NE(end, std::string::npos);
    std::vector<json> lines;
    for (const std::string &line : tqtest::splitLines(doc.substr(start + 8, end - start - 8)))
        lines.push_back(json::parse(line));
    root_.writeOidToSym(tqtest::readFile(tqtest::sourcePath("examples/oid_to_sym")));
    ASSERT_TRUE(run(lines));

    const std::string log = messageLog();
    EXPECT_EQ(log.find(" refused: "), std::string::npos) << log;
    EXPECT_EQ(log.find(" failed: "), std::string::npos) << log;
    const std::string frames = std::to_string(lines.size());
    EXPECT_NE(log.find("Run summary: " + frames + " frames read, " + frames + " applied, 0 refused, 0 failed"),
              std::string::npos)
        << log;
    MapFile map(dbPath());
    EXPECT_EQ(map.number("SELECT count(*) FROM symbols WHERE variety = 2"), 3);
    EXPECT_EQ(map.number("SELECT count(*) FROM symbols WHERE symbol_type IS NULL"), 0);
    const int sw = map.object("OTHER_PROTOCOL;A/sw1;default");
    EXPECT_EQ(map.number("SELECT status FROM symbols WHERE object = ?", {std::to_string(sw)}), OVwStatusCritical);
    const int device = map.object("OTHER_PROTOCOL;sw1;default");
    EXPECT_EQ(map.field(device, "State"), "port 3 down");
    EXPECT_EQ(map.field(device, "Management URL"), "https://192.0.2.10/");
    EXPECT_EQ(map.field(device, "URLFlag"), "1");
}

// ---- the message log names every refused or failed message ------------------------------

TEST_F(GraphMessagesE2E, EveryRefusedOrFailedMessageIsNamedWithItsFrame)
{
    json badStatus = vertexIn("G", "w");
    badStatus["status"] = "9";
    const json unknownId = {{"type", "vertex_status"}, {"unique_id", "nobody"}, {"name", "x"}, {"status", "1"},
                            {"state", nullptr}};
    const json oddStatus = {{"type", "vertex_status"}, {"unique_id", "uid-s"}, {"name", "s"}, {"status", "7"},
                            {"state", nullptr}};
    // G was made under protocol SAN: a label change looks for graphs under another protocol.
    const json label = {{"type", "change_label"}, {"unique_id", "uid-G"}, {"label", "new"}};
    const json unknownSubType = {{"type", "api"}, {"subtype", 12}, {"data", ""}};
    const json truncatedVertex = {{"type", "raw"}, {"header", "033500"}, {"payload", "0102ff"}};
    const json oversizedHeader = {{"type", "raw"}, {"header", "7f" + std::string(598, '0')}};
    const json wrongName = {{"type", "vertex_status"}, {"unique_id", "uid-s"}, {"name", "not-s"}, {"status", "2"},
                            {"state", nullptr}};
    ASSERT_TRUE(run({rootGraph("G"), vertexIn("missing", "v"), badStatus, unknownId, vertexIn("G", "s"), oddStatus,
                     label, unknownSubType, arcIn("G", "5", "NULL:1", "a", "NULL:1", "b", "1"), truncatedVertex,
                     oversizedHeader, wrongName}));
    const std::string log = messageLog();
    for (const char *line : {
             "Frame 2: vertex message (name 'v') refused: the containing graph does not exist\n",
             "Frame 3: vertex message (name 'w') refused: unknown vstatus '9'\n",
             "Frame 4: vertex status message (unique id 'nobody') refused: no object has this unique id\n",
             "Frame 6: vertex status message (unique id 'uid-s') refused: unknown status '7'\n",
             "Frame 7: change label message (unique id 'uid-G') refused: the label of 'G' was not changed: no "
             "object of that name under its protocol\n",
             "Frame 8: API message refused: unknown sub-type 12\n",
             "Frame 9: arc message (arc id 1 between 'a' and 'b') refused: name binding 5 does not match endpoint "
             "kinds (vertex, vertex)\n",
             "Frame 10: vertex message refused: malformed field\n",
             "Frame 12: vertex status message (unique id 'uid-s') refused: no object has that name\n",
             "Run summary: 12 frames read, 2 applied, 9 refused, 0 failed, 1 skipped, 0 map events handled\n"}) {
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    }
    // The existing lines stay as they were, the new ones are added.
    EXPECT_NE(log.find("Vertex message dropped: unknown vstatus '9'\n"), std::string::npos);
    EXPECT_NE(log.find("Unknown tqotStatusType = 3!\n"), std::string::npos);
}

}  // namespace
