// The log library's process-wide state, all of it in one struct: the debug
// flag and trace depth, the open message stream, the ending hook, the run
// counters, where the log and traces go, what the writers remember between
// entries, and the outcome of the message in hand.
//
// One instance per process (logState()). The daemon logs from its main loop's
// thread alone: every member is read and written there, and by no signal
// handler. Reset for tests: resetLogState() (log/testing.h).
//
// Not here: the time text of the current second and the writers' work
// buffers, caches that change no output.
#ifndef TQ_LOG_STATE_H
#define TQ_LOG_STATE_H

#include "host/hostfile.h"
#include "log/lifecycle.h"
#include "log/runstats.h"

#include <cstdint>
#include <cstdio>
#include <string>

// Where the message log and the traces go, resolved from TQ_DRIVE, TQ_ROOT,
// TQ_TRACE_LIMIT and TQ_LOG_LIMIT at the first entry (log.cpp).
struct LogPaths {
    bool resolved = false;
    std::string directory;     // Windows form, ends with a backslash
    std::string messageLog;    // host paths
    std::string previousLog;   // the rotated generation: <name>.1
    HostBoundedFile daemonTrace;
    HostBoundedFile adapterTrace;
    uint64_t logLimit = 0;      // bytes, 0: none
    std::string refusedDrive;   // a TQ_DRIVE value that names no drive or absolute path
    bool refusalLogged = false;
};

// Message-log entries that could not be written (a full disk, an unwritable
// folder): counted, the first loss told on stderr once, and the count written
// to the log ahead of the first entry that can be written again.
struct LostEntries {
    int64_t total = 0;
    int64_t unreported = 0;
    bool told = false;
};

// The message in hand, between beginMessage and endMessage (outcome.cpp).
enum class MessageOutcome { None, Refused, Failed };
struct MessageInHand {
    std::string kind;
    std::string identity;
    MessageOutcome outcome = MessageOutcome::None;
};

// Every scalar member starts at zero (null, false): what the names bound to
// them (tqDebug, tqTraceDepth, tqMessageStream) read before the instance is
// constructed is their start value.
struct LogState {
    int debug = 0;                      // tqDebug: set by start-up from the command line
    int traceDepth = 0;                 // tqTraceDepth: moved by TraceScope
    FILE *messageStream = nullptr;      // tqMessageStream: opened by start-up, closed at its end
    TqExitHook exitHook = nullptr;      // what ends the process in endDaemon; null: std::exit
    RunStats runStats;                  // runStats(): counted by the reader, outcomes and events
    LogPaths paths;                     // resolved by the writers at their first entry
    LostEntries lost;                   // message-log entries not written
    bool adapterEntryMissing = false;   // the last adapter trace entry was lost: "MISSING" next
    MessageInHand message;              // the outcome of the message in hand
};

// The process's instance, built before main: it outlives the exit handlers
// the run registers, which may still write entries.
LogState &logState();

#endif
