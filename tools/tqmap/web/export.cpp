// The web view's export of a submap (GraphML, draw.io, SVG) and the script
// that offers it on the submap page.
#include "tools/tqmap/web/server.h"

#include "tools/tqmap/export.h"
#include "tools/tqmap/web/assets.h"

#include <httplib.h>

#include <cstdio>

namespace tqmap {

void addExportRoutes(httplib::Server &server, MapView &view)
{
    server.Get(R"(/api/submap/(\d+)/export)", [&view](const httplib::Request &req, httplib::Response &res) {
        // The map now, or with ?at=TIME as it was then (refused as the other
        // routes refuse it).
        const std::string &digits = req.matches[1];
        const int id = digits.size() < 10 ? std::atoi(digits.c_str()) : -1;
        auto snapshot = requestedModel(view, req, res, id);
        if (snapshot == nullptr)
            return;
        const MapModel &m = *snapshot;
        if (m.submaps.count(id) == 0) {
            res.status = 404;
            res.set_content(jsonText({{"error", "no submap " + digits}}), "application/json");
            return;
        }
        const ExportFormatInfo *format = exportFormatNamed(req.get_param_value("format"));
        if (format == nullptr) {
            res.status = 400;
            res.set_content(jsonText({{"error", "format must be graphml, drawio or svg"}}), "application/json");
            return;
        }
        // The positions of the drawing the page shows.
        std::string error;
        std::shared_ptr<const Layout> layout = view.layout(m, id, error);
        if (layout == nullptr) {
            std::fprintf(stderr, "tqmap serve: %s\n", error.c_str());
            res.status = 500;
            res.set_content(jsonText({{"error", "the map could not be read or drawn"}}), "application/json");
            return;
        }
        res.set_header("Cache-Control", "no-store");
        res.set_header("Content-Disposition", "attachment; filename=\"" + exportFileName(m, id, *format) + "\"");
        res.set_content(exportSubmap(m, id, format->format, layout->positions), format->mediaType);
    });
    server.Get("/static/export.js", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(web::exportJs.data(), web::exportJs.size(), "application/javascript");
    });
}

}  // namespace tqmap
