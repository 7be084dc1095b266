// Copying a whole map from one map database to another: every row with its
// id (the map row, fields, objects, values, submaps, symbols, pending
// events, the history of changes and its bound, the run counters), checked
// equal afterwards. For moving a map between stores while no daemon runs.
//
// Threads: one call at a time per target; keeps no state between calls.
//
// Errors: false with an operator's text in `error` ("... already holds a
// map", "the copy differs from the original at ..."). A copy that fails
// leaves the target as it was (one transaction).
#ifndef TQ_MAPDB_COPY_H
#define TQ_MAPDB_COPY_H

#include <cstdint>
#include <functional>
#include <string>

namespace mapdb {

// Told after each table is copied (its name and rows), and every
// 50,000 rows within a large table.
using CopyProgress = std::function<void(const std::string &table, int64_t rows, bool tableDone)>;

struct CopySummary {
    int64_t rows = 0;      // rows copied, all tables together
    int64_t objects = 0, symbols = 0, changes = 0;
    std::string from, to;  // the two as messages name them (a URI without its password)
    std::string notVacuumed;  // why a copy to a server was not vacuumed (empty: it was, or a file)
};

// Copies the map at `from` into `to` (made when missing): each a file path or
// a postgresql:// URI (a server map is opened as the daemon opens it, so a
// map a daemon has open is refused). A target that
// already holds a map is refused unless `replace`, which empties it first.
// After the commit both are read again, table by table, and must be equal.
bool copyMap(const std::string &from, const std::string &to, bool replace, const CopyProgress &progress,
             CopySummary &summary, std::string &error);

}  // namespace mapdb

#endif
