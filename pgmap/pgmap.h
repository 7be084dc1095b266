// The map on a PostgreSQL server: the engine that runs the map platform's
// logic (mapdb/engine.h) through libpq. One map is one schema: the first
// schema of the connection's search path (current_schema()), so several maps
// share a database, each named by the URI's options=-csearch_path=NAME.
// One daemon per map: a session-level advisory lock on the database and
// schema names, held as long as the connection.
//
// POSIX hosts only (not part of the Windows build).
#ifndef TQ_PGMAP_PGMAP_H
#define TQ_PGMAP_PGMAP_H

#include "mapdb/engine.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace pgmap {

// True when the map location (OVW_MAPDB) names a PostgreSQL server: a
// postgresql:// or postgres:// URI. Anything else is a file path.
bool isServerLocation(const std::string &location);

// Called while a server that does not answer (not started, restarting) is
// waited for: the time waited so far, and once more with ended set.
using WaitReport = std::function<void(int64_t waitedMs, bool ended)>;

// Connects to the map at `uri`, takes its lock, and makes its tables when
// the schema is empty or brings them to this program's version. A server
// that does not answer is waited for (with growing pauses, reported through
// `wait`) until it does or the process is asked to stop. 0 with the engine
// in `out`; else the platform's code (OVw_MAP_SERVER_REFUSED: a malformed
// URI, failed authentication, a missing database or schema;
// OVw_MAP_SERVER_UNREACHABLE: stopped while waiting; OVw_MAP_IN_USE;
// OVw_NOT_A_MAP; OVw_SCHEMA_UNUSABLE: a newer schema; OVw_STORAGE_FAILURE)
// with the reason in `err`. A refused map is not written to.
int openMap(const std::string &uri, const WaitReport &wait, std::unique_ptr<mapdb::Engine> &out, std::string &err);

// Connects to the map at `uri` to read it or to post an operator event into
// it: takes no lock, waits for no server, creates and migrates nothing. 0
// with the engine in `out`; else openMap's codes (OVw_NOT_A_MAP also for an
// empty schema) with the reason in `err`.
int openReader(const std::string &uri, std::unique_ptr<mapdb::Engine> &out, std::string &err);

// Subscribes a reader's connection (openReader) to the map's change
// notices: one per committed transaction that changed what the map shows,
// taken through Engine::takeNotices. False when the map sends none to this
// connection: on a standby (notices are not replicated) or a map of an
// earlier version than the notices (until the daemon upgrades it); the
// caller then looks for changes itself.
bool listenForChanges(mapdb::Engine &engine);

// The URI without its password, for messages.
std::string displayUri(const std::string &uri);

}  // namespace pgmap

#endif
