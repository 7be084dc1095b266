// TopologyAdapter core: the singleton, the connection to the map platform,
// the map-event handlers, the member index synchronisation, the main loop and
// the pending error.
#include "adapter/tqot.h"

#include "adapter/ovtrace.h"
#include "adapter/records.h"
#include "adapter/state.h"
#include "adapter/turns.h"
#include "log/log.h"
#include "log/runstats.h"

#include <ctime>

namespace {

// The map events the adapter follows, in registration order.
struct EventHandler {
    int event;
    OVwCallbackProc proc;
};

const EventHandler kHandlers[] = {
    {OVwEventEndSession, &TopologyAdapter::endSessionCB},
    {OVwEventMapOpen, &TopologyAdapter::mapOpenCB},
    {OVwEventMapClose, &TopologyAdapter::mapCloseCB},
    {OVwEventDeleteSymbols, &TopologyAdapter::deleteSymbolCB},
    {OVwEventDeleteObjects, &TopologyAdapter::deleteObjectCB},
};

// Symbols of every kind, as the listing asks for them.
constexpr int kAllSymbols = 7;

}  // namespace

TopologyAdapter::TopologyAdapter()
{
    TQ_TRACE_SCOPE("tqot2ov");
}

AdapterState &adapterState()
{
    // Never destroyed, like the adapter: atexit-time code may still use it.
    static AdapterState *state = new AdapterState();
    return *state;
}

TopologyAdapter *TopologyAdapter::instance()
{
    TQ_TRACE_SCOPE("instance");
    // Created on first use and never destroyed: handlers may run from
    // atexit-time code paths, so the object must outlive static destruction.
    static TopologyAdapter *single = new TopologyAdapter();
    return single;
}

int32_t TopologyAdapter::tqotInit(int32_t /*unused*/, int32_t orderedArcNamesArg,
                                  int32_t singleSymbolPerContainerArg)
{
    TQ_TRACE_SCOPE("tqotInit");
    if (OVwInit() == -1) {
        TQ_OV_ERROR();
        return TQOT_ERR_NO_CONNECTION;
    }
    adapterState().mapClosedByOperator = false;
    singleSymbolPerContainer = singleSymbolPerContainerArg != 0 ? 1 : 0;
    orderedArcNames = orderedArcNamesArg != 0 ? 1 : 0;

    for (const EventHandler &h : kHandlers) {
        if (OVwAddCallback(h.event, nullptr, h.proc, nullptr) != 0)
            TQ_OV_ERROR();
    }

    MapInfoPtr info(OVwGetMapInfo());
    TextPtr appName(OVwGetAppName());
    FieldBindListPtr config(OVwGetAppConfigValues(info.get(), appName.get()));

    // Runs exactly as if the platform had reported the map as opened.
    mapOpenCB(nullptr, OVwEventMapOpen, info.get(), config.get());
    return 0;
}

int32_t TopologyAdapter::tqotDone()
{
    TQ_TRACE_SCOPE("tqotDone");
    if (serverData != nullptr)
        serverData->closeListening();
    done = 1;
    if (mapHandle != nullptr) {
        OVwFreeMapInfo(mapHandle);
        mapHandle = nullptr;
    }
    for (const EventHandler &h : kHandlers) {
        if (OVwRemoveCallback(h.event, nullptr) != 0)
            TQ_OV_ERROR();
    }
    OVwDone();
    return 0;
}

int32_t TopologyAdapter::tqotSetSynchronousCreation(int32_t /*unused*/)
{
    TQ_TRACE_SCOPE("tqotSetSynchronousCreation");
    return 0;
}

void TopologyAdapter::registerServerCallback(ServerEndpoint *data, TqServerCallback callback)
{
    TQ_TRACE_SCOPE("registerServerCallback");
    serverData = data;
    serverCallback = callback;
}

void TopologyAdapter::mainLoop()
{
    TQ_TRACE_SCOPE("mainLoop");
    while (!done) {
        if (OVwFileDescriptor() < 0) {
            TQ_OV_ERROR();
            break;
        }
        // Before OVwPending: the counters join the last message's commit.
        publishRunCounters();
        // Each OVwPending stores the turn before it (a frame or an event); a
        // turn rolled back for a reason that may pass is made again until
        // it is stored.
        for (;;) {
            const int pending = OVwPending();
            if (pending == 0 && turnFailed())
                continue;
            turnStored();
            if (pending == 0)
                break;
            noteTurn(TurnKind::Event);
            if (OVwProcessEvent() < 0) {
                TQ_OV_ERROR();
                break;
            }
            ++runStats().eventsHandled;
        }
        if (done)
            break;
        stopIfRequested();
        // No frame is taken that could not be applied: while no map is open
        // the stream waits and only map events are handled. A map that could
        // not be read at start is not waited for (its frames are refused, and
        // the stream's end ends the run).
        if (!mapReadyForFrame(mapHandle != nullptr || !adapterState().mapClosedByOperator))
            continue;
        noteTurn(TurnKind::Frame);
        if (serverCallback != nullptr) {
            const int64_t failedBefore = runStats().failed;
            serverCallback(0, serverData);
            // A message that failed part way is stored not at all.
            if (runStats().failed != failedBefore && OVwDiscardTurn() == 0)
                resynchAfterRollback();
        }
    }
    commitTurns();
    tqotDone();
}

void TopologyAdapter::endConnection()
{
    TQ_TRACE_SCOPE("endConnection");
}

void TopologyAdapter::synchWithMap()
{
    TQ_TRACE_SCOPE("synchWithMap");
    memberIndex.clear();
    if (mapHandle == nullptr) {
        // No map open: the index of an absent map is empty.
        TQ_TRACE_MSG("no map open");
        return;
    }

    OVwBeginMapSync(mapHandle);
    TextPtr appName(OVwGetAppName());
    SubmapListPtr submaps(OVwListSubmaps(mapHandle, appName.get(), 0, 0));
    if (submaps == nullptr) {
        TQ_OV_ERROR();
    } else {
        for (int32_t i = 0; i < submaps->count; ++i) {
            const OVwSubmapInfo &submap = submaps->submaps[i];
            SymbolListPtr symbols(OVwListSymbols(mapHandle, submap.submap_id, kAllSymbols, appName.get()));
            if (!symbols) {
                TQ_OV_ERROR();
                continue;
            }
            for (int32_t j = 0; j < symbols->count; ++j) {
                const OVwSymbolInfo &sym = symbols->symbols[j];
                bool connection = sym.symbol_variety == OVwConnSymbol;
                if (connection && sym.conn_derived != 0)
                    continue;
                int32_t kind = connection ? TQOT_KIND_ARC
                               : sym.status_source == OVwOwnStatusSource ? TQOT_KIND_VERTEX
                                                                              : TQOT_KIND_GRAPH;
                memberIndex.emplace(MemberKey(submap.parent_object_id, kind), sym.object_id);
            }
        }
    }
    OVwEndMapSync(mapHandle);
}

void TopologyAdapter::resynchAfterRollback()
{
    isGraphField_ = 0;
    isVertexField_ = 0;
    synchWithMap();
}

int32_t TopologyAdapter::tqotGetError()
{
    TQ_TRACE_SCOPE("tqotGetError");
    if (pendingError != 0) {
        int32_t code = pendingError;
        pendingError = 0;
        return code;
    }
    return OVwError() != 0 ? TQOT_ERR_PLATFORM : TQOT_ERR_NONE;
}

const char *TopologyAdapter::tqotGetErrorMsg(int32_t code)
{
    TQ_TRACE_SCOPE("tqotGetErrorMsg");
    switch (code) {
    case TQOT_ERR_NO_MAP:
        return "no map is open";
    case TQOT_ERR_NAME_TOO_LONG:
        return "selection or arc name longer than 255 characters";
    case TQOT_ERR_NAME_SEPARATOR:
        return "a name contains ';'";
    case TQOT_ERR_NO_ENDPOINT:
        return "an arc endpoint does not resolve";
    case TQOT_ERR_NO_CONTAINER:
        return "the containing graph does not exist";
    case TQOT_ERR_CREATE_FAILED:
        return platformFailure_.c_str();
    case TQOT_ERR_NO_OBJECT:
        return "no object has that name";
    case TQOT_ERR_BAD_BINDING:
        return "the arc name binding is not 4 to 7";
    case TQOT_ERR_NOT_SHOWN:
        return "the object has no symbol there";
    default:
        return code != 0 ? "tqot2ov error" : "tqot2ov no error";
    }
}

void TopologyAdapter::refuse(int32_t code)
{
    if (pendingError == 0)
        pendingError = code;
}

OVwObjectId TopologyAdapter::creationFailed()
{
    if (pendingError == 0) {
        const int platformCode = OVwError();
        platformFailure_ = "the map platform created nothing";
        if (platformCode != 0) {
            platformFailure_ += ": ";
            platformFailure_ += OVwErrorMsg(platformCode);
        }
        pendingError = TQOT_ERR_CREATE_FAILED;
    }
    return 0;
}

void TopologyAdapter::endSessionCB(void * /*userData*/, int /*event*/, OVwMapInfo * /*map*/, void * /*eventData*/)
{
    TQ_TRACE_SCOPE("endSessionCB");
    TopologyAdapter *self = instance();
    if (self->serverData != nullptr)
        self->serverData->closeConnection();
    self->endConnection();
    self->done = 1;
}

void TopologyAdapter::mapOpenCB(void * /*userData*/, int /*event*/, OVwMapInfo * /*map*/, void * /*eventData*/)
{
    TQ_TRACE_SCOPE("mapOpenCB");
    TopologyAdapter *self = instance();
    adapterState().mapClosedByOperator = false;
    // A second open without a close in between: the old record is ours to release.
    if (self->mapHandle != nullptr) {
        OVwFreeMapInfo(self->mapHandle);
        self->mapHandle = nullptr;
    }
    self->mapHandle = OVwGetMapInfo();
    if (self->mapHandle == nullptr) {
        TQ_OV_ERROR();
        return;
    }
    self->synchWithMap();
}

void TopologyAdapter::mapCloseCB(void * /*userData*/, int /*event*/, OVwMapInfo *map, void *eventData)
{
    TQ_TRACE_SCOPE("mapCloseCB");
    TopologyAdapter *self = instance();
    adapterState().mapClosedByOperator = true;
    if (self->mapHandle != nullptr) {
        OVwFreeMapInfo(self->mapHandle);
        self->mapHandle = nullptr;
    }
    OVwTime closeTime = eventData != nullptr ? *static_cast<const OVwTime *>(eventData) : 0;
    OVwAckMapClose(map, closeTime);
    if (self->serverData != nullptr)
        self->serverData->closeConnection();
    self->endConnection();
}

void TopologyAdapter::deleteSymbolCB(void * /*userData*/, int /*event*/, OVwMapInfo *map, void *eventData)
{
    TQ_TRACE_SCOPE("deleteSymbolCB");
    TopologyAdapter *self = instance();
    const auto *list = static_cast<const OVwSymbolList *>(eventData);
    if (list == nullptr)
        return;
    bool resync = false;
    for (int32_t i = 0; i < list->count; ++i) {
        const OVwSymbolInfo &sym = list->symbols[i];
        SubmapInfoPtr submap(OVwGetSubmapInfo(map, sym.submap_id));
        if (submap == nullptr) {
            TQ_OV_ERROR();
            resync = true;
            continue;
        }
        OVwObjectId container = submap->parent_object_id;

        // Every kind of that container, in index order.
        MemberIndex &index = self->memberIndex;
        auto first = index.lower_bound(MemberKey(container, TQOT_KIND_GRAPH));
        auto last = index.upper_bound(MemberKey(container, TQOT_KIND_ARC));
        for (auto it = first; it != last;) {
            if (it->second != sym.object_id) {
                ++it;
                continue;
            }
            it = index.erase(it);
            if (self->singleSymbolPerContainer == 1)
                break;
        }
    }
    if (resync)
        self->synchWithMap();
}

void TopologyAdapter::deleteObjectCB(void * /*userData*/, int /*event*/, OVwMapInfo * /*map*/, void *eventData)
{
    TQ_TRACE_SCOPE("deleteObjectCB");
    const auto *list = static_cast<const OVwObjectList *>(eventData);
    if (list == nullptr)
        return;
    for (int32_t i = 0; i < list->count; ++i) {
        OVwObjectId object = list->objects[i].object_id;
        FieldBindListPtr fields(OVwDbGetFieldValues(object));
        if (fields == nullptr) {
            TQ_OV_ERROR();
        } else {
            for (int32_t f = 0; f < fields->count; ++f)
                OVwDbUnsetFieldValue(object, fields->fields[f].field_id);
        }
        if (OVwDbDeleteObject(object) != 0)
            TQ_OV_ERROR();
    }
}

void TopologyAdapter::removeMember(OVwObjectId container, int32_t kind, OVwObjectId member)
{
    auto range = memberIndex.equal_range(MemberKey(container, kind));
    for (auto it = range.first; it != range.second;) {
        if (it->second != member) {
            ++it;
            continue;
        }
        it = memberIndex.erase(it);
        if (singleSymbolPerContainer == 1)
            return;
    }
}
