// The web view on the example map: it follows a running daemon live, keeps
// the layout when only statuses change, and a real browser runs its page.
#include "mapdb/read.h"
#include "support/testsupport.h"
#include "tools/serve_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <future>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>

namespace {

using Json = nlohmann::json;
using tqtest::RunResult;
using Clock = std::chrono::steady_clock;

class WebViewE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_.writeServices(tqtest::readFile(tqtest::sourcePath("examples/services")));
        root_.writeOidToSym(tqtest::readFile(tqtest::sourcePath("examples/oid_to_sym")));
    }
    std::string encode(const std::string &jsonl)
    {
        std::string in = root_.file("in.jsonl"), out = root_.file("out.bin");
        tqtest::writeFile(in, jsonl);
        RunResult r = tqtest::run({tqtest::binPath("tqstream"), "encode", "-i", in, "-o", out});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return tqtest::readFile(out);
    }
    std::string example() { return tqtest::readFile(tqtest::sourcePath("examples/storage.jsonl")); }
    std::string dbPath() const { return root_.file("usr/ov/databases/tqmap.db"); }
    std::map<std::string, std::string> env() const
    {
        // The default database path: its folder is made on the first run.
        return {{"TQ_DRIVE", "C:"}, {"TQ_ROOT", root_.path()}};
    }
    // The submap of the graph labelled `label`, from the API.
    static int submapOf(httplib::Client &c, const std::string &label)
    {
        auto r = c.Get("/api/map");
        if (!r)
            return 0;
        Json map = Json::parse(r->body, nullptr, false);
        for (const Json &s : map["submaps"])
            if (s["title"] == label)
                return s["id"];
        return 0;
    }

    // The example in its two phases (the topology, then the rest), one run
    // each; the time between them (ms since 1970, as text).
    std::string twoPhases()
    {
        std::string one, two;
        bool inTwo = false;
        for (const std::string &line : tqtest::splitLines(example())) {
            if (line.empty())
                continue;
            const bool topology = line.rfind("{\"type\":\"graph\"", 0) == 0 ||
                                  line.rfind("{\"type\":\"vertex\"", 0) == 0 || line.rfind("{\"type\":\"arc\"", 0) == 0;
            inTwo = inTwo || !topology;
            (inTwo ? two : one) += line + "\n";
        }
        tqtest::writeFile(root_.file("tqdaemon.file"), encode(one));
        EXPECT_EQ(tqtest::run({tqtest::binPath("tqdaemon")}, env()).exitCode, 0);
        const std::string between = std::to_string(nowMs());
        while (std::to_string(nowMs()) == between) {
        }
        tqtest::writeFile(root_.file("tqdaemon.file"), encode(two));
        EXPECT_EQ(tqtest::run({tqtest::binPath("tqdaemon")}, env()).exitCode, 0);
        return between;
    }
    static int64_t nowMs()
    {
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
    // The status the API gives the symbol labelled `label` on a submap.
    static std::string statusOn(const Json &submap, const std::string &label)
    {
        for (const Json &s : submap["symbols"])
            if (s["label"] == label)
                return s["effectiveStatusName"];
        return "absent";
    }

    tqtest::TempRoot root_;
};

TEST_F(WebViewE2E, FollowsTheDaemonWithinTwoSecondsAndKeepsTheLayoutOnAStatusChange)
{
    std::signal(SIGPIPE, SIG_IGN);
    std::string fifo = root_.file("tqdaemon.file");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto daemon = std::async(std::launch::async, [this] { return tqtest::run({tqtest::binPath("tqdaemon")}, env(), "", 120); });
    int writer = -1;
    for (auto end = Clock::now() + std::chrono::seconds(60); writer < 0 && Clock::now() < end;) {
        writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_GE(writer, 0);
    ::fcntl(writer, F_SETFL, 0);
    auto send = [&](const std::string &bytes) { return ::write(writer, bytes.data(), bytes.size()) == ssize_t(bytes.size()); };
    ASSERT_TRUE(send(encode(example())));

    // The example is in once host2 of fabric A shows its status.
    servetest::Server server(dbPath());
    ASSERT_TRUE(server.ready());
    httplib::Client c = server.client();
    int fabricA = 0;
    Json before;
    for (auto end = Clock::now() + std::chrono::seconds(60); Clock::now() < end;) {
        fabricA = submapOf(c, "Fabric A");
        auto r = c.Get(("/api/submap/" + std::to_string(fabricA)).c_str());
        if (fabricA != 0 && r && r->body.find("\"label\":\"host2\"") != std::string::npos &&
            r->body.find("\"statusName\":\"critical\"") != std::string::npos) {
            before = Json::parse(r->body);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(before.is_object()) << "the daemon did not get through the example";
    // Every frame of the example handled (one RETURN per frame in the daemon
    // trace) and its last commit seen: the layout to compare with is final.
    const std::string sentExample = example();
    const auto frames = std::count(sentExample.begin(), sentExample.end(), '\n');
    for (auto end = Clock::now() + std::chrono::seconds(60); Clock::now() < end;) {
        const std::string trace = tqtest::readFile(root_.file("tq_std.trc"));
        size_t returns = 0;
        for (size_t at = trace.find("RETURN\n"); at != std::string::npos; at = trace.find("RETURN\n", at + 1))
            ++returns;
        if (static_cast<long>(returns) >= frames)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));   // its last commit is seen
    before = Json::parse(c.Get(("/api/submap/" + std::to_string(fabricA)).c_str())->body);

    // Subscribe, then change host2's status through the pipe.
    std::atomic<int> events{0};
    std::atomic<bool> stop{false};
    httplib::Client sse("127.0.0.1", server.port());
    std::thread listener([&]() {
        sse.Get("/api/events", [&](const char *data, size_t n) {
            if (std::string(data, n).find("event: map") != std::string::npos)
                ++events;
            return !stop.load();
        });
    });
    for (auto end = Clock::now() + std::chrono::seconds(10); events == 0 && Clock::now() < end;)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(events.load(), 1) << "the stream opens with the current version";
    auto sent = Clock::now();
    ASSERT_TRUE(send(encode("{\"type\":\"vertex_status\",\"unique_id\":\"Ahost2\",\"name\":\"A/host2\",\"status\":\"3\","
                            "\"state\":\"back online\"}\n")));
    while (events < 2 && Clock::now() - sent < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count();
    EXPECT_GE(events.load(), 2);
    EXPECT_LE(waited, 2000) << "the update took " << waited << " ms";
    stop = true;
    sse.stop();
    listener.join();

    Json after = Json::parse(c.Get(("/api/submap/" + std::to_string(fabricA)).c_str())->body);
    EXPECT_EQ(after["layoutKey"], before["layoutKey"]);
    EXPECT_EQ(after["positions"], before["positions"]);
    EXPECT_FALSE(before["positions"].empty());
    for (const Json &s : after["symbols"])
        if (s["label"] == "host2") {
            EXPECT_EQ(s["statusName"], "normal");
            EXPECT_TRUE(s["recent"].get<bool>());
        }
    ::close(writer);
    EXPECT_EQ(daemon.get().exitCode, 0);
}

// Headless Chromium with a time budget, printing the DOM after the scripts ran.
RunResult chromium(const std::string &profile, const std::vector<std::string> &extra, const std::string &url)
{
    std::vector<std::string> argv = {"/usr/bin/chromium", "--headless", "--no-sandbox", "--disable-gpu",
                                     "--no-first-run", "--user-data-dir=" + profile, "--virtual-time-budget=8000"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    // A still page (?live=0): an open event stream would hold virtual time.
    size_t hash = url.find('#');
    const std::string path = url.substr(0, hash);
    argv.push_back(path + (path.find('?') == std::string::npos ? "?live=0" : "&live=0") +
                   (hash == std::string::npos ? "" : url.substr(hash)));
    return tqtest::run(argv, {{"HOME", profile}}, "", 90);
}

TEST_F(WebViewE2E, ARealBrowserShowsTheColouredMapAndOpensAGraphsSubmap)
{
    if (::access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "chromium is not installed (scripts/deps installs it): no browser to run the page in";
    tqtest::writeFile(root_.file("tqdaemon.file"), encode(example()));
    ASSERT_EQ(tqtest::run({tqtest::binPath("tqdaemon")}, env()).exitCode, 0);
    servetest::Server server(dbPath());
    ASSERT_TRUE(server.ready());
    httplib::Client c = server.client();
    int san = submapOf(c, "SAN (production)"), fabricA = submapOf(c, "Fabric A");
    ASSERT_NE(san, 0) << c.Get("/api/map")->body;
    std::string base = "http://127.0.0.1:" + std::to_string(server.port());

    // The SAN's page: the script drew the submap, painted every symbol from
    // the API (data-status) and filled the breadcrumbs; Fabric A is critical.
    RunResult dom = chromium(root_.file("profile"), {"--dump-dom"}, base + "/submap/" + std::to_string(san));
    ASSERT_EQ(dom.exitCode, 0) << dom.err;
    EXPECT_NE(dom.out.find("data-ready=\"1\""), std::string::npos) << dom.out.substr(0, 2000);
    EXPECT_NE(dom.out.find(">root submap</a>"), std::string::npos);
    std::smatch m;
    std::regex graph("<g id=\"s(\\d+)\" class=\"node sym st2 graph\" data-status=\"critical\">[\\s\\S]*?"
                     "xlink:href=\"(/submap/\\d+)\"[\\s\\S]*?Fabric A");
    ASSERT_TRUE(std::regex_search(dom.out, m, graph)) << dom.out.substr(0, 4000);
    EXPECT_EQ(m[2].str(), "/submap/" + std::to_string(fabricA));
    EXPECT_NE(dom.out.find("fill=\"#f28b82\""), std::string::npos);   // critical's colour

    // Its link opens Fabric A's submap, whose symbols show their statuses.
    RunResult inner = chromium(root_.file("profile"), {"--dump-dom"}, base + m[2].str());
    ASSERT_EQ(inner.exitCode, 0) << inner.err;
    EXPECT_NE(inner.out.find("data-status=\"critical\""), std::string::npos);
    EXPECT_NE(inner.out.find("data-status=\"normal\""), std::string::npos);
    EXPECT_NE(inner.out.find(">Fabric A</a>"), std::string::npos);   // breadcrumbs
    // Its header offers the submap as a download in each export format.
    for (const std::string format : {"graphml", "drawio", "svg"})
        EXPECT_TRUE(std::regex_search(inner.out, std::regex("<a href=\"/api/submap/" + std::to_string(fabricA) +
                                                            "/export\\?format=" + format + "\"[^>]* download=\"\">")))
            << format;

    // The picture of the page, with host2 selected.
    std::smatch host2;
    ASSERT_TRUE(std::regex_search(inner.out, host2, std::regex("<g id=\"s(\\d+)\"[^>]*>\\s*<title>[^<]*</title>\\s*<g id=\"a_s\\d+\"><a xlink:title=\"[^\"]*host2")))
        << inner.out.substr(0, 3000);
    std::string shot = root_.file("web-view.png");
    RunResult s = chromium(root_.file("profile"), {"--screenshot=" + shot, "--window-size=1100,640",
                                                   "--hide-scrollbars"}, base + m[2].str() + "#sel=" + host2[1].str());
    ASSERT_EQ(s.exitCode, 0) << s.err;
    std::string png = tqtest::readFile(shot);
    ASSERT_GT(png.size(), 1000u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
    // TQ_KEEP_SCREENSHOT names a file to keep it in (the README's picture).
    if (const char *keep = std::getenv("TQ_KEEP_SCREENSHOT"))
        tqtest::writeFile(keep, png);

    // A map last written two hours ago: the banner says since when, and that
    // the daemon ended its run.
    for (const std::string &f : {dbPath(), dbPath() + "-wal"}) {
        struct timeval old[2] = {{std::time(nullptr) - 7200, 0}, {std::time(nullptr) - 7200, 0}};
        ::utimes(f.c_str(), old);
    }
    RunResult stale = chromium(root_.file("profile"), {"--dump-dom"}, base + m[2].str());
    ASSERT_EQ(stale.exitCode, 0) << stale.err;
    std::smatch banner;
    ASSERT_TRUE(std::regex_search(stale.out, banner, std::regex("<div id=\"banner\">([^<]*)</div>")))
        << stale.out.substr(0, 2000);
    EXPECT_NE(banner[1].str().find("The map has not changed since"), std::string::npos) << banner[1];
    EXPECT_NE(banner[1].str().find("The daemon ended its run"), std::string::npos) << banner[1];
}

// ---- the map as it was --------------------------------------------------------------------

TEST_F(WebViewE2E, EveryRouteShowsTheMapAsItWasAtAPastTime)
{
    const std::string at = twoPhases();
    servetest::Server server(dbPath());
    ASSERT_TRUE(server.ready());
    httplib::Client c = server.client();
    const int fabricA = submapOf(c, "Fabric A");
    ASSERT_NE(fabricA, 0);
    const std::string fabric = "/api/submap/" + std::to_string(fabricA);

    // Between the phases host3 was there and host2 normal; now host3 is gone
    // and host2 critical.
    auto now = c.Get(fabric);
    auto then = c.Get(fabric + "?at=" + at);
    ASSERT_TRUE(now && then);
    ASSERT_EQ(then->status, 200) << then->body;
    EXPECT_EQ(statusOn(Json::parse(now->body), "host2"), "critical");
    EXPECT_EQ(statusOn(Json::parse(now->body), "host3"), "absent");
    EXPECT_EQ(statusOn(Json::parse(then->body), "host2"), "normal");
    EXPECT_EQ(statusOn(Json::parse(then->body), "host3"), "normal");
    // The export follows the time too: host3, gone now, is in the file of then.
    auto exportNow = c.Get(fabric + "/export?format=graphml");
    auto exportThen = c.Get(fabric + "/export?format=graphml&at=" + at);
    ASSERT_TRUE(exportNow && exportThen);
    EXPECT_EQ(exportNow->body.find(">host3</data>"), std::string::npos);
    EXPECT_NE(exportThen->body.find(">host3</data>"), std::string::npos) << exportThen->body.substr(0, 400);

    // Every page and map route takes the time, in each of its forms.
    auto history = c.Get("/api/history?at=" + at);
    ASSERT_TRUE(history);
    Json h = Json::parse(history->body);
    ASSERT_TRUE(h["kept"].get<bool>()) << history->body;
    EXPECT_LE(h["completeSince"].get<int64_t>(), std::stoll(at));
    EXPECT_TRUE(h["refused"].is_null()) << history->body;
    int host2 = 0;
    const Json thenJson = Json::parse(then->body);
    for (const Json &s : thenJson["symbols"])
        if (s["label"] == "host2")
            host2 = s["object"];
    // A page asked for at a time other than in milliseconds is sent to that
    // time in milliseconds, which its requests then share.
    auto pinned = c.Get("/submap/" + std::to_string(fabricA) + "?live=0&at=" + mapdb::utcTime(std::stoll(at)));
    ASSERT_TRUE(pinned);
    EXPECT_EQ(pinned->status, 302);
    EXPECT_NE(pinned->get_header_value("Location").find("at=" + at), std::string::npos)
        << pinned->get_header_value("Location");
    c.set_follow_location(true);
    for (const std::string &route :
         std::vector<std::string>{"/api/map", fabric, fabric + "/svg", "/api/object/" + std::to_string(host2), std::string("/api/search?q=host3"),
          std::string("/api/problems"), std::string("/api/changes"), "/submap/" + std::to_string(fabricA),
          std::string("/problems"), std::string("/changes"), std::string("/search?q=host")})
        for (const std::string &t : {at, mapdb::utcTime(std::stoll(at)), std::string("now")}) {
            const std::string url = route + (route.find('?') == std::string::npos ? "?at=" : "&at=") + t;
            auto r = c.Get(url);
            ASSERT_TRUE(r) << url;
            EXPECT_EQ(r->status, 200) << url << ": " << r->body;
        }
    // Search finds host3 on Fabric A then, and nowhere on it now.
    auto placesOfHost3 = [&](const std::string &query) {
        size_t n = 0;
        const Json found = Json::parse(c.Get("/api/search?q=host3" + query)->body);
        for (const Json &o : found["results"])
            if (o["name"] == "A/host3")
                n += o["appearsOn"].size();
        return n;
    };
    EXPECT_EQ(placesOfHost3("&at=" + at), 1u);
    EXPECT_EQ(placesOfHost3(""), 0u);
    auto changes = c.Get("/api/changes?at=" + at);
    const Json changesJson = Json::parse(changes->body);
    ASSERT_FALSE(changesJson["changes"].empty());
    for (const Json &ch : changesJson["changes"])
        EXPECT_LE(ch["time"].get<int64_t>(), std::stoll(at)) << ch.dump();

    // Refused, never guessed: a time before the history's window (410) and a
    // text that is no time (400), with the reason.
    auto before = c.Get(fabric + "?at=2000-01-01T00:00:00Z");
    ASSERT_TRUE(before);
    EXPECT_EQ(before->status, 410);
    EXPECT_NE(before->body.find("the history reaches back to"), std::string::npos) << before->body;
    auto bad = c.Get("/api/map?at=yesterday");
    ASSERT_TRUE(bad);
    EXPECT_EQ(bad->status, 400);
    EXPECT_NE(bad->body.find("not 'yesterday'"), std::string::npos) << bad->body;
    auto refused = c.Get("/api/history?at=2000-01-01T00:00:00Z");
    EXPECT_NE(Json::parse(refused->body)["refused"].get<std::string>().find("reaches back to"), std::string::npos);

    // The diff between the phases: host3 and its link disappeared, host2
    // turned critical.
    auto diff = c.Get("/api/diff?from=" + at);
    ASSERT_TRUE(diff);
    ASSERT_EQ(diff->status, 200) << diff->body;
    Json d = Json::parse(diff->body);
    std::set<std::string> gone, changed;
    for (const Json &i : d["disappeared"])
        gone.insert(i["name"].get<std::string>());
    for (const Json &i : d["statusChanged"])
        changed.insert(i["name"].get<std::string>() + ":" + i["afterName"].get<std::string>());
    EXPECT_EQ(gone, (std::set<std::string>{"host3", "host3 - sw2 (8G)"})) << diff->body;
    EXPECT_EQ(changed.count("host2:critical"), 1u) << diff->body;
    EXPECT_TRUE(d["appeared"].empty()) << diff->body;
}

TEST_F(WebViewE2E, ARealBrowserShowsTheMapAsItWasAndTheDiffBetweenTwoTimes)
{
    if (::access("/usr/bin/chromium", X_OK) != 0)
        GTEST_SKIP() << "chromium is not installed (scripts/deps installs it): no browser to run the page in";
    const std::string at = twoPhases();
    servetest::Server server(dbPath());
    ASSERT_TRUE(server.ready());
    httplib::Client c = server.client();
    const std::string base = "http://127.0.0.1:" + std::to_string(server.port());
    const std::string fabricA = "/submap/" + std::to_string(submapOf(c, "Fabric A"));

    // Fabric A as it was: host3 drawn, host2 normal, the note names the time
    // and the history's window, and links keep the time.
    RunResult dom = chromium(root_.file("profile"), {"--dump-dom"}, base + fabricA + "?at=" + at);
    ASSERT_EQ(dom.exitCode, 0) << dom.err;
    EXPECT_NE(dom.out.find("data-ready=\"1\""), std::string::npos) << dom.out.substr(0, 2000);
    std::smatch note;
    ASSERT_TRUE(std::regex_search(dom.out, note, std::regex("<div id=\"past\"[^>]*>([^<]*)</div>"))) << dom.out.substr(0, 2000);
    EXPECT_NE(note[1].str().find("The map as it was at "), std::string::npos) << note[1];
    EXPECT_NE(note[1].str().find("The history holds every change since"), std::string::npos) << note[1];
    EXPECT_NE(dom.out.find("host3"), std::string::npos);
    EXPECT_EQ(dom.out.find("data-status=\"critical\""), std::string::npos) << "host2 turned critical later";

    // The diff view on /changes between the time and now.
    RunResult diff = chromium(root_.file("profile"), {"--dump-dom"}, base + "/changes?from=" + at);
    ASSERT_EQ(diff.exitCode, 0) << diff.err;
    EXPECT_NE(diff.out.find("data-diff-ready=\"1\""), std::string::npos) << diff.out.substr(0, 3000);
    std::smatch gone;
    ASSERT_TRUE(std::regex_search(diff.out, gone, std::regex("<table class=\"list diff-disappeared\">([\\s\\S]*?)</table>")))
        << diff.out.substr(0, 3000);
    EXPECT_NE(gone[1].str().find(">host3</a>"), std::string::npos) << gone[1];
    EXPECT_NE(gone[1].str().find("?at=" + at), std::string::npos) << "a link to the map as it was";

    // Pictures of both views for the documentation (TQ_KEEP_PAST_SCREENSHOTS
    // names a folder to keep them in).
    if (const char *keep = std::getenv("TQ_KEEP_PAST_SCREENSHOTS")) {
        for (const auto &[file, url] : {std::pair<std::string, std::string>{"web-view-past.png", fabricA + "?at=" + at},
                                        {"web-view-diff.png", "/changes?from=" + at}}) {
            RunResult s = chromium(root_.file("profile"), {"--screenshot=" + root_.file(file), "--window-size=1100,640",
                                                           "--hide-scrollbars"}, base + url);
            ASSERT_EQ(s.exitCode, 0) << s.err;
            tqtest::writeFile(std::string(keep) + "/" + file, tqtest::readFile(root_.file(file)));
        }
    }
}

}  // namespace
