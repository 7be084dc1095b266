// The writers' append (open, write, close per entry) and 64-bit stream positions.
#include "host/hostfile.h"
#include "host/hostpath.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(HostFile, AppendCreatesThenAddsTheBytesUnchanged)
{
    tqtest::TempRoot root;
    const std::string file = hostPath("\\entry.trc");
    EXPECT_FALSE(hostFileExists(file));
    const std::string first("line one\n\r\n", 11);
    const std::string second("a\0b\n", 4);   // bytes, not text: no line-end translation
    ASSERT_TRUE(hostAppend(file, first.data(), first.size()));
    EXPECT_TRUE(hostFileExists(file));
    ASSERT_TRUE(hostAppend(file, second.data(), second.size()));
    EXPECT_EQ(tqtest::readFile(file), first + second);

    // Closed after each entry: the file can go, and the next entry starts a new one.
    ASSERT_EQ(std::remove(file.c_str()), 0);
    EXPECT_FALSE(hostFileExists(file));
    ASSERT_TRUE(hostAppend(file, "z", 1));
    EXPECT_EQ(tqtest::readFile(file), "z");
    ASSERT_TRUE(hostAppend(file, "", 0));
    EXPECT_EQ(tqtest::readFile(file), "z");
}

TEST(HostFile, AppendThatCannotOpenFails)
{
    tqtest::TempRoot root;
    // No parent directory, and a directory in the file's place.
    EXPECT_FALSE(hostAppend(hostPath("\\missing\\entry.trc"), "x", 1));
    const std::string dir = hostPath("\\dir.trc");
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    EXPECT_TRUE(hostFileExists(dir));
    EXPECT_FALSE(hostAppend(dir, "x", 1));
}

TEST(HostFile, StreamPositionsPast4GiB)
{
    tqtest::TempRoot root;
    const std::string file = hostPath("\\stream");
    FILE *f = std::fopen(file.c_str(), "w+b");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite("abc", 1, 3, f), 3u);
    EXPECT_EQ(hostTell(f), 3);
    const int64_t far = 5000000000LL;   // a position, not written: no space used
    ASSERT_EQ(hostSeek(f, far, SEEK_SET), 0);
    EXPECT_EQ(hostTell(f), far);
    ASSERT_EQ(hostSeek(f, -far + 1, SEEK_CUR), 0);
    EXPECT_EQ(hostTell(f), 1);
    ASSERT_EQ(hostSeek(f, 0, SEEK_END), 0);
    EXPECT_EQ(hostTell(f), 3);
    std::fclose(f);
}

}  // namespace
