// Icon and label changes: the graph update message (a root graph's icon and
// label) and the change icon and change label messages (every object that
// carries a UniqueName, as a vertex or as a graph).
#include "handlers/handlers.h"

#include "adapter/tqot.h"
#include "log/log.h"
#include "log/outcome.h"
#include "handlers/common.h"
#include "handlers/endpoint_text.h"
#include "codec/codec.h"
#include "ovw/ovw.h"

#include <cstdio>

namespace {

// A boolean field of an object; a read the platform reports as failed counts
// as false, with a trace line.
bool readFlag(OVwObjectId object, const char *fieldName)
{
    const OVwBoolean value = OVwDbGetFieldBooleanValue(object, OVwDbFieldNameToFieldId(fieldName));
    if (OVwError() != 0) {
        if (tqDebug)
            DebugTrace("no such field %s \n", fieldName);
        return false;
    }
    return value == 1;
}

// What differs between the change icon and the change label messages.
struct AppearanceChange {
    const char *valueName;   // "icon" or "label", in the message lines
    int32_t (TopologyAdapter::*changeVertex)(int32_t, const char *, const char *);
    int32_t (TopologyAdapter::*changeGraph)(const char *, const char *, const char *);
    bool failuresOnConsole;       // change icon: failures on the console
    bool vertexSuccessOnConsole;  // change icon: vertex success on the console
};

const AppearanceChange kIconChange = {"icon", &TopologyAdapter::tqotChangeVertexIconInGraph,
                                      &TopologyAdapter::tqotChangeGraphIconInGraph, true, true};
const AppearanceChange kLabelChange = {"label", &TopologyAdapter::tqotChangeVertexLabelInGraph,
                                       &TopologyAdapter::tqotChangeGraphLabelInGraph, false, false};

// A change that did not happen: refused when there was nothing to change
// (no object of that name under the protocol the change uses, or no symbol),
// failed when the platform refused it.
void reportFailure(const AppearanceChange &change, const char *objectName, int32_t rc)
{
    if (rc == TQOT_ERR_NO_SUCH_OBJECT || rc == TQOT_ERR_NOT_SHOWN)
        refuse(kRefusalOnly, "the %s of '%.200s' was not changed: %s", change.valueName, objectName,
               rc == TQOT_ERR_NOT_SHOWN ? "it has no symbol" : "no object of that name under its protocol");
    else
        failMessage("the %s of '%.200s' was not changed", change.valueName, objectName);
    if (!tqDebug)
        return;
    if (change.failuresOnConsole)
        std::printf("********Tqdaemon error: failed to change %s for %s\n", change.valueName, objectName);
    else
        DebugTrace("********Tqdaemon error: failed to change %s for %s\n", change.valueName, objectName);
}

void reportSuccess(const AppearanceChange &change, bool vertex)
{
    if (!tqDebug)
        return;
    if (vertex && change.vertexSuccessOnConsole)
        std::printf("%s for vertex is changed\n", change.valueName);
    else
        DebugTrace("%s for %s is changed\n", change.valueName, vertex ? "vertex" : "graph");
}

// Applies the new icon or label to one object found by its UniqueName. True
// when the object is a named vertex or graph, so that the change was tried.
bool changeObject(const AppearanceChange &change, OVwObjectId object, const char *uniqueId, const char *value,
                  OVwFieldId objectNameField)
{
    const bool isVertex = readFlag(object, "isVertex");
    const bool isGraph = readFlag(object, "isGraph");
    if (tqDebug) {
        if (isVertex)
            DebugTrace("setting %s for a vertex.\n", change.valueName);
        if (isGraph)
            DebugTrace("setting %s for a graph. \n", change.valueName);
    }

    OVwFieldValue *objectName = OVwDbGetFieldValue(object, objectNameField);
    if (objectName == nullptr || objectName->is_list || objectName->field_type != OVwStringField ||
        objectName->un.string_val == nullptr) {
        if (tqDebug)
            DebugTrace("*******Tqdaemon error: no value found for %s in object name field\n", uniqueId);
        if (objectName != nullptr)
            OVwDbFreeFieldValue(objectName);
        return false;
    }
    const char *name = objectName->un.string_val;

    TopologyAdapter *adapter = TopologyAdapter::instance();
    if (isVertex) {
        const int32_t rc = (adapter->*change.changeVertex)(1, name, value);
        if (rc != 0)
            reportFailure(change, name, rc);
        else
            reportSuccess(change, true);
    } else if (isGraph) {
        const int32_t rc = (adapter->*change.changeGraph)(kGraphProtocolName, name, value);
        if (rc != 0)
            reportFailure(change, name, rc);
        else
            reportSuccess(change, false);
    }

    OVwDbFreeFieldValue(objectName);
    if (tqDebug)
        DebugTrace("objNameFieldValue free\n");
    return isVertex || isGraph;
}

void processAppearanceMsg(const AppearanceChange &change, const char *handlerName, char *data, int length)
{
    FieldReader reader(data, length);
    const char *uniqueId = reader.str();
    if (!reader.ok()) {
        if (tqDebug)
            DebugTrace("%s: malformed field, message dropped\n", handlerName);
        return refuse(kRefusalOnly, "malformed field");
    }
    if (tqDebug)
        DebugTrace("uniqueId = %s\n", shownText(uniqueId));
    if (uniqueId != nullptr)
        messageIdentity("unique id '%.200s'", uniqueId);
    const char *value = reader.str();
    if (!reader.ok()) {
        if (tqDebug)
            DebugTrace("%s: malformed field, message dropped\n", handlerName);
        return refuse(kRefusalOnly, "malformed field");
    }
    if (tqDebug)
        DebugTrace("%s = %s\n", change.valueName, shownText(value));

    if (uniqueId == nullptr || value == nullptr)
        return refuse(kRefusalOnly, "the %s is absent", uniqueId == nullptr ? "unique id" : change.valueName);

    StringFieldQuery query("UniqueName", uniqueId);
    if (tqDebug) {
        DebugTrace("fieldId for UniqueName is %d\n\n", query.fieldId());
        DebugTrace("field Value for unique name is %s\n\n", uniqueId);
    }
    if (query.count() == 0)
        return refuse(kRefusalOnly, "no object has this unique id");
    // A key oid_to_sym lacks would strip the symbol type: the type stays.
    if (&change == &kIconChange && TopologyAdapter::instance()->icon(value) == nullptr)
        return refuse(kRefusalOnly, "unknown icon key '%.100s'", value);
    const OVwFieldId objectNameField = OVwDbFieldNameToFieldId("TQObjectName");
    int tried = 0;
    for (int i = 0; i < query.count(); ++i)
        tried += changeObject(change, query.at(i), uniqueId, value, objectNameField) ? 1 : 0;
    if (tried == 0)
        refuse(kRefusalOnly, "no vertex or graph with a name has this unique id");
}

}  // namespace

void processGraphUpdateMsg(char *data, int length)
{
    // protocol, name, icon and label, in this order
    static const char *const fieldNames[4] = {"graph_protocol", "graph_name", "graph_icon", "graph_label"};
    const char *fields[4] = {};
    FieldReader reader(data, length);
    for (int i = 0; i < 4; ++i) {
        fields[i] = reader.str();
        if (!reader.ok()) {
            if (tqDebug)
                DebugTrace("processGraphUpdateMsg: malformed field, message dropped\n");
            return refuse(kRefusalOnly, "malformed field");
        }
        if (tqDebug)
            DebugTrace("graphToUpdate.%s = %s\n", fieldNames[i], shownText(fields[i]));
    }
    const char *protocol = fields[0];
    const char *name = fields[1];
    const char *icon = fields[2];
    const char *label = fields[3];
    if (tqDebug) {
        DebugTrace("This is what we received\n");
        DebugTrace("%s\n%s\n%s\n%s\n", shownText(protocol), shownText(name), shownText(icon), shownText(label));
    }

    if (name != nullptr)
        messageIdentity("name '%.200s'", name);
    // An absent icon or label keeps the one shown; a key oid_to_sym lacks
    // would strip the symbol type, so the message changes nothing.
    if (icon == nullptr && label == nullptr)
        return refuse(kRefusalOnly, "the icon and the label are absent");
    TopologyAdapter *adapter = TopologyAdapter::instance();
    if (icon != nullptr && adapter->icon(icon) == nullptr)
        return refuse(kRefusalOnly, "unknown icon key '%.100s'", icon);

    int32_t iconRc = 0;
    if (icon != nullptr) {
        iconRc = adapter->tqotChangeRootGraphIcon(protocol, name, icon);
        if (tqDebug) {
            if (iconRc == 0)
                DebugTrace("Graph icon for %s updated successfully \n", shownText(name));
            else
                DebugTrace("An error occured in updating icon for %s with error code %s\n", shownText(name),
                           adapter->tqotGetErrorMsg(iconRc));
        }
    }

    // The label is tried whatever became of the icon.
    int32_t labelRc = 0;
    if (label != nullptr) {
        labelRc = adapter->tqotChangeRootGraphLabel(protocol, name, label);
        if (tqDebug) {
            if (labelRc == 0)
                DebugTrace("Graph lable for %s updated successfully \n", shownText(name));
            else
                DebugTrace("An error occured in updating label for %s with error code %s\n", shownText(name),
                           adapter->tqotGetErrorMsg(labelRc));
        }
    }
    const int32_t rc = iconRc != 0 ? iconRc : labelRc;
    // Nothing was changed: no such graph, or not one on the root submap.
    if (rc == TQOT_ERR_NO_SUCH_OBJECT)
        refuse(kRefusalOnly, "no graph has this name");
    else if (rc == TQOT_ERR_NOT_SHOWN)
        refuse(kRefusalOnly, "the graph is not on the root submap");
    else if (rc != 0)
        failMessage("the %s of the root graph was not changed (code %d)", iconRc != 0 ? "icon" : "label", rc);
}

void processChangeIconMsg(char *data, int length)
{
    processAppearanceMsg(kIconChange, "processChangeIconMsg", data, length);
}

void processChangeLabelMsg(char *data, int length)
{
    processAppearanceMsg(kLabelChange, "processChangeLabelMsg", data, length);
}
