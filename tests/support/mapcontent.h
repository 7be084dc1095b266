// What a map holds, in a form that does not depend on the store or on the
// ids it handed out: every row of the map, the field registry, objects,
// field values, submaps and symbols, with each id replaced by what it names
// (an object by its selection name, a submap by its parent's name and its
// own, a connection's ends by their objects), sorted. Two maps with equal
// contents are the same map object for object, whichever store holds them
// (ids of a PostgreSQL map may skip numbers that a rolled-back turn or a
// refused insertion used).
#ifndef TQ_TESTS_SUPPORT_MAPCONTENT_H
#define TQ_TESTS_SUPPORT_MAPCONTENT_H

#include <string>
#include <vector>

namespace tqtest {

// The content of the map at `location`: a map file's path or a postgresql://
// URI. One line per row, each table's lines after a "== <table>" line;
// a line "error: ..." when the map cannot be read.
std::vector<std::string> mapContent(const std::string &location);

// The history of changes at `location`, one line per row in the order
// written: kind, old and new value, `was`; no ids or times.
std::vector<std::string> historyContent(const std::string &location);

// The first lines where two contents differ (at most `limit`), for a
// failure message; empty when they are equal.
std::string contentDifference(const std::vector<std::string> &a, const std::vector<std::string> &b, int limit = 10);

}  // namespace tqtest

#endif
