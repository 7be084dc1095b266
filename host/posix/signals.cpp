// Termination requests through SIGTERM and SIGINT.
#include "host/signals.h"

#include <csignal>
#include <ctime>

namespace {

volatile std::sig_atomic_t g_stopSignal = 0;

void onStop(int signal) { g_stopSignal = signal; }

}  // namespace

void installStopSignals()
{
    struct sigaction sa {};
    sa.sa_handler = &onStop;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;   // no SA_RESTART: a blocked read of the stream returns
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
}

int stopSignal() { return static_cast<int>(g_stopSignal); }

void sleepUnlessStopped(int milliseconds)
{
    // In steps of at most 50 ms: a signal that lands between the check and
    // the sleep is seen at the next step.
    while (milliseconds > 0 && !stopRequested()) {
        const int step = milliseconds < 50 ? milliseconds : 50;
        timespec ts{step / 1000, static_cast<long>(step % 1000) * 1000000L};
        nanosleep(&ts, nullptr);
        milliseconds -= step;
    }
}
