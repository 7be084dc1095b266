// Export of one submap as a file that other drawing and graph programs open:
// GraphML, the uncompressed diagram XML of draw.io, or a stand-alone SVG.
//
// What a file holds: every icon symbol of the submap as a node whose id is
// "s<symbol id>" (the ids of the web view's drawing), with its position, size,
// label (the name the views give it), symbol type, kind (graph or vertex),
// object, selection name and effective status (name and value, and its
// colours); and every connection whose two ends are icon symbols of the
// submap, as an edge "s<symbol id>" from its first end to its second, with
// its label, status and colour. A graph's node names the submap it holds.
// Connections with an end elsewhere are left out, as the drawings leave them.
//
// Texts: every text of the map is written as XML text or attribute value:
// the markup characters are escaped, and bytes that are not UTF-8, and the
// control characters XML 1.0 cannot carry, become U+FFFD. Each document is
// UTF-8 XML 1.0 that a standard XML parser reads.
//
// Positions: taken in points with the origin at the bottom left (as the
// layout gives them: renderSvg, the web view's Layout); each file has its
// origin at the top left with y growing down, and every node inside the
// picture. A symbol without a position goes in a row below the others.
//
// Thread safety: the functions read only their arguments (layoutPositions
// takes Graphviz's lock, as renderSvg does).
#ifndef TQ_TOOLS_TQMAP_EXPORT_H
#define TQ_TOOLS_TQMAP_EXPORT_H

#include "tools/tqmap/tqmap.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace tqmap {

enum class ExportFormat { GraphMl, DrawIo, Svg };

struct ExportFormatInfo {
    ExportFormat format;
    const char *name;        // as asked for: "graphml", "drawio", "svg"
    const char *extension;   // of the file name, with its dot
    const char *mediaType;   // the HTTP Content-Type
};

// The formats, in the order the views offer them.
const std::vector<ExportFormatInfo> &exportFormats();
// The format of this name; null for any other name.
const ExportFormatInfo *exportFormatNamed(const std::string &name);
// The format a file name's extension stands for (".graphml", ".drawio",
// ".svg", any case); null for any other.
const ExportFormatInfo *exportFormatOfFile(const std::string &file);

// The document of a submap of the map in the format; the submap must be one
// of m.submaps.
std::string exportSubmap(const MapModel &m, int submap, ExportFormat format, const SymbolCentres &positions);

// Lays the submap out as the web view does (the ranked layout, or the grid
// beyond its bounds, placed without Graphviz; no time budget) and gives each
// icon symbol's centre. False with Graphviz's message in `error`.
bool layoutPositions(const MapModel &m, int submap, SymbolCentres &positions, std::string &error);

// A file name for the export: the submap's title with every character other
// than an ASCII letter, digit, '.', '-' or '_' as '_', then "-<id>" and the
// format's extension ("Fabric_A-12.graphml"). Safe in a header and a path.
std::string exportFileName(const MapModel &m, int submap, const ExportFormatInfo &format);

}  // namespace tqmap

#endif
