// Test hooks of the embedded map platform: fault injection and the call
// journal. The daemon's own code never uses these; tests and the fault sweep
// do. Event posting (mapdb/post.h) comes with them.
#ifndef TQ_MAPDB_TESTHOOKS_H
#define TQ_MAPDB_TESTHOOKS_H

#include "mapdb/post.h"

#include <string>
#include <vector>

namespace mapdb {

// Make calls of the named operation (e.g. "OVwCreateSubmap") fail with `code`:
// the next call only, every call, or only the n-th call from now (1-based).
void failNext(const std::string &operation, int code);
void failAlways(const std::string &operation, int code);
void failNth(const std::string &operation, int n, int code);
// Let `after` calls of the operation through, then fail the next `count`.
// "VfsWrite" names the writes of the map database's log to the file system,
// with an SQLite result code (13 disk full, 10 I/O error).
void failStretch(const std::string &operation, int after, int count, int code);
void clearFaults();

// Arms faults from a text of comma-separated entries "Operation:mode:code",
// mode one of next, always, nth=N or stretch=A+C (see failStretch), e.g.
// "OVwCreateSymbol:always:4,OVwDbSetFieldStringValue:nth=3:4". OVwInit reads
// the variable OVW_FAULTS with it once per process, so a test can make a
// daemon process fail. False, with nothing armed and the reason in `error`,
// when an entry is malformed.
bool armFaults(const std::string &text, std::string &error);

// Call journal: one line per platform call while enabled, "Operation(arg, ...)"
// with the key arguments.
void journalEnable(bool on);
const std::vector<std::string> &journal();
void journalClear();

// Every hook back to rest: no fault armed, the journal off and empty.
void resetHooks();

// Path of the map database OVwInit opens: OVW_MAPDB, else
// <root>/usr/ov/databases/tqmap.db.
std::string databasePath();

}  // namespace mapdb

#endif
