// Content reconciliation: a graph keeps the member graphs and vertices its
// complete content list names; the others leave it, with the arcs that end
// at a removed member graph and the removed vertices' parent-name records.
#include "handlers/content.h"
#include "handlers/handlers.h"

#include "adapter/tqot.h"
#include "log/log.h"
#include "handlers/common.h"
#include "codec/codec.h"
#include "ovw/ovw.h"
#include "adapter/tqlib.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

bool recordNamed(const ContentIdChain &chain, const char *protocol, const char *name)
{
    for (const ContentIdList *r = chain.head(); r != nullptr; r = r->next)
        if (std::strcmp(r->name, name) == 0 && std::strcmp(r->protocol, protocol) == 0)
            return true;
    return false;
}

// A box is a member graph of its parent: a box record keeps it as a graph
// record does.
bool graphNamed(const ContentIdLists &lists, const char *protocol, const char *name)
{
    return recordNamed(lists.graphs, protocol, name) || recordNamed(lists.boxes, protocol, name);
}

}  // namespace

bool decimalValue(const char *text, int32_t &value)
{
    if (text == nullptr || *text == '\0')
        return false;
    int64_t v = 0;
    for (const char *p = text; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + (*p - '0');
        if (v > INT32_MAX)
            return false;
    }
    value = static_cast<int32_t>(v);
    return true;
}

namespace {

bool vertexNamed(const ContentIdLists &lists, int32_t protocol, const char *name)
{
    for (const ContentIdList *r = lists.vertices.head(); r != nullptr; r = r->next) {
        int32_t number = 0;
        if (std::strcmp(r->name, name) == 0 && decimalValue(r->protocol, number) && number == protocol)
            return true;
    }
    return false;
}

// The protocol name of an arc endpoint: the text itself, or for an endpoint
// held as a protocol number the table's name of that number. Null when the
// endpoint has none.
const char *endpointProtocolName(bool heldAsNumber, tqotEndpointProtocol protocol)
{
    if (!heldAsNumber)
        return protocol.graphProtocol;
    if (protocol.vertexProtocol < 0 || protocol.vertexProtocol > 99)
        return nullptr;
    return TopologyAdapter::instance()->protocol(protocol.vertexProtocol);
}

bool endpointIs(const char *endpointName, const char *endpointProtocol, const char *protocol, const char *name)
{
    return endpointName != nullptr && std::strcmp(endpointName, name) == 0 &&
           std::strcmp(endpointProtocol, protocol) == 0;
}

struct FreeText {
    void operator()(char *text) const { std::free(text); }
};
using OwnedText = std::unique_ptr<char, FreeText>;

// Writes the list without parentName to the object's ParentNameList; traces
// when the name is not in the list.
void writeListWithout(OVwObjectId object, OVwFieldId parentField, const OVwFieldValue &list, const char *parentName)
{
    std::vector<OwnedText> copies;
    std::vector<OVwFieldValue> names;
    copies.reserve(static_cast<size_t>(list.list_count));
    names.reserve(static_cast<size_t>(list.list_count));
    bool dropped = false;

    for (int i = 0; i < list.list_count; ++i) {
        const char *name = list.un.list_val[i].un.string_val;
        if (tqDebug)
            DebugTrace("name in the list: %s, pname: %s\n", shownText(name), parentName);
        if (name != nullptr && std::strcmp(name, parentName) == 0) {
            if (tqDebug)
                DebugTrace("Removeing parent %s\n", name);
            dropped = true;
            continue;
        }
        OwnedText copy(textDup(name));
        if (name != nullptr && copy == nullptr) {
            if (tqDebug)
                DebugTrace("removeParentName: out of memory, ParentNameList left unchanged\n");
            return;
        }
        if (tqDebug)
            DebugTrace("Copying parent: %s\n", shownText(name));
        OVwFieldValue element{};
        element.is_list = 0;
        element.field_type = OVwStringField;
        element.un.string_val = copy.get();
        names.push_back(element);
        copies.push_back(std::move(copy));
    }

    if (!dropped) {
        if (tqDebug)
            DebugTrace("*******Tqdaemon Error: deleting parent from list, no parent need to be delete\n");
        return;
    }
    OVwFieldValue placeholder{};   // element array of an empty list
    OVwFieldValue newList{};
    newList.is_list = 1;
    newList.field_type = OVwStringField;
    newList.un.list_val = names.empty() ? &placeholder : names.data();
    newList.list_count = static_cast<int32_t>(names.size());
    if (OVwDbSetFieldValue(object, parentField, &newList) != 0 && tqDebug)
        DebugTrace("*****Tqdaemon Error: failed to set value to field: %s with reason: %s\n", "ParentNameList",
                   ovReason());
}

}  // namespace

void reconcileGraphContents(GraphRef graph)
{
    TopologyAdapter *adapter = TopologyAdapter::instance();
    const ContentIdLists &lists = contentIdLists();
    const char *protocol = graph.graph_protocol;
    const char *name = graph.graph_name;

    if (GraphList *graphs = adapter->tqotGetGraphsInGraph(protocol, name)) {
        for (int i = 0; i < graphs->count; ++i) {
            const GraphEntry &member = graphs->entries[i];
            if (member.protocol == nullptr || member.name == nullptr)
                continue;
            if (graphNamed(lists, member.protocol, member.name))
                continue;
            deleteArcsTouchingGraph(protocol, name, member.protocol, member.name);
            adapter->tqotDeleteGraphFromGraph(protocol, name, member.protocol, member.name);
        }
        adapter->tqotFreeGraphList(graphs);
    }

    VertexList *vertices = adapter->tqotGetVerticesInGraph(protocol, name);
    if (vertices == nullptr)
        return;
    const bool listNamesVertices = !lists.vertices.empty();
    for (int i = 0; i < vertices->count; ++i) {
        const VertexEntry &member = vertices->entries[i];
        if (listNamesVertices && member.name != nullptr && vertexNamed(lists, member.protocol, member.name))
            continue;
        removeParentName(name, member.name);
        adapter->tqotDeleteVertexFromGraph(protocol, name, member.protocol, member.name);
    }
    adapter->tqotFreeVertexList(vertices);
}

void deleteGraphArcs(const char *graphProtocol, const char *graphName)
{
    TopologyAdapter *adapter = TopologyAdapter::instance();
    ArcList *arcs = adapter->tqotGetArcsInGraph(graphProtocol, graphName);
    if (arcs == nullptr)
        return;
    for (int i = 0; i < arcs->count; ++i) {
        const ArcEntry &arc = arcs->entries[i];
        adapter->tqotDeleteArcFromGraph(graphProtocol, graphName, arc.binding, arc.aProtocol, arc.aName,
                                        arc.zProtocol, arc.zName, arc.index);
    }
    adapter->tqotFreeArcList(arcs);
}

void deleteArcsTouchingGraph(const char *parentProtocol, const char *parentName, const char *memberProtocol,
                             const char *memberName)
{
    if (memberProtocol == nullptr || memberName == nullptr)
        return;
    TopologyAdapter *adapter = TopologyAdapter::instance();
    ArcList *arcs = adapter->tqotGetArcsInGraph(parentProtocol, parentName);
    if (arcs == nullptr)
        return;
    for (int i = 0; i < arcs->count; ++i) {
        const ArcEntry &arc = arcs->entries[i];
        // bindings 5 to 7 hold one or both endpoint protocols as numbers;
        // any other binding (an arc name that could not be read) matches nothing
        if (arc.binding < 4 || arc.binding > 7)
            continue;
        const char *aProtocol = endpointProtocolName(arc.binding == 6 || arc.binding == 7, arc.aProtocol);
        const char *zProtocol = endpointProtocolName(arc.binding == 5 || arc.binding == 7, arc.zProtocol);
        if (aProtocol == nullptr || zProtocol == nullptr)
            continue;
        if (endpointIs(arc.aName, aProtocol, memberProtocol, memberName) ||
            endpointIs(arc.zName, zProtocol, memberProtocol, memberName))
            ::tqotDeleteArcFromGraph(parentProtocol, parentName, arc.binding, arc.aProtocol, arc.aName,
                                   arc.zProtocol, arc.zName, arc.index);
    }
    adapter->tqotFreeArcList(arcs);
}

void removeParentName(const char *parentName, const char *vertexName)
{
    if (parentName == nullptr || vertexName == nullptr)
        return;
    StringFieldQuery query("TQObjectName", vertexName);
    if (tqDebug) {
        DebugTrace("fieldId for TQObjectName is %d\n\n", query.fieldId());
        DebugTrace("field Value for TQObjectName is %s\n", vertexName);
    }
    if (query.count() == 0)
        return;
    const OVwObjectId object = query.at(0);

    OVwFieldValue *moid = OVwDbGetFieldValue(object, OVwDbFieldNameToFieldId("MoidString"));
    if (moid == nullptr)
        return;
    const OVwFieldId parentField = OVwDbFieldNameToFieldId("ParentNameList");
    OVwFieldValue *parents = nullptr;
    if (!moid->is_list && moid->field_type == OVwStringField && moid->un.string_val != nullptr)
        parents = OVwDbGetFieldValue(object, parentField);
    OVwDbFreeFieldValue(moid);
    if (tqDebug)
        DebugTrace("Free moid string field value\n");

    if (parents == nullptr)
        return;
    if (tqDebug)
        DebugTrace("parent name list != null\n");
    if (parents->is_list && parents->un.list_val != nullptr) {
        if (tqDebug)
            DebugTrace("is list\n");
        if (parents->field_type == OVwStringField)
            writeListWithout(object, parentField, *parents, parentName);
        else if (tqDebug)
            DebugTrace("removeParentName: ParentNameList is not a list of strings, left unchanged\n");
    }
    OVwDbFreeFieldValue(parents);
}
