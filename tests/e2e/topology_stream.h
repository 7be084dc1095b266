// A long, varied message stream for the hardening tests, in the JSON Lines
// form that tqstream encodes: a root graph and fabrics, each with devices,
// links, device properties, status changes, icon and label changes, and a
// content list that leaves a device out (so that one message takes that
// vertex off the fabric's submap, with its link).
#ifndef TQ_TESTS_E2E_TOPOLOGY_STREAM_H
#define TQ_TESTS_E2E_TOPOLOGY_STREAM_H

#include <nlohmann/json.hpp>

#include <string>

namespace tqcheck {

inline std::string topologyStream(int fabrics, int devices)
{
    using json = nlohmann::ordered_json;
    const std::string proto = "1.3.6.1.2.1.2.2.1.3.1";
    std::string out;
    auto add = [&out](const json &line) { out += line.dump() + "\n"; };
    auto graph = [&](const std::string &moid, const json &parent, const std::string &name, const std::string &uid,
                     const json &contents, int end) {
        add(json{{"type", "graph"},       {"moid", moid},          {"parent_protocol", parent.is_null() ? json() : json(proto)},
                 {"parent_name", parent}, {"protocol", proto},     {"name", name},
                 {"layout", "1"},         {"background", nullptr}, {"icon", proto + ".11"},
                 {"label", name},         {"details", "fabric " + name}, {"unique_id", uid},
                 {"contents", contents},  {"end", end}});
    };

    graph("san", nullptr, "SAN", "GSAN", json::array(), 1);
    int link = 0;
    for (int f = 0; f < fabrics; ++f) {
        const std::string fab = "Fabric " + std::to_string(f);
        const std::string prefix = "F" + std::to_string(f);
        graph("fab-" + std::to_string(f), "SAN", fab, "G" + prefix, json::array(), 1);
        auto device = [&](int d) { return prefix + "/d" + std::to_string(d); };
        auto uid = [&](int d) { return prefix + "d" + std::to_string(d); };
        for (int d = 0; d < devices; ++d) {
            add(json{{"type", "vertex"}, {"identifier", 2},      {"graph_protocol", proto}, {"graph_name", fab},
                     {"protocol", "1"},  {"name", device(d)},    {"status", "3"},
                     {"icon", proto + (d % 3 == 0 ? ".20" : ".30")}, {"label", "d" + std::to_string(d)},
                     {"details", nullptr}, {"unique_id", uid(d)}});
        }
        for (int d = 1; d < devices; ++d) {
            ++link;
            add(json{{"type", "arc"},        {"moid", "link-" + std::to_string(link)}, {"graph_protocol", proto},
                     {"graph_name", fab},    {"binding", "7"},     {"a_endpoint", "NULL:1"},
                     {"a_name", device(d - 1)}, {"z_endpoint", "NULL:1"}, {"z_name", device(d)},
                     {"arc_id", std::to_string(link)}, {"icon", proto + ".50"}, {"label", "16G"},
                     {"details", nullptr},   {"status", "3"}});
        }
        for (int d = 0; d < devices; ++d) {
            add(json{{"type", "common_properties"}, {"common_name", uid(d)}, {"name", device(d)},
                     {"state", "online"},           {"device_type", d % 3 == 0 ? "FC switch" : "server"},
                     {"management_url", "1https://192.0.2." + std::to_string(10 + d) + "/"},
                     {"capacity", std::to_string(8 * (d + 1)) + " ports"}, {"serial", "SN-" + uid(d)},
                     {"vendor", "Example Networks"}, {"launch_flag", "TRUE"}, {"edfi_flag", "FALSE"},
                     {"node_flag", d % 2 == 0 ? "TRUE" : "FALSE"}});
        }
        for (int d = 0; d < devices; d += 3) {
            add(json{{"type", "vertex_status"}, {"unique_id", uid(d)}, {"name", device(d)},
                     {"status", std::to_string(1 + d % 4)}, {"state", "state " + std::to_string(d)}});
        }
        const int firstLink = link - devices + 2;
        add(json{{"type", "arc_status"}, {"binding", "7"},      {"a_endpoint", "NULL:1"}, {"a_name", device(0)},
                 {"z_endpoint", "NULL:1"}, {"z_name", device(1)}, {"arc_index", std::to_string(firstLink)},
                 {"status", "1"},        {"moid", "link-" + std::to_string(firstLink)}});
        add(json{{"type", "change_icon"}, {"unique_id", uid(1)}, {"icon", proto + ".41"}});
        add(json{{"type", "change_label"}, {"unique_id", uid(2)}, {"label", "d2 (core)"}});
        add(json{{"type", "graph_update"}, {"protocol", proto}, {"name", fab}, {"icon", proto + ".10"},
                 {"label", fab + " (production)"}});
        // The fabric's content list without its last device: reconciliation
        // takes that vertex off the fabric, with its link.
        json contents = json::array();
        for (int d = 0; d + 1 < devices; ++d)
            contents.push_back(json{{"kind", "vertex"}, {"protocol", "1"}, {"name", device(d)}});
        add(json{{"type", "content_ids"}, {"protocol", proto}, {"name", fab}, {"contents", contents}, {"end", 1}});
    }
    return out;
}

}  // namespace tqcheck

#endif
