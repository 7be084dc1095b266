// What tests and the fuzz targets may do to the message handlers beyond
// their API; the daemon never includes this header.
#ifndef TQ_HANDLERS_TESTING_H
#define TQ_HANDLERS_TESTING_H

#include "handlers/split_list.h"

// The handlers' process-wide state (the split-list assembler) back to its
// start: no pending fields, no records, no list open or being discarded.
inline void resetHandlerState() { splitList().reset(); }

#endif
