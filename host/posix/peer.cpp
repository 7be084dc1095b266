#include "host/peer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

bool tqSetNonBlocking(TqSocket s)
{
    const int flags = ::fcntl(s, F_GETFL);
    return flags >= 0 && ::fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}

TqSocket tqAcceptPending(TqSocket listening)
{
    if (listening == TQ_INVALID_SOCKET)
        return TQ_INVALID_SOCKET;
    const int s = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (s < 0)
        return TQ_INVALID_SOCKET;
    const int buffer = 64 * 1024;
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    return s;
}

bool tqPeerGone(TqSocket s)
{
    char sink[256];
    for (;;) {
        const ssize_t n = ::recv(s, sink, sizeof sink, MSG_DONTWAIT);
        if (n > 0)
            continue;
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        return errno != EAGAIN && errno != EWOULDBLOCK;
    }
}

bool tqParseIPv4(const char *text, uint32_t &addr)
{
    in_addr a{};
    if (text == nullptr || ::inet_pton(AF_INET, text, &a) != 1)
        return false;
    addr = a.s_addr;
    return true;
}

TqSocket tqConnect(uint32_t addr, uint16_t port)
{
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s < 0)
        return TQ_INVALID_SOCKET;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = addr;
    if (::connect(s, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        const int error = errno;
        ::close(s);
        errno = error;
        return TQ_INVALID_SOCKET;
    }
    return s;
}

bool tqReceiveAll(TqSocket s, char *buf, int len)
{
    int got = 0;
    while (got < len) {
        const ssize_t n = ::recv(s, buf + got, static_cast<size_t>(len - got), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        got += static_cast<int>(n);
    }
    return true;
}

std::string tqSocketErrorText()
{
    return std::strerror(errno);
}
