// The one reset of the process-wide state the daemon's pieces keep between
// calls: one call per library (log/testing.h, adapter/testing.h,
// handlers/testing.h, intake/testing.h, mapdb/testhooks.h), each putting the
// whole of that library's state back to its start. Every fixture calls it in SetUp and
// TearDown, so no test sees what the one before it left behind.
//
// The Windows test build holds only the platform, log writers and codec, so
// there only the log state is reset (resetLogState). A test program that
// does not link the message handlers (nor so the intake) defines
// TQ_TESTS_NO_HANDLERS.
#ifndef TQ_TESTS_SUPPORT_PROCESS_STATE_H
#define TQ_TESTS_SUPPORT_PROCESS_STATE_H

#include "log/log.h"
#include "log/testing.h"

#ifndef _WIN32
#include "adapter/testing.h"
#include "mapdb/testhooks.h"
#ifndef TQ_TESTS_NO_HANDLERS
#include "handlers/testing.h"
#include "intake/testing.h"
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

// The daemon's own state back to its start (log, adapter with its turn
// keeping and naming tables, handlers, intake), with the debug flag (tqDebug)
// set to debug; the map platform's faults and journal are left as they are (the
// in-process daemon runner runs with what its caller armed).
inline void resetDaemonState(int debug = 0)
{
    resetLogState();
    tqDebug = debug;
#ifndef _WIN32
    resetAdapterState();
#ifndef TQ_TESTS_NO_HANDLERS
    resetHandlerState();
    resetIntakeState();
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
