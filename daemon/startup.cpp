// Daemon start-up in its fixed order: message log, port lookup, debug flag,
// socket endpoint, connection to the map platform, message stream, main loop.
#include "daemon/startup.h"

#include "adapter/turns.h"
#include "intake/endpoint.h"
#include "intake/reader.h"
#include "log/lifecycle.h"
#include "log/log.h"
#include "log/runstats.h"
#include "host/getportno.h"
#include "host/fileid.h"
#include "host/hostfile.h"
#include "host/hostpath.h"
#include "host/sockets.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

TopologyAdapter *tqAdapter = nullptr;

namespace {

const char kServiceName[] = "TQDAEMON";
constexpr int kDefaultPort = 8010;
constexpr int32_t kStreamSocket = 1;
constexpr int32_t kSynchronousCreation = 10;
constexpr size_t kErrorTextSize = 256;

// The exit code for a map database the platform refused at connection, or
// 0 when the failure was of another kind.
int refusalExitCode(int platformError)
{
    switch (platformError) {
    case OVw_READ_ONLY_DATABASE:
    case OVw_NOT_A_DATABASE:
    case OVw_NOT_A_MAP:
    case OVw_SCHEMA_UNUSABLE:
    case OVw_NO_DATABASE_FOLDER:
    case OVw_MAP_DAMAGED:
    case OVw_MAP_SERVER_REFUSED:
        return kExitDatabaseUnusable;
    case OVw_MAP_IN_USE:
        return kExitDatabaseInUse;
    default:
        return 0;
    }
}

// Connects to the map platform. Returns 1 on success, 0 with the error text
// and the exit code filled on failure.
int initialise(char *errorText, int &exitCode)
{
    exitCode = 1;
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
    if (code != 0 && *OVwErrorDetail() != '\0') {
        // A map database that cannot be used is refused before anything is
        // written to it; trying again would not change that.
        const int platformError = OVwError();
        std::snprintf(errorText, kErrorTextSize, "Map database refused: %s (%s)\n", OVwErrorDetail(),
                      OVwErrorMsg(platformError));
        std::fputs(errorText, stderr);
        MessageLog(errorText);
        const int refused = refusalExitCode(platformError);
        if (refused != 0)
            exitCode = refused;
        return 0;
    }
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

    OVwRunCounters last{};
    if (OVwPreviousRunUnended(&last) != 0) {
        // Killed, or the machine stopped: its last message may not be on the map.
        char line[160];
        std::snprintf(line, sizeof line, "the previous run ended without its ending lines after frame %lld",
                      static_cast<long long>(last.frames_read));
        MessageLog(line);
    }
    if (tqDebug)
        DebugTrace("PLX connection ready...\n\n");
    return 1;
}

}  // namespace

int tqdaemonMain()
{
    // A root that is not there is a mistake, not a new root: nothing is made.
    const std::string root = hostRoot();
    if (!root.empty() && hostPathKind(root) != HostPathKind::Folder) {
        std::fprintf(stderr, "tqdaemon: TQ_ROOT %s is not an existing folder\n", root.c_str());
        return 1;
    }
    runStats().started = std::time(nullptr);
    installTurnKeeping();
    MessageLog("Starting tqdaemon.exe");

    HostFileIdentity services;
    if (hostPathIdentity(servicesFile(), services) && services.size > kLargestTableFile) {
        char text[256];
        std::snprintf(text, sizeof text, "The services file %s is larger than %lld bytes: not read",
                      servicesFile().c_str(), static_cast<long long>(kLargestTableFile));
        MessageLog(text);
        std::fprintf(stderr, "%s\n", text);
    }
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
    runFromConnection(endpoint, dyn_recvMsg);
}

void runFromConnection(ServerEndpoint &endpoint, TqServerCallback callback)
{
    char errorText[kErrorTextSize] = {};
    int exitCode = 1;
    if (initialise(errorText, exitCode)) {
        MessageLog("Initialization complete.");
        // The symbol-type table is read now, so that its unreadable lines are named at start.
        TopologyAdapter::instance()->icon(nullptr);
    } else {
        // The cause is already in the log and on the console, once.
        MessageLog("Initialization failure");
        std::fputs("Initialization failure\n", stderr);
        endDaemon(exitCode);
    }

    const std::string streamPath = hostPath("\\tqdaemon.file");
    tqMessageStream = std::fopen(streamPath.c_str(), "rb");
    setStreamPath(streamPath);
    if (tqMessageStream == nullptr) {
        // The run still ends as a finished stream does; the log says why nothing was read.
        const int error = errno;
        std::string line = "Stream file " + streamPath + " could not be opened: ";
        line += error == ENOENT ? "not found" : std::strerror(error);
        MessageLog(line.c_str());
    }

    TopologyAdapter::instance()->registerServerCallback(&endpoint, callback);
    TopologyAdapter::instance()->mainLoop();
    endDaemon(1);
}
