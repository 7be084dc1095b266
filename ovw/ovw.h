/*
 * The map platform's application API, as the daemon uses it.
 *
 * Threads and callbacks: the platform keeps one process-wide session, error
 * state and set of event handlers, without locks. Every call must come from
 * one thread (the daemon's main loop), never from a signal handler. An event
 * handler runs only inside OVwProcessEvent, on the caller's thread, before
 * that call returns; the wait handler (OVwSetWaitHandler) only inside the call
 * that waits for the map database's write lock.
 *
 * The error state (OVwError): every call sets it, OVw_SUCCESS when it
 * succeeds and the code of the failure when it fails, except the release
 * calls, OVFree, OVwError, OVwErrorMsg, OVwErrorDetail, OVwErrorMayPass,
 * OVwSetWaitHandler and OVwSetNoticeHandler, which leave it as it is. A call that needs the session
 * fails with OVw_NOT_CONNECTED before OVwInit and after OVwDone. A call that
 * takes a map record fails with OVw_NO_MAP_OPEN for a null record or when no
 * map is open (OVwAckMapClose: only for a null record); the record itself is
 * never read (the open map is the one acted on). Where a call fails with OVw_STORAGE_FAILURE, a cause that may pass is
 * reported by its own code instead (OVw_DISK_FULL, OVw_IO_ERROR,
 * OVw_MAP_BUSY). A fault armed through the test hooks (mapdb/testhooks.h, or
 * OVW_FAULTS) makes a call fail with the armed code before it does anything.
 *
 * Turns: the changes of a loop turn are one transaction, committed by
 * OVwPending (also by OVwDone, and when the process ends through exit()).
 * A turn that is rolled back takes its changes with it: ids made in it then
 * name nothing.
 *
 * Ownership and lifetime: ids are 32-bit; 0 means "none". Texts and records
 * passed in stay the caller's; the platform copies what it keeps. Every
 * record and text a call returns is newly allocated and the caller's: it
 * stays valid, whatever later calls, rollbacks or OVwDone do, until it goes
 * back through the release call named at its call (the texts and arrays
 * inside a record go with it). Release calls accept null. What an event
 * handler is handed is the exception: see OVwCallbackProc.
 */
#ifndef TQ_OVW_OVW_H
#define TQ_OVW_OVW_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t OVwObjectId;
typedef int32_t OVwSubmapId;
typedef int32_t OVwSymbolId;
typedef int32_t OVwFieldId;
typedef int32_t OVwBoolean;
typedef int64_t OVwTime;

/* ---- error codes ------------------------------------------------------ */
#define OVw_SUCCESS                 0
#define OVw_NOT_CONNECTED           1  /* OVwInit has not run, or OVwDone ran */
#define OVw_NO_MAP_OPEN             2
#define OVw_BAD_ARGUMENT            3
#define OVw_STORAGE_FAILURE         4
#define OVw_OUT_OF_MEMORY           5
#define OVw_EVENT_CHANNEL_FAILURE   6
/* Storage failures that may pass: the turn's changes were rolled back and
 * can be made again once the cause is gone. */
#define OVw_DISK_FULL               7  /* no space left for the map database */
#define OVw_IO_ERROR                8  /* the map database's files could not be read or written */
#define OVw_MAP_BUSY                9  /* another program holds the map database's write lock */
/* Map databases OVwInit refuses (nothing is written to them). */
#define OVw_READ_ONLY_DATABASE     10  /* the file or its folder cannot be written */
#define OVw_NOT_A_DATABASE         11  /* not an SQLite database (or a folder) */
#define OVw_NOT_A_MAP              12  /* an SQLite database that is not a map */
#define OVw_SCHEMA_UNUSABLE        13  /* a map of a form this platform cannot use */
#define OVw_MAP_IN_USE             14  /* another daemon has the map open */
#define OVw_NO_DATABASE_FOLDER     15  /* the folder named for the map database does not exist */
#define OVw_MAP_DAMAGED            16  /* the map database fails SQLite's own checks */
/* The map database cannot be used any more: a commit failed for a reason
 * that does not pass, the database was found damaged, or its path no longer
 * names the file that was opened (moved, replaced or deleted). The turn was
 * rolled back and the session closed without writing. */
#define OVw_MAP_UNUSABLE           17
/* A map on a database server: the server refused the connection (a
 * malformed URI, failed authentication, no such database or schema). */
#define OVw_MAP_SERVER_REFUSED     18
/* A map on a database server: the server does not answer, or the connection
 * to it was lost; may pass. */
#define OVw_MAP_SERVER_UNREACHABLE 19
#define OVw_NO_SUCH_OBJECT         60
#define OVw_DUPLICATE_SELECTION_NAME 61
#define OVw_NO_SUCH_FIELD          62
#define OVw_NO_SUCH_SYMBOL         63
#define OVw_NO_SUCH_SUBMAP         64
#define OVw_FIELD_TYPE_MISMATCH    65
#define OVw_DUPLICATE_FIELD        66
#define OVw_FIELD_VALUE_NOT_SET    67
#define OVw_NO_SUCH_CALLBACK       68

/* ---- event codes ------------------------------------------------------- */
#define OVwEventEndSession      1
#define OVwEventMapOpen         3
#define OVwEventMapClose        4
#define OVwEventDeleteSymbols  14
#define OVwEventDeleteObjects  15

/* ---- field and value types --------------------------------------------- */
#define OVwIntegerField     1
#define OVwBooleanField     2
#define OVwStringField      3
#define OVwEnumField        4

/* field flags (OVwDbCreateField) */
#define OVwFieldLocate      0x01
#define OVwFieldGeneral     0x02
#define OVwFieldCapability  0x10

/* symbol varieties */
#define OVwIconSymbol         1
#define OVwConnSymbol         2

/* symbol status values (what a symbol shows) */
#define OVwStatusUnknown      0
#define OVwStatusNormal       1
#define OVwStatusCritical     2
#define OVwStatusMarginal     3
#define OVwStatusMajor        4
#define OVwStatusUnmanaged    5
#define OVwStatusMinor        6
#define OVwStatusWarning      7

/* status sources: where the status a symbol shows comes from */
#define OVwSymbolStatusSource  1  /* its stored status */
#define OVwRollUpStatusSource  2  /* compound: the most severe status on its object's
                                     child submaps, recursively (graph symbols) */
#define OVwOwnStatusSource     3  /* its stored status, as the daemon sets it (vertex
                                     and connection symbols) */

/* submap layouts */
#define OVwNoLayout            0
#define OVwPointToPointLayout  1
#define OVwBusLayout           2
#define OVwStarLayout          3
#define OVwRowColumnLayout     4
#define OVwRingLayout          5
#define OVwTreeLayout          6
#define OVwMultipleConnLayout  7

/* submap types */
#define OVwSharedSubmap        1
#define OVwGraphSubmap         2
#define OVwExplodedSubmap      3

/* ---- records ------------------------------------------------------------ */

typedef struct OVwMapInfo {
    char *map_name;              /* first field: the map's name */
    OVwSubmapId root_submap_id;  /* the map's root submap */
    OVwBoolean is_open;
} OVwMapInfo;

typedef struct OVwObjectInfo {
    OVwObjectId object_id;
    OVwSubmapId child_submap_id; /* second field: the submap the object parents, 0 if none */
    char *selection_name;
    int32_t num_symbols;
} OVwObjectInfo;

typedef struct OVwObjectList {
    int32_t count;
    OVwObjectInfo *objects;      /* each record's first member is the object id */
} OVwObjectList;

typedef struct OVwObjectIdList {
    int32_t count;
    OVwObjectId *object_ids;
} OVwObjectIdList;

typedef struct OVwSymbolInfo {
    OVwSymbolId symbol_id;
    OVwSubmapId submap_id;
    OVwObjectId object_id;
    int32_t status_source;
    int32_t symbol_variety;      /* OVwIconSymbol or OVwConnSymbol */
    OVwBoolean conn_derived;     /* connection flag: set for connections the platform derived */
    int32_t status;
    char *symbol_type;           /* may be null */
    char *label;                 /* may be null */
    OVwSymbolId conn_a;          /* connections: the two end symbols, else 0 */
    OVwSymbolId conn_z;
} OVwSymbolInfo;

typedef struct OVwSymbolList {
    int32_t count;
    OVwSymbolInfo *symbols;
} OVwSymbolList;

typedef struct OVwSubmapInfo {
    OVwSubmapId submap_id;
    OVwObjectId parent_object_id;
    int32_t submap_type;
    int32_t layout;
    char *name;
    char *background;            /* may be null */
} OVwSubmapInfo;

typedef struct OVwSubmapList {
    int32_t count;
    OVwSubmapInfo *submaps;
} OVwSubmapList;

typedef struct OVwFieldValue OVwFieldValue;
struct OVwFieldValue {
    OVwBoolean is_list;
    int32_t field_type;          /* OVwIntegerField ... OVwEnumField; for a list, the element type */
    union {
        int32_t int_val;
        OVwBoolean bool_val;
        char *string_val;
        int32_t enum_val;
        OVwFieldValue *list_val; /* is_list: array of list_count non-list values */
    } un;
    int32_t list_count;          /* is_list: number of elements; otherwise 0 */
};

typedef struct OVwFieldBinding {
    OVwFieldId field_id;
    OVwFieldValue *field_val;
} OVwFieldBinding;

typedef struct OVwFieldBindList {
    int32_t count;
    OVwFieldBinding *fields;
} OVwFieldBindList;

typedef struct OVwPosition {
    int32_t x;
    int32_t y;
} OVwPosition;

/* A registered event handler: (user data given to OVwAddCallback, event code,
 * map record, event data). It runs only inside OVwProcessEvent, after the
 * event was taken from the queue as part of the turn (a turn rolled back
 * delivers it again), and may make any call, OVwDone included. The map record
 * (the map as the event leaves it: open after a map open, closed after a map
 * close) and the event data are the platform's and valid only until the
 * handler returns: copy what is needed, release neither.
 * Event data: map close - const OVwTime* (the close time);
 * symbol deletion - const OVwSymbolList* (the symbols already deleted,
 * connections that ended at them included; only the ids, submap, object,
 * variety and status source are filled); object deletion - const
 * OVwObjectList* (the objects to delete, still on the map); otherwise null. */
typedef void (*OVwCallbackProc)(void *user_data, int event, OVwMapInfo *map, void *event_data);

/* ---- errors ---------------------------------------------------------------- */
/* The code of the last call's failure; OVw_SUCCESS after a success. */
int OVwError(void);
/* A static text for any code (unknown codes share one). */
const char *OVwErrorMsg(int code);
/* The particulars of the last refusal of OVwInit (the database path and
 * what is wrong with it), or of the OVw_MAP_UNUSABLE of OVwPending; empty
 * when it has none. The platform's text, valid until the next OVwInit. */
const char *OVwErrorDetail(void);
/* True for the codes of storage failures that may pass (OVw_DISK_FULL,
 * OVw_IO_ERROR, OVw_MAP_BUSY, OVw_MAP_SERVER_UNREACHABLE). */
int OVwErrorMayPass(int code);

/* Hears of waits for the map database: another program's write lock is
 * waited for as long as it is held (until the process is asked to stop).
 * Called about every quarter second while it waits, with the time waited
 * so far, and once with ended set when the wait is over. Null: nobody. */
typedef void (*OVwWaitProc)(int code, int64_t waited_ms, int ended);
void OVwSetWaitHandler(OVwWaitProc proc);

/* Hears of what the platform tells about the map database that calls for no
 * action by the caller: its log (WAL) held past its bound by another
 * program's open read transaction, once, and once more when that is over.
 * Called inside the call that commits. Null: nobody. */
typedef void (*OVwNoticeProc)(const char *text);
void OVwSetNoticeHandler(OVwNoticeProc proc);

/* ---- connection ------------------------------------------------------------ */
/* Connects: opens the map database (OVW_MAPDB, else the default place; a
 * missing one is made, with the default folder, but a folder named in
 * OVW_MAPDB must exist) and reads its map; arms the faults of OVW_FAULTS the
 * first time. 0, also when already connected (nothing else is done then);
 * -1 with OVw_READ_ONLY_DATABASE ... OVw_MAP_DAMAGED (an existing map
 * that fails PRAGMA quick_check), OVw_MAP_SERVER_REFUSED,
 * OVw_MAP_SERVER_UNREACHABLE (stopped while waiting for a server that does
 * not answer) or OVw_STORAGE_FAILURE, and OVwErrorDetail
 * naming the path and the reason. A database it refuses is not written to;
 * one it made and could not finish (a full disk) is removed. */
int OVwInit(void);
/* Commits the open turn (rolls it back when one of its statements failed for
 * a reason that may pass), closes the map database and forgets the handlers.
 * 0; -1 with OVw_STORAGE_FAILURE when the turn was not committed
 * (disconnected all the same). */
int OVwDone(void);
/* Registers proc for the event code, in place of the handler it had; reserved
 * is not used. 0; -1 with OVw_BAD_ARGUMENT for a null proc. */
int OVwAddCallback(int event, void *reserved, OVwCallbackProc proc, void *user_data);
/* Forgets the handler of the event code. 0; -1 with OVw_NO_SUCH_CALLBACK
 * when it has none. */
int OVwRemoveCallback(int event, void *reserved);
/* Acknowledges a map close; close_time is not used. 0; -1 with
 * OVw_NO_MAP_OPEN for a null record (a closed map is fine). */
int OVwAckMapClose(OVwMapInfo *map, OVwTime close_time);

/* ---- event loop -------------------------------------------------------------- */
/* 0 while connected (events come through the map database, not a
 * descriptor); -1 with OVw_EVENT_CHANNEL_FAILURE when not connected. */
int OVwFileDescriptor(void);
/* Waits until an event may have been posted, for at most timeout_ms (a stop
 * signal ends the wait early). On a map on a database server the server's
 * notice of a posted event ends it at once; a map file gives no notice, so the
 * whole time is waited. 1 when a notice came, else 0; -1 with
 * OVw_NOT_CONNECTED. Call it outside a loop turn (after OVwPending). */
int OVwWaitForEvent(int timeout_ms);
/* Ends the loop turn: commits what it changed, then looks for waiting events.
 * 1 when events wait, else 0; 0 also on failure, so the caller reads
 * OVwError: a code that may pass when the turn was rolled back for it (the
 * caller makes the turn again), OVw_MAP_UNUSABLE (with OVwErrorDetail
 * naming the cause) when the turn was rolled back for a reason that does not
 * pass and the session is closed, OVw_STORAGE_FAILURE when the events could
 * not be read. One stat of the database path per committed write turn tells
 * a moved, replaced or deleted file. */
int OVwPending(void);
/* Drops what the loop turn in hand changed (the calls since the last
 * OVwPending), so that a message that failed part way leaves none of its
 * changes; the next write begins a new turn. A turn that met a storage fault
 * or damage is left as it is, for OVwPending to roll back and report. 0, or
 * -1 with OVw_NOT_CONNECTED. */
int OVwDiscardTurn(void);
/* Takes the oldest waiting event (its removal belongs to the turn) and runs
 * the handler of its code, if there is one; a map open or map close marks the
 * map open or closed first. 0 when it ran a handler, found none or found no
 * event; -1 with OVw_STORAGE_FAILURE, or with OVw_EVENT_CHANNEL_FAILURE when
 * the event's data cannot be read (the event is taken all the same). After a
 * handler the error state is OVw_SUCCESS, whatever its calls left. */
int OVwProcessEvent(void);

/* ---- map ----------------------------------------------------------------------- */
/* A copy of the open map's record; release with OVwFreeMapInfo. Null with
 * OVw_NO_MAP_OPEN when no map is open, or OVw_OUT_OF_MEMORY. */
OVwMapInfo *OVwGetMapInfo(void);
void OVwFreeMapInfo(OVwMapInfo *map);
/* The application's name ("tqdaemon"); release with OVFree. Null on failure. */
char *OVwGetAppName(void);
/* The application's configuration values: an empty list (app_name is not
 * used); release with OVwDbFreeFieldBindList. Null on failure. */
OVwFieldBindList *OVwGetAppConfigValues(OVwMapInfo *map, const char *app_name);
/* Bracket a walk over the map and change nothing. 0, or -1 on failure. */
int OVwBeginMapSync(OVwMapInfo *map);
int OVwEndMapSync(OVwMapInfo *map);
/* Every submap of the map, in id order (app_name, which and flags are not
 * used); release with OVwFreeSubmapList. Null on failure
 * (OVw_STORAGE_FAILURE, OVw_OUT_OF_MEMORY). */
OVwSubmapList *OVwListSubmaps(OVwMapInfo *map, const char *app_name, int which, int flags);
void OVwFreeSubmapList(OVwSubmapList *list);
/* Every symbol on the submap, in id order (which and app_name are not used);
 * release with OVwFreeSymbolList. Null with OVw_NO_SUCH_SUBMAP,
 * OVw_STORAGE_FAILURE or OVw_OUT_OF_MEMORY. */
OVwSymbolList *OVwListSymbols(OVwMapInfo *map, OVwSubmapId submap, int which, const char *app_name);

/* ---- objects --------------------------------------------------------------------- */
/* The id of the object with this selection name; 0 with OVw_NO_SUCH_OBJECT,
 * or OVw_BAD_ARGUMENT for null. */
OVwObjectId OVwDbSelectionNameToObjectId(const char *selection_name);
/* A new object (no values, no symbols) with this selection name; 0 with
 * OVw_DUPLICATE_SELECTION_NAME when an object has it, or OVw_BAD_ARGUMENT for
 * a null or empty name. */
OVwObjectId OVwDbCreateObjectBySelectionName(const char *selection_name);
/* A copy of the object's selection name; release with OVFree. Null with
 * OVw_NO_SUCH_OBJECT or OVw_OUT_OF_MEMORY. */
char *OVwDbObjectIdToSelectionName(OVwObjectId object);
/* Deletes the object with its values, its symbols, the submaps it parents and
 * every symbol on them, and the connections that end at any of these: all or
 * nothing, and no deletion event is posted. 0; -1 with OVw_NO_SUCH_OBJECT. */
int OVwDbDeleteObject(OVwObjectId object);
/* The object's record (child_submap_id: the submap it parents, 0 if none);
 * release with OVwFreeObjectInfo. Null with OVw_NO_SUCH_OBJECT. */
OVwObjectInfo *OVwGetObjectInfo(OVwMapInfo *map, OVwObjectId object);
void OVwFreeObjectInfo(OVwObjectInfo *info);

/* ---- fields ------------------------------------------------------------------------ */
/* The id of the field with this name; 0 with OVw_NO_SUCH_FIELD, or
 * OVw_BAD_ARGUMENT for null. */
OVwFieldId OVwDbFieldNameToFieldId(const char *field_name);
/* A new single-valued field of the type (OVwIntegerField ... OVwEnumField);
 * with OVwFieldLocate its texts are indexed for look-ups. 0 with
 * OVw_DUPLICATE_FIELD when the name is taken, or OVw_BAD_ARGUMENT for a null
 * or empty name or an unknown type. */
OVwFieldId OVwDbCreateField(const char *field_name, int field_type, int flags);
/* Set the object's value of the field (a text is copied; a null text stays
 * null). 0; -1 with OVw_NO_SUCH_FIELD, OVw_FIELD_TYPE_MISMATCH (the field's
 * type or list form differs) or OVw_NO_SUCH_OBJECT; OVwDbSetFieldValue also
 * with OVw_BAD_ARGUMENT for a null value, an unknown type or a list it cannot
 * store. */
int OVwDbSetFieldStringValue(OVwObjectId object, OVwFieldId field, const char *value);
int OVwDbSetFieldIntegerValue(OVwObjectId object, OVwFieldId field, int32_t value);
int OVwDbSetFieldBooleanValue(OVwObjectId object, OVwFieldId field, OVwBoolean value);
int OVwDbSetFieldValue(OVwObjectId object, OVwFieldId field, const OVwFieldValue *value);
/* Removes the object's value of the field (none set is a success). 0; -1 with
 * OVw_NO_SUCH_FIELD or OVw_NO_SUCH_OBJECT. */
int OVwDbUnsetFieldValue(OVwObjectId object, OVwFieldId field);
/* A copy of the object's value of the field; release with
 * OVwDbFreeFieldValue. Null with OVw_FIELD_VALUE_NOT_SET when the object has
 * none, OVw_NO_SUCH_FIELD, OVw_NO_SUCH_OBJECT, or OVw_STORAGE_FAILURE (also
 * when the stored value cannot be read back). */
OVwFieldValue *OVwDbGetFieldValue(OVwObjectId object, OVwFieldId field);
void OVwDbFreeFieldValue(OVwFieldValue *value);
/* The object's boolean value of the field; one not set reads 0 with
 * OVw_SUCCESS. 0 also on failure, so the caller reads OVwError:
 * OVw_NO_SUCH_FIELD, OVw_FIELD_TYPE_MISMATCH, OVw_NO_SUCH_OBJECT. */
OVwBoolean OVwDbGetFieldBooleanValue(OVwObjectId object, OVwFieldId field);
/* Every value the object has, in field id order (an empty list when none);
 * release with OVwDbFreeFieldBindList. Null with OVw_NO_SUCH_OBJECT. */
OVwFieldBindList *OVwDbGetFieldValues(OVwObjectId object);
void OVwDbFreeFieldBindList(OVwFieldBindList *list);
/* The ids of the objects whose value of the binding's field equals its value,
 * ascending (an empty list when none); release with OVwDbFreeObjectIdList.
 * Null with OVw_BAD_ARGUMENT (a null binding or value, or a list),
 * OVw_NO_SUCH_FIELD or OVw_FIELD_TYPE_MISMATCH. */
OVwObjectIdList *OVwDbListObjectsByFieldValue(const OVwFieldBinding *binding);
void OVwDbFreeObjectIdList(OVwObjectIdList *list);

/* ---- symbols ------------------------------------------------------------------------- */
/* Every symbol of the object, in id order (an empty list when none); release
 * with OVwFreeSymbolList. Null only on failure: OVw_NO_SUCH_OBJECT,
 * OVw_STORAGE_FAILURE or OVw_OUT_OF_MEMORY. */
OVwSymbolList *OVwGetSymbolsByObject(OVwMapInfo *map, OVwObjectId object);
void OVwFreeSymbolList(OVwSymbolList *list);
/* A new icon symbol of the object on the submap (texts copied, may be null;
 * position null: none). Its id; 0 with OVw_NO_SUCH_SUBMAP or
 * OVw_NO_SUCH_OBJECT. */
OVwSymbolId OVwCreateSymbol(OVwMapInfo *map, OVwSubmapId submap, OVwObjectId object,
                            const char *symbol_type, const char *label, int status,
                            int status_source, const OVwPosition *position, int flags);
/* A new connection symbol of the object between two symbols of one submap,
 * drawn there (flags is not used: it is never conn_derived). Its id; 0 with
 * OVw_NO_SUCH_OBJECT, OVw_NO_SUCH_SYMBOL (an end), or OVw_BAD_ARGUMENT when
 * the ends lie on two submaps. */
OVwSymbolId OVwCreateConnSymbol(OVwMapInfo *map, OVwObjectId object, OVwSymbolId end_a,
                                OVwSymbolId end_z, const char *symbol_type, const char *label,
                                int status, int status_source, int flags);
/* Change one symbol (a null text clears it; OVwSetSymbolType's flags are not
 * used). 0; -1 with OVw_NO_SUCH_SYMBOL. */
int OVwSetStatusOnSymbol(OVwMapInfo *map, OVwSymbolId symbol, int status);
int OVwSetSymbolType(OVwMapInfo *map, OVwSymbolId symbol, const char *symbol_type, int flags);
int OVwSetSymbolLabel(OVwMapInfo *map, OVwSymbolId symbol, const char *label);
/* Deletes the symbol and every connection that ends at it (and so on), all or
 * nothing; no deletion event is posted. 0; -1 with OVw_NO_SUCH_SYMBOL. */
int OVwDeleteSymbol(OVwMapInfo *map, OVwSymbolId symbol);

/* ---- submaps ----------------------------------------------------------------------------- */
/* The submap the object parents: a new one, or the one it has already, which
 * takes this call's type, name and layout and keeps its contents (reserved
 * and flags are not used). Its id; 0 with OVw_NO_SUCH_OBJECT. */
OVwSubmapId OVwCreateSubmap(OVwMapInfo *map, OVwObjectId parent_object, int submap_type,
                            int reserved, const char *name, int layout, int flags);
/* Sets the submap's background (copied; null clears it). 0; -1 with
 * OVw_NO_SUCH_SUBMAP. */
int OVwSetBackgroundGraphic(OVwMapInfo *map, OVwSubmapId submap, const char *graphic);
/* The submap's record; release with OVwFreeSubmapInfo. Null with
 * OVw_NO_SUCH_SUBMAP. */
OVwSubmapInfo *OVwGetSubmapInfo(OVwMapInfo *map, OVwSubmapId submap);
void OVwFreeSubmapInfo(OVwSubmapInfo *info);

/* ---- monitoring ------------------------------------------------------------------------------ */
/* The status a symbol shows: its stored status, or for a symbol of
 * OVwRollUpStatusSource the most severe status on its object's child submaps,
 * recursively. Negative on failure. */
int OVwGetEffectiveStatus(OVwMapInfo *map, OVwSymbolId symbol);

/* The daemon's run counters, stored in the map database for monitoring tools. */
typedef struct OVwRunCounters {
    int64_t started;            /* seconds since 1970 */
    int64_t frames_read;
    int64_t applied;
    int64_t refused;
    int64_t failed;
    int64_t skipped;
    int64_t events_handled;
} OVwRunCounters;

/* Keeps the counters; they are written at most once a second (at once when
 * force is non-zero) and when the session ends. 0, or -1 on failure. */
int OVwSetRunCounters(const OVwRunCounters *counters, OVwBoolean force);
/* After OVwInit: 1 when the map's run counters say the previous daemon on
 * it never ended (killed, or the machine stopped), with the counters it last
 * stored copied to *last; else 0. Not an error either way. */
int OVwPreviousRunUnended(OVwRunCounters *last);

/* ---- memory ---------------------------------------------------------------------------------- */
/* Releases a text the platform returned (OVwGetAppName,
 * OVwDbObjectIdToSelectionName); null allowed. */
void OVFree(void *p);

#ifdef __cplusplus
}
#endif

#endif
