// The Windows Sockets calls the daemon makes, over the host's Windows Sockets.
#include "host/sockets.h"

#include <winsock2.h>

#include <cstring>

namespace {

int hostType(int type)
{
    switch (type) {
    case 1:
        return SOCK_STREAM;
    case 2:
        return SOCK_DGRAM;
    default:
        return type;
    }
}

bool toHost(const TqSockAddrIn *addr, int len, sockaddr_in &out)
{
    if (addr == nullptr || len < static_cast<int>(sizeof(TqSockAddrIn)))
        return false;
    std::memset(&out, 0, sizeof out);
    out.sin_family = static_cast<ADDRESS_FAMILY>(addr->family == TQ_AF_INET ? AF_INET : addr->family);
    out.sin_port = addr->port;
    out.sin_addr.s_addr = addr->addr;
    return true;
}

SOCKET hostSocket(TqSocket s)
{
    return static_cast<SOCKET>(s);
}

}  // namespace

int tqWSAStartup(uint16_t version, TqWsaData *data)
{
    WSADATA wsa;
    int rc = WSAStartup(version, &wsa);
    if (rc == 0 && data != nullptr) {
        data->version = wsa.wVersion;
        data->highVersion = wsa.wHighVersion;
    }
    return rc;
}

int tqWSACleanup()
{
    return WSACleanup() == 0 ? 0 : TQ_SOCKET_ERROR;
}

TqSocket tqSocket(int family, int type, int protocol)
{
    // Not inherited by child processes, as SOCK_CLOEXEC does on POSIX. No
    // SO_REUSEADDR: on Windows it would let another socket take a bound port.
    SOCKET s = WSASocketW(family == TQ_AF_INET ? AF_INET : family, hostType(type), protocol, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET)
        return TQ_INVALID_SOCKET;
    return static_cast<TqSocket>(s);
}

int tqBind(TqSocket s, const TqSockAddrIn *addr, int len)
{
    sockaddr_in sa;
    if (!toHost(addr, len, sa)) {
        WSASetLastError(WSAEINVAL);
        return TQ_SOCKET_ERROR;
    }
    return ::bind(hostSocket(s), reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0 ? 0 : TQ_SOCKET_ERROR;
}

int tqListen(TqSocket s, int backlog)
{
    return ::listen(hostSocket(s), backlog) == 0 ? 0 : TQ_SOCKET_ERROR;
}

int tqSend(TqSocket s, const char *buf, int len, int flags)
{
    if (len < 0)
        return TQ_SOCKET_ERROR;
    // No socket: the send fails without being made (the acknowledgements of a
    // stream read with no peer connected).
    if (s == TQ_INVALID_SOCKET) {
        WSASetLastError(WSAENOTSOCK);
        return TQ_SOCKET_ERROR;
    }
    int n = ::send(hostSocket(s), buf, len, flags);
    return n == SOCKET_ERROR ? TQ_SOCKET_ERROR : n;
}

int tqSendTo(TqSocket s, const char *buf, int len, int flags, const TqSockAddrIn *to, int tolen)
{
    sockaddr_in sa;
    if (s == TQ_INVALID_SOCKET) {
        WSASetLastError(WSAENOTSOCK);
        return TQ_SOCKET_ERROR;
    }
    if (len < 0 || !toHost(to, tolen, sa)) {
        WSASetLastError(WSAEINVAL);
        return TQ_SOCKET_ERROR;
    }
    int n = ::sendto(hostSocket(s), buf, len, flags, reinterpret_cast<const sockaddr *>(&sa), sizeof sa);
    return n == SOCKET_ERROR ? TQ_SOCKET_ERROR : n;
}

int tqCloseSocket(TqSocket s)
{
    if (s == TQ_INVALID_SOCKET)
        return TQ_SOCKET_ERROR;
    return ::closesocket(hostSocket(s)) == 0 ? 0 : TQ_SOCKET_ERROR;
}

uint16_t tqHtons(uint16_t v)
{
    return htons(v);
}

uint32_t tqHtonl(uint32_t v)
{
    return htonl(v);
}

int tqWaitReadable(TqSocket s, int milliseconds)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(s), &readable);
    timeval limit{milliseconds / 1000, (milliseconds % 1000) * 1000};
    const int r = select(0, &readable, nullptr, nullptr, &limit);
    if (r == SOCKET_ERROR)
        return -1;
    return r > 0 ? 1 : 0;
}
