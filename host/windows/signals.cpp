// Termination requests on Windows: Ctrl+C, Ctrl+Break and the console's close
// set the flag that the daemon reads at whole-message boundaries.
#include "host/signals.h"

#include <windows.h>

#include <csignal>

namespace {

volatile LONG g_stopSignal = 0;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
        InterlockedExchange(&g_stopSignal, SIGINT);
        return TRUE;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        InterlockedExchange(&g_stopSignal, SIGTERM);
        return TRUE;
    default:
        return FALSE;
    }
}

}  // namespace

void installStopSignals()
{
    SetConsoleCtrlHandler(&onConsoleEvent, TRUE);
}

int stopSignal() { return static_cast<int>(InterlockedCompareExchange(&g_stopSignal, 0, 0)); }

void sleepUnlessStopped(int milliseconds)
{
    while (milliseconds > 0 && !stopRequested()) {
        const int step = milliseconds < 50 ? milliseconds : 50;
        Sleep(static_cast<DWORD>(step));
        milliseconds -= step;
    }
}
