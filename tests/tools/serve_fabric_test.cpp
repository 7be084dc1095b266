// tqmap serve on a 1,000-device core-edge fabric: the layered drawing, its
// folded fans, the neighbours view and the connection details.
#include "fabric_fixture.h"

#include <gtest/gtest.h>

#include <regex>
#include <unistd.h>

namespace {

using servetest::FabricMap;
using Json = nlohmann::json;

// A label of the drawing: its box from the SVG's own attributes (centred
// text; about 0.6 of the font size per character).
struct Label {
    std::string text;
    double left, right, top, bottom;
};

std::vector<Label> labelsOf(const std::string &svg)
{
    std::vector<Label> out;
    static const std::regex text(R"re(<text x="([-\d.]+)" y="([-\d.]+)" text-anchor="middle"[^>]*font-size="(\d+)"[^>]*>([^<]*)</text>)re");
    for (auto it = std::sregex_iterator(svg.begin(), svg.end(), text); it != std::sregex_iterator(); ++it) {
        const std::smatch &m = *it;
        std::string t = m[4];
        size_t chars = 0;
        for (size_t i = 0; i < t.size(); ++i) {
            if ((static_cast<unsigned char>(t[i]) & 0xC0) == 0x80)
                continue;
            if (t[i] == '&')
                i = t.find(';', i);
            ++chars;
        }
        double x = std::stod(m[1]), y = std::stod(m[2]), fs = std::stod(m[3]), w = 0.6 * fs * double(chars);
        out.push_back({t, x - w / 2, x + w / 2, y - fs, y});
    }
    return out;
}

void expectNoOverlap(const std::string &svg, size_t atLeast, const std::string &what)
{
    std::vector<Label> labels = labelsOf(svg);
    ASSERT_GE(labels.size(), atLeast) << what;
    for (size_t i = 0; i < labels.size(); ++i)
        for (size_t k = i + 1; k < labels.size(); ++k) {
            const Label &a = labels[i], &b = labels[k];
            bool overlap = a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
            EXPECT_FALSE(overlap) << what << ": \"" << a.text << "\" and \"" << b.text << "\"";
        }
}

// The centre of a symbol in the SVG: the first coordinates its shape gives.
std::pair<double, double> centreOf(const Json &positions, int symbol)
{
    for (const Json &p : positions)
        if (p[0] == symbol)
            return {p[1].get<double>(), p[2].get<double>()};
    ADD_FAILURE() << "symbol " << symbol << " is not placed";
    return {0, 0};
}

class ServeFabricTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { fabric_ = new FabricMap(4, 40, 24); }
    static void TearDownTestSuite()
    {
        delete fabric_;
        fabric_ = nullptr;
    }
    static Json get(const std::string &path)
    {
        httplib::Client c = fabric_->server->client();
        auto r = c.Get(path.c_str());
        EXPECT_TRUE(r && r->status == 200) << path << ": " << (r ? r->body : std::string("no answer"));
        return r && r->status == 200 ? Json::parse(r->body, nullptr, false) : Json();
    }
    static std::string svg(const std::string &query)
    {
        httplib::Client c = fabric_->server->client();
        auto r = c.Get(("/api/submap/" + std::to_string(fabric_->submap) + "/svg" + query).c_str());
        EXPECT_TRUE(r && r->status == 200) << query;
        return r ? r->body : std::string();
    }
    static FabricMap *fabric_;
};

FabricMap *ServeFabricTest::fabric_ = nullptr;

TEST_F(ServeFabricTest, AThousandDevicesAreDrawnInLayersWithLargeFansFoldedAndNoLabelsOverlapping)
{
    const FabricMap &f = *fabric_;
    std::string sm = "/api/submap/" + std::to_string(f.submap);
    Json j = get(sm);
    EXPECT_EQ(j["placement"], "layered");
    // 4 core and 40 edge switches drawn; the 960 leaves in 40 groups.
    EXPECT_EQ(j["symbols"].size(), 44u);
    EXPECT_EQ(j["connections"].size(), 160u);
    ASSERT_EQ(j["groups"].size(), 40u);
    for (const Json &g : j["groups"]) {
        EXPECT_EQ(g["count"], 24);
        EXPECT_FALSE(g["open"].get<bool>());
        // The one critical host shows on its group; the others are normal.
        EXPECT_EQ(g["effectiveStatusName"], g["hub"] == f.edges[7] ? "critical" : "normal") << g;
    }
    // Rows by role: core above edge, each group beneath its edge switch.
    double coreY = centreOf(j["positions"], f.cores[0]).second, edgeY = centreOf(j["positions"], f.edges[0]).second;
    EXPECT_LT(coreY, edgeY);
    std::string folded = svg("");
    std::smatch g7;
    ASSERT_TRUE(std::regex_search(folded, g7, std::regex("<g id=\"g-f" + std::to_string(f.edges[7]) +
                                                         "\" class=\"group st2\" data-group=\"f\\d+\" data-count=\"24\">")));
    expectNoOverlap(folded, 84, "folded");

    // Opened: the 24 hosts and arrays of edge 7 beneath it, the rest folded.
    std::string open = "?open=f" + std::to_string(f.edges[7]);
    Json o = get(sm + open);
    EXPECT_EQ(o["symbols"].size(), 44u + 24u);
    EXPECT_EQ(o["connections"].size(), 160u + 24u);
    auto [hx, hy] = centreOf(o["positions"], f.edges[7]);
    for (int leaf : f.leaves[7]) {
        auto [x, y] = centreOf(o["positions"], leaf);
        EXPECT_GT(y, hy);
        EXPECT_LT(std::abs(x - hx), 5 * 120.0);
    }
    expectNoOverlap(svg(open), 84 + 23, "opened");
    // Every fan opened: a thousand labels, none on another.
    std::string all = "?open=";
    for (int e : f.edges)
        all += "f" + std::to_string(e) + ",";
    expectNoOverlap(svg(all), 1000, "all open");
}

TEST_F(ServeFabricTest, TheNeighboursViewShowsOneDeviceAndWhatLiesWithinNHops)
{
    const FabricMap &f = *fabric_;
    std::string sm = "/api/submap/" + std::to_string(f.submap);
    int host = f.leaves[3][4];
    auto ids = [](const Json &list) {
        std::set<int> out;
        for (const Json &s : list)
            out.insert(s["id"].get<int>());
        return out;
    };
    Json one = get(sm + "?around=" + std::to_string(host) + "&hops=1");
    EXPECT_EQ(ids(one["symbols"]), (std::set<int>{host, f.edges[3]}));
    EXPECT_EQ(one["connections"].size(), 1u);
    EXPECT_EQ(one["view"]["around"]["name"], "host-3-4.san.example.net");
    // Two hops: the core switches and the other 23 devices of the switch,
    // folded; the device itself is never folded away.
    Json two = get(sm + "?around=" + std::to_string(host) + "&hops=2");
    std::set<int> want{host, f.edges[3]};
    want.insert(f.cores.begin(), f.cores.end());
    EXPECT_EQ(ids(two["symbols"]), want);
    ASSERT_EQ(two["groups"].size(), 1u);
    EXPECT_EQ(two["groups"][0]["count"], 23);
    // Three hops reach every switch.
    EXPECT_EQ(get(sm + "?around=" + std::to_string(host) + "&hops=3")["symbols"].size(), 44u + 1u);
    // A symbol of another submap: nothing within reach, said so.
    EXPECT_EQ(get(sm + "?around=" + std::to_string(f.fabricSymbol))["symbols"].size(), 0u);
    EXPECT_NE(svg("?around=" + std::to_string(f.fabricSymbol)).find("(nothing within reach)"), std::string::npos);
}

TEST_F(ServeFabricTest, AConnectionsDetailsNameBothEndsItsLabelStatusAndLastChange)
{
    const FabricMap &f = *fabric_;
    Json c = get("/api/connection/" + std::to_string(f.failedLink));
    EXPECT_EQ(c["name"], "edge-2 - core-1 (ISL)");
    EXPECT_EQ(c["label"], "ISL");
    EXPECT_EQ(c["effectiveStatusName"], "critical");
    ASSERT_EQ(c["ends"].size(), 2u);
    EXPECT_EQ(c["ends"][0]["name"], "edge-2");
    EXPECT_EQ(c["ends"][1]["name"], "core-1");
    ASSERT_TRUE(c["lastChange"].is_object()) << c;
    EXPECT_EQ(c["lastChange"]["newName"], "critical");
    // Not a connection, or none at all: 404.
    httplib::Client client = f.server->client();
    EXPECT_EQ(client.Get(("/api/connection/" + std::to_string(f.cores[0])).c_str())->status, 404);
    EXPECT_EQ(client.Get("/api/connection/99999999")->status, 404);
    // The drawing makes it clickable: a wide, unseen line over the link.
    std::string drawing = svg("");
    EXPECT_TRUE(std::regex_search(drawing, std::regex("<g id=\"s" + std::to_string(f.failedLink) +
                                                       "\" class=\"edge conn st2\">.*?<line class=\"hit\"")));
}

// The page in headless Chromium, driven as a person would (scripts/browse):
// wheel, drag and keys move the drawing, a click opens a group, a device's
// details lead to its neighbours, and a click on a link shows its details.
TEST_F(ServeFabricTest, ARealBrowserPansZoomsOpensAGroupAndShowsALinksDetails)
{
    if (::access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "chromium is not installed (scripts/deps installs it): no browser to run the page in";
    const FabricMap &f = *fabric_;
    const std::string shots = f.root.file("shots");
    tqtest::writeFile(shots + "/.keep", "");
    auto browse = [&](const std::string &path, const Json &steps) {
        tqtest::RunResult r = tqtest::run({tqtest::sourcePath("scripts/browse"), "--profile", f.root.file("profile"),
                                           "--size", "1200,700",
                                           "http://127.0.0.1:" + std::to_string(f.server->port()) + path},
                                          {}, steps.dump(), 120);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        Json out = Json::parse(r.out, nullptr, false);
        return out.is_object() ? out["results"] : Json::array();
    };
    const std::string zoom = "+document.getElementById('view').dataset.zoom", left = "document.querySelector('#view svg').viewBox.baseVal.x";
    const std::string edge7 = std::to_string(f.edges[7]), leaf = std::to_string(f.leaves[7][5]);
    const std::string ready = "document.body.dataset.paintMs";
    Json r = browse("/submap/" + std::to_string(f.submap) + "?live=0",
                    {{{"wait", ready}}, {{"shot", shots + "/fabric.png"}}, {{"eval", zoom}},
                     {{"wheel", "#view svg"}, {"deltaY", -240}}, {{"eval", zoom}},
                     {{"key", "-"}}, {{"key", "-"}}, {{"eval", zoom}},
                     {{"key", "0"}}, {{"eval", left}},
                     {{"drag", "#view svg"}, {"dx", 150}, {"dy", 0}}, {{"eval", left}},
                     {{"key", "ArrowRight"}}, {{"eval", left}},
                     {{"key", "0"}}, {{"click", "#g-f" + edge7 + " rect"}},
                     {{"wait", "location.search.includes('open=f" + edge7 + "') && document.getElementById('s" + leaf +
                                   "') && " + ready}},
                     {{"eval", "document.getElementById('s" + leaf + "').dataset.status"}},
                     {{"key", "0"}}, {{"click", "#s" + leaf + " path"}},
                     {{"wait", "document.querySelector('#details .neighbours a')"}},
                     {{"shot", shots + "/fabric-open.png"}},
                     {{"click", "#details .neighbours a"}},
                     {{"wait", "location.search.includes('around=" + leaf + "') && " + ready}},
                     {{"eval", "document.getElementById('viewnote').textContent"}},
                     {{"eval", "document.querySelectorAll('#view g.node').length"}}});
    ASSERT_EQ(r.size(), 9u) << r;
    EXPECT_GT(r[1].get<double>(), r[0].get<double>());   // the wheel zooms in
    EXPECT_LT(r[2].get<double>(), r[1].get<double>());   // "-" zooms out
    EXPECT_LT(r[4].get<double>(), r[3].get<double>());   // dragged right: the view moves left
    EXPECT_GT(r[5].get<double>(), r[4].get<double>());   // the arrow key moves it right
    EXPECT_EQ(r[6], "critical");                         // the opened group's critical array
    EXPECT_NE(r[7].get<std::string>().find("neighbours of array-7-5"), std::string::npos) << r[7];
    EXPECT_EQ(r[8], 2);                                  // the array and its switch

    // In the neighbours view, the one link: a click shows both ends and its last change.
    std::string link = std::to_string(f.leafLinks[7 * 24 + 5]);
    Json d = browse("/submap/" + std::to_string(f.submap) + "?live=0&around=" + leaf + "&hops=1",
                    {{{"wait", ready}}, {{"click", "#s" + link + " line.hit"}},
                     {{"wait", "document.getElementById('details').dataset.connection === '" + link + "'"}},
                     {{"shot", shots + "/neighbours.png"}},
                     {{"eval", "document.getElementById('details').innerText"}}});
    ASSERT_EQ(d.size(), 1u) << d;
    std::string details = d[0];
    for (const char *want : {"array-7-5 primary disk pool - edge-7 (16G)", "label 16G", "status: normal", "ends",
                             "edge-7", "last change"})
        EXPECT_NE(details.find(want), std::string::npos) << want << " in " << details;
    // TQ_KEEP_SCREENSHOTS names a folder to keep the pictures in (the docs' pictures).
    if (const char *keep = std::getenv("TQ_KEEP_SCREENSHOTS"))
        for (const char *png : {"fabric.png", "fabric-open.png", "neighbours.png"})
            tqtest::writeFile(std::string(keep) + "/" + png, tqtest::readFile(shots + "/" + png));
}

}  // namespace
