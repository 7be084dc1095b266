// Faults armed from a text (the OVW_FAULTS variable of a daemon process).
#include "mapdb_fixture.h"

#include <string>
#include <vector>

using maptest::MapTest;

namespace {

// Results of `calls` field writes on one object: 0 or -1 each.
std::vector<int> writes(OVwObjectId object, OVwFieldId field, int calls)
{
    std::vector<int> out;
    for (int i = 0; i < calls; ++i)
        out.push_back(OVwDbSetFieldStringValue(object, field, "v"));
    return out;
}

}  // namespace

TEST_F(MapTest, FaultTextArmsEachModeWithItsCode)
{
    OVwObjectId g = object("g");
    OVwFieldId serial = field("Serial");
    std::string error;

    ASSERT_TRUE(mapdb::armFaults("OVwDbSetFieldStringValue:nth=3:60", error)) << error;
    EXPECT_EQ(writes(g, serial, 4), (std::vector<int>{0, 0, -1, 0}));
    mapdb::clearFaults();

    // Two entries, a next-call fault and an always fault on different operations.
    ASSERT_TRUE(mapdb::armFaults("OVwDbSetFieldStringValue:next:4,OVwDbCreateObjectBySelectionName:always:61", error))
        << error;
    EXPECT_EQ(writes(g, serial, 2), (std::vector<int>{-1, 0}));
    for (const char *name : {"x", "y"}) {
        EXPECT_EQ(OVwDbCreateObjectBySelectionName(name), 0);
        EXPECT_EQ(OVwError(), 61);
    }
    mapdb::clearFaults();
    EXPECT_NE(OVwDbCreateObjectBySelectionName("x"), 0);

    // The failing call reports the armed code.
    ASSERT_TRUE(mapdb::armFaults("OVwDbSetFieldStringValue:always:4,", error)) << error;
    EXPECT_EQ(OVwDbSetFieldStringValue(g, serial, "v"), -1);
    EXPECT_EQ(OVwError(), OVw_STORAGE_FAILURE);
}

TEST_F(MapTest, MalformedFaultTextArmsNothing)
{
    OVwObjectId g = object("g");
    OVwFieldId serial = field("Serial");
    const char *bad[] = {
        "OVwDbSetFieldStringValue",                    // no mode, no code
        "OVwDbSetFieldStringValue:always",             // no code
        "OVwDbSetFieldStringValue:sometimes:4",        // unknown mode
        "OVwDbSetFieldStringValue:nth=0:4",            // n from 1
        "OVwDbSetFieldStringValue:nth=x:4",
        "OVwDbSetFieldStringValue:always:4x",          // code not a number
        "OVwDbSetFieldStringValue:always:99999999999",
        ":always:4",                                   // no operation
        "OVw Db:always:4",
        // A good entry before a bad one is not armed either.
        "OVwDbSetFieldStringValue:always:4,OVwCreateSymbol:nth=:4",
    };
    for (const char *text : bad) {
        SCOPED_TRACE(text);
        std::string error;
        EXPECT_FALSE(mapdb::armFaults(text, error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(OVwDbSetFieldStringValue(g, serial, "v"), 0);
    }
}
