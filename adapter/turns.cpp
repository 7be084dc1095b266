// Failed commits retried, waits logged, and the stop on a signal.
#include "adapter/turns.h"

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

constexpr int kFirstPauseMs = 50;
constexpr int kLongestPauseMs = 4000;
constexpr int64_t kNoteEveryMs = 60 * 1000;     // one log line per minute of waiting
constexpr int64_t kWaitWorthNotingMs = 3000;    // a wait for a lock is logged past this

TurnKind g_turn = TurnKind::Frame;
TqFrameRedo g_frameRedo = nullptr;
TqFrameRedo g_frameUndo = nullptr;

// The failed tries of the turn in hand.
struct Retry {
    bool active = false;
    int pauseMs = kFirstPauseMs;
    int64_t waitedMs = 0;
    int64_t nextNoteMs = kNoteEveryMs;
    int code = 0;
};
Retry g_retry;

// A wait for another writer's lock, as the platform reports it.
struct LockWait {
    bool noted = false;
    int64_t nextNoteMs = kWaitWorthNotingMs;
};
LockWait g_lockWait;

// The frames held back while no map is open.
constexpr int kMapLookPauseMs = 100;
struct MapWait {
    bool active = false;
    int64_t waitedMs = 0;
    int64_t nextNoteMs = kWaitWorthNotingMs;
    bool noted = false;
};
MapWait g_mapWait;

void pauseForMap() { sleepUnlessStopped(kMapLookPauseMs); }
TqMapWaitPause g_mapWaitPause = &pauseForMap;

// "Frame 12" or "Map event after frame 12".
void turnName(char *out, size_t size)
{
    if (g_turn == TurnKind::Frame)
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
    if (g_turn == TurnKind::Frame) {
        if (g_frameUndo != nullptr)
            g_frameUndo();
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
    if (ended != 0) {
        if (g_lockWait.noted) {
            std::snprintf(what, sizeof what, "the map database can be written again after %lld s", seconds);
            logTurn(what);
        }
        g_lockWait = LockWait{};
        return;
    }
    if (waitedMs < g_lockWait.nextNoteMs)
        return;
    std::snprintf(what, sizeof what, "%s for the map database: %s (%lld s so far)",
                  g_lockWait.noted ? "still waiting" : "waiting", OVwErrorMsg(code), seconds);
    logTurn(what);
    g_lockWait.noted = true;
    g_lockWait.nextNoteMs = waitedMs + kNoteEveryMs;
}

}  // namespace

void noteTurn(TurnKind kind) { g_turn = kind; }

void setFrameRedo(TqFrameRedo redo) { g_frameRedo = redo; }

void setFrameUndo(TqFrameRedo undo) { g_frameUndo = undo; }

void publishRunCounters()
{
    static const std::time_t firstTurn = std::time(nullptr);
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
    if (!g_retry.active) {
        g_retry = Retry{};
        g_retry.active = true;
        std::snprintf(what, sizeof what, "map changes not stored: %s; made again until they are stored",
                      OVwErrorMsg(code));
        logTurn(what);
    }
    g_retry.code = code;
    if (!stopRequested()) {
        sleepUnlessStopped(g_retry.pauseMs);
        g_retry.waitedMs += g_retry.pauseMs;
        g_retry.pauseMs = g_retry.pauseMs * 2 > kLongestPauseMs ? kLongestPauseMs : g_retry.pauseMs * 2;
    }
    if (stopRequested()) {
        // Nothing of the turn was stored: the map stays that of the frames before.
        std::snprintf(what, sizeof what, "map changes not stored: %s; stopping", OVwErrorMsg(code));
        logTurn(what);
        forgetTurn();
        stopNow();
    }
    if (g_retry.waitedMs >= g_retry.nextNoteMs) {
        std::snprintf(what, sizeof what, "still waiting to store the map changes: %s (%lld s so far)",
                      OVwErrorMsg(code), static_cast<long long>(g_retry.waitedMs / 1000));
        logTurn(what);
        g_retry.nextNoteMs += kNoteEveryMs;
    }
    // What the adapter remembers of the map comes from it again, as after a
    // restart. A frame is made again from the copy the reader kept; an event
    // stays in the platform's queue and comes again with the next OVwPending.
    TopologyAdapter::instance()->resynchAfterRollback();
    if (g_turn == TurnKind::Frame && g_frameRedo != nullptr)
        g_frameRedo();
    return true;
}

void turnStored()
{
    if (ServerEndpoint *endpoint = TopologyAdapter::instance()->serverEndpoint())
        endpoint->turnStored();
    if (!g_retry.active)
        return;
    char what[256];
    std::snprintf(what, sizeof what, "map changes stored after %lld s of waiting (%s before)",
                  static_cast<long long>(g_retry.waitedMs / 1000), OVwErrorMsg(g_retry.code));
    logTurn(what);
    g_retry = Retry{};
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
    if (mapOpen) {
        if (g_mapWait.noted) {
            std::snprintf(text, sizeof text, "A map is open again after %lld s: the stream is read again",
                          static_cast<long long>(g_mapWait.waitedMs / 1000));
            MessageLog(text);
        }
        g_mapWait = MapWait{};
        return true;
    }
    if (g_mapWait.active) {
        g_mapWaitPause();
        g_mapWait.waitedMs += kMapLookPauseMs;
    }
    g_mapWait.active = true;
    if (g_mapWait.waitedMs >= g_mapWait.nextNoteMs) {
        std::snprintf(text, sizeof text,
                      "No map is open: frame %lld and those after it wait until a map opens (%lld s so far)",
                      static_cast<long long>(currentFrameNumber() + 1),
                      static_cast<long long>(g_mapWait.waitedMs / 1000));
        MessageLog(text);
        g_mapWait.noted = true;
        g_mapWait.nextNoteMs = g_mapWait.waitedMs + kNoteEveryMs;
    }
    return false;
}

void setMapWaitPause(TqMapWaitPause pause) { g_mapWaitPause = pause != nullptr ? pause : &pauseForMap; }

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
