// The daemon's socket endpoint: bound to the service port, used only to send
// the four-byte acknowledgements.
#include "intake/endpoint.h"

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
    localAddress.addr = tqHtonl(0);

    listeningSocket = tqSocket(TQ_AF_INET, type, 0);
    if (listeningSocket == TQ_INVALID_SOCKET) {
        tqWSACleanup();
        return;
    }
    if (tqBind(listeningSocket, &localAddress, static_cast<int>(sizeof localAddress)) == TQ_SOCKET_ERROR) {
        tqWSACleanup();
        return;
    }
    if (type != kDatagram && tqListen(listeningSocket, kBacklog) == TQ_SOCKET_ERROR) {
        tqWSACleanup();
        return;
    }
    state = 0;
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

void SocketEndpoint::acknowledge()
{
    if (type == kDatagram)
        tqSendTo(connectionSocket, kAcknowledgement, sizeof kAcknowledgement, 0, &peerAddress, addressLength);
    else
        tqSend(connectionSocket, kAcknowledgement, sizeof kAcknowledgement, 0);
}
