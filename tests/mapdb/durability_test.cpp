// What survives the process: writes land when OVwPending, OVwDone or a
// normal exit commits them, and not before.
#include "mapdb_fixture.h"

#include "support/testsupport.h"

#include <sys/wait.h>
#include <unistd.h>

using maptest::ScopedEnv;

namespace {

// Runs `body` in a child process and returns its exit status.
template <typename F>
int inChild(F body)
{
    pid_t pid = fork();
    if (pid == 0)
        body();  // ends the child itself
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

TEST(MapDurability, OnlyCommittedWritesSurviveADeadProcess)
{
    tqtest::TempRoot root;
    std::string file = root.file("map.db");
    ScopedEnv env("OVW_MAPDB", file.c_str());

    int rc = inChild([] {
        bool ok = OVwInit() == 0 && OVwDbCreateObjectBySelectionName("committed") != 0;
        OVwPending();
        ok = ok && OVwDbCreateObjectBySelectionName("in flight") != 0;
        OVwFieldId f = OVwDbFieldNameToFieldId("Name");
        ok = ok && OVwDbSetFieldStringValue(OVwDbSelectionNameToObjectId("committed"), f, "x") == 0;
        _exit(ok ? 0 : 1);  // dies mid-message: no commit
    });
    ASSERT_EQ(rc, 0);

    ASSERT_EQ(OVwInit(), 0);
    OVwObjectId kept = OVwDbSelectionNameToObjectId("committed");
    EXPECT_NE(kept, 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("in flight"), 0);
    EXPECT_EQ(OVwDbGetFieldValue(kept, OVwDbFieldNameToFieldId("Name")), nullptr);
    EXPECT_EQ(OVwError(), OVw_FIELD_VALUE_NOT_SET);
    OVwDone();
}

TEST(MapDurability, NormalExitAndOVwDoneCommit)
{
    tqtest::TempRoot root;
    std::string file = root.file("map.db");
    ScopedEnv env("OVW_MAPDB", file.c_str());

    int rc = inChild([] {
        bool ok = OVwInit() == 0 && OVwDbCreateObjectBySelectionName("at exit") != 0;
        std::exit(ok ? 0 : 1);
    });
    ASSERT_EQ(rc, 0);

    ASSERT_EQ(OVwInit(), 0);
    EXPECT_NE(OVwDbSelectionNameToObjectId("at exit"), 0);
    ASSERT_NE(OVwDbCreateObjectBySelectionName("at done"), 0);
    // Another reader does not see the open transaction.
    EXPECT_EQ(maptest::queryInt(file, "SELECT count(*) FROM objects WHERE selection_name = 'at done'"), 0);
    ASSERT_EQ(OVwDone(), 0);
    EXPECT_EQ(maptest::queryInt(file, "SELECT count(*) FROM objects WHERE selection_name = 'at done'"), 1);

    // Reopening keeps the map as it is: one map row, no second registry.
    ASSERT_EQ(OVwInit(), 0);
    EXPECT_NE(OVwDbSelectionNameToObjectId("at done"), 0);
    OVwDone();
    EXPECT_EQ(maptest::queryInt(file, "SELECT count(*) FROM map"), 1);
    EXPECT_EQ(maptest::queryInt(file, "SELECT count(*) FROM submaps"), 1);
    EXPECT_EQ(maptest::queryInt(file, "SELECT count(*) FROM fields WHERE name = 'UniqueName'"), 1);
}

TEST(MapDurability, AnotherProgramCanWriteWhileTheSessionIsOpen)
{
    tqtest::TempRoot root;
    std::string file = root.file("map.db");
    ScopedEnv env("OVW_MAPDB", file.c_str());
    ASSERT_EQ(OVwInit(), 0);
    ASSERT_NE(OVwDbCreateObjectBySelectionName("daemon"), 0);
    ASSERT_EQ(OVwPending(), 0);
    // Between two loop turns the write lock is free.
    EXPECT_TRUE(maptest::execSql(file, "INSERT INTO events(code, data) VALUES(3, NULL)"));
    EXPECT_NE(OVwPending(), 0);
    OVwDone();
}
