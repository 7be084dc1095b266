// The host-path mapping, on the host the test runs on.
#include "host/hostpath.h"

#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// Unsets TQ_ROOT for its lifetime.
class NoRoot {
public:
    NoRoot() : old_(std::getenv("TQ_ROOT") ? std::getenv("TQ_ROOT") : "") { unsetenv("TQ_ROOT"); }
    ~NoRoot() { setenv("TQ_ROOT", old_.c_str(), 1); }

private:
    std::string old_;
};

struct Case {
    const char *path;
    const char *expected;   // "<root>" stands for the root
};

void expectMapped(const std::string &root, const Case *cases, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        std::string expected = cases[i].expected;
        if (expected.compare(0, 6, "<root>") == 0)
            expected = root + expected.substr(6);
        EXPECT_EQ(hostPath(cases[i].path), expected) << cases[i].path;
    }
}

#ifdef _WIN32

TEST(HostPath, DrivesAndRootedPathsMapUnderTheRoot)
{
    tqtest::TempRoot root;
    const std::string r = root.path();
    const Case cases[] = {
        {"\\tq_std.trc", "<root>\\tq_std.trc"},
        {"/tq_std.trc", "<root>\\tq_std.trc"},
        {"C:\\usr\\ov\\log\\x.log", "<root>\\usr\\ov\\log\\x.log"},
        {"d:/x//y", "<root>\\x\\y"},
        {"d:x", "<root>\\x"},
        {"relative/name\\\\file", "relative\\name\\file"},
        {"", ""},
    };
    expectMapped(r, cases, sizeof cases / sizeof cases[0]);

    // A drive-rooted path inside the root is a host path already, in any case.
    EXPECT_EQ(hostPath(r + "/elsewhere\\a"), r + "\\elsewhere\\a");
    std::string upper = r;
    for (char &c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(hostPath(upper + "\\a"), upper + "\\a");
    // A sibling whose name starts with the root's is not inside it.
    EXPECT_EQ(hostPath(r + "x\\a"), r + "\\" + r.substr(3) + "x\\a");
}

TEST(HostPath, WithoutARootEveryPathIsTheHostsOwn)
{
    NoRoot none;
    const Case cases[] = {
        {"C:\\usr//ov\\log\\", "C:\\usr\\ov\\log\\"},
        {"\\tq_std.trc", "\\tq_std.trc"},
        {"D:/x", "D:\\x"},
        {"relative/name", "relative\\name"},
    };
    expectMapped("", cases, sizeof cases / sizeof cases[0]);
}

TEST(HostPath, ServicesFileIsTheSystemsUnderTheRoot)
{
    tqtest::TempRoot root;
    const std::string file = servicesFile();
    EXPECT_EQ(file.compare(0, root.path().size() + 1, root.path() + "\\"), 0) << file;
    const std::string tail = "\\System32\\drivers\\etc\\services";
    ASSERT_GT(file.size(), tail.size());
    EXPECT_EQ(file.substr(file.size() - tail.size()), tail);
}

#else

TEST(HostPath, DrivesAndRootedPathsMapUnderTheRoot)
{
    tqtest::TempRoot root;
    const Case cases[] = {
        {"\\tq_std.trc", "<root>/tq_std.trc"},
        {"C:\\usr\\ov\\log\\x.log", "<root>/usr/ov/log/x.log"},
        {"d:\\\\x\\y", "<root>/x/y"},
        {"d:x", "<root>/x"},
        {"/abs//posix/path", "/abs/posix/path"},
        {"relative\\name\\\\file", "relative/name/file"},
        {"", ""},
    };
    expectMapped(root.path(), cases, sizeof cases / sizeof cases[0]);

    // A root given with a trailing separator adds none.
    setenv("TQ_ROOT", (root.path() + "/").c_str(), 1);
    EXPECT_EQ(hostPath("\\a"), root.path() + "/a");
    EXPECT_EQ(servicesFile(), root.path() + "/etc/services");
}

TEST(HostPath, WithoutARootTheDriveIsTheFileSystemRoot)
{
    NoRoot none;
    EXPECT_EQ(hostRoot(), "/");
    const Case cases[] = {
        {"C:\\usr\\ov\\log\\x.log", "/usr/ov/log/x.log"},
        {"\\tq_std.trc", "/tq_std.trc"},
        {"/etc//services", "/etc/services"},
    };
    expectMapped("", cases, sizeof cases / sizeof cases[0]);
}

#endif

TEST(HostPath, ParentDirectoriesAreMadeOnceAndAFileInTheWayFails)
{
    tqtest::TempRoot root;
    const std::string file = hostPath("\\a\\b\\c\\entry.log");
    EXPECT_TRUE(ensureParentDirs(file));
    EXPECT_TRUE(tqtest::fileExists(root.file("a/b/c")));
    EXPECT_FALSE(tqtest::fileExists(file));
    EXPECT_TRUE(ensureParentDirs(file));   // already there

    tqtest::writeFile(root.file("plain"), "x");
    EXPECT_FALSE(ensureParentDirs(hostPath("\\plain\\below\\entry.log")));
}

}  // namespace
