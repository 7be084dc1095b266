// The common properties message: descriptive properties of one device, stored
// on every object whose UniqueName is the device's common object name.
#include "handlers/handlers.h"

#include "log/log.h"
#include "log/outcome.h"
#include "handlers/common.h"
#include "codec/codec.h"
#include "ovw/ovw.h"

#include <cstdio>
#include <cstring>

namespace {

// The decoded message: eleven texts pointing into the payload (null: absent).
struct CommonProperties {
    const char *CommonObjName;
    const char *Name;
    const char *State;
    const char *Type;
    const char *ManagementURL;
    const char *Capacity;
    const char *Serial;
    const char *VendorName;
    const char *LaunchFlag;
    const char *EDFIFlag;
    const char *NodeFlag;
};

// Decodes the eleven strings in order, tracing each. False when a field is
// malformed (the trace lines of the fields before it are already written).
bool decodeCommonProperties(char *data, int length, CommonProperties &msg)
{
    struct Slot {
        const char *name;
        const char *CommonProperties::*member;
    };
    static const Slot slots[] = {
        {"CommonObjName", &CommonProperties::CommonObjName},
        {"Name", &CommonProperties::Name},
        {"State", &CommonProperties::State},
        {"Type", &CommonProperties::Type},
        {"ManagementURL", &CommonProperties::ManagementURL},
        {"Capacity", &CommonProperties::Capacity},
        {"Serial", &CommonProperties::Serial},
        {"VendorName", &CommonProperties::VendorName},
        {"LaunchFlag", &CommonProperties::LaunchFlag},
        {"EDFIFlag", &CommonProperties::EDFIFlag},
        {"NodeFlag", &CommonProperties::NodeFlag},
    };
    FieldReader reader(data, length);
    msg = CommonProperties{};
    for (const Slot &slot : slots) {
        const char *text = reader.str();
        if (!reader.ok())
            return false;
        msg.*slot.member = text;
        if (tqDebug)
            DebugTrace("common.%s = %s\n", slot.name, shownText(text));
    }
    return true;
}

// Field ids of the twelve written fields, looked up in this order.
struct CommonFieldIds {
    OVwFieldId isSanCommon, Name, State, Type, ManagementURL, DeviceCapacity, Serial, VendorName,
        isLaunchable, isEDFI, URLFlag, isNode;
};

OVwFieldId traceFieldId(const char *fieldName)
{
    const OVwFieldId id = OVwDbFieldNameToFieldId(fieldName);
    if (tqDebug)
        DebugTrace("Field Id for %s is %d\n", fieldName, id);
    return id;
}

CommonFieldIds lookUpFieldIds()
{
    CommonFieldIds ids{};
    ids.isSanCommon = traceFieldId("isSanCommon");
    ids.Name = traceFieldId("Name");
    ids.State = traceFieldId("State");
    ids.Type = traceFieldId("Type");
    ids.ManagementURL = traceFieldId("Management URL");
    ids.DeviceCapacity = traceFieldId("DeviceCapacity");
    ids.Serial = traceFieldId("Serial");
    ids.VendorName = traceFieldId("VendorName");
    ids.isLaunchable = traceFieldId("isLaunchable");
    ids.isEDFI = traceFieldId("isEDFI");
    ids.URLFlag = traceFieldId("URLFlag");
    ids.isNode = traceFieldId("isNode");
    return ids;
}

// Only "TRUE" is true; an absent flag is false.
OVwBoolean flagValue(const char *text)
{
    return text != nullptr && std::strcmp(text, "TRUE") == 0 ? 1 : 0;
}

// A string write; an absent text skips the write (with a trace line).
void writeString(OVwObjectId object, OVwFieldId field, const char *text, const char *label)
{
    if (text == nullptr) {
        if (tqDebug)
            DebugTrace("String Value for %s is absent, write skipped\n", label);
        return;
    }
    const int rc = OVwDbSetFieldStringValue(object, field, text);
    if (tqDebug)
        DebugTrace("String Value for %s is %d\n", label, rc);
    if (rc != 0)
        failedFieldWrite(label);
}

void writeBoolean(OVwObjectId object, OVwFieldId field, OVwBoolean value, const char *label)
{
    const int rc = OVwDbSetFieldBooleanValue(object, field, value);
    if (tqDebug)
        DebugTrace("Boolean Vlaue for %s is %d\n", label, rc);
    if (rc != 0)
        failedFieldWrite(label);
}

// The twelve writes on one object, in their fixed order. A failed write
// fails the message; the rest still run.
void applyToObject(OVwObjectId object, const CommonFieldIds &ids, const CommonProperties &msg)
{
    writeBoolean(object, ids.isSanCommon, 1, "IsSanCommon");
    writeString(object, ids.Name, msg.Name, "Name");
    writeString(object, ids.State, msg.State, "State");
    writeString(object, ids.Type, msg.Type, "Type");

    // The first character of the management URL is its flag; the address
    // follows. An absent URL has flag "0" and no address.
    const char *url = msg.ManagementURL;
    const char *urlFlag = "0";
    if (url != nullptr && url[0] == '1') {
        urlFlag = "1";
    } else if (url != nullptr && url[0] == '2') {
        urlFlag = "2";
    } else if (url != nullptr && tqDebug) {
        DebugTrace("URL Flag is %d\n", static_cast<int>(url[0]));
    }
    writeString(object, ids.URLFlag, urlFlag, "URLFlag");
    writeString(object, ids.ManagementURL, url != nullptr && url[0] != '\0' ? url + 1 : url, "ManagementURL");

    writeString(object, ids.DeviceCapacity, msg.Capacity, "Capacity");
    writeString(object, ids.Serial, msg.Serial, "Serial");
    writeString(object, ids.VendorName, msg.VendorName, "Vendor Name");
    writeBoolean(object, ids.isLaunchable, flagValue(msg.LaunchFlag), "isLaunchable");
    writeBoolean(object, ids.isEDFI, flagValue(msg.EDFIFlag), "isEDFI");
    writeBoolean(object, ids.isNode, flagValue(msg.NodeFlag), "isNode");
}

void applyCommonProperties(const CommonProperties &msg)
{
    // No object can carry an absent name; any other absent text is stored as
    // absent (a flag as false, the URL as flag "0" without an address).
    if (msg.CommonObjName == nullptr) {
        if (tqDebug)
            DebugTrace("processCommonPropertiesMsg: %s is absent, message dropped\n", "CommonObjName");
        return refuse(kRefusalOnly, "%s is absent", "CommonObjName");
    }

    StringFieldQuery query("UniqueName", msg.CommonObjName);
    if (tqDebug) {
        DebugTrace("Field Id for UniqueName is %d\n", query.fieldId());
        DebugTrace("Looking up objects with UniqueName %s\n", msg.CommonObjName);
    }
    if (query.count() == 0)
        return refuse(kRefusalOnly, "no object has this unique id");
    const CommonFieldIds ids = lookUpFieldIds();
    for (int i = 0; i < query.count(); ++i)
        applyToObject(query.at(i), ids, msg);
}

}  // namespace

void processCommonPropertiesMsg(char *data, int length)
{
    CommonProperties msg{};
    if (!decodeCommonProperties(data, length, msg)) {
        if (tqDebug)
            DebugTrace("processCommonPropertiesMsg: malformed field, message dropped\n");
        return refuse(kRefusalOnly, "malformed field");
    }

    if (tqDebug) {
        std::printf("This is what we recevied from caller for Common Properties\n");
        const char *texts[] = {msg.CommonObjName, msg.Name,     msg.State,      msg.Type,
                               msg.ManagementURL, msg.Capacity, msg.Serial,     msg.VendorName,
                               msg.LaunchFlag,    msg.EDFIFlag, msg.NodeFlag};
        for (const char *text : texts)
            std::printf("%s\n", shownText(text));
    }

    if (msg.CommonObjName != nullptr)
        messageIdentity("unique id '%.200s'", msg.CommonObjName);
    applyCommonProperties(msg);
}
