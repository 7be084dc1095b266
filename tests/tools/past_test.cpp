// The map as it was, one submap at a time: the part of the past map that
// shows a submap shows it as the whole past map does.
#include "mapdb/mapdb_fixture.h"
#include "support/testsupport.h"
#include "tools/tqmap/past.h"

#include <chrono>
#include <set>
#include <string>
#include <vector>

namespace {

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

class PastPartTest : public maptest::MapTest {
protected:
    const char *dbPath() const override { return path_.c_str(); }
    // Commits and returns a time after the commit and before anything that
    // follows (the clock has moved on past it).
    int64_t commit()
    {
        EXPECT_EQ(OVwPending(), 0);
        const int64_t t = nowMs();
        while (nowMs() <= t) {
        }
        return t;
    }
    tqtest::TempRoot root_;
    std::string path_ = root_.file("past.db");
};

TEST_F(PastPartTest, EverySubmapsPartShowsItAsTheWholePastMapDoes)
{
    // root > Fabric (a graph) > switches, hosts, links and Zone (a graph) >
    // arrays: the Zone's and the Fabric's symbols roll up what lies beneath.
    std::vector<int64_t> times{commit()};
    OVwObjectId fabric = object("fabric"), zone = object("zone");
    icon(root(), fabric, "Fabric A");
    const OVwSubmapId fabricMap = childSubmap(fabric);
    const OVwSymbolId sw = icon(fabricMap, object("sw1"), "sw1");
    const OVwSymbolId host = icon(fabricMap, object("host1"), "host1");
    OVwCreateConnSymbol(map, object("link1"), sw, host, "conn", "8G", OVwStatusNormal, 3, 0);
    icon(fabricMap, zone, "Zone");
    const OVwSubmapId zoneMap = childSubmap(zone);
    const OVwSymbolId array1 = icon(zoneMap, object("array1"), "array1");
    icon(zoneMap, object("array2"), "array2");
    times.push_back(commit());
    OVwSetStatusOnSymbol(map, array1, OVwStatusCritical);
    OVwSetStatusOnSymbol(map, host, OVwStatusMajor);
    OVwSetSymbolLabel(map, sw, "sw1 (core)");
    icon(root(), zone, "Zone too");   // the Zone's object on a second submap
    times.push_back(commit());
    EXPECT_EQ(OVwDeleteSymbol(map, sw), 0);   // its link with it
    icon(fabricMap, object("sw2"), "sw2");
    times.push_back(commit());
    EXPECT_EQ(OVwDbDeleteObject(zone), 0);   // with its submap and the arrays
    times.push_back(commit());

    tqmap::MapDatabase db;
    std::string error;
    ASSERT_TRUE(db.open(path_, error)) << error;
    tqmap::MapModel now;
    ASSERT_TRUE(tqmap::loadModel(db, now, error, false)) << error;
    std::set<int> shown;
    for (int64_t t : times) {
        tqmap::MapModel whole;
        ASSERT_TRUE(tqmap::modelAt(db, now, t, whole, error)) << error;
        std::set<int> submaps{static_cast<int>(zoneMap)};
        for (const auto *m : {&now, &whole})
            for (const auto &entry : m->submaps)
                submaps.insert(entry.first);
        for (int id : submaps) {
            tqmap::MapModel part;
            ASSERT_TRUE(tqmap::submapModelAt(db, now, t, id, part, error)) << error;
            const bool was = whole.submaps.count(id) != 0;
            ASSERT_EQ(part.submaps.count(id) != 0, was) << "submap " << id << " at " << t;
            if (!was)
                continue;
            shown.insert(id);
            EXPECT_EQ(tqmap::submapJson(part, id), tqmap::submapJson(whole, id)) << "submap " << id << " at " << t;
            EXPECT_EQ(tqmap::renderSubmapDot(part, id, true), tqmap::renderSubmapDot(whole, id, true))
                << "submap " << id << " at " << t;
            // The Zone's part is its symbols and the parents' symbols only.
            if (id == static_cast<int>(zoneMap)) {
                EXPECT_LT(part.symbols.size(), whole.symbols.size()) << t;
            }
        }
    }
    EXPECT_EQ(shown, (std::set<int>{root(), static_cast<int>(fabricMap), static_cast<int>(zoneMap)}));
    // A time before the history's window is refused as the whole map's is.
    tqmap::MapModel part;
    EXPECT_FALSE(tqmap::submapModelAt(db, now, 0, fabricMap, part, error));
    EXPECT_NE(error.find("the history reaches back to"), std::string::npos) << error;
}

}  // namespace
