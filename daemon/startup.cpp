// Daemon start-up in its fixed order: message log, port lookup, debug flag,
// socket endpoint, connection to the map platform, message stream, main loop.
#include "daemon/lifecycle.h"

#include "adapter/tqot.h"
#include "daemon/log.h"
#include "daemon/runstats.h"
#include "intake/endpoint.h"
#include "intake/reader.h"
#include "platform/getportno.h"
#include "platform/hostpath.h"
#include "platform/sockets.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace {

const char kServiceName[] = "TQDAEMON";
constexpr int kDefaultPort = 8010;
constexpr int32_t kStreamSocket = 1;
constexpr int32_t kSynchronousCreation = 10;
constexpr size_t kErrorTextSize = 256;

// Connects to the map platform. Returns 1 on success, 0 with the error text
// filled on failure.
int initialise(char *errorText)
{
    TqWsaData wsaData{};
    int rc = tqWSAStartup(0x0002, &wsaData);
    if (rc != 0) {
        std::snprintf(errorText, kErrorTextSize, "Init failed : Unable to start Windows Socket DLL. Error: %d\n", rc);
        std::fputs(errorText, stderr);
        MessageLog(errorText);
        return 0;
    }

    tqAdapter = TopologyAdapter::instance();

    int32_t code = tqAdapter->tqotInit(0, 1, 1);
    if (code != 0) {
        if (tqDebug)
            DebugTrace("%s\n", tqAdapter->tqotGetErrorMsg(code));
        if (code == 22 || code == 24) {
            int32_t again = tqAdapter->tqotInit(0, 1, 1);
            if (again != 0 && tqDebug)
                DebugTrace("Error again! %s\n", tqAdapter->tqotGetErrorMsg(again));
        }
    }

    code = tqAdapter->tqotSetSynchronousCreation(kSynchronousCreation);
    if (code != 0) {
        std::snprintf(errorText, kErrorTextSize, "Init failed : Unable to tqotSetSynchronousCreation: %s\n",
                      tqAdapter->tqotGetErrorMsg(code));
        std::fputs(errorText, stderr);
        MessageLog(errorText);
        tqAdapter->tqotDone();
        return 0;
    }

    if (tqDebug)
        DebugTrace("PLX connection ready...\n\n");
    return 1;
}

}  // namespace

int tqdaemonMain()
{
    runStats().started = std::time(nullptr);
    MessageLog("Starting tqdaemon.exe");

    int port = GetPortNo(kServiceName);
    if (port < 0) {
        DebugTrace("Port no for Orrery Daemon has not been defined properly in the services file in your system.");
        DebugTrace("Only TCP protocol is allowed for this service, please change it and try to start this service.");
        MessageLog("Port no for Orrery Daemon has not been defined properly in the services file in your system.");
        MessageLog("Only TCP protocol is allowed for this service, please change it and try to start this service.");
        // Whoever started the process sees why it stopped.
        std::fputs("Port no for Orrery Daemon has not been defined properly in the services file in your system.\n"
                   "Only TCP protocol is allowed for this service, please change it and try to start this service.\n",
                   stderr);
        // Start-up did not happen: report it to whoever started the process.
        return 1;
    }
    if (port == 0)
        port = kDefaultPort;

    tqDebug = 1;
    DebugTrace("Port: %d", port);

    // Lives for the rest of the process: every way out of here ends the process.
    static SocketEndpoint endpoint(port, kStreamSocket);
    endpoint.open();

    char errorText[kErrorTextSize] = {};
    if (initialise(errorText)) {
        MessageLog("Initialization complete.");
    } else {
        MessageLog("Initialization failure");
        MessageLog(errorText);
        std::fputs("Initialization failure\n", stderr);
        endDaemon(1);
    }

    const std::string streamPath = hostPath("\\tqdaemon.file");
    tqMessageStream = std::fopen(streamPath.c_str(), "rb");
    if (tqMessageStream == nullptr) {
        // The run still ends as a finished stream does; the log says why nothing was read.
        const int error = errno;
        std::string line = "Stream file " + streamPath + " could not be opened: ";
        line += error == ENOENT ? "not found" : std::strerror(error);
        MessageLog(line.c_str());
    }

    TopologyAdapter::instance()->registerServerCallback(&endpoint, dyn_recvMsg);
    TopologyAdapter::instance()->mainLoop();
    endDaemon(1);
}
