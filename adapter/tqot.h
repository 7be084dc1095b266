// The tqot topology API: the TopologyAdapter singleton and its operations
// over the map platform.
//
// Threads and callbacks: the adapter is one process-wide object without
// locks, used from the thread that makes the platform calls (ovw/ovw.h).
// Its map-event handlers (the *CB members) are registered by tqotInit and run
// only inside OVwProcessEvent, which mainLoop calls; tqotInit runs mapOpenCB
// once itself. The server callback runs from mainLoop, once per loop turn,
// after the waiting events.
//
// Results and the error state: a call that fails says so by its result (object
// id 0, a null name, -1 or a code, as each declaration says); tqotGetError
// then tells why. The adapter's error state is its pending code
// (pendingError), set by the name builders' refusals (name, arcName) and by
// the creations, only while none is pending (the first reason is the real
// one). tqotGetError takes it; the tqotCreate* calls clear it when they start;
// tqotChangeVertexStatus and tqotChangeArcStatus take their own name refusal;
// every other call leaves it. Without a pending code the platform's error
// state (that of the last platform call) speaks.
//
// Ownership: texts passed in stay the caller's. Lists returned are the
// caller's until their tqotFree* call; the texts of their entries go with
// them. Other texts returned point into the adapter's buffers or tables and
// stay valid as each declaration says.
#ifndef TQ_ADAPTER_TQOT_H
#define TQ_ADAPTER_TQOT_H

#include "adapter/server_endpoint.h"
#include "ovw/ovw.h"
#include "adapter/tqlib.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

// Member kinds of memberIndex.
enum : int32_t { TQOT_KIND_GRAPH = 0, TQOT_KIND_VERTEX = 1, TQOT_KIND_ARC = 2 };

// Pending error codes, and the results of the calls that return one.
enum : int32_t {
    TQOT_ERR_NONE = 0,
    // Result of the graph and vertex icon and label changes: no object has
    // the selection name, or the name could not be built (its refusal is then
    // pending). Never pending itself; tqotGetErrorMsg gives the general text.
    TQOT_ERR_NO_SUCH_OBJECT = 2,
    TQOT_ERR_GRAPH_HAS_SYMBOL = 18,   // internal: graph already shown on the target submap
    TQOT_ERR_ROOT_EXISTS = 20,        // root graph existed; label and icon updated
    TQOT_ERR_PLATFORM = -1,           // the platform reports an error (OVwError)
    TQOT_ERR_NO_CONNECTION = 29,      // tqotInit: OVwInit failed
    // The adapter's own refusals, each with a text of its own.
    TQOT_ERR_NO_MAP = 30,             // no map is open
    TQOT_ERR_NAME_TOO_LONG = 31,      // a selection or arc name would pass 255 characters
    TQOT_ERR_NAME_SEPARATOR = 32,     // a name holds ';', the separator of selection and arc names
    TQOT_ERR_NO_ENDPOINT = 33,        // an arc endpoint does not resolve
    TQOT_ERR_NO_CONTAINER = 34,       // the containing graph does not exist
    TQOT_ERR_CREATE_FAILED = 35,      // the platform did not create the object
    TQOT_ERR_NO_OBJECT = 36,          // status changes: no object has the name the change was aimed at
    TQOT_ERR_BAD_BINDING = 37,        // tqotChangeArcStatus: a name binding outside 4..7 (never pending)
    TQOT_ERR_NOT_SHOWN = 38,          // status, icon, label changes: no symbol there (never pending)
};

// Size of a buffer for one selection name ("<protocol>;<name>;<map>") or arc
// selection name: at most 255 characters and the NUL. A longer name is
// refused whole (TQOT_ERR_NAME_TOO_LONG), never cut.
constexpr size_t kTqSelectionNameSize = 256;
using TqSelectionName = char[kTqSelectionNameSize];

// Detail text passed with creations (accepted, not used by the adapter).
struct octetString {
    char *octetString;
    int32_t octetLength;
};

struct GraphEntry {
    char *protocol;   // owned selection name, split in place: reads as the protocol name
    char *name;       // points into protocol's text
};
// Lists of a graph's members, in member index order: made by the
// tqotGet*InGraph calls, released with the matching tqotFree*List call.
struct GraphList {
    int32_t count;
    GraphEntry *entries;   // null when count is 0 (so in every list)
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
    int32_t binding;                  // 4 to 7 from the protocol names; 0 (no parts): not an arc name
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

// The server callback, run with (0, the endpoint): the daemon reads and
// handles one frame.
using TqServerCallback = void (*)(int32_t, ServerEndpoint *);

// Ordered multimap (container object id, member kind) -> member object id.
// Equal keys keep insertion order (std::multimap inserts at the upper bound).
using MemberKey = std::pair<int32_t, int32_t>;
using MemberIndex = std::multimap<MemberKey, OVwObjectId>;

class TopologyAdapter {
public:
    // The one adapter: made on first use, never destroyed.
    static TopologyAdapter *instance();

    // ---- core -----------------------------------------------------------
    // Connects to the platform (OVwInit), registers the five event handlers
    // (one that fails is traced) and takes the open map as a map open would.
    // 0, or TQOT_ERR_NO_CONNECTION when OVwInit fails (OVwError and
    // OVwErrorDetail tell why; nothing else is done).
    int32_t tqotInit(int32_t unused, int32_t orderedArcNames, int32_t singleSymbolPerContainer);
    // Closes the endpoint's listening socket, releases the map record, removes
    // the handlers and disconnects (OVwDone commits the open turn). 0.
    int32_t tqotDone();
    // Does nothing (creations are synchronous). 0.
    int32_t tqotSetSynchronousCreation(int32_t unused);
    // The endpoint (not owned; it must outlive mainLoop, which closes its
    // sockets through it) and the callback mainLoop runs with it.
    void registerServerCallback(ServerEndpoint *serverData, TqServerCallback callback);
    // Until done: stores the turn before (OVwPending, made again while it
    // fails for a reason that may pass), handles the waiting events, then runs
    // the server callback, except between a map close and the next map open
    // (mapReadyForFrame).
    // Leaves when done is set (end of session) or the event channel fails (an
    // event that fails is traced, and the frame comes next); then commits the
    // open turn and calls tqotDone.
    void mainLoop();
    // Does nothing but trace.
    void endConnection();
    // Rebuilds the member index from every symbol of every submap (empty when
    // no map is open); a listing that fails is traced and skipped.
    void synchWithMap();
    // After a turn's changes were rolled back: what the adapter remembers of
    // the map (member index, field ids) is taken from the map again.
    void resynchAfterRollback();
    // Takes the reason of the last failure: the pending code (cleared), else
    // TQOT_ERR_PLATFORM when OVwError() is set, else TQOT_ERR_NONE.
    int32_t tqotGetError();
    // A static text for any code, except TQOT_ERR_CREATE_FAILED: the adapter's
    // text with the platform's reason, valid until the next failed creation.
    const char *tqotGetErrorMsg(int32_t code);

    // Map-event handlers (what map and eventData hold, and how long: see
    // OVwCallbackProc). End session: closes the connection, ends mainLoop.
    // Map open: takes the map record anew, rebuilds the index. Map close:
    // releases the record, acknowledges, closes the connection. Symbol
    // deletion: drops the members of the deleted symbols from the index.
    // Object deletion: unsets each object's values and deletes it.
    static void endSessionCB(void *userData, int event, OVwMapInfo *map, void *eventData);
    static void mapOpenCB(void *userData, int event, OVwMapInfo *map, void *eventData);
    static void mapCloseCB(void *userData, int event, OVwMapInfo *map, void *eventData);
    static void deleteSymbolCB(void *userData, int event, OVwMapInfo *map, void *eventData);
    static void deleteObjectCB(void *userData, int event, OVwMapInfo *map, void *eventData);

    // ---- naming and tables ---------------------------------------------------
    // Selection name "<protocol>;<name>;<map>" (an absent part reads
    // "(null)") into buffer (kTqSelectionNameSize bytes) or, without one, the
    // adapter's name buffer (valid until the next such call). Null, with the
    // refusal pending, when no map is open (TQOT_ERR_NO_MAP), a part holds ';'
    // (TQOT_ERR_NAME_SEPARATOR) or the name would pass 255 characters
    // (TQOT_ERR_NAME_TOO_LONG).
    char *name(const char *protocolName, const char *objectName, char *buffer = nullptr);
    // Splits a selection name in place (its ';' become NULs): the text then
    // reads as the protocol part; the result points at the name part (at the
    // text's end when there is none). Null for null.
    char *unname(char *selectionName);
    // The protocol name of a number: a static text, "" for a free number,
    // "invalid" outside 0..99.
    const char *protocol(int32_t number);
    // The number of a protocol name; 0 for null or an unknown name.
    int32_t unprotocol(const char *protocolName);
    // The platform layout of a layout number 0..9; OVwNoLayout for others.
    int32_t layout(int32_t number);
    // The platform symbol status of a status number 0..4; that of 0 for others.
    int32_t status(int32_t number);
    // The symbol type of an icon key, from oid_to_sym (read on first use): a
    // text of the icon table, valid for the process (until the tests'
    // resetNamingTables). Null for null or a key the table lacks.
    const char *icon(const char *key);

    // ---- graphs -----------------------------------------------------------------
    // Creations: the graph object (made once), its submap and its symbol on
    // the root submap, or on the parent's submap with an index entry under the
    // parent. The object id, or 0 with the reason pending: a name refusal,
    // TQOT_ERR_NO_CONTAINER (no such parent) or TQOT_ERR_CREATE_FAILED. A graph
    // already shown there gets its label and icon instead (with
    // singleSymbolPerContainer; without it a graph in a graph gets one more
    // symbol); for a root graph TQOT_ERR_ROOT_EXISTS is then pending with its id.
    OVwObjectId tqotCreateRootGraph(const char *protocolName, const char *graphName, int32_t layoutNumber,
                                    const char *background, const char *iconKey, const char *label,
                                    octetString *details);
    OVwObjectId tqotCreateGraphInGraph(const char *parentProtocol, const char *parentName,
                                       const char *protocolName, const char *graphName, int32_t layoutNumber,
                                       const char *background, const char *iconKey, const char *label,
                                       octetString *details);
    // Creation core: finds or makes the object, its submap (not for one more
    // symbol of an existing graph) and its symbol on container. The object
    // id; 0 on failure (TQOT_ERR_NO_MAP pending when no map is open, else the
    // platform's error state tells), the object removed again when this call
    // made it and its submap failed. Already shown on container: label and
    // icon set, nothing created, and with rootFlag TQOT_ERR_GRAPH_HAS_SYMBOL
    // pending.
    OVwObjectId createGraph(const char *selectionName, OVwSubmapId container, int32_t layoutNumber,
                            const char *background, const char *iconKey, const char *label, uint8_t rootFlag,
                            const OVwPosition *position);
    // Sets the isGraph and isVertex booleans of a new object; failures traced.
    void setTypeField(OVwObjectId object, int32_t kind);
    // The id of a boolean field, created (capability) when missing; 0, traced,
    // on failure.
    OVwFieldId getFieldId(const char *fieldName);
    // Icon (the key's symbol type; a key the table lacks clears it) or label
    // of a graph: of its symbol on the root submap or on container (Root and
    // container forms), or of every symbol it has. 0; TQOT_ERR_NOT_SHOWN when
    // it has no symbol there (or none at all); -1 when a setter failed (the
    // platform's error state tells), or, for changeGraph*, no map is open;
    // TQOT_ERR_NO_SUCH_OBJECT when no object has the name or the name cannot
    // be built (no map open included; its refusal stays pending).
    int32_t tqotChangeRootGraphIcon(const char *protocolName, const char *graphName, const char *iconKey);
    int32_t tqotChangeGraphIconInGraph(const char *protocolName, const char *graphName, const char *iconKey);
    int32_t tqotChangeRootGraphLabel(const char *protocolName, const char *graphName, const char *label);
    int32_t tqotChangeGraphLabelInGraph(const char *protocolName, const char *graphName, const char *label);
    int32_t changeGraphIcon(OVwSubmapId container, const char *selectionName, const char *iconKey);
    int32_t changeGraphIcon(const char *selectionName, const char *iconKey);
    int32_t changeGraphLabel(OVwSubmapId container, const char *selectionName, const char *label);
    int32_t changeGraphLabel(const char *selectionName, const char *label);
    // The graphs in a graph (see GraphList). Empty when no map is open or the
    // graph does not resolve; null when memory runs out.
    GraphList *tqotGetGraphsInGraph(const char *protocolName, const char *graphName);
    // Releases a list and its texts; null allowed. 0.
    int32_t tqotFreeGraphList(GraphList *list);
    // Removes a graph's symbol from the root submap, or from the parent's
    // submap, with its index entry; the object stays, and a symbol that
    // cannot be deleted is traced only. 0; TQOT_ERR_NO_CONTAINER, pending
    // too, when the parent does not resolve (never taken for the root
    // submap); -1 when a name cannot be built (refusal pending), no map is
    // open, the object does not resolve or its symbols cannot be read;
    // tqotDeleteGraphFromGraph also for a null graph name.
    int32_t tqotDeleteGraph(const char *protocolName, const char *graphName);
    int32_t tqotDeleteGraphFromGraph(const char *parentProtocol, const char *parentName,
                                     const char *protocolName, const char *graphName);
    // Removal core: the index entry (container, kind) -> object and the
    // object's symbol on container's submap (the root submap for 0); every
    // such symbol unless singleSymbolPerContainer. 0 or -1 as above.
    int32_t deleteGraph(OVwObjectId container, const char *selectionName, int32_t kind);

    // ---- vertices ------------------------------------------------------------------
    // Creations (the two forms do the same): the vertex object (made once) and
    // its symbol on the graph's submap with the status's symbol status, and
    // an index entry under the graph. The object id, or 0 with the reason
    // pending: a name refusal, TQOT_ERR_NO_CONTAINER or TQOT_ERR_CREATE_FAILED.
    // A vertex already shown there gets status, label and icon instead (with
    // singleSymbolPerContainer).
    OVwObjectId tqotCreateVertexInBox(const char *graphProtocol, const char *graphName, int32_t vertexProtocol,
                                      const char *vertexName, const char *iconKey, const char *label,
                                      octetString *details, int32_t statusNumber);
    OVwObjectId tqotCreateVertexInGraph(const char *graphProtocol, const char *graphName, int32_t vertexProtocol,
                                        const char *vertexName, const char *iconKey, const char *label,
                                        octetString *details, int32_t statusNumber);
    // Container form: 0 with TQOT_ERR_NO_CONTAINER pending when the container
    // does not resolve.
    OVwObjectId createVertex(const char *containerSelectionName, const char *vertexSelectionName,
                             const char *iconKey, const char *label, int32_t statusNumber, int32_t statusSource);
    // Creation core: the object id; 0 on failure (TQOT_ERR_NO_MAP pending when
    // no map is open, else the platform's error state tells). The index entry
    // goes in before the symbol and stays when the symbol fails.
    OVwObjectId createVertex(OVwObjectId container, const char *vertexSelectionName, const char *iconKey,
                             const char *label, int32_t statusNumber, int32_t statusSource);
    // As tqotChangeGraphIconInGraph and tqotChangeGraphLabelInGraph, with the
    // vertex protocol's name: every symbol of the object.
    int32_t tqotChangeVertexIconInGraph(int32_t vertexProtocol, const char *vertexName, const char *iconKey);
    int32_t tqotChangeVertexLabelInGraph(int32_t vertexProtocol, const char *vertexName, const char *label);
    // Sets the status on every symbol of the vertex: as setStatusOnObject, or
    // TQOT_ERR_NO_MAP, or the code of the name's refusal (taken, not left
    // pending).
    int32_t tqotChangeVertexStatus(int32_t vertexProtocol, const char *vertexName, int32_t statusNumber);
    // The vertices in a graph (see GraphList); as tqotGetGraphsInGraph.
    VertexList *tqotGetVerticesInGraph(const char *graphProtocol, const char *graphName);
    // Removes the vertex's symbol from the graph's submap, with its index
    // entry, as tqotDeleteGraphFromGraph; -1 also for a null vertex name. A
    // graph that does not resolve (its name not built included) gives
    // TQOT_ERR_NO_CONTAINER.
    int32_t tqotDeleteVertexFromGraph(const char *graphProtocol, const char *graphName, int32_t vertexProtocol,
                                      const char *vertexName);
    // Releases a list and its texts; null allowed. 0.
    int32_t tqotFreeVertexList(VertexList *list);

    // ---- arcs -----------------------------------------------------------------------
    // The arc object (made once, named by arcName), the endpoint vertices the
    // binding gives by number where they are missing, and its connection
    // between the endpoints' symbols on the graph's submap, with an index
    // entry under the graph. The arc's id, or 0 with the reason pending:
    // TQOT_ERR_NO_MAP, a name refusal (checked before any endpoint vertex
    // is made), TQOT_ERR_NO_CONTAINER, TQOT_ERR_NO_ENDPOINT or
    // TQOT_ERR_CREATE_FAILED. With singleSymbolPerContainer an arc already
    // drawn in the graph (or in the exploded view of an object shown there)
    // gets updateArcSymbols instead. A connection that could not be drawn or
    // updated still gives the id: the platform's error state tells
    // (tqotGetError: TQOT_ERR_PLATFORM).
    OVwObjectId tqotCreateArcInGraph(const char *graphProtocol, const char *graphName, int32_t binding,
                                     tqotEndpointProtocol aProtocol, const char *aName,
                                     tqotEndpointProtocol zProtocol, const char *zName, int32_t arcIndex,
                                     const char *iconKey, const char *label, octetString *details,
                                     int32_t statusNumber);
    // An arc already drawn in the graph, sent again: its symbols on the
    // graph's submap get the status, and the label unless it is null. The
    // first failure stops it, traced, with the platform's error state set.
    void updateArcSymbols(OVwObjectId arc, OVwSubmapId graphSubmap, const char *label, int32_t statusNumber);
    // Sets the status on every symbol of the arc: as setStatusOnObject, or
    // TQOT_ERR_BAD_BINDING for a binding outside 4..7, or the code of the
    // name's refusal (taken, not left pending).
    int32_t tqotChangeArcStatus(int32_t binding, tqotEndpointProtocol aProtocol, const char *aName,
                                tqotEndpointProtocol zProtocol, const char *zName, int32_t arcIndex,
                                int32_t statusNumber);
    // The arcs in a graph (see GraphList), each name split by unarcName; as
    // tqotGetGraphsInGraph.
    ArcList *tqotGetArcsInGraph(const char *graphProtocol, const char *graphName);
    // Removes the arc's symbol from the graph's submap, with its index entry,
    // as tqotDeleteVertexFromGraph; -1 also for a null endpoint name.
    int32_t tqotDeleteArcFromGraph(const char *graphProtocol, const char *graphName, int32_t binding,
                                   tqotEndpointProtocol aProtocol, const char *aName,
                                   tqotEndpointProtocol zProtocol, const char *zName, int32_t arcIndex);
    // Releases a list and its texts; null allowed. 0.
    int32_t tqotFreeArcList(ArcList *list);
    // Copies the two endpoint protocol names (numbers named by protocol(), as
    // the binding says) into the areas of 128 bytes each. 0, or -1 (nothing
    // pending, areas untouched) for a binding outside 4..7 or a name that is
    // null or longer than 127 characters.
    int32_t endpointProtocols(int32_t binding, tqotEndpointProtocol aProtocol, tqotEndpointProtocol zProtocol,
                              char *aArea, char *zArea);
    // Arc selection name "<a protocol>;<a name>;<z protocol>;<z name>;<index>;
    // <map>" (with orderedArcNames the two ends in byte order) in the
    // adapter's arc-name buffer, valid until the next arcName call. Null when
    // endpointProtocols fails (nothing pending), or with the refusal pending:
    // TQOT_ERR_NO_MAP, TQOT_ERR_NAME_SEPARATOR, TQOT_ERR_NAME_TOO_LONG.
    char *arcName(int32_t binding, tqotEndpointProtocol aProtocol, const char *aName,
                  tqotEndpointProtocol zProtocol, const char *zName, int32_t arcIndex);
    // Splits an arc selection name in place; the outputs point into it. The
    // binding follows from the protocols: 7 both known numbers, 6 a only, 5 z
    // only, 4 neither. A text of another layout gives binding 0, null parts
    // and index 0, and is left as it is.
    void unarcName(char *selectionName, int32_t *binding, tqotEndpointProtocol *aProtocol, char **aName,
                   tqotEndpointProtocol *zProtocol, char **zName, int32_t *index);
    // The endpoints' symbols on the graph's submap (0 where there is none),
    // creating an endpoint vertex the binding gives by number when it is
    // missing. TQOT_ERR_NO_ENDPOINT is pending when an endpoint does not
    // resolve; nothing when endpointProtocols fails.
    void endpointSymbols(OVwObjectId graph, OVwSubmapId graphSubmap, int32_t binding,
                         tqotEndpointProtocol aProtocol, const char *aName, tqotEndpointProtocol zProtocol,
                         const char *zName, OVwSymbolId *aSymbol, OVwSymbolId *zSymbol);

    // The endpoint registered by registerServerCallback; null before.
    ServerEndpoint *serverEndpoint() const { return serverData; }

private:
    friend struct TopologyAdapterPeer;   // tests' access (adapter/testing.h)

    TopologyAdapter();
    TopologyAdapter(const TopologyAdapter &) = delete;
    TopologyAdapter &operator=(const TopologyAdapter &) = delete;

    // The open map's record (the adapter's: released on map close, on a new
    // map open and by tqotDone); null when no map is open.
    OVwMapInfo *mapHandle = nullptr;
    int32_t pendingError = 0;   // see tqotGetError
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
    // TQOT_ERR_NO_OBJECT when no object has the name, TQOT_ERR_NOT_SHOWN when
    // it has no symbol, TQOT_ERR_PLATFORM when a symbol's status could not
    // be set.
    int32_t setStatusOnObject(const char *operation, const char *selectionName, int32_t statusNumber);

    // Sets the pending error to one of the adapter's own codes, unless one is
    // pending already (the first reason is the real one).
    void refuse(int32_t code);
    // A creation that made nothing: its reason is pending afterwards, the
    // platform's own when no refusal of the adapter's was set.
    OVwObjectId creationFailed();

    std::string platformFailure_;   // text of TQOT_ERR_CREATE_FAILED
    TqSelectionName nameBuffer_ = {};
    TqSelectionName arcNameBuffer_ = {};
    OVwFieldId isGraphField_ = 0;
    OVwFieldId isVertexField_ = 0;
};

#endif
