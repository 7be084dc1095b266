// tqmap: reads a map database of the embedded map platform (read-only, with
// SQLite directly) and shows it as a tree, as Graphviz DOT or as a picture.
#ifndef TQ_TOOLS_TQMAP_H
#define TQ_TOOLS_TQMAP_H

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
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

    void index();
    const Object *object(int id) const;
    const Symbol *symbol(int id) const;
    // True when the object parents a submap: a graph.
    bool isGraphObject(int objectId) const;
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
    bool load(MapModel &model, std::string &error);

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
std::string layoutName(int layout);
// The value as text: strings quoted, booleans true/false, lists bracketed.
std::string formatValue(const FieldValue &v);

struct TreeOptions {
    bool fields = false;
};
std::string renderTree(const MapModel &m, const TreeOptions &opt);
std::string renderDot(const MapModel &m);

// Shape and colours used in the DOT view (exposed for tests of the mapping).
std::string shapeForSymbolType(const std::optional<std::string> &symbolType);
std::string fillColourForStatus(int status);

// Renders DOT text with Graphviz into a file of the given format ("svg",
// "png"). Returns false with Graphviz's message in `error`.
bool renderImage(const std::string &dot, const std::string &format, const std::string &file, std::string &error);

}  // namespace tqmap

#endif
