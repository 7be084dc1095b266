// tqstream send: hands a stream file's frames to a running daemon one at a
// time, each once the daemon has acknowledged the one before (two
// acknowledgements for an API message, the second once its changes are
// stored in the map; one for any other frame).
#include "send.h"

#include "frames.h"
#include "host/peer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tqstream {

namespace {

constexpr char kApiMessage = 3;
const char kAcknowledgement[4] = {0x30, 0x0A, 0x00, 0x00};

bool writeAllTo(int fd, const std::string &bytes)
{
    for (size_t at = 0; at < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

int send(const std::string &stream, const std::string &target, const std::string &address, uint16_t port,
         bool quiet)
{
    uint32_t addr = 0;
    if (!tqParseIPv4(address.c_str(), addr)) {
        std::fprintf(stderr, "tqstream: '%s' is not an IPv4 address\n", address.c_str());
        return 2;
    }
    // Connected before the first frame, so the daemon takes this peer when
    // it reads that frame.
    const TqSocket peer = tqConnect(addr, port);
    if (peer == TQ_INVALID_SOCKET) {
        std::fprintf(stderr, "tqstream: cannot connect to %s:%u: %s\n", address.c_str(), port,
                     tqSocketErrorText().c_str());
        return 2;
    }
    const int fd = ::open(target.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "tqstream: cannot open '%s': %s\n", target.c_str(), std::strerror(errno));
        tqCloseSocket(peer);
        return 2;
    }
    int status = 0;
    size_t frame = 0;
    for (size_t offset = 0; offset < stream.size();) {
        const DecodedFrame d = decodeFrame(stream, offset);
        const size_t end = d.next > offset && d.next <= stream.size() ? d.next : stream.size();
        ++frame;
        if (!writeAllTo(fd, stream.substr(offset, end - offset))) {
            std::fprintf(stderr, "tqstream: frame %zu: cannot write '%s': %s\n", frame, target.c_str(),
                         std::strerror(errno));
            status = 1;
            break;
        }
        const int expected = stream.size() > offset + 4 && stream[offset + 4] == kApiMessage ? 2 : 1;
        bool acknowledged = true;
        for (int i = 0; i < expected && acknowledged; ++i) {
            char ack[4];
            acknowledged = tqReceiveAll(peer, ack, 4) && std::memcmp(ack, kAcknowledgement, 4) == 0;
        }
        if (!acknowledged) {
            std::fprintf(stderr,
                         "tqstream: frame %zu at byte %zu: the daemon closed the connection before acknowledging it "
                         "(its message log says why)\n",
                         frame, offset);
            status = 1;
            break;
        }
        if (!quiet)
            std::printf("frame %zu acknowledged%s\n", frame, expected == 2 ? ": stored" : "");
        offset = end;
    }
    ::close(fd);
    tqCloseSocket(peer);
    std::fflush(stdout);
    return status;
}

}  // namespace tqstream
