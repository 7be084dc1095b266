// Fixture of the vertex, arc, status and appearance handler tests: a
// temporary TQ_ROOT for the traces and the message log, an in-memory map, a
// freshly reset adapter connected with tqotInit, a payload builder and
// helpers that read the map back through the platform API.
#ifndef TQ_TESTS_HANDLERS_MSG_FIXTURE_H
#define TQ_TESTS_HANDLERS_MSG_FIXTURE_H

#include "adapter/testing.h"
#include "adapter/tqot.h"
#include "log/log.h"
#include "log/outcome.h"
#include "log/runstats.h"
#include "handlers/handlers.h"
#include "mapdb/testhooks.h"
#include "ovw/ovw.h"
#include "support/process_state.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace tqmsg {

// Field data of one API message (the bytes after the sub-type), built with
// the payload encoding: big-endian length with the NUL, then text and NUL.
class Payload {
public:
    // A present text, or the absent string for null.
    Payload &str(const char *text)
    {
        if (text == nullptr) {
            word(1);
            bytes_.push_back('\0');
            return *this;
        }
        const std::string s(text);
        word(static_cast<int32_t>(s.size() + 1));
        bytes_.insert(bytes_.end(), s.begin(), s.end());
        bytes_.push_back('\0');
        return *this;
    }
    Payload &str(const std::string &text) { return str(text.c_str()); }
    Payload &byte(int value)
    {
        bytes_.push_back(static_cast<char>(value));
        return *this;
    }
    // A big-endian 32-bit word (also a bare length word, for malformed strings).
    Payload &word(int32_t value)
    {
        const auto v = static_cast<uint32_t>(value);
        for (int shift = 24; shift >= 0; shift -= 8)
            bytes_.push_back(static_cast<char>((v >> shift) & 0xFF));
        return *this;
    }
    // Removes the last n bytes (truncated messages).
    Payload &chop(size_t n)
    {
        bytes_.resize(bytes_.size() > n ? bytes_.size() - n : 0);
        return *this;
    }
    Payload &raw(const std::vector<char> &more)
    {
        bytes_.insert(bytes_.end(), more.begin(), more.end());
        return *this;
    }
    char *data() { return bytes_.data(); }
    int size() const { return static_cast<int>(bytes_.size()); }
    std::vector<char> &vec() { return bytes_; }
    const std::vector<char> &vec() const { return bytes_; }

private:
    std::vector<char> bytes_;
};

class MsgFixture : public ::testing::Test {
public:
    static constexpr const char *kGraphProto = "1.3.6.1.2.1.2.2.1.3.1";

protected:
    // Set in a derived fixture's constructor before SetUp.
    int orderedArcNames_ = 1;

    tqtest::TempRoot root_;
    TopologyAdapter *ad = TopologyAdapter::instance();

    void SetUp() override
    {
        setenv("OVW_MAPDB", ":memory:", 1);
        unsetenv("TQ_DRIVE");
        tqtest::resetProcessState(1);
        // Each test is one message as far as the message log's refusal lines go.
        beginMessage(nullptr);
        ASSERT_EQ(ad->tqotInit(0, orderedArcNames_, 1), 0);
        ASSERT_NE(TopologyAdapterPeer::mapHandle(*ad), nullptr);
        (void)ad->tqotGetError();
    }

    void TearDown() override
    {
        endMessage();
        tqtest::resetMapState();
        tqDebug = 1;
        if (TopologyAdapterPeer::mapHandle(*ad) != nullptr) {
            OVwFreeMapInfo(TopologyAdapterPeer::mapHandle(*ad));
            TopologyAdapterPeer::mapHandle(*ad) = nullptr;
        }
        ad->tqotDone();
        tqtest::resetProcessState(1);
    }

    // ---- map set-up through the adapter ----------------------------------------
    OVwObjectId rootGraph(const char *name, const char *protocol = kGraphProto)
    {
        OVwObjectId id = ad->tqotCreateRootGraph(protocol, name, 1, nullptr, nullptr, name, nullptr);
        (void)ad->tqotGetError();
        return id;
    }
    OVwObjectId graphIn(const char *parent, const char *name, const char *protocol = kGraphProto)
    {
        OVwObjectId id =
            ad->tqotCreateGraphInGraph(kGraphProto, parent, protocol, name, 1, nullptr, nullptr, name, nullptr);
        (void)ad->tqotGetError();
        return id;
    }
    OVwObjectId vertexIn(const char *graph, const char *name, int32_t protocol = 1)
    {
        OVwObjectId id = ad->tqotCreateVertexInGraph(kGraphProto, graph, protocol, name, nullptr, name, nullptr, 3);
        (void)ad->tqotGetError();
        return id;
    }
    static std::string sel(const std::string &protocol, const std::string &object)
    {
        return protocol + ";" + object + ";default";
    }
    static OVwObjectId objectId(const std::string &selectionName)
    {
        return OVwDbSelectionNameToObjectId(selectionName.c_str());
    }
    static OVwObjectId vertexId(const std::string &name, const std::string &protocolName = "OTHER_PROTOCOL")
    {
        return objectId(sel(protocolName, name));
    }

    // ---- fields ------------------------------------------------------------------
    static std::optional<std::string> stringField(OVwObjectId object, const char *fieldName)
    {
        OVwFieldValue *v = OVwDbGetFieldValue(object, OVwDbFieldNameToFieldId(fieldName));
        if (v == nullptr)
            return std::nullopt;
        std::optional<std::string> out;
        if (v->field_type == OVwStringField && !v->is_list && v->un.string_val != nullptr)
            out = v->un.string_val;
        OVwDbFreeFieldValue(v);
        return out;
    }
    static std::optional<int32_t> intField(OVwObjectId object, const char *fieldName)
    {
        OVwFieldValue *v = OVwDbGetFieldValue(object, OVwDbFieldNameToFieldId(fieldName));
        if (v == nullptr)
            return std::nullopt;
        std::optional<int32_t> out;
        if (!v->is_list && (v->field_type == OVwIntegerField || v->field_type == OVwBooleanField))
            out = v->un.int_val;
        OVwDbFreeFieldValue(v);
        return out;
    }
    // Objects whose string field has the value, in the platform's order.
    static std::vector<OVwObjectId> objectsWith(const char *fieldName, const char *value)
    {
        OVwFieldValue key{};
        key.field_type = OVwStringField;
        key.un.string_val = const_cast<char *>(value);
        OVwFieldBinding binding{OVwDbFieldNameToFieldId(fieldName), &key};
        std::vector<OVwObjectId> out;
        OVwObjectIdList *list = OVwDbListObjectsByFieldValue(&binding);
        for (int i = 0; list != nullptr && i < list->count; ++i)
            out.push_back(list->object_ids[i]);
        if (list != nullptr)
            OVwDbFreeObjectIdList(list);
        return out;
    }
    static void setString(OVwObjectId object, const char *fieldName, const char *value)
    {
        ASSERT_EQ(OVwDbSetFieldStringValue(object, OVwDbFieldNameToFieldId(fieldName), value), 0) << fieldName;
    }

    // ---- symbols -----------------------------------------------------------------
    struct Sym {
        OVwSymbolId id;
        OVwSubmapId submap;
        int status;
        int variety;
        std::string type;
        std::string label;
    };
    std::vector<Sym> symbolsOf(OVwObjectId object) const
    {
        std::vector<Sym> out;
        OVwSymbolList *list = OVwGetSymbolsByObject(TopologyAdapterPeer::mapHandle(*ad), object);
        for (int i = 0; list != nullptr && i < list->count; ++i) {
            const OVwSymbolInfo &s = list->symbols[i];
            out.push_back({s.symbol_id, s.submap_id, s.status, s.symbol_variety,
                           s.symbol_type != nullptr ? s.symbol_type : "", s.label != nullptr ? s.label : ""});
        }
        OVwFreeSymbolList(list);
        return out;
    }
    // The status of the object's only symbol (-1 when it has not exactly one).
    int onlyStatus(OVwObjectId object) const
    {
        std::vector<Sym> s = symbolsOf(object);
        return s.size() == 1 ? s[0].status : -1;
    }
    std::string onlyLabel(OVwObjectId object) const
    {
        std::vector<Sym> s = symbolsOf(object);
        return s.size() == 1 ? s[0].label : "<" + std::to_string(s.size()) + " symbols>";
    }

    // ---- outputs -------------------------------------------------------------------
    std::string daemonTrace() const { return tqtest::readFile(root_.file("tq_std.trc")); }
    std::string adapterTrace() const { return tqtest::readFile(root_.file("tq_n2o.trc")); }
    // Number of entries of an adapter operation in the adapter trace.
    int adapterCalls(const std::string &operation) const
    {
        int n = 0;
        for (const std::string &line : tqtest::splitLines(adapterTrace()))
            if (contains(line, " " + operation + "(") && contains(line, "): enter"))
                ++n;
        return n;
    }
    std::string messageLog() const { return tqtest::readFile(root_.file("usr/ov/log/tqdaemon.log")); }
    // Handles one message as the daemon does, as a message of its own, and
    // tells how it ended: "applied", or "refused: <reason>" or "failed:
    // <reason>" as its message-log line says.
    template <typename Send>
    std::string outcomeOf(Send send)
    {
        endMessage();
        const size_t before = messageLog().size();
        beginMessage("probe");
        send();
        endMessage();
        beginMessage(nullptr);
        const std::string added = messageLog().substr(before);
        for (const std::string &line : tqtest::splitLines(added)) {
            const size_t at = line.find("probe message");
            if (at == std::string::npos)
                continue;
            for (const char *word : {" refused: ", " failed: "}) {
                const size_t w = line.find(word, at);
                if (w != std::string::npos)
                    return line.substr(w + 1);
            }
        }
        return "applied";
    }
    static bool contains(const std::string &text, const std::string &needle)
    {
        return text.find(needle) != std::string::npos;
    }
    static int count(const std::string &text, const std::string &needle)
    {
        int n = 0;
        for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1))
            ++n;
        return n;
    }
    // Position of a needle in the trace, npos when absent (order checks).
    size_t tracePos(const std::string &needle) const { return daemonTrace().find(needle); }
};

// A status number as the symbols show it (the adapter's status table).
inline int mapStatus(int statusNumber)
{
    static const int table[] = {5, 2, 4, 1, 3};
    return table[statusNumber];
}

}  // namespace tqmsg

#endif
