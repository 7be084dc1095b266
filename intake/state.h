// The intake library's process-wide state, all of it in one struct: where
// the reader is in the message stream, why the frame in hand is skipped, the
// path of the stream file, and the frame kept to be made again after a
// rollback with the run counters from before it.
//
// One instance per process (intakeState()). Read and written by the main
// loop's thread alone: the reader runs as its server callback, and the turn
// keeping calls the redo and undo of the kept frame from within that thread's
// commits. Reset for tests: resetIntakeState() (intake/testing.h).
//
// Not here: the reader's header buffer and the sink of skipped bytes, work
// buffers that hold nothing from one frame to the next.
#ifndef TQ_INTAKE_STATE_H
#define TQ_INTAKE_STATE_H

#include "log/runstats.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

// Bytes taken from the stream so far: the frame position on streams that
// cannot tell their own (pipes). Starts again at 0 for another stream and
// after the stream failed.
struct StreamCursor {
    FILE *stream = nullptr;
    long long consumed = 0;
};

// The payload of the frame in hand, kept until the next frame so that its map
// changes can be made again after a rollback, with the handlers' state from
// before it. Empty while no frame was dispatched.
struct KeptFrame {
    std::unique_ptr<char[]> payload;
    int32_t length = 0;
};

struct IntakeState {
    StreamCursor cursor;        // the reader, at each read
    std::string skipReason;     // the reader: set when the frame in hand is to be skipped, cleared once logged
    std::string streamPath;     // setStreamPath, by start-up; empty: no file to watch for a replacement
    KeptFrame kept;             // the reader: each dispatched frame
    RunStats statsBefore;       // the run counters before the kept frame: a frame made again counts once
};

// The process's instance.
IntakeState &intakeState();

#endif
