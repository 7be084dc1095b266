// The conformance suite of the map platform's contract (ovw/ovw.h): each test
// runs against every store built (stores.cpp), through the calls alone and
// what a store offers tests beyond them (Store). The session fixture is shared
// with the tests of one store's own workings (tests/mapdb).
#ifndef TQ_TESTS_OVW_CONTRACT_H
#define TQ_TESTS_OVW_CONTRACT_H

#include "ovw/ovw.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace maptest {

// What the suite needs of a store beyond the contract.
struct Store {
    const char *name;
    const char *location;   // OVW_MAPDB for a new, empty map (null: the default place)
    // When set, in place of location: OVW_MAPDB of a new, empty map made for
    // the test (empty when it cannot be made).
    std::string (*freshLocation)();
    // Posts an event as another program would (a symbol deletion deletes the
    // symbols first). 0, or -1 for an unknown code or ids that name nothing.
    int (*postEvent)(int code, const std::vector<int> &ids);
    void (*reset)();        // after a test: no fault armed, no journal
    bool notices = false;   // a posted event ends OVwWaitForEvent at once
};

// Sets an environment variable for a scope, restoring the old value after.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name)
    {
        const char *old = std::getenv(name);
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (had_)
            setenv(name_.c_str(), old_.c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_, old_;
    bool had_ = false;
};

// Symbol ids of a list, in list order.
inline std::vector<int> symbolIds(const OVwSymbolList *list)
{
    std::vector<int> ids;
    for (int i = 0; list != nullptr && i < list->count; ++i)
        ids.push_back(list->symbols[i].symbol_id);
    return ids;
}

inline std::vector<int> symbolsOf(OVwMapInfo *map, OVwObjectId object)
{
    OVwSymbolList *list = OVwGetSymbolsByObject(map, object);
    std::vector<int> ids = symbolIds(list);
    OVwFreeSymbolList(list);
    return ids;
}

// A map session for each test, on the map dbPath() names.
template <class Base>
class MapSession : public Base {
protected:
    virtual const char *dbPath() const = 0;
    virtual void resetStore() = 0;

    void SetUp() override
    {
        env_ = new ScopedEnv("OVW_MAPDB", dbPath());
        ASSERT_EQ(OVwInit(), 0);
        map = OVwGetMapInfo();
        ASSERT_NE(map, nullptr);
    }
    void TearDown() override
    {
        OVwFreeMapInfo(map);
        OVwDone();
        resetStore();
        delete env_;
    }

    OVwObjectId object(const std::string &name)
    {
        OVwObjectId id = OVwDbCreateObjectBySelectionName(name.c_str());
        EXPECT_NE(id, 0) << name;
        return id;
    }
    OVwFieldId field(const char *name)
    {
        OVwFieldId id = OVwDbFieldNameToFieldId(name);
        EXPECT_NE(id, 0) << name;
        return id;
    }
    OVwSubmapId root() const { return map->root_submap_id; }
    OVwSymbolId icon(OVwSubmapId submap, OVwObjectId obj, const char *label = "l")
    {
        OVwSymbolId id = OVwCreateSymbol(map, submap, obj, "t", label, OVwStatusNormal, 3, nullptr, 0);
        EXPECT_NE(id, 0);
        return id;
    }
    OVwSubmapId childSubmap(OVwObjectId parent)
    {
        OVwSubmapId id = OVwCreateSubmap(map, parent, OVwGraphSubmap, 0, "sub", OVwStarLayout, 0);
        EXPECT_NE(id, 0);
        return id;
    }

    OVwMapInfo *map = nullptr;

private:
    ScopedEnv *env_ = nullptr;
};

// The suite's fixture: a session on a new map of the store under test.
class MapContract : public MapSession<::testing::TestWithParam<const Store *>> {
protected:
    void SetUp() override
    {
        if (GetParam()->freshLocation != nullptr) {
            location_ = GetParam()->freshLocation();
            ASSERT_FALSE(location_.empty()) << GetParam()->name << ": no new map";
        }
        MapSession::SetUp();
    }
    const char *dbPath() const override
    {
        return GetParam()->freshLocation != nullptr ? location_.c_str() : GetParam()->location;
    }
    void resetStore() override { GetParam()->reset(); }
    int post(int code, const std::vector<int> &ids = {}) { return GetParam()->postEvent(code, ids); }
    // Points OVW_MAPDB at another new, empty map for the next OVwInit (the
    // same location for a store whose location is new at every session).
    void moveToNewMap()
    {
        if (GetParam()->freshLocation != nullptr) {
            location_ = GetParam()->freshLocation();
            setenv("OVW_MAPDB", location_.c_str(), 1);
        }
    }

private:
    std::string location_;
};

// The events delivered to handlers registered with registerAll().
struct Received {
    int event;
    std::vector<int> ids;       // symbol or object ids
    std::vector<int> submaps;   // symbol deletion: submap of each symbol
    OVwTime closeTime = 0;
    bool mapInfoDuringHandler = false;
};

inline std::vector<Received> g_received;

inline void record(void *user, int event, OVwMapInfo *map, void *data)
{
    EXPECT_EQ(user, &g_received);
    EXPECT_NE(map, nullptr);
    Received r{event, {}, {}};
    if (event == OVwEventDeleteSymbols) {
        auto *list = static_cast<OVwSymbolList *>(data);
        for (int i = 0; i < list->count; ++i) {
            r.ids.push_back(list->symbols[i].symbol_id);
            r.submaps.push_back(list->symbols[i].submap_id);
        }
    } else if (event == OVwEventDeleteObjects) {
        auto *list = static_cast<OVwObjectList *>(data);
        for (int i = 0; i < list->count; ++i)
            r.ids.push_back(list->objects[i].object_id);
    } else if (event == OVwEventMapClose) {
        r.closeTime = *static_cast<OVwTime *>(data);
    }
    OVwMapInfo *now = OVwGetMapInfo();
    r.mapInfoDuringHandler = now != nullptr;
    OVwFreeMapInfo(now);
    g_received.push_back(r);
}

inline void registerAll()
{
    g_received.clear();
    for (int ev : {OVwEventEndSession, OVwEventMapOpen, OVwEventMapClose, OVwEventDeleteSymbols,
                   OVwEventDeleteObjects})
        ASSERT_EQ(OVwAddCallback(ev, nullptr, record, &g_received), 0);
}

// Drains the waiting events as the daemon's loop does; the number handled.
inline int drain()
{
    int n = 0;
    while (OVwPending() != 0) {
        EXPECT_EQ(OVwProcessEvent(), 0);
        ++n;
    }
    return n;
}

}  // namespace maptest

#endif
