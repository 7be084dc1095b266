// The map as it was: times as an operator gives them, the map at a past time
// (from the history of changes, within its window) and what differs between
// two times. Shared by `tqmap tree --at`, `tqmap diff` and the web view's
// ?at= and diff view.
//
// Threads: the free functions keep no state; a MapDatabase is used by one
// thread at a time (see mapdb/read.h).
//
// Errors: calls that can fail return false with an operator's message in
// `error` (a time before the history's window names the window).
#ifndef TQ_TOOLS_TQMAP_PAST_H
#define TQ_TOOLS_TQMAP_PAST_H

#include "tools/tqmap/json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tqmap {

// A time given by an operator, in milliseconds since 1970, or none when the
// text is none of these:
//   "now";
//   milliseconds since 1970 (digits only, as the API and the history give them);
//   an ISO 8601 UTC time "YYYY-MM-DD[T| ]HH:MM[:SS[.fff]]" with an optional
//   "Z" or "+00:00" (a time without a zone is UTC too);
//   an age: "90s", "30m", "2h", "1d" ago.
std::optional<int64_t> parseTime(const std::string &text, int64_t nowMs);
// What parseTime takes, for usage messages.
extern const char *const kTimeForms;

// The map as it was at `atMs`: `now`, read from `db` no earlier than atMs,
// with the history after atMs undone; indexed. Times at or after the read
// give `now` itself.
bool modelAt(MapDatabase &db, const MapModel &now, int64_t atMs, MapModel &out, std::string &error);
// The part of the map as it was at `atMs` that shows one submap: every
// submap, the symbols on it and on every submap beneath it (their roll-up),
// the symbols of the submaps' parent objects (the titles and the path), and
// the objects of these; indexed. What it shows of that submap (symbols,
// connections, effective statuses, title, path, layout) equals what modelAt
// shows, at a cost of that part rather than of the whole map.
bool submapModelAt(MapDatabase &db, const MapModel &now, int64_t atMs, int submap, MapModel &out,
                   std::string &error);
// Reads the map as it was at `atMs` (field values as they are now; objects
// gone since carry none).
bool loadModelAt(MapDatabase &db, int64_t atMs, MapModel &m, std::string &error, bool withValues = true);

// What changed between two maps, symbol by symbol (a symbol made again has a
// new id: it disappeared and appeared).
struct MapDiff {
    struct Item {
        int symbol = 0;
        int submap = 0;
        std::string name;        // as displayName calls it
        std::string where;       // the submap's title
        int before = -1;         // effective statuses; -1 where it was not
        int after = -1;
    };
    std::vector<Item> appeared, disappeared, statusChanged;
};
MapDiff diffMaps(const MapModel &before, const MapModel &after);
// {"from", "to" (ms), "appeared", "disappeared", "statusChanged": [{symbol,
// submap, name, where, before, beforeName, after, afterName}]}.
Json diffJson(const MapDiff &d, int64_t fromMs, int64_t toMs);
// The history's window: {"kept", "completeSince" (ms, null when not kept),
// "rows", "maxRows", "now"}.
Json historyJson(const mapdb::HistoryWindow &w, int64_t nowMs);

}  // namespace tqmap

#endif
