// The topology library's entry point that the content reconciliation calls.
#ifndef TQ_ADAPTER_TQLIB_H
#define TQ_ADAPTER_TQLIB_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// An arc endpoint's protocol: a protocol number or a protocol name, read by
// the arc's name binding (4: both names, 5: a name and z number,
// 6: a number and z name, 7: both numbers).
typedef union tqotEndpointProtocol {
    int32_t vertexProtocol;
    char *graphProtocol;
} tqotEndpointProtocol;

// Removes the arc from the graph on the map. Result: 0, or -1 on failure.
int tqotDeleteArcFromGraph(const char *graphProtocol, const char *graphName, int32_t binding,
                           tqotEndpointProtocol aProtocol, const char *aName,
                           tqotEndpointProtocol zProtocol, const char *zName, int32_t arcIndex);

#ifdef __cplusplus
}
#endif

#endif
