// A program run as a child process with a time budget (fork, exec, two
// pipes, poll).
#include "host/child.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>

namespace {

// A pipe whose ends close with it.
struct Pipe {
    int fd[2] = {-1, -1};
    bool open() { return ::pipe2(fd, O_CLOEXEC) == 0; }
    void close(int end)
    {
        if (fd[end] >= 0)
            ::close(fd[end]);
        fd[end] = -1;
    }
    ~Pipe()
    {
        close(0);
        close(1);
    }
};

// Writes to a pipe whose reader is gone fail with EPIPE instead of raising
// SIGPIPE, which would end the caller: the signal is blocked in this thread
// while the guard lives, and one it raised is taken off before unblocking.
class NoSigpipe {
public:
    NoSigpipe()
    {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~NoSigpipe()
    {
        if (raised && !wasPending_) {
            const timespec none{0, 0};
            while (sigtimedwait(&pipe_, nullptr, &none) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    NoSigpipe(const NoSigpipe &) = delete;
    NoSigpipe &operator=(const NoSigpipe &) = delete;
    bool raised = false;

private:
    sigset_t pipe_, old_;
    bool wasPending_ = false;
};

}  // namespace

ChildEnd runProgramWithin(const std::string &program, const std::vector<std::string> &args, const std::string &input,
                          int budgetMs, std::string &out, std::string &error)
{
    out.clear();
    Pipe in, answer;
    if (!in.open() || !answer.open()) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return ChildEnd::Failed;
    }
    // Built before the fork: between fork and exec the child calls only
    // what is safe there (no allocation).
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const unsigned alarmSeconds = static_cast<unsigned>(budgetMs / 1000 + 1);

    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in.fd[0], 0);
        ::dup2(answer.fd[1], 1);
        // A pending alarm is kept across exec.
        ::alarm(alarmSeconds);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    if (pid < 0) {
        error = std::string("cannot start ") + program + ": " + std::strerror(errno);
        return ChildEnd::Failed;
    }
    in.close(0);
    answer.close(1);
    // A child that stops reading must not end the caller.
    ::fcntl(in.fd[1], F_SETFL, O_NONBLOCK);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(budgetMs);
    size_t written = 0;
    if (input.empty())
        in.close(1);
    bool finished = false;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() < 0)
            break;
        pollfd p[2] = {{answer.fd[0], POLLIN, 0}, {in.fd[1], POLLOUT, 0}};
        int r = ::poll(p, in.fd[1] >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(left.count(), INT_MAX)));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        if (in.fd[1] >= 0 && (p[1].revents & (POLLOUT | POLLERR | POLLHUP)) != 0) {
            NoSigpipe guard;
            ssize_t n = ::write(in.fd[1], input.data() + written, input.size() - written);
            guard.raised = n < 0 && errno == EPIPE;
            if (n > 0)
                written += static_cast<size_t>(n);
            if ((n < 0 && errno != EINTR && errno != EAGAIN) || written == input.size())
                in.close(1);
        }
        if ((p[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            char buffer[65536];
            ssize_t n = ::read(answer.fd[0], buffer, sizeof buffer);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                finished = n == 0;
                break;
            }
            out.append(buffer, static_cast<size_t>(n));
        }
    }
    in.close(1);
    answer.close(0);
    if (!finished)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!finished)
        return ChildEnd::PastBudget;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return ChildEnd::Answered;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127)
        error = "cannot run " + program;
    else if (WIFEXITED(status))
        error = program + " ended with code " + std::to_string(WEXITSTATUS(status));
    else
        error = program + " ended by signal " + std::to_string(WTERMSIG(status));
    return ChildEnd::Failed;
}

std::string ownProgramPath()
{
    char path[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return "";
    return std::string(path, static_cast<size_t>(n));
}
