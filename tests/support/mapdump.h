// A map as rows of text, the same for a map in an SQLite file and a map in a
// PostgreSQL schema, so that two maps compare object for object: the map
// row, fields, objects, field values, submaps and symbols with their ids,
// the pending events, the history of changes (without its ids and times, which
// differ between runs) and the run's frame counts (without its times).
// POSIX hosts only (links libpq and SQLite).
#ifndef TQ_TESTS_SUPPORT_MAPDUMP_H
#define TQ_TESTS_SUPPORT_MAPDUMP_H

#include <string>
#include <vector>

namespace tqtest {

// The rows of the map at `location` (a file path, or a postgresql:// URI),
// each "table|col|col..." with NULL as "NULL", in a fixed order; one row
// "error: ..." when it cannot be read.
std::vector<std::string> dumpMap(const std::string &location);

}  // namespace tqtest

#endif
