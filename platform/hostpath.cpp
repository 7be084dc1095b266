#include "platform/hostpath.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

std::string hostRoot()
{
    const char *root = std::getenv("TQ_ROOT");
    if (root == nullptr || *root == '\0')
        return "/";
    return root;
}

static std::string joinUnderRoot(const std::string &rest)
{
    std::string root = hostRoot();
    std::string out = root;
    if (out.empty() || out.back() != '/')
        out += '/';
    size_t i = 0;
    while (i < rest.size() && rest[i] == '/')
        ++i;
    out += rest.substr(i);
    return out;
}

static std::string collapse(const std::string &p)
{
    std::string out;
    out.reserve(p.size());
    for (char c : p) {
        char d = (c == '\\') ? '/' : c;
        if (d == '/' && !out.empty() && out.back() == '/')
            continue;
        out += d;
    }
    return out;
}

std::string hostPath(const std::string &windowsPath)
{
    const std::string &p = windowsPath;
    // A POSIX absolute path is taken as it is.
    if (!p.empty() && p[0] == '/')
        return collapse(p);
    // A drive-prefixed path: the drive maps to the host root.
    if (p.size() >= 2 && std::isalpha(static_cast<unsigned char>(p[0])) && p[1] == ':')
        return collapse(joinUnderRoot(collapse(p.substr(2))));
    // Rooted at the current drive.
    if (!p.empty() && p[0] == '\\')
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
