// The vertex status and arc status messages: set the status of a vertex's or
// an arc's symbols, and record the caller's state text on the device's
// common-properties objects.
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

namespace {

// Arc status endpoint texts: at most 79 characters, 51 before the ':' and 11
// after it.
constexpr size_t kStatusEndpointMax = 79;
constexpr size_t kStatusFirstSize = 52;
constexpr size_t kStatusSecondSize = 12;

// The status starts at 3; an unknown text keeps it, after these two lines.
void reportUnknownStatus(int32_t status)
{
    if (tqDebug)
        std::fprintf(stderr, "Unknown tqotStatusType = %d!\n", status);
    char line[64];
    std::snprintf(line, sizeof line, "Unknown tqotStatusType = %d!", status);
    MessageLog(line);
}

// The status number of a status text. An unknown text, after the
// unknown-status lines (with the status the message started with), refuses
// the message: no status and no state text change. -1 then.
int32_t translatedStatus(const char *text, int32_t current)
{
    const int32_t translated = statusFromText(text);
    if (translated >= 0)
        return translated;
    reportUnknownStatus(current);
    refuse(kRefusalOnly, "unknown status '%.60s'", text);
    return -1;
}

// A failed adapter call: its text on the error stream (debug flag on) and in
// the message log.
void reportArcStatusError(int32_t code)
{
    const char *text = TopologyAdapter::instance()->tqotGetErrorMsg(code);
    if (tqDebug)
        std::fprintf(stderr, "An error occured changing the arc status, errorMsg = %s\n", text);
    char line[256];
    std::snprintf(line, sizeof line, "An error occured changing the arc status, errorMsg = %s", text);
    MessageLog(line);
    reportAdapterFailure(code);
}

// One endpoint of the arc status message: the first part equal to the graph
// protocol name makes it a graph endpoint named by that text, any other first
// part a vertex endpoint whose protocol number is the second part.
struct StatusEndpoint {
    char first[kStatusFirstSize] = {};
    char second[kStatusSecondSize] = {};
    bool isGraph = false;
    tqotEndpointProtocol protocol{};
};

bool parseStatusEndpoint(const char *text, bool isA, StatusEndpoint &endpoint)
{
    const char *which = isA ? "a" : "z";
    if (text == nullptr) {
        refuse(logged("Arc status message dropped"), "the %s endpoint is absent", which);
        return false;
    }
    const SplitResult split = splitEndpointText(text, kStatusEndpointMax, endpoint.first, kStatusFirstSize,
                                                endpoint.second, kStatusSecondSize);
    if (split != SplitResult::Ok) {
        refuse(logged("Arc status message dropped"), "the %s endpoint text '%.100s' %s", which, text,
               splitFailureText(split));
        return false;
    }
    if (std::strcmp(endpoint.first, kGraphProtocolName) == 0) {
        endpoint.isGraph = true;
        endpoint.protocol.graphProtocol = endpoint.first;
        if (tqDebug)
            DebugTrace(isA ? "aEndPointProtocol = %s\n" : "zEndPointProtocol = %s\n", endpoint.first);
    } else {
        endpoint.isGraph = false;
        endpoint.protocol.vertexProtocol = leadingInt(endpoint.second);
        if (tqDebug)
            DebugTrace(isA ? "aEndPointProtocol = %d\n" : "zEndPointProtocol = %d\n",
                       endpoint.protocol.vertexProtocol);
    }
    return true;
}

void malformedArcStatus()
{
    refuse(traced("processArcStatusMsg"), "malformed field");
}

void malformedVertexStatus()
{
    refuse(traced("processVertexStatusMsg"), "malformed field");
}

}  // namespace

void applyVertexStatus(int32_t vertexProtocol, const char *vertexName, int32_t statusNumber)
{
    if (tqDebug) {
        DebugTrace("vertex protocol is %d\n", vertexProtocol);
        DebugTrace("vertex name is %s\n", shownText(vertexName));
        DebugTrace("vertex status type is %d\n\n", statusNumber);
    }
    TopologyAdapter *adapter = TopologyAdapter::instance();
    const int32_t rc = adapter->tqotChangeVertexStatus(vertexProtocol, vertexName, statusNumber);
    if (rc != 0) {
        const char *text = adapter->tqotGetErrorMsg(rc);
        if (tqDebug)
            std::fprintf(stderr, "%s\n", text);
        MessageLog(text);
        reportAdapterFailure(rc);
    }
}

int markCommonState(const char *uniqueId, const char *stateText)
{
    if (tqDebug) {
        std::printf("%s\n", shownText(uniqueId));
        DebugTrace("%s\n", shownText(stateText));
    }
    if (uniqueId == nullptr)
        return 0;

    StringFieldQuery query("UniqueName", uniqueId);
    const OVwFieldId sanCommonField = OVwDbFieldNameToFieldId("isSanCommon");
    const OVwFieldId stateField = OVwDbFieldNameToFieldId("State");
    if (tqDebug) {
        DebugTrace("fieldId for UniqueName is %d\n", query.fieldId());
        DebugTrace("field Value for unique name is %s\n", uniqueId);
        DebugTrace("fieldId for isSanCommon is %d\n", sanCommonField);
        DebugTrace("fieldId for State is %d\n", stateField);
    }
    for (int i = 0; i < query.count(); ++i) {
        const OVwObjectId object = query.at(i);
        const int sanRc = OVwDbSetFieldBooleanValue(object, sanCommonField, 1);
        if (tqDebug)
            DebugTrace("Boolean Vlaue for IsSanCommon is %d\n", sanRc);
        if (sanRc != 0)
            failedFieldWrite("isSanCommon");
        // An absent state text is not written as an empty or null value.
        if (stateText == nullptr) {
            if (tqDebug)
                DebugTrace("String Value for State is absent, write skipped\n");
            continue;
        }
        const int stateRc = OVwDbSetFieldStringValue(object, stateField, stateText);
        if (tqDebug)
            DebugTrace("String Value for State is %d\n", stateRc);
        if (stateRc != 0)
            failedFieldWrite("State");
    }
    return query.count();
}

void processVertexStatusMsg(char *data, int length)
{
    FieldReader reader(data, length);
    int32_t status = 3;

    const char *uniqueIdStr = reader.str();
    const char *vname = reader.str();
    if (!reader.ok())
        return malformedVertexStatus();
    if (tqDebug) {
        DebugTrace("uniqueIdStr = %s\n", shownText(uniqueIdStr));
        DebugTrace("vname = %s\n", shownText(vname));
    }
    if (uniqueIdStr != nullptr)
        messageIdentity("unique id '%.200s'", uniqueIdStr);

    const char *statusText = reader.str();
    if (!reader.ok())
        return malformedVertexStatus();
    if (statusText == nullptr)
        return refuse(logged("Vertex status message dropped"), "the status is absent");
    status = translatedStatus(statusText, status);
    if (status < 0)
        return;
    if (tqDebug)
        DebugTrace("vTQStatus = %d\n", status);

    const char *stateText = reader.str();
    if (!reader.ok())
        return malformedVertexStatus();
    if (tqDebug)
        DebugTrace("state = %s\n", shownText(stateText));

    // No object can carry an absent identifier.
    if (uniqueIdStr == nullptr) {
        if (tqDebug)
            DebugTrace("processVertexStatusMsg: uniqueIdStr is absent, nothing to change\n");
        return refuse(kRefusalOnly, "the unique id is absent");
    }

    StringFieldQuery query("UniqueName", uniqueIdStr);
    if (tqDebug) {
        DebugTrace("fieldId for UniqueName is %d\n", query.fieldId());
        DebugTrace("field Value for unique name is %s\n", uniqueIdStr);
    }
    const OVwFieldId fieldId1 = OVwDbFieldNameToFieldId("isVertex");
    const OVwFieldId fieldId2 = OVwDbFieldNameToFieldId("isGraph");

    if (query.list() == nullptr)
        return refuse(logged("Vertex status message dropped"), "the UniqueName lookup for '%.100s' failed: %s",
                      uniqueIdStr, query.reason());
    if (query.count() == 0)
        return refuse(kRefusalOnly, "no object has this unique id");

    const OVwObjectId objectId = query.at(0);
    const OVwBoolean isVertex = OVwDbGetFieldBooleanValue(objectId, fieldId1);
    if (tqDebug) {
        DebugTrace("Boolean Value for isVertex is %d and OVwError is %d\n", isVertex, OVwError());
        DebugTrace("isVertex ObjectId = %d, fieldId1 = %d", objectId, fieldId1);
    }
    const OVwBoolean isGraph = OVwDbGetFieldBooleanValue(objectId, fieldId2);
    if (tqDebug) {
        DebugTrace("Boolean Value for isGraph is %d and OvwError is %d\n", isGraph, OVwError());
        DebugTrace("isGraph ObjectId = %d, fieldId2 = %d", objectId, fieldId2);
    }

    if (isVertex == 1) {
        // Vertices are always addressed under protocol 1 here.
        applyVertexStatus(1, vname, status);
        // A status not set keeps the state text from being written.
        if (messageRejected())
            return;
    } else if (isGraph != 1) {
        std::fprintf(stderr, "Failed to change the status : the object is not a graph or a vertex.\n");
        MessageLog("Failed to change the status : the object is not a graph or a vertex.");
        return failMessage("the object is not a graph or a vertex");
    }

    // The common-properties objects carry the identifier without its first
    // character. A graph's status message changes only them.
    const int marked = uniqueIdStr[0] != '\0' ? markCommonState(uniqueIdStr + 1, stateText) : 0;
    if (isVertex != 1 && marked == 0)
        refuse(kRefusalOnly, "no common-properties object has the unique id '%.100s'", uniqueIdStr + 1);
}

void processArcStatusMsg(char *data, int length)
{
    FieldReader reader(data, length);
    int32_t status = 3;

    const char *bindingText = reader.str();
    if (!reader.ok())
        return malformedArcStatus();
    if (bindingText == nullptr)
        return refuse(logged("Arc status message dropped"), "the Arc Name Binding is absent");
    const int32_t binding = leadingInt(bindingText);
    if (binding < 0 || binding > 7) {
        std::fprintf(stderr, "Invalid Name Binding Type specified - %d\n", binding);
        char line[96];
        std::snprintf(line, sizeof line, "Invalid Name Binding Type specified - %d", binding);
        MessageLog(line);
        return refuse(logged("Arc status message dropped"), "name binding %d is outside 0 to 7", binding);
    }
    if (tqDebug)
        DebugTrace("Arc Name Binding = %d\n", binding);

    StatusEndpoint a;
    StatusEndpoint z;
    const char *aText = reader.str();
    if (!reader.ok())
        return malformedArcStatus();
    if (!parseStatusEndpoint(aText, true, a))
        return;
    const char *aEndpointName = reader.str();
    if (!reader.ok())
        return malformedArcStatus();
    if (tqDebug)
        DebugTrace("aEndpointName = %s\n", shownText(aEndpointName));

    const char *zText = reader.str();
    if (!reader.ok())
        return malformedArcStatus();
    if (!parseStatusEndpoint(zText, false, z))
        return;
    const char *zEndpointName = reader.str();
    if (!reader.ok())
        return malformedArcStatus();
    if (tqDebug)
        DebugTrace("zEndpointName = %s\n", shownText(zEndpointName));

    const char *indexText = reader.str();
    if (!reader.ok())
        return malformedArcStatus();
    if (indexText == nullptr)
        return refuse(logged("Arc status message dropped"), "arcIndexId is absent");
    int32_t arcIndex = leadingInt(indexText);
    if (tqDebug)
        DebugTrace("arcIndexId = %d\n", arcIndex);
    messageIdentity("arc id %d between '%.80s' and '%.80s'", arcIndex, shownText(aEndpointName),
                    shownText(zEndpointName));

    const char *statusText = reader.str();
    if (!reader.ok())
        return malformedArcStatus();
    if (statusText == nullptr)
        return refuse(logged("Arc status message dropped"), "arcStatus is absent");
    status = translatedStatus(statusText, status);
    if (status < 0)
        return;
    if (tqDebug)
        DebugTrace("arcStatus = %d\n", status);

    const char *moidString = reader.str();
    if (!reader.ok())
        return malformedArcStatus();

    // The adapter reads each endpoint protocol as a text or a number by the
    // binding; one that disagrees with the endpoint kinds never reaches it.
    if (binding != bindingForKinds(a.isGraph, z.isGraph))
        return refuse(logged("Arc status message refused"), "name binding %d does not match endpoint kinds (%s, %s)",
                      binding, endpointKindName(a.isGraph), endpointKindName(z.isGraph));

    // No arc can carry an absent MoidString.
    if (moidString == nullptr) {
        if (tqDebug)
            DebugTrace("processArcStatusMsg: MoidString is absent, nothing to change\n");
        return refuse(kRefusalOnly, "the MoidString is absent");
    }

    StringFieldQuery query("MoidString", moidString);
    const OVwFieldId indexField = OVwDbFieldNameToFieldId("SanArcIndex");
    if (tqDebug) {
        DebugTrace("fieldId for MoidString is %d\n", query.fieldId());
        DebugTrace("field Value for MoidString is %s\n", moidString);
    }
    if (query.count() == 0)
        return refuse(kRefusalOnly, "no arc has the MoidString '%.100s'", moidString);

    // The index stored on the arc wins over the caller's.
    if (OVwFieldValue *stored = OVwDbGetFieldValue(query.at(0), indexField)) {
        if (!stored->is_list && stored->field_type == OVwIntegerField)
            arcIndex = stored->un.int_val;
        OVwDbFreeFieldValue(stored);
    }

    TopologyAdapter *adapter = TopologyAdapter::instance();
    int32_t rc = adapter->tqotChangeArcStatus(binding, a.protocol, aEndpointName, z.protocol, zEndpointName,
                                              arcIndex, status);
    if (rc != 0)
        reportArcStatusError(rc);
    if (binding == 7) {
        rc = adapter->tqotChangeArcStatus(7, z.protocol, zEndpointName, a.protocol, aEndpointName, arcIndex,
                                          status);
        if (rc != 0)
            reportArcStatusError(rc);
    }
}
