// The message log and the two trace writers. Each entry is composed in one
// buffer and written with a single append (open, write, close), so a crash
// loses at most the entry in hand and other programs can read the files while
// the daemon runs. Paths are resolved once; the time text is cached per second.
// Each trace is bounded, and the message log when a limit is set: past its
// size limit a file becomes <name>.1 between two entries and a new one starts.
#include "log/log.h"

#include "log/state.h"
#include "host/hostfile.h"
#include "host/hostpath.h"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <type_traits>

namespace {

LogState g_logState;

}  // namespace

LogState &logState() { return g_logState; }
int &tqDebug = g_logState.debug;
int &tqTraceDepth = g_logState.traceDepth;
FILE *&tqMessageStream = g_logState.messageStream;

namespace {

const char kLogHeader[] = "Quillon - tqdaemon Message Log\n";

// Size limits: each trace and the message log, in bytes (0: none). The
// message log is small (a line per refused or failed message) and is the
// operator's record: it keeps its history unless a limit is set.
constexpr uint64_t kDefaultTraceLimit = 256ull << 20;
constexpr uint64_t kDefaultLogLimit = 0;

// A size from the environment: decimal bytes with an optional K, M or G
// (binary multiples); 0 is no limit. Unset or unreadable: the default.
uint64_t limitFromEnvironment(const char *name, uint64_t fallback)
{
    const char *text = std::getenv(name);
    if (text == nullptr || *text < '0' || *text > '9')
        return fallback;
    uint64_t value = 0;
    const char *p = text;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value > (UINT64_MAX - 9) / 10)
            return fallback;
        value = value * 10 + static_cast<uint64_t>(*p - '0');
    }
    unsigned shift = 0;
    switch (*p) {
    case '\0': break;
    case 'K': case 'k': shift = 10; ++p; break;
    case 'M': case 'm': shift = 20; ++p; break;
    case 'G': case 'g': shift = 30; ++p; break;
    default: return fallback;
    }
    if (*p != '\0' || value > (UINT64_MAX >> shift))
        return fallback;
    return value << shift;
}

// A TQ_DRIVE value the log directory can stand on: a drive ("D:"), a path
// rooted at the current drive, or an absolute host path. A relative value
// would put the log under whatever directory the daemon was started in.
bool usableDrive(const char *drive)
{
    if (drive[0] == '\0' || drive[0] == '/' || drive[0] == '\\')
        return true;
    return std::isalpha(static_cast<unsigned char>(drive[0])) && drive[1] == ':';
}

LogPaths &paths()
{
    LogPaths &p = g_logState.paths;
    if (!p.resolved) {
        const char *drive = std::getenv("TQ_DRIVE");
        if (drive != nullptr && !usableDrive(drive)) {
            p.refusedDrive = drive;
            drive = nullptr;
        }
        p.directory = drive != nullptr ? drive : "C:";
        p.directory += "\\usr\\ov\\log\\";
        p.messageLog = hostPath(p.directory + "tqdaemon.log");
        p.previousLog = p.messageLog + ".1";
        p.daemonTrace.path = hostPath("\\tq_std.trc");
        p.adapterTrace.path = hostPath("\\tq_n2o.trc");
        p.daemonTrace.previous = p.daemonTrace.path + ".1";
        p.adapterTrace.previous = p.adapterTrace.path + ".1";
        p.daemonTrace.limit = p.adapterTrace.limit = limitFromEnvironment("TQ_TRACE_LIMIT", kDefaultTraceLimit);
        p.logLimit = limitFromEnvironment("TQ_LOG_LIMIT", kDefaultLogLimit);
        p.resolved = true;
    }
    return p;
}

// One entry being composed, in a buffer kept between entries (its capacity
// stays, so composing allocates nothing once the longest entry was seen).
class Entry {
public:
    explicit Entry(std::string &buffer) : buf_(buffer) {}
    char *room(size_t n)
    {
        if (len_ + n > buf_.size())
            buf_.resize(std::max(buf_.size() * 2, len_ + n + 256));
        return &buf_[len_];
    }
    void put(const char *p, size_t n)
    {
        std::memcpy(room(n), p, n);
        len_ += n;
    }
    void put(char c)
    {
        *room(1) = c;
        ++len_;
    }
    void putSpaces(size_t n)
    {
        std::memset(room(n), ' ', n);
        len_ += n;
    }
    void putUnsigned(unsigned long long v)
    {
        char digits[24];
        char *end = digits + sizeof digits;
        char *p = end;
        do {
            *--p = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v != 0);
        put(p, static_cast<size_t>(end - p));
    }
    void putSigned(long long v)
    {
        if (v < 0) {
            put('-');
            putUnsigned(0ull - static_cast<unsigned long long>(v));
        } else {
            putUnsigned(static_cast<unsigned long long>(v));
        }
    }
    size_t size() const { return len_; }
    void truncate(size_t n) { len_ = n; }
    const char *data() const { return buf_.data(); }

private:
    std::string &buf_;
    size_t len_ = 0;
};

// "[<ctime text without its line end>]\t", recomputed only when the second changes.
void putTracePrefix(Entry &entry)
{
    static std::time_t cachedAt = static_cast<std::time_t>(-1);
    static char prefix[64];
    static size_t prefixLen = 0;
    std::time_t now = std::time(nullptr);
    if (now != cachedAt || prefixLen == 0) {
        const char *text = std::ctime(&now);
        size_t n = text != nullptr ? std::strcspn(text, "\n") : 0;
        if (n > sizeof prefix - 3)
            n = sizeof prefix - 3;
        prefix[0] = '[';
        if (n > 0)
            std::memcpy(prefix + 1, text, n);
        prefix[n + 1] = ']';
        prefix[n + 2] = '\t';
        prefixLen = n + 3;
        cachedAt = now;
    }
    entry.put(prefix, prefixLen);
}

// Expands the format in one pass when every conversion is one written here:
// %s and %.Ns, %d %i %u %c with an optional l or z, and %%, exactly as printf
// writes them (a null %s text reads "(null)" as the C library prints it:
// glibc's writes nothing under a precision below 6, others cut the word).
// False at the first other conversion, with part of the entry written and
// args consumed: the caller starts over.
bool putSimple(Entry &out, const char *format, va_list args)
{
    const char *p = format;
    while (const char *pct = std::strchr(p, '%')) {
        out.put(p, static_cast<size_t>(pct - p));
        p = pct + 1;
        if (*p == '%') {
            out.put('%');
            ++p;
            continue;
        }
        long precision = -1;
        if (*p == '.') {
            ++p;
            if (*p < '0' || *p > '9')
                return false;
            precision = 0;
            while (*p >= '0' && *p <= '9') {
                if (precision < 100000000)
                    precision = precision * 10 + (*p - '0');
                ++p;
            }
            if (*p != 's')
                return false;
        }
        char size = 0;
        if (*p == 'l' || *p == 'z')
            size = *p++;
        switch (*p++) {
        case 's': {
            // %ls is a wide text; the library converts it.
            if (size != 0)
                return false;
            const char *text = va_arg(args, const char *);
            if (text == nullptr) {
#ifdef __GLIBC__
                text = precision < 0 || precision >= 6 ? "(null)" : "";
#else
                text = "(null)";
#endif
            }
            size_t length = 0;
            if (precision < 0)
                length = std::strlen(text);
            else
                while (length < static_cast<size_t>(precision) && text[length] != '\0')
                    ++length;
            out.put(text, length);
            break;
        }
        case 'c':
            if (size != 0)
                return false;
            out.put(static_cast<char>(va_arg(args, int)));
            break;
        case 'u':
            if (size == 'l')
                out.putUnsigned(va_arg(args, unsigned long));
            else if (size == 'z')
                out.putUnsigned(va_arg(args, size_t));
            else
                out.putUnsigned(va_arg(args, unsigned));
            break;
        case 'd':
        case 'i':
            if (size == 'l')
                out.putSigned(va_arg(args, long));
            else if (size == 'z')
                out.putSigned(va_arg(args, std::make_signed_t<size_t>));
            else
                out.putSigned(va_arg(args, int));
            break;
        default:
            return false;
        }
    }
    out.put(p, std::strlen(p));
    return true;
}

// Appends the expansion of format to the entry: the common conversions are
// expanded here directly; a format with any other goes through vsnprintf,
// on the stack when it is short, else straight into the entry.
void putFormatted(Entry &out, const char *format, va_list args) TQ_PRINTF(2, 0);
void putFormatted(Entry &out, const char *format, va_list args)
{
    const size_t start = out.size();
    va_list again;
    va_copy(again, args);
    if (putSimple(out, format, args)) {
        va_end(again);
        return;
    }
    out.truncate(start);
    char local[1024];
    va_list last;
    va_copy(last, again);
    int n = std::vsnprintf(local, sizeof local, format, again);
    if (n >= 0 && static_cast<size_t>(n) < sizeof local) {
        out.put(local, static_cast<size_t>(n));
    } else if (n >= 0) {
        char *room = out.room(static_cast<size_t>(n) + 1);
        std::vsnprintf(room, static_cast<size_t>(n) + 1, format, last);
        out.truncate(start + static_cast<size_t>(n));
    }
    va_end(last);
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

// The start of an adapter trace entry: time, indentation, "MISSING" marker.
void beginAdapterEntry(Entry &entry)
{
    int depth = tqTraceDepth < 0 ? 0 : tqTraceDepth;
    const size_t markerLen = g_logState.adapterEntryMissing ? 7 : 0;
    putTracePrefix(entry);
    if (static_cast<size_t>(depth) > markerLen)
        entry.putSpaces(static_cast<size_t>(depth) - markerLen);
    if (g_logState.adapterEntryMissing)
        entry.put("MISSING", 7);
}

// Writes a composed adapter trace entry and keeps the "MISSING" state.
void endAdapterEntry(Entry &entry)
{
    entry.put('\n');
    if (!hostAppendBounded(paths().adapterTrace, entry.data(), entry.size())) {
        g_logState.adapterEntryMissing = true;
        return;
    }
    // A depth driven below 0 by an unbalanced exit is corrected at the next written entry.
    if (tqTraceDepth < 0)
        tqTraceDepth = 0;
    g_logState.adapterEntryMissing = false;
}

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

namespace {

// One message-log entry: stamped, after a rotation when the log is full; a
// new log file begins with the header.
bool writeLogEntry(LogPaths &p, const char *text)
{
    const std::string &path = p.messageLog;
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

    // A full log becomes the previous generation; the entry then starts a new
    // file, which like any new log file begins with the header (in the same
    // write: the two land together or not at all).
    hostRotateIfFull(path, entry.size(), p.logLimit, p.previousLog);
    if (!hostFileExists(path)) {
        ensureParentDirs(path);
        entry.insert(0, kLogHeader, sizeof kLogHeader - 1);
    }
    return hostAppend(path, entry.data(), entry.size());
}

void writeOrCount(LogPaths &p, const char *text)
{
    LostEntries &lost = g_logState.lost;
    if (lost.unreported > 0) {
        const std::string note = std::to_string(lost.unreported) + " log entries were lost";
        if (writeLogEntry(p, note.c_str()))
            lost.unreported = 0;
    }
    if (lost.unreported == 0 && writeLogEntry(p, text))
        return;
    ++lost.total;
    ++lost.unreported;
    if (!lost.told) {
        lost.told = true;
        std::fprintf(stderr, "tqdaemon: the message log %s cannot be written; its entries are counted until it can\n",
                     p.messageLog.c_str());
    }
}

}  // namespace

void MessageLog(const char *text)
{
    LogPaths &p = paths();
    if (!p.refusedDrive.empty() && !p.refusalLogged) {
        p.refusalLogged = true;
        std::string note = "TQ_DRIVE '" + p.refusedDrive +
                           "' is neither a drive nor an absolute path: refused, the log is on C:";
        writeOrCount(p, note.c_str());
    }
    writeOrCount(p, text);
}

int64_t lostLogEntries() { return g_logState.lost.total; }

int DebugTrace(const char *format, ...)
{
    Entry entry(daemonBuffer());
    putTracePrefix(entry);
    va_list args;
    va_start(args, format);
    putFormatted(entry, format, args);
    va_end(args);
    entry.put('\n');
    // 0 for a lost entry and, as the close of a written one gives, 0 otherwise.
    hostAppendBounded(paths().daemonTrace, entry.data(), entry.size());
    return 0;
}

void AdapterTrace(const char *format, ...)
{
    Entry entry(adapterBuffer());
    beginAdapterEntry(entry);
    va_list args;
    va_start(args, format);
    putFormatted(entry, format, args);
    va_end(args);
    endAdapterEntry(entry);
}

void adapterTraceEdge(const char *name, int line, bool entering)
{
    // "%s(%d): enter" / "%s(%d): exit", composed without a format.
    Entry entry(adapterBuffer());
    beginAdapterEntry(entry);
    name = shownText(name);
    entry.put(name, std::strlen(name));
    entry.put('(');
    entry.putSigned(line);
    if (entering)
        entry.put("): enter", 8);
    else
        entry.put("): exit", 7);
    endAdapterEntry(entry);
}
