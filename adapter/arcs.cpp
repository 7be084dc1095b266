// TopologyAdapter arc operations: arc selection names, endpoint lookup and
// creation, creating, changing, listing and deleting arcs.
#include "adapter/tqot.h"
#include "adapter/lists.h"
#include "adapter/ovtrace.h"
#include "adapter/records.h"

#include "log/log.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace {

// Protocol-name areas of endpointProtocols hold 128 bytes (127 characters).
constexpr size_t kProtocolArea = 128;

// Endpoints that endpointSymbols creates are vertices with this icon.
const char kEndpointIcon[] = "1.3.6.1.2.1.2.2.1.3.1.1";
// Connection icon when the caller gives none.
const char kDefaultArcIcon[] = "1.3.6.1.2.1.2.2.1.3.1.4";

constexpr int32_t kEndpointStatus = 3;
// Submap type of an object's exploded view.
constexpr int32_t kExplodedSubmap = 3;


// Which endpoint protocols a binding gives as numbers.
bool aIsNumber(int32_t binding) { return binding == 6 || binding == 7; }
bool zIsNumber(int32_t binding) { return binding == 5 || binding == 7; }

// Byte-wise comparison as unsigned characters; a prefix is the smaller.
int compareBytes(const char *a, const char *b)
{
    const auto *x = reinterpret_cast<const unsigned char *>(a);
    const auto *y = reinterpret_cast<const unsigned char *>(b);
    while (*x != 0 && *x == *y) {
        ++x;
        ++y;
    }
    return static_cast<int>(*x) - static_cast<int>(*y);
}

OVwObjectId resolve(const char *selectionName)
{
    return selectionName != nullptr ? OVwDbSelectionNameToObjectId(selectionName) : 0;
}

// The first symbol of an object on a submap, 0 when there is none.
OVwSymbolId symbolOnSubmap(OVwMapInfo *map, OVwObjectId object, OVwSubmapId submap)
{
    SymbolListPtr symbols(OVwGetSymbolsByObject(map, object));
    if (!symbols)
        return 0;
    for (int32_t i = 0; i < symbols->count; ++i) {
        if (symbols->symbols[i].submap_id == submap)
            return symbols->symbols[i].symbol_id;
    }
    return 0;
}

bool hasSymbolOnSubmap(const OVwSymbolList *symbols, OVwSubmapId submap)
{
    for (int32_t i = 0; i < symbols->count; ++i) {
        if (symbols->symbols[i].submap_id == submap)
            return true;
    }
    return false;
}

// Reads a signed decimal number that makes up the whole text up to the next
// ';' or the end. False when there is no digit, another character follows,
// or the value does not fit 32 bits.
bool parseIndex(const char *text, int32_t *value)
{
    const char *p = text;
    bool negative = false;
    if (*p == '-' || *p == '+') {
        negative = *p == '-';
        ++p;
    }
    if (*p < '0' || *p > '9')
        return false;
    int64_t v = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        v = v * 10 + (*p - '0');
        if (v > static_cast<int64_t>(INT32_MAX) + 1)
            return false;
    }
    if (*p != ';' && *p != '\0')
        return false;
    if (negative)
        v = -v;
    if (v > INT32_MAX || v < INT32_MIN)
        return false;
    *value = static_cast<int32_t>(v);
    return true;
}

// True when the arc is already drawn in the graph: on the graph's submap, or
// inside the exploded view of an object shown on it. Traces a failed lookup
// under the caller's scope.
bool drawnInGraph(OVwMapInfo *map, OVwObjectId arc, OVwSubmapId graphSubmap, const TraceScope &tqTraceScope_)
{
    SymbolListPtr symbols(OVwGetSymbolsByObject(map, arc));
    if (!symbols) {
        TQ_TRACE_MSG("Object exists, but symbol list is null.");
        TQ_OV_ERROR();
        return false;
    }
    for (int32_t i = 0; i < symbols->count; ++i) {
        const OVwSymbolInfo &sym = symbols->symbols[i];
        if (sym.submap_id == graphSubmap)
            return true;
        SubmapInfoPtr submap(OVwGetSubmapInfo(map, sym.submap_id));
        if (!submap) {
            TQ_TRACE_MSG("No OVwSubmapInfo returned for submap_id.");
            TQ_OV_ERROR();
            continue;
        }
        if (submap->submap_type != kExplodedSubmap)
            continue;
        SymbolListPtr parentSymbols(OVwGetSymbolsByObject(map, submap->parent_object_id));
        if (!parentSymbols) {
            TQ_TRACE_MSG("Object exists, but symbol list is null.");
            TQ_OV_ERROR();
            continue;
        }
        if (hasSymbolOnSubmap(parentSymbols.get(), graphSubmap))
            return true;
    }
    return false;
}

}  // namespace

int32_t TopologyAdapter::endpointProtocols(int32_t binding, tqotEndpointProtocol aProtocol,
                                           tqotEndpointProtocol zProtocol, char *aArea, char *zArea)
{
    TQ_TRACE_SCOPE("endpointProtocols");
    if (binding < 4 || binding > 7) {
        TQ_TRACE_MSG("arcNameBinding not supported");
        return -1;
    }
    const char *a = aIsNumber(binding) ? protocol(aProtocol.vertexProtocol) : aProtocol.graphProtocol;
    const char *z = zIsNumber(binding) ? protocol(zProtocol.vertexProtocol) : zProtocol.graphProtocol;
    if (a == nullptr || z == nullptr) {
        TQ_TRACE_MSG("endpoint protocol name is null");
        return -1;
    }
    if (std::strlen(a) >= kProtocolArea || std::strlen(z) >= kProtocolArea) {
        TQ_TRACE_MSG("endpoint protocol name too long");
        return -1;
    }
    std::memcpy(aArea, a, std::strlen(a) + 1);
    std::memcpy(zArea, z, std::strlen(z) + 1);
    return 0;
}

char *TopologyAdapter::arcName(int32_t binding, tqotEndpointProtocol aProtocol, const char *aName,
                               tqotEndpointProtocol zProtocol, const char *zName, int32_t arcIndex)
{
    TQ_TRACE_SCOPE("arcName");
    char aProto[kProtocolArea];
    char zProto[kProtocolArea];
    if (endpointProtocols(binding, aProtocol, zProtocol, aProto, zProto) == -1) {
        TQ_TRACE_MSG("bad endpoint name");
        return nullptr;
    }
    if (mapHandle == nullptr) {
        TQ_TRACE_MSG("no map open");
        refuse(TQOT_ERR_NO_MAP);
        return nullptr;
    }
    const char *aP = aProto;
    const char *zP = zProto;
    const char *aN = shownText(aName);
    const char *zN = shownText(zName);
    // A part holding ';' would make the name of another arc, or one that no
    // longer reads back as an arc name.
    for (const char *part : {aP, aN, zP, zN}) {
        if (std::strchr(part, ';') != nullptr) {
            TQ_TRACE_MSG("Name contains ';'.");
            refuse(TQOT_ERR_NAME_SEPARATOR);
            return nullptr;
        }
    }
    if (orderedArcNames) {
        // The same two endpoints name the same arc in either order.
        int byProtocol = compareBytes(aP, zP);
        if (byProtocol > 0) {
            std::swap(aP, zP);
            std::swap(aN, zN);
        } else if (byProtocol == 0 && compareBytes(aN, zN) > 0) {
            std::swap(aN, zN);
        }
    }
    int length = std::snprintf(arcNameBuffer_, kTqSelectionNameSize, "%s%c%s%c%s%c%s%c%d%c%s", aP, ';', aN, ';',
                               zP, ';', zN, ';', arcIndex, ';', shownText(mapHandle->map_name));
    if (length < 0 || static_cast<size_t>(length) >= kTqSelectionNameSize) {
        arcNameBuffer_[0] = '\0';
        TQ_TRACE_MSG("Name too long.");
        refuse(TQOT_ERR_NAME_TOO_LONG);
        return nullptr;
    }
    return arcNameBuffer_;
}

void TopologyAdapter::unarcName(char *selectionName, int32_t *binding, tqotEndpointProtocol *aProtocol,
                                char **aName, tqotEndpointProtocol *zProtocol, char **zName, int32_t *index)
{
    TQ_TRACE_SCOPE("unarcName");
    // A name that does not have the arc layout (another program's object)
    // is reported with binding 0 and no parts, and left as it is.
    *binding = 0;
    aProtocol->graphProtocol = nullptr;
    zProtocol->graphProtocol = nullptr;
    *aName = nullptr;
    *zName = nullptr;
    *index = 0;
    if (selectionName == nullptr)
        return;

    char *cut[4];
    char *p = selectionName;
    for (char *&c : cut) {
        c = std::strchr(p, ';');
        if (c == nullptr) {
            TQ_TRACE_MSG("not an arc name");
            return;
        }
        p = c + 1;
    }
    int32_t number = 0;
    if (!parseIndex(p, &number)) {
        TQ_TRACE_MSG("not an arc name");
        return;
    }
    for (char *c : cut)
        *c = '\0';

    char *aProto = selectionName;
    char *zProto = cut[1] + 1;
    *aName = cut[0] + 1;
    *zName = cut[2] + 1;
    *index = number;

    int32_t aNumber = unprotocol(aProto);
    int32_t zNumber = unprotocol(zProto);
    if (aNumber != 0 && zNumber != 0) {
        *binding = 7;
        aProtocol->vertexProtocol = aNumber;
        zProtocol->vertexProtocol = zNumber;
    } else if (aNumber != 0) {
        *binding = 6;
        aProtocol->vertexProtocol = aNumber;
        zProtocol->graphProtocol = zProto;
    } else if (zNumber != 0) {
        *binding = 5;
        aProtocol->graphProtocol = aProto;
        zProtocol->vertexProtocol = zNumber;
    } else {
        *binding = 4;
        aProtocol->graphProtocol = aProto;
        zProtocol->graphProtocol = zProto;
    }
}

void TopologyAdapter::endpointSymbols(OVwObjectId graph, OVwSubmapId graphSubmap, int32_t binding,
                                      tqotEndpointProtocol aProtocol, const char *aName,
                                      tqotEndpointProtocol zProtocol, const char *zName, OVwSymbolId *aSymbol,
                                      OVwSymbolId *zSymbol)
{
    TQ_TRACE_SCOPE("endpointSymbols");
    *aSymbol = 0;
    *zSymbol = 0;
    char aProto[kProtocolArea];
    char zProto[kProtocolArea];
    if (endpointProtocols(binding, aProtocol, zProtocol, aProto, zProto) == -1) {
        TQ_TRACE_MSG("bad endpoint name");
        return;
    }
    TqSelectionName aBuf;
    TqSelectionName zBuf;
    const char *aSel = name(aProto, aName, aBuf);
    const char *zSel = name(zProto, zName, zBuf);
    OVwObjectId a = resolve(aSel);
    OVwObjectId z = resolve(zSel);

    if (a == 0 && aSel != nullptr) {
        if (binding == 6 && z == 0) {
            TQ_TRACE_MSG("missing endpoint");
            refuse(TQOT_ERR_NO_ENDPOINT);
            return;
        }
        if (aIsNumber(binding)) {
            a = createVertex(graph, aSel, kEndpointIcon, aName, kEndpointStatus, OVwOwnStatusSource);
            if (a == 0) {
                TQ_OV_ERROR();
                return;
            }
        }
    }
    if (z == 0 && zSel != nullptr) {
        if (binding == 5 && a == 0) {
            TQ_TRACE_MSG("missing endpoint");
            refuse(TQOT_ERR_NO_ENDPOINT);
            return;
        }
        if (zIsNumber(binding)) {
            z = createVertex(graph, zSel, kEndpointIcon, zName, kEndpointStatus, OVwOwnStatusSource);
            if (z == 0) {
                TQ_OV_ERROR();
                return;
            }
        }
    }
    if (a == 0 || z == 0) {
        TQ_TRACE_MSG("missing endpoint");
        refuse(TQOT_ERR_NO_ENDPOINT);
        return;
    }
    *aSymbol = symbolOnSubmap(mapHandle, a, graphSubmap);
    *zSymbol = symbolOnSubmap(mapHandle, z, graphSubmap);
}

void TopologyAdapter::updateArcSymbols(OVwObjectId arc, OVwSubmapId graphSubmap, const char *label,
                                       int32_t statusNumber)
{
    TQ_TRACE_SCOPE("updateArcSymbols");
    SymbolListPtr symbols(OVwGetSymbolsByObject(mapHandle, arc));
    if (!symbols) {
        TQ_OV_ERROR();
        return;
    }
    for (int32_t i = 0; i < symbols->count; ++i) {
        const OVwSymbolInfo &sym = symbols->symbols[i];
        if (sym.submap_id != graphSubmap)
            continue;
        // The first failure stops the updates, so that its error state stands.
        if (OVwSetStatusOnSymbol(mapHandle, sym.symbol_id, status(statusNumber)) != 0 ||
            (label != nullptr && OVwSetSymbolLabel(mapHandle, sym.symbol_id, label) < 0)) {
            TQ_OV_ERROR();
            return;
        }
    }
}

OVwObjectId TopologyAdapter::tqotCreateArcInGraph(const char *graphProtocol, const char *graphName,
                                                  int32_t binding, tqotEndpointProtocol aProtocol,
                                                  const char *aName, tqotEndpointProtocol zProtocol,
                                                  const char *zName, int32_t arcIndex, const char *iconKey,
                                                  const char *label, octetString * /*details*/,
                                                  int32_t statusNumber)
{
    TQ_TRACE_SCOPE("tqotCreateArcInGraph");
    // What is pending afterwards tells about this creation alone.
    pendingError = 0;
    if (mapHandle == nullptr) {
        TQ_TRACE_MSG("no map open");
        refuse(TQOT_ERR_NO_MAP);
        return 0;
    }
    TqSelectionName graphSel;
    const char *gSel = name(graphProtocol, graphName, graphSel);
    if (gSel == nullptr) {
        TQ_TRACE_MSG("no selection name");
        return 0;
    }
    OVwObjectId graph = OVwDbSelectionNameToObjectId(gSel);
    ObjectInfoPtr info(graph != 0 ? OVwGetObjectInfo(mapHandle, graph) : nullptr);
    if (info == nullptr) {
        TQ_OV_ERROR();
        if (graph == 0)
            refuse(TQOT_ERR_NO_CONTAINER);
        return creationFailed();
    }
    OVwSubmapId graphSubmap = info->child_submap_id;

    // The arc's name first: an arc that cannot be named creates no endpoint.
    const char *built = arcName(binding, aProtocol, aName, zProtocol, zName, arcIndex);
    if (built == nullptr) {
        TQ_TRACE_MSG("bad arc name");
        return 0;
    }
    TqSelectionName arcSel;
    std::memcpy(arcSel, built, std::strlen(built) + 1);

    OVwSymbolId aSymbol = 0;
    OVwSymbolId zSymbol = 0;
    endpointSymbols(graph, graphSubmap, binding, aProtocol, aName, zProtocol, zName, &aSymbol, &zSymbol);
    if (aSymbol == 0 || zSymbol == 0) {
        TQ_OV_ERROR();
        refuse(TQOT_ERR_NO_ENDPOINT);
        return creationFailed();
    }

    OVwObjectId arc = OVwDbSelectionNameToObjectId(arcSel);
    if (arc == 0) {
        arc = OVwDbCreateObjectBySelectionName(arcSel);
        if (arc == 0) {
            TQ_OV_ERROR();
            return creationFailed();
        }
    } else if (singleSymbolPerContainer == 1 && drawnInGraph(mapHandle, arc, graphSubmap, tqTraceScope_)) {
        // Already drawn in this graph: an arc sent again brings its symbols
        // there up to date, as a vertex sent again does. The caller learns of
        // a failed update from the platform's error state.
        updateArcSymbols(arc, graphSubmap, label, statusNumber);
        return arc;
    }

    memberIndex.emplace(MemberKey(graph, TQOT_KIND_ARC), arc);

    // The caller learns of a failed connection from the platform's error state.
    const char *symbolType = icon(iconKey != nullptr ? iconKey : kDefaultArcIcon);
    if (OVwCreateConnSymbol(mapHandle, arc, aSymbol, zSymbol, symbolType, label, status(statusNumber),
                            OVwOwnStatusSource, 0) == 0)
        TQ_OV_ERROR();
    return arc;
}

int32_t TopologyAdapter::tqotChangeArcStatus(int32_t binding, tqotEndpointProtocol aProtocol, const char *aName,
                                             tqotEndpointProtocol zProtocol, const char *zName, int32_t arcIndex,
                                             int32_t statusNumber)
{
    TQ_TRACE_SCOPE("tqotChangeArcStatus");
    if (binding < 4 || binding > 7) {
        TQ_TRACE_MSG("bad name binding");
        return TQOT_ERR_BAD_BINDING;
    }
    const char *sel = arcName(binding, aProtocol, aName, zProtocol, zName, arcIndex);
    if (sel == nullptr) {
        // The refusal's own code: no status is set on an object of another name.
        const int32_t code = pendingError;
        pendingError = 0;
        return code != 0 ? code : TQOT_ERR_NAME_TOO_LONG;
    }
    return setStatusOnObject("tqotChangeArcStatus", sel, statusNumber);
}

ArcList *TopologyAdapter::tqotGetArcsInGraph(const char *graphProtocol, const char *graphName)
{
    TQ_TRACE_SCOPE("tqotGetArcsInGraph");
    return makeResultList<ArcList>(
        "tqotGetArcsInGraph",
        memberSelectionNames("tqotGetArcsInGraph", graphProtocol, graphName, TQOT_KIND_ARC),
        [this](ArcEntry &entry, char *text) {
            entry.selectionName = text;
            unarcName(text, &entry.binding, &entry.aProtocol, &entry.aName, &entry.zProtocol, &entry.zName,
                      &entry.index);
        });
}

int32_t TopologyAdapter::tqotDeleteArcFromGraph(const char *graphProtocol, const char *graphName, int32_t binding,
                                                tqotEndpointProtocol aProtocol, const char *aName,
                                                tqotEndpointProtocol zProtocol, const char *zName,
                                                int32_t arcIndex)
{
    TQ_TRACE_SCOPE("tqotDeleteArcFromGraph");
    if (aName == nullptr || zName == nullptr) {
        TQ_TRACE_MSG("an endpointName is null");
        return -1;
    }
    if (mapHandle == nullptr) {
        TQ_TRACE_MSG("no map open");
        return -1;
    }
    TqSelectionName graphSel;
    OVwObjectId graph = resolve(name(graphProtocol, graphName, graphSel));
    if (graph == 0) {
        // Never the root submap: a graph that does not resolve holds nothing.
        TQ_TRACE_MSG("no such graph");
        refuse(TQOT_ERR_NO_CONTAINER);
        return TQOT_ERR_NO_CONTAINER;
    }
    const char *built = arcName(binding, aProtocol, aName, zProtocol, zName, arcIndex);
    if (built == nullptr) {
        // Nothing can match a name that cannot be built.
        TQ_TRACE_MSG("bad arc name");
        return -1;
    }
    TqSelectionName arcSel;
    std::memcpy(arcSel, built, std::strlen(built) + 1);
    return deleteGraph(graph, arcSel, TQOT_KIND_ARC);
}

int32_t TopologyAdapter::tqotFreeArcList(ArcList *list)
{
    TQ_TRACE_SCOPE("tqotFreeArcList");
    freeResultList(list, &ArcEntry::selectionName);
    return 0;
}
