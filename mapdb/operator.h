// What the map platform keeps for the people who watch the map: the status
// roll-up of compound symbols, the bounded history of recent changes and the
// daemon's run counters. Shared by the platform and the tools that read a map
// database.
#ifndef TQ_MAPDB_OPERATOR_H
#define TQ_MAPDB_OPERATOR_H

#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace mapdb {

// ---- status roll-up ----------------------------------------------------------

// Symbols of OVwRollUpStatusSource show the roll-up of their child submaps.

// The rank of a status: higher is more severe. Unmanaged (0) and unknown (1)
// say nothing about health and rank below every health status: normal (2),
// warning (3), minor (4), marginal (5), major (6), critical (7). A value
// outside the platform's statuses ranks -1 and never wins a roll-up.
int statusSeverity(int status);
// The more severe of two statuses (the first on a tie); -1 stands for "none".
int worseStatus(int a, int b);

// One symbol as the roll-up sees it.
struct StatusRow {
    int id = 0;
    int submap = 0;
    int object = 0;
    int status = 0;
    int statusSource = 0;
};

// The effective status of every symbol, in one pass over the map: a compound
// symbol whose object parents one or more submaps shows the most severe
// effective status among the symbols on them (recursively); an empty child
// submap, or none, leaves its own stored status; every other symbol shows its
// stored status. `submapParents` pairs each submap id with its parent object.
std::unordered_map<int, int> effectiveStatuses(const std::vector<StatusRow> &symbols,
                                               const std::vector<std::pair<int, int>> &submapParents);

// ---- history and run counters: the tables ---------------------------------------

// Rows kept in the history of changes unless OVW_HISTORY_ROWS says otherwise.
constexpr int64_t kDefaultHistoryRows = 100000;
// The history's size from OVW_HISTORY_ROWS (a positive number), else the default.
int64_t historyRowsFromEnvironment();

// Creates the history of changes (table `changes`, filled by triggers on the
// symbols and objects, trimmed to the configured number of rows), its
// setting and the run counter table when missing, and stores the history's
// size. Runs inside the caller's write transaction.
bool ensureOperatorTables(sqlite3 *db, int64_t historyRows, std::string &err);

// True when the database has the table (older maps lack the operator tables).
bool hasTable(sqlite3 *db, const char *name);

}  // namespace mapdb

#endif
