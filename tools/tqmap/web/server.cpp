// tqmap serve: the live web view of a map database, read-only.
#include "tools/tqmap/web/server.h"

#include "platform/sockets.h"

#include <httplib.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <thread>

namespace tqmap {

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void onStopSignal(int)
{
    g_stopSignal = 1;
}

// "HOST:PORT" (an IPv6 host in brackets); false when malformed.
bool parseListen(const std::string &text, std::string &host, int &port)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size())
        return false;
    host = text.substr(0, colon);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    std::string digits = text.substr(colon + 1);
    if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    port = std::stoi(digits);
    return port > 0 && port <= 65535;
}

}  // namespace

bool MapView::open(std::string &error)
{
    if (!db_.open(path_, error))
        return false;
    loadedAt_ = db_.dataVersion();
    return loadModel(db_, model_, error, false);
}

const MapModel &MapView::model()
{
    int64_t v = db_.dataVersion();
    if (v != loadedAt_) {
        MapModel fresh;
        std::string error;
        if (loadModel(db_, fresh, error, false)) {
            model_ = std::move(fresh);
            loadedAt_ = v;
        } else {
            std::fprintf(stderr, "tqmap serve: %s\n", error.c_str());
        }
    }
    return model_;
}

std::string layoutKey(const MapModel &m, int submap)
{
    std::string key;
    auto it = m.symbolsOnSubmap.find(submap);
    if (it != m.symbolsOnSubmap.end())
        for (int sid : it->second) {
            const Symbol &s = m.symbols.at(sid);
            key += std::to_string(sid) + "/" + std::to_string(s.connA) + "/" + std::to_string(s.connZ) + "/" +
                   s.label.value_or("") + "/" + s.symbolType.value_or("") + "/" +
                   (m.isGraphObject(s.object) ? "g" : "") + ";";
        }
    return std::to_string(submap) + "-" + std::to_string(std::hash<std::string>()(key));
}

const Layout *MapView::layout(int submap, std::string &error)
{
    const MapModel &m = model();
    std::string key = layoutKey(m, submap);
    auto it = layouts_.find(submap);
    if (it != layouts_.end() && it->second.key == key)
        return &it->second;
    Layout l;
    l.key = key;
    std::map<std::string, std::pair<double, double>> named;
    if (!renderSvg(renderSubmapDot(m, submap, true), submapLayoutEngine(m, submap), l.svg, named, error))
        return nullptr;
    size_t start = l.svg.find("<svg");
    if (start != std::string::npos)
        l.svg.erase(0, start);
    for (const auto &[name, xy] : named)
        if (name.size() > 1 && name[0] == 's')
            l.positions[std::atoi(name.c_str() + 1)] = xy;
    return &(layouts_[submap] = std::move(l));
}

std::set<int> MapView::recentlyChanged()
{
    int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count();
    return db_.statusChangedSince(now - 30 * 60 * 1000);
}

int cmdServe(const std::string &path, const std::string &listen)
{
    std::string host;
    int port = 0;
    if (!parseListen(listen, host, port)) {
        std::fprintf(stderr, "tqmap: bad --listen value '%s': give HOST:PORT, e.g. 127.0.0.1:8080\n", listen.c_str());
        return kExitUsage;
    }
    MapView view(path);
    std::string error;
    if (!view.open(error)) {
        std::fprintf(stderr, "tqmap: %s\n", error.c_str());
        return kExitUsage;
    }
    // The watcher's own connection: it asks SQLite's data version a few
    // times a second, which reads no page of the map.
    MapDatabase watch;
    if (!watch.open(path, error)) {
        std::fprintf(stderr, "tqmap: %s\n", error.c_str());
        return kExitUsage;
    }

    httplib::Server server;
    server.set_socket_options([](socket_t fd) { tqExclusiveListenOptions(static_cast<int>(fd)); });
    addApiRoutes(server, view);
    addPageRoutes(server, view);
    if (!server.bind_to_port(host.c_str(), port)) {
        std::fprintf(stderr, "tqmap: cannot listen on %s: the port is in use or the address is not this machine's\n",
                     listen.c_str());
        return kExitUsage;
    }
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
    std::thread watcher([&]() {
        int64_t seen = watch.dataVersion();
        while (!view.stopping) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (g_stopSignal != 0) {
                view.stopping = true;
                view.changed.notify_all();
                server.stop();
                break;
            }
            int64_t v = watch.dataVersion();
            if (v != seen) {
                seen = v;
                {
                    std::lock_guard<std::mutex> lock(view.changedMutex);
                    ++view.version;
                }
                view.changed.notify_all();
            }
        }
    });
    std::printf("tqmap: serving %s on http://%s/ (read-only; Ctrl-C stops)\n", path.c_str(), listen.c_str());
    std::fflush(stdout);
    bool ok = server.listen_after_bind();
    view.stopping = true;
    view.changed.notify_all();
    watcher.join();
    return ok ? kExitOk : kExitFailed;
}

}  // namespace tqmap
