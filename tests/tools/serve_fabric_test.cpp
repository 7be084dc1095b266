// tqmap serve on a 1,000-device core-edge fabric with a large group of loose
// devices: the layered drawing, its folded fans, the pages of an opened
// group, lines clear of symbols, the neighbours view and the connection
// details.
#include "fabric_fixture.h"

#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <set>
#include <sstream>
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

// The drawing's geometry: the outline of every symbol, group and page turner
// (by its element id), and every connection's line as its corners.
struct Box {
    std::string id;
    double left, right, top, bottom;
};
struct Line {
    int id;
    std::vector<std::pair<double, double>> corners;
};

std::vector<double> numbersIn(const std::string &text)
{
    static const std::regex number(R"(-?\d+(\.\d+)?)");
    std::vector<double> out;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), number); it != std::sregex_iterator(); ++it)
        out.push_back(std::stod(it->str()));
    return out;
}

void geometryOf(const std::string &svg, std::vector<Box> &boxes, std::vector<Line> &lines)
{
    static const std::regex item(R"re(^<g id="([^"]+)" class="([^"]+)")re"), corner(R"re([ML]([-\d.]+) ([-\d.]+))re"),
        ellipse(R"re(<ellipse cx="([-\d.]+)" cy="([-\d.]+)" rx="([\d.]+)" ry="([\d.]+)")re"),
        polygon(R"re(<polygon points="([^"]+)")re"), rect(R"re(<rect x="([-\d.]+)" y="([-\d.]+)" width="([\d.]+)" height="([\d.]+)")re"),
        // A drum: its top's left end, the top's radii and width, the side's height.
        drum(R"re(<path d="M([-\d.]+) ([-\d.]+) a([\d.]+) ([\d.]+) 0 0 0 ([\d.]+) 0 v([\d.]+))re");
    std::istringstream in(svg);
    std::string text;
    while (std::getline(in, text)) {
        std::smatch m;
        if (!std::regex_search(text, m, item))
            continue;
        const std::string id = m[1], cls = m[2];
        if (cls == "graph")
            continue;
        if (cls.rfind("edge conn", 0) == 0) {
            std::string d = text.substr(text.find("<path d=\""));
            d = d.substr(0, d.find("\" "));
            Line l{std::atoi(id.c_str() + 1), {}};
            for (auto it = std::sregex_iterator(d.begin(), d.end(), corner); it != std::sregex_iterator(); ++it)
                l.corners.emplace_back(std::stod((*it)[1]), std::stod((*it)[2]));
            lines.push_back(l);
            continue;
        }
        Box b{id, 1e9, -1e9, 1e9, -1e9};
        auto add = [&](double l, double r, double t, double bo) {
            b.left = std::min(b.left, l), b.right = std::max(b.right, r), b.top = std::min(b.top, t), b.bottom = std::max(b.bottom, bo);
        };
        for (auto it = std::sregex_iterator(text.begin(), text.end(), ellipse); it != std::sregex_iterator(); ++it) {
            double x = std::stod((*it)[1]), y = std::stod((*it)[2]), rx = std::stod((*it)[3]), ry = std::stod((*it)[4]);
            add(x - rx, x + rx, y - ry, y + ry);
        }
        for (auto it = std::sregex_iterator(text.begin(), text.end(), polygon); it != std::sregex_iterator(); ++it) {
            std::vector<double> v = numbersIn((*it)[1]);
            for (size_t k = 0; k + 1 < v.size(); k += 2)
                add(v[k], v[k], v[k + 1], v[k + 1]);
        }
        for (auto it = std::sregex_iterator(text.begin(), text.end(), rect); it != std::sregex_iterator(); ++it) {
            double x = std::stod((*it)[1]), y = std::stod((*it)[2]);
            add(x, x + std::stod((*it)[3]), y, y + std::stod((*it)[4]));
        }
        for (auto it = std::sregex_iterator(text.begin(), text.end(), drum); it != std::sregex_iterator(); ++it) {
            double x = std::stod((*it)[1]), y = std::stod((*it)[2]), ry = std::stod((*it)[4]);
            add(x, x + std::stod((*it)[5]), y - ry, y + std::stod((*it)[6]) + ry);
        }
        EXPECT_LT(b.left, b.right) << "no outline read for " << id;
        boxes.push_back(b);
    }
}

// True when the segment p-q passes through the inside of the box (clipped
// by Liang and Barsky's method; a line along an edge does not count).
bool crosses(std::pair<double, double> p, std::pair<double, double> q, const Box &b)
{
    const double in = 0.5;
    double t0 = 0, t1 = 1, dx = q.first - p.first, dy = q.second - p.second;
    const double d[4] = {-dx, dx, -dy, dy};
    const double room[4] = {p.first - (b.left + in), (b.right - in) - p.first, p.second - (b.top + in), (b.bottom - in) - p.second};
    for (int k = 0; k < 4; ++k) {
        if (d[k] == 0) {
            if (room[k] < 0)
                return false;
            continue;
        }
        double t = room[k] / d[k];
        if (d[k] < 0)
            t0 = std::max(t0, t);
        else
            t1 = std::min(t1, t);
    }
    return t0 < t1;
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
    static void SetUpTestSuite() { fabric_ = new FabricMap(4, 40, 24, 450); }
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
    // 4 core and 40 edge switches drawn; the 960 leaves in 40 groups, the
    // loose workstations in one.
    EXPECT_EQ(j["symbols"].size(), 44u);
    EXPECT_EQ(j["connections"].size(), 160u);
    ASSERT_EQ(j["groups"].size(), 41u);
    for (const Json &g : j["groups"]) {
        if (g["hub"] == 0)
            continue;
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
    expectNoOverlap(folded, 85, "folded");

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
    expectNoOverlap(svg(open), 85 + 23, "opened");
    // Every fan opened: a thousand labels, none on another.
    std::string all = "?open=";
    for (int e : f.edges)
        all += "f" + std::to_string(e) + ",";
    expectNoOverlap(svg(all), 1000, "all open");
}

TEST_F(ServeFabricTest, NoLineCrossesASymbolFoldedOrWithFansOpen)
{
    const FabricMap &f = *fabric_;
    std::string sm = "/api/submap/" + std::to_string(f.submap);
    std::string all = "?open=";
    for (int e : f.edges)
        all += "f" + std::to_string(e) + ",";
    for (const std::string &q : {std::string(), "?open=f" + std::to_string(f.edges[7]), all}) {
        Json j = get(sm + q);
        std::map<int, std::set<std::string>> ends;
        for (const Json &c : j["connections"])
            ends[c["id"].get<int>()] = {"s" + std::to_string(c["a"].get<int>()), "s" + std::to_string(c["z"].get<int>())};
        std::vector<Box> boxes;
        std::vector<Line> lines;
        geometryOf(svg(q), boxes, lines);
        ASSERT_EQ(lines.size(), ends.size()) << q;
        ASSERT_GE(boxes.size(), j["symbols"].size() + j["groups"].size() - 40) << q;
        std::vector<std::string> through;
        for (const Line &l : lines) {
            EXPECT_GE(l.corners.size(), 2u) << l.id;
            for (const Box &b : boxes)
                for (size_t k = 0; k + 1 < l.corners.size(); ++k)
                    if (ends[l.id].count(b.id) == 0 && crosses(l.corners[k], l.corners[k + 1], b)) {
                        through.push_back("link s" + std::to_string(l.id) + " through " + b.id);
                        break;
                    }
        }
        EXPECT_TRUE(through.empty()) << q << ": " << through.size() << " crossings, the first " << through.front();
    }
}

// The loose workstations in one group, opened a page at a time: each page
// draws a bounded number, the pages lead from one to the next and together
// show every member once; the way to any member names the page to open.
TEST_F(ServeFabricTest, AHugeLooseGroupOpensInBoundedPagesThatReachEveryMember)
{
    const FabricMap &f = *fabric_;
    std::string sm = "/api/submap/" + std::to_string(f.submap);
    Json folded = get(sm);
    std::string key;
    for (const Json &g : folded["groups"])
        if (g["hub"] == 0) {
            key = g["key"];
            EXPECT_EQ(g["count"], f.loose.size());
            EXPECT_EQ(g["effectiveStatusName"], "major");
            EXPECT_FALSE(g["open"].get<bool>());
        }
    ASSERT_FALSE(key.empty()) << folded["groups"];
    std::set<int> switches(f.cores.begin(), f.cores.end()), members(f.loose.begin(), f.loose.end()), seen;
    switches.insert(f.edges.begin(), f.edges.end());
    std::vector<std::pair<std::string, std::vector<int>>> pages;   // open key -> members shown
    for (std::string open = key; !open.empty() && pages.size() <= members.size();) {
        Json j = get(sm + "?open=" + open);
        std::string drawing = svg("?open=" + open);
        pages.push_back({open, {}});
        for (const Json &s : j["symbols"]) {
            int id = s["id"];
            if (switches.count(id) != 0)
                continue;
            EXPECT_EQ(members.count(id), 1u) << id;
            EXPECT_TRUE(seen.insert(id).second) << id << " on two pages";
            EXPECT_NE(drawing.find("<g id=\"s" + std::to_string(id) + "\""), std::string::npos) << id;
            pages.back().second.push_back(id);
        }
        // Bounded: a few hundred, however large the group.
        EXPECT_LE(pages.back().second.size(), 200u) << open;
        EXPECT_FALSE(pages.back().second.empty()) << open;
        for (const Json &g : j["groups"])
            if (g["key"] == key) {
                EXPECT_TRUE(g["open"].get<bool>());
                EXPECT_EQ(g["page"], pages.size());
            }
        std::smatch turn;
        if (pages.size() > 1) {
            EXPECT_TRUE(std::regex_search(drawing, turn, std::regex("<g id=\"pg-" + key + "-prev\"[^>]*data-open=\"([^\"]+)\"")));
            EXPECT_EQ(turn[1], pages[pages.size() - 2].first);
        }
        open = std::regex_search(drawing, turn, std::regex("<g id=\"pg-" + key + "-next\"[^>]*data-open=\"([^\"]+)\""))
                   ? turn[1].str()
                   : std::string();
    }
    EXPECT_EQ(seen, members);
    EXPECT_EQ(pages.size(), (f.loose.size() + 199) / 200);
    expectNoOverlap(svg("?open=" + pages.back().first), 45, "a page");
    // A key of another group that sorts between the group's own ("t12" between
    // "t1" and "t1p2") leaves the page as asked.
    ASSERT_GE(pages.size(), 2u);
    const Json between = get(sm + "?open=" + key + "0," + pages[1].first);
    for (const Json &g : between["groups"]) {
        if (g["key"] == key) {
            EXPECT_EQ(g["page"], 2) << g;
        }
    }

    // The way to a member, from the folded view and from another page: the
    // first and last of each page, and a device of a folded fan.
    httplib::Client c = f.server->client();
    auto way = [&](int symbol, const std::string &from) {
        auto r = c.Get((sm + "/way/" + std::to_string(symbol) + from).c_str());
        EXPECT_TRUE(r && r->status == 200) << symbol << from;
        std::string open = r && r->status == 200 ? Json::parse(r->body, nullptr, false).value("open", "") : "";
        EXPECT_NE(svg("?open=" + open).find("<g id=\"s" + std::to_string(symbol) + "\""), std::string::npos)
            << symbol << " from '" << from << "' by '" << open << "'";
        return open;
    };
    for (const auto &[open, shown] : pages)
        for (int id : {shown.front(), shown.back()}) {
            EXPECT_EQ(way(id, ""), open);
            way(id, "?open=" + pages.back().first + ",f" + std::to_string(f.edges[1]));
        }
    EXPECT_EQ(way(f.leaves[3][4], ""), "f" + std::to_string(f.edges[3]));
    // Search finds a member where it is drawn; a symbol of another submap has no way here.
    Json found = get("/api/search?q=ws-" + std::to_string(f.loose.size() - 1));
    ASSERT_EQ(found["results"].size(), 1u) << found;
    EXPECT_EQ(found["results"][0]["appearsOn"][0]["symbol"], f.loose.back());
    EXPECT_EQ(c.Get((sm + "/way/" + std::to_string(f.fabricSymbol)).c_str())->status, 404);
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
                                                       "\" class=\"edge conn st2\">.*?<(line|path) class=\"hit\"")));
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
    // Then a search's link to a workstation folded away opens the page of
    // its group that shows it, selected; a page turner leads on.
    std::string link = std::to_string(f.leafLinks[7 * 24 + 5]), ws = std::to_string(f.loose.back());
    Json d = browse("/submap/" + std::to_string(f.submap) + "?live=0&around=" + leaf + "&hops=1",
                    {{{"wait", ready}}, {{"click", "#s" + link + " line.hit"}},
                     {{"wait", "document.getElementById('details').dataset.connection === '" + link + "'"}},
                     {{"shot", shots + "/neighbours.png"}},
                     {{"eval", "document.getElementById('details').innerText"}},
                     {{"eval", "location.assign('/submap/" + std::to_string(f.submap) + "?live=0#sel=" + ws + "'), 0"}},
                     {{"wait", "location.search.includes('open=t') && document.querySelector('#s" + ws + ".selected')"}},
                     {{"eval", "document.querySelectorAll('#view g.node').length"}},
                     {{"key", "0"}}, {{"click", "g.pager rect"}},
                     {{"wait", "document.querySelector('#view g.pager') && !document.getElementById('s" + ws + "') && " + ready}},
                     {{"eval", "document.querySelectorAll('#view g.node').length"}}});
    ASSERT_EQ(d.size(), 4u) << d;
    // Each page draws the switches and at most a page of workstations.
    EXPECT_GT(d[2].get<int>(), 44);
    EXPECT_LE(d[2].get<int>(), 44 + 200);
    EXPECT_GT(d[3].get<int>(), 44);
    EXPECT_LE(d[3].get<int>(), 44 + 200);
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
