#include "support/testsupport.h"

#include "host/hostpath.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <filesystem>
#include <random>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace tqtest {

#ifdef _WIN32
// A new directory "tqroot-<random>" in the system's temporary directory.
static std::string makeTempDir()
{
    std::random_device seed;
    std::mt19937_64 pick(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        fs::path dir = fs::temp_directory_path() / ("tqroot-" + std::to_string(pick() % 1000000000));
        std::error_code ec;
        if (fs::create_directory(dir, ec))
            return dir.string();
    }
    throw std::runtime_error("no temporary directory");
}
#else
static std::string makeTempDir()
{
    const char *tmp = std::getenv("TMPDIR");
    std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/tqroot-XXXXXX";
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    return buf.data();
}
#endif

TempRoot::TempRoot()
{
    path_ = makeTempDir();
    const char *old = std::getenv("TQ_ROOT");
    if (old != nullptr) {
        hadRoot_ = true;
        oldRoot_ = old;
    }
    setenv("TQ_ROOT", path_.c_str(), 1);
}

TempRoot::~TempRoot()
{
    std::error_code ec;
    fs::remove_all(path_, ec);
    if (hadRoot_)
        setenv("TQ_ROOT", oldRoot_.c_str(), 1);
    else
        unsetenv("TQ_ROOT");
}

std::string TempRoot::file(const std::string &rel) const
{
    return path_ + "/" + rel;
}

void TempRoot::writeServices(const std::string &text) const
{
    writeFile(servicesFile(), text);
}

void TempRoot::writeOidToSym(const std::string &text) const
{
    writeFile(file("usr/ov/conf/c/oid_to_sym"), text);
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void writeFile(const std::string &path, const std::string &data)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
}

bool fileExists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> splitLines(const std::string &text)
{
    std::vector<std::string> lines;
    std::string cur;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        lines.push_back(cur);
    return lines;
}

int countOf(const std::string &text, const std::string &needle)
{
    int n = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos; pos = text.find(needle, pos + 1))
        ++n;
    return n;
}

std::vector<std::string> traceTexts(const std::string &text, bool dropEmpty)
{
    std::vector<std::string> out;
    for (std::string &line : splitLines(text)) {
        if (line.empty() && dropEmpty)
            continue;
        if (!line.empty() && line[0] == '[') {
            const size_t at = line.find("]\t");
            if (at != std::string::npos)
                line.erase(0, at + 2);
        }
        out.push_back(std::move(line));
    }
    return out;
}

std::vector<std::string> logTexts(const std::string &text)
{
    static const std::string marker = ": tqdaemon.exe: ";
    std::vector<std::string> out;
    for (const std::string &line : splitLines(text)) {
        const size_t at = line.find(marker);
        out.push_back(at == std::string::npos ? line : line.substr(at + marker.size()));
    }
    return out;
}

#ifndef _WIN32
int freePort(int type)
{
    int s = ::socket(AF_INET, type, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    ::getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len);
    ::close(s);
    return ntohs(sa.sin_port);
}

int freePort()
{
    return freePort(SOCK_STREAM);
}

static void drain(int fd, std::string &into)
{
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0) {
            into.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return;
    }
}

RunResult run(const std::vector<std::string> &argv, const std::map<std::string, std::string> &env,
              const std::string &input, int timeoutSeconds)
{
    RunResult res;
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0)
        return res;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(inPipe[1]);
        close(outPipe[0]);
        close(errPipe[0]);
        for (const auto &kv : env)
            setenv(kv.first.c_str(), kv.second.c_str(), 1);
        std::vector<char *> args;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    signal(SIGPIPE, SIG_IGN);
    size_t written = 0;
    if (input.empty()) {
        close(inPipe[1]);
        inPipe[1] = -1;
    }
    fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
    fcntl(errPipe[0], F_SETFL, O_NONBLOCK);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool outOpen = true, errOpen = true;
    while (outOpen || errOpen) {
        struct pollfd fds[3];
        int n = 0;
        if (outOpen)
            fds[n++] = {outPipe[0], POLLIN, 0};
        if (errOpen)
            fds[n++] = {errPipe[0], POLLIN, 0};
        if (inPipe[1] >= 0)
            fds[n++] = {inPipe[1], POLLOUT, 0};
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now())
                                        .count());
        if (left <= 0) {
            kill(pid, SIGKILL);
            break;
        }
        if (poll(fds, static_cast<nfds_t>(n), left) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < n; ++i) {
            if (fds[i].revents == 0)
                continue;
            if (fds[i].fd == inPipe[1]) {
                ssize_t w = write(inPipe[1], input.data() + written, input.size() - written);
                if (w > 0)
                    written += static_cast<size_t>(w);
                if (w < 0 || written >= input.size()) {
                    close(inPipe[1]);
                    inPipe[1] = -1;
                }
                continue;
            }
            std::string &into = fds[i].fd == outPipe[0] ? res.out : res.err;
            char buf[4096];
            ssize_t r = read(fds[i].fd, buf, sizeof buf);
            if (r > 0) {
                into.append(buf, static_cast<size_t>(r));
            } else if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) {
                if (fds[i].fd == outPipe[0])
                    outOpen = false;
                else
                    errOpen = false;
            }
        }
    }
    if (inPipe[1] >= 0)
        close(inPipe[1]);
    int status = 0;
    bool timedOut = std::chrono::steady_clock::now() >= deadline;
    waitpid(pid, &status, 0);
    drain(outPipe[0], res.out);
    drain(errPipe[0], res.err);
    close(outPipe[0]);
    close(errPipe[0]);
    if (timedOut && WIFSIGNALED(status))
        res.exitCode = 124;
    else if (WIFEXITED(status))
        res.exitCode = WEXITSTATUS(status);
    else if (WIFSIGNALED(status))
        res.exitCode = 128 + WTERMSIG(status);
    return res;
}
#endif

std::string binPath(const std::string &program)
{
    return std::string(TQ_BIN_DIR) + "/" + program;
}

std::string sourcePath(const std::string &rel)
{
    return std::string(TQ_SOURCE_DIR) + "/" + rel;
}

}  // namespace tqtest
