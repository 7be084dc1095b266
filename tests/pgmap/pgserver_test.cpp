// The private server the PostgreSQL tests share: reached through its socket
// alone, maps apart, committed data kept across a crash of the server.
#include "support/pgserver.h"

#include <gtest/gtest.h>
#include <libpq-fe.h>

#include <string>

namespace {

// The single value a query returns, or "error: ..." for a failure.
std::string queryOne(const std::string &uri, const char *sql)
{
    PGconn *c = PQconnectdb(uri.c_str());
    std::string v = "error: " + std::string(PQerrorMessage(c));
    if (PQstatus(c) == CONNECTION_OK) {
        PGresult *r = PQexec(c, sql);
        if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1)
            v = PQgetvalue(r, 0, 0);
        else if (PQresultStatus(r) == PGRES_COMMAND_OK)
            v = "";
        else
            v = "error: " + std::string(PQresultErrorMessage(r));
        PQclear(r);
    }
    PQfinish(c);
    return v;
}

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
