// The daemon's socket endpoint: a socket bound to the service port that
// serves only to send the four-byte acknowledgements.
#ifndef TQ_INTAKE_ENDPOINT_H
#define TQ_INTAKE_ENDPOINT_H

#include "adapter/server_endpoint.h"
#include "host/sockets.h"

#include <cstdint>
#include <string>

class SocketEndpoint final : public ServerEndpoint {
public:
    SocketEndpoint(int32_t port, int32_t type);

    // Starts sockets, creates, binds and (stream) listens without blocking,
    // on 127.0.0.1 or the IPv4 address in TQ_ACK_ADDRESS (an address that is
    // not one is logged and loopback used). Failures are silent.
    void open();
    // Type 1 only: closes the listening socket.
    void closeListening() override;
    // Type 1 only: closes the connection socket; state back to 0.
    void closeConnection() override;
    // Sends the four acknowledgement bytes 0x30 0x0A 0x00 0x00 to the peer,
    // after taking a waiting one (acceptPending). The send never blocks: a
    // peer that is gone or does not take them is dropped, with one log line.
    void acknowledge() override;
    // Owes the peer an acknowledgement until turnStored.
    void acknowledgeWhenStored() override;
    void turnStored() override;
    // Type 1 only: drops a peer that closed the connection, and takes one
    // that waits when there is none (one peer at a time).
    void acceptPending() override;

    int32_t port;
    int32_t type;
    int32_t state = 0;
    int32_t addressLength = 16;
    TqSockAddrIn localAddress{};
    TqSockAddrIn peerAddress{};
    TqSocket listeningSocket = TQ_INVALID_SOCKET;
    TqSocket connectionSocket = TQ_INVALID_SOCKET;
    TqWsaData startupData{};

private:
    void send();
    void dropPeer(const std::string &why);
    int owed_ = 0;   // acknowledgements waiting for the turn to be stored
};

#endif
