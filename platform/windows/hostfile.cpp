#include "platform/hostfile.h"

#include <windows.h>

#include <cstdio>

bool hostFileExists(const std::string &hostFile)
{
    return GetFileAttributesA(hostFile.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool hostAppend(const std::string &hostFile, const char *data, size_t len)
{
    // Shared for reading, writing and deleting, so other programs can read,
    // remove or rename the file while the daemon writes it, as on POSIX.
    HANDLE h = CreateFileA(hostFile.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
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

int64_t hostTell(FILE *stream)
{
    long long here = _ftelli64(stream);
    return here < 0 ? -1 : static_cast<int64_t>(here);
}

int hostSeek(FILE *stream, int64_t offset, int whence)
{
    return _fseeki64(stream, offset, whence);
}
