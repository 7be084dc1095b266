// The tqot topology API: the TopologyAdapter singleton and its operations
// over the map platform.
#ifndef TQ_ADAPTER_TQOT_H
#define TQ_ADAPTER_TQOT_H

#include "adapter/server_endpoint.h"
#include "platform/ovw.h"
#include "platform/tqlib.h"

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Member kinds of memberIndex.
enum : int32_t { TQOT_KIND_GRAPH = 0, TQOT_KIND_VERTEX = 1, TQOT_KIND_ARC = 2 };

// Pending error codes.
enum : int32_t {
    TQOT_ERR_NONE = 0,
    TQOT_ERR_GRAPH_HAS_SYMBOL = 18,   // internal: graph already shown on the target submap
    TQOT_ERR_ROOT_EXISTS = 20,        // root graph existed; label and icon updated
    TQOT_ERR_PLATFORM = -1,           // the platform reports an error
    TQOT_ERR_NO_CONNECTION = 29,      // tqotInit: OVwInit failed
    // The adapter's own refusals, each with a text of its own.
    TQOT_ERR_NO_MAP = 30,             // no map is open
    TQOT_ERR_NAME_TOO_LONG = 31,      // a selection or arc name would pass 255 characters
    TQOT_ERR_NAME_SEPARATOR = 32,     // a name holds ';', the separator of selection and arc names
    TQOT_ERR_NO_ENDPOINT = 33,        // an arc endpoint does not resolve
    TQOT_ERR_NO_CONTAINER = 34,       // the containing graph does not exist
    TQOT_ERR_CREATE_FAILED = 35,      // the platform did not create the object
    TQOT_ERR_NO_OBJECT = 36,          // no object has the name a change was aimed at
};

// Detail text passed with creations (accepted, not used by the adapter).
struct octetString {
    char *octetString;
    int32_t octetLength;
};

struct GraphEntry {
    char *protocol;   // owned selection name, split in place: reads as the protocol name
    char *name;       // points into protocol's text
};
struct GraphList {
    int32_t count;
    GraphEntry *entries;   // null when count is 0
};

struct VertexEntry {
    int32_t protocol;      // unprotocol of the selection name's protocol part
    char *name;            // points into selectionName
    char *selectionName;   // owned, split in place
};
struct VertexList {
    int32_t count;
    VertexEntry *entries;
};

struct ArcEntry {
    int32_t binding;                  // 4 to 7, derived from the protocol names
    tqotEndpointProtocol aProtocol;   // number for bindings 6 and 7, else text
    char *aName;
    tqotEndpointProtocol zProtocol;   // number for bindings 5 and 7, else text
    char *zName;
    int32_t index;
    char *selectionName;              // owned, split in place
};
struct ArcList {
    int32_t count;
    ArcEntry *entries;
};

using TqServerCallback = void (*)(int32_t, ServerEndpoint *);

// Ordered multimap (container object id, member kind) -> member object id.
// Equal keys keep insertion order (std::multimap inserts at the upper bound).
using MemberKey = std::pair<int32_t, int32_t>;
using MemberIndex = std::multimap<MemberKey, OVwObjectId>;

class TopologyAdapter {
public:
    static TopologyAdapter *instance();

    // ---- core -----------------------------------------------------------
    int32_t tqotInit(int32_t unused, int32_t orderedArcNames, int32_t singleSymbolPerContainer);
    int32_t tqotDone();
    int32_t tqotSetSynchronousCreation(int32_t unused);
    void registerServerCallback(ServerEndpoint *serverData, TqServerCallback callback);
    void mainLoop();
    void endConnection();
    void synchWithMap();
    // After a turn's changes were rolled back: what the adapter remembers of
    // the map (member index, field ids) is taken from the map again.
    void resynchAfterRollback();
    int32_t tqotGetError();
    const char *tqotGetErrorMsg(int32_t code);

    static void endSessionCB(void *userData, int event, OVwMapInfo *map, void *eventData);
    static void mapOpenCB(void *userData, int event, OVwMapInfo *map, void *eventData);
    static void mapCloseCB(void *userData, int event, OVwMapInfo *map, void *eventData);
    static void deleteSymbolCB(void *userData, int event, OVwMapInfo *map, void *eventData);
    static void deleteObjectCB(void *userData, int event, OVwMapInfo *map, void *eventData);

    // ---- naming and tables ---------------------------------------------------
    // Selection name "<protocol>;<name>;<map>" into buffer (256 bytes) or the
    // shared name buffer. Null when it does not fit or no map is open.
    char *name(const char *protocolName, const char *objectName, char *buffer = nullptr);
    char *unname(char *selectionName);
    const char *protocol(int32_t number);
    int32_t unprotocol(const char *protocolName);
    int32_t layout(int32_t number);
    int32_t status(int32_t number);
    const char *icon(const char *key);

    // ---- graphs -----------------------------------------------------------------
    OVwObjectId tqotCreateRootGraph(const char *protocolName, const char *graphName, int32_t layoutNumber,
                                    const char *background, const char *iconKey, const char *label,
                                    octetString *details);
    OVwObjectId tqotCreateGraphInGraph(const char *parentProtocol, const char *parentName,
                                       const char *protocolName, const char *graphName, int32_t layoutNumber,
                                       const char *background, const char *iconKey, const char *label,
                                       octetString *details);
    OVwObjectId createGraph(const char *selectionName, OVwSubmapId container, int32_t layoutNumber,
                            const char *background, const char *iconKey, const char *label, uint8_t rootFlag,
                            const OVwPosition *position);
    void setTypeField(OVwObjectId object, int32_t kind);
    OVwFieldId getFieldId(const char *fieldName);
    int32_t tqotChangeRootGraphIcon(const char *protocolName, const char *graphName, const char *iconKey);
    int32_t tqotChangeGraphIconInGraph(const char *protocolName, const char *graphName, const char *iconKey);
    int32_t tqotChangeRootGraphLabel(const char *protocolName, const char *graphName, const char *label);
    int32_t tqotChangeGraphLabelInGraph(const char *protocolName, const char *graphName, const char *label);
    int32_t changeGraphIcon(OVwSubmapId container, const char *selectionName, const char *iconKey);
    int32_t changeGraphIcon(const char *selectionName, const char *iconKey);
    int32_t changeGraphLabel(OVwSubmapId container, const char *selectionName, const char *label);
    int32_t changeGraphLabel(const char *selectionName, const char *label);
    GraphList *tqotGetGraphsInGraph(const char *protocolName, const char *graphName);
    int32_t tqotFreeGraphList(GraphList *list);
    int32_t tqotDeleteGraph(const char *protocolName, const char *graphName);
    int32_t tqotDeleteGraphFromGraph(const char *parentProtocol, const char *parentName,
                                     const char *protocolName, const char *graphName);
    int32_t deleteGraph(OVwObjectId container, const char *selectionName, int32_t kind);

    // ---- vertices ------------------------------------------------------------------
    OVwObjectId tqotCreateVertexInBox(const char *graphProtocol, const char *graphName, int32_t vertexProtocol,
                                      const char *vertexName, const char *iconKey, const char *label,
                                      octetString *details, int32_t statusNumber);
    OVwObjectId tqotCreateVertexInGraph(const char *graphProtocol, const char *graphName, int32_t vertexProtocol,
                                        const char *vertexName, const char *iconKey, const char *label,
                                        octetString *details, int32_t statusNumber);
    // container form
    OVwObjectId createVertex(const char *containerSelectionName, const char *vertexSelectionName,
                             const char *iconKey, const char *label, int32_t statusNumber, int32_t statusSource);
    // creation core
    OVwObjectId createVertex(OVwObjectId container, const char *vertexSelectionName, const char *iconKey,
                             const char *label, int32_t statusNumber, int32_t statusSource);
    int32_t tqotChangeVertexIconInGraph(int32_t vertexProtocol, const char *vertexName, const char *iconKey);
    int32_t tqotChangeVertexLabelInGraph(int32_t vertexProtocol, const char *vertexName, const char *label);
    int32_t tqotChangeVertexStatus(int32_t vertexProtocol, const char *vertexName, int32_t statusNumber);
    VertexList *tqotGetVerticesInGraph(const char *graphProtocol, const char *graphName);
    int32_t tqotDeleteVertexFromGraph(const char *graphProtocol, const char *graphName, int32_t vertexProtocol,
                                      const char *vertexName);
    int32_t tqotFreeVertexList(VertexList *list);

    // ---- arcs -----------------------------------------------------------------------
    OVwObjectId tqotCreateArcInGraph(const char *graphProtocol, const char *graphName, int32_t binding,
                                     tqotEndpointProtocol aProtocol, const char *aName,
                                     tqotEndpointProtocol zProtocol, const char *zName, int32_t arcIndex,
                                     const char *iconKey, const char *label, octetString *details,
                                     int32_t statusNumber);
    int32_t tqotChangeArcStatus(int32_t binding, tqotEndpointProtocol aProtocol, const char *aName,
                                tqotEndpointProtocol zProtocol, const char *zName, int32_t arcIndex,
                                int32_t statusNumber);
    ArcList *tqotGetArcsInGraph(const char *graphProtocol, const char *graphName);
    int32_t tqotDeleteArcFromGraph(const char *graphProtocol, const char *graphName, int32_t binding,
                                   tqotEndpointProtocol aProtocol, const char *aName,
                                   tqotEndpointProtocol zProtocol, const char *zName, int32_t arcIndex);
    int32_t tqotFreeArcList(ArcList *list);
    // Protocol-name areas hold 128 bytes each.
    int32_t endpointProtocols(int32_t binding, tqotEndpointProtocol aProtocol, tqotEndpointProtocol zProtocol,
                              char *aArea, char *zArea);
    char *arcName(int32_t binding, tqotEndpointProtocol aProtocol, const char *aName,
                  tqotEndpointProtocol zProtocol, const char *zName, int32_t arcIndex);
    void unarcName(char *selectionName, int32_t *binding, tqotEndpointProtocol *aProtocol, char **aName,
                   tqotEndpointProtocol *zProtocol, char **zName, int32_t *index);
    void endpointSymbols(OVwObjectId graph, OVwSubmapId graphSubmap, int32_t binding,
                         tqotEndpointProtocol aProtocol, const char *aName, tqotEndpointProtocol zProtocol,
                         const char *zName, OVwSymbolId *aSymbol, OVwSymbolId *zSymbol);

    // ---- members ----------------------------------------------------------------------
    OVwMapInfo *mapHandle = nullptr;
    int32_t pendingError = 0;
    int32_t singleSymbolPerContainer = 1;
    uint8_t orderedArcNames = 1;
    ServerEndpoint *serverData = nullptr;
    TqServerCallback serverCallback = nullptr;
    uint8_t done = 0;
    MemberIndex memberIndex;

    // Removes entries (container, kind) -> member: the first match when
    // singleSymbolPerContainer is set, else every match.
    void removeMember(OVwObjectId container, int32_t kind, OVwObjectId member);

    // Selection names of a graph's members of one kind, in index order (the
    // platform's texts: release each with OVFree). Empty when no map is open
    // or the graph does not resolve. Traces under the caller's operation.
    std::vector<char *> memberSelectionNames(const char *operation, const char *graphProtocol,
                                             const char *graphName, int32_t kind);

    // Sets the map status of a status number on every symbol of the object
    // with that selection name. Traces under the caller's operation. 0, or
    // TQOT_ERR_NO_OBJECT when no object has the name, TQOT_ERR_PLATFORM when
    // a symbol's status could not be set.
    int32_t setStatusOnObject(const char *operation, const char *selectionName, int32_t statusNumber);

    // Puts every member back to its start value (tests; the daemon never calls it).
    void resetForTests();

    // Sets the pending error to one of the adapter's own codes, unless one is
    // pending already (the first reason is the real one).
    void refuse(int32_t code);
    // A creation that made nothing: its reason is pending afterwards, the
    // platform's own when no refusal of the adapter's was set.
    OVwObjectId creationFailed();

private:
    TopologyAdapter();
    TopologyAdapter(const TopologyAdapter &) = delete;
    TopologyAdapter &operator=(const TopologyAdapter &) = delete;

    std::string platformFailure_;   // text of TQOT_ERR_CREATE_FAILED
    char nameBuffer_[256] = {};
    char arcNameBuffer_[256] = {};
    OVwFieldId isGraphField_ = 0;
    OVwFieldId isVertexField_ = 0;
};

#endif
