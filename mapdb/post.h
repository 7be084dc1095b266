// Posting map events as another process would (an operator's deletion, a
// map closed elsewhere): the events reach the connected daemon through its
// next OVwPending.
#ifndef TQ_MAPDB_POST_H
#define TQ_MAPDB_POST_H

#include <string>
#include <vector>

namespace mapdb {

// Posts an event into the open map's events table. For OVwEventDeleteSymbols
// the symbols are deleted first (with their connections), as an operator's
// deletion does. Returns 0 or -1.
int postEvent(int code, const std::vector<int> &ids = {});

// The same against a map database file, from a process that has no
// connection of its own. Returns 0, or -1 with a message in `error`.
int postEventToFile(const std::string &dbPath, int code, const std::vector<int> &ids, std::string &error);

}  // namespace mapdb

#endif
