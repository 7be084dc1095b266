#include "host/peer.h"

#include <winsock2.h>
#include <ws2tcpip.h>

bool tqSetNonBlocking(TqSocket s)
{
    u_long on = 1;
    return ::ioctlsocket(static_cast<SOCKET>(s), FIONBIO, &on) == 0;
}

TqSocket tqAcceptPending(TqSocket listening)
{
    if (listening == TQ_INVALID_SOCKET)
        return TQ_INVALID_SOCKET;
    const SOCKET s = ::accept(static_cast<SOCKET>(listening), nullptr, nullptr);
    if (s == INVALID_SOCKET)
        return TQ_INVALID_SOCKET;
    if (!tqSetNonBlocking(static_cast<TqSocket>(s))) {
        ::closesocket(s);
        return TQ_INVALID_SOCKET;
    }
    const int buffer = 64 * 1024;
    ::setsockopt(s, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char *>(&buffer), sizeof buffer);
    return static_cast<TqSocket>(s);
}

bool tqPeerGone(TqSocket s)
{
    char sink[256];
    for (;;) {
        const int n = ::recv(static_cast<SOCKET>(s), sink, sizeof sink, 0);
        if (n > 0)
            continue;
        if (n == 0)
            return true;
        return ::WSAGetLastError() != WSAEWOULDBLOCK;
    }
}

bool tqParseIPv4(const char *text, uint32_t &addr)
{
    IN_ADDR a{};
    if (text == nullptr || ::inet_pton(AF_INET, text, &a) != 1)
        return false;
    addr = a.s_addr;
    return true;
}

TqSocket tqConnect(uint32_t addr, uint16_t port)
{
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET)
        return TQ_INVALID_SOCKET;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = addr;
    if (::connect(s, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        ::closesocket(s);
        return TQ_INVALID_SOCKET;
    }
    return static_cast<TqSocket>(s);
}

bool tqReceiveAll(TqSocket s, char *buf, int len)
{
    int got = 0;
    while (got < len) {
        const int n = ::recv(static_cast<SOCKET>(s), buf + got, len - got, 0);
        if (n <= 0)
            return false;
        got += n;
    }
    return true;
}

std::string tqSocketErrorText()
{
    return "Windows Sockets error " + std::to_string(::WSAGetLastError());
}
