// Positions are 64-bit on 32-bit hosts too.
#define _FILE_OFFSET_BITS 64

#include "platform/hostfile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

bool hostFileExists(const std::string &hostFile)
{
    struct stat st;
    return stat(hostFile.c_str(), &st) == 0;
}

bool hostAppend(const std::string &hostFile, const char *data, size_t len)
{
    int fd = open(hostFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    bool ok = true;
    while (len > 0) {
        ssize_t n = write(fd, data, len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        data += n;
        len -= static_cast<size_t>(n);
    }
    if (close(fd) != 0)
        ok = false;
    return ok;
}

int64_t hostTell(FILE *stream)
{
    off_t here = ftello(stream);
    return here < 0 ? -1 : static_cast<int64_t>(here);
}

int hostSeek(FILE *stream, int64_t offset, int whence)
{
    return fseeko(stream, static_cast<off_t>(offset), whence);
}
