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

namespace {

int openForAppend(const std::string &hostFile)
{
    return open(hostFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

bool passesLimit(off_t size, size_t incoming, uint64_t limit)
{
    return limit != 0 && size > 0 && static_cast<uint64_t>(size) + incoming > limit;
}

// Writes all bytes to fd and closes it.
bool writeAndClose(int fd, const char *data, size_t len)
{
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

}  // namespace

bool hostAppend(const std::string &hostFile, const char *data, size_t len)
{
    int fd = openForAppend(hostFile);
    if (fd < 0)
        return false;
    return writeAndClose(fd, data, len);
}

bool hostAppendBounded(HostBoundedFile &file, const char *data, size_t len)
{
    int fd = openForAppend(file.path);
    if (fd < 0)
        return false;
    if (file.limit != 0 && (!file.measured || file.sizeBound + len > file.limit)) {
        // The size of the open file itself, so measuring costs no path look-up.
        struct stat st;
        file.measured = fstat(fd, &st) == 0;
        file.sizeBound = file.measured ? static_cast<uint64_t>(st.st_size) : 0;
        if (file.measured && passesLimit(st.st_size, len, file.limit) &&
            rename(file.path.c_str(), file.previous.c_str()) == 0) {
            close(fd);
            file.sizeBound = 0;
            fd = openForAppend(file.path);
            if (fd < 0)
                return false;
        }
    }
    bool ok = writeAndClose(fd, data, len);
    if (ok)
        file.sizeBound += len;
    else
        file.measured = false;
    return ok;
}

bool hostRotateIfFull(const std::string &hostFile, size_t incoming, uint64_t limit, const std::string &previous)
{
    struct stat st;
    if (limit == 0 || stat(hostFile.c_str(), &st) != 0 || !passesLimit(st.st_size, incoming, limit))
        return false;
    return rename(hostFile.c_str(), previous.c_str()) == 0;
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
