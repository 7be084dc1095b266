// The process's run counters.
#include "daemon/runstats.h"

RunStats &runStats()
{
    static RunStats stats;
    return stats;
}
