// The server engine's pipeline: a write sent ahead that fails makes the read
// or the commit after it fail with the write's own cause, nothing of the
// turn stays, and the connection serves the next turn.
#include "pgmap/pgmap.h"
#include "support/pgserver.h"

#include <gtest/gtest.h>

#include <libpq-fe.h>
#include <poll.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using mapdb::kResultConstraint;
using mapdb::kResultDone;
using mapdb::kResultRow;

// A fresh map on the test server and the daemon's engine on it.
class PgEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_PG_SERVER();
        uri = tqtest::PgServer::shared().freshMap();
        std::string err;
        ASSERT_EQ(pgmap::openMap(uri, [](int64_t, bool) {}, e, err), 0) << err;
    }
    std::string uri;
    std::unique_ptr<mapdb::Engine> e;
};

TEST_F(PgEngine, AFailedWriteSentAheadFailsWhatFollowsAndLeavesNothing)
{
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

// Change notices: one per committed transaction that changed the map,
// however many statements it ran, whichever session made it; none for one
// that only read or was rolled back.
TEST_F(PgEngine, EveryTransactionThatChangesTheMapNotifiesOnceAndNoOtherDoes)
{
    const std::string schema = tqtest::PgServer::value(uri, "SELECT current_schema()");
    PGconn *listener = PQconnectdb(uri.c_str());
    ASSERT_EQ(PQstatus(listener), CONNECTION_OK);
    PQclear(PQexec(listener, "LISTEN tq_map_changes"));
    // The map's notices that come before the case's end mark (notices
    // arrive in commit order, so none of the case's can come after it).
    auto noticesOf = [&](const std::function<void()> &what) {
        what();
        tqtest::PgServer::value(uri, "SELECT pg_notify('tq_map_changes', 'end of case')");
        int n = 0;
        for (;;) {
            pollfd ready{PQsocket(listener), POLLIN, 0};
            if (::poll(&ready, 1, 60000) != 1 || PQconsumeInput(listener) == 0)
                return -1;
            while (PGnotify *notice = PQnotifies(listener)) {
                const std::string payload = notice->extra;
                PQfreemem(notice);
                if (payload == "end of case")
                    return n;
                n += payload == schema ? 1 : 0;
            }
        }
    };
    auto run = [&](const char *sql, int times = 1) {
        for (int i = 0; i < times; ++i) {
            mapdb::EngineStatement *st = e->prepare(sql);
            const int rc = st->step();
            EXPECT_TRUE(rc == kResultRow || rc == kResultDone) << rc;
            st->reset();
        }
    };
    struct Case {
        const char *name;
        std::function<void()> what;
        int notices;
    };
    const std::vector<Case> cases = {
        {"a turn of three writes", [&] { ASSERT_EQ(e->begin(), kResultDone);
                                         run("INSERT INTO objects(selection_name) VALUES(NULL)", 3);
                                         ASSERT_EQ(e->commit(), kResultDone); }, 1},
        {"a turn that only reads", [&] { ASSERT_EQ(e->begin(), kResultDone);
                                         run("SELECT count(*) FROM objects");
                                         ASSERT_EQ(e->commit(), kResultDone); }, 0},
        {"a turn rolled back", [&] { ASSERT_EQ(e->begin(), kResultDone);
                                     run("INSERT INTO objects(selection_name) VALUES(NULL)");
                                     e->rollback(); }, 0},
        {"a reader's transaction", [&] { ASSERT_EQ(e->beginRead(), kResultDone);
                                         run("SELECT count(*) FROM symbols");
                                         ASSERT_EQ(e->commit(), kResultDone); }, 0},
        {"a change by hand", [&] { tqtest::PgServer::value(uri, "INSERT INTO objects(selection_name) VALUES(NULL)"); },
         1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(noticesOf(c.what), c.notices);
    }
    PQfinish(listener);
}

}  // namespace
