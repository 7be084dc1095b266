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
int cmdTreeJson(const std::string &path);
// One submap (0: the root submap) as GraphML, draw.io XML or SVG, laid out as
// the web view lays it out, into a file or standard output ("" or "-").
// The format is "graphml", "drawio" or "svg", or when empty the one the
// output file's extension names; 2 when neither says, 1 for an unknown
// submap, a layout failure or a file that cannot be written.
int cmdExport(const std::string &path, int submap, const std::string &format, const std::string &output);
// A moment given as "30m", "2h", "1d", "90s" ago, or as a UTC time
// "YYYY-MM-DD[ T]HH:MM[:SS]"; milliseconds since 1970.
std::optional<int64_t> parseSince(const std::string &text, int64_t nowMs);

}  // namespace tqmap

#endif
