/*
 * The map platform's application API, as the daemon uses it.
 *
 * Every record a call returns is allocated by the platform and goes back
 * through the matching release call. Ids are 32-bit; 0 means "none".
 * Every call that can fail sets the platform error state (OVwError): 0 when
 * it succeeds, one of the codes below when it fails. Release calls leave the
 * error state as it is.
 */
#ifndef TQ_PLATFORM_OVW_H
#define TQ_PLATFORM_OVW_H

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

/* status sources */
#define OVwSymbolStatusSource  1
#define OVwObjectStatusSource  2
#define OVwCompoundStatusSource 3

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

/* A registered event handler: (user data, event code, map record, event data).
 * Event data: map close - const OVwTime* (the close time);
 * symbol deletion - const OVwSymbolList*; object deletion - const OVwObjectList*;
 * otherwise null. */
typedef void (*OVwCallbackProc)(void *user_data, int event, OVwMapInfo *map, void *event_data);

/* ---- errors ---------------------------------------------------------------- */
int OVwError(void);
const char *OVwErrorMsg(int code);
/* The particulars of the last refusal of OVwInit (the database path and
 * what is wrong with it); empty when it has none. */
const char *OVwErrorDetail(void);
/* True for the codes of storage failures that may pass (OVw_DISK_FULL,
 * OVw_IO_ERROR, OVw_MAP_BUSY). */
int OVwErrorMayPass(int code);

/* Hears of waits for the map database: another program's write lock is
 * waited for as long as it is held (until the process is asked to stop).
 * Called about every quarter second while it waits, with the time waited
 * so far, and once with ended set when the wait is over. Null: nobody. */
typedef void (*OVwWaitProc)(int code, int64_t waited_ms, int ended);
void OVwSetWaitHandler(OVwWaitProc proc);

/* ---- connection ------------------------------------------------------------ */
int OVwInit(void);                          /* 0, or -1 on failure */
int OVwDone(void);                          /* commits and disconnects */
int OVwAddCallback(int event, void *reserved, OVwCallbackProc proc, void *user_data);
int OVwRemoveCallback(int event, void *reserved);
int OVwAckMapClose(OVwMapInfo *map, OVwTime close_time);

/* ---- event loop -------------------------------------------------------------- */
int OVwFileDescriptor(void);                /* negative: the event channel failed */
int OVwPending(void);                       /* commits the open transaction; non-zero when events wait */
int OVwProcessEvent(void);                  /* runs the handler of one event; negative on error */

/* ---- map ----------------------------------------------------------------------- */
OVwMapInfo *OVwGetMapInfo(void);            /* null when no map is open */
void OVwFreeMapInfo(OVwMapInfo *map);
char *OVwGetAppName(void);                  /* release with OVFree */
OVwFieldBindList *OVwGetAppConfigValues(OVwMapInfo *map, const char *app_name);
int OVwBeginMapSync(OVwMapInfo *map);
int OVwEndMapSync(OVwMapInfo *map);
OVwSubmapList *OVwListSubmaps(OVwMapInfo *map, const char *app_name, int which, int flags);
void OVwFreeSubmapList(OVwSubmapList *list);
OVwSymbolList *OVwListSymbols(OVwMapInfo *map, OVwSubmapId submap, int which, const char *app_name);

/* ---- objects --------------------------------------------------------------------- */
OVwObjectId OVwDbSelectionNameToObjectId(const char *selection_name);
OVwObjectId OVwDbCreateObjectBySelectionName(const char *selection_name);
char *OVwDbObjectIdToSelectionName(OVwObjectId object);   /* release with OVFree */
int OVwDbDeleteObject(OVwObjectId object);                /* -1 on failure */
OVwObjectInfo *OVwGetObjectInfo(OVwMapInfo *map, OVwObjectId object);
void OVwFreeObjectInfo(OVwObjectInfo *info);

/* ---- fields ------------------------------------------------------------------------ */
OVwFieldId OVwDbFieldNameToFieldId(const char *field_name);  /* 0 with OVw_NO_SUCH_FIELD */
OVwFieldId OVwDbCreateField(const char *field_name, int field_type, int flags);
int OVwDbSetFieldStringValue(OVwObjectId object, OVwFieldId field, const char *value);
int OVwDbSetFieldIntegerValue(OVwObjectId object, OVwFieldId field, int32_t value);
int OVwDbSetFieldBooleanValue(OVwObjectId object, OVwFieldId field, OVwBoolean value);
int OVwDbSetFieldValue(OVwObjectId object, OVwFieldId field, const OVwFieldValue *value);
int OVwDbUnsetFieldValue(OVwObjectId object, OVwFieldId field);
OVwFieldValue *OVwDbGetFieldValue(OVwObjectId object, OVwFieldId field);  /* null: none */
void OVwDbFreeFieldValue(OVwFieldValue *value);
OVwBoolean OVwDbGetFieldBooleanValue(OVwObjectId object, OVwFieldId field);
OVwFieldBindList *OVwDbGetFieldValues(OVwObjectId object);
void OVwDbFreeFieldBindList(OVwFieldBindList *list);
OVwObjectIdList *OVwDbListObjectsByFieldValue(const OVwFieldBinding *binding);
void OVwDbFreeObjectIdList(OVwObjectIdList *list);

/* ---- symbols ------------------------------------------------------------------------- */
OVwSymbolList *OVwGetSymbolsByObject(OVwMapInfo *map, OVwObjectId object);  /* null only on failure */
void OVwFreeSymbolList(OVwSymbolList *list);                                 /* null allowed */
OVwSymbolId OVwCreateSymbol(OVwMapInfo *map, OVwSubmapId submap, OVwObjectId object,
                            const char *symbol_type, const char *label, int status,
                            int status_source, const OVwPosition *position, int flags);
OVwSymbolId OVwCreateConnSymbol(OVwMapInfo *map, OVwObjectId object, OVwSymbolId end_a,
                                OVwSymbolId end_z, const char *symbol_type, const char *label,
                                int status, int status_source, int flags);
int OVwSetStatusOnSymbol(OVwMapInfo *map, OVwSymbolId symbol, int status);      /* non-zero: failure */
int OVwSetSymbolType(OVwMapInfo *map, OVwSymbolId symbol, const char *symbol_type, int flags); /* negative: failure */
int OVwSetSymbolLabel(OVwMapInfo *map, OVwSymbolId symbol, const char *label);  /* negative: failure */
int OVwDeleteSymbol(OVwMapInfo *map, OVwSymbolId symbol);                        /* negative: failure */

/* ---- submaps ----------------------------------------------------------------------------- */
OVwSubmapId OVwCreateSubmap(OVwMapInfo *map, OVwObjectId parent_object, int submap_type,
                            int reserved, const char *name, int layout, int flags);  /* 0: failure */
int OVwSetBackgroundGraphic(OVwMapInfo *map, OVwSubmapId submap, const char *graphic); /* negative: failure */
OVwSubmapInfo *OVwGetSubmapInfo(OVwMapInfo *map, OVwSubmapId submap);
void OVwFreeSubmapInfo(OVwSubmapInfo *info);

/* ---- monitoring ------------------------------------------------------------------------------ */
/* The status a symbol shows: its stored status, or for a symbol of the compound
 * status source (2) the most severe status on its object's child submaps,
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

/* ---- memory ---------------------------------------------------------------------------------- */
void OVFree(void *p);

#ifdef __cplusplus
}
#endif

#endif
