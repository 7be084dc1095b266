// Shared test helpers: a temporary TQ_ROOT, file helpers and running the
// built programs.
#ifndef TQ_TESTS_SUPPORT_H
#define TQ_TESTS_SUPPORT_H

#include <map>
#include <string>
#include <vector>

#ifdef _WIN32
// The POSIX environment and directory calls the tests make, on Windows.
#include <direct.h>
#include <stdlib.h>
inline int setenv(const char *name, const char *value, int) { return _putenv_s(name, value); }
inline int unsetenv(const char *name) { return _putenv_s(name, ""); }
inline int mkdir(const char *path, int) { return _mkdir(path); }
#endif

namespace tqtest {

// Creates a fresh directory under $TMPDIR, points TQ_ROOT at it for the
// object's lifetime (restoring the old value after) and removes it at the end.
class TempRoot {
public:
    TempRoot();
    ~TempRoot();
    TempRoot(const TempRoot &) = delete;
    TempRoot &operator=(const TempRoot &) = delete;

    const std::string &path() const { return path_; }
    // <root>/<rel>
    std::string file(const std::string &rel) const;
    // Writes the system's services file under the root with the given text.
    void writeServices(const std::string &text) const;
    // Writes <root>/usr/ov/conf/c/oid_to_sym with the given text.
    void writeOidToSym(const std::string &text) const;

private:
    std::string path_;
    std::string oldRoot_;
    bool hadRoot_ = false;
};

std::string readFile(const std::string &path);
void writeFile(const std::string &path, const std::string &data);
bool fileExists(const std::string &path);
std::vector<std::string> splitLines(const std::string &text);
// How often needle occurs in text (overlapping occurrences counted).
int countOf(const std::string &text, const std::string &needle);
// The lines of trace entries without their "[time]\t" prefix; an entry's own
// continuation lines stay as they are. dropEmpty leaves out empty lines.
std::vector<std::string> traceTexts(const std::string &text, bool dropEmpty = false);
// The texts of message-log entries (after "MM/DD/YY HH:MM:SS: tqdaemon.exe: ").
std::vector<std::string> logTexts(const std::string &text);

// A free loopback port of the socket type (SOCK_STREAM, SOCK_DGRAM; TCP when
// not given): bound and released again. POSIX hosts only.
int freePort(int type);
int freePort();

struct RunResult {
    int exitCode = -1;     // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs a program (argv[0] a path) with extra environment variables, optional
// stdin text, and a timeout in seconds (killed and reported as 124 past it).
// POSIX hosts only.
RunResult run(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env = {},
              const std::string &input = "", int timeoutSeconds = 60);

// Paths of the built programs.
std::string binPath(const std::string &program);
std::string sourcePath(const std::string &rel);

}  // namespace tqtest

#endif
