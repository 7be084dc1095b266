// Reading a graph's members back from the member index, shared by the
// graph, vertex and arc listings.
#include "adapter/tqot.h"

#include "daemon/log.h"

namespace {

// Rebuilds of the member index that one listing may make before it gives
// up on members the map no longer knows.
constexpr int kMaxListingRebuilds = 3;

}  // namespace

std::vector<char *> TopologyAdapter::memberSelectionNames(const char *operation, const char *graphProtocol,
                                                          const char *graphName, int32_t kind)
{
    std::vector<char *> names;
    if (mapHandle == nullptr) {
        AdapterTrace("%s(%d): %s", operation, __LINE__, "no map open");
        return names;
    }
    char graphSel[256];
    const char *sel = name(graphProtocol, graphName, graphSel);
    const OVwObjectId graph = sel != nullptr ? OVwDbSelectionNameToObjectId(sel) : 0;
    if (graph == 0)
        return names;

    for (int rebuilds = 0;; ++rebuilds) {
        // Copied out: a rebuild replaces the index.
        std::vector<OVwObjectId> members;
        auto range = memberIndex.equal_range(MemberKey(graph, kind));
        for (auto it = range.first; it != range.second; ++it)
            members.push_back(it->second);

        const bool lastTry = rebuilds >= kMaxListingRebuilds;
        bool outOfStep = false;
        for (OVwObjectId member : members) {
            char *text = OVwDbObjectIdToSelectionName(member);
            if (text == nullptr) {
                AdapterTrace("%s(%d): OV error: %s", operation, __LINE__, OVwErrorMsg(OVwError()));
                outOfStep = true;
                if (lastTry)
                    continue;
                break;
            }
            names.push_back(text);
        }
        if (!outOfStep)
            return names;
        if (lastTry) {
            AdapterTrace("%s(%d): %s", operation, __LINE__,
                         "member index still out of step with the map; unresolved members skipped");
            return names;
        }
        // The index is out of step with the map: rebuild it and read again.
        for (char *text : names)
            OVFree(text);
        names.clear();
        synchWithMap();
    }
}
