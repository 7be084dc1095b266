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
#include <type_traits>

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

// True when every conversion of the format is one that appendSimple()
// expands: %s and %.Ns, %d %i %u %c with an optional l or z, and %%.
bool simpleFormat(const char *format)
{
    for (const char *p = std::strchr(format, '%'); p != nullptr; p = std::strchr(p, '%')) {
        ++p;
        if (*p == '%') {
            ++p;
            continue;
        }
        if (*p == '.') {
            ++p;
            if (*p < '0' || *p > '9')
                return false;
            while (*p >= '0' && *p <= '9')
                ++p;
            if (*p != 's')
                return false;
        }
        if (*p == 'l' || *p == 'z')
            ++p;
        if (*p != 's' && *p != 'd' && *p != 'i' && *p != 'u' && *p != 'c')
            return false;
        // %ls and %lc are wide texts; the library converts them.
        if ((*p == 's' || *p == 'c') && (p[-1] == 'l' || p[-1] == 'z'))
            return false;
        ++p;
    }
    return true;
}

void appendUnsigned(std::string &out, unsigned long long v)
{
    char digits[24];
    char *end = digits + sizeof digits;
    char *p = end;
    do {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    out.append(p, static_cast<size_t>(end - p));
}

void appendSigned(std::string &out, long long v)
{
    if (v < 0) {
        out += '-';
        appendUnsigned(out, 0ull - static_cast<unsigned long long>(v));
    } else {
        appendUnsigned(out, static_cast<unsigned long long>(v));
    }
}

// The expansion of a format that simpleFormat() accepted, exactly as printf
// writes it (a null %s text reads "(null)", or nothing under a precision
// below 6, as the C library prints it).
void appendSimple(std::string &out, const char *format, va_list args)
{
    const char *p = format;
    while (const char *pct = std::strchr(p, '%')) {
        out.append(p, static_cast<size_t>(pct - p));
        p = pct + 1;
        if (*p == '%') {
            out += '%';
            ++p;
            continue;
        }
        long precision = -1;
        if (*p == '.') {
            char *digitsEnd = nullptr;
            precision = std::strtol(p + 1, &digitsEnd, 10);
            p = digitsEnd;
        }
        char size = 0;
        if (*p == 'l' || *p == 'z')
            size = *p++;
        switch (*p++) {
        case 's': {
            const char *text = va_arg(args, const char *);
            if (text == nullptr)
                text = precision < 0 || precision >= 6 ? "(null)" : "";
            size_t length = 0;
            if (precision < 0)
                length = std::strlen(text);
            else
                while (length < static_cast<size_t>(precision) && text[length] != '\0')
                    ++length;
            out.append(text, length);
            break;
        }
        case 'c':
            out += static_cast<char>(va_arg(args, int));
            break;
        case 'u':
            if (size == 'l')
                appendUnsigned(out, va_arg(args, unsigned long));
            else if (size == 'z')
                appendUnsigned(out, va_arg(args, size_t));
            else
                appendUnsigned(out, va_arg(args, unsigned));
            break;
        default:   // d, i
            if (size == 'l')
                appendSigned(out, va_arg(args, long));
            else if (size == 'z')
                appendSigned(out, va_arg(args, std::make_signed_t<size_t>));
            else
                appendSigned(out, va_arg(args, int));
            break;
        }
    }
    out.append(p);
}

// Appends the expansion of format to out. The common formats are expanded
// here directly; any other goes through vsnprintf, on the stack when it is
// short, else straight into out at its full length.
void appendFormatted(std::string &out, const char *format, va_list args) __attribute__((format(printf, 2, 0)));
void appendFormatted(std::string &out, const char *format, va_list args)
{
    if (simpleFormat(format)) {
        appendSimple(out, format, args);
        return;
    }
    char local[1024];
    va_list again;
    va_copy(again, args);
    int n = std::vsnprintf(local, sizeof local, format, args);
    if (n >= 0 && static_cast<size_t>(n) < sizeof local) {
        out.append(local, static_cast<size_t>(n));
    } else if (n >= 0) {
        size_t start = out.size();
        out.resize(start + static_cast<size_t>(n) + 1);
        std::vsnprintf(&out[start], static_cast<size_t>(n) + 1, format, again);
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
