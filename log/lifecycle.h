// The ending routine and the stream-failure exit.
#ifndef TQ_LOG_LIFECYCLE_H
#define TQ_LOG_LIFECYCLE_H

#include <cstdio>

// The open message stream (tqdaemon.file), null until start-up opens it
// (logState().messageStream, log/state.h).
extern FILE *&tqMessageStream;

// Exit codes beside 0 (the stream ended, or a stop), 1 (start-up failed, or
// the map platform ended the session) and 2 (usage).
constexpr int kExitDatabaseUnusable = 3;   // the map database was refused at start-up
constexpr int kExitDatabaseInUse = 4;      // another daemon has the map database open
constexpr int kExitMapFailed = 5;          // the map database failed for good during the run

// Ending routine: the two message-log lines, flush stderr, one WSACleanup,
// then exit with the code. Never returns.
[[noreturn]] void endDaemon(int exitCode);

// Closes the stream when present and ends the daemon with exit code 0.
[[noreturn]] void streamFailureExit(FILE *stream);

// What ends the process in endDaemon instead of std::exit (tests set it:
// log/testing.h).
using TqExitHook = void (*)(int);

#endif
