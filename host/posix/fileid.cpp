#define _FILE_OFFSET_BITS 64

#include "host/fileid.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void fill(const struct stat &st, HostFileIdentity &out)
{
    out.device = static_cast<uint64_t>(st.st_dev);
    out.number = static_cast<uint64_t>(st.st_ino);
    out.size = S_ISREG(st.st_mode) ? static_cast<int64_t>(st.st_size) : -1;
}

}  // namespace

bool hostPathIdentity(const std::string &hostPath, HostFileIdentity &out)
{
    struct stat st;
    if (stat(hostPath.c_str(), &st) != 0)
        return false;
    fill(st, out);
    return true;
}

bool hostStreamIdentity(FILE *stream, HostFileIdentity &out)
{
    struct stat st;
    if (stream == nullptr || fstat(fileno(stream), &st) != 0)
        return false;
    fill(st, out);
    return true;
}

bool hostRemoveFile(const std::string &hostPath)
{
    return unlink(hostPath.c_str()) == 0 || errno == ENOENT;
}
