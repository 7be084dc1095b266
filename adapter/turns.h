// Keeping each loop turn's map changes: a turn whose commit failed for a
// reason that may pass (full disk, I/O error, another writer's lock) is
// logged, waited for and made again until it is stored; the daemon never
// goes on as if it had been. Also the stop at a whole-message boundary
// (SIGTERM, SIGINT).
#ifndef TQ_ADAPTER_TURNS_H
#define TQ_ADAPTER_TURNS_H

// What the open turn holds: a frame of the stream, or a map event (which the
// platform delivers again after a rollback).
enum class TurnKind { Frame, Event };
void noteTurn(TurnKind kind);

// Makes the open turn's frame again after its changes were rolled back:
// registered by the reader, which keeps the frame.
using TqFrameRedo = void (*)();
void setFrameRedo(TqFrameRedo redo);
// Forgets what the open turn's frame did to the handlers' state and the run
// counters, when its changes are not stored and will not be made again:
// registered by the reader with the redo.
void setFrameUndo(TqFrameRedo undo);

// Hands the run counters to the map platform, which stores them with the
// next commit (at most once a second) and when the session ends.
void publishRunCounters();

// After OVwPending returned 0: true when the turn's changes were rolled back
// for a reason that may pass; then it has been logged (with the frame), the
// daemon has waited (growing pauses) and made the turn again, and OVwPending
// is to be called once more. Ends the daemon (exit code 0) when it is asked
// to stop while it waits, without counting the turn. Ends it with exit code
// 5 when the map database can no longer be used (OVw_MAP_UNUSABLE): the
// turn was rolled back, the log and the console name the frame and the
// cause, and the run summary does not count the turn.
bool turnFailed();
// After OVwPending stored the turn: logs the recovery after failed tries.
void turnStored();

// Commits the open turn, making it again until it is stored (end of stream).
void commitTurns();

// At a whole-message boundary: when SIGTERM or SIGINT came, logs it and ends
// the daemon with exit code 0 (the turn's changes are committed).
void stopIfRequested();

// Before a frame is read: true when a map is open (the loop passes true too
// for a map that was not closed by a map-close event). While none is, a
// frame could not be applied, so none is read (the stream waits) and the
// loop only handles map events: each call after the first pauses (100 ms),
// and the wait is logged after 3 s and once a minute, its end once logged.
bool mapReadyForFrame(bool mapOpen);
// The pause between looks at the events while no map is open, when not the
// default one (tests set it: adapter/testing.h).
using TqMapWaitPause = void (*)();

// Installs the signal handlers and the map database's wait reporting.
void installTurnKeeping();

#endif
