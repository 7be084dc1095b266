// TopologyAdapter vertex operations: creating vertices in graphs, changing
// their icon, label and status, listing and deleting them.
#include "adapter/tqot.h"
#include "adapter/lists.h"
#include "adapter/ovtrace.h"
#include "adapter/records.h"

#include "log/log.h"

#include <cstdlib>

namespace {

// Object id of a selection name; a name that could not be built resolves to nothing.
OVwObjectId resolve(const char *selectionName)
{
    return selectionName != nullptr ? OVwDbSelectionNameToObjectId(selectionName) : 0;
}

}  // namespace

OVwObjectId TopologyAdapter::tqotCreateVertexInBox(const char *graphProtocol, const char *graphName,
                                                   int32_t vertexProtocol, const char *vertexName,
                                                   const char *iconKey, const char *label,
                                                   octetString * /*details*/, int32_t statusNumber)
{
    TQ_TRACE_SCOPE("tqotCreateVertexInBox");
    // What is pending afterwards tells about this creation alone.
    pendingError = 0;
    TqSelectionName vertexSel;
    TqSelectionName graphSel;
    const char *v = name(protocol(vertexProtocol), vertexName, vertexSel);
    const char *g = name(graphProtocol, graphName, graphSel);
    if (v == nullptr || g == nullptr) {
        TQ_TRACE_MSG("no selection name");
        return creationFailed();
    }
    OVwObjectId object = createVertex(g, v, iconKey, label, statusNumber, OVwOwnStatusSource);
    return object != 0 ? object : creationFailed();
}

OVwObjectId TopologyAdapter::tqotCreateVertexInGraph(const char *graphProtocol, const char *graphName,
                                                     int32_t vertexProtocol, const char *vertexName,
                                                     const char *iconKey, const char *label,
                                                     octetString * /*details*/, int32_t statusNumber)
{
    TQ_TRACE_SCOPE("tqotCreateVertexInGraph");
    // What is pending afterwards tells about this creation alone.
    pendingError = 0;
    TqSelectionName vertexSel;
    TqSelectionName graphSel;
    const char *v = name(protocol(vertexProtocol), vertexName, vertexSel);
    const char *g = name(graphProtocol, graphName, graphSel);
    if (v == nullptr || g == nullptr) {
        TQ_TRACE_MSG("no selection name");
        return creationFailed();
    }
    OVwObjectId object = createVertex(g, v, iconKey, label, statusNumber, OVwOwnStatusSource);
    return object != 0 ? object : creationFailed();
}

OVwObjectId TopologyAdapter::createVertex(const char *containerSelectionName, const char *vertexSelectionName,
                                          const char *iconKey, const char *label, int32_t statusNumber,
                                          int32_t statusSource)
{
    TQ_TRACE_SCOPE("createVertex");
    if (containerSelectionName == nullptr) {
        TQ_TRACE_MSG("no selection name");
        return 0;
    }
    OVwObjectId container = OVwDbSelectionNameToObjectId(containerSelectionName);
    if (container == 0) {
        TQ_OV_ERROR();
        refuse(TQOT_ERR_NO_CONTAINER);
        return 0;
    }
    return createVertex(container, vertexSelectionName, iconKey, label, statusNumber, statusSource);
}

OVwObjectId TopologyAdapter::createVertex(OVwObjectId container, const char *vertexSelectionName,
                                          const char *iconKey, const char *label, int32_t statusNumber,
                                          int32_t statusSource)
{
    TQ_TRACE_SCOPE("createVertex");
    if (mapHandle == nullptr) {
        TQ_TRACE_MSG("no map open");
        refuse(TQOT_ERR_NO_MAP);
        return 0;
    }
    if (vertexSelectionName == nullptr) {
        TQ_TRACE_MSG("no selection name");
        return 0;
    }

    ObjectInfoPtr info(OVwGetObjectInfo(mapHandle, container));
    if (info == nullptr) {
        TQ_OV_ERROR();
        return 0;
    }
    OVwSubmapId childSubmap = info->child_submap_id;

    OVwObjectId object = OVwDbSelectionNameToObjectId(vertexSelectionName);
    if (object == 0) {
        object = OVwDbCreateObjectBySelectionName(vertexSelectionName);
        if (object == 0) {
            TQ_OV_ERROR();
            return 0;
        }
        setTypeField(object, TQOT_KIND_VERTEX);
    } else if (singleSymbolPerContainer == 1) {
        SymbolListPtr symbols(OVwGetSymbolsByObject(mapHandle, object));
        if (!symbols) {
            TQ_TRACE_MSG("Object exists, but symbol list is null.");
            TQ_OV_ERROR();
        } else {
            const OVwSymbolInfo *shown = nullptr;
            for (int32_t i = 0; i < symbols->count && shown == nullptr; ++i) {
                if (symbols->symbols[i].submap_id == childSubmap)
                    shown = &symbols->symbols[i];
            }
            if (shown != nullptr) {
                // Already shown in this graph: bring the symbol up to date.
                TQ_TRACE_MSG("Vertex exists; setting status and label.");
                if (statusSource == OVwOwnStatusSource &&
                    OVwSetStatusOnSymbol(mapHandle, shown->symbol_id, status(statusNumber)) != 0)
                    TQ_OV_ERROR();
                if (label != nullptr && changeGraphLabel(childSubmap, vertexSelectionName, label) != 0)
                    TQ_TRACE_MSG("Could not set label.");
                if (iconKey != nullptr && changeGraphIcon(childSubmap, vertexSelectionName, iconKey) != 0)
                    TQ_TRACE_MSG("Could not set icon.");
                return object;
            }
        }
    }

    // The entry goes in before the symbol and stays if the symbol cannot be made.
    memberIndex.emplace(MemberKey(container, TQOT_KIND_VERTEX), object);

    OVwSymbolId symbol = OVwCreateSymbol(mapHandle, childSubmap, object, icon(iconKey), label,
                                         status(statusNumber), statusSource, nullptr, 0);
    if (symbol == 0) {
        TQ_OV_ERROR();
        return 0;
    }
    return object;
}

int32_t TopologyAdapter::tqotChangeVertexIconInGraph(int32_t vertexProtocol, const char *vertexName,
                                                     const char *iconKey)
{
    TQ_TRACE_SCOPE("tqotChangeVertexIconInGraph");
    return tqotChangeGraphIconInGraph(protocol(vertexProtocol), vertexName, iconKey);
}

int32_t TopologyAdapter::tqotChangeVertexLabelInGraph(int32_t vertexProtocol, const char *vertexName,
                                                      const char *label)
{
    TQ_TRACE_SCOPE("tqotChangeVertexLabelInGraph");
    return tqotChangeGraphLabelInGraph(protocol(vertexProtocol), vertexName, label);
}

int32_t TopologyAdapter::tqotChangeVertexStatus(int32_t vertexProtocol, const char *vertexName,
                                                int32_t statusNumber)
{
    TQ_TRACE_SCOPE("tqotChangeVertexStatus");
    if (mapHandle == nullptr) {
        TQ_TRACE_MSG("no map open");
        return TQOT_ERR_NO_MAP;
    }
    TqSelectionName vertexSel;
    const char *sel = name(protocol(vertexProtocol), vertexName, vertexSel);
    if (sel == nullptr) {
        TQ_TRACE_MSG("no selection name");
        // The refusal's own code: no status is set on an object of another name.
        const int32_t code = pendingError;
        pendingError = 0;
        return code != 0 ? code : TQOT_ERR_NAME_TOO_LONG;
    }
    return setStatusOnObject("tqotChangeVertexStatus", sel, statusNumber);
}

VertexList *TopologyAdapter::tqotGetVerticesInGraph(const char *graphProtocol, const char *graphName)
{
    TQ_TRACE_SCOPE("tqotGetVerticesInGraph");
    return makeResultList<VertexList>(
        "tqotGetVerticesInGraph",
        memberSelectionNames("tqotGetVerticesInGraph", graphProtocol, graphName, TQOT_KIND_VERTEX),
        [this](VertexEntry &entry, char *text) {
            entry.selectionName = text;
            entry.name = unname(text);
            entry.protocol = unprotocol(text);
        });
}

int32_t TopologyAdapter::tqotDeleteVertexFromGraph(const char *graphProtocol, const char *graphName,
                                                   int32_t vertexProtocol, const char *vertexName)
{
    TQ_TRACE_SCOPE("tqotDeleteVertexFromGraph");
    if (vertexName == nullptr) {
        TQ_TRACE_MSG("vertexName is null");
        return -1;
    }
    if (mapHandle == nullptr) {
        TQ_TRACE_MSG("no map open");
        return -1;
    }
    TqSelectionName graphSel;
    TqSelectionName vertexSel;
    OVwObjectId graph = resolve(name(graphProtocol, graphName, graphSel));
    if (graph == 0) {
        // Never the root submap: a graph that does not resolve holds nothing.
        TQ_TRACE_MSG("no such graph");
        refuse(TQOT_ERR_NO_CONTAINER);
        return TQOT_ERR_NO_CONTAINER;
    }
    const char *sel = name(protocol(vertexProtocol), vertexName, vertexSel);
    if (sel == nullptr) {
        TQ_TRACE_MSG("no selection name");
        return -1;
    }
    return deleteGraph(graph, sel, TQOT_KIND_VERTEX);
}

int32_t TopologyAdapter::tqotFreeVertexList(VertexList *list)
{
    TQ_TRACE_SCOPE("tqotFreeVertexList");
    freeResultList(list, &VertexEntry::selectionName);
    return 0;
}
