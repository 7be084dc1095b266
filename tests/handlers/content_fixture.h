// Fixture of the graph, content-ID and reconciliation tests: the handler
// fixture (temporary TQ_ROOT, in-memory map, reset adapter, tqDebug = 1)
// with the graph state cleared, builders for graph, content-ID and
// continuation messages, and map read-backs for graphs, vertices and arcs.
#ifndef TQ_TESTS_HANDLERS_CONTENT_FIXTURE_H
#define TQ_TESTS_HANDLERS_CONTENT_FIXTURE_H

#include "handlers/content.h"
#include "handlers/handlers.h"
#include "handlers/msg_fixture.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tqcontent {

// Raw message bytes in the payload encoding.
using Bytes = tqmsg::Payload;

// One content-ID entry: keyword, first value, second value (null: absent).
struct Entry {
    const char *keyword;
    const char *first;
    const char *second;
};
inline Entry graphEntry(const char *protocol, const char *name) { return {"GetGraphsInGraph", protocol, name}; }
inline Entry vertexEntry(const char *protocol, const char *name) { return {"GetVerticesInGraph", protocol, name}; }
inline Entry boxEntry(const char *protocol, const char *name) { return {"GetBoxesInGraph", protocol, name}; }

inline std::vector<char> listPart(const std::vector<Entry> &entries)
{
    Bytes b;
    for (const Entry &e : entries)
        b.str(e.keyword).str(e.first).str(e.second);
    return b.vec();
}

constexpr const char *kProto = "1.3.6.1.2.1.2.2.1.3.1";   // the fixture's graph protocol

// The eleven leading fields of a graph message (null: absent).
struct GraphFields {
    const char *moid = "moid-g";
    const char *parentProtocol = nullptr;
    const char *parentName = nullptr;
    const char *protocol = kProto;
    const char *name = "G";
    const char *layout = "1";
    const char *background = nullptr;
    const char *icon = nullptr;
    const char *label = "G";
    const char *details = nullptr;
    const char *uniqueId = "uid-g";
};

inline std::vector<char> graphFieldBytes(const GraphFields &f)
{
    Bytes b;
    b.str(f.moid).str(f.parentProtocol).str(f.parentName).str(f.protocol).str(f.name).str(f.layout);
    b.str(f.background).str(f.icon).str(f.label).str(f.details).str(f.uniqueId);
    return b.vec();
}

inline std::vector<char> graphMessage(const GraphFields &f, const std::vector<char> &list, int flag)
{
    Bytes b;
    b.raw(graphFieldBytes(f)).word(static_cast<int32_t>(list.size())).raw(list).byte(flag);
    return b.vec();
}

inline std::vector<char> contentIdMessage(const char *protocol, const char *name, const std::vector<char> &list,
                                          int flag)
{
    Bytes b;
    b.str(protocol).str(name).word(static_cast<int32_t>(list.size())).raw(list).byte(flag);
    return b.vec();
}

inline std::vector<char> continuation(const std::vector<char> &list, int flag)
{
    Bytes b;
    b.raw(list).byte(flag);
    return b.vec();
}

inline std::vector<std::string> recordTexts(const ContentIdChain &chain)
{
    std::vector<std::string> out;
    for (const ContentIdList *r = chain.head(); r != nullptr; r = r->next)
        out.push_back(std::string(r->protocol) + "|" + r->name);
    return out;
}

class ContentFixture : public tqmsg::MsgFixture {
protected:
    // ---- sending (the handlers take the bytes after the sub-type) ---------------------
    static void sendGraph(std::vector<char> msg) { processGraphMsg(msg.data(), static_cast<int>(msg.size())); }
    static void sendContentId(std::vector<char> msg)
    {
        processContentIDMsg(msg.data(), static_cast<int>(msg.size()));
    }
    static void sendGraphPart(std::vector<char> msg)
    {
        processContinueGraphMsg(msg.data(), static_cast<int>(msg.size()));
    }
    static void sendContentPart(std::vector<char> msg)
    {
        processContinueContentIDListMsg(msg.data(), static_cast<int>(msg.size()));
    }

    // ---- map read-back --------------------------------------------------------------------
    OVwSubmapId rootSubmap() const { return TopologyAdapterPeer::mapHandle(*ad)->root_submap_id; }
    OVwSubmapId childSubmap(OVwObjectId object) const
    {
        OVwObjectInfo *info = OVwGetObjectInfo(TopologyAdapterPeer::mapHandle(*ad), object);
        if (info == nullptr)
            return 0;
        const OVwSubmapId id = info->child_submap_id;
        OVwFreeObjectInfo(info);
        return id;
    }
    // Symbols of an object on one submap.
    int symbolsOn(OVwObjectId object, OVwSubmapId submap) const
    {
        int n = 0;
        for (const Sym &s : symbolsOf(object))
            if (s.submap == submap)
                ++n;
        return n;
    }
    // Whether a graph or vertex is shown inside graph `graph` (a symbol on its submap).
    bool shownIn(OVwObjectId member, OVwObjectId graph) const
    {
        return member != 0 && symbolsOn(member, childSubmap(graph)) > 0;
    }
    static OVwObjectId graphId(const char *name, const char *protocol = kProto)
    {
        return objectId(sel(protocol, name));
    }
    size_t indexEntries(OVwObjectId container, int32_t kind, OVwObjectId member) const
    {
        size_t n = 0;
        auto range = TopologyAdapterPeer::memberIndex(*ad).equal_range(MemberKey(container, kind));
        for (auto it = range.first; it != range.second; ++it)
            if (it->second == member)
                ++n;
        return n;
    }
    // Connection symbols of an arc object.
    int connections(OVwObjectId arc) const
    {
        int n = 0;
        for (const Sym &s : symbolsOf(arc))
            if (s.variety == OVwConnSymbol)
                ++n;
        return n;
    }
    OVwObjectId arc(const char *graph, int32_t binding, tqotEndpointProtocol a, const char *aName,
                    tqotEndpointProtocol z, const char *zName, int32_t index)
    {
        const OVwObjectId id =
            ad->tqotCreateArcInGraph(kProto, graph, binding, a, aName, z, zName, index, nullptr, "arc", nullptr, 3);
        (void)ad->tqotGetError();
        return id;
    }
    static tqotEndpointProtocol number(int32_t n)
    {
        tqotEndpointProtocol p;
        p.vertexProtocol = n;
        return p;
    }
    static tqotEndpointProtocol text(const char *t)
    {
        tqotEndpointProtocol p;
        p.graphProtocol = const_cast<char *>(t);
        return p;
    }

    // ---- ParentNameList --------------------------------------------------------------------
    static void setParents(OVwObjectId object, const std::vector<std::string> &names)
    {
        std::vector<OVwFieldValue> elements(names.size() + 1);
        for (size_t i = 0; i < names.size(); ++i) {
            elements[i].field_type = OVwStringField;
            elements[i].un.string_val = const_cast<char *>(names[i].c_str());
        }
        OVwFieldValue list{};
        list.is_list = 1;
        list.field_type = OVwStringField;
        list.un.list_val = elements.data();
        list.list_count = static_cast<int32_t>(names.size());
        ASSERT_EQ(OVwDbSetFieldValue(object, OVwDbFieldNameToFieldId("ParentNameList"), &list), 0);
    }
    // The list's names; {"<unset>"} when the field has no value.
    static std::vector<std::string> parents(OVwObjectId object)
    {
        OVwFieldValue *v = OVwDbGetFieldValue(object, OVwDbFieldNameToFieldId("ParentNameList"));
        if (v == nullptr)
            return {"<unset>"};
        std::vector<std::string> out;
        for (int i = 0; v->is_list && i < v->list_count; ++i)
            out.push_back(v->un.list_val[i].un.string_val != nullptr ? v->un.list_val[i].un.string_val : "<null>");
        OVwDbFreeFieldValue(v);
        return out;
    }
    // A vertex as the vertex message leaves it: MoidString and TQObjectName set.
    OVwObjectId taggedVertex(const char *graph, const char *name, int32_t protocol = 1)
    {
        const OVwObjectId id = vertexIn(graph, name, protocol);
        setString(id, "MoidString", name);
        setString(id, "TQObjectName", name);
        return id;
    }
};

}  // namespace tqcontent

#endif
