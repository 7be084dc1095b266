// The ending routine and the stream-failure exit.
#include "log/lifecycle.h"

#include "log/log.h"
#include "log/outcome.h"
#include "log/state.h"
#include "host/sockets.h"

#include <cstdlib>

void endDaemon(int exitCode)
{
    logRunSummary();
    MessageLog("Ending tqdaemon.exe");
    MessageLog("=====================================================================");
    std::fflush(stderr);
    tqWSACleanup();
    if (TqExitHook hook = logState().exitHook)
        hook(exitCode);
    // std::exit, so atexit handlers run: the map platform commits there. A
    // hook that returns still ends the process.
    std::exit(exitCode);
}

void streamFailureExit(FILE *stream)
{
    if (stream != nullptr) {
        std::fclose(stream);
        if (stream == tqMessageStream)
            tqMessageStream = nullptr;
    }
    endDaemon(0);
}
