// The store's work per loop turn on a map file: the reads of a turn share one
// snapshot that neither blocks other programs nor hides what they wrote from
// the next turn, and objects remembered between turns follow their changes.
#include "mapdb_fixture.h"

#include "support/testsupport.h"

#include <string>

namespace {

using maptest::MapTest;

// A session on a map file, with another program's connection beside it.
class TurnFileTest : public MapTest {
protected:
    const char *dbPath() const override { return nullptr; }   // the default path under TQ_ROOT
    std::string file() const { return root_.file("usr/ov/databases/tqmap.db"); }
    tqtest::TempRoot root_;
};

TEST_F(TurnFileTest, ReadsOfATurnNeitherBlockOthersNorHideTheirWritesFromTheNextTurn)
{
    OVwObjectId a = object("a");
    ASSERT_EQ(OVwPending(), 0);

    // This turn has read; another program writes meanwhile, without waiting.
    EXPECT_EQ(OVwDbSelectionNameToObjectId("a"), a);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("b"), 0);
    sqlite3 *other = nullptr;
    ASSERT_EQ(sqlite3_open_v2(file().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    sqlite3_busy_timeout(other, 0);
    EXPECT_EQ(sqlite3_exec(other, "INSERT INTO objects(selection_name) VALUES('b')", nullptr, nullptr, nullptr),
              SQLITE_OK)
        << sqlite3_errmsg(other);
    sqlite3_close(other);

    // The next turn sees it.
    ASSERT_EQ(OVwPending(), 0);
    EXPECT_NE(OVwDbSelectionNameToObjectId("b"), 0);
}

TEST_F(TurnFileTest, AWriteAfterReadsLandsWithTheTurnAndSeesWhatOthersWrote)
{
    OVwObjectId a = object("a");
    OVwFieldId state = field("State");
    ASSERT_EQ(OVwPending(), 0);

    EXPECT_EQ(OVwDbSelectionNameToObjectId("a"), a);   // the turn reads first
    ASSERT_TRUE(maptest::execSql(file(), "INSERT INTO objects(selection_name) VALUES('c')"));
    // The write comes after another program's: it must neither fail nor undo it.
    ASSERT_EQ(OVwDbSetFieldStringValue(a, state, "online"), 0);
    OVwObjectId c = OVwDbSelectionNameToObjectId("c");
    EXPECT_NE(c, 0);
    EXPECT_EQ(maptest::queryInt(file(), "SELECT count(*) FROM field_values WHERE text_value = 'online'"), 0);
    ASSERT_EQ(OVwPending(), 0);
    EXPECT_EQ(maptest::queryInt(file(), "SELECT count(*) FROM field_values WHERE text_value = 'online'"), 1);
    EXPECT_EQ(maptest::queryInt(file(), "SELECT count(*) FROM objects WHERE selection_name = 'c'"), 1);
}

TEST_F(TurnFileTest, EventsPostedDuringATurnThatOnlyReadIsSeenAtItsEnd)
{
    ASSERT_EQ(OVwPending(), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("nothing"), 0);   // a read opens the turn
    std::string err;
    ASSERT_EQ(mapdb::postEventToFile(file(), OVwEventMapOpen, {}, err), 0) << err;
    EXPECT_NE(OVwPending(), 0);
}

// Objects looked up in earlier turns are remembered; what another program
// changes in the meantime must show in the next turn all the same.
TEST_F(TurnFileTest, ObjectsKnownFromEarlierTurnsFollowWhatAnotherProgramChanged)
{
    OVwObjectId a = object("a");
    OVwObjectId b = object("b");
    ASSERT_EQ(OVwPending(), 0);
    for (int turn = 0; turn < 2; ++turn) {   // known from the creation, then from the look-ups
        EXPECT_EQ(OVwDbSelectionNameToObjectId("a"), a);
        EXPECT_EQ(OVwDbSelectionNameToObjectId("b"), b);
        char *name = OVwDbObjectIdToSelectionName(b);
        ASSERT_NE(name, nullptr);
        EXPECT_STREQ(name, "b");
        OVFree(name);
        ASSERT_EQ(OVwPending(), 0);
    }
    ASSERT_TRUE(maptest::execSql(file(), "DELETE FROM objects WHERE selection_name = 'a';"
                                         " UPDATE objects SET selection_name = 'b2' WHERE selection_name = 'b'"));

    // The turn reads something else first, then asks for what it knew.
    EXPECT_EQ(OVwDbSelectionNameToObjectId("unrelated"), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("a"), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("b"), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("b2"), b);
    char *name = OVwDbObjectIdToSelectionName(b);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "b2");
    OVFree(name);
    EXPECT_EQ(OVwDbSetFieldStringValue(a, field("State"), "x"), -1);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    ASSERT_EQ(OVwPending(), 0);

    // And when another program's change is the first thing a turn meets.
    ASSERT_TRUE(maptest::execSql(file(), "DELETE FROM objects WHERE selection_name = 'b2'"));
    EXPECT_EQ(OVwDbSelectionNameToObjectId("b2"), 0);
    EXPECT_EQ(OVwDbObjectIdToSelectionName(b), nullptr);
}

}  // namespace
