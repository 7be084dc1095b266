#include "intake/dispatch.h"

#include "daemon/log.h"
#include "handlers/handlers.h"

namespace {

using Handler = void (*)(char *, int);

struct Route {
    const char *trace;
    Handler handler;
};

// Sub-types 1..11; sub-type 4 has no handler and counts as unknown.
const Route routes[] = {
    {"processing graph msg\n", processGraphMsg},
    {"processing vertex msg\n", processVertexMsg},
    {"processing arc msg\n", processArcMsg},
    {nullptr, nullptr},
    {"processing vertex status msg\n", processVertexStatusMsg},
    {"processing arc status msg\n", processArcStatusMsg},
    {"processing common properties msg\n", processCommonPropertiesMsg},
    {"processing delete graph msg\n", processGraphUpdateMsg},
    {"processing change icon msg\n", processChangeIconMsg},
    {"processing change label msg\n", processChangeLabelMsg},
    {"processing contentID msg\n", processContentIDMsg},
};

}  // namespace

int dispatchApiMsg(char *data, int length)
{
    if (tqDebug)
        DebugTrace("processing tqot api msg\n");

    // An empty API message carries no sub-type: treated as an unknown one.
    const int subType = (data != nullptr && length >= 1) ? static_cast<signed char>(data[0]) : 0;
    const int count = static_cast<int>(sizeof routes / sizeof routes[0]);
    if (subType < 1 || subType > count || routes[subType - 1].handler == nullptr) {
        if (tqDebug)
            DebugTrace("Unknown API Msg type.\n");
        return -1;
    }

    const Route &route = routes[subType - 1];
    if (tqDebug)
        DebugTrace("%s", route.trace);
    route.handler(data + 1, length - 1);
    return 0;
}
