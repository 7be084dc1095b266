#include "platform/hostfile.h"

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
