#include "intake/dispatch.h"

#include "log/log.h"
#include "log/outcome.h"
#include "handlers/handlers.h"

namespace {

using Handler = void (*)(char *, int);

struct Route {
    const char *trace;
    Handler handler;
    const char *kind;   // names the message in the message log
};

// Sub-types 1..11; sub-type 4 has no handler and counts as unknown.
const Route routes[] = {
    {"processing graph msg\n", processGraphMsg, "graph"},
    {"processing vertex msg\n", processVertexMsg, "vertex"},
    {"processing arc msg\n", processArcMsg, "arc"},
    {nullptr, nullptr, nullptr},
    {"processing vertex status msg\n", processVertexStatusMsg, "vertex status"},
    {"processing arc status msg\n", processArcStatusMsg, "arc status"},
    {"processing common properties msg\n", processCommonPropertiesMsg, "common properties"},
    {"processing delete graph msg\n", processGraphUpdateMsg, "graph update"},
    {"processing change icon msg\n", processChangeIconMsg, "change icon"},
    {"processing change label msg\n", processChangeLabelMsg, "change label"},
    {"processing contentID msg\n", processContentIDMsg, "content list"},
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
        beginMessage("API");
        refuseMessage("unknown sub-type %d", subType);
        endMessage();
        return -1;
    }

    const Route &route = routes[subType - 1];
    if (tqDebug)
        DebugTrace("%s", route.trace);
    beginMessage(route.kind);
    route.handler(data + 1, length - 1);
    endMessage();
    return 0;
}
