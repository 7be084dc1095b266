// The two-server rig of the failover tests: a primary and its synchronous
// streaming standby, a multi-host URI that finds whichever accepts writes.
#include "support/pgserver.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <string>

namespace {

using tqtest::PgServer;

TEST(PgStandby, ReplaysThePrimaryAndTakesOverWhenPromoted)
{
    auto primary = PgServer::startPrivate();
    ASSERT_TRUE(primary->ok()) << primary->error();
    auto standby = primary->startStandby("standby1", true);
    ASSERT_TRUE(standby->ok()) << standby->error();
    const std::string both = PgServer::multiHostUri({primary.get(), standby.get()}, "tq");

    std::string err, value;
    ASSERT_TRUE(primary->exec("CREATE TABLE t AS SELECT 42 AS v", err, "tq")) << err;
    // A commit waits for the standby to hold it; reads there see it once replayed.
    EXPECT_TRUE(standby->waitFor("SELECT v FROM t", "42", err, "tq")) << err;
    EXPECT_FALSE(standby->exec("INSERT INTO t VALUES (1)", err, "tq")) << "a standby took a write";
    ASSERT_TRUE(primary->exec("SHOW synchronous_commit", err, "tq", &value)) << err;
    EXPECT_EQ(value, "on");

    // The primary lost: nothing accepts writes until the standby is promoted.
    ASSERT_TRUE(primary->kill()) << primary->error();
    PGconn *none = PQconnectdb(both.c_str());
    EXPECT_NE(PQstatus(none), CONNECTION_OK) << "a read-write session without a primary";
    PQfinish(none);
    ASSERT_TRUE(standby->promote()) << standby->error();
    // The multi-host URI now reaches the former standby, which takes writes
    // and holds what the primary had committed.
    PGconn *c = PQconnectdb(both.c_str());
    ASSERT_EQ(PQstatus(c), CONNECTION_OK) << PQerrorMessage(c);
    EXPECT_STREQ(PQhost(c), standby->dir().c_str());
    PGresult *r = PQexec(c, "INSERT INTO t VALUES (43)");
    EXPECT_EQ(PQresultStatus(r), PGRES_COMMAND_OK) << PQresultErrorMessage(r);
    PQclear(r);
    PQfinish(c);
    EXPECT_TRUE(standby->waitFor("SELECT string_agg(v::text, ',' ORDER BY v) FROM t", "42,43", err, "tq", 1)) << err;
}

}  // namespace
