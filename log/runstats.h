// The daemon's run counters: what the message log's run summary reports and
// what monitoring reads. One instance per process (in log/state.h), touched
// only by the main loop's thread.
#ifndef TQ_LOG_RUNSTATS_H
#define TQ_LOG_RUNSTATS_H

#include <cstdint>
#include <ctime>

struct RunStats {
    std::time_t started = 0;     // when the daemon started (0 until start-up sets it)
    int64_t framesRead = 0;      // frames started; also the number of the frame in hand (from 1)
    int64_t applied = 0;         // messages whose map changes were made
    int64_t refused = 0;         // messages refused (malformed, bad names, ...)
    int64_t failed = 0;          // messages whose map changes failed
    int64_t skipped = 0;         // frames skipped whole by the reader
    int64_t eventsHandled = 0;   // map events delivered to the daemon's callbacks
};

// The process's counters.
RunStats &runStats();

// The number of the frame in hand, counted from 1 as `tqstream decode` counts
// them; 0 before the first frame.
inline int64_t currentFrameNumber() { return runStats().framesRead; }

#endif
