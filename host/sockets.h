// Host sockets layer: the Windows Sockets calls the daemon makes, over the
// host's own sockets (BSD sockets on POSIX, where WSAStartup and WSACleanup do
// nothing; Windows Sockets on Windows).
#ifndef TQ_HOST_SOCKETS_H
#define TQ_HOST_SOCKETS_H

#include <cstdint>

// A socket handle: a descriptor on POSIX, a pointer-sized handle on Windows.
#ifdef _WIN32
using TqSocket = uintptr_t;
constexpr TqSocket TQ_INVALID_SOCKET = ~static_cast<uintptr_t>(0);
#else
using TqSocket = int;
constexpr TqSocket TQ_INVALID_SOCKET = -1;
#endif
constexpr int TQ_SOCKET_ERROR = -1;

// The platform's start-up record.
struct TqWsaData {
    uint16_t version;
    uint16_t highVersion;
};

// 16-byte IPv4 socket address as the endpoint keeps it.
struct TqSockAddrIn {
    int16_t family;
    uint16_t port;       // network byte order
    uint32_t addr;       // network byte order
    char zero[8];
};
static_assert(sizeof(TqSockAddrIn) == 16, "IPv4 socket address is 16 bytes");

int tqWSAStartup(uint16_t version, TqWsaData *data);
int tqWSACleanup();
// type 1: stream, 2: datagram
TqSocket tqSocket(int family, int type, int protocol);
int tqBind(TqSocket s, const TqSockAddrIn *addr, int len);
int tqListen(TqSocket s, int backlog);
int tqSend(TqSocket s, const char *buf, int len, int flags);
int tqSendTo(TqSocket s, const char *buf, int len, int flags, const TqSockAddrIn *to, int tolen);
int tqCloseSocket(TqSocket s);
uint16_t tqHtons(uint16_t v);
// Lets a listening socket reuse a recently closed address, but never share a
// port another process listens on (so a port in use fails to bind).
void tqExclusiveListenOptions(int fd);
uint32_t tqHtonl(uint32_t v);
// Waits until the socket has something to read (or its peer closed it), for
// at most `milliseconds`; a stop signal (SIGTERM, SIGINT) ends the wait
// early. 1 when readable, 0 when the time passed or a signal came, -1 on
// failure.
int tqWaitReadable(TqSocket s, int milliseconds);
constexpr int TQ_AF_INET = 2;

#endif
