// The Windows Sockets layer over the host's sockets.
#include "host/sockets.h"

#include <gtest/gtest.h>

#include <cerrno>

#ifdef _WIN32
#include <winsock2.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
using HostLength = int;
void closeHost(TqSocket s) { closesocket(s); }
// The error a call on no socket leaves.
int lastSocketError() { return WSAGetLastError(); }
void clearSocketError() { WSASetLastError(0); }
constexpr int kNoSocketError = WSAENOTSOCK;

// Windows Sockets want their start-up before any call.
class SocketsStarted : public ::testing::Environment {
public:
    void SetUp() override { tqWSAStartup(0x0202, nullptr); }
    void TearDown() override { tqWSACleanup(); }
};
const auto *const socketsStarted = ::testing::AddGlobalTestEnvironment(new SocketsStarted);
#else
using HostLength = socklen_t;
void closeHost(TqSocket s) { close(s); }
int lastSocketError() { return errno; }
void clearSocketError() { errno = 0; }
constexpr int kNoSocketError = EBADF;
#endif

// Port the kernel gave a bound socket, host byte order.
uint16_t boundPort(TqSocket s)
{
    sockaddr_in sa{};
    HostLength len = sizeof sa;
    if (getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

TqSockAddrIn address(uint16_t port, uint32_t hostAddr)
{
    TqSockAddrIn a{};
    a.family = TQ_AF_INET;
    a.port = tqHtons(port);
    a.addr = tqHtonl(hostAddr);
    return a;
}

TEST(Sockets, StartupAndCleanupSucceedAndFillTheRecord)
{
    TqWsaData data{};
    EXPECT_EQ(tqWSAStartup(0x0202, &data), 0);
    EXPECT_EQ(data.version, 0x0202);
    EXPECT_EQ(tqWSAStartup(0x0002, nullptr), 0);
    EXPECT_EQ(tqWSACleanup(), 0);
}

TEST(Sockets, StreamSocketRebindsThePortOfAClosedListener)
{
    TqSocket first = tqSocket(TQ_AF_INET, 1, 0);
    ASSERT_NE(first, TQ_INVALID_SOCKET);
    TqSockAddrIn any = address(0, INADDR_LOOPBACK);
    ASSERT_EQ(tqBind(first, &any, 16), 0);
    ASSERT_EQ(tqListen(first, 5), 0);
    uint16_t port = boundPort(first);
    ASSERT_NE(port, 0);

    // A client connection leaves the port in TIME_WAIT once closed.
    TqSocket client = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
    TqSocket accepted = ::accept(first, nullptr, nullptr);
    ASSERT_NE(accepted, TQ_INVALID_SOCKET);
    closeHost(accepted);
    closeHost(client);
    EXPECT_EQ(tqCloseSocket(first), 0);

    TqSocket second = tqSocket(TQ_AF_INET, 1, 0);
    ASSERT_NE(second, TQ_INVALID_SOCKET);
    TqSockAddrIn same = address(port, INADDR_LOOPBACK);
    EXPECT_EQ(tqBind(second, &same, 16), 0);
    EXPECT_EQ(tqListen(second, 5), 0);
    EXPECT_EQ(tqCloseSocket(second), 0);
}

TEST(Sockets, DatagramSendToReachesThePeer)
{
    TqSocket receiver = tqSocket(TQ_AF_INET, 2, 0);
    TqSocket sender = tqSocket(TQ_AF_INET, 2, 0);
    ASSERT_NE(receiver, TQ_INVALID_SOCKET);
    ASSERT_NE(sender, TQ_INVALID_SOCKET);
    TqSockAddrIn local = address(0, INADDR_LOOPBACK);
    ASSERT_EQ(tqBind(receiver, &local, 16), 0);
    TqSockAddrIn peer = address(boundPort(receiver), INADDR_LOOPBACK);

    EXPECT_EQ(tqSendTo(sender, "0\n", 3, 0, &peer, 16), 3);
    char buf[8] = {};
    EXPECT_EQ(::recv(receiver, buf, sizeof buf, 0), 3);
    EXPECT_STREQ(buf, "0\n");
    // A short address length is refused, not read past.
    EXPECT_EQ(tqSendTo(sender, "x", 1, 0, &peer, 8), TQ_SOCKET_ERROR);
    tqCloseSocket(sender);
    tqCloseSocket(receiver);
}

TEST(Sockets, FailuresReportSocketError)
{
    clearSocketError();
    EXPECT_EQ(tqSend(TQ_INVALID_SOCKET, "x", 1, 0), TQ_SOCKET_ERROR);
    EXPECT_EQ(lastSocketError(), kNoSocketError);
    TqSockAddrIn anywhere{};
    anywhere.family = TQ_AF_INET;
    clearSocketError();
    EXPECT_EQ(tqSendTo(TQ_INVALID_SOCKET, "x", 1, 0, &anywhere, sizeof anywhere), TQ_SOCKET_ERROR);
    EXPECT_EQ(lastSocketError(), kNoSocketError);
    EXPECT_EQ(tqCloseSocket(TQ_INVALID_SOCKET), TQ_SOCKET_ERROR);
    TqSocket s = tqSocket(TQ_AF_INET, 1, 0);
    ASSERT_NE(s, TQ_INVALID_SOCKET);
    EXPECT_EQ(tqBind(s, nullptr, 16), TQ_SOCKET_ERROR);
    tqCloseSocket(s);

#ifndef _WIN32
    // Sending on a stream whose peer has gone fails instead of raising SIGPIPE.
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    ::close(pair[1]);
    EXPECT_EQ(tqSend(pair[0], "0\n\0\0", 4, 0), TQ_SOCKET_ERROR);
    ::close(pair[0]);
#endif
}

}  // namespace
