// Salted password hashes (PBKDF2 with HMAC-SHA-256, OpenSSL) and the check
// of a request's Authorization header.
#include "tools/tqmap/web/auth.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

namespace tqmap::web {

namespace {

constexpr int kIterations = 200000;
constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;
constexpr size_t kMinTokenLength = 16;

std::string toHex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool fromHex(const std::string &hex, std::string &out)
{
    if (hex.size() % 2 != 0)
        return false;
    out.clear();
    auto nibble = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    for (size_t i = 0; i < hex.size(); i += 2) {
        int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

bool derive(const std::string &password, const std::string &salt, int iterations, std::string &out)
{
    out.assign(kHashBytes, '\0');
    return PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                             reinterpret_cast<const unsigned char *>(salt.data()), static_cast<int>(salt.size()),
                             iterations, EVP_sha256(), static_cast<int>(out.size()),
                             reinterpret_cast<unsigned char *>(&out[0])) == 1;
}

bool sameBytes(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::vector<std::string> split(const std::string &line, char sep)
{
    std::vector<std::string> out;
    std::string part;
    std::istringstream in(line);
    while (std::getline(in, part, sep))
        out.push_back(part);
    return out;
}

bool parseLine(const std::string &line, std::string &user, PasswordHash &h)
{
    std::vector<std::string> f = split(line, ':');
    if (f.size() != 5 || f[0].empty() || f[1] != "pbkdf2-sha256" ||
        f[2].find_first_not_of("0123456789") != std::string::npos || f[2].empty() || f[2].size() > 9)
        return false;
    user = f[0];
    h.iterations = std::stoi(f[2]);
    return h.iterations > 0 && fromHex(f[3], h.salt) && fromHex(f[4], h.hash) && h.hash.size() == kHashBytes;
}

}  // namespace

bool hashPassword(const std::string &password, PasswordHash &out)
{
    out.iterations = kIterations;
    out.salt.assign(kSaltBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char *>(&out.salt[0]), static_cast<int>(out.salt.size())) != 1)
        return false;
    return derive(password, out.salt, out.iterations, out.hash);
}

bool checkPassword(const std::string &password, const PasswordHash &stored)
{
    std::string h;
    return derive(password, stored.salt, stored.iterations, h) && sameBytes(h, stored.hash);
}

std::string usersFileLine(const std::string &user, const PasswordHash &h)
{
    return user + ":pbkdf2-sha256:" + std::to_string(h.iterations) + ":" + toHex(h.salt) + ":" + toHex(h.hash);
}

bool Access::loadUsers(const std::string &path, std::string &error)
{
    std::ifstream in(path);
    if (!in) {
        error = "cannot read the users file " + path;
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (line.empty() || line[0] == '#')
            continue;
        std::string user;
        PasswordHash h;
        if (!parseLine(line, user, h)) {
            error = path + ":" + std::to_string(number) + ": not a line of tqmap passwd";
            return false;
        }
        users_[user] = h;
    }
    if (users_.empty()) {
        error = "the users file " + path + " names no user (add one with tqmap passwd)";
        return false;
    }
    return true;
}

bool Access::loadToken(const std::string &path, std::string &error)
{
    std::ifstream in(path);
    if (!in || !std::getline(in, token_)) {
        error = "cannot read the token file " + path;
        return false;
    }
    while (!token_.empty() && (token_.back() == '\r' || token_.back() == ' '))
        token_.pop_back();
    if (token_.size() < kMinTokenLength) {
        error = "the token in " + path + " is shorter than " + std::to_string(kMinTokenLength) + " characters";
        token_.clear();
        return false;
    }
    return true;
}

bool Access::allows(const std::string &authorization) const
{
    const std::string bearer = "Bearer ", basic = "Basic ";
    if (!token_.empty() && authorization.compare(0, bearer.size(), bearer) == 0)
        return sameBytes(authorization.substr(bearer.size()), token_);
    if (users_.empty() || authorization.compare(0, basic.size(), basic) != 0)
        return false;
    std::string encoded = authorization.substr(basic.size());
    if (encoded.size() > 1024)
        return false;
    std::string decoded(encoded.size(), '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(&decoded[0]),
                            reinterpret_cast<const unsigned char *>(encoded.data()), static_cast<int>(encoded.size()));
    if (n < 0)
        return false;
    // EVP_DecodeBlock counts the padding's zero bytes too.
    size_t length = static_cast<size_t>(n);
    for (size_t i = encoded.size(); i > 0 && encoded[i - 1] == '=' && length > 0; --i)
        --length;
    decoded.resize(length);
    size_t colon = decoded.find(':');
    if (colon == std::string::npos)
        return false;
    auto it = users_.find(decoded.substr(0, colon));
    return it != users_.end() && checkPassword(decoded.substr(colon + 1), it->second);
}

bool setUserPassword(const std::string &path, const std::string &user, const std::string &password,
                     std::string &error)
{
    if (user.empty() || user.find(':') != std::string::npos || user.find('\n') != std::string::npos) {
        error = "a user name is not empty and holds no ':'";
        return false;
    }
    if (password.empty()) {
        error = "an empty password is not accepted";
        return false;
    }
    PasswordHash h;
    if (!hashPassword(password, h)) {
        error = "the system's random source failed";
        return false;
    }
    std::vector<std::string> lines;
    {
        std::ifstream in(path);
        std::string line;
        while (std::getline(in, line))
            if (line.compare(0, user.size() + 1, user + ":") != 0)
                lines.push_back(line);
    }
    lines.push_back(usersFileLine(user, h));
    std::string tmp = path + ".tmp";
    {
        mode_t old = ::umask(077);
        std::ofstream out(tmp, std::ios::trunc);
        ::umask(old);
        for (const std::string &l : lines)
            out << l << "\n";
        out.close();
        if (!out) {
            std::remove(tmp.c_str());
            error = "cannot write " + path;
            return false;
        }
    }
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace tqmap::web
