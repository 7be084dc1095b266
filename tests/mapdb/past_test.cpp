// The map as it was: the history rebuilds every past state of the map within
// its window and refuses times before it.
#include "mapdb/read.h"
#include "mapdb_fixture.h"
#include "support/testsupport.h"

#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

using maptest::MapTest;

int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// Everything a past map shows, one line per row (field values aside: the
// history keeps none).
std::string describe(const mapdb::MapRows &m)
{
    std::ostringstream out;
    for (const auto &[id, o] : m.objects)
        out << "object " << id << " " << o.selectionName << "\n";
    for (const auto &[id, s] : m.submaps)
        out << "submap " << id << " parent " << s.parentObject << " " << s.type << " " << s.name << " " << s.layout
            << " " << s.background.value_or("-") << "\n";
    for (const auto &[id, s] : m.symbols)
        out << "symbol " << id << " on " << s.submap << " of " << s.object << " " << s.variety << " "
            << s.symbolType.value_or("-") << " " << s.label.value_or("-") << " st " << s.status << "/"
            << s.statusSource << " fl " << s.flags << " ends " << s.connA << "-" << s.connZ << " at "
            << (s.posX ? std::to_string(*s.posX) : "-") << "," << (s.posY ? std::to_string(*s.posY) : "-") << "\n";
    return out.str();
}

class PastTest : public MapTest {
protected:
    const char *dbPath() const override { return path_.c_str(); }
    // Commits, reads the map and returns a time after the commit and before
    // anything that follows (the clock has moved on past it).
    int64_t commitAndRead(std::string &rows)
    {
        EXPECT_EQ(OVwPending(), 0);
        mapdb::MapRows m;
        std::string error;
        EXPECT_TRUE(reader().readMap(m, error, false)) << error;
        rows = describe(m);
        const int64_t t = nowMs();
        while (nowMs() <= t) {
        }
        return t;
    }
    mapdb::MapReader &reader()
    {
        if (!readerOpen_) {
            std::string error;
            EXPECT_TRUE(reader_.open(path_, error)) << error;
            readerOpen_ = true;
        }
        return reader_;
    }
    tqtest::TempRoot root_;
    std::string path_ = root_.file("past.db");
    mapdb::MapReader reader_;
    bool readerOpen_ = false;
};

TEST_F(PastTest, EveryPastStateIsRebuiltFromTheMapNowAndItsHistory)
{
    OVwObjectId fabric = 0, sw = 0, host = 0, link = 0;
    OVwSubmapId fabricMap = 0;
    OVwSymbolId swSym = 0, hostSym = 0, linkSym = 0;
    const OVwPosition at{40, 50};
    // Each step changes the map in one way the history must be able to undo.
    const std::vector<std::pair<const char *, std::function<void()>>> steps = {
        {"a graph with its submap",
         [&] {
             fabric = object("fabric");
             icon(root(), fabric, "Fabric A");
             fabricMap = childSubmap(fabric);
         }},
        {"devices, one placed, and a link",
         [&] {
             sw = object("sw1");
             host = object("host1");
             link = object("link1");
             swSym = OVwCreateSymbol(map, fabricMap, sw, "switch", "sw1", OVwStatusNormal, 3, &at, 0);
             hostSym = icon(fabricMap, host, "host1");
             linkSym = OVwCreateConnSymbol(map, link, swSym, hostSym, "conn", "8G", OVwStatusNormal, 3, 0);
             ASSERT_NE(linkSym, 0);
         }},
        {"statuses, a label and a type",
         [&] {
             OVwSetStatusOnSymbol(map, linkSym, OVwStatusCritical);
             OVwSetStatusOnSymbol(map, hostSym, OVwStatusMajor);
             OVwSetSymbolLabel(map, swSym, "sw1 (core)");
             OVwSetSymbolType(map, hostSym, "server", 0);
         }},
        {"a submap's background", [&] { OVwSetBackgroundGraphic(map, fabricMap, "floor.png"); }},
        {"a symbol deleted, its link with it", [&] { EXPECT_EQ(OVwDeleteSymbol(map, swSym), 0); }},
        {"a graph deleted with its submap and everything on it", [&] { EXPECT_EQ(OVwDbDeleteObject(fabric), 0); }},
    };
    std::vector<std::pair<int64_t, std::string>> states;
    std::string rows;
    const int64_t before = commitAndRead(rows);
    states.emplace_back(before, rows);
    for (const auto &[what, step] : steps) {
        step();
        const int64_t t = commitAndRead(rows);
        states.emplace_back(t, rows);
    }
    std::string error;
    for (size_t i = 0; i < states.size(); ++i) {
        mapdb::MapRows m;
        ASSERT_TRUE(reader().readMap(m, error, false)) << error;
        ASSERT_TRUE(reader().rewind(m, states[i].first, error)) << error;
        EXPECT_EQ(describe(m), states[i].second) << "after step " << i << (i > 0 ? steps[i - 1].first : "");
    }

    // Before the history's window: refused, the rows untouched.
    mapdb::HistoryWindow w;
    ASSERT_TRUE(reader().readHistoryWindow(w, error)) << error;
    ASSERT_TRUE(w.kept);
    EXPECT_LE(w.completeSinceMs, before);
    mapdb::MapRows m;
    ASSERT_TRUE(reader().readMap(m, error, false)) << error;
    const std::string now = describe(m);
    EXPECT_FALSE(reader().rewind(m, w.completeSinceMs - 1, error));
    EXPECT_NE(error.find("the history reaches back to " + mapdb::utcTime(w.completeSinceMs) + " only"),
              std::string::npos)
        << error;
    EXPECT_EQ(describe(m), now);
}

TEST_F(PastTest, TheWindowMovesOnWithTheTrimAndStartsAtTheUpgradeOfAnEarlierMap)
{
    OVwFreeMapInfo(map);
    OVwDone();
    {
        maptest::ScopedEnv rows("OVW_HISTORY_ROWS", "100");
        ASSERT_EQ(OVwInit(), 0);
    }
    map = OVwGetMapInfo();
    OVwSymbolId s = icon(root(), object("flapping"));
    std::string rows, error;
    const int64_t first = commitAndRead(rows);
    for (int i = 0; i < 300; ++i)
        OVwSetStatusOnSymbol(map, s, i % 2 == 0 ? OVwStatusCritical : OVwStatusNormal);
    const int64_t last = commitAndRead(rows);
    mapdb::HistoryWindow w;
    ASSERT_TRUE(reader().readHistoryWindow(w, error)) << error;
    EXPECT_GE(w.completeSinceMs, first);   // the rows of the first state are gone
    EXPECT_LT(w.rows, 100 + 256);
    mapdb::MapRows m;
    ASSERT_TRUE(reader().readMap(m, error, false)) << error;
    EXPECT_TRUE(reader().rewind(m, last, error)) << error;
    EXPECT_FALSE(reader().rewind(m, first - 1, error));

    // A map whose history is of the earlier form (version 2: no `was`, no
    // window) is rebuilt from its upgrade on only.
    OVwFreeMapInfo(map);
    map = nullptr;
    ASSERT_EQ(OVwDone(), 0);
    ASSERT_TRUE(maptest::execSql(path_, "DROP TRIGGER changes_symbol_removed; DROP TRIGGER changes_symbol_position;"
                                        " DROP TRIGGER changes_submap_deleted; DROP TRIGGER changes_submap_changed;"
                                        " DROP TRIGGER changes_trim_complete; ALTER TABLE changes DROP COLUMN was;"
                                        " ALTER TABLE change_settings DROP COLUMN complete_since;"
                                        " PRAGMA user_version = 2"));
    ASSERT_TRUE(reader().readHistoryWindow(w, error)) << error;
    EXPECT_FALSE(w.kept);
    EXPECT_FALSE(reader().rewind(m, last, error));
    const int64_t upgrade = nowMs();
    ASSERT_EQ(OVwInit(), 0);
    map = OVwGetMapInfo();
    EXPECT_EQ(maptest::queryInt(path_, "PRAGMA user_version"), 3);
    ASSERT_TRUE(reader().readHistoryWindow(w, error)) << error;
    ASSERT_TRUE(w.kept);
    EXPECT_GE(w.completeSinceMs, upgrade);
    OVwDeleteSymbol(map, s);
    commitAndRead(rows);
    ASSERT_TRUE(reader().readMap(m, error, false)) << error;
    ASSERT_TRUE(reader().rewind(m, w.completeSinceMs, error)) << error;
    EXPECT_EQ(m.symbols.count(s), 1u);   // the deletion after the upgrade is undone
    EXPECT_FALSE(reader().rewind(m, last, error));
}

}  // namespace
