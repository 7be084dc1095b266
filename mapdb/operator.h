// What the map platform keeps for the people who watch the map: the status
// roll-up of compound symbols, the bounded history of recent changes and the
// daemon's run counters. Shared by the platform and the tools that read a map
// database.
#ifndef TQ_MAPDB_OPERATOR_H
#define TQ_MAPDB_OPERATOR_H

#include "mapdb/read.h"

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace mapdb {

// The status vocabulary and the roll-up of compound symbols are declared in
// mapdb/read.h, the tools' side of the map database.

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

// Brings a history of schema version 2 to version 3: the columns that undoing
// a change needs, and a history complete from now on (the rows before lack
// them). Runs inside the caller's write transaction.
bool upgradeHistory(sqlite3 *db, std::string &err);

// True when the database has the table (older maps lack the operator tables).
bool hasTable(sqlite3 *db, const char *name);

}  // namespace mapdb

#endif
