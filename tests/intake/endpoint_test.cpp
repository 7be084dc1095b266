// The socket endpoint: opening, closing and the acknowledgement bytes.
#include "intake/endpoint.h"
#include "support/process_state.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using tqtest::freePort;

bool canConnect(uint16_t port)
{
    int c = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = ::connect(c, reinterpret_cast<sockaddr *>(&to), sizeof to) == 0;
    ::close(c);
    return ok;
}

TEST(SocketEndpoint, StreamEndpointListensOnItsPortUntilClosed)
{
    uint16_t port = freePort(SOCK_STREAM);
    SocketEndpoint ep(port, 1);
    ep.open();
    ASSERT_NE(ep.listeningSocket, TQ_INVALID_SOCKET);
    EXPECT_EQ(ep.localAddress.family, TQ_AF_INET);
    EXPECT_EQ(ntohs(ep.localAddress.port), port);
    EXPECT_EQ(ep.localAddress.addr, htonl(INADDR_LOOPBACK));
    EXPECT_EQ(ep.startupData.version, 0x0202);
    EXPECT_TRUE(canConnect(port));

    ep.closeListening();
    EXPECT_EQ(ep.listeningSocket, TQ_INVALID_SOCKET);
    EXPECT_FALSE(canConnect(port));
    ep.closeListening();   // a second close touches nothing
}

TEST(SocketEndpoint, AcknowledgementIsFourFixedBytesOnTheConnection)
{
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    SocketEndpoint ep(0, 1);
    ep.connectionSocket = pair[0];
    ep.acknowledge();
    ep.acknowledge();
    unsigned char buf[16] = {};
    ASSERT_EQ(::recv(pair[1], buf, sizeof buf, MSG_DONTWAIT), 8);
    const unsigned char ack[4] = {0x30, 0x0A, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(buf, ack, 4), 0);
    EXPECT_EQ(std::memcmp(buf + 4, ack, 4), 0);

    // Closing the connection reaches the peer; later acknowledgements fail silently.
    ep.state = 7;
    ep.closeConnection();
    EXPECT_EQ(ep.connectionSocket, TQ_INVALID_SOCKET);
    EXPECT_EQ(ep.state, 0);
    EXPECT_EQ(::recv(pair[1], buf, sizeof buf, 0), 0);
    ep.acknowledge();
    ep.closeConnection();
    ::close(pair[1]);
}

// A peer connects to the service port: it is taken at the next turn, gets
// the acknowledgements without ever holding the daemon up, and one that goes
// away is dropped with one line and replaced by the next.
TEST(SocketEndpoint, OnePeerAtATimeIsTakenServedAndDroppedWhenGone)
{
    tqtest::TempRoot root;
    resetLogState();
    const uint16_t port = freePort(SOCK_STREAM);
    SocketEndpoint ep(port, 1);
    ep.open();
    ASSERT_NE(ep.listeningSocket, TQ_INVALID_SOCKET);
    auto connectPeer = [&] {
        int c = ::socket(AF_INET, SOCK_STREAM, 0);
        const int small = 4096;   // a peer that does not read falls behind soon
        ::setsockopt(c, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(c, reinterpret_cast<sockaddr *>(&to), sizeof to), 0);
        return c;
    };
    auto received = [](int peer) {
        char buf[64];
        const ssize_t n = ::recv(peer, buf, sizeof buf, MSG_DONTWAIT);
        return n < 0 ? 0 : static_cast<int>(n);
    };
    ep.acceptPending();   // nobody waits: nothing blocks
    EXPECT_EQ(ep.connectionSocket, TQ_INVALID_SOCKET);

    const int first = connectPeer();
    ep.acknowledge();                // taken, then acknowledged
    ep.acknowledgeWhenStored();      // owed until the turn is stored
    EXPECT_EQ(received(first), 4);
    ep.turnStored();
    EXPECT_EQ(received(first), 4);
    const int second = connectPeer();   // waits while the first is served
    ep.acceptPending();
    ep.acknowledge();
    EXPECT_EQ(received(first), 4);
    EXPECT_EQ(received(second), 0);

    ::close(first);
    ep.acceptPending();   // the first is gone: the second takes its place
    ep.acknowledge();
    EXPECT_EQ(received(second), 4);
    // A peer that never reads is dropped once its buffers are full, not waited for.
    for (int i = 0; i < 200000 && ep.connectionSocket != TQ_INVALID_SOCKET; ++i)
        ep.acknowledge();
    EXPECT_EQ(ep.connectionSocket, TQ_INVALID_SOCKET);
    const std::string log = tqtest::readFile(root.file("usr/ov/log/tqdaemon.log"));
    EXPECT_NE(log.find("Acknowledgement peer dropped: the peer closed the connection\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Acknowledgement peer dropped: "), log.rfind("Acknowledgement peer dropped: ")) << log;
    ::close(second);
    ep.closeListening();
    resetLogState();
}

TEST(SocketEndpoint, DatagramEndpointSendsToItsPeerAndKeepsItsSockets)
{
    int receiver = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(receiver, reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0);
    socklen_t len = sizeof sa;
    ::getsockname(receiver, reinterpret_cast<sockaddr *>(&sa), &len);

    SocketEndpoint ep(freePort(SOCK_DGRAM), 2);
    ep.open();
    ASSERT_NE(ep.listeningSocket, TQ_INVALID_SOCKET);
    ep.connectionSocket = ep.listeningSocket;
    ep.peerAddress.family = TQ_AF_INET;
    ep.peerAddress.port = sa.sin_port;
    ep.peerAddress.addr = sa.sin_addr.s_addr;
    ep.acknowledge();
    unsigned char buf[16] = {};
    ASSERT_EQ(::recv(receiver, buf, sizeof buf, 0), 4);
    const unsigned char ack[4] = {0x30, 0x0A, 0x00, 0x00};
    EXPECT_EQ(std::memcmp(buf, ack, 4), 0);

    // Only stream endpoints close their sockets.
    TqSocket s = ep.listeningSocket;
    ep.closeListening();
    ep.closeConnection();
    EXPECT_EQ(ep.listeningSocket, s);
    EXPECT_EQ(ep.connectionSocket, s);
    ::close(s);
    ::close(receiver);
}

}  // namespace
