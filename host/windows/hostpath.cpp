// The Windows side of the host-path mapping: drive-rooted '\' paths. With
// TQ_ROOT set the drive maps under it; unset, paths are the host's own.
#include "host/hostpath.h"
#include "host/hostpath_host.h"

#include <windows.h>

#include <cctype>
#include <cstdlib>

const char kHostSeparator = '\\';
const char kDefaultHostRoot[] = "";

namespace {

bool isSeparator(char c)
{
    return c == '\\' || c == '/';
}

bool hasDrive(const std::string &p)
{
    return p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':';
}

// Lower case, '\' separators, no repeated or trailing separator: the form in
// which two paths of the same file compare equal.
std::string comparable(const std::string &p)
{
    std::string out;
    for (char c : p) {
        char d = isSeparator(c) ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (d == '\\' && !out.empty() && out.back() == '\\')
            continue;
        out += d;
    }
    while (out.size() > 3 && out.back() == '\\')
        out.pop_back();
    return out;
}

}  // namespace

bool isHostPath(const std::string &path)
{
    const char *root = std::getenv("TQ_ROOT");
    if (root == nullptr || *root == '\0')
        return hasDrive(path) || (!path.empty() && isSeparator(path[0]));
    // With a root: a drive-rooted path at or below it.
    if (!hasDrive(path))
        return false;
    std::string r = comparable(root);
    std::string p = comparable(path);
    return p.compare(0, r.size(), r) == 0 && (p.size() == r.size() || p[r.size()] == '\\' || r.back() == '\\');
}

std::string servicesFile()
{
    const char *system = std::getenv("SystemRoot");
    std::string dir = system != nullptr && *system != '\0' ? system : "C:\\Windows";
    return hostPath(dir + "\\System32\\drivers\\etc\\services");
}

bool ensureParentDirs(const std::string &hostFile)
{
    std::string::size_type pos = 0;
    while ((pos = hostFile.find_first_of("\\/", pos + 1)) != std::string::npos) {
        std::string dir = hostFile.substr(0, pos);
        // A drive ("C:") exists already.
        if (dir.empty() || (dir.size() == 2 && dir[1] == ':'))
            continue;
        if (!CreateDirectoryA(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
    }
    return true;
}
