// What the adapter and the main loop's server callback need of the daemon's
// socket endpoint. The endpoint itself lives above the adapter.
#ifndef TQ_ADAPTER_SERVER_ENDPOINT_H
#define TQ_ADAPTER_SERVER_ENDPOINT_H

class ServerEndpoint {
public:
    // Closes the listening socket (when the adapter's connection ends).
    virtual void closeListening() = 0;
    // Closes the connection socket (when the session or the map ends).
    virtual void closeConnection() = 0;
    // Sends the four acknowledgement bytes of a message.
    virtual void acknowledge() = 0;
    // The same, once the turn holding the message is stored (turnStored).
    virtual void acknowledgeWhenStored() { acknowledge(); }
    // The turn before was stored (committed): owed acknowledgements go out.
    virtual void turnStored() {}
    // At the start of a loop turn: takes a peer that waits to connect.
    virtual void acceptPending() {}

protected:
    ServerEndpoint() = default;
    ServerEndpoint(const ServerEndpoint &) = default;
    ServerEndpoint &operator=(const ServerEndpoint &) = default;
    ~ServerEndpoint() = default;
};

#endif
