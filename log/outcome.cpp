#include "log/outcome.h"

#include "log/runstats.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

enum class Outcome { None, Refused, Failed };

struct MessageState {
    std::string kind;
    std::string identity;
    Outcome outcome = Outcome::None;
};

MessageState &state()
{
    static MessageState s;
    return s;
}

void report(Outcome outcome, const char *format, va_list args) TQ_PRINTF(2, 0);
void report(Outcome outcome, const char *format, va_list args)
{
    MessageState &s = state();
    if (s.outcome != Outcome::None)
        return;
    s.outcome = outcome;
    if (outcome == Outcome::Refused)
        ++runStats().refused;
    else
        ++runStats().failed;

    char reason[512];
    std::vsnprintf(reason, sizeof reason, format, args);
    std::string line = "Frame " + std::to_string(currentFrameNumber()) + ": ";
    line += s.kind.empty() ? "message" : s.kind + " message";
    if (!s.identity.empty())
        line += " (" + s.identity + ")";
    line += outcome == Outcome::Refused ? " refused: " : " failed: ";
    line += reason;
    MessageLog(line.c_str());
}

}  // namespace

void beginMessage(const char *kind)
{
    MessageState &s = state();
    s.kind = kind != nullptr ? kind : "";
    s.identity.clear();
    s.outcome = Outcome::None;
}

void messageIdentity(const char *format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    state().identity = text;
}

void refuseMessage(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    report(Outcome::Refused, format, args);
    va_end(args);
}

void failMessage(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    report(Outcome::Failed, format, args);
    va_end(args);
}

bool messageRejected()
{
    return state().outcome != Outcome::None;
}

void endMessage()
{
    MessageState &s = state();
    if (s.outcome == Outcome::None)
        ++runStats().applied;
    s.kind.clear();
    s.identity.clear();
    s.outcome = Outcome::None;
}

void logRunSummary()
{
    const RunStats &r = runStats();
    char line[256];
    std::snprintf(line, sizeof line,
                  "Run summary: %lld frames read, %lld applied, %lld refused, %lld failed, %lld skipped, "
                  "%lld map events handled",
                  static_cast<long long>(r.framesRead), static_cast<long long>(r.applied),
                  static_cast<long long>(r.refused), static_cast<long long>(r.failed),
                  static_cast<long long>(r.skipped), static_cast<long long>(r.eventsHandled));
    // Entries the log could not hold (a full disk) are part of the record.
    if (const int64_t lost = lostLogEntries()) {
        const size_t used = std::strlen(line);
        std::snprintf(line + used, sizeof line - used, ", %lld log entries lost", static_cast<long long>(lost));
    }
    MessageLog(line);
}
