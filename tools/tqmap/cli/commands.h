// The commands that look devices up.
#ifndef TQ_TOOLS_TQMAP_CLI_COMMANDS_H
#define TQ_TOOLS_TQMAP_CLI_COMMANDS_H

#include <cstdint>
#include <optional>
#include <string>

namespace tqmap {

int cmdFind(const std::string &path, const std::string &text, bool json);
int cmdShow(const std::string &path, const std::string &idOrName, bool json);
// The changes `tqmap changes` lists unless told otherwise.
constexpr int kDefaultChangeLimit = 100;
// limit 0: every change kept. When more changes match than the limit, a note
// on standard error says so and how to see more.
int cmdChanges(const std::string &path, const std::string &since, int limit, bool json);
// at: empty for the map now, else a time (parseTime) to show the map as it was.
int cmdTreeJson(const std::string &path, const std::string &at);

// ---- the map as it was (past.cpp) ----

struct MapModel;
// Opens the map and loads it: as it is, or with `at` (a parseTime text) as it
// was then, which `atMs` then holds. Prints the reason and returns an exit
// code on failure: 2 for an unreadable time, a time before the history's
// window or a map without one.
int loadMapAt(const std::string &path, const std::string &at, MapModel &m, bool withValues,
              std::optional<int64_t> &atMs);
// tqmap tree --at TIME: the header says the time and the history's window.
int cmdTreeAt(const std::string &path, const std::string &at, bool withFields);
// tqmap diff T1 [T2]: what appeared, disappeared and changed status between
// two times (T2: now).
int cmdDiff(const std::string &path, const std::string &from, const std::string &to, bool json);
// One submap (0: the root submap) as GraphML, draw.io XML or SVG, laid out as
// the web view lays it out, into a file or standard output ("" or "-").
// The format is "graphml", "drawio" or "svg", or when empty the one the
// output file's extension names; 2 when neither says, 1 for an unknown
// submap, a layout failure or a file that cannot be written.
int cmdExport(const std::string &path, int submap, const std::string &format, const std::string &output);

}  // namespace tqmap

#endif
