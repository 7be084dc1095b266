// The map view library: the map as read through mapdb/read.h with its
// look-ups, and its views as a tree, as Graphviz DOT or as a picture.
#ifndef TQ_TOOLS_TQMAP_H
#define TQ_TOOLS_TQMAP_H

#include "mapdb/read.h"

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

using mapdb::Change;
using mapdb::FieldInfo;
using mapdb::FieldValue;
using mapdb::Object;
using mapdb::RunCounters;
using mapdb::Submap;
using mapdb::Symbol;
using mapdb::statusName;
// A read-only connection to a map database (mapdb/read.h).
using MapDatabase = mapdb::MapReader;

// The map with the look-ups the views use.
struct MapModel : mapdb::MapRows {
    // Derived look-ups, filled by index().
    std::map<int, std::vector<int>> symbolsOnSubmap;   // submap -> symbol ids, ascending
    std::map<int, std::vector<int>> submapsOfObject;   // object -> child submap ids
    std::map<int, std::vector<int>> symbolsOfObject;   // object -> symbol ids
    std::unordered_map<int, int> effective;            // symbol -> effective status (roll-up)
    std::unordered_map<int, std::vector<int>> connectionsAt;   // symbol -> connections ending at it
    // Set by index(): this model's own number, never given to another in
    // this process, so what is worked out from a model can be kept by it.
    uint64_t serial = 0;

    void index();
    const Object *object(int id) const;
    const Symbol *symbol(int id) const;
    // The status the symbol shows: its own, or the roll-up of a compound symbol.
    int effectiveStatus(const Symbol &s) const;
    // True when the object parents a submap: a graph.
    bool isGraphObject(int objectId) const;
};

// Reads the whole map and indexes it; without values the objects carry no
// field values (the web view reads them per object).
bool loadModel(MapDatabase &db, MapModel &m, std::string &error, bool withValues = true);

// ---- views ------------------------------------------------------------------------

// A DOT/C-style quoted text.
std::string quoted(const std::string &s);
// The object part of a selection name ("proto;name;map" -> "name").
std::string objectNamePart(const std::string &selection);
// What to call a symbol: a connection by its ends and label ("array2 - sw2
// (32G)"), any other by its label, else its object's name.
std::string displayName(const MapModel &m, const Symbol &s);
// True for the object of a link (its symbols are connections).
bool isLinkObject(const MapModel &m, int objectId);
// What to call an object: a link as its connection is called, any other by
// the name part of its selection name (a link's names its first end only).
std::string objectName(const MapModel &m, int objectId);
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
// grid: the grid placement even where the ranked layout would be used.
std::string renderSubmapDot(const MapModel &m, int submap, bool web, bool grid = false);

// Symbol id -> centre (points, origin at the bottom left, y up).
using SymbolCentres = std::map<int, std::pair<double, double>>;
// Where the grid placement of renderSubmapDot puts each icon symbol of the
// submap (the same for every submap of as many icons), without Graphviz.
SymbolCentres gridPositions(const MapModel &m, int submap);

// Shape and colours used in the DOT view (exposed for tests of the mapping).
std::string shapeForSymbolType(const std::optional<std::string> &symbolType);
std::string fillColourForStatus(int status);

// The colours a status is drawn in, in the pictures and the web view alike.
struct StatusColours {
    const char *fill;
    const char *line;
};
StatusColours statusColours(int status);
// The statuses in the order the legends list them.
const std::vector<int> &legendOrder();

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
// Lays out DOT text without drawing it: the centre of every node by name,
// as renderSvg gives them.
bool layoutNodes(const std::string &dot, const char *engine,
                 std::map<std::string, std::pair<double, double>> &positions, std::string &error);
// renderSvg in a child process given at most `budgetMs` milliseconds (a
// Graphviz layout cannot be interrupted): past the budget, or with none
// (<= 0), false with `timedOut` set and the child ended; false with
// Graphviz's message in `error` on a failure. The child is this program run
// anew as `PROGRAM --layout-worker ENGINE` with the DOT text on its standard
// input: its main must hand that form to layoutWorkerMain.
bool renderSvgWithin(const std::string &dot, const char *engine, int budgetMs, std::string &svg,
                     std::map<std::string, std::pair<double, double>> &positions, std::string &error,
                     bool &timedOut);
// The first argument that makes a program the layout child of
// renderSvgWithin, and that child's whole work: reads DOT text on standard
// input, writes the answer on standard output; the program's exit code.
constexpr const char *kLayoutWorkerFlag = "--layout-worker";
int layoutWorkerMain(const char *engine);

// ---- find, show and the JSON forms (search.cpp, json.cpp) -----------------------------

struct SearchHit {
    int object = 0;
    std::string matched;     // "label", "name" or the field that holds the text
};
// Objects whose symbol labels, selection name or field values (unique ids
// among them) hold the text, case-insensitive; by object id.
bool searchMap(MapDatabase &db, const MapModel &m, const std::string &text, std::vector<SearchHit> &hits,
               std::string &error);
// The object an operator names: "#N" (a symbol, as the tree shows it), an
// object id, a symbol id, a selection name,
// the name part of one, or a label (case-insensitive). Every candidate when
// the name is ambiguous; none when nothing matches.
std::vector<int> resolveObject(const MapModel &m, const std::string &idOrName);
// Milliseconds since 1970, as the history of changes counts them.
int64_t nowMs();
// The submaps from the root down to this one (the root first).
std::vector<int> submapPath(const MapModel &m, int submap);
// The title of a submap: "root submap", else its parent object's name.
std::string submapTitle(const MapModel &m, int submap);

}  // namespace tqmap

#endif
