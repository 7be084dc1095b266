// The daemon's socket endpoint: bound to the service port, used only to send
// the four-byte acknowledgements to one connected peer at a time.
#include "intake/endpoint.h"

#include "log/log.h"
#include "host/peer.h"

#include <cstdlib>

namespace {

constexpr int32_t kStream = 1;
constexpr int32_t kDatagram = 2;
constexpr int kBacklog = 5;
// "0\n", its terminating NUL and one byte of padding.
const char kAcknowledgement[4] = {0x30, 0x0A, 0x00, 0x00};

}  // namespace

SocketEndpoint::SocketEndpoint(int32_t portNumber, int32_t socketType)
    : port(portNumber), type(socketType)
{
}

void SocketEndpoint::open()
{
    if (tqWSAStartup(0x0202, &startupData) != 0) {
        tqWSACleanup();
        return;
    }
    localAddress = TqSockAddrIn{};
    localAddress.family = TQ_AF_INET;
    localAddress.port = tqHtons(static_cast<uint16_t>(port & 0xFFFF));
    // Loopback unless another address is asked for: the port serves only
    // acknowledgements, to a writer on this machine.
    localAddress.addr = tqHtonl(0x7f000001);
    const char *address = std::getenv("TQ_ACK_ADDRESS");
    if (address != nullptr && *address != '\0') {
        uint32_t parsed = 0;
        if (tqParseIPv4(address, parsed)) {
            localAddress.addr = parsed;
        } else {
            const std::string line = std::string("TQ_ACK_ADDRESS '") + address +
                                     "' is not an IPv4 address: acknowledgements listen on 127.0.0.1";
            MessageLog(line.c_str());
        }
    }

    listeningSocket = tqSocket(TQ_AF_INET, type, 0);
    if (listeningSocket == TQ_INVALID_SOCKET) {
        tqWSACleanup();
        return;
    }
    if (tqBind(listeningSocket, &localAddress, static_cast<int>(sizeof localAddress)) == TQ_SOCKET_ERROR) {
        tqWSACleanup();
        return;
    }
    if (type != kDatagram && (tqListen(listeningSocket, kBacklog) == TQ_SOCKET_ERROR ||
                              !tqSetNonBlocking(listeningSocket))) {
        tqWSACleanup();
        return;
    }
    state = 0;
}

void SocketEndpoint::acceptPending()
{
    if (type != kStream || listeningSocket == TQ_INVALID_SOCKET)
        return;
    if (connectionSocket != TQ_INVALID_SOCKET && tqPeerGone(connectionSocket))
        dropPeer("the peer closed the connection");
    if (connectionSocket != TQ_INVALID_SOCKET)
        return;
    connectionSocket = tqAcceptPending(listeningSocket);
    if (connectionSocket != TQ_INVALID_SOCKET) {
        state = 1;
        // A new peer hears of the messages from now on.
        owed_ = 0;
    }
}

void SocketEndpoint::dropPeer(const std::string &why)
{
    const std::string line = "Acknowledgement peer dropped: " + why;
    MessageLog(line.c_str());
    closeConnection();
    owed_ = 0;
}

void SocketEndpoint::closeListening()
{
    if (type != kStream || listeningSocket == TQ_INVALID_SOCKET)
        return;
    tqCloseSocket(listeningSocket);
    // Forget the handle: a second close could hit a descriptor reused since.
    listeningSocket = TQ_INVALID_SOCKET;
}

void SocketEndpoint::closeConnection()
{
    if (type != kStream)
        return;
    if (connectionSocket != TQ_INVALID_SOCKET) {
        tqCloseSocket(connectionSocket);
        connectionSocket = TQ_INVALID_SOCKET;
    }
    state = 0;
}

void SocketEndpoint::send()
{
    if (connectionSocket == TQ_INVALID_SOCKET)
        return;
    const int sent = tqSend(connectionSocket, kAcknowledgement, sizeof kAcknowledgement, 0);
    if (sent == static_cast<int>(sizeof kAcknowledgement))
        return;
    // A peer that does not read (or has gone) is not waited for: the stream
    // goes on without it.
    dropPeer(sent < 0 ? tqSocketErrorText() : "it does not take the acknowledgements as they come");
}

void SocketEndpoint::acknowledge()
{
    if (type == kDatagram) {
        tqSendTo(connectionSocket, kAcknowledgement, sizeof kAcknowledgement, 0, &peerAddress, addressLength);
        return;
    }
    acceptPending();
    send();
}

void SocketEndpoint::acknowledgeWhenStored()
{
    if (type == kDatagram)
        acknowledge();
    else if (connectionSocket != TQ_INVALID_SOCKET)
        ++owed_;
}

void SocketEndpoint::turnStored()
{
    for (; owed_ > 0 && connectionSocket != TQ_INVALID_SOCKET; --owed_)
        send();
    owed_ = 0;
}
