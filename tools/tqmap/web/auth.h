// Who may see the web view when it is reached from other machines: a users
// file of salted password hashes (made by `tqmap passwd`), or a bearer token.
//
// The users file holds one line per user:
//   NAME:pbkdf2-sha256:ITERATIONS:SALT:HASH      (salt and hash in hex)
// Lines starting with '#' and empty lines are skipped.
//
// Threads: an Access is read-only once loaded and may be asked from every
// worker at once.
#ifndef TQ_TOOLS_TQMAP_WEB_AUTH_H
#define TQ_TOOLS_TQMAP_WEB_AUTH_H

#include <map>
#include <string>

namespace tqmap::web {

// One stored password: its salt, iteration count and hash.
struct PasswordHash {
    int iterations = 0;
    std::string salt;   // raw bytes
    std::string hash;   // raw bytes
};

// A new hash of the password with a fresh random salt; false when the
// system's random source fails.
bool hashPassword(const std::string &password, PasswordHash &out);
// True when the password is the one hashed (compared in constant time).
bool checkPassword(const std::string &password, const PasswordHash &stored);
// The line of the users file for this user.
std::string usersFileLine(const std::string &user, const PasswordHash &h);

class Access {
public:
    // Reads the users file; false with the reason (unreadable, a malformed line).
    bool loadUsers(const std::string &path, std::string &error);
    // Reads the token file (its first line); false with the reason (unreadable,
    // shorter than 16 characters).
    bool loadToken(const std::string &path, std::string &error);
    bool enabled() const { return !users_.empty() || !token_.empty(); }
    // True when an Authorization header ("Basic ..." or "Bearer ...") grants access.
    bool allows(const std::string &authorization) const;

private:
    std::map<std::string, PasswordHash> users_;
    std::string token_;
};

// Adds or replaces a user's line in the users file (made with mode 0600 when
// missing); false with the reason.
bool setUserPassword(const std::string &path, const std::string &user, const std::string &password,
                     std::string &error);

}  // namespace tqmap::web

#endif
