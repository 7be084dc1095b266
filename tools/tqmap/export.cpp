// One submap as GraphML, draw.io diagram XML or SVG (export.h).
#include "tools/tqmap/export.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <unordered_map>

namespace tqmap {

namespace {

// The code point of the UTF-8 sequence at s[i] and its length; length 0 for
// a byte that does not start a valid sequence (overlong forms, surrogates
// and values past U+10FFFF are not valid).
uint32_t decodeAt(const std::string &s, size_t i, size_t &length)
{
    const unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = 0;
    length = 0;
    if (c < 0x80) {
        length = 1;
        return c;
    }
    size_t n = c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > s.size())
        return 0;
    cp = c & (n == 2 ? 0x1F : n == 3 ? 0x0F : 0x07);
    for (size_t k = 1; k < n; ++k) {
        const unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (cc & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    length = n;
    return cp;
}

// A text of the map as XML text or a double- or single-quoted attribute
// value: markup escaped, line ends and tabs as references (an attribute's
// own would become spaces), and what XML 1.0 cannot carry as U+FFFD.
std::string xmlText(const std::string &s)
{
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        size_t length = 0;
        const uint32_t cp = decodeAt(s, i, length);
        const size_t at = i;
        i += length == 0 ? 1 : length;
        if (length == 0 || (cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp == 0xFFFE || cp == 0xFFFF) {
            out += "\xEF\xBF\xBD";   // U+FFFD
            continue;
        }
        switch (cp) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        case '\t': out += "&#9;"; break;
        case '\n': out += "&#10;"; break;
        case '\r': out += "&#13;"; break;
        default: out.append(s, at, length);
        }
    }
    return out;
}

size_t codePoints(const std::string &s)
{
    size_t n = 0;
    for (size_t i = 0; i < s.size(); ++n) {
        size_t length = 0;
        decodeAt(s, i, length);
        i += length == 0 ? 1 : length;
    }
    return n;
}

std::string num(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", v);
    return buf;
}

// How a symbol of a DOT shape (shapeForSymbolType, "tab" for graphs) is
// drawn in SVG and styled in draw.io.
enum class SvgShape { Box, RoundBox, Ellipse, Hexagon, Folder };
struct ShapeStyle {
    SvgShape svg;
    const char *drawio;
};

ShapeStyle shapeStyle(const std::string &dotShape)
{
    static const std::map<std::string, ShapeStyle> styles = {
        {"ellipse", {SvgShape::Ellipse, "ellipse;"}},
        {"cylinder", {SvgShape::RoundBox, "shape=cylinder3;boundedLbl=1;size=6;"}},
        {"hexagon", {SvgShape::Hexagon, "shape=hexagon;perimeter=hexagonPerimeter2;size=0.15;"}},
        {"octagon", {SvgShape::Hexagon, "shape=hexagon;perimeter=hexagonPerimeter2;size=0.15;"}},
        {"box3d", {SvgShape::Box, "shape=cube;size=6;"}},
        {"note", {SvgShape::Box, "shape=note;size=8;"}},
        {"tab", {SvgShape::Folder, "shape=folder;tabWidth=30;tabHeight=6;tabPosition=left;"}},
    };
    auto it = styles.find(dotShape);
    return it != styles.end() ? it->second : ShapeStyle{SvgShape::Box, "rounded=1;arcSize=10;"};
}

// A symbol as the export draws it, top-left origin.
struct Node {
    const Symbol *symbol = nullptr;
    std::string label, type, kind = "vertex", subtype;
    int status = 0;
    int childSubmap = 0;
    double x = 0, y = 0, w = 0, h = 36;   // centre and size
    ShapeStyle shape{SvgShape::Box, ""};
};

struct Edge {
    const Symbol *symbol;
    std::string label;
    int status;
};

constexpr double kMargin = 20;

// The submap's icon symbols placed and sized, and the connections between them.
class Placed {
public:
    Placed(const MapModel &m, int submap, const SymbolCentres &positions)
    {
        title = submapTitle(m, submap);
        auto on = m.symbolsOnSubmap.find(submap);
        if (on == m.symbolsOnSubmap.end())
            return;
        for (int sid : on->second) {
            const Symbol &s = m.symbols.at(sid);
            if (s.isConnection())
                continue;
            Node n;
            n.symbol = &s;
            n.label = displayName(m, s);
            n.type = s.symbolType.value_or("");
            n.status = m.effectiveStatus(s);
            bool graph = m.isGraphObject(s.object);
            if (graph) {
                n.kind = "graph";
                n.childSubmap = m.submapsOfObject.at(s.object).front();
            }
            size_t colon = n.type.find(':');
            n.subtype = colon == std::string::npos ? n.type : n.type.substr(colon + 1);
            n.shape = shapeStyle(graph ? "tab" : shapeForSymbolType(s.symbolType));
            size_t chars = std::max(codePoints(n.label), codePoints(n.subtype) * 4 / 5);
            n.w = std::min(220.0, std::max(56.0, 6.5 * static_cast<double>(chars) + 18));
            index_[sid] = nodes.size();
            nodes.push_back(std::move(n));
        }
        for (int sid : on->second) {
            const Symbol &c = m.symbols.at(sid);
            if (c.isConnection() && index_.count(c.connA) != 0 && index_.count(c.connZ) != 0)
                edges.push_back({&c, c.label.value_or(""), m.effectiveStatus(c)});
        }
        place(positions);
    }

    std::string title;
    std::vector<Node> nodes;
    std::vector<Edge> edges;
    double width = 2 * kMargin, height = 2 * kMargin;

    const Node &node(int symbol) const { return nodes[index_.at(symbol)]; }

private:
    // The layout's points (y up) to the file's (y down), every node inside;
    // the symbols without a position in rows below.
    void place(const SymbolCentres &positions)
    {
        double left = 1e300, top = -1e300;
        for (const Node &n : nodes) {
            auto p = positions.find(n.symbol->id);
            if (p == positions.end())
                continue;
            left = std::min(left, p->second.first - n.w / 2);
            top = std::max(top, p->second.second + n.h / 2);
        }
        double bottom = kMargin;
        std::vector<Node *> unplaced;
        for (Node &n : nodes) {
            auto p = positions.find(n.symbol->id);
            if (p == positions.end()) {
                unplaced.push_back(&n);
                continue;
            }
            n.x = p->second.first - left + kMargin;
            n.y = top - p->second.second + kMargin;
            width = std::max(width, n.x + n.w / 2 + kMargin);
            bottom = std::max(bottom, n.y + n.h / 2);
        }
        double x = kMargin, rowTop = unplaced.size() == nodes.size() ? kMargin : bottom + 40;
        const double rowWidth = std::max(width, 800.0);
        for (Node *n : unplaced) {
            if (x + n->w > rowWidth && x > kMargin) {
                x = kMargin;
                rowTop += n->h + 30;
            }
            n->x = x + n->w / 2;
            n->y = rowTop + n->h / 2;
            x += n->w + 30;
            width = std::max(width, n->x + n->w / 2 + kMargin);
            bottom = std::max(bottom, n->y + n->h / 2);
        }
        height = bottom + kMargin;
    }

    std::unordered_map<int, size_t> index_;   // symbol -> its node
};

// ---- GraphML -----------------------------------------------------------------------

void graphmlData(std::ostringstream &out, const char *key, const std::string &value)
{
    out << "      <data key=\"" << key << "\">" << xmlText(value) << "</data>\n";
}

std::string graphml(const MapModel &m, int submap, const Placed &p)
{
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<graphml xmlns=\"http://graphml.graphdrawing.org/xmlns\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xsi:schemaLocation=\"http://graphml.graphdrawing.org/xmlns "
           "http://graphml.graphdrawing.org/xmlns/1.0/graphml.xsd\">\n";
    struct Key {
        const char *id, *on, *type;
    };
    static const Key keys[] = {
        {"title", "graph", "string"},        {"submap", "graph", "int"},         {"label", "all", "string"},
        {"name", "all", "string"},           {"kind", "all", "string"},          {"type", "all", "string"},
        {"status", "all", "string"},         {"statusValue", "all", "int"},      {"object", "all", "int"},
        {"selectionName", "all", "string"},  {"fill", "node", "string"},         {"stroke", "all", "string"},
        {"x", "node", "double"},             {"y", "node", "double"},            {"width", "node", "double"},
        {"height", "node", "double"},        {"childSubmap", "node", "int"},
    };
    for (const Key &k : keys)
        out << "  <key id=\"" << k.id << "\" for=\"" << k.on << "\" attr.name=\"" << k.id << "\" attr.type=\""
            << k.type << "\"/>\n";
    out << "  <graph id=\"submap-" << submap << "\" edgedefault=\"undirected\">\n"
        << "    <data key=\"title\">" << xmlText(p.title) << "</data>\n"
        << "    <data key=\"submap\">" << submap << "</data>\n";
    auto common = [&](const Symbol &s, const std::string &label, const std::string &kind, int status) {
        graphmlData(out, "label", label);
        graphmlData(out, "name", displayName(m, s));
        graphmlData(out, "kind", kind);
        graphmlData(out, "type", s.symbolType.value_or(""));
        graphmlData(out, "status", statusName(status));
        graphmlData(out, "statusValue", std::to_string(status));
        graphmlData(out, "object", std::to_string(s.object));
        graphmlData(out, "selectionName", selectionOf(m, s.object));
        graphmlData(out, "stroke", statusColours(status).line);
    };
    for (const Node &n : p.nodes) {
        out << "    <node id=\"s" << n.symbol->id << "\">\n";
        common(*n.symbol, n.label, n.kind, n.status);
        graphmlData(out, "fill", statusColours(n.status).fill);
        graphmlData(out, "x", num(n.x));
        graphmlData(out, "y", num(n.y));
        graphmlData(out, "width", num(n.w));
        graphmlData(out, "height", num(n.h));
        if (n.childSubmap != 0)
            graphmlData(out, "childSubmap", std::to_string(n.childSubmap));
        out << "    </node>\n";
    }
    for (const Edge &e : p.edges) {
        out << "    <edge id=\"s" << e.symbol->id << "\" source=\"s" << e.symbol->connA << "\" target=\"s"
            << e.symbol->connZ << "\">\n";
        common(*e.symbol, e.label, "connection", e.status);
        out << "    </edge>\n";
    }
    out << "  </graph>\n</graphml>\n";
    return out.str();
}

// ---- draw.io -------------------------------------------------------------------------

// A text as a value of a draw.io style, where ';' and '=' separate.
std::string styleValue(std::string s)
{
    std::replace_if(s.begin(), s.end(), [](char c) { return c == ';' || c == '='; }, ' ');
    return s;
}

// The map's own keys in a cell's style; draw.io keeps keys it does not know.
std::string mapStyle(const Symbol &s, const std::string &kind, int status)
{
    return "mapKind=" + kind + ";mapStatus=" + statusName(status) + ";mapStatusValue=" + std::to_string(status) +
           ";mapObject=" + std::to_string(s.object) + ";mapType=" + styleValue(s.symbolType.value_or("")) + ";";
}

std::string drawio(int submap, const Placed &p)
{
    std::ostringstream out;
    const std::string w = num(p.width), h = num(p.height);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<mxfile compressed=\"false\">\n"
        << "  <diagram id=\"submap-" << submap << "\" name=\"" << xmlText(p.title) << "\">\n"
        << "    <mxGraphModel dx=\"" << w << "\" dy=\"" << h << "\" grid=\"1\" gridSize=\"10\" guides=\"1\" "
        << "tooltips=\"1\" connect=\"1\" arrows=\"0\" fold=\"1\" page=\"0\" pageScale=\"1\" pageWidth=\"" << w
        << "\" pageHeight=\"" << h << "\" math=\"0\" shadow=\"0\">\n"
        << "      <root>\n"
        << "        <mxCell id=\"0\"/>\n"
        << "        <mxCell id=\"1\" parent=\"0\"/>\n";
    for (const Node &n : p.nodes) {
        StatusColours c = statusColours(n.status);
        out << "        <mxCell id=\"s" << n.symbol->id << "\" value=\"" << xmlText(n.label) << "\" style=\""
            << xmlText(std::string(n.shape.drawio) + "html=0;fillColor=" + c.fill + ";strokeColor=" + c.line +
                       ";fontSize=10;" + mapStyle(*n.symbol, n.kind, n.status))
            << "\" vertex=\"1\" parent=\"1\">\n"
            << "          <mxGeometry x=\"" << num(n.x - n.w / 2) << "\" y=\"" << num(n.y - n.h / 2) << "\" width=\""
            << num(n.w) << "\" height=\"" << num(n.h) << "\" as=\"geometry\"/>\n"
            << "        </mxCell>\n";
    }
    for (const Edge &e : p.edges) {
        StatusColours c = statusColours(e.status);
        out << "        <mxCell id=\"s" << e.symbol->id << "\" value=\"" << xmlText(e.label) << "\" style=\""
            << xmlText(std::string("endArrow=none;html=0;strokeWidth=2;strokeColor=") + c.line + ";fontColor=" +
                       c.line + ";fontSize=9;" + (e.status == 2 ? "dashed=1;" : "") +
                       mapStyle(*e.symbol, "connection", e.status))
            << "\" edge=\"1\" parent=\"1\" source=\"s" << e.symbol->connA << "\" target=\"s" << e.symbol->connZ
            << "\">\n"
            << "          <mxGeometry relative=\"1\" as=\"geometry\"/>\n"
            << "        </mxCell>\n";
    }
    out << "      </root>\n    </mxGraphModel>\n  </diagram>\n</mxfile>\n";
    return out.str();
}

// ---- SVG -------------------------------------------------------------------------------

void svgShape(std::ostringstream &out, const Node &n, const StatusColours &c)
{
    const std::string paint = " fill=\"" + std::string(c.fill) + "\" stroke=\"" + c.line + "\" stroke-width=\"" +
                              (n.kind == "graph" ? "2" : "1.2") + "\"/>\n";
    const double l = n.x - n.w / 2, t = n.y - n.h / 2;
    switch (n.shape.svg) {
    case SvgShape::Ellipse:
        out << "    <ellipse cx=\"" << num(n.x) << "\" cy=\"" << num(n.y) << "\" rx=\"" << num(n.w / 2) << "\" ry=\""
            << num(n.h / 2) << "\"" << paint;
        break;
    case SvgShape::Hexagon: {
        const double d = std::min(12.0, n.w / 6);
        out << "    <polygon points=\"" << num(l) << "," << num(n.y) << " " << num(l + d) << "," << num(t) << " "
            << num(l + n.w - d) << "," << num(t) << " " << num(l + n.w) << "," << num(n.y) << " "
            << num(l + n.w - d) << "," << num(t + n.h) << " " << num(l + d) << "," << num(t + n.h) << "\"" << paint;
        break;
    }
    case SvgShape::Folder:
        out << "    <rect x=\"" << num(l) << "\" y=\"" << num(t - 6) << "\" width=\"30\" height=\"6\"" << paint;
        [[fallthrough]];
    default:
        out << "    <rect x=\"" << num(l) << "\" y=\"" << num(t) << "\" width=\"" << num(n.w) << "\" height=\""
            << num(n.h) << "\" rx=\"" << (n.shape.svg == SvgShape::RoundBox ? "10" : "3") << "\"" << paint;
    }
}

std::string svg(const MapModel &m, int submap, const Placed &p)
{
    constexpr double kLegend = 30;
    auto chipWidth = [](int st) { return 6.0 * static_cast<double>(statusName(st).size()) + 12; };
    double legendWidth = 2 * kMargin + 120;   // the chips and the line's note
    for (int st : legendOrder())
        legendWidth += chipWidth(st) + 4;
    const double width = std::max(p.width, legendWidth);
    std::ostringstream out;
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" version=\"1.1\" width=\"" << num(width) << "\" height=\""
        << num(p.height + kLegend) << "\" viewBox=\"0 0 " << num(width) << " " << num(p.height + kLegend)
        << "\" font-family=\"Helvetica, Arial, sans-serif\" data-submap=\"" << submap << "\">\n"
        << "  <title>" << xmlText(p.title) << "</title>\n"
        << "  <rect width=\"100%\" height=\"100%\" fill=\"#ffffff\"/>\n"
        << "  <g id=\"connections\">\n";
    for (const Edge &e : p.edges) {
        const Node *a = &p.node(e.symbol->connA), *z = &p.node(e.symbol->connZ);
        StatusColours c = statusColours(e.status);
        out << "  <g id=\"s" << e.symbol->id << "\" class=\"connection st" << e.status << "\" data-status=\""
            << statusName(e.status) << "\" data-source=\"s" << e.symbol->connA << "\" data-target=\"s"
            << e.symbol->connZ << "\" data-object=\"" << e.symbol->object << "\">\n"
            << "    <title>" << xmlText(displayName(m, *e.symbol) + " (" + statusName(e.status) + ")") << "</title>\n"
            << "    <line x1=\"" << num(a->x) << "\" y1=\"" << num(a->y) << "\" x2=\"" << num(z->x) << "\" y2=\""
            << num(z->y) << "\" stroke=\"" << c.line << "\" stroke-width=\"2\""
            << (e.status == 2 ? " stroke-dasharray=\"5,2\"" : "") << "/>\n";
        if (!e.label.empty())
            out << "    <text class=\"label\" x=\"" << num((a->x + z->x) / 2) << "\" y=\"" << num((a->y + z->y) / 2 - 4)
                << "\" text-anchor=\"middle\" font-size=\"9\" fill=\"" << c.line
                << "\" stroke=\"#ffffff\" stroke-width=\"3\" paint-order=\"stroke\">" << xmlText(e.label)
                << "</text>\n";
        out << "  </g>\n";
    }
    out << "  </g>\n  <g id=\"symbols\">\n";
    for (const Node &n : p.nodes) {
        StatusColours c = statusColours(n.status);
        out << "  <g id=\"s" << n.symbol->id << "\" class=\"symbol st" << n.status << (n.kind == "graph" ? " graph" : "")
            << "\" data-status=\"" << statusName(n.status) << "\" data-kind=\"" << n.kind << "\" data-type=\""
            << xmlText(n.type) << "\" data-object=\"" << n.symbol->object << "\"";
        if (n.childSubmap != 0)
            out << " data-submap=\"" << n.childSubmap << "\"";
        out << ">\n    <title>" << xmlText(selectionOf(m, n.symbol->object) + " (" + statusName(n.status) + ")")
            << "</title>\n";
        svgShape(out, n, c);
        const bool two = !n.subtype.empty();
        out << "    <text class=\"label\" x=\"" << num(n.x) << "\" y=\"" << num(n.y + (two ? -1 : 3.5))
            << "\" text-anchor=\"middle\" font-size=\"10\">" << xmlText(n.label) << "</text>\n";
        if (two)
            out << "    <text class=\"type\" x=\"" << num(n.x) << "\" y=\"" << num(n.y + 11)
                << "\" text-anchor=\"middle\" font-size=\"8\" fill=\"#424242\">" << xmlText(n.subtype) << "</text>\n";
        out << "  </g>\n";
    }
    out << "  </g>\n  <g id=\"legend\" font-size=\"9\">\n";
    double x = kMargin;
    const double y = p.height + 4;
    for (int st : legendOrder()) {
        StatusColours c = statusColours(st);
        const std::string name = statusName(st);
        const double w = chipWidth(st);
        out << "    <rect x=\"" << num(x) << "\" y=\"" << num(y) << "\" width=\"" << num(w)
            << "\" height=\"16\" rx=\"3\" fill=\"" << c.fill << "\" stroke=\"" << c.line << "\"/><text x=\""
            << num(x + w / 2) << "\" y=\"" << num(y + 11.5) << "\" text-anchor=\"middle\">" << name << "</text>\n";
        x += w + 4;
    }
    out << "    <text x=\"" << num(x + 4) << "\" y=\"" << num(y + 11.5) << "\">dashed line: critical</text>\n"
        << "  </g>\n</svg>\n";
    return out.str();
}

}  // namespace

const std::vector<ExportFormatInfo> &exportFormats()
{
    static const std::vector<ExportFormatInfo> formats = {
        {ExportFormat::GraphMl, "graphml", ".graphml", "application/graphml+xml"},
        {ExportFormat::DrawIo, "drawio", ".drawio", "application/vnd.jgraph.mxfile"},
        {ExportFormat::Svg, "svg", ".svg", "image/svg+xml"},
    };
    return formats;
}

const ExportFormatInfo *exportFormatNamed(const std::string &name)
{
    for (const ExportFormatInfo &f : exportFormats())
        if (name == f.name)
            return &f;
    return nullptr;
}

const ExportFormatInfo *exportFormatOfFile(const std::string &file)
{
    std::string lower = file;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const ExportFormatInfo &f : exportFormats()) {
        const size_t n = std::strlen(f.extension);
        if (lower.size() > n && lower.compare(lower.size() - n, n, f.extension) == 0)
            return &f;
    }
    return nullptr;
}

std::string exportSubmap(const MapModel &m, int submap, ExportFormat format, const SymbolCentres &positions)
{
    Placed p(m, submap, positions);
    switch (format) {
    case ExportFormat::GraphMl: return graphml(m, submap, p);
    case ExportFormat::DrawIo: return drawio(submap, p);
    case ExportFormat::Svg: return svg(m, submap, p);
    }
    return std::string();
}

bool layoutPositions(const MapModel &m, int submap, SymbolCentres &positions, std::string &error)
{
    const char *engine = submapLayoutEngine(m, submap);
    if (std::strcmp(engine, "dot") != 0) {
        positions = gridPositions(m, submap);
        return true;
    }
    std::map<std::string, std::pair<double, double>> named;
    if (!layoutNodes(renderSubmapDot(m, submap, true), engine, named, error))
        return false;
    for (const auto &[name, xy] : named)
        if (name.size() > 1 && name[0] == 's' && name.find_first_not_of("0123456789", 1) == std::string::npos)
            positions[std::atoi(name.c_str() + 1)] = xy;
    return true;
}

std::string exportFileName(const MapModel &m, int submap, const ExportFormatInfo &format)
{
    std::string name = submapTitle(m, submap);
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_')
            c = '_';
    if (name.empty() || name[0] == '.')
        name = "submap" + name;
    return name + "-" + std::to_string(submap) + format.extension;
}

}  // namespace tqmap
