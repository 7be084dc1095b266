// The layered drawing of a large submap: symbols in rows by their role in
// the submap's connections, large fans of leaf devices folded into one group
// symbol, and a view of one symbol's neighbourhood.
//
// Roles, from the connections between the icon symbols of what is drawn:
//   leaf    a symbol joined to exactly one other on the whole submap, which
//           is joined to more (a host or an array on its switch); the
//           symbol a neighbours view is around is never one;
//   edge    a symbol with leaves (the switch they hang on);
//   core    any other symbol with connections (switches joined to switches);
//   loose   a symbol without connections on the submap.
// Rows, top to bottom: core, then each edge symbol with its leaves beneath
// it, then the loose symbols. Core and loose rows wrap after kRowSlots
// places; edge symbols do too when there is no core (else the core's lines
// would cross the first band).
//
// Folding: more than kFoldFan leaves on one edge symbol, or more than
// kFoldFan loose symbols of one symbol type, are drawn as one group symbol
// showing the worst status among them, unless the view opens that group.
// kFoldFan is 8: a fan of 8 fits beneath its switch in two columns of four,
// so the switches alone set the drawing's width, and the 1,000-device fabric
// (40 edge switches of about 24 devices each) is 4 + 40 + 40 symbols until
// the operator opens a fan.
//
// Pages: an opened group of more than kPageSize members shows one page of
// them at a time, in the order of their names, with a "previous" and a
// "next" symbol leading to the pages beside it; so what is sent and drawn
// stays bounded however large the group. The open key "<key>p<N>" shows page
// N (from 1; "<key>" alone is page 1), and wayTo names the page that shows a
// given member.
//
// Lines: a link of an opened fan runs from its switch down to a bus between
// the rows, along the block's left border and down to the device; a link
// from the core row to an edge switch runs down to a bus of its own core
// symbol above the edge row. So no line passes through another symbol.
//
// Every label is cut to fit its place (the whole name stays in the symbol's
// tooltip), and connections carry no label in this drawing, so no two labels
// overlap. Nothing here blocks or writes; the cost grows with the symbols
// and connections of the submap.
#ifndef TQ_TOOLS_TQMAP_LAYERED_H
#define TQ_TOOLS_TQMAP_LAYERED_H

#include "tools/tqmap/tqmap.h"

#include <set>
#include <string>
#include <vector>

namespace tqmap {

constexpr size_t kFoldFan = 8;
constexpr size_t kRowSlots = 40;
constexpr size_t kPageSize = 200;
// Hops a neighbours view reaches at most.
constexpr int kMaxHops = 5;

// What a view of a submap shows beyond the folded drawing.
struct ViewQuery {
    std::set<std::string> open;   // keys of the groups shown opened ("f<edge symbol>", "t<first member>"),
                                  // with "p<N>" for a page past the first
    int around = 0;               // a symbol: only it and what lies within `hops` connections of it
    int hops = 1;

    bool plain() const { return open.empty() && around == 0; }
    // The query as part of a cache key ("" when plain).
    std::string key() const;
};

// Reads open=KEY,KEY..., around=SYMBOL and hops=N (1..kMaxHops, else 1);
// unreadable parts are left out. At most 64 open keys.
ViewQuery parseViewQuery(const std::string &open, const std::string &around, const std::string &hops);

// A group symbol: folded symbols drawn as one.
struct FoldedGroup {
    std::string key;          // "f<edge symbol>" or "t<first member>"
    int hub = 0;              // the edge symbol of a fan, 0 for loose symbols
    std::vector<int> members; // symbol ids; in the order of their names when there are pages
    bool open = false;
    size_t page = 1, pages = 1;  // the page shown when open, and how many there are
    size_t from = 0, to = 0;     // the members of that page: [from, to)
};

struct LayeredDrawing {
    std::string svg;                                     // the drawing, "<svg" first
    std::map<int, std::pair<double, double>> positions;  // shown symbol -> centre (px, origin top left)
    std::vector<int> shown;                              // icon and connection symbols drawn, ascending
    std::vector<FoldedGroup> groups;                     // every group, open or folded
};

// The icon symbols within `hops` connections of `symbol` on its submap (the
// symbol included); empty when it is no icon symbol there.
std::set<int> withinHops(const MapModel &m, int symbol, int hops);
// Lays out and draws the submap as the query asks. Symbols and connections
// carry the ids and classes renderSubmapDot gives the web view ("s<id>",
// "node sym st<status>", "edge conn st<status>"); a group is
// "g-<key>" with classes "node group st<worst>" and data-group="<key>"; a
// page's neighbour is "pg-<key>-prev" or "pg-<key>-next" with class "pager",
// data-group="<key>" and data-open="<the other page's open key>".
LayeredDrawing drawLayered(const MapModel &m, int submap, const ViewQuery &q);
// The open keys that show `symbol` on the submap in this view: the query's
// own, with the page of the group holding it (any other page of that group
// dropped). False when the symbol is not an icon symbol the view can show.
bool wayTo(const MapModel &m, int submap, const ViewQuery &q, int symbol, std::set<std::string> &open);
// The worst status among symbols, by severity (mapdb::statusSeverity).
int worstStatus(const MapModel &m, const std::vector<int> &symbols);

}  // namespace tqmap

#endif
