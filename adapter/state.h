// The adapter library's process-wide state beside the TopologyAdapter object
// itself, all of it in one struct: the turn keeping (what the open turn
// holds, the reader's redo and undo, the failed tries of the turn, the waits
// for a lock and for a map), whether the operator closed the map, and the
// naming tables built on first use.
//
// One instance per process (adapterState()). Read and written by the main
// loop's thread alone: the map platform calls the wait and event handlers
// from within the calls that thread makes, and the stop signals touch only
// the host's flag. Reset for tests, with the adapter object:
// resetAdapterState() (adapter/testing.h).
#ifndef TQ_ADAPTER_STATE_H
#define TQ_ADAPTER_STATE_H

#include "adapter/turns.h"

#include <cstdint>
#include <ctime>
#include <map>
#include <string>

// Pauses and log intervals of the turn keeping, in ms.
constexpr int kFirstRetryPauseMs = 50;
constexpr int64_t kNoteEveryMs = 60 * 1000;     // one log line per minute of waiting
constexpr int64_t kWaitWorthNotingMs = 3000;    // a wait is logged past this

// The failed tries of the turn in hand.
struct TurnRetry {
    bool active = false;
    int pauseMs = kFirstRetryPauseMs;
    int64_t waitedMs = 0;
    int64_t nextNoteMs = kNoteEveryMs;
    int code = 0;
};

// A wait for another writer's lock, as the platform reports it.
struct LockWait {
    bool noted = false;
    int64_t nextNoteMs = kWaitWorthNotingMs;
};

// The frames held back while no map is open.
struct MapWait {
    bool active = false;
    int64_t waitedMs = 0;
    int64_t nextNoteMs = kWaitWorthNotingMs;
    bool noted = false;
};

// The tables of the naming functions (naming.cpp), built on first use: the
// protocol index, and the icon table read from oid_to_sym.
struct NamingTables {
    bool protocolIndexBuilt = false;
    std::map<std::string, int32_t> protocolIndex;
    bool iconMapBuilt = false;
    std::map<std::string, std::string> iconMap;
};

struct AdapterState {
    // turn keeping (turns.cpp)
    TurnKind turn = TurnKind::Frame;        // noteTurn
    TqFrameRedo frameRedo = nullptr;        // setFrameRedo, by the reader
    TqFrameRedo frameUndo = nullptr;        // setFrameUndo, by the reader
    TurnRetry retry;                        // turnFailed, turnStored
    LockWait lockWait;                      // the platform's wait reports
    MapWait mapWait;                        // mapReadyForFrame
    TqMapWaitPause mapWaitPause = nullptr;  // the pause while no map is open; null: 100 ms unless stopped
    std::time_t firstTurn = 0;              // the run's start for the counters when start-up set none; 0: not yet
    // map events (core.cpp): set by a map close, cleared by a map open or
    // tqotInit; while set, frames wait in the stream
    bool mapClosedByOperator = false;
    NamingTables naming;                    // naming.cpp
};

// The process's instance.
AdapterState &adapterState();

#endif
