// Failed commits retried, waits logged, and the stop on a signal.
#include "adapter/turns.h"

#include "adapter/state.h"
#include "adapter/tqot.h"
#include "log/lifecycle.h"
#include "log/log.h"
#include "log/runstats.h"
#include "ovw/ovw.h"
#include "host/signals.h"

#include <cstdint>
#include <cstdio>
#include <ctime>

namespace {

constexpr int kLongestPauseMs = 4000;
constexpr int kMapLookPauseMs = 100;

// The map is looked at again after the pause, or at once when the store
// gives notice of a posted event (a map on a server).
void pauseForMap() { OVwWaitForEvent(kMapLookPauseMs); }

// "Frame 12" or "Map event after frame 12".
void turnName(char *out, size_t size)
{
    if (adapterState().turn == TurnKind::Frame)
        std::snprintf(out, size, "Frame %lld", static_cast<long long>(currentFrameNumber()));
    else
        std::snprintf(out, size, "Map event after frame %lld", static_cast<long long>(currentFrameNumber()));
}

// "<turn>: <what>" in the message log.
void logTurn(const char *what)
{
    char name[64];
    turnName(name, sizeof name);
    char text[512];
    std::snprintf(text, sizeof text, "%s: %s", name, what);
    MessageLog(text);
}

// The open turn is not stored and not made again: it is not counted.
void forgetTurn()
{
    const AdapterState &s = adapterState();
    if (s.turn == TurnKind::Frame) {
        if (s.frameUndo != nullptr)
            s.frameUndo();
    } else if (runStats().eventsHandled > 0) {
        --runStats().eventsHandled;
    }
    publishRunCounters();
}

// The map database failed for good: nothing of the turn was stored and the
// platform's session is closed.
[[noreturn]] void endOnUnusableMap(int code)
{
    forgetTurn();
    char what[1024];
    std::snprintf(what, sizeof what, "map changes not stored: %s: %s; the daemon ends", OVwErrorMsg(code),
                  OVwErrorDetail());
    logTurn(what);
    char name[64];
    turnName(name, sizeof name);
    std::fprintf(stderr, "%s: %s\n", name, what);
    endDaemon(kExitMapFailed);
}

[[noreturn]] void stopNow()
{
    char text[128];
    std::snprintf(text, sizeof text, "Stopped by signal %d after frame %lld", stopSignal(),
                  static_cast<long long>(currentFrameNumber()));
    MessageLog(text);
    endDaemon(0);
}

void onWait(int code, int64_t waitedMs, int ended)
{
    char what[256];
    const long long seconds = static_cast<long long>(waitedMs / 1000);
    LockWait &lockWait = adapterState().lockWait;
    if (ended != 0) {
        if (lockWait.noted) {
            std::snprintf(what, sizeof what, "the map database can be written again after %lld s", seconds);
            logTurn(what);
        }
        lockWait = LockWait{};
        return;
    }
    if (waitedMs < lockWait.nextNoteMs)
        return;
    std::snprintf(what, sizeof what, "%s for the map database: %s (%lld s so far)",
                  lockWait.noted ? "still waiting" : "waiting", OVwErrorMsg(code), seconds);
    logTurn(what);
    lockWait.noted = true;
    lockWait.nextNoteMs = waitedMs + kNoteEveryMs;
}

}  // namespace

void noteTurn(TurnKind kind) { adapterState().turn = kind; }

void setFrameRedo(TqFrameRedo redo) { adapterState().frameRedo = redo; }

void setFrameUndo(TqFrameRedo undo) { adapterState().frameUndo = undo; }

void publishRunCounters()
{
    std::time_t &firstTurn = adapterState().firstTurn;
    if (firstTurn == 0)
        firstTurn = std::time(nullptr);
    const RunStats &st = runStats();
    OVwRunCounters c{};
    c.started = st.started != 0 ? st.started : firstTurn;
    c.frames_read = st.framesRead;
    c.applied = st.applied;
    c.refused = st.refused;
    c.failed = st.failed;
    c.skipped = st.skipped;
    c.events_handled = st.eventsHandled;
    OVwSetRunCounters(&c, 0);
}

bool turnFailed()
{
    const int code = OVwError();
    if (code == OVw_MAP_UNUSABLE)
        endOnUnusableMap(code);
    if (OVwErrorMayPass(code) == 0)
        return false;
    char what[256];
    TurnRetry &retry = adapterState().retry;
    if (!retry.active) {
        retry = TurnRetry{};
        retry.active = true;
        std::snprintf(what, sizeof what, "map changes not stored: %s; made again until they are stored",
                      OVwErrorMsg(code));
        logTurn(what);
    }
    retry.code = code;
    if (!stopRequested()) {
        sleepUnlessStopped(retry.pauseMs);
        retry.waitedMs += retry.pauseMs;
        retry.pauseMs = retry.pauseMs * 2 > kLongestPauseMs ? kLongestPauseMs : retry.pauseMs * 2;
    }
    if (stopRequested()) {
        // Nothing of the turn was stored: the map stays that of the frames before.
        std::snprintf(what, sizeof what, "map changes not stored: %s; stopping", OVwErrorMsg(code));
        logTurn(what);
        forgetTurn();
        stopNow();
    }
    if (retry.waitedMs >= retry.nextNoteMs) {
        std::snprintf(what, sizeof what, "still waiting to store the map changes: %s (%lld s so far)",
                      OVwErrorMsg(code), static_cast<long long>(retry.waitedMs / 1000));
        logTurn(what);
        retry.nextNoteMs += kNoteEveryMs;
    }
    // What the adapter remembers of the map comes from it again, as after a
    // restart. A frame is made again from the copy the reader kept; an event
    // stays in the platform's queue and comes again with the next OVwPending.
    TopologyAdapter::instance()->resynchAfterRollback();
    const AdapterState &s = adapterState();
    if (s.turn == TurnKind::Frame && s.frameRedo != nullptr)
        s.frameRedo();
    return true;
}

void turnStored()
{
    if (ServerEndpoint *endpoint = TopologyAdapter::instance()->serverEndpoint())
        endpoint->turnStored();
    TurnRetry &retry = adapterState().retry;
    if (!retry.active)
        return;
    char what[256];
    std::snprintf(what, sizeof what, "map changes stored after %lld s of waiting (%s before)",
                  static_cast<long long>(retry.waitedMs / 1000), OVwErrorMsg(retry.code));
    logTurn(what);
    retry = TurnRetry{};
}

void commitTurns()
{
    for (;;) {
        const int pending = OVwPending();
        if (pending == 0 && turnFailed())
            continue;
        turnStored();
        return;
    }
}

bool mapReadyForFrame(bool mapOpen)
{
    char text[256];
    AdapterState &s = adapterState();
    if (mapOpen) {
        if (s.mapWait.noted) {
            std::snprintf(text, sizeof text, "A map is open again after %lld s: the stream is read again",
                          static_cast<long long>(s.mapWait.waitedMs / 1000));
            MessageLog(text);
        }
        s.mapWait = MapWait{};
        return true;
    }
    if (s.mapWait.active) {
        if (s.mapWaitPause != nullptr)
            s.mapWaitPause();
        else
            pauseForMap();
        s.mapWait.waitedMs += kMapLookPauseMs;
    }
    s.mapWait.active = true;
    if (s.mapWait.waitedMs >= s.mapWait.nextNoteMs) {
        std::snprintf(text, sizeof text,
                      "No map is open: frame %lld and those after it wait until a map opens (%lld s so far)",
                      static_cast<long long>(currentFrameNumber() + 1),
                      static_cast<long long>(s.mapWait.waitedMs / 1000));
        MessageLog(text);
        s.mapWait.noted = true;
        s.mapWait.nextNoteMs = s.mapWait.waitedMs + kNoteEveryMs;
    }
    return false;
}

void stopIfRequested()
{
    if (stopRequested())
        stopNow();
}

void installTurnKeeping()
{
    installStopSignals();
    OVwSetWaitHandler(&onWait);
    OVwSetNoticeHandler(&MessageLog);
}
