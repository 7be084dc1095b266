// The writers' append (open, write, close per entry) and 64-bit stream positions.
#include "host/hostfile.h"
#include "host/hostpath.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#ifndef _WIN32
#include <csignal>
#include <sys/resource.h>
#endif
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

#ifndef _WIN32
// A write that the file system cuts short (here the file size limit, as a
// full disk would) leaves the file as it was: no entry is ever half there.
TEST(HostFile, AnAppendCutShortIsTakenBackWhole)
{
    tqtest::TempRoot root;
    const std::string path = root.file("log");
    const std::string first(1000, 'a');
    ASSERT_TRUE(hostAppend(path, first.data(), first.size()));
    struct sigaction ignore {}, old {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &old);
    struct rlimit before {};
    ::getrlimit(RLIMIT_FSIZE, &before);
    struct rlimit small = before;
    small.rlim_cur = 1010;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string entry(50, 'b');
    const bool appended = hostAppend(path, entry.data(), entry.size());
    HostBoundedFile bounded;
    bounded.path = path;
    bounded.limit = 1u << 20;
    const bool boundedAppended = hostAppendBounded(bounded, entry.data(), entry.size());
    ::setrlimit(RLIMIT_FSIZE, &before);
    ::sigaction(SIGXFSZ, &old, nullptr);
    EXPECT_FALSE(appended);
    EXPECT_FALSE(boundedAppended);
    EXPECT_EQ(tqtest::readFile(path), first);
}
#endif

}  // namespace
