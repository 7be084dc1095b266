// End to end: vertex, arc, status, icon and label messages written as JSON
// Lines, encoded with tqstream, run through tqdaemon, and checked in the map
// database, the message log, the traces and the daemon's standard streams.
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using tqtest::RunResult;

const char *const kGraphProto = "1.3.6.1.2.1.2.2.1.3.1";

// ---- JSON lines -------------------------------------------------------------------

std::string q(const char *text)
{
    if (text == nullptr)
        return "null";
    std::string out = "\"";
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p == '"' || *p == '\\')
            out += '\\';
        out += *p;
    }
    return out + "\"";
}

std::string graphLine(const char *name, const char *parent, const char *uniqueId)
{
    return std::string("{\"type\":\"graph\",\"moid\":") + q(name) + ",\"parent_protocol\":" +
           q(parent != nullptr ? kGraphProto : nullptr) + ",\"parent_name\":" + q(parent) + ",\"protocol\":" +
           q(kGraphProto) + ",\"name\":" + q(name) + ",\"layout\":\"1\",\"background\":null,\"icon\":null,\"label\":" +
           q(name) + ",\"details\":null,\"unique_id\":" + q(uniqueId) + ",\"contents\":[],\"end\":1}";
}

std::string vertexLine(int identifier, const char *graph, const char *name, const char *status, const char *uniqueId,
                       const char *protocol = "1")
{
    return "{\"type\":\"vertex\",\"identifier\":" + std::to_string(identifier) + ",\"graph_protocol\":" +
           q(kGraphProto) + ",\"graph_name\":" + q(graph) + ",\"protocol\":" + q(protocol) + ",\"name\":" + q(name) +
           ",\"status\":" + q(status) + ",\"icon\":null,\"label\":" + q(name) + ",\"details\":null,\"unique_id\":" +
           q(uniqueId) + "}";
}

std::string arcLine(const char *moid, const char *binding, const char *a, const char *aName, const char *z,
                    const char *zName, const char *arcId, const char *status = "1")
{
    return std::string("{\"type\":\"arc\",\"moid\":") + q(moid) + ",\"graph_protocol\":" + q(kGraphProto) +
           ",\"graph_name\":\"SAN\",\"binding\":" + q(binding) + ",\"a_endpoint\":" + q(a) + ",\"a_name\":" +
           q(aName) + ",\"z_endpoint\":" + q(z) + ",\"z_name\":" + q(zName) + ",\"arc_id\":" + q(arcId) +
           ",\"icon\":null,\"label\":\"link\",\"details\":null,\"status\":" + q(status) + "}";
}

std::string vertexStatusLine(const char *uniqueId, const char *name, const char *status, const char *state)
{
    return std::string("{\"type\":\"vertex_status\",\"unique_id\":") + q(uniqueId) + ",\"name\":" + q(name) +
           ",\"status\":" + q(status) + ",\"state\":" + q(state) + "}";
}

std::string arcStatusLine(const char *binding, const char *a, const char *aName, const char *z, const char *zName,
                          const char *index, const char *status, const char *moid)
{
    return std::string("{\"type\":\"arc_status\",\"binding\":") + q(binding) + ",\"a_endpoint\":" + q(a) +
           ",\"a_name\":" + q(aName) + ",\"z_endpoint\":" + q(z) + ",\"z_name\":" + q(zName) + ",\"arc_index\":" +
           q(index) + ",\"status\":" + q(status) + ",\"moid\":" + q(moid) + "}";
}

// ---- the map database, read directly --------------------------------------------

class MapDb {
public:
    explicit MapDb(const std::string &path)
    {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << "cannot open " << path;
            sqlite3_close(db_);
            db_ = nullptr;
        }
    }
    ~MapDb() { sqlite3_close(db_); }
    MapDb(const MapDb &) = delete;
    MapDb &operator=(const MapDb &) = delete;

    int objectId(const std::string &selection) const
    {
        std::vector<Row> rows = query("SELECT id FROM objects WHERE selection_name = ?1", {selection});
        return rows.empty() ? 0 : std::stoi(rows[0][0].value_or("0"));
    }
    std::optional<std::string> text(int object, const std::string &field) const
    {
        std::vector<Row> rows = query("SELECT v.text_value FROM field_values v JOIN fields f ON f.id = v.field"
                                      " WHERE v.object = ?1 AND f.name = ?2 AND v.type = 3",
                                      {std::to_string(object), field});
        return rows.empty() ? std::nullopt : rows[0][0];
    }
    std::optional<int> integer(int object, const std::string &field) const
    {
        std::vector<Row> rows = query("SELECT v.int_value FROM field_values v JOIN fields f ON f.id = v.field"
                                      " WHERE v.object = ?1 AND f.name = ?2 AND v.type IN (1, 2)",
                                      {std::to_string(object), field});
        if (rows.empty() || !rows[0][0])
            return std::nullopt;
        return std::stoi(*rows[0][0]);
    }
    std::vector<int> objectsWithText(const std::string &field, const std::string &value) const
    {
        std::vector<int> out;
        for (const Row &r : query("SELECT v.object FROM field_values v JOIN fields f ON f.id = v.field"
                                  " WHERE f.name = ?1 AND v.text_value = ?2 AND v.type = 3 ORDER BY v.object",
                                  {field, value}))
            out.push_back(std::stoi(r[0].value_or("0")));
        return out;
    }
    // One column of every symbol of an object, in symbol order.
    std::vector<std::string> symbols(int object, const std::string &column) const
    {
        std::vector<std::string> out;
        for (const Row &r : query("SELECT " + column + " FROM symbols WHERE object = ?1 ORDER BY id",
                                  {std::to_string(object)}))
            out.push_back(r[0].value_or("<null>"));
        return out;
    }

private:
    using Row = std::vector<std::optional<std::string>>;

    std::vector<Row> query(const std::string &sql, const std::vector<std::string> &params) const
    {
        std::vector<Row> rows;
        if (db_ == nullptr)
            return rows;
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK) {
            ADD_FAILURE() << sqlite3_errmsg(db_) << " in " << sql;
            return rows;
        }
        for (size_t i = 0; i < params.size(); ++i)
            sqlite3_bind_text(st, static_cast<int>(i + 1), params[i].c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(st) == SQLITE_ROW) {
            Row row;
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const unsigned char *t = sqlite3_column_text(st, c);
                row.push_back(t != nullptr ? std::optional<std::string>(reinterpret_cast<const char *>(t))
                                           : std::nullopt);
            }
            rows.push_back(row);
        }
        sqlite3_finalize(st);
        return rows;
    }

    sqlite3 *db_ = nullptr;
};

std::string sel(const std::string &protocol, const std::string &name)
{
    return protocol + ";" + name + ";default";
}

// ---- fixture -------------------------------------------------------------------------

class MessagesE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_.writeServices("TQDAEMON 0/tcp\n");
        root_.writeOidToSym("icon.new:New:Type\n");
        tqtest::writeFile(root_.file("usr/ov/log/.keep"), "");
    }

    // Encodes the lines into <root>/tqdaemon.file and runs the daemon on them.
    // With `faults`, the platform's OVW_FAULTS hook is armed.
    RunResult runDaemon(const std::vector<std::string> &lines, const std::string &faults = "")
    {
        std::string jsonl;
        for (const std::string &line : lines)
            jsonl += line + "\n";
        tqtest::writeFile(root_.file("in.jsonl"), jsonl);
        RunResult enc = tqtest::run({tqtest::binPath("tqstream"), "encode", "-i", root_.file("in.jsonl"), "-o",
                                     root_.file("tqdaemon.file")});
        EXPECT_EQ(enc.exitCode, 0) << enc.err;
        std::map<std::string, std::string> env = {{"TQ_ROOT", root_.path()}, {"OVW_MAPDB", dbPath()}};
        if (!faults.empty())
            env["OVW_FAULTS"] = faults;
        RunResult r = tqtest::run({tqtest::binPath("tqdaemon")}, env);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r;
    }
    std::string dbPath() const { return root_.file("map.db"); }
    std::string messageLog() const { return tqtest::readFile(root_.file("usr/ov/log/tqdaemon.log")); }
    std::string daemonTrace() const { return tqtest::readFile(root_.file("tq_std.trc")); }
    std::string adapterTrace() const { return tqtest::readFile(root_.file("tq_n2o.trc")); }
    static bool has(const std::string &text, const std::string &needle)
    {
        return text.find(needle) != std::string::npos;
    }
    static int count(const std::string &text, const std::string &needle)
    {
        int n = 0;
        for (size_t p = text.find(needle); p != std::string::npos; p = text.find(needle, p + 1))
            ++n;
        return n;
    }

    tqtest::TempRoot root_;
};

TEST_F(MessagesE2E, VerticesInGraphAndBoxCarryTheirNames)
{
    runDaemon({
        graphLine("SAN", nullptr, "Usan"),
        vertexLine(2, "SAN", "h1", "2", "Uh1"),
        vertexLine(1, "SAN", "b1", "3", "Ub1"),
        vertexLine(2, "NOPE", "h9", "1", "Uh9"),
    });
    MapDb db(dbPath());
    const int h1 = db.objectId(sel("OTHER_PROTOCOL", "h1"));
    ASSERT_NE(h1, 0);
    EXPECT_EQ(db.text(h1, "MoidString"), "h1");
    EXPECT_EQ(db.text(h1, "TQObjectName"), "h1");
    EXPECT_EQ(db.text(h1, "UniqueName"), "Uh1");
    EXPECT_EQ(db.symbols(h1, "status"), std::vector<std::string>{"4"});   // status number 2

    const int b1 = db.objectId(sel("OTHER_PROTOCOL", "b1"));
    ASSERT_NE(b1, 0);
    EXPECT_EQ(db.text(b1, "MoidString"), "b1");
    EXPECT_EQ(db.text(b1, "UniqueName"), "Ub1");
    EXPECT_EQ(db.text(b1, "TQObjectName"), std::nullopt);

    // The creation in a graph that does not exist writes nothing anywhere.
    EXPECT_EQ(db.objectId(sel("OTHER_PROTOCOL", "h9")), 0);
    EXPECT_TRUE(db.objectsWithText("UniqueName", "Uh9").empty());
    const std::string trace = daemonTrace();
    EXPECT_TRUE(has(trace, "Cannot create VertexInGraph (obj name='h9'): the containing graph does not exist!\n"));
    EXPECT_FALSE(has(trace, "uniqueIdStr = Uh9"));
}

TEST_F(MessagesE2E, AMessageThatFailsPartWayIsStoredNotAtAll)
{
    // The first graph's object and symbol are made before its first field
    // write fails: the failed message must leave neither. The messages after
    // it apply as usual.
    runDaemon({graphLine("SAN", nullptr, "Usan"), graphLine("FAB", nullptr, "Ufab"),
               vertexLine(2, "FAB", "h1", "2", "Uh1")},
              "OVwDbSetFieldStringValue:nth=1:4");
    const std::string log = messageLog();
    EXPECT_TRUE(has(log, "graph message (name 'SAN') failed: ")) << log;
    EXPECT_TRUE(has(log, "2 applied, 0 refused, 1 failed")) << log;
    MapDb db(dbPath());
    EXPECT_EQ(db.objectId(sel(kGraphProto, "SAN")), 0);
    EXPECT_NE(db.objectId(sel(kGraphProto, "FAB")), 0);
    EXPECT_NE(db.objectId(sel("OTHER_PROTOCOL", "h1")), 0);
}

TEST_F(MessagesE2E, ArcsToVerticesAndGraphsAndTheRefusedMismatch)
{
    RunResult r = runDaemon({
        graphLine("SAN", nullptr, "Usan"),
        graphLine("G2", "SAN", "Ug2"),
        vertexLine(2, "SAN", "h1", "3", "Uh1"),
        vertexLine(2, "SAN", "h2", "3", "Uh2"),
        arcLine("arc-vv", "7", "NULL:1", "h1", "NULL:1", "h2", "12"),
        arcLine("arc-vg", "6", "NULL:1", "h1", "1.3.6.1.2.1.2.2.1.3.1:x", "G2", "7abc"),
        arcLine("arc-bad", "4", "NULL:1", "h1", "1.3.6.1.2.1.2.2.1.3.1:x", "G2", "1"),
        arcLine("arc-8", "8", "NULL:1", "h1", "NULL:1", "h2", "1"),
    });
    MapDb db(dbPath());
    std::vector<int> vv = db.objectsWithText("MoidString", "arc-vv");
    ASSERT_EQ(vv.size(), 1u);
    EXPECT_EQ(db.integer(vv[0], "SanArcIndex"), 12);
    EXPECT_EQ(db.symbols(vv[0], "variety"), std::vector<std::string>{"2"});
    EXPECT_EQ(db.objectId("OTHER_PROTOCOL;h1;OTHER_PROTOCOL;h2;12;default"), vv[0]);

    std::vector<int> vg = db.objectsWithText("MoidString", "arc-vg");
    ASSERT_EQ(vg.size(), 1u);
    EXPECT_EQ(db.integer(vg[0], "SanArcIndex"), 7);
    EXPECT_EQ(db.symbols(vg[0], "variety"), std::vector<std::string>{"2"});

    EXPECT_TRUE(db.objectsWithText("MoidString", "arc-bad").empty());
    EXPECT_TRUE(db.objectsWithText("MoidString", "arc-8").empty());
    EXPECT_TRUE(has(messageLog(),
                    "tqdaemon.exe: Arc message refused: name binding 4 does not match endpoint kinds (vertex, graph)\n"));
    EXPECT_TRUE(has(daemonTrace(), "Arc message refused: name binding 4 does not match endpoint kinds (vertex, graph)"));
    EXPECT_TRUE(has(r.out, "Unknown tqotNameBindingType\n"));
    EXPECT_TRUE(has(r.out, "aEndpointGraph=NULL & aEndpointVertex=1;"));
}

TEST_F(MessagesE2E, VertexAndArcStatuses)
{
    runDaemon({
        graphLine("SAN", nullptr, "Usan"),
        vertexLine(2, "SAN", "h1", "3", "Xdev1"),
        vertexLine(2, "SAN", "h2", "3", "Uh2"),
        vertexLine(1, "SAN", "common1", "3", "dev1"),   // carries the shorter identifier
        arcLine("arc-1", "7", "NULL:1", "h1", "NULL:1", "h2", "5"),
        vertexStatusLine("Xdev1", "h1", "4", "online"),
        arcStatusLine("7", "x:1", "h1", "x:1", "h2", "99", "2", "arc-1"),
        vertexStatusLine("Uh2", "h2", "5", "s"),
    });
    MapDb db(dbPath());
    const int h1 = db.objectId(sel("OTHER_PROTOCOL", "h1"));
    const int h2 = db.objectId(sel("OTHER_PROTOCOL", "h2"));
    const int common = db.objectId(sel("OTHER_PROTOCOL", "common1"));
    ASSERT_NE(h1, 0);
    ASSERT_NE(common, 0);
    EXPECT_EQ(db.symbols(h1, "status"), std::vector<std::string>{"3"});   // status number 4
    EXPECT_EQ(db.text(common, "State"), "online");
    EXPECT_EQ(db.integer(common, "isSanCommon"), 1);
    EXPECT_EQ(db.text(h1, "State"), std::nullopt);

    // The arc keeps index 5: the caller's 99 is overridden, and binding 7 makes two calls.
    std::vector<int> arc = db.objectsWithText("MoidString", "arc-1");
    ASSERT_EQ(arc.size(), 1u);
    EXPECT_EQ(db.symbols(arc[0], "status"), std::vector<std::string>{"4"});   // status number 2
    const std::string adapter = adapterTrace();
    int entries = 0;
    for (const std::string &line : tqtest::splitLines(adapter))
        if (has(line, " tqotChangeArcStatus(") && has(line, "): enter"))
            ++entries;
    EXPECT_EQ(entries, 2);

    // Status "5" gives 3, with its message-log line.
    EXPECT_EQ(db.symbols(h2, "status"), std::vector<std::string>{"1"});
    EXPECT_TRUE(has(messageLog(), "tqdaemon.exe: Unknown tqotStatusType = 3!\n"));
}

TEST_F(MessagesE2E, IconAndLabelChangesReachAVertexAndAGraphSharingAUniqueName)
{
    RunResult r = runDaemon({
        graphLine("SAN", nullptr, "Usan"),
        graphLine("G2", "SAN", "dev"),
        vertexLine(2, "SAN", "h1", "3", "dev"),
        vertexLine(1, "SAN", "b1", "3", "dev2"),   // no TQObjectName
        vertexLine(2, "SAN", "h5", "3", "dev2"),
        R"({"type":"change_icon","unique_id":"dev","icon":"icon.new"})",
        R"({"type":"change_label","unique_id":"dev","label":"Shared"})",
        R"({"type":"change_label","unique_id":"dev2","label":"Second"})",
        R"({"type":"graph_update","protocol":"1.3.6.1.2.1.2.2.1.3.1","name":"SAN","icon":"icon.new","label":"Storage"})",
    });
    MapDb db(dbPath());
    const int g2 = db.objectId(sel(kGraphProto, "G2"));
    const int h1 = db.objectId(sel("OTHER_PROTOCOL", "h1"));
    ASSERT_NE(g2, 0);
    ASSERT_NE(h1, 0);
    for (int object : {g2, h1}) {
        std::vector<std::string> types = db.symbols(object, "symbol_type");
        ASSERT_FALSE(types.empty());
        for (const std::string &t : types)
            EXPECT_EQ(t, "New:Type") << object;
        for (const std::string &l : db.symbols(object, "label"))
            EXPECT_EQ(l, "Shared") << object;
    }
    EXPECT_TRUE(has(r.out, "icon for vertex is changed\n"));
    EXPECT_TRUE(has(daemonTrace(), "icon for graph is changed\n"));

    // b1 has no TQObjectName: reported and skipped; h5 still changes.
    EXPECT_EQ(db.symbols(db.objectId(sel("OTHER_PROTOCOL", "b1")), "label"), std::vector<std::string>{"b1"});
    EXPECT_EQ(db.symbols(db.objectId(sel("OTHER_PROTOCOL", "h5")), "label"), std::vector<std::string>{"Second"});
    EXPECT_TRUE(has(daemonTrace(), "*******Tqdaemon error: no value found for dev2 in object name field\n"));

    const int san = db.objectId(sel(kGraphProto, "SAN"));
    EXPECT_EQ(db.symbols(san, "label"), std::vector<std::string>{"Storage"});
    EXPECT_EQ(db.symbols(san, "symbol_type"), std::vector<std::string>{"New:Type"});
}

}  // namespace
