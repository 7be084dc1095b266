// The example storage network (examples/) run through the daemon: the map it
// leaves is what the example's messages imply, tqmap shows it, and events
// that tqmap posts reach a daemon that is still reading its stream.
#include "mapdb/read.h"
#include "ovw/ovw.h"
#include "support/testsupport.h"
#include "e2e/piped_daemon.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using tqtest::PipedDaemon;

using Json = nlohmann::json;
using tqtest::RunResult;

// ---- what the example says ------------------------------------------------------------

// The platform's symbol status for the daemon's status texts "1".."4".
int platformStatus(const std::string &text)
{
    static const std::map<std::string, int> table = {
        {"1", OVwStatusCritical}, {"2", OVwStatusMajor}, {"3", OVwStatusNormal}, {"4", OVwStatusMarginal}};
    auto it = table.find(text);
    return it != table.end() ? it->second : -1;
}

// examples/oid_to_sym: icon key -> symbol type.
std::map<std::string, std::string> readIconTable(const std::string &path)
{
    std::map<std::string, std::string> icons;
    for (std::string line : tqtest::splitLines(tqtest::readFile(path))) {
        line = line.substr(0, line.find('#'));
        size_t colon = line.find(':');
        if (colon == std::string::npos)
            continue;
        std::string value = line.substr(colon + 1);
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
            value.pop_back();
        icons[line.substr(0, colon)] = value;
    }
    return icons;
}

struct Example {
    std::vector<Json> messages;
    std::vector<std::pair<std::string, std::string>> graphs;        // (protocol, name)
    std::map<std::string, std::vector<std::string>> vertices;       // graph name -> vertex names
    struct Arc {
        std::string graph, a, z, moid;
    };
    std::vector<Arc> arcs;
    std::map<std::string, std::set<std::string>> removed;           // graph name -> vertex names

    size_t vertexCount() const
    {
        size_t n = 0;
        for (const auto &entry : vertices)
            n += entry.second.size();
        return n;
    }
    size_t removedCount() const
    {
        size_t n = 0;
        for (const auto &entry : removed)
            n += entry.second.size();
        return n;
    }
    bool arcRemoved(const Arc &a) const
    {
        auto it = removed.find(a.graph);
        return it != removed.end() && (it->second.count(a.a) != 0 || it->second.count(a.z) != 0);
    }
    size_t arcsLeft() const
    {
        size_t n = 0;
        for (const Arc &a : arcs)
            n += arcRemoved(a) ? 0 : 1;
        return n;
    }
};

Example readExample()
{
    Example ex;
    for (const std::string &line : tqtest::splitLines(tqtest::readFile(tqtest::sourcePath("examples/storage.jsonl")))) {
        if (line.empty())
            continue;
        Json m = Json::parse(line);
        const std::string type = m["type"];
        if (type == "graph")
            ex.graphs.emplace_back(m["protocol"], m["name"]);
        else if (type == "vertex")
            ex.vertices[m["graph_name"]].push_back(m["name"]);
        else if (type == "arc")
            ex.arcs.push_back({m["graph_name"], m["a_name"], m["z_name"], m["moid"]});
        ex.messages.push_back(std::move(m));
    }
    // A complete content list removes the graph's vertices that it does not name.
    for (const Json &m : ex.messages) {
        if (m["type"] != "content_ids")
            continue;
        std::set<std::string> named;
        for (const Json &c : m["contents"])
            if (c.value("kind", "") == "vertex")
                named.insert(c["name"].get<std::string>());
        for (const std::string &v : ex.vertices[m["name"]])
            if (named.count(v) == 0)
                ex.removed[m["name"]].insert(v);
    }
    return ex;
}

// ---- the map database, read directly -----------------------------------------------------

class MapDb {
public:
    explicit MapDb(const std::string &path)
    {
        if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
            sqlite3_close(db_);
            db_ = nullptr;
        }
    }
    ~MapDb() { sqlite3_close(db_); }
    MapDb(const MapDb &) = delete;
    MapDb &operator=(const MapDb &) = delete;
    bool ok() const { return db_ != nullptr; }

    // The first column of every row, as text (NULL as "(null)").
    std::vector<std::string> column(const std::string &sql, const std::vector<std::string> &args = {}) const
    {
        std::vector<std::string> out;
        sqlite3_stmt *st = nullptr;
        if (db_ == nullptr || sqlite3_prepare_v2(db_, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
            return {"(bad query) " + sql};
        for (size_t i = 0; i < args.size(); ++i)
            sqlite3_bind_text(st, static_cast<int>(i + 1), args[i].c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(st) == SQLITE_ROW) {
            const unsigned char *t = sqlite3_column_text(st, 0);
            out.push_back(t != nullptr ? reinterpret_cast<const char *>(t) : "(null)");
        }
        sqlite3_finalize(st);
        return out;
    }
    long long number(const std::string &sql, const std::vector<std::string> &args = {}) const
    {
        std::vector<std::string> v = column(sql, args);
        return v.size() == 1 ? std::stoll(v[0]) : -1;
    }

private:
    sqlite3 *db_ = nullptr;
};

// Symbols of the objects whose string field has the value: one column of them.
std::vector<std::string> symbolsByField(const MapDb &db, const std::string &what, const std::string &field,
                                        const std::string &value, bool connections)
{
    return db.column("SELECT s." + what +
                         " FROM symbols s JOIN field_values v ON v.object = s.object JOIN fields f ON f.id = v.field "
                         "WHERE f.name = ?1 AND v.text_value = ?2 AND s.variety " +
                         (connections ? "= 2" : "!= 2") + " ORDER BY s.id",
                     {field, value});
}

std::vector<std::string> fieldOfObjects(const MapDb &db, const std::string &field, const std::string &keyField,
                                        const std::string &key)
{
    return db.column("SELECT v.text_value FROM field_values v JOIN fields f ON f.id = v.field "
                     "WHERE f.name = ?1 AND v.object IN (SELECT k.object FROM field_values k JOIN fields kf "
                     "ON kf.id = k.field WHERE kf.name = ?2 AND k.text_value = ?3) ORDER BY v.object",
                     {field, keyField, key});
}

std::pair<unsigned, unsigned> pngSize(const std::string &bytes)
{
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0 || bytes.compare(12, 4, "IHDR") != 0)
        return {0, 0};
    auto be = [&](size_t at) {
        return (static_cast<unsigned>(static_cast<unsigned char>(bytes[at])) << 24) |
               (static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
               (static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
               static_cast<unsigned>(static_cast<unsigned char>(bytes[at + 3]));
    };
    return {be(16), be(20)};
}

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// ---- a demo root ---------------------------------------------------------------------------

class DemoE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_.writeServices(tqtest::readFile(tqtest::sourcePath("examples/services")));
        root_.writeOidToSym(tqtest::readFile(tqtest::sourcePath("examples/oid_to_sym")));
        // OVW_MAPDB names the default place; a named folder must exist.
        ::mkdir(root_.file("usr/ov/databases").c_str(), 0755);
        RunResult enc = tqtest::run({tqtest::binPath("tqstream"), "encode", "-i",
                                     tqtest::sourcePath("examples/storage.jsonl"), "-o", streamFile()});
        ASSERT_EQ(enc.exitCode, 0) << enc.err;
    }

    std::string streamFile() const { return root_.file("stream.bin"); }
    std::string dbPath() const { return root_.file("usr/ov/databases/tqmap.db"); }
    std::map<std::string, std::string> env() const
    {
        return {{"OVW_MAPDB", dbPath()}, {"TQ_DRIVE", "C:"}, {"TQ_ROOT", root_.path()}};
    }
    RunResult tqmap(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {tqtest::binPath("tqmap"), "--db", dbPath()});
        return tqtest::run(args);
    }
    std::string graphSelection(const MapDb &db, const std::string &proto, const std::string &name) const
    {
        std::vector<std::string> map = db.column("SELECT name FROM map");
        return proto + ";" + name + ";" + (map.empty() ? std::string() : map[0]);
    }

    tqtest::TempRoot root_;
    Example ex_ = readExample();
};

TEST_F(DemoE2E, TheExampleLeavesTheMapItsMessagesDescribe)
{
    ASSERT_FALSE(ex_.removed.empty()) << "the example removes a vertex with a content list";
    ::rename(streamFile().c_str(), root_.file("tqdaemon.file").c_str());
    RunResult run = tqtest::run({tqtest::binPath("tqdaemon")}, env());
    ASSERT_EQ(run.exitCode, 0) << run.err;

    MapDb db(dbPath());
    ASSERT_TRUE(db.ok());

    // Graphs, and in each graph's submap the vertices left after the removal.
    EXPECT_EQ(db.number("SELECT COUNT(*) FROM symbols WHERE variety != 2 AND object IN "
                        "(SELECT parent_object FROM submaps)"),
              static_cast<long long>(ex_.graphs.size()));
    for (const auto &[proto, name] : ex_.graphs) {
        std::string submap = std::to_string(db.number(
            "SELECT s.id FROM submaps s JOIN objects o ON o.id = s.parent_object WHERE o.selection_name = ?1",
            {graphSelection(db, proto, name)}));
        size_t expected = ex_.vertices[name].size() - ex_.removed[name].size();
        EXPECT_EQ(db.number("SELECT COUNT(*) FROM symbols WHERE submap = " + submap +
                            " AND variety != 2 AND object NOT IN (SELECT parent_object FROM submaps)"),
                  static_cast<long long>(expected))
            << name;
    }
    EXPECT_EQ(db.number("SELECT COUNT(*) FROM symbols WHERE variety != 2 AND object NOT IN "
                        "(SELECT parent_object FROM submaps)"),
              static_cast<long long>(ex_.vertexCount() - ex_.removedCount()));
    // Arcs: one connection each, but not those that ended at a removed vertex.
    EXPECT_EQ(db.number("SELECT COUNT(*) FROM symbols WHERE variety = 2"), static_cast<long long>(ex_.arcsLeft()));
    for (const Example::Arc &a : ex_.arcs)
        EXPECT_EQ(symbolsByField(db, "id", "MoidString", a.moid, true).size(), ex_.arcRemoved(a) ? 0u : 1u) << a.moid;
    // Removed vertices keep their objects, without a symbol.
    for (const auto &[graph, names] : ex_.removed)
        for (const std::string &v : names) {
            EXPECT_EQ(db.number("SELECT COUNT(*) FROM field_values WHERE text_value = ?1 AND field = "
                                "(SELECT id FROM fields WHERE name = 'TQObjectName')",
                                {v}),
                      1)
                << v;
            EXPECT_EQ(db.number("SELECT COUNT(*) FROM symbols WHERE object = (SELECT object FROM field_values "
                                "WHERE text_value = ?1 AND field = (SELECT id FROM fields WHERE name = 'TQObjectName'))",
                                {v}),
                      0)
                << v;
        }

    // The second phase: statuses, icons, labels and the properties of each device.
    std::map<std::string, std::string> icons = readIconTable(tqtest::sourcePath("examples/oid_to_sym"));
    for (const Json &m : ex_.messages) {
        const std::string type = m["type"];
        if (type == "vertex_status") {
            for (const std::string &s : symbolsByField(db, "status", "UniqueName", m["unique_id"], false))
                EXPECT_EQ(s, std::to_string(platformStatus(m["status"]))) << m.dump();
            std::string common = m["unique_id"].get<std::string>().substr(1);
            for (const std::string &state : fieldOfObjects(db, "State", "UniqueName", common))
                EXPECT_EQ(state, m["state"]) << m.dump();
        } else if (type == "arc_status") {
            std::vector<std::string> st = symbolsByField(db, "status", "MoidString", m["moid"], true);
            ASSERT_EQ(st.size(), 1u) << m.dump();
            EXPECT_EQ(st[0], std::to_string(platformStatus(m["status"]))) << m.dump();
        } else if (type == "change_icon") {
            std::vector<std::string> types = symbolsByField(db, "symbol_type", "UniqueName", m["unique_id"], false);
            ASSERT_FALSE(types.empty()) << m.dump();
            for (const std::string &t : types)
                EXPECT_EQ(t, icons[m["icon"]]) << m.dump();
        } else if (type == "change_label") {
            std::vector<std::string> labels = symbolsByField(db, "label", "UniqueName", m["unique_id"], false);
            ASSERT_FALSE(labels.empty()) << m.dump();
            for (const std::string &l : labels)
                EXPECT_EQ(l, m["label"]) << m.dump();
        } else if (type == "graph_update") {
            EXPECT_EQ(db.column("SELECT s.label FROM symbols s JOIN objects o ON o.id = s.object JOIN map "
                                "ON s.submap = map.root_submap WHERE o.selection_name = ?1",
                                {graphSelection(db, m["protocol"], m["name"])}),
                      std::vector<std::string>{m["label"].get<std::string>()});
        } else if (type == "common_properties") {
            std::vector<std::string> vendor = fieldOfObjects(db, "VendorName", "UniqueName", m["common_name"]);
            ASSERT_FALSE(vendor.empty()) << "every device in the example has its common object: " << m.dump();
            for (const std::string &v : vendor)
                EXPECT_EQ(v, m["vendor"]);
            for (const std::string &url : fieldOfObjects(db, "Management URL", "UniqueName", m["common_name"]))
                EXPECT_EQ(url, m["management_url"].get<std::string>().substr(1));
        }
    }

    // tqmap tells the same story.
    RunResult tree = tqmap({"tree"});
    ASSERT_EQ(tree.exitCode, 0) << tree.err;
    std::string summary = "Symbols: " + std::to_string(ex_.graphs.size()) + " graphs, " +
                          std::to_string(ex_.vertexCount() - ex_.removedCount()) + " vertices, " +
                          std::to_string(ex_.arcsLeft()) + " connections";
    EXPECT_NE(tree.out.find(summary), std::string::npos) << tree.out;
    RunResult storage = tqmap({"objects", "--field", "VendorName", "--value", "Example Storage"});
    EXPECT_EQ(storage.exitCode, 0) << storage.err;
}

// docs/demo-map.png is the picture `scripts/demo --update-docs` makes of this
// same map. Font metrics differ from host to host, so the check is that it is
// a PNG of about the size a fresh render has, not that the bytes agree.
TEST_F(DemoE2E, TheDocumentedPictureIsARenderOfTheExampleMap)
{
    ::rename(streamFile().c_str(), root_.file("tqdaemon.file").c_str());
    ASSERT_EQ(tqtest::run({tqtest::binPath("tqdaemon")}, env()).exitCode, 0);
    std::string fresh = root_.file("map.png");
    RunResult png = tqmap({"png", "-o", fresh});
    ASSERT_EQ(png.exitCode, 0) << png.err;

    std::string docs = tqtest::sourcePath("docs/demo-map.png");
    ASSERT_TRUE(tqtest::fileExists(docs)) << "run scripts/demo --update-docs";
    auto [w, h] = pngSize(tqtest::readFile(docs));
    auto [fw, fh] = pngSize(tqtest::readFile(fresh));
    ASSERT_GT(fw, 0u);
    ASSERT_GT(fh, 0u);
    EXPECT_NEAR(static_cast<double>(w) / fw, 1.0, 0.25) << w << "x" << h << " against " << fw << "x" << fh;
    EXPECT_NEAR(static_cast<double>(h) / fh, 1.0, 0.25) << w << "x" << h << " against " << fw << "x" << fh;
}

// ---- the map as it was -------------------------------------------------------------------------

// The example's two phases fed one after the other: the map at a time between
// them, rebuilt from the history, is the map a run of phase one alone leaves.
TEST_F(DemoE2E, TheMapBetweenTheTwoPhasesIsTheMapOfPhaseOneAlone)
{
    // Phase one is the topology (graphs, vertices, arcs); phase two the rest.
    std::string one, two;
    bool inTwo = false;
    for (const Json &m : ex_.messages) {
        const std::string type = m["type"];
        inTwo = inTwo || (type != "graph" && type != "vertex" && type != "arc");
        (inTwo ? two : one) += m.dump() + "\n";
    }
    ASSERT_FALSE(one.empty());
    ASSERT_FALSE(two.empty());
    auto feed = [&](const std::string &lines, const std::string &db) {
        tqtest::writeFile(root_.file("phase.jsonl"), lines);
        RunResult enc = tqtest::run({tqtest::binPath("tqstream"), "encode", "-i", root_.file("phase.jsonl"), "-o",
                                     root_.file("tqdaemon.file")});
        ASSERT_EQ(enc.exitCode, 0) << enc.err;
        auto e = env();
        e["OVW_MAPDB"] = db;
        RunResult run = tqtest::run({tqtest::binPath("tqdaemon")}, e);
        ASSERT_EQ(run.exitCode, 0) << run.err;
    };
    const std::string alone = root_.file("usr/ov/databases/alone.db");
    feed(one, alone);
    feed(one, dbPath());
    // A time after phase one's last change and, once the clock has moved on,
    // before phase two's first.
    const std::string between = std::to_string(nowMs());
    while (std::to_string(nowMs()) == between) {
    }
    feed(two, dbPath());

    RunResult past = tqmap({"tree", "--at", between});
    ASSERT_EQ(past.exitCode, 0) << past.err;
    RunResult phaseOne = tqtest::run({tqtest::binPath("tqmap"), "--db", alone, "tree"});
    ASSERT_EQ(phaseOne.exitCode, 0) << phaseOne.err;
    const size_t header = past.out.find('\n');
    ASSERT_EQ(past.out.substr(0, header), "The map as it was at " + mapdb::utcTime(std::stoll(between)));
    EXPECT_EQ(past.out.substr(header + 1), phaseOne.out);
    RunResult now = tqmap({"tree"});
    EXPECT_NE(now.out, phaseOne.out) << "phase two changes the map";

    // The diff between the two times names what phase two removed.
    RunResult diff = tqmap({"diff", between, "--json"});
    ASSERT_EQ(diff.exitCode, 0) << diff.err;
    std::set<std::string> gone;
    const Json changed = Json::parse(diff.out);
    for (const Json &d : changed["disappeared"])
        gone.insert(d["name"].get<std::string>());
    for (const auto &[graph, names] : ex_.removed)
        for (const std::string &v : names)   // "A/host3" is labelled "host3"
            EXPECT_EQ(gone.count(v.substr(v.find('/') + 1)), 1u) << v << " in " << diff.out;
}

// ---- events posted with tqmap while the daemon runs ------------------------------------------

int enters(const std::string &trace, const std::string &operation)
{
    int n = 0;
    for (const std::string &line : tqtest::splitLines(trace))
        if (line.find(operation + "(") != std::string::npos && line.find("): enter") != std::string::npos)
            ++n;
    return n;
}

TEST_F(DemoE2E, EventsPostedWithTqmapReachTheRunningDaemon)
{
    signal(SIGPIPE, SIG_IGN);
    ASSERT_FALSE(ex_.removed.empty());
    const std::string removedName = *ex_.removed.begin()->second.begin();

    PipedDaemon daemon(root_.file("tqdaemon.file"), env());
    ASSERT_TRUE(daemon.running());
    ASSERT_TRUE(daemon.write(tqtest::readFile(streamFile())));

    // The last message (the content list) has been applied once the removed
    // vertex exists and has lost its symbol (before it is made, it has no
    // symbol either); wait for that, within a generous bound.
    const std::string named = "SELECT COUNT(*) FROM field_values WHERE text_value = ?1"
                              " AND field = (SELECT id FROM fields WHERE name = 'TQObjectName')";
    const std::string byName = "SELECT COUNT(*) FROM symbols WHERE object = (SELECT object FROM field_values "
                               "WHERE text_value = ?1 AND field = (SELECT id FROM fields WHERE name = 'TQObjectName'))";
    bool applied = false;
    for (int i = 0; i < 600 && !applied; ++i) {
        if (tqtest::fileExists(dbPath())) {
            MapDb db(dbPath());
            applied = db.number(named, {removedName}) > 0 && db.number(byName, {removedName}) == 0;
        }
        if (!applied)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(applied) << "the daemon did not get through the example";

    // An operator deletes a vertex's symbol: it goes at once, with its connections.
    std::string victim, victimObject;
    long long connectionsBefore = 0;
    {
        MapDb db(dbPath());
        std::vector<std::string> v = db.column("SELECT s.id FROM symbols s WHERE s.variety != 2 AND EXISTS (SELECT 1 "
                                               "FROM symbols c WHERE c.variety = 2 AND (c.conn_a = s.id OR c.conn_z = s.id)) "
                                               "AND s.object NOT IN (SELECT parent_object FROM submaps) ORDER BY s.id DESC LIMIT 1");
        ASSERT_EQ(v.size(), 1u);
        victim = v[0];
        victimObject = db.column("SELECT object FROM symbols WHERE id = " + victim)[0];
        connectionsBefore = db.number("SELECT COUNT(*) FROM symbols WHERE variety = 2");
    }
    RunResult del = tqmap({"post", "delete-symbols", victim});
    ASSERT_EQ(del.exitCode, 0) << del.err;
    {
        MapDb db(dbPath());
        EXPECT_EQ(db.number("SELECT COUNT(*) FROM symbols WHERE id = " + victim), 0);
        EXPECT_LT(db.number("SELECT COUNT(*) FROM symbols WHERE variety = 2"), connectionsBefore);
        EXPECT_EQ(db.number("SELECT COUNT(*) FROM objects WHERE id = " + victimObject), 1);
        EXPECT_EQ(db.number("SELECT COUNT(*) FROM events WHERE code = 14"), 1);
    }
    ASSERT_TRUE(daemon.turn());

    // Then the session ends: the daemon leaves its loop with exit status 1.
    RunResult end = tqmap({"post", "end-session"});
    ASSERT_EQ(end.exitCode, 0) << end.err;
    ASSERT_TRUE(daemon.turn());
    RunResult r = daemon.finish();
    EXPECT_EQ(r.exitCode, 1);

    std::string adapter = tqtest::readFile(root_.file("tq_n2o.trc"));
    EXPECT_EQ(enters(adapter, "deleteSymbolCB"), 1);
    EXPECT_EQ(enters(adapter, "endSessionCB"), 1);
    EXPECT_LT(adapter.find("deleteSymbolCB("), adapter.find("endSessionCB("));
    std::string log = tqtest::readFile(root_.file("usr/ov/log/tqdaemon.log"));
    EXPECT_NE(log.find("Ending tqdaemon.exe"), std::string::npos);
}

}  // namespace
