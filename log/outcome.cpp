#include "log/outcome.h"

#include "log/runstats.h"
#include "log/state.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

MessageInHand &state() { return logState().message; }

void report(MessageOutcome outcome, const char *format, va_list args) TQ_PRINTF(2, 0);
void report(MessageOutcome outcome, const char *format, va_list args)
{
    MessageInHand &s = state();
    if (s.outcome != MessageOutcome::None)
        return;
    s.outcome = outcome;
    if (outcome == MessageOutcome::Refused)
        ++runStats().refused;
    else
        ++runStats().failed;

    char reason[512];
    std::vsnprintf(reason, sizeof reason, format, args);
    std::string line = "Frame " + std::to_string(currentFrameNumber()) + ": ";
    line += s.kind.empty() ? "message" : s.kind + " message";
    if (!s.identity.empty())
        line += " (" + s.identity + ")";
    line += outcome == MessageOutcome::Refused ? " refused: " : " failed: ";
    line += reason;
    MessageLog(line.c_str());
}

}  // namespace

void beginMessage(const char *kind)
{
    MessageInHand &s = state();
    s.kind = kind != nullptr ? kind : "";
    s.identity.clear();
    s.outcome = MessageOutcome::None;
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
    report(MessageOutcome::Refused, format, args);
    va_end(args);
}

void failMessage(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    report(MessageOutcome::Failed, format, args);
    va_end(args);
}

bool messageRejected()
{
    return state().outcome != MessageOutcome::None;
}

void endMessage()
{
    MessageInHand &s = state();
    if (s.outcome == MessageOutcome::None)
        ++runStats().applied;
    s.kind.clear();
    s.identity.clear();
    s.outcome = MessageOutcome::None;
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
