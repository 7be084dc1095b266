// The daemon's socket endpoint: a socket bound to the service port that
// serves only to send the four-byte acknowledgements.
#ifndef TQ_INTAKE_ENDPOINT_H
#define TQ_INTAKE_ENDPOINT_H

#include "adapter/server_endpoint.h"
#include "host/sockets.h"

#include <cstdint>

class SocketEndpoint final : public ServerEndpoint {
public:
    SocketEndpoint(int32_t port, int32_t type);

    // Starts sockets, creates, binds and (stream) listens. Failures are silent.
    void open();
    // Type 1 only: closes the listening socket.
    void closeListening() override;
    // Type 1 only: closes the connection socket; state back to 0.
    void closeConnection() override;
    // Sends the four acknowledgement bytes 0x30 0x0A 0x00 0x00; a failed send
    // is ignored.
    void acknowledge() override;

    int32_t port;
    int32_t type;
    int32_t state = 0;
    int32_t addressLength = 16;
    TqSockAddrIn localAddress{};
    TqSockAddrIn peerAddress{};
    TqSocket listeningSocket = TQ_INVALID_SOCKET;
    TqSocket connectionSocket = TQ_INVALID_SOCKET;
    TqWsaData startupData{};
};

#endif
