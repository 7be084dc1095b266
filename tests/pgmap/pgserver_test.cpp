// The private server the PostgreSQL tests share: reached through its socket
// alone, maps apart, committed data kept across a crash of the server.
#include "support/pgserver.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const auto queryOne = &tqtest::PgServer::value;

TEST(PgServer, ServesMapsApartThroughItsSocketAlone)
{
    ASSERT_PG_SERVER();
    auto &pg = tqtest::PgServer::shared();
    const std::string a = pg.freshMap(), b = pg.freshMap();
    ASSERT_FALSE(a.empty()) << pg.error();
    ASSERT_NE(a, b);
    EXPECT_EQ(queryOne(a, "SHOW listen_addresses"), "");
    EXPECT_NE(queryOne(a, "SELECT current_schema()"), queryOne(b, "SELECT current_schema()"));
    ASSERT_EQ(queryOne(a, "CREATE TABLE t (v int)"), "");
    EXPECT_EQ(queryOne(b, "SELECT count(*) FROM t").rfind("error: ", 0), 0u) << "a map's table seen from another";
    const std::string db = pg.freshDatabase();
    ASSERT_FALSE(db.empty()) << pg.error();
    EXPECT_EQ(queryOne(db, "SELECT count(*) FROM pg_namespace WHERE nspname LIKE 'map%'"), "0");
}

TEST(PgServer, KeepsCommittedRowsAcrossACrash)
{
    ASSERT_PG_SERVER();
    auto &pg = tqtest::PgServer::shared();
    const std::string m = pg.freshMap();
    ASSERT_EQ(queryOne(m, "CREATE TABLE t AS SELECT 42 AS v"), "");
    ASSERT_TRUE(pg.restart("immediate")) << pg.error();
    EXPECT_EQ(queryOne(m, "SELECT v FROM t"), "42");
}

}  // namespace
