// tqmap serve under ordinary hardship: texts that are not UTF-8, many open
// event streams, a dense submap, hostile requests.
#include "ovw/ovw.h"
#include "serve_fixture.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;
using tqtest::RunResult;

// A connected loopback socket, closed on scope exit.
class RawClient {
public:
    explicit RawClient(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(port));
        timeval tv{10, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
    }
    ~RawClient() { ::close(fd_); }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool send(const std::string &data) { return connected_ && ::send(fd_, data.data(), data.size(), 0) > 0; }
    // Reads until the text holds `until` or the peer stops sending.
    std::string readUntil(const std::string &until)
    {
        std::string got;
        char buf[4096];
        while (got.find(until) == std::string::npos) {
            ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n <= 0)
                break;
            got.append(buf, static_cast<size_t>(n));
        }
        return got;
    }

private:
    int fd_;
    bool connected_ = false;
};

// root > devices: a submap of `devices` vertices, each with `links` links to
// the following ones, the first labelled in Latin-1 ("café" with byte E9).
class ServeRobustTest : public ::testing::Test {
protected:
    void makeMap(int devices, int linksEach)
    {
        db_ = root_.file("maps/robust.db");
        tqtest::writeFile(root_.file("maps/.keep"), "");
        setenv("OVW_MAPDB", db_.c_str(), 1);
        ASSERT_EQ(OVwInit(), 0);
        OVwMapInfo *map = OVwGetMapInfo();
        OVwObjectId group = OVwDbCreateObjectBySelectionName("P;devices;default");
        submap_ = OVwCreateSubmap(map, group, OVwGraphSubmap, 0, "devices", 0, 0);
        OVwCreateSymbol(map, map->root_submap_id, group, "Network:SAN", "devices", OVwStatusNormal, 2, nullptr, 0);
        std::vector<OVwSymbolId> symbols;
        for (int i = 0; i < devices; ++i) {
            std::string name = i == 0 ? std::string("caf\xe9") : "d" + std::to_string(i);
            OVwObjectId o = OVwDbCreateObjectBySelectionName(("O;" + name + ";default").c_str());
            if (i == 0) {
                object_ = o;
                OVwDbSetFieldStringValue(o, OVwDbFieldNameToFieldId("VendorName"), "Soci\xe9t\xe9");
            }
            symbols.push_back(OVwCreateSymbol(map, submap_, o, "Computer:Server", name.c_str(),
                                              i == 0 ? OVwStatusCritical : OVwStatusNormal, 3, nullptr, 0));
        }
        int made = 0;
        for (int i = 0; i < devices; ++i)
            for (int k = 1; k <= linksEach && i + k < devices; ++k, ++made) {
                std::string name = "O;l" + std::to_string(made) + ";default";
                OVwCreateConnSymbol(map, OVwDbCreateObjectBySelectionName(name.c_str()), symbols[i],
                                    symbols[i + k], "Connection:FC", nullptr, OVwStatusNormal, 3, 0);
            }
        links_ = made;
        OVwSetStatusOnSymbol(map, symbols[0], OVwStatusMajor);
        OVwFreeMapInfo(map);
        ASSERT_EQ(OVwDone(), 0);
    }
    void TearDown() override { unsetenv("OVW_MAPDB"); }

    RunResult tqmap(std::vector<std::string> args) const
    {
        args.insert(args.begin(), {tqtest::binPath("tqmap"), "--db", db_});
        return tqtest::run(args, {}, "", 60);
    }

    tqtest::TempRoot root_;
    std::string db_;
    int submap_ = 0, object_ = 0, links_ = 0;
};

const std::string kReplacement = "caf\xef\xbf\xbd";   // "caf" and U+FFFD

TEST_F(ServeRobustTest, TextsThatAreNotUtf8AreShownOnEveryRouteAndCommand)
{
    makeMap(3, 1);
    servetest::Server server(db_);
    ASSERT_TRUE(server.ready());
    httplib::Client c = server.client();
    std::string sm = std::to_string(submap_), obj = std::to_string(object_);
    for (const std::string &path : std::vector<std::string>{"/api/map", "/api/submap/" + sm, "/api/object/" + obj, "/api/search?q=caf",
                                    "/api/search?q=Soci", "/api/problems", "/api/changes"}) {
        auto r = c.Get(path.c_str());
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 200) << path << ": " << r->body;
        EXPECT_FALSE(Json::parse(r->body, nullptr, false).is_discarded()) << path;
        if (path != "/api/map") {
            EXPECT_NE(r->body.find(kReplacement), std::string::npos) << path << ": " << r->body;
        }
    }
    for (const std::string &path : std::vector<std::string>{"/api/submap/" + sm + "/svg", "/submap/" + sm, "/metrics"}) {
        auto r = c.Get(path.c_str());
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 200) << path;
    }
    for (std::vector<std::string> cmd :
         {std::vector<std::string>{"tree", "--json"}, {"find", "caf", "--json"}, {"show", obj, "--json"},
          {"changes", "--json"}, {"objects", "--field", "VendorName", "--value", "Soci\xe9t\xe9", "--json"}}) {
        RunResult r = tqmap(cmd);
        EXPECT_EQ(r.exitCode, 0) << cmd[0] << ": " << r.err;
        EXPECT_FALSE(Json::parse(r.out, nullptr, false).is_discarded()) << cmd[0];
        EXPECT_NE(r.out.find("\xef\xbf\xbd"), std::string::npos) << cmd[0];
    }
}

TEST_F(ServeRobustTest, OpenEventStreamsLeaveEveryPageAnswering)
{
    makeMap(3, 1);
    servetest::Server server(db_);
    ASSERT_TRUE(server.ready());
    std::vector<std::unique_ptr<RawClient>> streams;
    for (int i = 0; i < 50; ++i) {
        streams.push_back(std::make_unique<RawClient>(server.port()));
        ASSERT_TRUE(streams.back()->send("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:" +
                                         std::to_string(server.port()) + "\r\n\r\n"));
        // Each stream is served (its first event arrives) before the next opens.
        EXPECT_NE(streams.back()->readUntil("event: map").find("event: map"), std::string::npos) << i;
    }
    // The client gives up after its read timeout: a page that waits for a
    // worker fails here.
    httplib::Client c("127.0.0.1", server.port());
    c.set_read_timeout(5, 0);
    std::string sm = std::to_string(submap_);
    for (const std::string &path :
         std::vector<std::string>{"/healthz", "/metrics", "/submap/" + sm, "/api/submap/" + sm, "/api/problems"}) {
        auto r = c.Get(path.c_str());
        ASSERT_TRUE(r) << path;
        EXPECT_EQ(r->status, 200) << path;
    }
    EXPECT_EQ(server.stop(), 0);
}

TEST_F(ServeRobustTest, ADenseSubmapIsDrawnAndTheServerStopsOnRequest)
{
    makeMap(150, 9);
    ASSERT_GE(links_, 1200);
    servetest::Server server(db_);
    ASSERT_TRUE(server.ready());
    httplib::Client c = server.client();
    c.set_read_timeout(60, 0);
    auto svg = c.Get(("/api/submap/" + std::to_string(submap_) + "/svg").c_str());
    ASSERT_TRUE(svg);
    EXPECT_EQ(svg->status, 200);
    EXPECT_NE(svg->body.find("<svg"), std::string::npos);
    auto data = c.Get(("/api/submap/" + std::to_string(submap_)).c_str());
    ASSERT_TRUE(data);
    Json j = Json::parse(data->body, nullptr, false);
    EXPECT_EQ(j["positions"].size(), 150u);
    // The picture of the same submap places every node, the legend too.
    std::string png = root_.file("dense.png");
    RunResult r = tqmap({"png", "-o", png, "--submap", std::to_string(submap_)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    std::string bytes = tqtest::readFile(png);
    ASSERT_GT(bytes.size(), 24u);
    auto be32 = [&](size_t at) {
        return (static_cast<uint32_t>(static_cast<unsigned char>(bytes[at])) << 24) |
               (static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16) |
               (static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8) |
               static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
    };
    EXPECT_GT(be32(16), 500u);   // width
    EXPECT_GT(be32(20), 500u);   // height
    EXPECT_EQ(server.stop(), 0);
}

TEST_F(ServeRobustTest, HostileRequestsAreRefusedWithoutInternals)
{
    makeMap(3, 1);
    servetest::Server server(db_);
    ASSERT_TRUE(server.ready());
    std::string host = "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";
    struct Case {
        std::string request, status, holds;
    };
    const std::vector<Case> cases = {
        // A large body to a missing route: refused before it is read.
        {"POST /nowhere HTTP/1.1\r\n" + host + "Content-Length: 268435456\r\n\r\n", "413", "request too large"},
        // A name that points here from elsewhere (DNS rebinding).
        {"GET /api/map HTTP/1.1\r\nHost: attacker.example\r\nConnection: close\r\n\r\n", "421", "unknown host"},
        {"GET /api/nowhere HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n", "404", "{\"error\":"},
        {"GET /api/submap/99999 HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n", "404", "{\"error\":"},
        {"GET /problems HTTP/1.1\r\n" + host + "Connection: close\r\n\r\n", "200",
         "Content-Security-Policy: default-src 'none'; script-src 'self'"},
    };
    for (const Case &k : cases) {
        RawClient raw(server.port());
        ASSERT_TRUE(raw.send(k.request));
        std::string answer = raw.readUntil(k.holds);
        EXPECT_EQ(answer.substr(0, 12), "HTTP/1.1 " + k.status) << k.request << answer;
        EXPECT_NE(answer.find(k.holds), std::string::npos) << k.request << answer;
        EXPECT_EQ(answer.find("EXCEPTION_WHAT"), std::string::npos) << answer;
    }
    auto ok = server.client().Get("/healthz");
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->status, 200);
}

}  // namespace
