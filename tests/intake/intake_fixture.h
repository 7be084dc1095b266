// Fixture of the reader tests: a temporary root, a message stream, an
// endpoint whose connection socket is one end of a socket pair (the test
// reads the acknowledgements from the other end), and an exit hook that
// throws so the stream-failure exit can be observed in-process.
#ifndef TQ_TESTS_INTAKE_INTAKE_FIXTURE_H
#define TQ_TESTS_INTAKE_INTAKE_FIXTURE_H

#include "log/lifecycle.h"
#include "log/log.h"
#include "intake/endpoint.h"
#include "intake/reader.h"
#include "support/process_state.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace tqtest {

struct ExitCalled {
    int code;
};

inline void throwingExit(int code)
{
    throw ExitCalled{code};
}

class IntakeFixture : public ::testing::Test {
protected:
    static constexpr int kNoExit = -1000;

    void SetUp() override
    {
        resetProcessState(1);
        setExitHook(&throwingExit);
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair_), 0);
        ::fcntl(pair_[1], F_SETFL, O_NONBLOCK);
        endpoint_.connectionSocket = pair_[0];
    }

    void TearDown() override
    {
        if (tqMessageStream != nullptr) {
            std::fclose(tqMessageStream);
            tqMessageStream = nullptr;
        }
        // End the (now absent) stream through the reader, as the daemon
        // would, so the next test's stream starts counting from byte 0.
        readOne();
        if (endpoint_.connectionSocket != TQ_INVALID_SOCKET)
            ::close(endpoint_.connectionSocket);
        ::close(pair_[1]);
        resetProcessState();
    }

    // Writes the stream file and opens it as the daemon does.
    void openStream(const std::string &bytes)
    {
        if (tqMessageStream != nullptr)
            std::fclose(tqMessageStream);
        writeFile(root_.file("tqdaemon.file"), bytes);
        tqMessageStream = std::fopen(root_.file("tqdaemon.file").c_str(), "rb");
        ASSERT_NE(tqMessageStream, nullptr);
    }

    // One reader call: the exit code when it ended the daemon, else kNoExit.
    // Then the turn is stored, as the main loop's commit does, unless not.
    int readOne(bool stored = true)
    {
        try {
            dyn_recvMsg(0, &endpoint_);
        } catch (const ExitCalled &e) {
            return e.code;
        }
        if (stored)
            endpoint_.turnStored();
        return kNoExit;
    }

    // Acknowledgements received since the last call; -1 when the bytes are
    // not whole acknowledgements.
    int acks()
    {
        std::string got;
        char buf[256];
        for (;;) {
            ssize_t n = ::read(pair_[1], buf, sizeof buf);
            if (n <= 0)
                break;
            got.append(buf, static_cast<size_t>(n));
        }
        if (got.size() % 4 != 0)
            return -1;
        for (size_t i = 0; i < got.size(); i += 4) {
            if (got.compare(i, 4, std::string("0\n\0\0", 4)) != 0)
                return -1;
        }
        return static_cast<int>(got.size() / 4);
    }

    std::string messageLog() const { return readFile(root_.file("usr/ov/log/tqdaemon.log")); }
    std::string daemonTrace() const { return readFile(root_.file("tq_std.trc")); }

    static int count(const std::string &text, const std::string &needle)
    {
        int n = 0;
        for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1))
            ++n;
        return n;
    }

    TempRoot root_;
    SocketEndpoint endpoint_{0, 1};
    int pair_[2] = {-1, -1};
};

}  // namespace tqtest

#endif
