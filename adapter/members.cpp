// Helpers shared by the graph, vertex and arc operations: reading a graph's
// members back from the member index, and setting an object's status.
#include "adapter/tqot.h"
#include "adapter/records.h"

#include "log/log.h"

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
    TqSelectionName graphSel;
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

int32_t TopologyAdapter::setStatusOnObject(const char *operation, const char *selectionName, int32_t statusNumber)
{
    const OVwObjectId object = OVwDbSelectionNameToObjectId(selectionName);
    if (object == 0) {
        AdapterTrace("%s(%d): OV error: %s", operation, __LINE__, OVwErrorMsg(OVwError()));
        return TQOT_ERR_NO_OBJECT;
    }
    SymbolListPtr symbols(OVwGetSymbolsByObject(mapHandle, object));
    if (!symbols) {
        AdapterTrace("%s(%d): OV error: %s", operation, __LINE__, OVwErrorMsg(OVwError()));
        return TQOT_ERR_PLATFORM;
    }
    if (symbols->count == 0) {
        AdapterTrace("%s(%d): %s", operation, __LINE__, "the object has no symbol");
        return TQOT_ERR_NOT_SHOWN;
    }
    // Every symbol of the object, on whatever submap, gets the status.
    const int mapStatus = status(statusNumber);
    int32_t result = 0;
    for (int32_t i = 0; i < symbols->count; ++i) {
        if (OVwSetStatusOnSymbol(mapHandle, symbols->symbols[i].symbol_id, mapStatus) != 0) {
            AdapterTrace("%s(%d): OV error: %s", operation, __LINE__, OVwErrorMsg(OVwError()));
            result = TQOT_ERR_PLATFORM;
        }
    }
    return result;
}
