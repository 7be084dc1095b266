// The server engine's pipeline: a write sent ahead that fails makes the read
// or the commit after it fail with the write's own cause, nothing of the
// turn stays, and the connection serves the next turn.
#include "pgmap/pgmap.h"
#include "support/pgserver.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

namespace {

using mapdb::kResultConstraint;
using mapdb::kResultDone;
using mapdb::kResultRow;

TEST(PgEngine, AFailedWriteSentAheadFailsWhatFollowsAndLeavesNothing)
{
    ASSERT_PG_SERVER();
    const std::string uri = tqtest::PgServer::shared().freshMap();
    std::unique_ptr<mapdb::Engine> e;
    std::string err;
    ASSERT_EQ(pgmap::openMap(uri, [](int64_t, bool) {}, e, err), 0) << err;
    auto insert = [&](const std::string &name) {
        mapdb::EngineStatement *st = e->prepare("INSERT INTO objects(selection_name) VALUES(?1)");
        st->bindText(1, name.data(), name.size());
        const int rc = st->step();
        st->reset();
        return rc == kResultDone ? e->lastInsertId() : -1;
    };
    auto count = [&] {
        mapdb::EngineStatement *st = e->prepare("SELECT count(*) FROM objects");
        const int rc = st->step();
        const int64_t n = rc == kResultRow ? st->i64(0) : -1;
        st->reset();
        return rc == kResultRow ? n : -static_cast<int64_t>(rc);
    };
    ASSERT_EQ(e->begin(), kResultDone);
    ASSERT_GT(insert("a"), 0);
    ASSERT_EQ(e->commit(), kResultDone);

    // What follows the failing write: a read, or the commit itself.
    for (const bool readFollows : {true, false}) {
        SCOPED_TRACE(readFollows ? "a read follows" : "the commit follows");
        ASSERT_EQ(e->begin(), kResultDone);
        const int64_t b = insert("b");
        ASSERT_GT(b, 0);
        // Renamed onto "a": refused by the unique name, seen only later.
        mapdb::EngineStatement *rename = e->prepare("UPDATE objects SET selection_name = ?2 WHERE id = ?1");
        rename->bindInt(1, b);
        rename->bindText(2, "a", 1);
        EXPECT_EQ(rename->step(), kResultDone);
        rename->reset();
        if (readFollows) {
            EXPECT_EQ(count(), -kResultConstraint);
            e->rollback();
        } else {
            EXPECT_EQ(e->commit(), kResultConstraint);
        }
        EXPECT_NE(std::string(e->lastError()).find("duplicate key"), std::string::npos) << e->lastError();
        // Nothing of the turn stayed, and the next turn is stored.
        ASSERT_EQ(e->beginRead(), kResultDone);
        EXPECT_EQ(count(), 1);
        ASSERT_EQ(e->commit(), kResultDone);
    }
    ASSERT_EQ(e->begin(), kResultDone);
    ASSERT_GT(insert("c"), 0);
    ASSERT_EQ(e->commit(), kResultDone);
    EXPECT_EQ(tqtest::PgServer::value(uri, "SELECT string_agg(selection_name, ',' ORDER BY id) FROM objects"), "a,c");
}

}  // namespace
