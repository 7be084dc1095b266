// The process's run counters.
#include "log/runstats.h"

RunStats &runStats()
{
    static RunStats stats;
    return stats;
}
