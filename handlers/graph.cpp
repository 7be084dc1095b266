// Graph and content-ID messages: graph creation and the handlers of the
// messages that carry content lists, whole or split over continuation
// messages (the parts are collected by the assembler of split_list.cpp).
#include "handlers/content.h"
#include "handlers/handlers.h"

#include "adapter/tqot.h"
#include "log/log.h"
#include "log/outcome.h"
#include "handlers/common.h"
#include "handlers/endpoint_text.h"
#include "codec/codec.h"
#include "handlers/split_list.h"
#include "ovw/ovw.h"

#include <cstdio>
#include <cstring>

namespace {

const char *shown(const char *text)
{
    return text != nullptr ? text : "(null)";
}

// ---- first messages: the leading fields, the list length and the flag ------------

struct FirstMessage {
    int fieldsLength = 0;        // S: bytes of the leading fields
    int32_t listLength = 0;      // N
    char *listPart = nullptr;    // N bytes, then the ending flag
    int flag = 0;
    const char *identity[2] = {nullptr, nullptr};   // protocol and name of the graph
};

enum class FirstKind { Graph, ContentId };

// Reads a graph (eleven leading fields) or content-ID message (two) and checks
// every length against the message: the fields, the 2,000-byte pending area,
// the graph's protocol and name, the list part and the flag. False, with a
// trace line, when the message must be dropped.
bool readFirstMessage(char *data, int length, FirstKind kind, FirstMessage &msg)
{
    const bool graph = kind == FirstKind::Graph;
    const char *handler = graph ? "processGraphMsg" : "processContentIDMsg";
    const int fieldCount = graph ? 11 : 2;
    // positions of the graph's protocol and name among the leading fields
    const int protocolField = graph ? 3 : 0;
    const int nameField = graph ? 4 : 1;

    const int total = length > 0 ? length : 0;
    long size = 0;
    for (int i = 0; i < fieldCount; ++i) {
        const long left = total - size;
        if (left < 4) {
            refuse(traced(handler), "field %d is cut off by the end of the message", i + 1);
            return false;
        }
        const int32_t fieldLength = payloadInt(data + size);
        char *text = data + size + 4;
        if (fieldLength < 1 || fieldLength > left - 4 || text[fieldLength - 1] != '\0') {
            refuse(traced(handler), "field %d is malformed (length %d, %ld bytes left)", i + 1, fieldLength, left - 4);
            return false;
        }
        if (tqDebug) {
            if (graph)
                DebugTrace("processGraphMsg skip: %s\n", text);
            else
                DebugTrace("processContentIDMsg skip: %s\n", text);
        }
        const bool absent = fieldLength == 1 || std::strcmp(text, "NULL") == 0;
        if (i == protocolField)
            msg.identity[0] = absent ? nullptr : text;
        if (i == nameField)
            msg.identity[1] = absent ? nullptr : text;
        size += fieldLength + 4;
    }
    if (msg.identity[1] != nullptr)
        messageIdentity("name '%.200s'", msg.identity[1]);

    if (total - size < 4) {
        refuse(traced(handler), "list length is cut off by the end of the message");
        return false;
    }
    msg.listLength = payloadInt(data + size);

    const char *protocol = msg.identity[0];
    const char *name = msg.identity[1];
    if (protocol == nullptr || name == nullptr) {
        refuse(traced(handler), "graph %s is absent", protocol == nullptr ? "protocol" : "name");
        return false;
    }
    if (!fitsText(protocol, kGraphProtocolMax)) {
        refuse(traced(handler), "graph protocol of %zu characters is longer than %d", std::strlen(protocol),
               kGraphProtocolMax);
        return false;
    }
    if (!fitsText(name, kGraphNameMax)) {
        refuse(traced(handler), "graph name of %zu characters is longer than %d", std::strlen(name), kGraphNameMax);
        return false;
    }
    if (size > kPendingFieldsSize) {
        refuse(traced(handler), "leading fields of %ld bytes do not fit the %d-byte pending area", size,
               static_cast<int>(kPendingFieldsSize));
        return false;
    }
    // the list part and the ending flag that follows it
    const long afterLength = total - size - 4;
    if (msg.listLength < 0 || msg.listLength > afterLength - 1) {
        refuse(traced(handler), "list length %d runs past the message (%ld bytes left with the flag)", msg.listLength,
               afterLength);
        return false;
    }
    msg.fieldsLength = static_cast<int>(size);
    msg.listPart = data + size + 4;
    msg.flag = static_cast<unsigned char>(msg.listPart[msg.listLength]);
    return true;
}

// The graph identity held in the pending fields: their first two texts.
// False, with the message refused, when they are unusable or name no graph.
bool graphRefFromPending(GraphRef &graph, const char *handler)
{
    PendingGraphFields &pending = splitList().pending();
    FieldReader reader(pending.bytes, pending.length);
    const char *protocol = reader.str();
    const char *name = reader.ok() ? reader.str() : nullptr;
    if (!reader.ok()) {
        refuse(traced(handler, ", list dropped"), "no graph identity is pending");
        return false;
    }
    if (!fitsText(protocol, kGraphProtocolMax) || !fitsText(name, kGraphNameMax)) {
        refuse(traced(handler, ", list dropped"), "pending graph protocol or name is absent or too long");
        return false;
    }
    // A content list for a graph that does not exist would change nothing.
    TopologyAdapter *adapter = TopologyAdapter::instance();
    TqSelectionName selection;
    if (adapter->name(protocol, name, selection) == nullptr) {
        reportAdapterFailure(adapter->tqotGetError());
        return false;
    }
    if (OVwDbSelectionNameToObjectId(selection) == 0) {
        refuse(kRefusalOnly, "no graph has this name");
        return false;
    }
    graph = GraphRef{};
    std::memcpy(graph.graph_protocol, protocol, std::strlen(protocol) + 1);
    if (tqDebug)
        DebugTrace("Struct graph_protocol=%s\n", graph.graph_protocol);
    std::memcpy(graph.graph_name, name, std::strlen(name) + 1);
    if (tqDebug)
        DebugTrace("Struct graph_name=%s\n", graph.graph_name);
    return true;
}

// A complete content list that had entries, none of them readable, names
// nothing: the message is refused rather than taken for an empty list.
bool listReadable(const char *handler)
{
    if (!contentIdLists().unreadable())
        return true;
    refuse(traced(handler), "no entry of the content list has a known keyword");
    return false;
}

int layoutNumber(const char *text)
{
    static const char *const texts[] = {"1", "2", "3", "4", "5", "6", "7", "8", "9"};
    if (text != nullptr)
        for (int i = 0; i < 9; ++i)
            if (std::strcmp(text, texts[i]) == 0)
                return i + 1;
    if (tqDebug)
        DebugTrace("layout %s is not 1 to 9, layout 0 used\n", shown(text));
    return 0;
}

// Code of a change to an existing graph's icon whose key oid_to_sym lacks.
constexpr int32_t kUnknownIconKey = -2;

// Why the graph message cannot be applied, found before the map changes: the
// name refusal of the graph or its parent, TQOT_ERR_NO_CONTAINER for a parent
// no object has, kUnknownIconKey for an existing graph given an icon key the
// table lacks. 0 when none.
int32_t graphRefusal(const char *parentProtocol, const char *parentName, const char *protocol, const char *name,
                     const char *icon)
{
    TopologyAdapter *adapter = TopologyAdapter::instance();
    TqSelectionName selection;
    if (parentProtocol != nullptr) {
        if (adapter->name(parentProtocol, parentName, selection) == nullptr)
            return adapter->tqotGetError();
        if (OVwDbSelectionNameToObjectId(selection) == 0)
            return TQOT_ERR_NO_CONTAINER;
    }
    if (adapter->name(protocol, name, selection) == nullptr)
        return adapter->tqotGetError();
    if (icon != nullptr && adapter->icon(icon) == nullptr && OVwDbSelectionNameToObjectId(selection) != 0)
        return kUnknownIconKey;
    return 0;
}

}  // namespace

// ---- BuildCTIDLinkedList -----------------------------------------------------------

bool BuildCTIDLinkedList(char *data, int length)
{
    if (tqDebug)
        DebugTrace("BuildCTIDLinkedList bufferSize: %d\n", length);
    if (data == nullptr || length < 2)
        return true;

    char *cursor = data;
    const char *end = data + length - 1;   // the ending flag stays unread
    int processed = 0;

    // Reads one payload string of an entry, counting its bytes.
    auto next = [&](char *&text) {
        const int used = extractNextStr(cursor, end, text);
        if (used < 0) {
            refuse(traced("BuildCTIDLinkedList", ", list refused"), "malformed entry at byte %d", processed);
            return false;
        }
        processed += used;
        if (tqDebug)
            DebugTrace("BuildCTIDLinkedList processedBytes: %d, tmpString: %s\n", processed, shown(text));
        return true;
    };

    while (length - processed >= 2) {
        if (tqDebug)
            DebugTrace("BuildCTIDLinkedList extractNextStr #1\n");
        char *keyword = nullptr;
        if (!next(keyword))
            return false;
        if (keyword == nullptr) {
            refuse(traced("BuildCTIDLinkedList", ", list refused"), "absent keyword");
            return false;
        }
        ContentIdChain *chain = nullptr;
        if (std::strcmp(keyword, "GetGraphsInGraph") == 0)
            chain = &contentIdLists().graphs;
        else if (std::strcmp(keyword, "GetVerticesInGraph") == 0)
            chain = &contentIdLists().vertices;
        else if (std::strcmp(keyword, "GetBoxesInGraph") == 0)
            chain = &contentIdLists().boxes;
        if (chain == nullptr) {
            // an unknown keyword adds no record; the next string is a keyword
            ++contentIdLists().unknownEntries;
            continue;
        }

        char *protocol = nullptr;
        char *name = nullptr;
        if (!next(protocol) || !next(name))
            return false;
        if (protocol == nullptr || name == nullptr) {
            refuse(traced("BuildCTIDLinkedList", ", list refused"), "%s entry with an absent %s", keyword,
                   protocol == nullptr ? "protocol" : "name");
            return false;
        }
        if (!fitsText(protocol, kRecordProtocolMax) || !fitsText(name, kRecordNameMax)) {
            refuse(traced("BuildCTIDLinkedList", ", list refused"),
                   "%s entry (protocol of %zu, name of %zu characters) does not fit its record (at most %d and %d)",
                   keyword, std::strlen(protocol), std::strlen(name), static_cast<int>(kRecordProtocolMax),
                   static_cast<int>(kRecordNameMax));
            return false;
        }
        int32_t number = 0;
        if (chain == &contentIdLists().vertices && !decimalValue(protocol, number)) {
            refuse(traced("BuildCTIDLinkedList", ", list refused"), "vertex protocol '%.60s' is not a decimal number",
                   protocol);
            return false;
        }
        if (!chain->append(protocol, name)) {
            refuse(traced("BuildCTIDLinkedList", ", list refused"), "out of memory");
            return false;
        }
    }
    return true;
}

// ---- mkCreateGraphInGraph ------------------------------------------------------------

bool mkCreateGraphInGraph(char *fields, int length, GraphRef *graph)
{
    if (tqDebug)
        DebugTrace("mkCreateGraphInGraph getting first parameter\n");

    FieldReader reader(fields, length);
    auto next = [&reader](char *&text) {
        text = reader.str();
        return reader.ok();
    };
    auto malformed = []() {
        refuse(traced("mkCreateGraphInGraph", ", graph not created"), "graph fields are malformed");
        return false;
    };

    char *moidStr = nullptr, *parentProtocol = nullptr, *parentName = nullptr;
    if (!next(moidStr))
        return malformed();
    if (tqDebug)
        DebugTrace("moidStr=%s\n", shown(moidStr));
    if (!next(parentProtocol))
        return malformed();
    if (tqDebug)
        DebugTrace("parentprotocol=%s\n", shown(parentProtocol));
    if (!next(parentName))
        return malformed();
    if (tqDebug)
        DebugTrace("parentname = %s\n", shown(parentName));

    char *gprotocol = nullptr;
    if (!next(gprotocol))
        return malformed();
    if (!fitsText(gprotocol, kGraphProtocolMax)) {
        refuse(traced("mkCreateGraphInGraph", ", graph not created"),
               "gprotocol is absent or longer than %d characters", static_cast<int>(kGraphProtocolMax));
        return false;
    }
    *graph = GraphRef{};
    std::memcpy(graph->graph_protocol, gprotocol, std::strlen(gprotocol) + 1);
    if (tqDebug) {
        DebugTrace("Struct graph_protocol=%s\n", graph->graph_protocol);
        DebugTrace("gprotocol = %s\n", gprotocol);
    }

    char *objName = nullptr;
    if (!next(objName))
        return malformed();
    if (!fitsText(objName, kGraphNameMax)) {
        refuse(traced("mkCreateGraphInGraph", ", graph not created"),
               "graph name is absent or longer than %d characters", static_cast<int>(kGraphNameMax));
        return false;
    }
    std::memcpy(graph->graph_name, objName, std::strlen(objName) + 1);
    if (tqDebug) {
        DebugTrace("Struct graph_name=%s\n", graph->graph_name);
        DebugTrace("ObjName = %s\n", objName);
    }

    char *layoutText = nullptr;
    if (!next(layoutText))
        return malformed();
    const int layout = layoutNumber(layoutText);
    if (tqDebug)
        DebugTrace("layout = %s\n", shown(layoutText));

    char *background = nullptr, *icon = nullptr, *label = nullptr, *details = nullptr, *uniqueIdStr = nullptr;
    if (!next(background))
        return malformed();
    if (tqDebug)
        DebugTrace("graphBackground = %s\n", shown(background));
    if (!next(icon))
        return malformed();
    if (tqDebug)
        DebugTrace("icon = %s\n", shown(icon));
    if (!next(label))
        return malformed();
    if (tqDebug)
        DebugTrace("label = %s\n", shown(label));
    if (!next(details))
        return malformed();
    if (tqDebug)
        DebugTrace("graphDetails = %s\n", shown(details));
    // read now, so that a malformed last field stops the message before the map changes
    if (!next(uniqueIdStr))
        return malformed();

    octetString detailsRecord{};
    octetString *detailsArg = nullptr;
    if (details != nullptr) {
        detailsRecord.octetString = details;
        detailsRecord.octetLength = static_cast<int32_t>(std::strlen(details));
        detailsArg = &detailsRecord;
        if (tqDebug) {
            DebugTrace("graphDetails->octetLength: %d\n", detailsRecord.octetLength);
            DebugTrace("graphDetails->octetString: %s\n", detailsRecord.octetString);
        }
    }

    TopologyAdapter *adapter = TopologyAdapter::instance();
    const int32_t refusal = graphRefusal(parentProtocol, parentName, gprotocol, objName, icon);
    if (refusal != 0) {
        if (tqDebug)
            DebugTrace("Cannot create graph (obj name:'%s'): %s!\n", objName, adapter->tqotGetErrorMsg(refusal));
        if (refusal == kUnknownIconKey)
            refuse(kRefusalOnly, "unknown icon key '%.100s'", icon);
        else
            reportAdapterFailure(refusal);
        return false;
    }

    OVwObjectId objId = 0;
    if (parentProtocol != nullptr) {
        objId = adapter->tqotCreateGraphInGraph(parentProtocol, parentName, gprotocol, objName, layout, background,
                                                icon, label, detailsArg);
    } else {
        objId = adapter->tqotCreateRootGraph(gprotocol, objName, layout, background, icon, label, detailsArg);
    }
    int32_t error = adapter->tqotGetError();
    if (parentProtocol == nullptr && error == TQOT_ERR_ROOT_EXISTS) {
        // A root graph sent again: an absent icon or label keeps the one shown.
        error = 0;
        if (icon != nullptr)
            error = adapter->tqotChangeRootGraphIcon(gprotocol, objName, icon);
        if (error == 0 && label != nullptr)
            error = adapter->tqotChangeRootGraphLabel(gprotocol, objName, label);
    }

    // Object 0 is no object: a failed creation writes no field.
    if (error != 0 || objId == 0) {
        if (tqDebug)
            DebugTrace("Cannot create graph (obj name:'%s'): %s!\n", objName, adapter->tqotGetErrorMsg(error));
        reportAdapterFailure(error != 0 ? error : TQOT_ERR_CREATE_FAILED);
        return false;
    }
    if (tqDebug) {
        DebugTrace("Created graph (obj name:'%s', objId:%d)\n", objName, objId);
        DebugTrace(">>>>>>>>>>>>>>>>>>>  The name of the Object being created is %s\nobjId is %d", objName, objId);
    }

    // A graph sent again is drawn anew: its arcs go (the content list keeps
    // its members).
    deleteGraphArcs(gprotocol, objName);

    const char *moidValue = moidStr != nullptr ? moidStr : objName;
    if (tqDebug)
        DebugTrace("\nMoidStr is %s\n", moidValue);
    if (OVwDbSetFieldStringValue(objId, OVwDbFieldNameToFieldId("MoidString"), moidValue) != 0) {
        if (tqDebug)
            DebugTrace("******Tqdaemon Error: failed to set value to field %s with reason: %s\n", "MoidString",
                       ovReason());
        failedFieldWrite("MoidString");
    }

    if (tqDebug) {
        DebugTrace("uniqueIdStr=%s\n", shown(uniqueIdStr));
        DebugTrace("\nUnique id is %s\n", shown(uniqueIdStr));
    }
    if (uniqueIdStr == nullptr) {
        if (tqDebug)
            DebugTrace("uniqueIdStr is absent, UniqueName not written\n");
    } else if (OVwDbSetFieldStringValue(objId, OVwDbFieldNameToFieldId("UniqueName"), uniqueIdStr) != 0) {
        if (tqDebug) {
            std::printf("*****Tqdaemon Error: failed to set value to field: %s with reason: %s\n", "UniqueName",
                        ovReason());
            std::fflush(stdout);
        }
        failedFieldWrite("UniqueName");
    }

    if (OVwDbSetFieldStringValue(objId, OVwDbFieldNameToFieldId("TQObjectName"), objName) != 0) {
        if (tqDebug) {
            std::printf("*****Tqdaemon Error: failed to set value to field: %s with reason: %s\n", "TQObjectName",
                        ovReason());
            std::fflush(stdout);
        }
        failedFieldWrite("TQObjectName");
    }
    return true;
}

// ---- the four handlers ----------------------------------------------------------------

void processGraphMsg(char *data, int length)
{
    if (tqDebug)
        DebugTrace("processGraphMsg bufferSize: %d\n", length);
    SplitListAssembler &list = splitList();
    FirstMessage msg;
    if (!readFirstMessage(data, length, FirstKind::Graph, msg)) {
        list.abandon();
        return;
    }
    if (tqDebug)
        DebugTrace("processGraphMsg memcpy objectinfo: %d\n", msg.fieldsLength);
    // The fields replace the pending ones only once the message is accepted whole.
    PendingGraphFields staged;
    std::memcpy(staged.bytes, data, static_cast<size_t>(msg.fieldsLength));
    staged.length = msg.fieldsLength;
    if (tqDebug) {
        DebugTrace("processGraphMsg memcpy objectinfo done\n");
        DebugTrace("processGraphMsg cid list length: %d\n", msg.listLength);
    }

    // Only a first message with a known ending flag starts a new list; any
    // other leaves the records collected so far as they are.
    const ListFragment fragment = firstFragment(msg.flag);
    if (fragment == ListFragment::Full) {
        if (!list.begin("processGraphMsg", fragment, msg.listPart, msg.listLength, staged))
            return;
        if (tqDebug)
            DebugTrace("processGraphMsg calling mkCreateGraphInGraph\n");
        GraphRef graph{};
        if (listReadable("processGraphMsg") &&
            mkCreateGraphInGraph(list.pending().bytes, list.pending().length, &graph) && msg.listLength > 0)
            reconcileGraphContents(graph);
        list.complete();
    } else if (fragment == ListFragment::First) {
        if (tqDebug)
            DebugTrace("processGraphMsg calling BuildCTIDLinkedList\n");
        list.begin("processGraphMsg", fragment, msg.listPart, msg.listLength, staged);
    } else {
        list.keepFields(staged);
    }
}

void processContinueGraphMsg(char *data, int length)
{
    SplitListAssembler &list = splitList();
    ListFragment fragment;
    if (!list.admit("processContinueGraphMsg", data, length, fragment) ||
        !list.append("processContinueGraphMsg", fragment, data, length))
        return;
    if (fragment == ListFragment::Last) {
        GraphRef graph{};
        if (listReadable("processContinueGraphMsg") &&
            mkCreateGraphInGraph(list.pending().bytes, list.pending().length, &graph))
            reconcileGraphContents(graph);
        list.complete();
    }
}

void processContentIDMsg(char *data, int length)
{
    if (tqDebug)
        DebugTrace("processContentIDMsg bufferSize: %d\n", length);
    SplitListAssembler &list = splitList();
    FirstMessage msg;
    if (!readFirstMessage(data, length, FirstKind::ContentId, msg)) {
        list.abandon();
        return;
    }
    if (tqDebug)
        DebugTrace("processContentIDMsg memcpy objectinfo: %d\n", msg.fieldsLength);
    PendingGraphFields staged;
    std::memcpy(staged.bytes, data, static_cast<size_t>(msg.fieldsLength));
    staged.length = msg.fieldsLength;
    if (tqDebug) {
        DebugTrace("processContentIDMsg memcpy objectinfo done\n");
        DebugTrace("processContentIDMsg cid list length: %d\n", msg.listLength);
    }

    // Only a first message with a known ending flag starts a new list; any
    // other leaves the records collected so far as they are.
    const ListFragment fragment = firstFragment(msg.flag);
    if (fragment == ListFragment::Full) {
        if (!list.begin("processContentIDMsg", fragment, msg.listPart, msg.listLength, staged))
            return;
        GraphRef graph{};
        if (listReadable("processContentIDMsg") && graphRefFromPending(graph, "processContentIDMsg"))
            reconcileGraphContents(graph);
        list.complete();
    } else if (fragment == ListFragment::First) {
        if (tqDebug)
            DebugTrace("processContentIDMsg calling BuildCTIDLinkedList\n");
        list.begin("processContentIDMsg", fragment, msg.listPart, msg.listLength, staged);
    } else {
        list.keepFields(staged);
    }
}

void processContinueContentIDListMsg(char *data, int length)
{
    if (tqDebug)
        DebugTrace("processContinueContentIDListMsg bufferSize: %d\n", length);
    SplitListAssembler &list = splitList();
    ListFragment fragment;
    if (!list.admit("processContinueContentIDListMsg", data, length, fragment))
        return;
    if (tqDebug)
        DebugTrace("processContinueContentIDListMsg calling BuildCTIDLinkedList\n");
    if (!list.append("processContinueContentIDListMsg", fragment, data, length))
        return;
    if (fragment == ListFragment::Last) {
        GraphRef graph{};
        if (listReadable("processContinueContentIDListMsg") &&
            graphRefFromPending(graph, "processContinueContentIDListMsg"))
            reconcileGraphContents(graph);
        list.complete();
    }
}
