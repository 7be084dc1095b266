// The read side of a map database, for the tools that look at a map while
// the daemon writes it: a read-only connection that never creates a file,
// the rows of the map, its objects, submaps, symbols and field values, the
// status vocabulary and its roll-up, the history of changes, the daemon's run
// counters, and posting an operator event. No SQL leaves mapdb/.
//
// Threads: a MapReader is used by one thread at a time; separate readers of
// the same file may be used at once (each has its own connection). The free
// functions keep no state.
//
// Errors: calls that can fail return false with a message in `error`, texts
// meant for an operator ("no map database at PATH", "the database holds no
// map", ...).
#ifndef TQ_MAPDB_READ_H
#define TQ_MAPDB_READ_H

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

struct sqlite3;

namespace mapdb {

class Engine;

// ---- statuses and their roll-up ------------------------------------------------

// One status of the platform: its value, its name, and its rank (higher is
// more severe). Unmanaged and unknown say nothing about health and rank below
// every health status.
struct StatusInfo {
    int value;
    const char *name;
    int severity;
};
// Every status, by value (0 unknown .. 7 warning).
const std::vector<StatusInfo> &statuses();
// The status's name; "status N" for a value outside the platform's statuses.
std::string statusName(int status);
// The rank of a status; a value outside the platform's statuses ranks -1 and
// never wins a roll-up.
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

// ---- the rows ---------------------------------------------------------------------

struct FieldInfo {
    int id = 0;
    std::string name;
    int type = 0;                 // 1 integer, 2 boolean, 3 string, 4 enumeration
};

struct FieldValue {
    int field = 0;
    int type = 0;
    bool isList = false;
    std::optional<int64_t> intValue;
    std::optional<std::string> textValue;   // a list: its stored JSON array
};

// One element of a stored list.
struct ListElement {
    bool isNull = false;
    bool isString = false;
    std::string text;
    int64_t number = 0;
};
// The elements of a stored list, texts byte for byte as stored (they may not
// be UTF-8); false when the text is not a list.
bool readList(const std::string &stored, std::vector<ListElement> &out);

struct Object {
    int id = 0;
    std::string selectionName;
    std::vector<FieldValue> values;          // ordered by field id
};

struct Submap {
    int id = 0;
    int parentObject = 0;
    int type = 0;
    std::string name;
    int layout = 0;
    std::optional<std::string> background;
};

struct Symbol {
    int id = 0;
    int submap = 0;
    int object = 0;
    int variety = 0;                         // 2: connection
    std::optional<std::string> symbolType;
    std::optional<std::string> label;
    int status = 0;                          // the platform's status value
    int statusSource = 0;
    int flags = 0;
    int connA = 0;
    int connZ = 0;
    std::optional<int> posX, posY;           // where the symbol was placed, if it was

    bool isConnection() const { return variety == 2; }
};

// The whole map as stored.
struct MapRows {
    std::string mapName;
    int rootSubmap = 0;
    bool isOpen = false;
    std::map<int, FieldInfo> fields;
    std::map<int, Object> objects;
    std::map<int, Submap> submaps;
    std::map<int, Symbol> symbols;
};

// One row of the history of changes.
struct Change {
    int64_t id = 0;
    int64_t timeMs = 0;
    std::string kind;        // created, deleted, status, label, type, object deleted
    int object = 0;
    int symbol = 0;
    int submap = 0;
    std::optional<std::string> oldValue, newValue;
};

// How far back the history can rebuild the map: from `completeSinceMs` on
// (milliseconds since 1970) it holds every change. `kept` is false on a map
// whose history cannot rebuild it (made or last opened by an older daemon
// than the one that keeps it whole).
struct HistoryWindow {
    bool kept = false;
    int64_t completeSinceMs = 0;
    int64_t rows = 0;          // rows the history holds now
    int64_t maxRows = 0;       // the rows it keeps at most (then the oldest go)
};

// One history row as undoing it needs it: the row's columns and its `was`
// array taken apart (see the history's schema in operator.cpp).
struct UndoRow {
    std::string kind;
    int object = 0, symbol = 0, submap = 0;
    std::optional<std::string> oldValue;
    std::optional<int64_t> was[9];
    // The text in the array: a deleted symbol's type, a submap's background.
    std::optional<std::string> wasText;

    // Rows of a symbol (created, deleted, status, label, type, position),
    // of an object (object created/deleted) or of a submap (submap ...).
    bool ofSymbol() const;
    bool ofObject() const;
    bool ofSubmap() const;
};

// What turns the map now into the map as it was at a time: the history rows
// after that time, newest first (MapReader::readUndo).
struct Undo {
    std::vector<UndoRow> rows;

    // Undoes every row on `m`, newest first.
    void apply(MapRows &m) const;
    // Undoes, newest first, the rows of the symbols whose submap is in
    // `submaps` or whose object is in `symbolObjects`, and the rows of the
    // objects in `objects`; every submap row when `withSubmaps`. A symbol's
    // submap and object never change, so rows of the same symbol are all
    // taken or all left: on rows holding just those symbols and objects the
    // result equals the whole map's undoing, cut to them.
    void apply(MapRows &m, const std::set<int> &submaps, const std::set<int> &symbolObjects,
               const std::set<int> &objects, bool withSubmaps) const;
};

struct RunCounters {
    int64_t started = 0, updated = 0, ended = 0;
    int64_t framesRead = 0, applied = 0, refused = 0, failed = 0, skipped = 0, eventsHandled = 0;
};

// ---- the reader -------------------------------------------------------------------

// A read-only connection to a map database: a file, or a map on a database
// server (a postgresql:// or postgres:// URI). Never creates a file, takes no
// lock, and creates or changes no table.
class MapReader {
public:
    MapReader() = default;
    ~MapReader();
    MapReader(const MapReader &) = delete;
    MapReader &operator=(const MapReader &) = delete;

    // Opens the file (or the server's map) read-only and checks that it holds
    // a map database.
    bool open(const std::string &path, std::string &error);
    // Reads the whole map in one read transaction; without values the objects
    // carry no field values (they are then read per object).
    bool readMap(MapRows &rows, std::string &error, bool withValues = true);
    // One object's field values.
    bool readObjectValues(Object &o, std::string &error);
    // Field definitions by id.
    bool readFields(std::map<int, FieldInfo> &fields, std::string &error);
    // Objects whose field `fieldName` holds `value` (a string equal to it, an
    // integer, boolean or enumeration that parses to it, or a list holding it),
    // with their values. False with an error for an unknown field or an
    // unparsable value.
    bool findObjects(const std::string &fieldName, const std::string &value, std::vector<Object> &out,
                     std::string &error);
    // Objects whose text or number value holds `needle` (case-insensitive),
    // with the name of the first such field.
    bool searchValues(const std::string &needle, std::map<int, std::string> &hits, std::string &error);
    // The history of changes since a time (milliseconds since 1970), newest
    // first, at most `limit` rows, of the kinds Change names (the rows kept
    // only to rebuild past maps are left out); empty on a map made before
    // the history.
    bool readChanges(int64_t sinceMs, int limit, std::vector<Change> &out, std::string &error);
    // The newest status change of the object's symbols; none in `out` when
    // the history holds none (or on a map made before the history).
    bool lastStatusChange(int object, std::optional<Change> &out, std::string &error);
    // Symbols whose status changed since a time (milliseconds since 1970);
    // empty on a map made before the history.
    std::set<int> statusChangedSince(int64_t sinceMs);
    // How far back the history reaches.
    bool readHistoryWindow(HistoryWindow &out, std::string &error);
    // Turns rows read from this map at or after `atMs` into the map as it
    // was at atMs (milliseconds since 1970): every change the history holds
    // after that time is undone, newest first. Objects and symbols gone since
    // come back with their ids; an object that came back carries no field
    // values (the history keeps none), the others keep theirs as read.
    // False with an operator's message for a time before the history's
    // window or on a map without one, or when the history cannot be read;
    // the rows are then untouched.
    bool rewind(MapRows &rows, int64_t atMs, std::string &error);
    // The rows rewind undoes, to undo on rows of part of the map; false as
    // rewind is.
    bool readUndo(int64_t atMs, Undo &out, std::string &error);
    // The daemon's run counters; false in `found` on a map without them.
    bool readRunCounters(RunCounters &out, bool &found, std::string &error);
    // Changes when another connection commits; -1 when the database cannot
    // be read. On a server it is the server's log position: it also moves
    // for writes to other maps there (a refresh too many, never one missed).
    int64_t dataVersion();
    // Waits up to `timeoutMs` for another connection to commit a change to
    // the map. A map on a primary server ends the wait at once through the
    // server's notice of the commit; a file, a standby (which gets no
    // notices) or a server map of an earlier version is looked at again
    // (dataVersion) when the time is up. 1 when the map changed since the
    // last call (or the open), 0 when not, -1 when it cannot be read (a lost
    // server connection is made again at the next call, which then says 1:
    // what was committed meanwhile gave no notice).
    int waitForChange(int timeoutMs);

private:
    bool readValues(std::map<int, Object> &objects, const std::vector<int> *only, std::string &error);
    // One of the two: a file's SQLite connection, or a server engine's.
    struct Connection {
        sqlite3 *lite = nullptr;
        std::unique_ptr<Engine> server;
        Connection();
        ~Connection();
        void close();
    };
    Connection db_;
    // waitForChange's: the version seen last (its look), and whether the
    // server's notices are listened to (decided at the first wait).
    int64_t seen_ = 0;
    enum class Watch { Undecided, Look, Notices } watch_ = Watch::Undecided;
};

// A time (milliseconds since 1970) as ISO 8601 UTC: 2026-01-31T12:00:00.000Z.
std::string utcTime(int64_t ms);

// The map database's path, as the daemon maps it: OVW_MAPDB, else
// <root>/usr/ov/databases/tqmap.db. A server's URI in OVW_MAPDB is kept as
// it is.
std::string defaultMapPath();

// True when a map location names a map on a database server (a
// postgresql:// or postgres:// URI) rather than a file.
bool isServerMap(const std::string &location);

// Posts an event into a map database file (or a server's map), as an operator's action elsewhere
// would: the connected daemon sees it through its next OVwPending. For
// OVwEventDeleteSymbols the symbols are deleted first (with their
// connections). Never creates a database. False with a message in `error`.
bool postOperatorEvent(const std::string &dbPath, int code, const std::vector<int> &ids, std::string &error);

}  // namespace mapdb

#endif
