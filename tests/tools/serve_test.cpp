// tqmap serve over HTTP, and the read-only promise of every command but post.
#include "ovw/ovw.h"
#include "serve_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;
using tqtest::RunResult;

// root: SAN (compound) > Fab (compound) > sw1 (critical), h1 (normal), h1 -- sw1 (major)
class ServeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        db_ = root_.file("maps/web.db");
        tqtest::writeFile(root_.file("maps/.keep"), "");
        setenv("OVW_MAPDB", db_.c_str(), 1);
        ASSERT_EQ(OVwInit(), 0);
        OVwMapInfo *map = OVwGetMapInfo();
        rootSubmap_ = map->root_submap_id;
        OVwObjectId san = OVwDbCreateObjectBySelectionName("P;SAN;default");
        sanSubmap_ = OVwCreateSubmap(map, san, OVwGraphSubmap, 0, "SAN", 0, 0);
        sanSymbol_ = OVwCreateSymbol(map, rootSubmap_, san, "Network:SAN", "SAN", OVwStatusNormal, 2, nullptr, 0);
        OVwObjectId fab = OVwDbCreateObjectBySelectionName("P;Fab;default");
        fabSubmap_ = OVwCreateSubmap(map, fab, OVwGraphSubmap, 0, "Fab", 0, 0);
        OVwCreateSymbol(map, sanSubmap_, fab, "Network:Fabric", "Fab", OVwStatusNormal, 2, nullptr, 0);
        sw1_ = OVwDbCreateObjectBySelectionName("O;sw1;default");
        const OVwObjectId sw1 = sw1_;
        h1_ = OVwDbCreateObjectBySelectionName("O;h1;default");
        sw1Symbol_ = OVwCreateSymbol(map, fabSubmap_, sw1, "Connector:FC Switch", "sw1", OVwStatusNormal, 3,
                                     nullptr, 0);
        h1Symbol_ = OVwCreateSymbol(map, fabSubmap_, h1_, "Computer:Server", "h1", OVwStatusNormal, 3, nullptr, 0);
        // A link's selection name begins with its first end's, as the daemon makes them.
        link_ = OVwDbCreateObjectBySelectionName("O;h1;O;sw1;0;default");
        linkSymbol_ =
            OVwCreateConnSymbol(map, link_, h1Symbol_, sw1Symbol_, "Connection:FC", "link1", OVwStatusNormal, 3, 0);
        OVwDbSetFieldStringValue(h1_, OVwDbFieldNameToFieldId("UniqueName"), "uid-H1-77");
        OVwDbSetFieldStringValue(h1_, OVwDbFieldNameToFieldId("VendorName"), "Acme Storage");
        OVwDbSetFieldStringValue(sw1, OVwDbFieldNameToFieldId("State"), "Offline: port 3 down");
        OVwSetStatusOnSymbol(map, linkSymbol_, OVwStatusMajor);
        OVwSetStatusOnSymbol(map, sw1Symbol_, OVwStatusCritical);
        OVwFreeMapInfo(map);
        ASSERT_EQ(OVwDone(), 0);
    }
    void TearDown() override { unsetenv("OVW_MAPDB"); }

    RunResult tqmap(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {tqtest::binPath("tqmap"), "--db", db_});
        return tqtest::run(args, {}, "", 20);
    }
    static Json json(const httplib::Result &r)
    {
        return r && r->status == 200 ? Json::parse(r->body, nullptr, false) : Json();
    }

    tqtest::TempRoot root_;
    std::string db_;
    int rootSubmap_ = 0, sanSubmap_ = 0, fabSubmap_ = 0, sanSymbol_ = 0, sw1Symbol_ = 0, h1Symbol_ = 0, h1_ = 0,
        sw1_ = 0, link_ = 0, linkSymbol_ = 0;
};

TEST_F(ServeTest, EveryPageAndRouteAnswers)
{
    servetest::Server server(db_);
    ASSERT_TRUE(server.ready());
    httplib::Client c = server.client();
    std::string fab = std::to_string(fabSubmap_), h1 = std::to_string(h1_);
    struct Route {
        std::string path;
        int status;
        std::string type, holds;
    };
    const std::vector<Route> routes = {
        {"/submap/" + fab, 200, "text/html", "data-submap=\"" + fab + "\""},
        {"/problems", 200, "text/html", "/static/app.js"},
        {"/changes", 200, "text/html", "data-view=\"changes\""},
        {"/search?q=x", 200, "text/html", "data-view=\"search\""},
        {"/static/app.js", 200, "javascript", "EventSource('/api/events')"},
        {"/static/app.css", 200, "text/css", "g.node"},
        {"/static/export.js", 200, "javascript", "/export?format="},
        {"/api/map", 200, "json", "\"rootSubmap\":" + std::to_string(rootSubmap_)},
        {"/api/submap/" + fab, 200, "json", "\"layoutKey\""},
        {"/api/submap/" + fab + "/svg", 200, "svg", "id=\"s" + std::to_string(sw1Symbol_) + "\""},
        {"/api/object/" + h1, 200, "json", "\"VendorName\":\"Acme Storage\""},
        {"/api/search?q=h1-77", 200, "json", "\"matched\":\"UniqueName\""},
        {"/api/problems", 200, "json", "\"critical\""},
        {"/api/changes", 200, "json", "\"kind\":\"status\""},
        {"/metrics", 200, "text/plain", "tqmap_symbols{status=\"critical\",kind=\"graph\"} 2"},
        {"/healthz", 200, "text/plain", "ok"},
        {"/api/status", 200, "json", "\"lastCommit\":"},
        {"/submap/9999", 404, "", ""},
        {"/api/submap/9999", 404, "json", "no submap"},
        {"/api/submap/9999/svg", 404, "json", "no submap"},
        {"/api/object/9999", 404, "json", "no object"},
        {"/nowhere", 404, "", ""},
    };
    for (const Route &r : routes) {
        auto res = c.Get(r.path.c_str());
        ASSERT_TRUE(res) << r.path;
        EXPECT_EQ(res->status, r.status) << r.path;
        EXPECT_NE(res->get_header_value("Content-Type").find(r.type), std::string::npos) << r.path;
        EXPECT_NE(res->body.find(r.holds), std::string::npos) << r.path << ": " << res->body.substr(0, 300);
    }
    // A client that takes brotli and gzip gets gzip: brotli costs the server
    // about a second on a large drawing.
    auto packed = c.Get(("/api/submap/" + fab + "/svg").c_str(), {{"Accept-Encoding", "gzip, deflate, br, zstd"}});
    ASSERT_TRUE(packed);
    EXPECT_EQ(packed->get_header_value("Content-Encoding"), "gzip");
    EXPECT_NE(packed->body.find("id=\"s" + std::to_string(sw1Symbol_) + "\""), std::string::npos);
    auto home = c.Get("/?live=0");
    ASSERT_TRUE(home);
    EXPECT_EQ(home->status, 302);
    EXPECT_EQ(home->get_header_value("Location"), "/submap/" + std::to_string(rootSubmap_) + "?live=0");
    EXPECT_EQ(server.stop(), 0);
}

TEST_F(ServeTest, ProblemsSearchAndDetailsTellWhatAndWhere)
{
    servetest::Server server(db_);
    httplib::Client c = server.client();
    // Most severe first; the graphs above sw1 roll up to critical; the filter
    // keeps what is at least major.
    Json all = json(c.Get("/api/problems"));
    ASSERT_TRUE(all.is_object());
    std::vector<std::string> seen;
    for (const Json &p : all["problems"])
        seen.push_back(p["name"].get<std::string>() + ":" + p["effectiveStatusName"].get<std::string>());
    EXPECT_EQ(seen, (std::vector<std::string>{"SAN:critical", "Fab:critical", "sw1:critical", "h1 - sw1 (link1):major"}));
    EXPECT_TRUE(all["problems"][2]["recent"].get<bool>());   // sw1's status changed just now
    EXPECT_FALSE(all["problems"][0]["recent"].get<bool>());
    Json critical = json(c.Get("/api/problems?min=critical"));
    EXPECT_EQ(critical["problems"].size(), 3u);

    Json found = json(c.Get("/api/search?q=ACME"));
    ASSERT_EQ(found["total"], 1);
    EXPECT_EQ(found["results"][0]["id"], h1_);
    EXPECT_EQ(found["results"][0]["appearsOn"][0]["submap"], fabSubmap_);
    std::vector<int> path;
    for (const Json &p : found["results"][0]["appearsOn"][0]["path"])
        path.push_back(p["id"]);
    EXPECT_EQ(path, (std::vector<int>{rootSubmap_, sanSubmap_, fabSubmap_}));
    EXPECT_EQ(json(c.Get("/api/search?q=no-such-thing"))["total"], 0);

    Json h1 = json(c.Get(("/api/object/" + std::to_string(h1_)).c_str()));
    EXPECT_EQ(h1["selectionName"], "O;h1;default");
    EXPECT_EQ(h1["fields"]["UniqueName"], "uid-H1-77");
    ASSERT_EQ(h1["connections"].size(), 1u);
    EXPECT_EQ(h1["connections"][0]["other"], "sw1");
    EXPECT_EQ(h1["connections"][0]["effectiveStatusName"], "major");
    // Why a device has its status: its State text and its last status change.
    EXPECT_EQ(h1["statusReason"], Json({{"state", nullptr}, {"lastChange", nullptr}, {"ageSeconds", nullptr}}));
    Json sw1 = json(c.Get(("/api/object/" + std::to_string(sw1_)).c_str()))["statusReason"];
    EXPECT_EQ(sw1["state"], "Offline: port 3 down");
    EXPECT_EQ(sw1["lastChange"]["symbol"], sw1Symbol_);
    EXPECT_EQ(sw1["lastChange"]["oldName"], "normal");
    EXPECT_EQ(sw1["lastChange"]["newName"], "critical");
    EXPECT_GE(sw1["ageSeconds"].get<int64_t>(), 0);

    Json sub = json(c.Get(("/api/submap/" + std::to_string(sanSubmap_)).c_str()));
    ASSERT_EQ(sub["symbols"].size(), 1u);
    EXPECT_EQ(sub["symbols"][0]["statusName"], "normal");
    EXPECT_EQ(sub["symbols"][0]["effectiveStatusName"], "critical");
    EXPECT_EQ(sub["symbols"][0]["childSubmaps"][0], fabSubmap_);
}

TEST_F(ServeTest, ARankedLayoutPastItsBudgetIsServedOnTheGrid)
{
    // A budget the layout meets even on a loaded machine, then none: the
    // ranked layout runs in a program of its own, the grid is drawn without.
    const std::string fab = "/api/submap/" + std::to_string(fabSubmap_);
    for (const char *budget : {"60000", "0"}) {
        setenv("TQMAP_LAYOUT_BUDGET_MS", budget, 1);
        servetest::Server server(db_);
        unsetenv("TQMAP_LAYOUT_BUDGET_MS");
        ASSERT_TRUE(server.ready());
        httplib::Client c = server.client();
        Json sub = json(c.Get(fab.c_str()));
        EXPECT_EQ(sub["placement"], std::string(*budget != '0' ? "ranked" : "grid")) << budget;
        EXPECT_EQ(sub["positions"].size(), 2u) << budget;
        auto svg = c.Get((fab + "/svg").c_str());
        ASSERT_TRUE(svg);
        EXPECT_EQ(svg->status, 200);
        EXPECT_NE(svg->body.find("id=\"s" + std::to_string(sw1Symbol_) + "\""), std::string::npos) << budget;
    }
}

TEST_F(ServeTest, RefusesABadListenValueAPortInUseAndAFileThatIsNotAMap)
{
    for (const char *bad : {"8080", "localhost:", "127.0.0.1:99999", "127.0.0.1:http"}) {
        RunResult r = tqmap({"serve", "--listen", bad});
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_NE(r.err.find("bad --listen value"), std::string::npos) << r.err;
    }
    servetest::Server first(db_);
    ASSERT_TRUE(first.ready());
    RunResult taken = tqmap({"serve", "--listen", "127.0.0.1:" + std::to_string(first.port())});
    EXPECT_EQ(taken.exitCode, 2);
    EXPECT_NE(taken.err.find("cannot listen on 127.0.0.1:" + std::to_string(first.port())), std::string::npos)
        << taken.err;

    std::string junk = root_.file("maps/junk.db");
    tqtest::writeFile(junk, std::string(4096, 'x'));
    RunResult notMap = tqtest::run({tqtest::binPath("tqmap"), "--db", junk, "serve", "--listen", "127.0.0.1:1"});
    EXPECT_EQ(notMap.exitCode, 2);
    EXPECT_NE(notMap.err.find("is not a map database"), std::string::npos) << notMap.err;
}

TEST_F(ServeTest, AMapWithoutHistoryOrCountersIsShownWithoutThem)
{
    sqlite3 *h = nullptr;
    ASSERT_EQ(sqlite3_open(db_.c_str(), &h), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(h, "DROP TABLE changes; DROP TABLE change_settings; DROP TABLE run_counters", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(h);
    servetest::Server server(db_);
    httplib::Client c = server.client();
    EXPECT_EQ(json(c.Get("/api/changes"))["changes"].size(), 0u);
    EXPECT_FALSE(json(c.Get("/api/problems"))["problems"][2]["recent"].get<bool>());
    auto metrics = c.Get("/metrics");
    ASSERT_TRUE(metrics);
    EXPECT_EQ(metrics->body.find("tqdaemon_"), std::string::npos);
    RunResult changes = tqmap({"changes"});
    EXPECT_EQ(changes.exitCode, 0) << changes.err;
}

TEST_F(ServeTest, NothingButPostWritesTheDatabase)
{
    std::string before = tqtest::readFile(db_);
    ASSERT_FALSE(before.empty());
    std::string h1 = std::to_string(h1_);
    for (std::vector<std::string> cmd :
         {std::vector<std::string>{"tree"}, {"tree", "--json"}, {"objects", "--field", "Name", "--value", "x", "--json"},
          {"find", "h1"}, {"find", "h1", "--json"}, {"show", h1}, {"show", "sw1", "--json"}, {"changes"},
          {"changes", "--since", "1h", "--json"}, {"dot", "--submap", std::to_string(fabSubmap_)},
          {"svg", "-o", root_.file("f.svg"), "--submap", std::to_string(fabSubmap_)}}) {
        RunResult r = tqmap(cmd);
        EXPECT_LE(r.exitCode, 1) << cmd[0] << ": " << r.err;
        EXPECT_EQ(tqtest::readFile(db_), before) << cmd[0];
    }
    {
        servetest::Server server(db_);
        httplib::Client c = server.client();
        for (const char *path : {"/api/map", "/api/problems", "/api/search?q=h", "/metrics", "/api/changes"})
            EXPECT_TRUE(c.Get(path)) << path;
        c.Get(("/api/submap/" + std::to_string(fabSubmap_) + "/svg").c_str());
    }
    EXPECT_EQ(tqtest::readFile(db_), before) << "serve";
}

TEST_F(ServeTest, LinksAreNamedByBothEndsNeverByTheFirst)
{
    const std::string name = "h1 - sw1 (link1)";
    servetest::Server server(db_);
    httplib::Client c = server.client();
    Json changes = json(c.Get("/api/changes"));
    ASSERT_TRUE(changes.is_object());
    bool seen = false;
    for (const Json &ch : changes["changes"])
        if (ch["kind"] == "status" && ch["object"] == link_) {
            EXPECT_EQ(ch["name"], name);
            seen = true;
        }
    EXPECT_TRUE(seen);
    EXPECT_EQ(json(c.Get("/api/search?q=link1"))["results"][0]["name"], name);
    EXPECT_EQ(json(c.Get(("/api/object/" + std::to_string(link_)).c_str()))["name"], name);
    EXPECT_EQ(json(c.Get("/api/problems"))["problems"][3]["name"], name);

    // "h1" names the device alone, not the link that starts at it.
    RunResult show = tqmap({"show", "h1"});
    ASSERT_EQ(show.exitCode, 0) << show.err;
    EXPECT_NE(show.out.find("object " + std::to_string(h1_) + "  O;h1;default"), std::string::npos) << show.out;
    RunResult log = tqmap({"changes"});
    EXPECT_NE(log.out.find("status         object " + std::to_string(link_) + " \"" + name + "\""), std::string::npos)
        << log.out;
    EXPECT_NE(tqmap({"show", name}).out.find("object " + std::to_string(link_)), std::string::npos);
}

TEST_F(ServeTest, FindAndShowNameTheObjectAndWhereItSits)
{
    RunResult find = tqmap({"find", "ACME"});
    ASSERT_EQ(find.exitCode, 0) << find.err;
    EXPECT_NE(find.out.find("object " + std::to_string(h1_) + "  O;h1;default  (matched: VendorName)"),
              std::string::npos)
        << find.out;
    EXPECT_NE(find.out.find("on root submap > SAN > Fab (submap " + std::to_string(fabSubmap_) + ")"),
              std::string::npos)
        << find.out;
    EXPECT_EQ(tqmap({"find", "zzz"}).exitCode, 1);

    RunResult show = tqmap({"show", "SAN"});
    ASSERT_EQ(show.exitCode, 0) << show.err;
    EXPECT_NE(show.out.find("status normal, shows critical"), std::string::npos) << show.out;
    RunResult sw1 = tqmap({"show", "sw1"});
    EXPECT_NE(sw1.out.find("  state: \"Offline: port 3 down\"\n  last status change: normal -> critical at "),
              std::string::npos)
        << sw1.out;
    RunResult h1 = tqmap({"show", "h1", "--json"});
    Json j = Json::parse(h1.out, nullptr, false);
    ASSERT_TRUE(j.is_object()) << h1.out;
    EXPECT_EQ(j["id"], h1_);
    EXPECT_EQ(j["connections"][0]["label"], "link1");
    EXPECT_EQ(tqmap({"show", "nobody"}).exitCode, 1);

    // "#N" is a symbol, as the tree shows it.
    RunResult bySymbol = tqmap({"show", "#" + std::to_string(h1Symbol_)});
    EXPECT_NE(bySymbol.out.find("object " + std::to_string(h1_) + "  O;h1;default"), std::string::npos)
        << bySymbol.out << bySymbol.err;
    EXPECT_EQ(tqmap({"show", "#99999"}).exitCode, 1);

    // A list cut at its limit says so; --all takes every change.
    RunResult all = tqmap({"changes", "--all"});
    ASSERT_EQ(all.exitCode, 0) << all.err;
    EXPECT_EQ(all.err, "");
    RunResult one = tqmap({"changes", "--limit", "1"});
    EXPECT_EQ(tqtest::splitLines(one.out).size(), 2u) << one.out;
    EXPECT_NE(one.err.find("showing the newest 1 changes only; more with --limit N, all with --all"),
              std::string::npos)
        << one.err;
    EXPECT_EQ(tqmap({"changes", "--limit", "1", "--all"}).exitCode, 2);

    RunResult changes = tqmap({"changes", "--json"});
    Json list = Json::parse(changes.out, nullptr, false);
    ASSERT_TRUE(list.is_array()) << changes.out;
    EXPECT_EQ(list[0]["kind"], "status");   // newest first
    EXPECT_EQ(list[0]["newName"], "critical");
    EXPECT_EQ(tqmap({"changes", "--since", "yesterday"}).exitCode, 2);
}

}  // namespace

namespace {

TEST_F(ServeTest, ALargeMapIsDrawnToItsTopLevelsAndOneSubmapWhole)
{
    ASSERT_EQ(OVwInit(), 0);
    OVwMapInfo *map = OVwGetMapInfo();
    for (int i = 0; i < 450; ++i) {
        std::string name = "O;d" + std::to_string(i) + ";default";
        OVwCreateSymbol(map, fabSubmap_, OVwDbCreateObjectBySelectionName(name.c_str()), "Computer:Server",
                        ("d" + std::to_string(i)).c_str(), OVwStatusNormal, 3, nullptr, 0);
    }
    OVwFreeMapInfo(map);
    ASSERT_EQ(OVwDone(), 0);

    RunResult whole = tqmap({"dot"});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_NE(whole.err.find("draw the rest one submap at a time with --submap ID: " + std::to_string(fabSubmap_)),
              std::string::npos)
        << whole.err;
    EXPECT_NE(whole.out.find("subgraph cluster_" + std::to_string(sanSubmap_) + " "), std::string::npos);
    EXPECT_EQ(whole.out.find("subgraph cluster_" + std::to_string(fabSubmap_) + " "), std::string::npos);
    EXPECT_EQ(whole.out.find("label=\"d449"), std::string::npos);

    RunResult one = tqmap({"dot", "--submap", std::to_string(fabSubmap_)});
    ASSERT_EQ(one.exitCode, 0) << one.err;
    EXPECT_NE(one.out.find("label=\"d449"), std::string::npos);
    EXPECT_EQ(one.out.find("s" + std::to_string(sanSymbol_) + " ["), std::string::npos);
    EXPECT_EQ(one.out.find("subgraph cluster_" + std::to_string(fabSubmap_)), std::string::npos);
    EXPECT_EQ(tqmap({"svg", "-o", root_.file("x.svg"), "--submap", "9999"}).exitCode, 1);
}

// ---- export -------------------------------------------------------------------------

// An export as Python's standard XML parser reads it (tests/tools/export_read.py).
Json readExport(const std::string &format, const std::string &file)
{
    RunResult r = tqtest::run({"/usr/bin/python3", tqtest::sourcePath("tests/tools/export_read.py"), format, file});
    EXPECT_EQ(r.exitCode, 0) << file << ": " << r.err;
    return Json::parse(r.out, nullptr, false);
}

TEST_F(ServeTest, ExportsReadBackWithTheSubmapsSymbolsLinksStatusesAndTexts)
{
    // A device whose label holds markup characters and a Latin-1 byte, linked to sw1.
    ASSERT_EQ(OVwInit(), 0);
    OVwMapInfo *map = OVwGetMapInfo();
    OVwObjectId arr = OVwDbCreateObjectBySelectionName("O;arr;default");
    const int arrSymbol = OVwCreateSymbol(map, fabSubmap_, arr, "Storage:Disk Array", "<b> & \"q\" 'a' caf\xe9",
                                          OVwStatusMarginal, 3, nullptr, 0);
    const int arrLink = OVwCreateConnSymbol(map, OVwDbCreateObjectBySelectionName("O;arr;O;sw1;0;default"),
                                            arrSymbol, sw1Symbol_, "Connection:FC", "x<&>y", OVwStatusCritical, 3, 0);
    OVwFreeMapInfo(map);
    ASSERT_EQ(OVwDone(), 0);
    auto s = [](int id) { return "s" + std::to_string(id); };
    using Pair = std::pair<std::string, std::string>;
    const std::map<std::string, Pair> nodes = {{s(sw1Symbol_), {"sw1", "critical"}},
                                               {s(h1Symbol_), {"h1", "normal"}},
                                               {s(arrSymbol), {"<b> & \"q\" 'a' caf\xef\xbf\xbd", "marginal"}}};
    const std::map<std::string, std::vector<std::string>> edges = {
        {s(linkSymbol_), {s(h1Symbol_), s(sw1Symbol_), "link1", "major"}},
        {s(arrLink), {s(arrSymbol), s(sw1Symbol_), "x<&>y", "critical"}}};

    servetest::Server server(db_);
    ASSERT_TRUE(server.ready());
    httplib::Client c = server.client();
    const std::string fab = std::to_string(fabSubmap_);
    for (const std::string format : {"graphml", "drawio", "svg"}) {
        SCOPED_TRACE(format);
        // To standard output, to a file named for the format, and from the page's link.
        RunResult out = tqmap({"export", "--submap", fab, "--format", format});
        ASSERT_EQ(out.exitCode, 0) << out.err;
        const std::string file = root_.file("fab." + format);
        ASSERT_EQ(tqmap({"export", "--submap", fab, "-o", file}).exitCode, 0);
        EXPECT_EQ(tqtest::readFile(file), out.out);
        auto web = c.Get(("/api/submap/" + fab + "/export?format=" + format).c_str());
        ASSERT_TRUE(web);
        ASSERT_EQ(web->status, 200) << web->body;
        EXPECT_EQ(web->get_header_value("Content-Disposition"), "attachment; filename=\"Fab-" + fab + "." + format + "\"");
        tqtest::writeFile(root_.file("web." + format), web->body);

        for (const std::string &read : {file, root_.file("web." + format)}) {
            Json got = readExport(format, read);
            ASSERT_TRUE(got.is_object()) << read;
            EXPECT_EQ(got["title"], "Fab");
            std::map<std::string, Pair> gotNodes;
            std::set<Pair> places;
            for (const Json &n : got["nodes"]) {
                gotNodes[n["id"].get<std::string>()] = {n["label"].get<std::string>(), n["status"].get<std::string>()};
                places.insert({std::to_string(n["x"].get<double>()), std::to_string(n["y"].get<double>())});
                EXPECT_GE(n["x"].get<double>(), 0);
                EXPECT_GE(n["y"].get<double>(), 0);
            }
            EXPECT_EQ(gotNodes, nodes);
            EXPECT_EQ(places.size(), nodes.size()) << "each symbol at a place of its own";
            std::map<std::string, std::vector<std::string>> gotEdges;
            for (const Json &e : got["edges"])
                gotEdges[e["id"].get<std::string>()] = {e["source"].get<std::string>(), e["target"].get<std::string>(),
                                                          e["label"].get<std::string>(), e["status"].get<std::string>()};
            EXPECT_EQ(gotEdges, edges);
        }
    }
    // Without --submap: the root submap, which holds SAN.
    RunResult root = tqmap({"export", "-o", root_.file("root.svg")});
    ASSERT_EQ(root.exitCode, 0) << root.err;
    Json top = readExport("svg", root_.file("root.svg"));
    EXPECT_EQ(top["title"], "root submap");
    ASSERT_EQ(top["nodes"].size(), 1u);
    EXPECT_EQ(top["nodes"][0]["id"], s(sanSymbol_));

    // Refused: an unknown submap (1), an unknown or unstated format (2).
    EXPECT_EQ(tqmap({"export", "--submap", "9999", "--format", "svg"}).exitCode, 1);
    for (std::vector<std::string> args : {std::vector<std::string>{"export", "--format", "pdf"}, {"export"},
                                          {"export", "-o", root_.file("fab.txt")}})
        EXPECT_EQ(tqmap(args).exitCode, 2) << args.back();
    EXPECT_FALSE(tqtest::fileExists(root_.file("fab.txt")));
    for (const auto &[path, status] : std::vector<std::pair<std::string, int>>{
             {"/api/submap/9999/export?format=svg", 404}, {"/api/submap/" + fab + "/export?format=pdf", 400}}) {
        auto r = c.Get(path.c_str());
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, status) << path;
        EXPECT_TRUE(Json::parse(r->body, nullptr, false).contains("error")) << path << ": " << r->body;
    }
}

}  // namespace
