// Service-port lookup in the services file: "name port/protocol [aliases] [# comment]".
#include "host/getportno.h"

#include "host/fileid.h"
#include "host/hostpath.h"

#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

bool sameText(const std::string &a, const char *b)
{
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return i == a.size() && b[i] == '\0';
}

// "port/protocol": false when the text is not of that form or the port is out of range.
bool splitPortProtocol(const std::string &text, long &port, std::string &protocol)
{
    size_t slash = text.find('/');
    if (slash == 0 || slash == std::string::npos || slash + 1 >= text.size())
        return false;
    std::string digits = text.substr(0, slash);
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
    }
    if (digits.size() > 5)
        return false;
    port = std::strtol(digits.c_str(), nullptr, 10);
    if (port > 65535)
        return false;
    protocol = text.substr(slash + 1);
    return true;
}

}  // namespace

extern "C" int GetPortNo(const char *serviceName)
{
    if (serviceName == nullptr || *serviceName == '\0')
        return -1;
    // A file past the bound is not read (a line is read whole into memory).
    HostFileIdentity file;
    if (hostPathIdentity(servicesFile(), file) && file.size > kLargestTableFile)
        return -1;
    std::ifstream in(servicesFile());
    if (!in)
        return -1;

    int result = -1;   // no entry
    std::string line;
    while (std::getline(in, line)) {
        size_t hash = line.find('#');
        if (hash != std::string::npos)
            line.erase(hash);
        std::istringstream words(line);
        std::string name, portProtocol;
        if (!(words >> name >> portProtocol))
            continue;
        bool matches = sameText(name, serviceName);
        std::string alias;
        while (!matches && words >> alias)
            matches = sameText(alias, serviceName);
        if (!matches)
            continue;

        long port = 0;
        std::string protocol;
        if (!splitPortProtocol(portProtocol, port, protocol))
            continue;
        if (sameText(protocol, "tcp"))
            return static_cast<int>(port);
        result = -2;   // defined, but not for TCP; a later tcp entry may still follow
    }
    return result;
}
