// The session of the embedded map platform (one per process) and the
// look-ups and deletions the calls of mapdb/ share.
#ifndef TQ_MAPDB_SESSION_H
#define TQ_MAPDB_SESSION_H

#include "mapdb/db.h"
#include "host/fileid.h"
#include "host/hostfile.h"
#include "ovw/ovw.h"

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace mapdb {

struct FieldDef {
    int type = 0;
    bool isList = false;
    bool located = false;   // created with OVwFieldLocate: its texts are indexed
};

struct Callback {
    OVwCallbackProc proc = nullptr;
    void *userData = nullptr;
};

struct Session {
    HostFileLock writerLock;   // one daemon per map database; released after db closes
    Db db;
    std::string path;              // the database file (":memory:" for none)
    HostFileIdentity file;         // the file opened at that path
    bool fileKnown = false;
    std::string mapName;
    OVwSubmapId rootSubmap = 0;
    bool mapOpen = false;
    std::map<int, Callback> callbacks;
    std::unordered_map<int, FieldDef> fields;   // known field definitions by id
    std::unordered_map<std::string, OVwFieldId> fieldIds;   // known field ids by name
    uint64_t fieldCachesAt = 0;                 // db.rollbacks() when the two caches were valid
};

extern Session *g_session;

// The open session, or null with OVw_NOT_CONNECTED.
Session *session();
// The same without opening the turn's transaction.
Session *connectedSession();
// The open session for a call that takes the map record: null with
// OVw_NOT_CONNECTED, or with OVw_NO_MAP_OPEN for a null record or a closed map.
Session *mapSession(const OVwMapInfo *map);
// Opens the write transaction of this loop turn when none is open; false
// (with OVw_STORAGE_FAILURE) when it cannot be opened.
bool beginWrite(Session &s);
// Sets OVw_STORAGE_FAILURE.
void storageFailure();
// The session's map database can no longer be used: rolls the turn back,
// closes the session without writing, sets OVw_MAP_UNUSABLE with the cause
// as the error detail.
void endUnusable(const std::string &cause);
// The cause when the database path no longer names the file the session
// opened (one stat); empty when it still does.
std::string fileMovedCause(const Session &s);

// Re-reads the map row (name, root submap, open flag) after a rollback.
bool loadMap(Session &s);

// Writes the run counters not yet written (ended: the session ends).
void flushRunCounters(bool ended);
// Reads the counters the previous session left, before this one writes any.
void readPreviousRunCounters(Db &db);
// A new session starts without counters.
void forgetRunCounters();

// Existence checks (indexed look-ups).
bool objectExists(Db &db, OVwObjectId id);
bool symbolExists(Db &db, OVwSymbolId id);
bool submapExists(Db &db, OVwSubmapId id);
// The field's definition, from the cache or the database; false when unknown.
bool fieldDef(Session &s, OVwFieldId id, FieldDef &out);

// A deleted symbol, as reported in a symbol-deletion event.
struct DeletedSymbol {
    OVwSymbolId symbol;
    OVwSubmapId submap;
    OVwObjectId object;
    int variety;
    int statusSource;
};

// Deletes the symbols with the given ids and every connection that ends at
// one of them (repeatedly). Appends what was deleted. Needs a transaction.
bool deleteSymbolsCascade(Db &db, const std::vector<OVwSymbolId> &ids, std::vector<DeletedSymbol> *deleted);
// Deletes an object with its values, symbols and the submaps it parents.
bool deleteObjectCascade(Db &db, OVwObjectId id);

// Posts an event on a connection (inside a transaction opened by the caller).
bool postEventOn(Db &db, int code, const std::vector<int> &ids, std::string &err);

// A symbol from columns at..at+10 of a row: id, submap, object,
// status_source, variety, flags, status, symbol_type, label, conn_a, conn_z.
Db::SymbolRow symbolRowAt(const Stmt &q, int at);
// Builds a symbol record list from a query that selects those columns.
OVwSymbolList *collectSymbols(Stmt &q);
void freeSymbolRecords(OVwSymbolInfo *recs, int count);

}  // namespace mapdb

#endif
