// Positions are 64-bit on 32-bit hosts too.
#define _FILE_OFFSET_BITS 64

#include "host/hostfile.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/file.h>
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

// Writes all bytes to fd (opened for appending) and closes it. A write cut
// short (a full disk) is taken back, so the file never ends in part of an
// entry.
bool writeAndClose(int fd, const char *data, size_t len)
{
    bool ok = true;
    size_t written = 0;
    while (written < len) {
        ssize_t n = write(fd, data + written, len - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        written += static_cast<size_t>(n);
    }
    if (!ok && written > 0) {
        const off_t end = lseek(fd, 0, SEEK_END);
        if (end >= static_cast<off_t>(written) && ftruncate(fd, end - static_cast<off_t>(written)) != 0)
            ok = false;
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

HostPathKind hostPathKind(const std::string &hostPath)
{
    struct stat st;
    if (stat(hostPath.c_str(), &st) != 0)
        return HostPathKind::Missing;
    if (S_ISREG(st.st_mode))
        return HostPathKind::File;
    if (S_ISDIR(st.st_mode))
        return HostPathKind::Folder;
    return HostPathKind::Other;
}

std::string hostFileHead(const std::string &hostFile, size_t count)
{
    std::string out;
    int fd = open(hostFile.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return out;
    out.resize(count);
    size_t got = 0;
    while (got < count) {
        ssize_t n = read(fd, &out[got], count - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += static_cast<size_t>(n);
    }
    close(fd);
    out.resize(got);
    return out;
}

bool hostFileWritable(const std::string &hostFile)
{
    int fd = open(hostFile.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return false;
    close(fd);
    return true;
}

bool hostFolderWritable(const std::string &folder)
{
    std::string probe = folder + "/.tq-write-probe-" + std::to_string(static_cast<long>(getpid()));
    int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    close(fd);
    unlink(probe.c_str());
    return true;
}

std::string hostParentFolder(const std::string &hostFile)
{
    const size_t slash = hostFile.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : hostFile.substr(0, slash);
}

bool HostFileLock::acquire(const std::string &hostFile, bool &busy)
{
    busy = false;
    release();
    int fd = open(hostFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        busy = errno == EWOULDBLOCK;
        close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

void HostFileLock::release()
{
    if (fd_ >= 0) {
        close(static_cast<int>(fd_));   // closing the only descriptor ends the lock
        fd_ = -1;
    }
}
