// The map's tables on PostgreSQL and their migrations.
#ifndef TQ_PGMAP_SCHEMA_H
#define TQ_PGMAP_SCHEMA_H

#include "pgmap/engine.h"

#include <string>

namespace pgmap {

// Makes the map's tables in an empty schema (the connection's current
// schema), or brings an existing map to this program's version. 0, or the
// platform's code with the reason in err: OVw_MAP_SERVER_REFUSED (no
// schema), OVw_NOT_A_MAP (other tables), OVw_SCHEMA_UNUSABLE (a newer or
// unreadable version), OVw_STORAGE_FAILURE. Nothing is written to a schema
// it refuses. Without `create` it only checks: an empty schema is no map
// (OVw_NOT_A_MAP) and an older map is left as it is.
int ensureSchema(PgEngine &engine, std::string &err, bool create = true);

}  // namespace pgmap

#endif
