// The ending routine and the stream-failure exit.
#ifndef TQ_LOG_LIFECYCLE_H
#define TQ_LOG_LIFECYCLE_H

#include <cstdio>

// The open message stream (tqdaemon.file), null until start-up opens it.
extern FILE *tqMessageStream;

// Ending routine: the two message-log lines, flush stderr, one WSACleanup,
// then exit with the code. Never returns.
[[noreturn]] void endDaemon(int exitCode);

// Closes the stream when present and ends the daemon with exit code 0.
[[noreturn]] void streamFailureExit(FILE *stream);

// Hook for tests: replaces the process exit of endDaemon (default std::exit).
using TqExitHook = void (*)(int);
void setExitHook(TqExitHook hook);

#endif
