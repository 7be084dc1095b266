// tqmap export: one submap as GraphML, draw.io XML or SVG.
#include "tools/tqmap/cli/commands.h"

#include "tools/tqmap/export.h"

#include <cstdio>
#include <fstream>

namespace tqmap {

int cmdExport(const std::string &path, int submap, const std::string &format, const std::string &output)
{
    auto complain = [](const std::string &what) { std::fprintf(stderr, "tqmap: %s\n", what.c_str()); };
    const bool toStdout = output.empty() || output == "-";
    const ExportFormatInfo *f = !format.empty() ? exportFormatNamed(format)
                                : toStdout      ? nullptr
                                                : exportFormatOfFile(output);
    if (f == nullptr) {
        complain("export: give --format graphml, drawio or svg (or an output file named .graphml, .drawio or .svg)");
        return kExitUsage;
    }
    MapDatabase db;
    MapModel m;
    std::string error;
    if (!db.open(path, error) || !loadModel(db, m, error, false)) {
        complain(error);
        return kExitUsage;
    }
    const int id = submap != 0 ? submap : m.rootSubmap;
    if (m.submaps.count(id) == 0) {
        complain("no submap " + std::to_string(id) + " (tqmap tree lists them)");
        return kExitFailed;
    }
    SymbolCentres positions;
    if (!layoutPositions(m, id, positions, error)) {
        complain(error);
        return kExitFailed;
    }
    const std::string doc = exportSubmap(m, id, f->format, positions);
    if (toStdout) {
        std::fwrite(doc.data(), 1, doc.size(), stdout);
        return std::fflush(stdout) == 0 ? kExitOk : kExitFailed;
    }
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << doc;
    out.close();
    if (!out) {
        std::remove(output.c_str());
        complain("cannot write " + output);
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace tqmap
