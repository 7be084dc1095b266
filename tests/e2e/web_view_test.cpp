// The web view on the example map: it follows a running daemon live, keeps
// the layout when only statuses change, and a real browser runs its page.
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
    argv.push_back(url.substr(0, hash) + "?live=0" + (hash == std::string::npos ? "" : url.substr(hash)));
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

}  // namespace
