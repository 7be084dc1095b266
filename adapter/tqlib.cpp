// The topology library's entry point: the content reconciliation removes arcs
// through it, and it hands the call to the adapter.
#include "adapter/tqlib.h"

#include "adapter/tqot.h"

extern "C" int tqotDeleteArcFromGraph(const char *graphProtocol, const char *graphName, int32_t binding,
                                      tqotEndpointProtocol aProtocol, const char *aName,
                                      tqotEndpointProtocol zProtocol, const char *zName, int32_t arcIndex)
{
    return TopologyAdapter::instance()->tqotDeleteArcFromGraph(graphProtocol, graphName, binding, aProtocol,
                                                               aName, zProtocol, zName, arcIndex);
}
