// The arc message: draws one arc between two endpoints (vertices or graphs)
// inside a graph and stores the caller's arc index and MoidString on it.
#include "handlers/handlers.h"

#include "adapter/tqot.h"
#include "log/log.h"
#include "log/outcome.h"
#include "handlers/common.h"
#include "handlers/endpoint_text.h"
#include "codec/codec.h"
#include "ovw/ovw.h"

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

// Endpoint texts and their parts hold at most 49 characters.
constexpr size_t kEndpointTextSize = 50;

// One endpoint: "<graph part>:<vertex part>". A graph part of "NULL" makes
// the endpoint a vertex whose protocol number is the vertex part; any other
// graph part is a graph's protocol name.
struct ArcEndpoint {
    char graphPart[kEndpointTextSize] = {};
    char vertexPart[kEndpointTextSize] = {};
    char graphProtocol[kEndpointTextSize] = {};   // the graph endpoint's own copy
    bool isGraph = false;
    tqotEndpointProtocol protocol{};
};

void malformed()
{
    refuse(traced("processArcMsg"), "malformed field");
}

// Splits and classifies an endpoint text. The a endpoint and the z endpoint
// write different lines, so `isA` selects them. False: the message is dropped
// (the drop line is written here).
bool parseEndpoint(const char *text, bool isA, ArcEndpoint &endpoint)
{
    const char *which = isA ? "a" : "z";
    if (text == nullptr) {
        refuse(logged("Arc message dropped"), "the %s endpoint is absent", which);
        return false;
    }
    const SplitResult split = splitEndpointText(text, kEndpointTextSize - 1, endpoint.graphPart, kEndpointTextSize,
                                                endpoint.vertexPart, kEndpointTextSize);
    if (split != SplitResult::Ok) {
        refuse(logged("Arc message dropped"), "the %s endpoint text '%.80s' %s", which, text, splitFailureText(split));
        return false;
    }
    if (tqDebug)
        std::printf(isA ? "aEndpointGraph=%s & aEndpointVertex=%s;" : "zEndpointGraph=%s & zEndpointVertex=%s;",
                    endpoint.graphPart, endpoint.vertexPart);

    if (std::strcmp(endpoint.graphPart, "NULL") == 0) {
        if (tqDebug)
            DebugTrace(isA ? "so, this aEndpoint is a VERTEX\n" : "so, this zEndpoint is a VERTEX\n");
        const int32_t number = arcEndpointVertexProtocol(endpoint.vertexPart);
        if (number < 0) {
            if (tqDebug)
                DebugTrace("This program doesn't support vertexProtocol = %s!\n", endpoint.vertexPart);
            refuse(logged("Arc message dropped"), "unsupported vertex protocol '%s' in the %s endpoint",
                   endpoint.vertexPart, which);
            return false;
        }
        endpoint.isGraph = false;
        endpoint.protocol.vertexProtocol = number;
        if (tqDebug)
            DebugTrace(isA ? "aEndpointProtocol.vertexProtocol = %d\n" : "zvertexProtocol = %d\n", number);
        return true;
    }

    endpoint.isGraph = true;
    std::memcpy(endpoint.graphProtocol, endpoint.graphPart, kEndpointTextSize);
    endpoint.protocol.graphProtocol = endpoint.graphProtocol;
    if (isA) {
        if (tqDebug) {
            DebugTrace("so, this aEndpoint is a GRAPH\n");
            std::printf("aEndpointProtocol.graphProtocol = %s\n", endpoint.graphProtocol);
        }
    } else if (tqDebug) {
        DebugTrace("so, this zEndpoint is a Graph:\n");
        DebugTrace("zEndpointProtocol.graphProtocol = %s\n", endpoint.graphProtocol);
    }
    return true;
}

void setFieldFailed(const char *fieldName)
{
    if (tqDebug)
        DebugTrace("******Tqdaemon Error: failed to set value to field: %s with reason: %s\n", fieldName, ovReason());
    failedFieldWrite(fieldName);
}

}  // namespace

void processArcMsg(char *data, int length)
{
    FieldReader reader(data, length);

    const char *moidString = reader.str();
    const char *gprotocol = reader.str();
    const char *gname = reader.str();
    if (!reader.ok())
        return malformed();
    if (tqDebug) {
        DebugTrace("gprotocol = %s\n", shownText(gprotocol));
        DebugTrace("gname = %s\n", shownText(gname));
    }

    const char *bindingText = reader.str();
    if (!reader.ok())
        return malformed();
    if (bindingText == nullptr)
        return refuse(logged("Arc message dropped"), "arcNameBinding is absent");
    if (tqDebug)
        DebugTrace("arcNameBinding = %s\n", bindingText);
    const int32_t binding = bindingFromText(bindingText);
    if (binding < 0) {
        std::printf("Unknown tqotNameBindingType\n");
        return refuse(logged("Arc message dropped"), "unknown arcNameBinding '%.60s'", bindingText);
    }

    ArcEndpoint a;
    ArcEndpoint z;
    const char *aText = reader.str();
    if (!reader.ok())
        return malformed();
    if (!parseEndpoint(aText, true, a))
        return;
    const char *aEndpointName = reader.str();
    if (!reader.ok())
        return malformed();
    if (tqDebug)
        DebugTrace("aEndpointName = %s\n", shownText(aEndpointName));

    const char *zText = reader.str();
    if (!reader.ok())
        return malformed();
    if (!parseEndpoint(zText, false, z))
        return;
    const char *zEndpointName = reader.str();
    if (!reader.ok())
        return malformed();
    if (tqDebug)
        DebugTrace("zEndpointName = %s\n", shownText(zEndpointName));

    const char *arcIdText = reader.str();
    if (!reader.ok())
        return malformed();
    if (arcIdText == nullptr)
        return refuse(logged("Arc message dropped"), "arcId is absent");
    if (tqDebug)
        DebugTrace("arcId = %s\n", arcIdText);
    const int32_t arcIndex = leadingInt(arcIdText);
    messageIdentity("arc id %d between '%.80s' and '%.80s'", arcIndex, shownText(aEndpointName),
                    shownText(zEndpointName));

    const char *icon = reader.str();
    const char *label = reader.str();
    const char *details = reader.str();
    if (!reader.ok())
        return malformed();
    if (tqDebug) {
        DebugTrace("arc icon = %s\n", shownText(icon));
        DebugTrace("arc label = %s\n", shownText(label));
        DebugTrace("ArcDetails = %s\n", shownText(details));
    }

    const char *statusText = reader.str();
    if (!reader.ok())
        return malformed();
    if (statusText == nullptr)
        return refuse(logged("Arc message dropped"), "astatus is absent");
    const int32_t astatus = statusFromText(statusText);
    if (astatus < 0) {
        if (tqDebug)
            DebugTrace("Unknown tqotStatusType!\n");
        return refuse(logged("Arc message dropped"), "unknown astatus '%.60s'", statusText);
    }
    if (tqDebug)
        DebugTrace("astatus = %d\n", astatus);

    // The adapter reads each endpoint protocol as a text or a number by the
    // binding; one that disagrees with the endpoint kinds would make it read a
    // number as a text. Such a message never reaches the adapter.
    if (binding != bindingForKinds(a.isGraph, z.isGraph))
        return refuse(logged("Arc message refused"), "name binding %d does not match endpoint kinds (%s, %s)", binding,
                      endpointKindName(a.isGraph), endpointKindName(z.isGraph));

    std::unique_ptr<octetString> arcDetails;
    if (details != nullptr) {
        arcDetails.reset(
            new octetString{const_cast<char *>(details), static_cast<int32_t>(std::strlen(details))});
        if (tqDebug) {
            std::printf("arcDetails->octetLength: %d\n", arcDetails->octetLength);
            std::printf("arcDetails->octetString: %s\n", arcDetails->octetString);
        }
    }

    TopologyAdapter *adapter = TopologyAdapter::instance();
    const OVwObjectId objId =
        adapter->tqotCreateArcInGraph(gprotocol, gname, binding, a.protocol, aEndpointName, z.protocol,
                                      zEndpointName, arcIndex, icon, label, arcDetails.get(), astatus);
    if (tqDebug)
        DebugTrace("\t***arc created\n");

    const int32_t error = adapter->tqotGetError();
    // Object 0 is no object: a failed creation writes no field.
    if (objId == 0) {
        if (tqDebug)
            DebugTrace("Cannot create arc (label:'%s'): %s!\n", shownText(label), adapter->tqotGetErrorMsg(error));
        return reportAdapterFailure(error);
    }
    if (tqDebug) {
        if (error != 0)
            DebugTrace("Cannot create arc (label:'%s'): %s!\n", shownText(label), adapter->tqotGetErrorMsg(error));
        else
            DebugTrace("Created arc (label:'%s', objId:%d)\n", shownText(label), objId);
    }
    // The arc object is there but its connection was not drawn or updated.
    if (error != 0)
        failMessage("the arc's connection was not drawn: %s", adapter->tqotGetErrorMsg(error));

    if (OVwDbSetFieldIntegerValue(objId, OVwDbFieldNameToFieldId("SanArcIndex"), arcIndex) != 0)
        setFieldFailed("SanArcIndex");
    // An absent MoidString keeps the one stored: status messages find the arc by it.
    if (moidString == nullptr) {
        if (tqDebug)
            DebugTrace("MoidString is absent, write skipped\n");
    } else if (OVwDbSetFieldStringValue(objId, OVwDbFieldNameToFieldId("MoidString"), moidString) != 0) {
        setFieldFailed("MoidString");
    }
}
