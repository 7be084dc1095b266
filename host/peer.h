// The connected peer of a listening stream socket, taken and served without
// ever blocking the caller: the acknowledgements of the message stream go to
// a peer that may be slow, or gone.
#ifndef TQ_HOST_PEER_H
#define TQ_HOST_PEER_H

#include "host/sockets.h"

#include <cstdint>
#include <string>

// Makes the socket non-blocking. True on success.
bool tqSetNonBlocking(TqSocket s);

// Accepts one connection that waits on a non-blocking listening socket; the
// accepted socket is non-blocking too, with a send buffer of about 64 KiB
// (a peer that falls further behind shows as a send that cannot be made).
// TQ_INVALID_SOCKET when none waits (or the accept failed).
TqSocket tqAcceptPending(TqSocket listening);

// True when the peer of a connected socket closed or reset the connection;
// looks without blocking, and reads and drops what the peer sent.
bool tqPeerGone(TqSocket s);

// A dotted IPv4 address ("127.0.0.1") in network byte order; false when the
// text is not one.
bool tqParseIPv4(const char *text, uint32_t &addr);

// A stream connection to the IPv4 address and port (network byte order
// address, host order port) that blocks as usual; TQ_INVALID_SOCKET when it
// cannot be made.
TqSocket tqConnect(uint32_t addr, uint16_t port);

// Receives exactly len bytes, waiting for them. False when the peer closed
// the connection first or the receive failed.
bool tqReceiveAll(TqSocket s, char *buf, int len);

// The text of the last failed socket call.
std::string tqSocketErrorText();

#endif
