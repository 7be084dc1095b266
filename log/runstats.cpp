// The process's run counters.
#include "log/runstats.h"

#include "log/state.h"

RunStats &runStats() { return logState().runStats; }
