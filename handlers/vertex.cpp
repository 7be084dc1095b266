// The vertex message: creates one vertex in a box or in a graph and tags the
// new object with the caller's name and unique identifier.
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

void traceObjectName(const char *vname)
{
    if (tqDebug)
        DebugTrace(">>>>>>>>>>>>>>>>>>>  The name of the Object being created is %s\n", shownText(vname));
}

// Writes one string field; false when the platform refused the write.
bool setStringField(OVwObjectId object, const char *fieldName, const char *value)
{
    const OVwFieldId field = OVwDbFieldNameToFieldId(fieldName);
    return OVwDbSetFieldStringValue(object, field, value) == 0;
}

// Failed writes of MoidString are traced (six asterisks); those of UniqueName
// and TQObjectName go to the console (five asterisks).
// Either way the message fails.
void setTracedField(OVwObjectId object, const char *fieldName, const char *value)
{
    if (setStringField(object, fieldName, value))
        return;
    if (tqDebug)
        DebugTrace("******Tqdaemon Error: failed to set value to field: %s with reason: %s\n", fieldName,
                   ovReason());
    failedFieldWrite(fieldName);
}

void setConsoleField(OVwObjectId object, const char *fieldName, const char *value)
{
    if (setStringField(object, fieldName, value))
        return;
    if (tqDebug)
        std::printf("*****Tqdaemon Error: failed to set value to field: %s with reason: %s\n", fieldName,
                    ovReason());
    failedFieldWrite(fieldName);
}

void malformed()
{
    refuse(traced("processVertexMsg"), "malformed field");
}

// An absent identifier keeps the one stored: the write is skipped.
void setIdentifierField(OVwObjectId object, const char *fieldName, const char *value)
{
    if (value == nullptr) {
        if (tqDebug)
            DebugTrace("%s is absent, write skipped\n", fieldName);
        return;
    }
    setConsoleField(object, fieldName, value);
}

}  // namespace

void processVertexMsg(char *data, int length)
{
    FieldReader reader(data, length);

    const int8_t identifier = reader.byte();
    if (!reader.ok())
        return malformed();
    if (tqDebug)
        DebugTrace("Vertex Identifier = %c\n", static_cast<char>(identifier));

    const char *graphProtocol = reader.str();
    const char *parentName = reader.str();
    if (!reader.ok())
        return malformed();
    if (tqDebug) {
        DebugTrace("graphprotocol = %s\n", shownText(graphProtocol));
        DebugTrace("parentname = %s\n", shownText(parentName));
    }

    const char *protocolText = reader.str();
    if (!reader.ok())
        return malformed();
    if (protocolText == nullptr)
        return refuse(logged("Vertex message dropped"), "vertexProtocol is absent");
    int32_t vertexProtocol = vertexMsgProtocol(protocolText);
    if (vertexProtocol < 0) {
        if (tqDebug)
            DebugTrace("This program doesn't support vertexProtocol = %s!\n", protocolText);
        vertexProtocol = 1;
    }
    if (tqDebug)
        DebugTrace("vertexProtocol = %d\n", vertexProtocol);

    const char *vname = reader.str();
    if (!reader.ok())
        return malformed();
    if (tqDebug)
        DebugTrace("vname = %s\n", shownText(vname));
    if (vname == nullptr)
        return refuse(logged("Vertex message dropped"), "vname is absent");
    messageIdentity("name '%.200s'", vname);

    const char *statusText = reader.str();
    if (!reader.ok())
        return malformed();
    if (statusText == nullptr)
        return refuse(logged("Vertex message dropped"), "vstatus is absent");
    const int32_t vstatus = statusFromText(statusText);
    if (vstatus < 0) {
        if (tqDebug)
            DebugTrace("Unknown tqotStatusType!\n");
        return refuse(logged("Vertex message dropped"), "unknown vstatus '%.60s'", statusText);
    }
    if (tqDebug)
        DebugTrace("vstatus = %d\n", vstatus);

    const char *vicon = reader.str();
    const char *vlabel = reader.str();
    const char *details = reader.str();
    if (!reader.ok())
        return malformed();
    if (tqDebug) {
        DebugTrace("vicon = %s\n", shownText(vicon));
        DebugTrace("vlabel = %s\n", shownText(vlabel));
        DebugTrace("vDetails = %s\n", shownText(details));
    }

    // The identifier is used only after the creation, but it is checked now so
    // that a malformed one never leaves a half-tagged object behind.
    const char *uniqueIdStr = nullptr;
    if (identifier == 1 || identifier == 2) {
        uniqueIdStr = reader.str();
        if (!reader.ok())
            return malformed();
    }

    // A vertex sent again with an icon key oid_to_sym lacks would lose its
    // symbol type: the message changes nothing instead.
    TopologyAdapter *adapter = TopologyAdapter::instance();
    if (vicon != nullptr && adapter->icon(vicon) == nullptr) {
        TqSelectionName selection;
        if (adapter->name(adapter->protocol(vertexProtocol), vname, selection) != nullptr &&
            OVwDbSelectionNameToObjectId(selection) != 0)
            return refuse(kRefusalOnly, "unknown icon key '%.100s'", vicon);
        (void)adapter->tqotGetError();
    }

    std::unique_ptr<octetString> vDetails;
    if (details != nullptr) {
        vDetails.reset(new octetString{const_cast<char *>(details), static_cast<int32_t>(std::strlen(details))});
        if (tqDebug) {
            std::printf("vDetails->octetLength: %d\n", vDetails->octetLength);
            std::printf("vDetails->octetString: %s\n", vDetails->octetString);
        }
    }

    if (identifier == 1) {
        const OVwObjectId objId = adapter->tqotCreateVertexInBox(graphProtocol, parentName, vertexProtocol, vname,
                                                                 vicon, vlabel, vDetails.get(), vstatus);
        traceObjectName(vname);
        const int32_t error = adapter->tqotGetError();
        // Object 0 is no object: a failed creation writes no field.
        if (objId == 0) {
            if (tqDebug)
                DebugTrace("Cannot create VertexInBox(obj name='%s'): %s!\n", shownText(vname),
                           adapter->tqotGetErrorMsg(error));
            return reportAdapterFailure(error);
        }
        setTracedField(objId, "MoidString", vname);
        if (tqDebug)
            DebugTrace("uniqueIdStr = %s\n", shownText(uniqueIdStr));
        setIdentifierField(objId, "UniqueName", uniqueIdStr);
        if (tqDebug) {
            if (error != 0)
                DebugTrace("Cannot create VertexInBox(obj name='%s'): %s!\n", shownText(vname),
                           adapter->tqotGetErrorMsg(error));
            else
                DebugTrace("Created VertexInBox (obj name='%s', objId:%d)\n", shownText(vname), objId);
        }
        if (error != 0)
            failMessage("the vertex's symbol was not drawn: %s", adapter->tqotGetErrorMsg(error));
    } else if (identifier == 2) {
        const OVwObjectId objId = adapter->tqotCreateVertexInGraph(graphProtocol, parentName, vertexProtocol,
                                                                   vname, vicon, vlabel, vDetails.get(), vstatus);
        const int32_t error = adapter->tqotGetError();
        if (error != 0 || objId == 0) {
            if (tqDebug)
                DebugTrace("Cannot create VertexInGraph (obj name='%s'): %s!\n", shownText(vname),
                           adapter->tqotGetErrorMsg(error));
            return reportAdapterFailure(error);
        }
        if (tqDebug)
            DebugTrace("Created VertexInGraph (obj name='%s'), objId:%d\n", shownText(vname), objId);
        traceObjectName(vname);
        setTracedField(objId, "MoidString", vname);
        if (tqDebug)
            DebugTrace("uniqueIdStr = %s\n", shownText(uniqueIdStr));
        setIdentifierField(objId, "UniqueName", uniqueIdStr);
        setConsoleField(objId, "TQObjectName", vname);
    } else {
        refuse(kRefusalOnly, "identifier %d is neither 1 (in a box) nor 2 (in a graph)", identifier);
    }
}
