// The ending routine and the stream-failure exit.
#include "log/lifecycle.h"

#include "log/log.h"
#include "log/outcome.h"
#include "host/sockets.h"

#include <cstdlib>

FILE *tqMessageStream = nullptr;

namespace {

void defaultExit(int code)
{
    // std::exit, so atexit handlers run: the map platform commits there.
    std::exit(code);
}

TqExitHook exitHook = &defaultExit;

}  // namespace

void setExitHook(TqExitHook hook)
{
    exitHook = hook != nullptr ? hook : &defaultExit;
}

void endDaemon(int exitCode)
{
    logRunSummary();
    MessageLog("Ending tqdaemon.exe");
    MessageLog("=====================================================================");
    std::fflush(stderr);
    tqWSACleanup();
    exitHook(exitCode);
    // A hook that returns still ends the process.
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
