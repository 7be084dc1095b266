// Shared fixture of the adapter tests: a temporary TQ_ROOT (traces,
// oid_to_sym), an in-memory map database, a freshly reset adapter connected
// with tqotInit, and small helpers that read the map back through the
// platform API.
#ifndef TQ_TESTS_ADAPTER_FIXTURE_H
#define TQ_TESTS_ADAPTER_FIXTURE_H

#include "adapter/testing.h"
#include "adapter/tqot.h"
#include "log/log.h"
#include "mapdb/testhooks.h"
#include "ovw/ovw.h"
#include "support/process_state.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace tqtest {

// A symbol as the platform reports it, with owned texts.
struct SymbolView {
    OVwSymbolId id = 0;
    OVwSubmapId submap = 0;
    OVwObjectId object = 0;
    int statusSource = 0;
    int variety = 0;
    int status = 0;
    bool hasType = false;
    std::string type;
    bool hasLabel = false;
    std::string label;
};

class AdapterFixture : public ::testing::Test {
protected:
    // Set in a derived fixture's constructor to run with the flag clear.
    int singleSymbolPerContainer_ = 1;

    TempRoot root_;
    TopologyAdapter *ad = TopologyAdapter::instance();

    void SetUp() override
    {
        setenv("OVW_MAPDB", ":memory:", 1);
        resetProcessState();
        ASSERT_EQ(ad->tqotInit(0, 1, singleSymbolPerContainer_), 0);
        ASSERT_NE(TopologyAdapterPeer::mapHandle(*ad), nullptr);
        (void)ad->tqotGetError();   // start with nothing pending
    }

    void TearDown() override
    {
        resetMapState();
        if (TopologyAdapterPeer::mapHandle(*ad) != nullptr) {
            OVwFreeMapInfo(TopologyAdapterPeer::mapHandle(*ad));
            TopologyAdapterPeer::mapHandle(*ad) = nullptr;
        }
        ad->tqotDone();
        resetProcessState();
    }

    // ---- names and ids ----------------------------------------------------
    static std::string sel(const std::string &protocol, const std::string &object)
    {
        return protocol + ";" + object + ";default";
    }
    static OVwObjectId objectId(const std::string &selectionName)
    {
        return OVwDbSelectionNameToObjectId(selectionName.c_str());
    }
    OVwSubmapId rootSubmap() const { return TopologyAdapterPeer::mapHandle(*ad)->root_submap_id; }
    // The child submap of an object, 0 when none or unknown.
    OVwSubmapId childSubmap(OVwObjectId object) const
    {
        OVwObjectInfo *info = OVwGetObjectInfo(TopologyAdapterPeer::mapHandle(*ad), object);
        if (info == nullptr)
            return 0;
        OVwSubmapId id = info->child_submap_id;
        OVwFreeObjectInfo(info);
        return id;
    }

    // ---- symbols ----------------------------------------------------------
    static std::vector<SymbolView> toViews(const OVwSymbolList *list)
    {
        std::vector<SymbolView> out;
        for (int i = 0; list != nullptr && i < list->count; ++i) {
            const OVwSymbolInfo &s = list->symbols[i];
            SymbolView v;
            v.id = s.symbol_id;
            v.submap = s.submap_id;
            v.object = s.object_id;
            v.statusSource = s.status_source;
            v.variety = s.symbol_variety;
            v.status = s.status;
            v.hasType = s.symbol_type != nullptr;
            v.type = s.symbol_type != nullptr ? s.symbol_type : "";
            v.hasLabel = s.label != nullptr;
            v.label = s.label != nullptr ? s.label : "";
            out.push_back(v);
        }
        return out;
    }
    // Every symbol of an object.
    std::vector<SymbolView> symbolsOf(OVwObjectId object) const
    {
        OVwSymbolList *list = OVwGetSymbolsByObject(TopologyAdapterPeer::mapHandle(*ad), object);
        std::vector<SymbolView> out = toViews(list);
        OVwFreeSymbolList(list);
        return out;
    }
    // The symbols of an object on one submap.
    std::vector<SymbolView> symbolsOf(OVwObjectId object, OVwSubmapId submap) const
    {
        std::vector<SymbolView> out;
        for (const SymbolView &v : symbolsOf(object))
            if (v.submap == submap)
                out.push_back(v);
        return out;
    }
    // Every symbol on a submap.
    std::vector<SymbolView> symbolsOn(OVwSubmapId submap) const
    {
        char *app = OVwGetAppName();
        OVwSymbolList *list = OVwListSymbols(TopologyAdapterPeer::mapHandle(*ad), submap, 7, app);
        std::vector<SymbolView> out = toViews(list);
        OVwFreeSymbolList(list);
        OVFree(app);
        return out;
    }
    int submapCount() const
    {
        char *app = OVwGetAppName();
        OVwSubmapList *list = OVwListSubmaps(TopologyAdapterPeer::mapHandle(*ad), app, 0, 0);
        int n = list != nullptr ? list->count : -1;
        OVwFreeSubmapList(list);
        OVFree(app);
        return n;
    }

    // ---- member index -------------------------------------------------------
    size_t indexCount(OVwObjectId container, int32_t kind) const
    {
        return TopologyAdapterPeer::memberIndex(*ad).count(MemberKey(container, kind));
    }
    size_t indexCount(OVwObjectId container, int32_t kind, OVwObjectId member) const
    {
        size_t n = 0;
        auto range = TopologyAdapterPeer::memberIndex(*ad).equal_range(MemberKey(container, kind));
        for (auto it = range.first; it != range.second; ++it)
            if (it->second == member)
                ++n;
        return n;
    }

    // ---- fields -----------------------------------------------------------
    // Boolean field value of an object: 1, 0, or -1 when not set or unknown.
    static int boolField(OVwObjectId object, const char *fieldName)
    {
        OVwFieldId field = OVwDbFieldNameToFieldId(fieldName);
        if (field == 0)
            return -1;
        OVwFieldValue *v = OVwDbGetFieldValue(object, field);
        if (v == nullptr)
            return -1;
        int result = v->un.bool_val ? 1 : 0;
        OVwDbFreeFieldValue(v);
        return result;
    }

    // ---- traces and configuration -------------------------------------------
    std::string adapterTrace() const { return readFile(root_.file("tq_n2o.trc")); }
    int traceCount(const std::string &needle) const
    {
        std::string text = adapterTrace();
        int n = 0;
        for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1))
            ++n;
        return n;
    }
    void clearAdapterTrace() const { writeFile(root_.file("tq_n2o.trc"), ""); }
    // Writes oid_to_sym and forgets the tables, so the next lookup reads it.
    void writeIcons(const std::string &text) const
    {
        root_.writeOidToSym(text);
        resetNamingTables();
    }
};

// The same with singleSymbolPerContainer clear (tqotInit(0, 1, 0)).
class AdapterFixtureMulti : public AdapterFixture {
protected:
    AdapterFixtureMulti() { singleSymbolPerContainer_ = 0; }
};

}  // namespace tqtest

#endif
