#include "intake/dispatch.h"

#include "log/log.h"
#include "log/outcome.h"
#include "handlers/handlers.h"

namespace {

using Handler = void (*)(char *, int);

struct Route {
    int subType;
    const char *trace;
    Handler handler;
    const char *kind;   // names the message in the message log
};

// Sub-types 1..11 by number; sub-type 4 has no handler and counts as unknown.
const Route routes[] = {
    {1, "processing graph msg\n", processGraphMsg, "graph"},
    {2, "processing vertex msg\n", processVertexMsg, "vertex"},
    {3, "processing arc msg\n", processArcMsg, "arc"},
    {5, "processing vertex status msg\n", processVertexStatusMsg, "vertex status"},
    {6, "processing arc status msg\n", processArcStatusMsg, "arc status"},
    {7, "processing common properties msg\n", processCommonPropertiesMsg, "common properties"},
    {8, "processing delete graph msg\n", processGraphUpdateMsg, "graph update"},
    {9, "processing change icon msg\n", processChangeIconMsg, "change icon"},
    {10, "processing change label msg\n", processChangeLabelMsg, "change label"},
    {11, "processing contentID msg\n", processContentIDMsg, "content list"},
};

// The route of a sub-type, or null when none handles it.
const Route *routeOf(int subType)
{
    for (const Route &route : routes) {
        if (route.subType == subType)
            return &route;
    }
    return nullptr;
}

}  // namespace

int dispatchApiMsg(char *data, int length)
{
    if (tqDebug)
        DebugTrace("processing tqot api msg\n");

    // An empty API message carries no sub-type: treated as an unknown one.
    const int subType = (data != nullptr && length >= 1) ? static_cast<signed char>(data[0]) : 0;
    const Route *route = routeOf(subType);
    if (route == nullptr) {
        if (tqDebug)
            DebugTrace("Unknown API Msg type.\n");
        beginMessage("API");
        refuseMessage("unknown sub-type %d", subType);
        endMessage();
        return -1;
    }

    if (tqDebug)
        DebugTrace("%s", route->trace);
    beginMessage(route->kind);
    route->handler(data + 1, length - 1);
    endMessage();
    return 0;
}
