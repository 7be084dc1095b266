// Process start-up, the ending routine and the stream-failure exit.
#ifndef TQ_DAEMON_LIFECYCLE_H
#define TQ_DAEMON_LIFECYCLE_H

#include <cstdio>

class TopologyAdapter;

// The open message stream (tqdaemon.file), null until start-up opens it.
extern FILE *tqMessageStream;
// The adapter singleton, set during initialisation (not owned; never freed).
extern TopologyAdapter *tqAdapter;

// Ending routine: the two message-log lines, flush stderr, one WSACleanup,
// then exit with the code. Never returns.
[[noreturn]] void endDaemon(int exitCode);

// Closes the stream when present and ends the daemon with exit code 0.
[[noreturn]] void streamFailureExit(FILE *stream);

// Hook for tests: replaces the process exit of endDaemon (default std::exit).
using TqExitHook = void (*)(int);
void setExitHook(TqExitHook hook);

// The daemon's main: start-up in its fixed order. Returns only on the
// port-lookup failure path (with the status it returns).
int tqdaemonMain();

#endif
