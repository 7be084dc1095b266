// Graph operations of the topology adapter: creation of root graphs and
// graphs in graphs, icon and label changes, listings from the member index,
// and removal of a member's symbol from its container.
#include "adapter/tqot.h"
#include "adapter/lists.h"
#include "adapter/ovtrace.h"
#include "adapter/records.h"
#include "log/log.h"

#include <cstdlib>
#include <memory>
#include <vector>

namespace {



// The symbol setter of an icon or label change: OVwSetSymbolType or
// OVwSetSymbolLabel applied to one symbol; negative on failure.
using SymbolSetter = int (*)(OVwMapInfo *map, OVwSymbolId symbol, const char *text);

int setSymbolType(OVwMapInfo *map, OVwSymbolId symbol, const char *type)
{
    return OVwSetSymbolType(map, symbol, type, 0);
}

// Common body of changeGraphIcon and changeGraphLabel: resolve the object,
// get its symbols, then apply the setter with the text that textOf() gives to
// its symbol on `container` (container form) or to every symbol
// (all-symbols form, `all`). 0, -1 on failure, TQOT_ERR_NO_SUCH_OBJECT
// when no object has the name, TQOT_ERR_NOT_SHOWN when it has no symbol
// there.
template <typename TextOf>
int changeSymbols(TraceScope &tqTraceScope_, OVwMapInfo *map, bool all, OVwSubmapId container,
                  const char *selectionName, TextOf textOf, SymbolSetter setter)
{
    if (map == nullptr) {
        TQ_TRACE_MSG("No map open.");
        return -1;
    }
    if (selectionName == nullptr) {
        TQ_TRACE_MSG("No selection name.");
        return TQOT_ERR_NO_SUCH_OBJECT;
    }
    OVwObjectId object = OVwDbSelectionNameToObjectId(selectionName);
    if (object == 0) {
        TQ_OV_ERROR();
        return TQOT_ERR_NO_SUCH_OBJECT;
    }
    SymbolListPtr list(OVwGetSymbolsByObject(map, object));
    if (!list) {
        TQ_OV_ERROR();
        return -1;
    }
    const char *text = textOf();
    int result = TQOT_ERR_NOT_SHOWN;
    for (int32_t i = 0; i < list->count; ++i) {
        const OVwSymbolInfo &symbol = list->symbols[i];
        if (!all && symbol.submap_id != container)
            continue;
        if (result == TQOT_ERR_NOT_SHOWN)
            result = 0;
        if (setter(map, symbol.symbol_id, text) < 0) {
            TQ_OV_ERROR();
            result = -1;
        }
        if (!all)
            break;
    }
    if (result == TQOT_ERR_NOT_SHOWN)
        TQ_TRACE_MSG("No symbol to change.");
    return result;
}

}  // namespace

OVwObjectId TopologyAdapter::tqotCreateRootGraph(const char *protocolName, const char *graphName,
                                                 int32_t layoutNumber, const char *background,
                                                 const char *iconKey, const char *label, octetString *)
{
    TQ_TRACE_SCOPE("tqotCreateRootGraph");
    // What is pending afterwards tells about this creation alone.
    pendingError = 0;
    TqSelectionName selection;
    if (name(protocolName, graphName, selection) == nullptr)
        return creationFailed();
    OVwObjectId result =
        createGraph(selection, mapHandle->root_submap_id, layoutNumber, background, iconKey, label, 1, nullptr);
    if (pendingError == TQOT_ERR_GRAPH_HAS_SYMBOL)
        pendingError = TQOT_ERR_ROOT_EXISTS;
    if (result == 0)
        return creationFailed();
    return result;
}

OVwObjectId TopologyAdapter::tqotCreateGraphInGraph(const char *parentProtocol, const char *parentName,
                                                    const char *protocolName, const char *graphName,
                                                    int32_t layoutNumber, const char *background,
                                                    const char *iconKey, const char *label, octetString *)
{
    TQ_TRACE_SCOPE("tqotCreateGraphInGraph");
    // What is pending afterwards tells about this creation alone.
    pendingError = 0;
    TqSelectionName parentSelection;
    TqSelectionName selection;
    if (name(parentProtocol, parentName, parentSelection) == nullptr ||
        name(protocolName, graphName, selection) == nullptr)
        return creationFailed();
    OVwObjectId parent = OVwDbSelectionNameToObjectId(parentSelection);
    ObjectInfoPtr parentInfo(OVwGetObjectInfo(mapHandle, parent));
    if (!parentInfo) {
        TQ_OV_ERROR();
        if (parent == 0)
            refuse(TQOT_ERR_NO_CONTAINER);
        return creationFailed();
    }
    OVwSubmapId container = parentInfo->child_submap_id;
    parentInfo.reset();
    // Whether the graph is shown on the parent's submap before this call: a
    // symbol drawn now gets its own index entry even when an older entry is
    // still there (its symbol deleted by an operator, the event not yet
    // handled), so that handling the event leaves the new one in place.
    bool shownBefore = false;
    if (OVwObjectId existing = OVwDbSelectionNameToObjectId(selection)) {
        SymbolListPtr symbols(OVwGetSymbolsByObject(mapHandle, existing));
        for (int32_t i = 0; symbols && i < symbols->count && !shownBefore; ++i)
            shownBefore = symbols->symbols[i].submap_id == container;
    }
    OVwObjectId result =
        createGraph(selection, container, layoutNumber, background, iconKey, label, 0, nullptr);
    if (result == 0)
        return creationFailed();
    // With one symbol per container, a graph already shown on the parent's
    // submap keeps its single index entry.
    if (singleSymbolPerContainer == 1 && shownBefore) {
        TQ_TRACE_MSG("Graph already in the member index.");
        return result;
    }
    memberIndex.emplace(MemberKey(parent, TQOT_KIND_GRAPH), result);
    return result;
}

OVwObjectId TopologyAdapter::createGraph(const char *selectionName, OVwSubmapId container, int32_t layoutNumber,
                                         const char *background, const char *iconKey, const char *label,
                                         uint8_t rootFlag, const OVwPosition *position)
{
    TQ_TRACE_SCOPE("createGraph");
    if (mapHandle == nullptr) {
        TQ_TRACE_MSG("No map open.");
        refuse(TQOT_ERR_NO_MAP);
        return 0;
    }
    if (selectionName == nullptr) {
        TQ_TRACE_MSG("No selection name.");
        return 0;
    }

    enum class Next { Submap, Symbol };
    Next next = Next::Submap;
    bool createdHere = false;

    OVwObjectId object = OVwDbSelectionNameToObjectId(selectionName);
    if (object == 0) {
        object = OVwDbCreateObjectBySelectionName(selectionName);
        if (object == 0) {
            TQ_OV_ERROR();
            return 0;
        }
        createdHere = true;
        setTypeField(object, TQOT_KIND_GRAPH);
    } else if (singleSymbolPerContainer != 1 && rootFlag == 0) {
        // One more symbol for the graph, no new submap.
        next = Next::Symbol;
    } else {
        SymbolListPtr list(OVwGetSymbolsByObject(mapHandle, object));
        if (!list) {
            TQ_TRACE_MSG("Object exists, but symbol list is null.");
            TQ_OV_ERROR();
        } else if (list->count == 0) {
            TQ_TRACE_MSG("Object exists, but does not have any symbols.");
        } else {
            bool shown = false;
            for (int32_t i = 0; i < list->count && !shown; ++i)
                shown = list->symbols[i].submap_id == container;
            if (!shown) {
                next = Next::Symbol;
            } else {
                // Already shown in this container: update it, create nothing.
                if (label != nullptr && changeGraphLabel(container, selectionName, label) != 0)
                    TQ_TRACE_MSG("Could not set label.");
                if (iconKey != nullptr && changeGraphIcon(container, selectionName, iconKey) != 0)
                    TQ_TRACE_MSG("Could not set icon.");
                if (rootFlag)
                    pendingError = TQOT_ERR_GRAPH_HAS_SYMBOL;
                return object;
            }
        }
    }

    if (next == Next::Submap) {
        OVwSubmapId submap = OVwCreateSubmap(mapHandle, object, OVwGraphSubmap, 0, selectionName,
                                             layout(layoutNumber), 0);
        if (submap == 0) {
            TQ_OV_ERROR();
            // Only an object made by this call goes; one that existed before
            // keeps its fields and symbols.
            if (createdHere) {
                if (OVwDbDeleteObject(object) == -1)
                    TQ_OV_ERROR();
            } else {
                TQ_TRACE_MSG("Submap not created; the existing object is kept.");
            }
            return 0;
        }
        if (OVwSetBackgroundGraphic(mapHandle, submap, background) < 0)
            TQ_OV_ERROR();
    }

    if (OVwCreateSymbol(mapHandle, container, object, icon(iconKey), label, OVwStatusNormal,
                        OVwRollUpStatusSource, position, 0) == 0) {
        TQ_OV_ERROR();
        return 0;
    }
    return object;
}

void TopologyAdapter::setTypeField(OVwObjectId object, int32_t kind)
{
    TQ_TRACE_SCOPE("setTypeField");
    if (isGraphField_ == 0)
        isGraphField_ = getFieldId("isGraph");
    if (isVertexField_ == 0)
        isVertexField_ = getFieldId("isVertex");
    if (isGraphField_ == 0 || isVertexField_ == 0) {
        TQ_TRACE_MSG("Field does not exist.");
        return;
    }
    OVwDbSetFieldBooleanValue(object, isGraphField_, kind == TQOT_KIND_GRAPH ? 1 : 0);
    OVwDbSetFieldBooleanValue(object, isVertexField_, kind == TQOT_KIND_VERTEX ? 1 : 0);
}

OVwFieldId TopologyAdapter::getFieldId(const char *fieldName)
{
    TQ_TRACE_SCOPE("getFieldId");
    if (fieldName == nullptr) {
        TQ_TRACE_MSG("No field name.");
        return 0;
    }
    OVwFieldId field = OVwDbFieldNameToFieldId(fieldName);
    if (field != 0)
        return field;
    if (OVwError() != OVw_NO_SUCH_FIELD) {
        TQ_OV_ERROR();
        return 0;
    }
    field = OVwDbCreateField(fieldName, OVwBooleanField, OVwFieldCapability);
    if (field == 0)
        TQ_OV_ERROR();
    return field;
}

int32_t TopologyAdapter::tqotChangeRootGraphIcon(const char *protocolName, const char *graphName,
                                                 const char *iconKey)
{
    TQ_TRACE_SCOPE("tqotChangeRootGraphIcon");
    TqSelectionName selection;
    if (name(protocolName, graphName, selection) == nullptr)
        return TQOT_ERR_NO_SUCH_OBJECT;
    return changeGraphIcon(mapHandle->root_submap_id, selection, iconKey);
}

int32_t TopologyAdapter::tqotChangeGraphIconInGraph(const char *protocolName, const char *graphName,
                                                    const char *iconKey)
{
    TQ_TRACE_SCOPE("tqotChangeGraphIconInGraph");
    TqSelectionName selection;
    if (name(protocolName, graphName, selection) == nullptr)
        return TQOT_ERR_NO_SUCH_OBJECT;
    return changeGraphIcon(selection, iconKey);
}

int32_t TopologyAdapter::tqotChangeRootGraphLabel(const char *protocolName, const char *graphName,
                                                  const char *label)
{
    TQ_TRACE_SCOPE("tqotChangeRootGraphLabel");
    TqSelectionName selection;
    if (name(protocolName, graphName, selection) == nullptr)
        return TQOT_ERR_NO_SUCH_OBJECT;
    return changeGraphLabel(mapHandle->root_submap_id, selection, label);
}

int32_t TopologyAdapter::tqotChangeGraphLabelInGraph(const char *protocolName, const char *graphName,
                                                     const char *label)
{
    TQ_TRACE_SCOPE("tqotChangeGraphLabelInGraph");
    TqSelectionName selection;
    if (name(protocolName, graphName, selection) == nullptr)
        return TQOT_ERR_NO_SUCH_OBJECT;
    return changeGraphLabel(selection, label);
}

int32_t TopologyAdapter::changeGraphIcon(OVwSubmapId container, const char *selectionName, const char *iconKey)
{
    TQ_TRACE_SCOPE("changeGraphIcon");
    return changeSymbols(
        tqTraceScope_, mapHandle, false, container, selectionName, [&] { return icon(iconKey); }, setSymbolType);
}

int32_t TopologyAdapter::changeGraphIcon(const char *selectionName, const char *iconKey)
{
    TQ_TRACE_SCOPE("changeGraphIcon");
    return changeSymbols(
        tqTraceScope_, mapHandle, true, 0, selectionName, [&] { return icon(iconKey); }, setSymbolType);
}

int32_t TopologyAdapter::changeGraphLabel(OVwSubmapId container, const char *selectionName, const char *label)
{
    TQ_TRACE_SCOPE("changeGraphLabel");
    return changeSymbols(
        tqTraceScope_, mapHandle, false, container, selectionName, [&] { return label; }, OVwSetSymbolLabel);
}

int32_t TopologyAdapter::changeGraphLabel(const char *selectionName, const char *label)
{
    TQ_TRACE_SCOPE("changeGraphLabel");
    return changeSymbols(
        tqTraceScope_, mapHandle, true, 0, selectionName, [&] { return label; }, OVwSetSymbolLabel);
}

GraphList *TopologyAdapter::tqotGetGraphsInGraph(const char *protocolName, const char *graphName)
{
    TQ_TRACE_SCOPE("tqotGetGraphsInGraph");
    return makeResultList<GraphList>(
        "tqotGetGraphsInGraph",
        memberSelectionNames("tqotGetGraphsInGraph", protocolName, graphName, TQOT_KIND_GRAPH),
        [this](GraphEntry &entry, char *text) {
            entry.protocol = text;
            entry.name = unname(text);
        });
}

int32_t TopologyAdapter::tqotFreeGraphList(GraphList *list)
{
    TQ_TRACE_SCOPE("tqotFreeGraphList");
    freeResultList(list, &GraphEntry::protocol);
    return 0;
}

int32_t TopologyAdapter::tqotDeleteGraph(const char *protocolName, const char *graphName)
{
    TQ_TRACE_SCOPE("tqotDeleteGraph");
    TqSelectionName selection;
    if (name(protocolName, graphName, selection) == nullptr)
        return -1;
    return deleteGraph(0, selection, TQOT_KIND_GRAPH);
}

int32_t TopologyAdapter::tqotDeleteGraphFromGraph(const char *parentProtocol, const char *parentName,
                                                  const char *protocolName, const char *graphName)
{
    TQ_TRACE_SCOPE("tqotDeleteGraphFromGraph");
    if (graphName == nullptr) {
        TQ_TRACE_MSG("graphName is null");
        return -1;
    }
    TqSelectionName parentSelection;
    TqSelectionName selection;
    // A parent name that cannot be built is refused rather than taken for
    // the root submap.
    if (name(parentProtocol, parentName, parentSelection) == nullptr ||
        name(protocolName, graphName, selection) == nullptr)
        return -1;
    OVwObjectId parent = OVwDbSelectionNameToObjectId(parentSelection);
    if (parent == 0) {
        // Never the root submap: a parent that does not resolve holds nothing.
        TQ_TRACE_MSG("no such parent");
        refuse(TQOT_ERR_NO_CONTAINER);
        return TQOT_ERR_NO_CONTAINER;
    }
    return deleteGraph(parent, selection, TQOT_KIND_GRAPH);
}

int32_t TopologyAdapter::deleteGraph(OVwObjectId container, const char *selectionName, int32_t kind)
{
    TQ_TRACE_SCOPE("deleteGraph");
    if (mapHandle == nullptr) {
        TQ_TRACE_MSG("No map open.");
        return -1;
    }
    if (selectionName == nullptr) {
        TQ_TRACE_MSG("No selection name.");
        return -1;
    }
    OVwObjectId object = OVwDbSelectionNameToObjectId(selectionName);
    if (object == 0) {
        TQ_OV_ERROR();
        return -1;
    }
    removeMember(container, kind, object);

    SymbolListPtr list(OVwGetSymbolsByObject(mapHandle, object));
    if (!list) {
        TQ_OV_ERROR();
        return -1;
    }
    OVwSubmapId submap = mapHandle->root_submap_id;
    if (container != 0) {
        ObjectInfoPtr info(OVwGetObjectInfo(mapHandle, container));
        if (!info) {
            TQ_OV_ERROR();
            return -1;
        }
        submap = info->child_submap_id;
    }
    for (int32_t i = 0; i < list->count; ++i) {
        if (list->symbols[i].submap_id != submap)
            continue;
        if (OVwDeleteSymbol(mapHandle, list->symbols[i].symbol_id) < 0)
            TQ_OV_ERROR();
        if (singleSymbolPerContainer == 1)
            break;
    }
    return 0;
}
