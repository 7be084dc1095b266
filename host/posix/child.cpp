// Work run in a child process with a time budget (fork, a pipe, poll).
#include "host/child.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace {

void writeAll(int fd, const std::string &text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<size_t>(n);
    }
}

}  // namespace

bool runInChild(const std::function<std::string()> &work, int budgetMs, std::string &out,
                const std::function<void()> &forked)
{
    int fds[2];
    if (::pipe(fds) != 0) {
        forked();
        return false;
    }
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        // Ended even when the parent is gone before it (killed past its budget).
        ::alarm(static_cast<unsigned>(budgetMs / 1000 + 1));
        writeAll(fds[1], work());
        ::_exit(0);
    }
    forked();
    ::close(fds[1]);
    if (pid < 0) {
        ::close(fds[0]);
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(budgetMs);
    bool finished = false;
    out.clear();
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() < 0)
            break;
        pollfd p{fds[0], POLLIN, 0};
        int r = ::poll(&p, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        char buffer[65536];
        ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            finished = n == 0;
            break;
        }
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    if (!finished)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return finished && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
