// Message handlers, one per API sub-type or continuation kind. Each takes the
// field data after the sub-type byte (or the continuation data after the
// payload kind byte) and the number of bytes there, and checks every field
// against that length. The data stays the caller's; results go to the map and,
// through log/outcome.h, to the message log; nothing is returned.
#ifndef TQ_HANDLERS_HANDLERS_H
#define TQ_HANDLERS_HANDLERS_H

#include "adapter/tqlib.h"

#include <cstdint>

// graphs and content lists (graph.cpp)
void processGraphMsg(char *data, int length);
void processContentIDMsg(char *data, int length);
void processContinueGraphMsg(char *data, int length);
void processContinueContentIDListMsg(char *data, int length);

// vertices (vertex.cpp)
void processVertexMsg(char *data, int length);

// arcs (arc.cpp)
void processArcMsg(char *data, int length);

// statuses (status.cpp)
void processVertexStatusMsg(char *data, int length);
void processArcStatusMsg(char *data, int length);
// Sets the status on every symbol of the vertex; a failure is logged and
// refuses or fails the message in hand.
void applyVertexStatus(int32_t vertexProtocol, const char *vertexName, int32_t statusNumber);
// Sets isSanCommon, and State unless stateText is null, on every object whose
// UniqueName is uniqueId (none for a null uniqueId); a failed write fails the
// message. The number of such objects.
int markCommonState(const char *uniqueId, const char *stateText);

// common properties (common_properties.cpp)
void processCommonPropertiesMsg(char *data, int length);

// icons and labels (appearance.cpp)
void processGraphUpdateMsg(char *data, int length);
void processChangeIconMsg(char *data, int length);
void processChangeLabelMsg(char *data, int length);

// content reconciliation (reconcile.cpp)
struct GraphRef {
    char graph_name[500];
    char graph_protocol[50];
};
struct ContentIdList;   // defined in handlers/content.h
// Removes from the graph the members the collected content lists
// (handlers/content.h) do not name: graphs (a graph or box record keeps one)
// with the arcs that touch them, and vertices (every vertex when the lists
// name none), each removed vertex losing the graph from its ParentNameList.
void reconcileGraphContents(GraphRef graph);
// Removes every arc of the graph from it.
void deleteGraphArcs(const char *graphProtocol, const char *graphName);
// Removes the parent's arcs that end at the member graph.
void deleteArcsTouchingGraph(const char *parentProtocol, const char *parentName,
                             const char *memberProtocol, const char *memberName);
// Takes parentName out of the ParentNameList of the first object whose
// TQObjectName is vertexName; nothing when either is null.
void removeParentName(const char *parentName, const char *vertexName);

#endif
