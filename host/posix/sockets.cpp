// The Windows Sockets calls the daemon makes, over BSD sockets.
#include "host/sockets.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int hostFamily(int family)
{
    return family == TQ_AF_INET ? AF_INET : family;
}

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
    out.sin_family = static_cast<sa_family_t>(hostFamily(addr->family));
    out.sin_port = addr->port;
    out.sin_addr.s_addr = addr->addr;
    return true;
}

}  // namespace

int tqWSAStartup(uint16_t version, TqWsaData *data)
{
    if (data != nullptr) {
        data->version = version;
        data->highVersion = version;
    }
    return 0;
}

int tqWSACleanup()
{
    return 0;
}

TqSocket tqSocket(int family, int type, int protocol)
{
    int s = ::socket(hostFamily(family), hostType(type) | SOCK_CLOEXEC, protocol);
    if (s < 0)
        return TQ_INVALID_SOCKET;
    // Repeated runs on the same port must be able to bind again at once.
    int on = 1;
    ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    return s;
}

int tqBind(TqSocket s, const TqSockAddrIn *addr, int len)
{
    sockaddr_in sa;
    if (!toHost(addr, len, sa)) {
        errno = EINVAL;
        return TQ_SOCKET_ERROR;
    }
    return ::bind(s, reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0 ? 0 : TQ_SOCKET_ERROR;
}

int tqListen(TqSocket s, int backlog)
{
    return ::listen(s, backlog) == 0 ? 0 : TQ_SOCKET_ERROR;
}

int tqSend(TqSocket s, const char *buf, int len, int flags)
{
    if (len < 0)
        return TQ_SOCKET_ERROR;
    // No socket: the send fails as the call would, without making it (the
    // acknowledgements of a stream read with no peer connected).
    if (s == TQ_INVALID_SOCKET) {
        errno = EBADF;
        return TQ_SOCKET_ERROR;
    }
    // A peer that went away must not raise SIGPIPE in the daemon.
    ssize_t n = ::send(s, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL);
    return n < 0 ? TQ_SOCKET_ERROR : static_cast<int>(n);
}

int tqSendTo(TqSocket s, const char *buf, int len, int flags, const TqSockAddrIn *to, int tolen)
{
    sockaddr_in sa;
    if (s == TQ_INVALID_SOCKET) {
        errno = EBADF;
        return TQ_SOCKET_ERROR;
    }
    if (len < 0 || !toHost(to, tolen, sa)) {
        errno = EINVAL;
        return TQ_SOCKET_ERROR;
    }
    ssize_t n = ::sendto(s, buf, static_cast<size_t>(len), flags | MSG_NOSIGNAL,
                         reinterpret_cast<const sockaddr *>(&sa), sizeof sa);
    return n < 0 ? TQ_SOCKET_ERROR : static_cast<int>(n);
}

int tqCloseSocket(TqSocket s)
{
    if (s == TQ_INVALID_SOCKET)
        return TQ_SOCKET_ERROR;
    return ::close(s) == 0 ? 0 : TQ_SOCKET_ERROR;
}

uint16_t tqHtons(uint16_t v)
{
    return htons(v);
}

uint32_t tqHtonl(uint32_t v)
{
    return htonl(v);
}

void tqExclusiveListenOptions(int fd)
{
    int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
}

int tqWaitReadable(TqSocket s, int milliseconds)
{
    pollfd p{s, POLLIN, 0};
    const int r = ::poll(&p, 1, milliseconds);
    if (r < 0)
        return errno == EINTR ? 0 : -1;
    return r > 0 ? 1 : 0;
}
