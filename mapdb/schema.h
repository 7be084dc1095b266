// The schema of the map database, versioned with PRAGMA user_version, and
// the steps that bring a map of an earlier version to the current one.
#ifndef TQ_MAPDB_SCHEMA_H
#define TQ_MAPDB_SCHEMA_H

#include "mapdb/db.h"

#include <string>

namespace mapdb {

// Creates the schema and seeds a new database, or brings a map of an
// earlier form to the current one. Returns 0, or the platform code of the
// refusal or failure with the reason in err.
int ensureSchema(Db &db, std::string &err);
// Looks at the schema without writing: fresh when the database has no table
// yet. 0, or the code of the refusal (not a map, a map of an unknown form)
// with the reason in err.
int inspectSchema(Db &db, std::string &err, bool &fresh, int &version);
// On a server engine, whose own schema code made the tables: seeds a new
// map (its row, root submap and field registry) and sets this start's
// history bound, in one transaction. False with the reason in err.
bool seedServerMap(Db &db, std::string &err);

}  // namespace mapdb

#endif
