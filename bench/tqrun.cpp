// tqrun: runs a program and reports its wall time and peak resident memory.
//
//   tqrun [--stdout FILE] [--stderr FILE] [--stdin FILE] -- program [args...]
//
// The program inherits the environment. Prints key=value lines:
//   wall_us     from just before the fork to the program's end (monotonic clock)
//   user_us, sys_us, maxrss_kb   the child's resource use (wait4)
//   status      exit status, or 128 + signal
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

[[noreturn]] void usage(const char *why)
{
    if (why != nullptr)
        std::fprintf(stderr, "tqrun: %s\n", why);
    std::fprintf(stderr, "usage: tqrun [--stdout FILE] [--stderr FILE] [--stdin FILE] -- program [args...]\n");
    std::exit(2);
}

// Points descriptor target at the file (opened with flags); in the child.
void redirect(const std::string &path, int flags, int target)
{
    if (path.empty())
        return;
    int fd = open(path.c_str(), flags | O_CLOEXEC, 0644);
    if (fd < 0 || dup2(fd, target) < 0) {
        std::fprintf(stderr, "tqrun: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        _exit(127);
    }
}

long long micros(const timeval &tv) { return static_cast<long long>(tv.tv_sec) * 1000000 + tv.tv_usec; }

}  // namespace

int main(int argc, char **argv)
{
    std::string out, err, in;
    int i = 1;
    for (; i < argc; ++i) {
        std::string opt = argv[i];
        if (opt == "--") {
            ++i;
            break;
        }
        if (i + 1 >= argc)
            usage(("missing value for " + opt).c_str());
        if (opt == "--stdout")
            out = argv[++i];
        else if (opt == "--stderr")
            err = argv[++i];
        else if (opt == "--stdin")
            in = argv[++i];
        else
            usage(("unknown option " + opt).c_str());
    }
    if (i >= argc)
        usage("no program given");

    auto t0 = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0) {
        std::perror("tqrun: fork");
        return 1;
    }
    if (pid == 0) {
        redirect(in, O_RDONLY, 0);
        redirect(out, O_WRONLY | O_CREAT | O_TRUNC, 1);
        redirect(err, O_WRONLY | O_CREAT | O_TRUNC, 2);
        execvp(argv[i], argv + i);
        std::fprintf(stderr, "tqrun: cannot run %s: %s\n", argv[i], std::strerror(errno));
        _exit(127);
    }
    int status = 0;
    rusage use{};
    while (wait4(pid, &status, 0, &use) < 0) {
        if (errno != EINTR) {
            std::perror("tqrun: wait4");
            return 1;
        }
    }
    auto t1 = std::chrono::steady_clock::now();
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("wall_us=%lld\n", static_cast<long long>(std::chrono::duration_cast<std::chrono::microseconds>(t1 - t0).count()));
    std::printf("user_us=%lld\nsys_us=%lld\n", micros(use.ru_utime), micros(use.ru_stime));
    std::printf("maxrss_kb=%ld\n", use.ru_maxrss);
    std::printf("status=%d\n", code);
    return 0;
}
