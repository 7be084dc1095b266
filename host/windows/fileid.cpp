#include "host/fileid.h"

#include <windows.h>

#include <io.h>

namespace {

bool fromHandle(HANDLE h, HostFileIdentity &out)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info))
        return false;
    out.device = info.dwVolumeSerialNumber;
    out.number = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    out.size = GetFileType(h) == FILE_TYPE_DISK
                   ? static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow)
                   : -1;
    return true;
}

}  // namespace

bool hostPathIdentity(const std::string &hostPath, HostFileIdentity &out)
{
    HANDLE h = CreateFileA(hostPath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = fromHandle(h, out);
    CloseHandle(h);
    return ok;
}

bool hostStreamIdentity(FILE *stream, HostFileIdentity &out)
{
    if (stream == nullptr)
        return false;
    const intptr_t h = _get_osfhandle(_fileno(stream));
    return h != -1 && fromHandle(reinterpret_cast<HANDLE>(h), out);
}

bool hostRemoveFile(const std::string &hostPath)
{
    return DeleteFileA(hostPath.c_str()) != 0 || GetLastError() == ERROR_FILE_NOT_FOUND;
}
