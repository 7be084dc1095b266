// The daemon's start-up and main loop run inside the test process, over the
// same libraries, stream file and map database settings as the built
// program: the hardening tests use it to compute what the program must
// produce (the map after each message) and which platform calls it makes.
#ifndef TQ_TESTS_E2E_INPROCESS_H
#define TQ_TESTS_E2E_INPROCESS_H

#include "adapter/testing.h"
#include "adapter/tqot.h"
#include "daemon/startup.h"
#include "log/lifecycle.h"
#include "log/log.h"
#include "handlers/content.h"
#include "intake/endpoint.h"
#include "intake/reader.h"
#include "host/hostpath.h"
#include "ovw/ovw.h"
#include "support/process_state.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <unistd.h>

namespace tqcheck {

namespace detail {

struct DaemonEnded {
    int exitCode;
};

[[noreturn]] inline void throwingExit(int code)
{
    throw DaemonEnded{code};
}

inline std::function<void()> &turnHook()
{
    static std::function<void()> hook;
    return hook;
}

inline void serverCallback(int32_t unused, ServerEndpoint *endpoint)
{
    if (turnHook())
        turnHook()();
    dyn_recvMsg(unused, endpoint);
}

// Sends stdout and stderr to /dev/null for its lifetime: the handlers echo
// their work on the console, which would bury the test output.
class QuietConsole {
public:
    QuietConsole()
    {
        std::fflush(stdout);
        std::fflush(stderr);
        savedOut_ = ::dup(1);
        savedErr_ = ::dup(2);
        int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) {
            ::dup2(null, 1);
            ::dup2(null, 2);
            ::close(null);
        }
    }
    ~QuietConsole()
    {
        std::fflush(stdout);
        std::fflush(stderr);
        if (savedOut_ >= 0) {
            ::dup2(savedOut_, 1);
            ::close(savedOut_);
        }
        if (savedErr_ >= 0) {
            ::dup2(savedErr_, 2);
            ::close(savedErr_);
        }
    }
    QuietConsole(const QuietConsole &) = delete;
    QuietConsole &operator=(const QuietConsole &) = delete;

private:
    int savedOut_ = -1;
    int savedErr_ = -1;
};

}  // namespace detail

// Runs start-up (from the adapter's connection on), the main loop over
// <TQ_ROOT>/tqdaemon.file and the process end, with the map database at
// dbPath (OVW_MAPDB). beforeEachTurn runs at the start of every server
// callback, when the previous turn's map changes have been committed.
// Returns the exit code the program would end with.
inline int runDaemonInProcess(const std::string &dbPath, std::function<void()> beforeEachTurn = {})
{
    const char *oldDb = std::getenv("OVW_MAPDB");
    const std::string savedDb = oldDb != nullptr ? oldDb : "";
    ::setenv("OVW_MAPDB", dbPath.c_str(), 1);
    tqtest::resetDaemonState(1);

    TopologyAdapter *ad = TopologyAdapter::instance();
    static SocketEndpoint endpoint(0, 1);   // never opened: acknowledgements go nowhere
    detail::turnHook() = std::move(beforeEachTurn);
    setExitHook(&detail::throwingExit);

    int exitCode = 1;
    detail::QuietConsole quiet;
    try {
        runFromConnection(endpoint, &detail::serverCallback);
    } catch (const detail::DaemonEnded &ended) {
        exitCode = ended.exitCode;
    }

    // What the process end does: the platform commits what is pending.
    if (tqMessageStream != nullptr) {
        std::fclose(tqMessageStream);
        tqMessageStream = nullptr;
    }
    if (!TopologyAdapterPeer::done(*ad)) {
        if (TopologyAdapterPeer::mapHandle(*ad) != nullptr) {
            OVwFreeMapInfo(TopologyAdapterPeer::mapHandle(*ad));
            TopologyAdapterPeer::mapHandle(*ad) = nullptr;
        }
        OVwDone();
    }
    tqtest::resetDaemonState(1);
    detail::turnHook() = nullptr;
    if (oldDb != nullptr)
        ::setenv("OVW_MAPDB", savedDb.c_str(), 1);
    else
        ::unsetenv("OVW_MAPDB");
    return exitCode;
}

}  // namespace tqcheck

#endif
