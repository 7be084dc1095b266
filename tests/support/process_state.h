// The one reset of the process-wide state the daemon's pieces keep between
// calls: log and trace paths, trace depth, the debug flag, and (in the
// programs that link them) the ending hook, run counters, map faults and
// journal, the adapter, the naming tables and the split-list assembler.
// Every fixture calls it in SetUp and TearDown, so no test sees what the one
// before it left behind.
//
// The Windows test build holds only the platform, log writers and codec, so
// there only the log state is reset. A test program that does not link the
// message handlers defines TQ_TESTS_NO_HANDLERS.
#ifndef TQ_TESTS_SUPPORT_PROCESS_STATE_H
#define TQ_TESTS_SUPPORT_PROCESS_STATE_H

#include "log/log.h"

#ifndef _WIN32
#include "adapter/naming.h"
#include "adapter/testing.h"
#include "adapter/tqot.h"
#include "log/lifecycle.h"
#include "log/runstats.h"
#include "mapdb/testhooks.h"
#ifndef TQ_TESTS_NO_HANDLERS
#include "handlers/content.h"
#endif
#endif

namespace tqtest {

// Map faults cleared and the call journal off and empty. Also what a fixture
// does before closing the map, so an armed fault cannot fail the close.
inline void resetMapState()
{
#ifndef _WIN32
    mapdb::resetHooks();
#endif
}

// Log and trace paths, trace depth and the debug flag (tqDebug, set to debug):
// all the log writers' tests touch (the adapter's start traces what it does).
inline void resetLogState(int debug = 0)
{
    resetLogPaths();
    tqTraceDepth = 0;
    tqDebug = debug;
}

// The daemon's own state back to its start, with the debug flag (tqDebug) set
// to debug; the map platform's faults and journal are left as they are (the
// in-process daemon runner runs with what its caller armed).
inline void resetDaemonState(int debug = 0)
{
    resetLogState(debug);
#ifndef _WIN32
    setExitHook(nullptr);
    runStats() = RunStats{};
    TopologyAdapterPeer::reset(*TopologyAdapter::instance());
    resetNamingTables();
#ifndef TQ_TESTS_NO_HANDLERS
    resetGraphStateForTests();
#endif
#endif
}

// Everything back to its start, with the debug flag (tqDebug) set to debug.
inline void resetProcessState(int debug = 0)
{
    resetDaemonState(debug);
    resetMapState();
}

}  // namespace tqtest

#endif
