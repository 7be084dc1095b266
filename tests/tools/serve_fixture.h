// Runs `tqmap serve` on a free loopback port for a test and stops it after.
#ifndef TQ_TESTS_TOOLS_SERVE_FIXTURE_H
#define TQ_TESTS_TOOLS_SERVE_FIXTURE_H

#include "support/testsupport.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

namespace servetest {

// A loopback port that was free a moment ago.
inline int freePort()
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = -1;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

// `tqmap --db DB serve` in a child process, ready once /healthz answers.
class Server {
public:
    explicit Server(const std::string &db) : port_(freePort())
    {
        std::string bin = tqtest::binPath("tqmap"), listen = "127.0.0.1:" + std::to_string(port_);
        pid_ = ::fork();
        if (pid_ == 0) {
            // A test program that dies (a sanitizer's report ends it at
            // once) takes its server with it, so nothing holds its output
            // open for the test runner to wait on.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            int devnull = ::open("/dev/null", O_WRONLY);
            ::dup2(devnull, 1);
            ::execl(bin.c_str(), bin.c_str(), "--db", db.c_str(), "serve", "--listen", listen.c_str(),
                    static_cast<char *>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 200 && !ready(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ~Server() { stop(); }
    Server(const Server &) = delete;
    Server &operator=(const Server &) = delete;

    bool ready()
    {
        httplib::Client c("127.0.0.1", port_);
        auto r = c.Get("/healthz");
        return r && r->status == 200;
    }
    int port() const { return port_; }
    httplib::Client client() const
    {
        httplib::Client c("127.0.0.1", port_);
        c.set_read_timeout(10, 0);
        return c;
    }
    // SIGTERM and wait; the exit status (or 128 + signal).
    int stop()
    {
        if (pid_ <= 0)
            return status_;
        ::kill(pid_, SIGTERM);
        int st = 0;
        ::waitpid(pid_, &st, 0);
        pid_ = -1;
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return status_;
    }

private:
    int port_;
    pid_t pid_ = -1;
    int status_ = -1;
};

}  // namespace servetest

#endif
