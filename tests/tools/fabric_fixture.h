// A core-edge fabric on one submap, written through the map platform, and a
// `tqmap serve` on it: for the tests of the layered drawing over HTTP and in
// a browser.
#ifndef TQ_TESTS_TOOLS_FABRIC_FIXTURE_H
#define TQ_TESTS_TOOLS_FABRIC_FIXTURE_H

#include "ovw/ovw.h"
#include "serve_fixture.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace servetest {

// root > "Fabric" (a graph) > cores "core-<c>", edge switches "edge-<e>"
// joined to every core by an "ISL" link, and on each edge switch
// `perEdge` hosts and arrays ("host-<e>-<k>.san.example.net", "array-<e>-<k>
// primary disk pool": every third an array) by a "16G" link. Host 5 of edge 7 is critical, and so is the
// link edge-2 - core-1 (failedLink). `looseCount` workstations "ws-<k>" have no
// connections; the last of them is major.
struct FabricMap {
    FabricMap(int coreCount, int edgeCount, int perEdge, int looseCount = 0)
    {
        db = root.file("maps/fabric.db");
        tqtest::writeFile(root.file("maps/.keep"), "");
        setenv("OVW_MAPDB", db.c_str(), 1);
        if (OVwInit() != 0)
            return;
        OVwMapInfo *map = OVwGetMapInfo();
        OVwObjectId fab = OVwDbCreateObjectBySelectionName("P;Fabric;default");
        submap = OVwCreateSubmap(map, fab, OVwGraphSubmap, 0, "Fabric", 0, 0);
        fabricSymbol = OVwCreateSymbol(map, map->root_submap_id, fab, "Network:Fabric", "Fabric", OVwStatusNormal, 2,
                                       nullptr, 0);
        auto device = [&](const std::string &name, const char *type) {
            OVwObjectId o = OVwDbCreateObjectBySelectionName(("O;" + name + ";default").c_str());
            return OVwCreateSymbol(map, submap, o, type, name.c_str(), OVwStatusNormal, 3, nullptr, 0);
        };
        auto link = [&](int a, int z, const std::string &an, const std::string &zn, const char *label) {
            OVwObjectId o = OVwDbCreateObjectBySelectionName(("O;" + an + ";O;" + zn + ";0;default").c_str());
            return OVwCreateConnSymbol(map, o, a, z, "Connection:FC", label, OVwStatusNormal, 3, 0);
        };
        for (int c = 0; c < coreCount; ++c)
            cores.push_back(device("core-" + std::to_string(c), "Connector:FC Switch"));
        for (int e = 0; e < edgeCount; ++e) {
            std::string en = "edge-" + std::to_string(e);
            edges.push_back(device(en, "Connector:FC Switch"));
            for (int c = 0; c < coreCount; ++c) {
                int l = link(edges.back(), cores[static_cast<size_t>(c)], en, "core-" + std::to_string(c), "ISL");
                if (e == 2 && c == 1)
                    failedLink = l;
            }
            leaves.emplace_back();
            for (int k = 0; k < perEdge; ++k) {
                bool array = k % 3 == 2;
                // Long labels: the drawing must cut them to their place.
                std::string n = (array ? "array-" : "host-") + std::to_string(e) + "-" + std::to_string(k) +
                                (array ? " primary disk pool" : ".san.example.net");
                leaves.back().push_back(device(n, array ? "Storage:Disk Array" : "Computer:Server"));
                leafLinks.push_back(link(leaves.back().back(), edges.back(), n, en, "16G"));
            }
        }
        for (int k = 0; k < looseCount; ++k)
            loose.push_back(device("ws-" + std::to_string(k), "Computer:Workstation"));
        if (!loose.empty())
            OVwSetStatusOnSymbol(map, loose.back(), OVwStatusMajor);
        OVwSetStatusOnSymbol(map, leaves[7][5], OVwStatusCritical);
        OVwSetStatusOnSymbol(map, failedLink, OVwStatusCritical);
        OVwFreeMapInfo(map);
        OVwDone();
        unsetenv("OVW_MAPDB");
        server = std::make_unique<Server>(db);
    }

    tqtest::TempRoot root;
    std::string db;
    int submap = 0, fabricSymbol = 0, failedLink = 0;
    std::vector<int> cores, edges;
    std::vector<std::vector<int>> leaves;   // per edge switch
    std::vector<int> leafLinks;             // in the order of the leaves
    std::vector<int> loose;
    std::unique_ptr<Server> server;
};

}  // namespace servetest

#endif
