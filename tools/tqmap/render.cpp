// Rendering DOT text into a picture with the Graphviz library.
#include "tools/tqmap/tqmap.h"

#include "host/child.h"

#include <graphviz/cgraph.h>
#include <graphviz/gvc.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <iterator>
#include <memory>
#include <mutex>

namespace tqmap {

namespace {

// The Graphviz library keeps process-wide state (its error callback, its
// text-measuring plugin's caches) and is not safe to use from two threads at
// once: the web view's workers take turns, each render whole under this lock.
std::mutex g_graphviz;

// Graphviz reports through a process-wide callback; collect its text for
// the current render.
std::string g_graphvizMessages;

int collectMessage(char *text)
{
    if (text != nullptr)
        g_graphvizMessages += text;
    return 0;
}

// One Graphviz context for the process, made at the first render and kept:
// the text-measuring plugin remembers the last font it measured with by a
// pointer into the context, so a context freed between two renders of one
// process (the web view) would leave it pointing at freed memory.
GVC_t *sharedContext()
{
    static GVC_t *context = gvContext();
    return context;
}
struct GraphDeleter {
    void operator()(Agraph_t *g) const { agclose(g); }
};

std::string trimmed(std::string s)
{
    while (!s.empty() && (s.back() == '\n' || s.back() == ' '))
        s.pop_back();
    return s;
}

// One render, whole under the Graphviz lock: the messages Graphviz reports
// are collected for it, and the DOT text is read and laid out.
class LaidOutGraph {
public:
    LaidOutGraph(const std::string &dot, const char *engine, std::string &error)
        : lock_(g_graphviz), previous_(agseterrf(collectMessage))
    {
        g_graphvizMessages.clear();
        agreseterrors();
        gvc_ = sharedContext();
        if (gvc_ == nullptr) {
            error = "Graphviz could not start";
            return;
        }
        graph_.reset(agmemread(dot.c_str()));
        if (!graph_) {
            error = "Graphviz could not read the DOT text: " + trimmed(g_graphvizMessages);
            return;
        }
        // An error that Graphviz reports without failing the call (a node
        // the layout cannot place) still spoils the picture: a failure too.
        bool laidOut = gvLayout(gvc_, graph_.get(), engine) == 0;
        if (!laidOut || agerrors() >= AGERR) {
            error = "Graphviz layout failed: " + trimmed(g_graphvizMessages);
            if (laidOut)
                gvFreeLayout(gvc_, graph_.get());
            graph_.reset();
            return;
        }
        laidOut_ = true;
    }
    ~LaidOutGraph()
    {
        if (laidOut_)
            gvFreeLayout(gvc_, graph_.get());
        graph_.reset();
        agseterrf(previous_);
    }
    LaidOutGraph(const LaidOutGraph &) = delete;
    LaidOutGraph &operator=(const LaidOutGraph &) = delete;

    bool ok() const { return laidOut_; }
    GVC_t *context() const { return gvc_; }
    Agraph_t *graph() const { return graph_.get(); }

private:
    std::lock_guard<std::mutex> lock_;
    agusererrf previous_;
    GVC_t *gvc_ = nullptr;
    std::unique_ptr<Agraph_t, GraphDeleter> graph_;
    bool laidOut_ = false;
};

// The centre of every node of a laid-out graph, by name.
void nodeCentres(Agraph_t *g, std::map<std::string, std::pair<double, double>> &positions)
{
    for (Agnode_t *n = agfstnode(g); n != nullptr; n = agnxtnode(g, n))
        positions[agnameof(n)] = {ND_coord(n).x, ND_coord(n).y};
}

}  // namespace

bool renderImage(const std::string &dot, const std::string &format, const std::string &file, std::string &error,
                 const char *engine)
{
    LaidOutGraph run(dot, engine, error);
    if (!run.ok())
        return false;
    // The file is opened here, not by Graphviz, so that a place that cannot
    // be written is reported as a failure.
    std::FILE *out = std::fopen(file.c_str(), "wb");
    if (out == nullptr) {
        error = "cannot write " + file + ": " + std::strerror(errno);
        return false;
    }
    int rc = gvRender(run.context(), run.graph(), format.c_str(), out);
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

bool layoutNodes(const std::string &dot, const char *engine,
                 std::map<std::string, std::pair<double, double>> &positions, std::string &error)
{
    LaidOutGraph run(dot, engine, error);
    if (!run.ok())
        return false;
    nodeCentres(run.graph(), positions);
    return true;
}

bool renderSvg(const std::string &dot, const char *engine, std::string &svg,
               std::map<std::string, std::pair<double, double>> &positions, std::string &error)
{
    LaidOutGraph run(dot, engine, error);
    if (!run.ok())
        return false;
    nodeCentres(run.graph(), positions);
    char *data = nullptr;
    unsigned int length = 0;
    int rc = gvRenderData(run.context(), run.graph(), "svg", &data, &length);
    if (rc == 0 && data != nullptr)
        svg.assign(data, length);
    gvFreeRenderData(data);
    if (rc != 0) {
        error = "Graphviz could not render SVG: " + trimmed(g_graphvizMessages);
        return false;
    }
    return true;
}

// The layout program's answer on its standard output: "ok", then the
// positions ("name x y" lines), a blank line and the SVG; or "error" and the
// message.
int layoutWorkerMain(const char *engine)
{
    std::string dot(std::istreambuf_iterator<char>(std::cin), {});
    std::string svg, error;
    std::map<std::string, std::pair<double, double>> positions;
    std::ostringstream text;
    if (!renderSvg(dot, engine, svg, positions, error)) {
        text << "error\n" << error;
    } else {
        text.precision(17);
        text << "ok\n";
        for (const auto &[name, xy] : positions)
            text << name << ' ' << xy.first << ' ' << xy.second << '\n';
        text << '\n' << svg;
    }
    std::cout << text.str();
    std::cout.flush();
    return std::cout ? 0 : 1;
}

bool renderSvgWithin(const std::string &dot, const char *engine, int budgetMs, std::string &svg,
                     std::map<std::string, std::pair<double, double>> &positions, std::string &error,
                     bool &timedOut)
{
    timedOut = budgetMs <= 0;
    if (timedOut)
        return false;
    std::string program = ownProgramPath();
    if (program.empty()) {
        error = "the layout program cannot be found: the path of this program is not known";
        return false;
    }
    std::string answer;
    switch (runProgramWithin(program, {kLayoutWorkerFlag, engine}, dot, budgetMs, answer, error)) {
    case ChildEnd::PastBudget:
        timedOut = true;
        return false;
    case ChildEnd::Failed:
        error = "the layout program failed: " + error;
        return false;
    case ChildEnd::Answered:
        break;
    }
    std::istringstream in(answer);
    std::string line;
    std::getline(in, line);
    if (line != "ok") {
        error = answer.compare(0, 6, "error\n") == 0 ? answer.substr(6) : "the layout ended without an answer";
        return false;
    }
    while (std::getline(in, line) && !line.empty()) {
        std::istringstream fields(line);
        std::string name;
        double x = 0, y = 0;
        if (fields >> name >> x >> y)
            positions[name] = {x, y};
    }
    svg.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

}  // namespace tqmap
