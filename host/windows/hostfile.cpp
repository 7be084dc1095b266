#include "host/hostfile.h"

#include <windows.h>

#include <cstdio>

bool hostFileExists(const std::string &hostFile)
{
    return GetFileAttributesA(hostFile.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// Shared for reading, writing and deleting, so other programs can read,
// remove or rename the file while the daemon writes it, as on POSIX.
HANDLE openForAppend(const std::string &hostFile)
{
    return CreateFileA(hostFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool passesLimit(uint64_t size, size_t incoming, uint64_t limit)
{
    return limit != 0 && size > 0 && size + incoming > limit;
}

bool fileSize(const std::string &hostFile, uint64_t &size)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(hostFile.c_str(), GetFileExInfoStandard, &data))
        return false;
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool renameOver(const std::string &from, const std::string &to)
{
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

// Writes all bytes to the handle and closes it.
bool writeAndClose(HANDLE h, const char *data, size_t len)
{
    bool ok = true;
    while (len > 0) {
        DWORD chunk = len > 0x40000000u ? 0x40000000u : static_cast<DWORD>(len);
        DWORD written = 0;
        if (!WriteFile(h, data, chunk, &written, nullptr) || written == 0) {
            ok = false;
            break;
        }
        data += written;
        len -= written;
    }
    if (!CloseHandle(h))
        ok = false;
    return ok;
}

}  // namespace

bool hostAppend(const std::string &hostFile, const char *data, size_t len)
{
    HANDLE h = openForAppend(hostFile);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    return writeAndClose(h, data, len);
}

bool hostAppendBounded(HostBoundedFile &file, const char *data, size_t len)
{
    if (file.limit != 0 && (!file.measured || file.sizeBound + len > file.limit)) {
        uint64_t size = 0;
        file.measured = fileSize(file.path, size);
        file.sizeBound = file.measured ? size : 0;
        if (file.measured && passesLimit(size, len, file.limit) && renameOver(file.path, file.previous))
            file.sizeBound = 0;
    }
    HANDLE h = openForAppend(file.path);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    bool ok = writeAndClose(h, data, len);
    if (ok)
        file.sizeBound += len;
    else
        file.measured = false;
    return ok;
}

bool hostRotateIfFull(const std::string &hostFile, size_t incoming, uint64_t limit, const std::string &previous)
{
    uint64_t size = 0;
    if (limit == 0 || !fileSize(hostFile, size) || !passesLimit(size, incoming, limit))
        return false;
    return renameOver(hostFile, previous);
}

int64_t hostTell(FILE *stream)
{
    long long here = _ftelli64(stream);
    return here < 0 ? -1 : static_cast<int64_t>(here);
}

int hostSeek(FILE *stream, int64_t offset, int whence)
{
    return _fseeki64(stream, offset, whence);
}

HostPathKind hostPathKind(const std::string &hostPath)
{
    const DWORD attributes = GetFileAttributesA(hostPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return HostPathKind::Missing;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return HostPathKind::Folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE)
        return HostPathKind::Other;
    return HostPathKind::File;
}

std::string hostFileHead(const std::string &hostFile, size_t count)
{
    std::string out;
    HANDLE h = CreateFileA(hostFile.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return out;
    out.resize(count);
    size_t got = 0;
    while (got < count) {
        DWORD chunk = count - got > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count - got);
        DWORD n = 0;
        if (!ReadFile(h, &out[got], chunk, &n, nullptr) || n == 0)
            break;
        got += n;
    }
    CloseHandle(h);
    out.resize(got);
    return out;
}

bool hostFileWritable(const std::string &hostFile)
{
    HANDLE h = CreateFileA(hostFile.c_str(), GENERIC_READ | GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

bool hostFolderWritable(const std::string &folder)
{
    std::string probe = folder + "\\.tq-write-probe-" + std::to_string(static_cast<unsigned long>(GetCurrentProcessId()));
    HANDLE h = CreateFileA(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

std::string hostParentFolder(const std::string &hostFile)
{
    const size_t slash = hostFile.find_last_of("\\/");
    if (slash == std::string::npos)
        return ".";
    if (slash == 0 || (slash == 2 && hostFile[1] == ':'))
        return hostFile.substr(0, slash + 1);
    return hostFile.substr(0, slash);
}

bool HostFileLock::acquire(const std::string &hostFile, bool &busy)
{
    busy = false;
    release();
    HANDLE h = CreateFileA(hostFile.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    OVERLAPPED whole{};
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
        busy = GetLastError() == ERROR_LOCK_VIOLATION;
        CloseHandle(h);
        return false;
    }
    fd_ = reinterpret_cast<intptr_t>(h);
    return true;
}

void HostFileLock::release()
{
    if (fd_ != -1) {
        CloseHandle(reinterpret_cast<HANDLE>(fd_));   // closing the handle ends the lock
        fd_ = -1;
    }
}
