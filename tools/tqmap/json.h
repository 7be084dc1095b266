// The map's records as JSON, shared by the --json output and the web API.
#ifndef TQ_TOOLS_TQMAP_JSON_H
#define TQ_TOOLS_TQMAP_JSON_H

#include "tools/tqmap/tqmap.h"

#include <nlohmann/json.hpp>

namespace tqmap {

using Json = nlohmann::ordered_json;

// The JSON text of a value, for the web API and the command line alike. Texts
// of the map are kept as the stream sent them and may not be UTF-8: each byte
// that is not part of a valid UTF-8 sequence is written as U+FFFD. indent -1:
// one line.
std::string jsonText(const Json &j, int indent = -1);

// A field value: numbers, booleans and texts as themselves, lists as arrays.
Json valueJson(const FieldValue &v);
// A symbol: id, kind (graph, vertex, connection), label, name, stored and
// effective status (number and name), type, object, submap; a graph's child
// submaps; a connection's ends.
Json symbolJson(const MapModel &m, const Symbol &s);
// An object: id, selection name, fields (by name; when loaded), its symbols,
// the submaps it appears on, and the connections at its symbols.
Json objectJson(const MapModel &m, const Object &o);
// A submap: id, title, the path from the root, its symbols and connections.
Json submapJson(const MapModel &m, int submap);
// The whole map: name, root, counts, and every submap with its symbols.
Json mapJson(const MapModel &m);
Json changeJson(const MapModel &m, const Change &c);
// Why an object shows its status: "state", the text of its "State" field
// (set by the common properties; null without one), "lastChange", the newest
// status change of its symbols (null when the history holds none), and
// "ageSeconds" since that change at `nowMs`.
Json statusReasonJson(const MapModel &m, const Object &o, const std::optional<Change> &last, int64_t nowMs);
// Symbols whose effective status is not normal, at least `minSeverity`
// (mapdb::statusSeverity), most severe first.
Json problemsJson(const MapModel &m, int minSeverity);
// The first `most` search hits: each its object without fields, and what matched.
Json searchHitsJson(const MapModel &m, const std::vector<SearchHit> &hits, size_t most);
// The statuses in legend order: value, name, severity, fill and line colour.
Json statusesJson();

}  // namespace tqmap

#endif
