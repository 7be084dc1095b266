#include "fuzz/fuzz_support.h"

#include "log/lifecycle.h"
#include "log/log.h"
#include "log/testing.h"

#include <cstdio>
#include <cstdlib>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tqfuzz {

namespace {

std::string rootDir;

int removeEntry(const char *path, const struct stat *, int, struct FTW *)
{
    return std::remove(path);
}

void removeRoot()
{
    if (!rootDir.empty())
        nftw(rootDir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

[[noreturn]] void throwingExit(int code)
{
    throw DaemonEnded{code};
}

void writeText(const std::string &path, const char *text)
{
    if (FILE *f = std::fopen(path.c_str(), "w")) {
        std::fputs(text, f);
        std::fclose(f);
    }
}

}  // namespace

void setUp()
{
    if (!rootDir.empty())
        return;
    // TQ_FUZZ_TMP (scripts/fuzz gives one per run and removes it after, so a
    // target that dies leaves nothing behind), else tmpfs, else TMPDIR.
    struct stat st {};
    const char *given = std::getenv("TQ_FUZZ_TMP");
    std::string base = (given != nullptr && *given != '\0') ? given : "";
    if (base.empty() && ::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode))
        base = "/dev/shm";
    if (base.empty()) {
        const char *tmp = std::getenv("TMPDIR");
        base = (tmp != nullptr && *tmp != '\0') ? tmp : "/tmp";
    }
    std::string pattern = base + "/tqfuzz.XXXXXX";
    if (::mkdtemp(&pattern[0]) == nullptr) {
        std::perror("tqfuzz: mkdtemp");
        std::abort();
    }
    rootDir = pattern;
    std::atexit(removeRoot);
    ::setenv("TQ_ROOT", rootDir.c_str(), 1);
    ::unsetenv("TQ_DRIVE");
    for (const char *dir : {"/usr", "/usr/ov", "/usr/ov/conf", "/usr/ov/conf/c", "/usr/ov/log"})
        ::mkdir((rootDir + dir).c_str(), 0700);
    writeText(rootDir + "/usr/ov/conf/c/oid_to_sym",
              "# icon key : symbol type\n"
              "1.3.6.1.2.1.2.2.1.3.1.1:Connector:Generic\n"
              "1.3.6.1.2.1.2.2.1.3.1.4:Connection:Generic\n"
              "1.3.6.1.2.1.2.2.1.3.1.10:Network:SAN\n"
              "1.3.6.1.2.1.2.2.1.3.1.20:Connector:Switch\n"
              "icon:Device:Box\n");
    resetLogState();
    setExitHook(&throwingExit);
}

const std::string &root() { return rootDir; }

void trimOutputs(unsigned every)
{
    static unsigned calls = 0;
    if (++calls % every != 0)
        return;
    for (const char *rel : {"/tq_std.trc", "/tq_n2o.trc", "/usr/ov/log/tqdaemon.log"})
        (void)::truncate((rootDir + rel).c_str(), 0);
}

}  // namespace tqfuzz
