// Fault injection and the call journal.
#include "mapdb_fixture.h"

using maptest::MapTest;

TEST_F(MapTest, InjectedFaultsFailTheNamedCallWithoutDoingIt)
{
    OVwObjectId g = object("g");

    mapdb::failNext("OVwCreateSubmap", OVw_STORAGE_FAILURE);
    EXPECT_EQ(OVwCreateSubmap(map, g, OVwGraphSubmap, 0, "g", 0, 0), 0);
    EXPECT_EQ(OVwError(), OVw_STORAGE_FAILURE);
    OVwObjectInfo *info = OVwGetObjectInfo(map, g);
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->child_submap_id, 0);
    OVwFreeObjectInfo(info);
    EXPECT_NE(OVwCreateSubmap(map, g, OVwGraphSubmap, 0, "g", 0, 0), 0);  // only the next one

    mapdb::failAlways("OVwDbCreateObjectBySelectionName", OVw_DUPLICATE_SELECTION_NAME);
    for (const char *name : {"x", "y", "z"}) {
        EXPECT_EQ(OVwDbCreateObjectBySelectionName(name), 0);
        EXPECT_EQ(OVwError(), OVw_DUPLICATE_SELECTION_NAME);
        EXPECT_EQ(OVwDbSelectionNameToObjectId(name), 0);
    }
    // Other operations are untouched.
    EXPECT_EQ(OVwDbSelectionNameToObjectId("g"), g);
    mapdb::clearFaults();
    EXPECT_NE(OVwDbCreateObjectBySelectionName("x"), 0);

    OVwFieldId f = field("Serial");
    mapdb::failNth("OVwDbSetFieldStringValue", 3, OVw_NO_SUCH_OBJECT);
    mapdb::failNth("OVwInit", 1, OVw_STORAGE_FAILURE);
    const char *values[] = {"one", "two", "three", "four"};
    std::vector<int> results;
    std::vector<std::string> stored;
    for (const char *v : values) {
        results.push_back(OVwDbSetFieldStringValue(g, f, v));
        OVwFieldValue *got = OVwDbGetFieldValue(g, f);
        stored.push_back(got != nullptr ? got->un.string_val : "");
        OVwDbFreeFieldValue(got);
    }
    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    EXPECT_NE(results[2], 0);
    EXPECT_EQ(results[3], 0);
    EXPECT_EQ(stored, (std::vector<std::string>{"one", "two", "two", "four"}));

    // Faults reach the connection calls too.
    ASSERT_EQ(OVwDone(), 0);
    EXPECT_EQ(OVwInit(), -1);
    EXPECT_EQ(OVwError(), OVw_STORAGE_FAILURE);
    EXPECT_EQ(OVwInit(), 0);
    OVwFreeMapInfo(map);
    map = OVwGetMapInfo();
}

TEST_F(MapTest, JournalRecordsCallsWithTheirKeyArguments)
{
    OVwObjectId o = object("o");
    OVwFieldId f = field("VendorName");
    EXPECT_TRUE(mapdb::journal().empty());

    mapdb::journalEnable(true);
    OVwDbSetFieldStringValue(o, f, "say \"hi\"");
    OVwSymbolId s = OVwCreateSymbol(map, root(), o, nullptr, "lbl", 2, 3, nullptr, 0);
    OVwSetStatusOnSymbol(map, s, 4);
    OVwDbSelectionNameToObjectId("nowhere");
    mapdb::journalEnable(false);
    OVwDeleteSymbol(map, s);

    const std::string os = std::to_string(o), fs = std::to_string(f), ss = std::to_string(s);
    std::vector<std::string> expected = {
        "OVwDbSetFieldStringValue(" + os + ", " + fs + ", \"say \\\"hi\\\"\")",
        "OVwCreateSymbol(" + std::to_string(root()) + ", " + os + ", NULL, \"lbl\", 2, 3, 0)",
        "OVwSetStatusOnSymbol(" + ss + ", 4)",
        "OVwDbSelectionNameToObjectId(\"nowhere\")",
    };
    EXPECT_EQ(mapdb::journal(), expected);
    mapdb::journalClear();
    EXPECT_TRUE(mapdb::journal().empty());
}
