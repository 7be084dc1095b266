// Service-port lookup over <root>/etc/services.
#include "host/getportno.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>

namespace {

TEST(GetPortNo, FindsTcpEntryByNameOrAliasIgnoringCase)
{
    tqtest::TempRoot root;
    root.writeServices("# services\n"
                       "ssh      22/tcp\n"
                       "tqdaemon 7401/tcp   orrery tq   # the daemon\n"
                       "\n"
                       "other\t9000/tcp\tTqAlias\n");
    EXPECT_EQ(GetPortNo("TQDAEMON"), 7401);
    EXPECT_EQ(GetPortNo("tqdaemon"), 7401);
    EXPECT_EQ(GetPortNo("ORRERY"), 7401);
    EXPECT_EQ(GetPortNo("tqalias"), 9000);
    EXPECT_EQ(GetPortNo("ssh"), 22);
}

TEST(GetPortNo, MissingEntryOrFileIsNegative)
{
    tqtest::TempRoot root;
    EXPECT_LT(GetPortNo("TQDAEMON"), 0);   // no services file at all
    root.writeServices("ssh 22/tcp\n# TQDAEMON 7401/tcp\nTQDAEMONX 7402/tcp\n");
    EXPECT_LT(GetPortNo("TQDAEMON"), 0);   // only in a comment and as a longer name
    EXPECT_LT(GetPortNo(""), 0);
    EXPECT_LT(GetPortNo(nullptr), 0);
}

TEST(GetPortNo, NonTcpEntryIsNegativeButDoesNotHideALaterTcpOne)
{
    tqtest::TempRoot root;
    root.writeServices("TQDAEMON 7401/udp\n");
    EXPECT_LT(GetPortNo("TQDAEMON"), 0);
    root.writeServices("TQDAEMON 7401/udp\nTQDAEMON 7402/tcp\nTQDAEMON 7403/tcp\n");
    EXPECT_EQ(GetPortNo("TQDAEMON"), 7402);
}

TEST(GetPortNo, PortZeroIsReturnedAndMalformedEntriesAreIgnored)
{
    tqtest::TempRoot root;
    root.writeServices("TQDAEMON 0/tcp\n");
    EXPECT_EQ(GetPortNo("TQDAEMON"), 0);
    root.writeServices("TQDAEMON\n"
                       "TQDAEMON tcp\n"
                       "TQDAEMON 99999/tcp\n"
                       "TQDAEMON 12a/tcp\n"
                       "TQDAEMON /tcp\n"
                       "TQDAEMON 7404/TCP\n");
    EXPECT_EQ(GetPortNo("TQDAEMON"), 7404);
}

}  // namespace
