// Private declarations of the embedded map platform, one header per concern:
// the error state, the SQLite wrapper, the schema, the session and the test
// hooks. A source of mapdb/ includes what it uses; this header includes all.
#ifndef TQ_MAPDB_INTERNAL_H
#define TQ_MAPDB_INTERNAL_H

#include "mapdb/db.h"
#include "mapdb/errors.h"
#include "mapdb/hooks.h"
#include "mapdb/schema.h"
#include "mapdb/session.h"

#endif
