// The POSIX side of the host-path mapping: '/' paths, the drive under TQ_ROOT
// (default "/").
#include "host/hostpath.h"
#include "host/hostpath_host.h"

#include <cerrno>
#include <sys/stat.h>

const char kHostSeparator = '/';
const char kDefaultHostRoot[] = "/";

bool isHostPath(const std::string &path)
{
    // A POSIX absolute path.
    return !path.empty() && path[0] == '/';
}

std::string servicesFile()
{
    return hostPath("\\etc\\services");
}

bool ensureParentDirs(const std::string &hostFile)
{
    std::string::size_type pos = 0;
    while ((pos = hostFile.find('/', pos + 1)) != std::string::npos) {
        std::string dir = hostFile.substr(0, pos);
        if (dir.empty())
            continue;
        if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
            return false;
    }
    return true;
}
