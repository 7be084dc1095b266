// The web view's scripts and style sheet (web/app.js, web/nav.js,
// web/export.js, web/past.js, web/app.css), embedded in the program when it
// is built (cmake/embed.cmake writes their bytes).
#ifndef TQ_TOOLS_TQMAP_WEB_ASSETS_H
#define TQ_TOOLS_TQMAP_WEB_ASSETS_H

#include <string_view>

namespace tqmap::web {

extern const std::string_view appJs;
extern const std::string_view appCss;
extern const std::string_view exportJs;
extern const std::string_view navJs;
extern const std::string_view pastJs;   // web/past.js: the map as it was

}  // namespace tqmap::web

#endif
