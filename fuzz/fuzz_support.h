// Shared set-up of the fuzz targets: a private TQ_ROOT for the log and the
// traces (on tmpfs when there is one), kept small by truncating its files,
// and an exit hook that turns the daemon's ending routine into an exception
// so that a target returns to libFuzzer instead of ending the process.
#ifndef TQ_FUZZ_SUPPORT_H
#define TQ_FUZZ_SUPPORT_H

#include <string>

namespace tqfuzz {

// Thrown by the exit hook in place of the process exit.
struct DaemonEnded {
    int exitCode;
};

// Creates the temporary root (removed at process exit), points TQ_ROOT at it,
// writes a small oid_to_sym there and installs the throwing exit hook.
// Idempotent.
void setUp();

// The temporary root.
const std::string &root();

// Truncates the message log and both traces every `every` calls.
void trimOutputs(unsigned every = 256);

}  // namespace tqfuzz

#endif
