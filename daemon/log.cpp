// The message log and the two trace writers. Each entry is composed in one
// buffer and written with a single append (open, write, close), so a crash
// loses at most the entry in hand and other programs can read the files while
// the daemon runs. Paths are resolved once; the time text is cached per second.
#include "daemon/log.h"

#include "platform/hostfile.h"
#include "platform/hostpath.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

int tqDebug = 0;
int tqTraceDepth = 0;

namespace {

const char kLogHeader[] = "Quillon - tqdaemon Message Log\n";

struct LogPaths {
    bool resolved = false;
    std::string directory;     // Windows form, ends with a backslash
    std::string messageLog;    // host paths
    std::string daemonTrace;
    std::string adapterTrace;
};

LogPaths &paths()
{
    static LogPaths p;
    if (!p.resolved) {
        const char *drive = std::getenv("TQ_DRIVE");
        p.directory = drive != nullptr ? drive : "C:";
        p.directory += "\\usr\\ov\\log\\";
        p.messageLog = hostPath(p.directory + "tqdaemon.log");
        p.daemonTrace = hostPath("\\tq_std.trc");
        p.adapterTrace = hostPath("\\tq_n2o.trc");
        p.resolved = true;
    }
    return p;
}

// "[<ctime text without its line end>]\t", recomputed only when the second changes.
const std::string &tracePrefix()
{
    static std::time_t cachedAt = static_cast<std::time_t>(-1);
    static std::string prefix;
    std::time_t now = std::time(nullptr);
    if (now != cachedAt || prefix.empty()) {
        const char *text = std::ctime(&now);
        prefix = "[";
        if (text != nullptr)
            prefix.append(text, std::strcspn(text, "\n"));
        prefix += "]\t";
        cachedAt = now;
    }
    return prefix;
}

// Appends the expansion of format to out, growing it as far as the text needs.
void appendFormatted(std::string &out, const char *format, va_list args) __attribute__((format(printf, 2, 0)));
void appendFormatted(std::string &out, const char *format, va_list args)
{
    size_t start = out.size();
    size_t room = out.capacity() > start + 128 ? out.capacity() - start : 256;
    out.resize(start + room);
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(&out[start], room, format, args);
    if (n < 0) {
        out.resize(start);
    } else if (static_cast<size_t>(n) >= room) {
        out.resize(start + static_cast<size_t>(n) + 1);
        std::vsnprintf(&out[start], static_cast<size_t>(n) + 1, format, again);
        out.resize(start + static_cast<size_t>(n));
    } else {
        out.resize(start + static_cast<size_t>(n));
    }
    va_end(again);
}

// Work buffers of the writers, kept between entries so their capacity stays.
std::string &daemonBuffer()
{
    static std::string buffer;
    return buffer;
}

std::string &adapterBuffer()
{
    static std::string buffer;
    return buffer;
}

bool adapterEntryMissing = false;

}  // namespace

void getLogDirectory(char *dst, size_t size)
{
    if (dst == nullptr || size == 0)
        return;
    const std::string &dir = paths().directory;
    size_t n = dir.size() < size - 1 ? dir.size() : size - 1;
    std::memcpy(dst, dir.data(), n);
    dst[n] = '\0';
}

void resetLogPaths()
{
    paths() = LogPaths();
}

void MessageLog(const char *text)
{
    const std::string &path = paths().messageLog;
    if (!hostFileExists(path)) {
        ensureParentDirs(path);
        hostAppend(path, kLogHeader, sizeof kLogHeader - 1);
    }
    std::time_t now = std::time(nullptr);
    // MM/DD/YY HH:MM:SS, local time; the log's format keeps two year digits.
    char stamp[40] = "00/00/00 00:00:00";
    if (const std::tm *local = std::localtime(&now))
        std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d %02d:%02d:%02d", local->tm_mon + 1, local->tm_mday,
                      local->tm_year % 100, local->tm_hour, local->tm_min, local->tm_sec);

    std::string entry;
    entry.reserve(64 + (text != nullptr ? std::strlen(text) : 0));
    entry += stamp;
    entry += ": tqdaemon.exe: ";
    if (text != nullptr)
        entry += text;
    entry += '\n';
    hostAppend(path, entry.data(), entry.size());
}

int DebugTrace(const char *format, ...)
{
    std::string &entry = daemonBuffer();
    entry.assign(tracePrefix());
    va_list args;
    va_start(args, format);
    appendFormatted(entry, format, args);
    va_end(args);
    entry += '\n';
    // 0 for a lost entry and, as the close of a written one gives, 0 otherwise.
    hostAppend(paths().daemonTrace, entry.data(), entry.size());
    return 0;
}

void AdapterTrace(const char *format, ...)
{
    int depth = tqTraceDepth < 0 ? 0 : tqTraceDepth;
    const char *marker = adapterEntryMissing ? "MISSING" : "";
    size_t markerLen = std::strlen(marker);

    std::string &entry = adapterBuffer();
    entry.assign(tracePrefix());
    if (static_cast<size_t>(depth) > markerLen)
        entry.append(static_cast<size_t>(depth) - markerLen, ' ');
    entry += marker;
    va_list args;
    va_start(args, format);
    appendFormatted(entry, format, args);
    va_end(args);
    entry += '\n';

    if (!hostAppend(paths().adapterTrace, entry.data(), entry.size())) {
        adapterEntryMissing = true;
        return;
    }
    // A depth driven below 0 by an unbalanced exit is corrected at the next written entry.
    if (tqTraceDepth < 0)
        tqTraceDepth = 0;
    adapterEntryMissing = false;
}
