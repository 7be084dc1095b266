// Daemon start-up in its fixed order: message log, port lookup, debug flag,
// socket endpoint, connection to the map platform, message stream, main loop.
#ifndef TQ_DAEMON_STARTUP_H
#define TQ_DAEMON_STARTUP_H

#include "adapter/tqot.h"

// The adapter singleton, set when start-up connects to the map platform.
extern TopologyAdapter *tqAdapter;

// The daemon's main: start-up in its fixed order. Returns only on the
// port-lookup failure path (with the status it returns).
int tqdaemonMain();

// Start-up from the connection to the map platform on: connects (ending the
// daemon when that fails), opens the message stream, runs the main loop with
// the server callback over the endpoint and ends the daemon. Never returns
// (tests end it through the exit hook).
[[noreturn]] void runFromConnection(ServerEndpoint &endpoint, TqServerCallback callback);

#endif
