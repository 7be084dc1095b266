// tqmap: reads a map database of the embedded map platform (read-only, with
// SQLite directly) and shows it as a tree, as Graphviz DOT or as a picture.
#ifndef TQ_TOOLS_TQMAP_H
#define TQ_TOOLS_TQMAP_H

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace tqmap {

// Exit codes of every command.
constexpr int kExitOk = 0;        // done (objects: something found)
constexpr int kExitFailed = 1;    // the request was valid but failed or found nothing
constexpr int kExitUsage = 2;     // usage error, database missing or unusable, unknown field

// ---- the map, as read from the database --------------------------------------

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
    std::optional<std::string> textValue;   // a list: a JSON array of strings
};

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

    bool isConnection() const { return variety == 2; }
};

struct MapModel {
    std::string mapName;
    int rootSubmap = 0;
    bool isOpen = false;
    std::map<int, FieldInfo> fields;
    std::map<int, Object> objects;
    std::map<int, Submap> submaps;
    std::map<int, Symbol> symbols;

    // Derived look-ups, filled by index().
    std::map<int, std::vector<int>> symbolsOnSubmap;   // submap -> symbol ids, ascending
    std::map<int, std::vector<int>> submapsOfObject;   // object -> child submap ids
    std::map<int, std::vector<int>> symbolsOfObject;   // object -> symbol ids
    std::unordered_map<int, int> effective;            // symbol -> effective status (roll-up)
    std::unordered_map<int, std::vector<int>> connectionsAt;   // symbol -> connections ending at it

    void index();
    const Object *object(int id) const;
    const Symbol *symbol(int id) const;
    // The status the symbol shows: its own, or the roll-up of a compound symbol.
    int effectiveStatus(const Symbol &s) const;
    // True when the object parents a submap: a graph.
    bool isGraphObject(int objectId) const;
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

struct RunCounters {
    int64_t started = 0, updated = 0, ended = 0;
    int64_t framesRead = 0, applied = 0, refused = 0, failed = 0, skipped = 0, eventsHandled = 0;
};

// ---- the database ---------------------------------------------------------------

// A read-only connection to a map database. Never creates a file.
class MapDatabase {
public:
    MapDatabase() = default;
    ~MapDatabase();
    MapDatabase(const MapDatabase &) = delete;
    MapDatabase &operator=(const MapDatabase &) = delete;

    // Opens the file read-only and checks that it holds a map database.
    bool open(const std::string &path, std::string &error);
    // Reads the whole map; without values the objects carry no field values
    // (the web view reads them per object).
    bool load(MapModel &model, std::string &error, bool withValues = true);
    // One object's field values.
    bool loadObjectValues(Object &o, std::string &error);
    // Objects whose text or number value holds `needle` (case-insensitive),
    // with the name of the first such field.
    bool searchValues(const std::string &needle, std::map<int, std::string> &hits, std::string &error);
    // The history of changes since a time (milliseconds since 1970), newest
    // first, at most `limit` rows; empty on a map made before the history.
    bool loadChanges(int64_t sinceMs, int limit, std::vector<Change> &out, std::string &error);
    // The daemon's run counters; false in `found` on a map without them.
    bool loadRunCounters(RunCounters &out, bool &found, std::string &error);
    // Changes when another connection commits (SQLite's data version).
    int64_t dataVersion();
    sqlite3 *handle() const { return db_; }

    // Objects whose field `fieldName` holds `value` (a string equal to it, an
    // integer, boolean or enumeration that parses to it, or a list holding it).
    // Returns false with an error for an unknown field or an unparsable value.
    bool findObjects(const std::string &fieldName, const std::string &value, std::vector<Object> &out,
                     std::string &error);
    // Field definitions by id.
    bool loadFields(std::map<int, FieldInfo> &fields, std::string &error);

private:
    bool loadValues(std::map<int, Object> &objects, const std::vector<int> *only, std::string &error);
    sqlite3 *db_ = nullptr;
};

// The database path: OVW_MAPDB, else <root>/usr/ov/databases/tqmap.db.
std::string defaultDatabasePath();

// ---- views ------------------------------------------------------------------------

std::string statusName(int status);
// A DOT/C-style quoted text.
std::string quoted(const std::string &s);
// The object part of a selection name ("proto;name;map" -> "name").
std::string objectNamePart(const std::string &selection);
// What to call a symbol: its label, else its object's name.
std::string displayName(const MapModel &m, const Symbol &s);
// The object's selection name, or a note that it is missing.
std::string selectionOf(const MapModel &m, int objectId);
std::string layoutName(int layout);
// The value as text: strings quoted, booleans true/false, lists bracketed.
std::string formatValue(const FieldValue &v);

struct TreeOptions {
    bool fields = false;
};
std::string renderTree(const MapModel &m, const TreeOptions &opt);
std::string renderDot(const MapModel &m);
// The whole map, or when it holds more than maxSymbols symbols its top levels
// only, with a note on what was left out and how to draw it.
std::string renderDot(const MapModel &m, size_t maxSymbols, std::string &note);
// One submap: its symbols and the connections between them. web: nodes and
// edges carry ids ("s<symbol>") and classes ("sym st<status>", "graph"),
// graphs link to their submap page, and the legend is left to the page.
std::string renderSubmapDot(const MapModel &m, int submap, bool web);

// Shape and colours used in the DOT view (exposed for tests of the mapping).
std::string shapeForSymbolType(const std::optional<std::string> &symbolType);
std::string fillColourForStatus(int status);

// Renders DOT text with Graphviz into a file of the given format ("svg",
// "png"). Returns false with Graphviz's message in `error`.
bool renderImage(const std::string &dot, const std::string &format, const std::string &file, std::string &error,
                 const char *engine = "dot");
// The Graphviz layout of a submap's drawing: "dot" (ranked, tidy) up to 150
// icon symbols; beyond, where dot takes minutes, "nop": renderSubmapDot then
// places the symbols on a grid itself and Graphviz draws the lines.
const char *submapLayoutEngine(const MapModel &m, int submap);
// Lays out and renders DOT text as SVG in memory, with the centre of every
// node by name (points, origin at the bottom left).
bool renderSvg(const std::string &dot, const char *engine, std::string &svg,
               std::map<std::string, std::pair<double, double>> &positions, std::string &error);

// ---- find, show and the JSON forms (search.cpp, json.cpp) -----------------------------

struct SearchHit {
    int object = 0;
    std::string matched;     // "label", "name" or the field that holds the text
};
// Objects whose symbol labels, selection name or field values (unique ids
// among them) hold the text, case-insensitive; by object id.
bool searchMap(MapDatabase &db, const MapModel &m, const std::string &text, std::vector<SearchHit> &hits,
               std::string &error);
// The object an operator names: an object id, a symbol id, a selection name,
// the name part of one, or a label (case-insensitive). Every candidate when
// the name is ambiguous; none when nothing matches.
std::vector<int> resolveObject(const MapModel &m, const std::string &idOrName);
// The submaps from the root down to this one (the root first).
std::vector<int> submapPath(const MapModel &m, int submap);
// The title of a submap: "root submap", else its parent object's name.
std::string submapTitle(const MapModel &m, int submap);

}  // namespace tqmap

#endif
