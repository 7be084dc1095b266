// The host-path mapping, the same on every host; what differs (separator,
// which paths are host paths already, directories) is in hostpath_host.h.
#include "host/hostpath.h"

#include "host/hostpath_host.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

std::string hostRoot()
{
    const char *root = std::getenv("TQ_ROOT");
    if (root == nullptr || *root == '\0')
        return kDefaultHostRoot;
    return root;
}

static std::string joinUnderRoot(const std::string &rest)
{
    std::string root = hostRoot();
    std::string out = root;
    if (out.empty() || (out.back() != '/' && out.back() != '\\'))
        out += kHostSeparator;
    size_t i = 0;
    while (i < rest.size() && (rest[i] == '/' || rest[i] == '\\'))
        ++i;
    out += rest.substr(i);
    return out;
}

static std::string collapse(const std::string &p)
{
    std::string out;
    out.reserve(p.size());
    for (char c : p) {
        char d = (c == '\\' || c == '/') ? kHostSeparator : c;
        if (d == kHostSeparator && !out.empty() && out.back() == kHostSeparator)
            continue;
        out += d;
    }
    return out;
}

std::string hostPath(const std::string &windowsPath)
{
    const std::string &p = windowsPath;
    // A path that already names a host file is taken as it is.
    if (isHostPath(p))
        return collapse(p);
    // A drive-prefixed path: the drive maps to the host root.
    if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':')
        return collapse(joinUnderRoot(collapse(p.substr(2))));
    // Rooted at the current drive.
    if (!p.empty() && (p[0] == '\\' || p[0] == '/'))
        return collapse(joinUnderRoot(collapse(p)));
    return collapse(p);
}

std::string mapDatabasePath()
{
    const char *env = std::getenv("OVW_MAPDB");
    if (env != nullptr && *env != '\0') {
        if (std::strcmp(env, ":memory:") == 0)
            return env;
        return hostPath(env);
    }
    return hostPath("\\usr\\ov\\databases\\tqmap.db");
}
