// The daemon reading a named pipe as its stream, for the end-to-end tests that
// feed it while it runs. POSIX hosts only.
#ifndef TQ_TESTS_E2E_PIPED_DAEMON_H
#define TQ_TESTS_E2E_PIPED_DAEMON_H

#include "support/testsupport.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <future>
#include <map>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace tqtest {

// The daemon reading a named pipe as its stream: it runs until the pipe is
// closed, and each frame written makes it take one more loop turn.
class PipedDaemon {
public:
    PipedDaemon(const std::string &fifo, const std::map<std::string, std::string> &env)
    {
        if (::mkfifo(fifo.c_str(), 0600) != 0)
            return;
        result_ = std::async(std::launch::async, [env] { return run({binPath("tqdaemon")}, env, "", 120); });
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            writer_ = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (writer_ >= 0 || errno != ENXIO)
                break;
            if (result_.wait_for(std::chrono::milliseconds(20)) == std::future_status::ready)
                break;
        }
        if (writer_ >= 0)
            ::fcntl(writer_, F_SETFL, 0);
    }
    ~PipedDaemon() { finish(); }
    PipedDaemon(const PipedDaemon &) = delete;
    PipedDaemon &operator=(const PipedDaemon &) = delete;

    bool running() const { return writer_ >= 0; }
    bool write(const std::string &bytes)
    {
        size_t done = 0;
        while (writer_ >= 0 && done < bytes.size()) {
            ssize_t n = ::write(writer_, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += static_cast<size_t>(n);
        }
        return writer_ >= 0;
    }
    // One acknowledge-only frame: one more loop turn.
    bool turn() { return write(std::string("\x01\x00\x00\x00\x7f", 5)); }
    RunResult finish()
    {
        if (writer_ >= 0) {
            ::close(writer_);
            writer_ = -1;
        }
        if (result_.valid())
            done_ = result_.get();
        return done_;
    }

private:
    int writer_ = -1;
    std::future<RunResult> result_;
    RunResult done_;
};

}  // namespace tqtest

#endif
