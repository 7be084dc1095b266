// The map as Graphviz DOT: the whole map as nested clusters, or one submap.
#include "tools/tqmap/tqmap.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>

namespace tqmap {

std::string shapeForSymbolType(const std::optional<std::string> &symbolType)
{
    if (!symbolType || symbolType->empty())
        return "octagon";
    std::string cls = symbolType->substr(0, symbolType->find(':'));
    std::transform(cls.begin(), cls.end(), cls.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const std::map<std::string, std::string> shapes = {
        {"connector", "box"},      {"computer", "ellipse"}, {"server", "ellipse"},
        {"storage", "cylinder"},   {"network", "hexagon"},  {"net", "hexagon"},
        {"cards", "component"},    {"card", "component"},   {"device", "box3d"},
        {"software", "note"},      {"location", "house"},   {"connection", "point"},
    };
    auto it = shapes.find(cls);
    return it != shapes.end() ? it->second : "octagon";
}

StatusColours statusColours(int status)
{
    switch (status) {
    case 0: return {"#9ec5fe", "#1565c0"};   // unknown: blue
    case 1: return {"#8fd19e", "#2e7d32"};   // normal: green
    case 2: return {"#f28b82", "#c62828"};   // critical: red
    case 3: return {"#fde293", "#b08800"};   // marginal: yellow
    case 4: return {"#fcad70", "#e65100"};   // major: orange
    case 5: return {"#e8e0d0", "#8d7b5a"};   // unmanaged: wheat
    case 6: return {"#f3f09a", "#827717"};   // minor: pale olive
    case 7: return {"#b2ebf2", "#00838f"};   // warning: cyan
    default: return {"#ffffff", "#555555"};
    }
}



const std::vector<int> &legendOrder()
{
    static const std::vector<int> order = {1, 7, 6, 3, 4, 2, 0, 5};
    return order;
}

namespace {

constexpr int kCritical = 2;

// A node for an icon symbol, coloured by its effective status. For the web
// view it carries an id, classes (status, graph) and a graph's submap link.
void emitNode(std::ostringstream &out, const MapModel &m, const Symbol &s, const std::string &pad, bool web,
              const std::string &extraLabel = std::string())
{
    bool graph = m.isGraphObject(s.object);
    int st = m.effectiveStatus(s);
    StatusColours c = statusColours(st);
    std::string label = displayName(m, s);
    if (s.symbolType) {
        size_t colon = s.symbolType->find(':');
        std::string sub = colon == std::string::npos ? *s.symbolType : s.symbolType->substr(colon + 1);
        if (!sub.empty())
            label += "\n" + sub;
    }
    label += extraLabel;
    out << pad << "s" << s.id << " [label=" << quoted(label)
        << ", shape=" << (graph ? std::string("tab") : shapeForSymbolType(s.symbolType)) << ", fillcolor=\""
        << c.fill << "\", color=\"" << c.line << "\", tooltip="
        << quoted(selectionOf(m, s.object) + " (" + statusName(st) + ")");
    if (web) {
        out << ", id=\"s" << s.id << "\", class=\"sym st" << st << (graph ? " graph" : "") << "\"";
        auto kids = m.submapsOfObject.find(s.object);
        if (graph && kids != m.submapsOfObject.end())
            out << ", URL=\"/submap/" << kids->second.front() << "\"";
    }
    out << "];\n";
}

void emitEdge(std::ostringstream &out, const MapModel &m, const Symbol &c, bool web)
{
    int st = m.effectiveStatus(c);
    StatusColours col = statusColours(st);
    out << "  s" << c.connA << " -- s" << c.connZ << " [color=\"" << col.line << "\", fontcolor=\"" << col.line
        << "\", tooltip=" << quoted(selectionOf(m, c.object) + " (" + statusName(st) + ")");
    if (c.label && !c.label->empty())
        out << ", label=" << quoted(*c.label);
    if (st == kCritical)
        out << ", style=dashed";
    if (web)
        out << ", id=\"s" << c.id << "\", class=\"conn st" << st << "\"";
    out << "];\n";
}

// One table of the status colours, in a cluster of its own.
// pos: where the legend goes ("x,y" in points) when the layout places nothing.
void emitLegend(std::ostringstream &out, const std::string &pos = std::string())
{
    out << "  subgraph cluster_legend {\n"
        << "    label=\"legend\"; style=\"rounded\"; color=\"#bdbdbd\"; fontsize=10;\n"
        << "    legend [" << (pos.empty() ? std::string() : "pos=\"" + pos + "!\", ")
        << "shape=plaintext, style=\"\", fontsize=9, label=<<table border=\"0\" "
           "cellborder=\"1\" cellspacing=\"2\" cellpadding=\"3\">";
    for (int st : legendOrder()) {
        StatusColours c = statusColours(st);
        out << "<tr><td bgcolor=\"" << c.fill << "\" color=\"" << c.line << "\">" << statusName(st) << "</td></tr>";
    }
    out << "<tr><td border=\"0\">dashed line: critical</td></tr></table>>];\n"
        << "  }\n";
}

void emitHeader(std::ostringstream &out, const std::string &title)
{
    out << "graph map {\n"
        << "  graph [compound=true, fontname=\"Helvetica\", fontsize=12, labelloc=t, nodesep=0.35, "
           "ranksep=0.6, label="
        << quoted(title) << "];\n"
        << "  node [fontname=\"Helvetica\", fontsize=10, style=filled, penwidth=1.2];\n"
        << "  edge [fontname=\"Helvetica\", fontsize=9, penwidth=2];\n";
}

// The whole map: each submap a nested cluster. A graph's symbol is drawn on
// the submap it sits on, like any other symbol, and the cluster of the
// submap it holds beside it, tied to it by a dotted line. Submaps deeper than
// maxDepth (0: no limit) are left out; their graphs name them.
class DotWriter {
public:
    DotWriter(const MapModel &m, int maxDepth) : m_(m), maxDepth_(maxDepth) {}

    std::string run()
    {
        emitHeader(out_, "map " + m_.mapName);
        if (m_.submaps.count(m_.rootSubmap) != 0)
            cluster(m_.rootSubmap, 0, 1);
        if (maxDepth_ == 0)
            for (const auto &entry : m_.submaps)
                if (visited_.count(entry.first) == 0)
                    cluster(entry.first, 0, 1);
        for (const std::string &t : ties_)
            out_ << t;
        for (const auto &[id, c] : m_.symbols) {
            if (!c.isConnection())
                continue;
            if (drawn_.count(c.connA) == 0 || drawn_.count(c.connZ) == 0) {
                out_ << "  // connection " << id << ": an end symbol is not drawn\n";
                continue;
            }
            emitEdge(out_, m_, c, false);
        }
        emitLegend(out_);
        out_ << "}\n";
        return out_.str();
    }

    const std::vector<int> &leftOut() const { return leftOut_; }

private:
    // Returns the name of a node inside the cluster, for the tie to it.
    std::string cluster(int id, int ownerSymbol, int depth)
    {
        visited_.insert(id);
        std::string pad(static_cast<size_t>(depth) * 2, ' ');
        const Submap &sm = m_.submaps.at(id);
        std::string title;
        if (id == m_.rootSubmap)
            title = "root submap";
        else if (const Symbol *o = m_.symbol(ownerSymbol))
            title = displayName(m_, *o);
        else
            title = sm.parentObject != 0 ? objectNamePart(selectionOf(m_, sm.parentObject)) : sm.name;
        out_ << pad << "subgraph cluster_" << id << " {\n"
             << pad << "  label=" << quoted(title) << "; style=\"rounded\"; color=\"#9e9e9e\"; fontsize=11;\n";
        std::string first;
        auto it = m_.symbolsOnSubmap.find(id);
        if (it != m_.symbolsOnSubmap.end()) {
            for (int sid : it->second) {
                const Symbol &s = m_.symbols.at(sid);
                if (s.isConnection())
                    continue;
                drawn_.insert(s.id);
                auto kids = m_.submapsOfObject.find(s.object);
                bool hasKids = kids != m_.submapsOfObject.end();
                bool deeper = hasKids && maxDepth_ != 0 && depth >= maxDepth_;
                std::string extra;
                if (deeper) {
                    for (int child : kids->second)
                        if (std::find(leftOut_.begin(), leftOut_.end(), child) == leftOut_.end())
                            leftOut_.push_back(child);
                    extra = "\n(drawn with --submap " + std::to_string(kids->second.front()) + ")";
                }
                emitNode(out_, m_, s, pad + "  ", false, extra);
                if (first.empty())
                    first = "s" + std::to_string(s.id);
                if (!hasKids || deeper)
                    continue;
                for (int child : kids->second) {
                    if (visited_.count(child) != 0)
                        continue;
                    std::string anchor = cluster(child, s.id, depth + 1);
                    ties_.push_back("  s" + std::to_string(s.id) + " -- " + anchor +
                                    " [style=dotted, color=\"#9e9e9e\", penwidth=1, lhead=cluster_" +
                                    std::to_string(child) + "];\n");
                }
            }
        }
        if (first.empty()) {
            first = "e" + std::to_string(id);
            out_ << pad << "  " << first << " [label=\"(empty)\", shape=plaintext, style=\"\"];\n";
        }
        out_ << pad << "}\n";
        return first;
    }

    const MapModel &m_;
    int maxDepth_;
    std::ostringstream out_;
    std::set<int> visited_;
    std::set<int> drawn_;
    std::vector<std::string> ties_;
    std::vector<int> leftOut_;
};

// Symbols on submaps down to each depth from the root (depth 1: the root submap).
std::vector<size_t> symbolsByDepth(const MapModel &m)
{
    std::vector<size_t> counts;
    std::set<int> seen;
    std::vector<int> level{m.rootSubmap};
    while (!level.empty()) {
        size_t n = counts.empty() ? 0 : counts.back();
        std::vector<int> next;
        for (int sm : level) {
            if (!seen.insert(sm).second)
                continue;
            auto it = m.symbolsOnSubmap.find(sm);
            if (it == m.symbolsOnSubmap.end())
                continue;
            n += it->second.size();
            for (int sid : it->second) {
                auto kids = m.submapsOfObject.find(m.symbols.at(sid).object);
                if (kids != m.submapsOfObject.end() && !m.symbols.at(sid).isConnection())
                    next.insert(next.end(), kids->second.begin(), kids->second.end());
            }
        }
        counts.push_back(n);
        level = std::move(next);
    }
    return counts;
}

}  // namespace

std::string fillColourForStatus(int status)
{
    return statusColours(status).fill;
}

std::string renderDot(const MapModel &m)
{
    return DotWriter(m, 0).run();
}

std::string renderDot(const MapModel &m, size_t maxSymbols, std::string &note)
{
    note.clear();
    std::vector<size_t> counts = symbolsByDepth(m);
    if (counts.empty() || counts.back() <= maxSymbols || m.symbols.size() <= maxSymbols)
        return renderDot(m);
    int depth = 1;
    while (static_cast<size_t>(depth) < counts.size() && counts[static_cast<size_t>(depth)] <= maxSymbols)
        ++depth;
    DotWriter w(m, depth);
    std::string dot = w.run();
    note = "the map holds " + std::to_string(m.symbols.size()) + " symbols: drew the top " +
           std::to_string(depth) + (depth == 1 ? " level" : " levels") +
           " (" + std::to_string(counts[static_cast<size_t>(depth - 1)]) + " symbols); draw the rest one submap at a time "
           "with --submap ID:";
    for (int id : w.leftOut())
        note += " " + std::to_string(id);
    return dot;
}

namespace {

// Graphviz's ranked layout ("dot") takes time that grows fast with the
// symbols and even more with the lines between them (150 devices with 1,237
// links take minutes): beyond these, symbols go on a grid with straight lines,
// whose cost grows with what is drawn only.
constexpr size_t kRankedLayoutSymbols = 150;
constexpr size_t kRankedLayoutConnections = 300;

// Icon symbols on a submap, graphs first, each in id order.
std::vector<int> iconsOn(const MapModel &m, int submap)
{
    std::vector<int> graphs, others;
    auto it = m.symbolsOnSubmap.find(submap);
    if (it != m.symbolsOnSubmap.end())
        for (int sid : it->second) {
            const Symbol &s = m.symbols.at(sid);
            if (!s.isConnection())
                (m.isGraphObject(s.object) ? graphs : others).push_back(sid);
        }
    graphs.insert(graphs.end(), others.begin(), others.end());
    return graphs;
}

size_t connectionsOn(const MapModel &m, int submap)
{
    size_t n = 0;
    auto it = m.symbolsOnSubmap.find(submap);
    if (it != m.symbolsOnSubmap.end())
        for (int sid : it->second)
            n += m.symbols.at(sid).isConnection() ? 1 : 0;
    return n;
}

bool rankedLayout(const MapModel &m, int submap, size_t icons)
{
    return icons <= kRankedLayoutSymbols && connectionsOn(m, submap) <= kRankedLayoutConnections;
}

// The grid: about twice as many rows as columns, 130 by 75 points a cell.
size_t gridColumns(size_t icons)
{
    size_t columns = 1;
    while (columns * columns < icons * 2)
        ++columns;
    return columns;
}

std::pair<double, double> gridCell(size_t i, size_t columns)
{
    return {static_cast<double>((i % columns) * 130), -static_cast<double>(i / columns) * 75};
}

}  // namespace

SymbolCentres gridPositions(const MapModel &m, int submap)
{
    std::vector<int> icons = iconsOn(m, submap);
    const size_t columns = gridColumns(icons.size());
    SymbolCentres out;
    for (size_t i = 0; i < icons.size(); ++i)
        out[icons[i]] = gridCell(i, columns);
    return out;
}

const char *submapLayoutEngine(const MapModel &m, int submap)
{
    return rankedLayout(m, submap, iconsOn(m, submap).size()) ? "dot" : "nop";
}

std::string renderSubmapDot(const MapModel &m, int submapId, bool web, bool gridWanted)
{
    std::ostringstream out;
    auto sm = m.submaps.find(submapId);
    std::string title = "submap " + std::to_string(submapId);
    if (submapId == m.rootSubmap)
        title = "root submap";
    else if (sm != m.submaps.end() && sm->second.parentObject != 0)
        title = objectNamePart(selectionOf(m, sm->second.parentObject));
    emitHeader(out, web ? std::string() : title);
    std::vector<int> icons = iconsOn(m, submapId);
    // A large submap: a grid of symbols (graphs first) with straight lines.
    bool grid = gridWanted || !rankedLayout(m, submapId, icons.size());
    const size_t columns = gridColumns(icons.size());
    if (grid)
        out << "  graph [splines=line];\n";
    std::set<int> drawn;
    for (size_t i = 0; i < icons.size(); ++i) {
        const Symbol &s = m.symbols.at(icons[i]);
        std::ostringstream node;
        emitNode(node, m, s, "  ", web);
        std::string text = node.str();
        if (grid) {
            const std::pair<double, double> at = gridCell(i, columns);
            text.insert(text.size() - 3, ", pos=\"" + std::to_string(static_cast<long>(at.first)) + "," +
                                             std::to_string(static_cast<long>(at.second)) + "!\"");
        }
        out << text;
        drawn.insert(icons[i]);
    }
    auto it = m.symbolsOnSubmap.find(submapId);
    if (it != m.symbolsOnSubmap.end()) {
        for (int sid : it->second) {
            const Symbol &c = m.symbols.at(sid);
            if (c.isConnection() && drawn.count(c.connA) != 0 && drawn.count(c.connZ) != 0)
                emitEdge(out, m, c, web);
        }
    }
    if (drawn.empty())
        out << "  empty [label=\"(empty)\", shape=plaintext, style=\"\"];\n";
    if (!web) {
        // On a grid every node needs a place: the legend goes below it.
        std::string legendPos;
        if (grid)
            legendPos = "0," + std::to_string(-static_cast<long>(icons.size() / columns + 2) * 75);
        emitLegend(out, legendPos);
    }
    out << "}\n";
    return out.str();
}

}  // namespace tqmap
