// Rendering DOT text into a picture with the Graphviz library.
#include "tools/tqmap/tqmap.h"

#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace tqmap {

namespace {

// Graphviz reports through a process-wide callback; collect its text for
// the current render.
std::string g_graphvizMessages;

int collectMessage(char *text)
{
    if (text != nullptr)
        g_graphvizMessages += text;
    return 0;
}

struct ContextDeleter {
    void operator()(GVC_t *c) const { gvFreeContext(c); }
};
struct GraphDeleter {
    void operator()(Agraph_t *g) const { agclose(g); }
};

std::string trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

}  // namespace

bool renderImage(const std::string &dot, const std::string &format, const std::string &file, std::string &error,
                 const char *engine)
{
    g_graphvizMessages.clear();
    agusererrf previous = agseterrf(collectMessage);
    struct Restore {
        agusererrf f;
        ~Restore() { agseterrf(f); }
    } restore{previous};

    std::unique_ptr<GVC_t, ContextDeleter> gvc(gvContext());
    if (!gvc) {
        error = "Graphviz could not start";
        return false;
    }
    std::unique_ptr<Agraph_t, GraphDeleter> graph(agmemread(dot.c_str()));
    if (!graph) {
        error = "Graphviz could not read the DOT text: " + trimmed(g_graphvizMessages);
        return false;
    }
    if (gvLayout(gvc.get(), graph.get(), engine) != 0) {
        error = "Graphviz layout failed: " + trimmed(g_graphvizMessages);
        return false;
    }
    // The file is opened here, not by Graphviz, so that a place that cannot
    // be written is reported as a failure.
    std::FILE *out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) {
        gvFreeLayout(gvc.get(), graph.get());
        error = "cannot write " + file + ": " + std::strerror(errno);
        return false;
    }
    int rc = gvRender(gvc.get(), graph.get(), format.c_str(), out);
    gvFreeLayout(gvc.get(), graph.get());
    bool written = std::ferror(out) == 0;
    written = std::fclose(out) == 0 && written;
    if (rc != 0 || !written) {
        std::remove(file.c_str());
        error = "Graphviz could not write " + format + " to " + file;
        if (!g_graphvizMessages.empty())
            error += ": " + trimmed(g_graphvizMessages);
        return false;
    }
    if (!g_graphvizMessages.empty())
        std::fprintf(stderr, "tqmap: Graphviz: %s\n", trimmed(g_graphvizMessages).c_str());
    return true;
}

bool renderSvg(const std::string &dot, const char *engine, std::string &svg,
               std::map<std::string, std::pair<double, double>> &positions, std::string &error)
{
    g_graphvizMessages.clear();
    agusererrf previous = agseterrf(collectMessage);
    struct Restore {
        agusererrf f;
        ~Restore() { agseterrf(f); }
    } restore{previous};

    std::unique_ptr<GVC_t, ContextDeleter> gvc(gvContext());
    std::unique_ptr<Agraph_t, GraphDeleter> graph(gvc ? agmemread(dot.c_str()) : nullptr);
    if (!graph) {
        error = "Graphviz could not read the DOT text: " + trimmed(g_graphvizMessages);
        return false;
    }
    if (gvLayout(gvc.get(), graph.get(), engine) != 0) {
        error = "Graphviz layout failed: " + trimmed(g_graphvizMessages);
        return false;
    }
    for (Agnode_t *n = agfstnode(graph.get()); n != nullptr; n = agnxtnode(graph.get(), n))
        positions[agnameof(n)] = {ND_coord(n).x, ND_coord(n).y};
    char *data = nullptr;
    unsigned int length = 0;
    int rc = gvRenderData(gvc.get(), graph.get(), "svg", &data, &length);
    if (rc == 0 && data != nullptr)
        svg.assign(data, length);
    gvFreeRenderData(data);
    gvFreeLayout(gvc.get(), graph.get());
    if (rc != 0) {
        error = "Graphviz could not render SVG: " + trimmed(g_graphvizMessages);
        return false;
    }
    return true;
}

}  // namespace tqmap
