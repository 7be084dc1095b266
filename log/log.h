// The message log (tqdaemon.log) and the two trace writers (tq_std.trc,
// tq_n2o.trc). Every entry opens, writes and closes its file.
#ifndef TQ_LOG_LOG_H
#define TQ_LOG_LOG_H

#include "host/compiler.h"

#include <cstddef>
#include <cstdint>

// Process-wide debug flag: call sites test it before writing trace lines
// (logState().debug, log/state.h).
extern int &tqDebug;

// Current indentation depth of the adapter trace, in spaces
// (logState().traceDepth).
extern int &tqTraceDepth;

// Copies at most `size` bytes of the log directory text (TQ_DRIVE or "C:",
// then "\usr\ov\log\") into dst, cut to fit and always NUL-terminated
// (nothing for a null dst or size 0). Resolved once per process.
void getLogDirectory(char *dst, size_t size);

// Message log entry: "MM/DD/YY HH:MM:SS: tqdaemon.exe: <text>". The text is
// written unchanged; callers format first.
void MessageLog(const char *text);
// Message-log entries lost so far (not written whole: a full disk). The
// first loss is told on stderr once; when the log can be written again, its
// next entry is preceded by "N log entries were lost".
int64_t lostLogEntries();

// Daemon trace entry: "[<ctime>]\t<format expanded>\n". Returns 0, also when
// the entry is lost (the file cannot be written).
int DebugTrace(const char *format, ...) TQ_PRINTF(1, 2);

// Adapter trace entry, indented by tqTraceDepth ("MISSING" after a lost entry).
void AdapterTrace(const char *format, ...) TQ_PRINTF(1, 2);

// The adapter trace entry "<name>(<line>): enter" or "<name>(<line>): exit"
// (what AdapterTrace("%s(%d): enter", ...) writes, without reading a format).
void adapterTraceEdge(const char *name, int line, bool entering);

// Adapter trace convention: entering raises the depth by 3 and writes
// "%s(%d): enter"; leaving writes "%s(%d): exit" and lowers it again.
class TraceScope {
public:
    TraceScope(const char *name, int line) : name_(name), line_(line)
    {
        tqTraceDepth += 3;
        adapterTraceEdge(name_, line_, true);
    }
    ~TraceScope()
    {
        adapterTraceEdge(name_, line_, false);
        tqTraceDepth -= 3;
    }
    TraceScope(const TraceScope &) = delete;
    TraceScope &operator=(const TraceScope &) = delete;
    const char *name() const { return name_; }

private:
    const char *name_;
    int line_;
};

// "(null)" for an absent text, as trace and console lines show it.
inline const char *shownText(const char *text)
{
    return text != nullptr ? text : "(null)";
}

#define TQ_TRACE_SCOPE(name) TraceScope tqTraceScope_(name, __LINE__)
// "%s(%d): %s" with a message of the operation.
#define TQ_TRACE_MSG(msg) AdapterTrace("%s(%d): %s", tqTraceScope_.name(), __LINE__, msg)

#endif
