// Status roll-up of compound symbols, the history of changes and the run
// counters kept for monitoring.
#include "mapdb/operator.h"
#include "mapdb_fixture.h"
#include "support/testsupport.h"

#include <string>

namespace {

using maptest::MapTest;

// root > fabric A (compound) > zone (compound) > device
class RollupTest : public MapTest {
protected:
    void SetUp() override
    {
        MapTest::SetUp();
        OVwObjectId fabricObj = object("fabric"), zoneObj = object("zone");
        fabric = OVwCreateSymbol(map, root(), fabricObj, "g", "Fabric A", OVwStatusNormal, OVwRollUpStatusSource,
                                 nullptr, 0);
        OVwSubmapId fabricMap = childSubmap(fabricObj);
        zone = OVwCreateSymbol(map, fabricMap, zoneObj, "g", "zone", OVwStatusNormal, OVwRollUpStatusSource,
                               nullptr, 0);
        healthy = icon(fabricMap, object("switch"));
        OVwSubmapId zoneMap = childSubmap(zoneObj);
        device = icon(zoneMap, object("array"));
    }
    int effective(OVwSymbolId id) { return OVwGetEffectiveStatus(map, id); }

    OVwSymbolId fabric = 0, zone = 0, healthy = 0, device = 0;
};

TEST_F(RollupTest, SeverityTwoLevelsDownReachesTheRootAndClears)
{
    EXPECT_EQ(effective(fabric), OVwStatusNormal);
    ASSERT_EQ(OVwSetStatusOnSymbol(map, device, OVwStatusCritical), 0);
    EXPECT_EQ(effective(zone), OVwStatusCritical);
    EXPECT_EQ(effective(fabric), OVwStatusCritical);
    EXPECT_EQ(effective(device), OVwStatusCritical);
    // The stored status stays what was set.
    OVwSymbolList *l = OVwGetSymbolsByObject(map, OVwDbSelectionNameToObjectId("fabric"));
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->symbols[0].status, OVwStatusNormal);
    OVwFreeSymbolList(l);

    ASSERT_EQ(OVwSetStatusOnSymbol(map, healthy, OVwStatusMajor), 0);
    EXPECT_EQ(effective(fabric), OVwStatusCritical);   // critical outranks major
    ASSERT_EQ(OVwSetStatusOnSymbol(map, device, OVwStatusNormal), 0);
    EXPECT_EQ(effective(zone), OVwStatusNormal);
    EXPECT_EQ(effective(fabric), OVwStatusMajor);
}

TEST_F(RollupTest, StatusesWithoutHealthDoNotRaiseIt)
{
    ASSERT_EQ(OVwSetStatusOnSymbol(map, device, OVwStatusUnmanaged), 0);
    EXPECT_EQ(effective(zone), OVwStatusUnmanaged);   // only such symbols: that status
    EXPECT_EQ(effective(fabric), OVwStatusNormal);    // the switch is normal
    ASSERT_EQ(OVwSetStatusOnSymbol(map, healthy, OVwStatusUnknown), 0);
    EXPECT_EQ(effective(fabric), OVwStatusUnknown);   // unknown over unmanaged
    EXPECT_EQ(effective(0), -1);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_SYMBOL);
}

TEST(Rollup, OnePassAgreesAndSurvivesACycle)
{
    // Severity order, mildest to worst.
    const int order[] = {OVwStatusUnmanaged, OVwStatusUnknown, OVwStatusNormal, OVwStatusWarning,
                         OVwStatusMinor, OVwStatusMarginal, OVwStatusMajor, OVwStatusCritical};
    for (size_t i = 1; i < sizeof order / sizeof order[0]; ++i)
        EXPECT_EQ(mapdb::worseStatus(order[i - 1], order[i]), order[i]);
    // Submap 10 (object 1) holds symbol 2 of object 3, which parents submap 11
    // holding a symbol of object 1 again: the cycle adds nothing.
    std::vector<mapdb::StatusRow> rows = {
        {1, 9, 1, OVwStatusNormal, 2}, {2, 10, 3, OVwStatusNormal, 2}, {3, 11, 1, OVwStatusWarning, 2},
        {4, 11, 5, OVwStatusMinor, 3}, {5, 12, 6, OVwStatusCritical, 2},   // parents nothing: own status
    };
    auto eff = mapdb::effectiveStatuses(rows, {{10, 1}, {11, 3}});
    EXPECT_EQ(eff.at(2), OVwStatusMinor);   // minor outranks warning
    EXPECT_EQ(eff.at(1), OVwStatusMinor);
    EXPECT_EQ(eff.at(4), OVwStatusMinor);
    EXPECT_EQ(eff.at(5), OVwStatusCritical);
}

class HistoryTest : public MapTest {
protected:
    const char *dbPath() const override { return path_.c_str(); }
    long long count(const std::string &where)
    {
        OVwPending();   // commits
        return maptest::queryInt(path_, "SELECT count(*) FROM changes WHERE " + where);
    }
    tqtest::TempRoot root_;
    std::string path_ = root_.file("history.db");
};

TEST_F(HistoryTest, RecordsEachKindOfChangeWithOldAndNewValues)
{
    OVwObjectId o = object("dev");
    OVwSymbolId s = icon(root(), o, "before");
    OVwSetStatusOnSymbol(map, s, OVwStatusCritical);
    OVwSetStatusOnSymbol(map, s, OVwStatusCritical);   // no change, no row
    OVwSetSymbolLabel(map, s, "after");
    OVwSetSymbolType(map, s, "t2", 0);
    OVwDbDeleteObject(o);
    EXPECT_EQ(count("kind = 'created' AND symbol = " + std::to_string(s) + " AND new_value = 'before'"), 1);
    EXPECT_EQ(count("kind = 'status' AND old_value = '1' AND new_value = '2'"), 1);
    EXPECT_EQ(count("kind = 'label' AND old_value = 'before' AND new_value = 'after'"), 1);
    EXPECT_EQ(count("kind = 'type' AND old_value = 't' AND new_value = 't2'"), 1);
    EXPECT_EQ(count("kind = 'deleted' AND object = " + std::to_string(o)), 1);
    EXPECT_EQ(count("kind = 'object deleted' AND old_value = 'dev'"), 1);
    EXPECT_EQ(count("time < 1000000000000 OR time > 100000000000000"), 0);
}

TEST_F(HistoryTest, StaysWithinItsConfiguredSize)
{
    OVwDone();
    {
        maptest::ScopedEnv rows("OVW_HISTORY_ROWS", "100");
        ASSERT_EQ(OVwInit(), 0);
    }
    OVwSymbolId s = icon(root(), object("flapping"));
    for (int i = 0; i < 1000; ++i)
        OVwSetStatusOnSymbol(map, s, i % 2 == 0 ? OVwStatusCritical : OVwStatusNormal);
    long long n = count("1");
    EXPECT_GE(n, 100);
    EXPECT_LT(n, 100 + 256);
    // The newest change is kept.
    EXPECT_EQ(maptest::queryInt(path_, "SELECT new_value FROM changes ORDER BY id DESC LIMIT 1"), OVwStatusNormal);
}

TEST_F(HistoryTest, RunCountersAreWrittenAtOnceThenAtMostOnceASecondAndAtTheEnd)
{
    OVwRunCounters c{1700000000, 1, 1, 0, 0, 0, 0};
    ASSERT_EQ(OVwSetRunCounters(&c, 0), 0);
    OVwPending();
    EXPECT_EQ(maptest::queryInt(path_, "SELECT frames_read FROM run_counters WHERE id = 1"), 1);
    c.frames_read = 2;
    c.refused = 1;
    ASSERT_EQ(OVwSetRunCounters(&c, 0), 0);   // within the second: kept for later
    OVwPending();
    EXPECT_EQ(maptest::queryInt(path_, "SELECT frames_read FROM run_counters"), 1);
    OVwDone();   // the session's end writes them
    EXPECT_EQ(maptest::queryInt(path_, "SELECT frames_read + 10 * refused + 100 * ended FROM run_counters"), 112);
    EXPECT_EQ(maptest::queryInt(path_, "SELECT started FROM run_counters"), 1700000000);
    ASSERT_EQ(OVwInit(), 0);   // for TearDown
    EXPECT_EQ(OVwSetRunCounters(nullptr, 1), -1);
}

}  // namespace
