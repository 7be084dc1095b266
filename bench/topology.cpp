#include "topology.h"

#include <algorithm>
#include <stdexcept>

namespace tqbench {

namespace {

const char *const kLinkLabels[] = {"8G", "16G", "32G"};

const char *deviceIcon(int device)
{
    switch (device % 3) {
    case 0: return kSwitchIcon;
    case 1: return kServerIcon;
    default: return kArrayIcon;
    }
}

int ceilDiv(int a, int b) { return b > 0 ? (a + b - 1) / b : 0; }

}  // namespace

int Topology::fabricOf(int device) const
{
    return fabricCount() > 0 ? 1 + device / deviceBlock_ : 0;
}

Topology::Topology(int graphCount, int vertexCount, int arcCount, uint64_t seed)
{
    if (graphCount < 0 || vertexCount < 0 || arcCount < 0)
        throw std::invalid_argument("counts must not be negative");
    if (graphCount == 0 && (vertexCount > 0 || arcCount > 0))
        throw std::invalid_argument("vertices and arcs need at least one graph");

    for (int g = 0; g < graphCount; ++g) {
        Graph graph;
        graph.root = g == 0;
        graph.name = g == 0 ? "san" : "fabric" + std::to_string(g);
        graph.uniqueId = "G" + graph.name;
        graph.moid = "moid-" + graph.name;
        graph.label = g == 0 ? "SAN" : "Fabric " + std::to_string(g);
        graphs.push_back(std::move(graph));
    }
    members_.resize(graphs.size());
    const int devices = ceilDiv(vertexCount, 2);
    deviceBlock_ = std::max(1, ceilDiv(devices, fabricCount()));

    for (int k = 0; k < vertexCount; ++k) {
        Vertex v;
        v.device = k / 2;
        const std::string device = "d" + std::to_string(v.device);
        if (k % 2 == 0) {
            v.graph = 0;
            v.name = device;
            v.uniqueId = device;
        } else {
            v.graph = fabricOf(v.device);
            v.name = "f" + std::to_string(v.graph) + "/" + device;
            v.uniqueId = "F" + device;
        }
        v.label = device;
        v.icon = deviceIcon(v.device);
        members_[static_cast<size_t>(v.graph)].push_back(k);
        vertices.push_back(std::move(v));
    }

    // Where an arc goes when its fabric cannot hold it: the first graph with
    // two vertices to join.
    int fallback = -1;
    for (size_t g = 0; g < members_.size() && fallback < 0; ++g)
        if (members_[g].size() >= 2)
            fallback = static_cast<int>(g);
    if (arcCount > 0 && fallback < 0)
        throw std::invalid_argument("arcs need a graph with at least two vertices");

    const int arcBlock = std::max(1, ceilDiv(arcCount, fabricCount()));
    for (int i = 0; i < arcCount; ++i) {
        Rng rng(seed ^ (0xA5C0FFEE1234ull + 0x9E3779B97F4A7C15ull * static_cast<uint64_t>(i)));
        Arc arc;
        arc.index = i + 1;
        arc.moid = "arc" + std::to_string(arc.index);
        const int fabric = fabricCount() > 0 ? std::min(fabricCount(), 1 + i / arcBlock) : 0;
        const std::vector<int> &in = members_[static_cast<size_t>(fabric)];
        if (fabric > 0 && !in.empty() && (i % 10 == 9 || in.size() < 2)) {
            // A root-level device of the fabric joined to the fabric, drawn in the root graph.
            const int member = in[rng.below(in.size())];
            arc.binding = 6;
            arc.graph = 0;
            arc.a = member - 1;   // the device's root-level vertex
            arc.z = fabric;
            arc.icon = kMemberIcon;
            arc.label = "uplink";
        } else {
            arc.binding = 7;
            arc.graph = in.size() >= 2 ? fabric : fallback;
            const std::vector<int> &from = members_[static_cast<size_t>(arc.graph)];
            const size_t a = rng.below(from.size());
            size_t z = rng.below(from.size() - 1);
            if (z >= a)
                ++z;
            arc.a = from[a];
            arc.z = from[z];
            arc.icon = kLinkIcon;
            arc.label = kLinkLabels[rng.below(3)];
        }
        arcs.push_back(std::move(arc));
    }
}

}  // namespace tqbench
