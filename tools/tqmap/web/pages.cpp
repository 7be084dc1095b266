// The web view's pages and assets, all served by the binary (no network).
#include "tools/tqmap/web/server.h"

#include "tools/tqmap/web/assets.h"
#include "tools/tqmap/past.h"

#include <httplib.h>

namespace tqmap {

namespace {

// A text as the value of a double-quoted attribute.
std::string htmlAttribute(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '"': out += "&quot;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

// One shell for every page; the script reads the view from the body.
std::string shell(const std::string &view, int submap)
{
    return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
           "<title>map</title><link rel=\"stylesheet\" href=\"/static/app.css\"></head>\n"
           "<body data-view=\"" + view + "\" data-submap=\"" + std::to_string(submap) + "\" data-statuses=\"" +
           htmlAttribute(jsonText(statusesJson())) + "\">\n"
           "<header><nav id=\"crumbs\"></nav>"
           "<form id=\"search\" action=\"/search\"><input name=\"q\" id=\"q\" placeholder=\"find a device\"></form>"
           "<a href=\"/problems\">problems</a> <a href=\"/changes\">changes</a>"
           "<label>show at least <select id=\"min\"></select></label><span id=\"live\">connecting</span></header>\n"
           "<div id=\"banner\" hidden></div>\n"
           "<main><section id=\"view\"></section><aside id=\"details\"><p class=\"hint\">Click a symbol for its "
           "details.</p></aside></main>\n"
           "<footer id=\"legend\"></footer>\n<script src=\"/static/nav.js\"></script><script src=\"/static/past.js\"></script>"
           "<script src=\"/static/app.js\"></script>\n<script src=\"/static/export.js\"></script>\n</body></html>\n";
}

}  // namespace

void addPageRoutes(httplib::Server &server, MapView &view)
{
    auto page = [](httplib::Response &res, const std::string &html) {
        res.set_header("Cache-Control", "no-store");
        res.set_content(html, "text/html; charset=utf-8");
    };
    server.Get("/", [&view](const httplib::Request &req, httplib::Response &res) {
        // The query (?live=0, ?at= and the like) goes along.
        size_t query = req.target.find('?');
        res.set_redirect("/submap/" + std::to_string(view.model()->rootSubmap) +
                         (query != std::string::npos ? req.target.substr(query) : std::string()));
    });
    server.Get(R"(/submap/(\d+))", [&view, page](const httplib::Request &req, httplib::Response &res) {
        if (pinPageTime(req, res))
            return;
        int id = std::atoi(req.matches[1].str().substr(0, 9).c_str());
        // At a past time the submap may be gone now; a time the history cannot
        // show still gets the page, which says so.
        std::shared_ptr<const MapModel> m = view.model();
        if (req.has_param("at")) {
            std::string error;
            if (std::optional<int64_t> at = parseTime(req.get_param_value("at"), nowMs()))
                if (auto past = view.modelAt(*at, error, id))
                    m = past;
        }
        if (m->submaps.count(id) == 0) {
            res.status = 404;
            res.set_content("no submap " + std::to_string(id) + "\n", "text/plain");
            return;
        }
        page(res, shell("submap", id));
    });
    for (const char *name : {"problems", "changes", "search"}) {
        std::string v = name;
        server.Get("/" + v, [v, page](const httplib::Request &req, httplib::Response &res) {
            if (!pinPageTime(req, res))
                page(res, shell(v, 0));
        });
    }
    server.Get("/static/app.css", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(web::appCss.data(), web::appCss.size(), "text/css");
    });
    server.Get("/static/nav.js", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(web::navJs.data(), web::navJs.size(), "application/javascript");
    });
    server.Get("/static/app.js", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(web::appJs.data(), web::appJs.size(), "application/javascript");
    });
    server.Get("/static/past.js", [](const httplib::Request &, httplib::Response &res) {
        res.set_content(web::pastJs.data(), web::pastJs.size(), "application/javascript");
    });
}

}  // namespace tqmap
