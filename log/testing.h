// What tests, benchmarks and the fuzz targets may do to the log library
// beyond its API; the daemon never includes this header.
#ifndef TQ_LOG_TESTING_H
#define TQ_LOG_TESTING_H

#include "log/state.h"

#include <cstdio>

// The whole log state (log/state.h) back to its start: debug off, depth 0,
// the exit hook gone, counters zero, the paths resolved again at the next
// entry (after TQ_ROOT or TQ_DRIVE changed), no loss remembered. An open
// message stream is closed.
inline void resetLogState()
{
    LogState &s = logState();
    if (s.messageStream != nullptr)
        std::fclose(s.messageStream);
    s = LogState{};
}

// Makes endDaemon call hook instead of ending the process (null: std::exit).
inline void setExitHook(TqExitHook hook) { logState().exitHook = hook; }

#endif
