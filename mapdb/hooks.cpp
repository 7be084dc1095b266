// Test hooks: injected faults and the call journal, kept here and armed
// through OVW_FAULTS or mapdb/testhooks.h (testhooks.cpp).
#include "mapdb/internal.h"
#include "mapdb/testhooks.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace mapdb {

bool g_hooksActive = false;
bool g_journalOn = false;

namespace {

struct Fault {
    std::string op;
    FaultMode mode;
    int remaining;  // Nth: calls left until it fires; Stretch: calls let through first
    int code;
    int count = 0;  // Stretch: calls that fail after those
};

std::vector<Fault> &faults()
{
    static std::vector<Fault> f;
    return f;
}

void updateActive() { g_hooksActive = g_journalOn || !faults().empty(); }

}  // namespace

std::vector<std::string> &journalLines()
{
    static std::vector<std::string> j;
    return j;
}

void addFault(const std::string &op, FaultMode mode, int n, int code, int count)
{
    faults().push_back(Fault{op, mode, n, code, count});
    updateActive();
}

void dropFaults()
{
    faults().clear();
    updateActive();
}

void setJournal(bool on)
{
    g_journalOn = on;
    updateActive();
}

void jfmt(std::string &out, const char *s)
{
    if (s == nullptr) {
        out += "NULL";
        return;
    }
    out += '"';
    for (; *s != '\0'; ++s) {
        if (*s == '"' || *s == '\\')
            out += '\\';
        out += *s;
    }
    out += '"';
}

void journalAdd(const char *op, std::string args)
{
    std::string line(op);
    line += '(';
    line += args;
    line += ')';
    journalLines().push_back(std::move(line));
}

namespace {

// True when an armed fault fires for this call of the operation, with its code.
bool matchFault(const char *op, int &code)
{
    auto &list = faults();
    if (list.empty())
        return false;
    bool fires = false;
    for (size_t i = 0; i < list.size();) {
        Fault &f = list[i];
        if (f.op != op) {
            ++i;
            continue;
        }
        // Every armed n-th fault counts the call; a next-call fault is used
        // up only by a call that no other fault already fails.
        bool now = true;
        bool usedUp = f.mode != FaultMode::Always;
        if (f.mode == FaultMode::Nth) {
            now = --f.remaining == 0;
        } else if (f.mode == FaultMode::Next) {
            now = !fires;
        } else if (f.mode == FaultMode::Stretch) {
            if (f.remaining > 0) {
                --f.remaining;
                now = false;
                usedUp = false;
            } else {
                usedUp = --f.count <= 0;
            }
        }
        if (now && !fires) {
            fires = true;
            code = f.code;
        }
        if ((now || f.mode == FaultMode::Stretch) && usedUp)
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
    updateActive();
    return fires;
}

}  // namespace

bool faultFires(const char *op)
{
    int code = 0;
    if (!matchFault(op, code))
        return false;
    setError(code);
    return true;
}

bool vfsFaultFires(const char *op, int &code) { return matchFault(op, code); }

}  // namespace mapdb

namespace mapdb {

namespace {

// One "Operation:mode:code" entry; false with the reason when malformed.
bool parseFault(const std::string &entry, Fault &out, std::string &error)
{
    const size_t first = entry.find(':');
    const size_t second = first == std::string::npos ? std::string::npos : entry.find(':', first + 1);
    if (second == std::string::npos) {
        error = "'" + entry + "' is not Operation:mode:code";
        return false;
    }
    const std::string op = entry.substr(0, first);
    const std::string mode = entry.substr(first + 1, second - first - 1);
    const std::string code = entry.substr(second + 1);
    if (op.empty() || op.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_") !=
                          std::string::npos) {
        error = "'" + op + "' is not an operation name";
        return false;
    }
    auto number = [](const std::string &text, long &value) {
        if (text.empty())
            return false;
        char *end = nullptr;
        errno = 0;
        value = std::strtol(text.c_str(), &end, 10);
        return errno == 0 && *end == '\0' && value >= INT32_MIN && value <= INT32_MAX;
    };
    long codeValue = 0;
    if (!number(code, codeValue)) {
        error = "'" + code + "' is not an error code";
        return false;
    }
    out = Fault{op, FaultMode::Next, 1, static_cast<int>(codeValue)};
    if (mode == "next")
        return true;
    if (mode == "always") {
        out.mode = FaultMode::Always;
        out.remaining = 0;
        return true;
    }
    long n = 0;
    if (mode.compare(0, 8, "stretch=") == 0) {
        // stretch=A+C: A calls go through, then C calls fail.
        const std::string range = mode.substr(8);
        const size_t plus = range.find('+');
        long count = 0;
        if (plus != std::string::npos && number(range.substr(0, plus), n) && n >= 0 &&
            number(range.substr(plus + 1), count) && count >= 1) {
            out.mode = FaultMode::Stretch;
            out.remaining = static_cast<int>(n);
            out.count = static_cast<int>(count);
            return true;
        }
    }
    if (mode.compare(0, 4, "nth=") == 0 && number(mode.substr(4), n) && n >= 1) {
        out.mode = FaultMode::Nth;
        out.remaining = static_cast<int>(n);
        return true;
    }
    error = "'" + mode + "' is not next, always, nth=N (N from 1) or stretch=A+C (C from 1)";
    return false;
}

}  // namespace

bool armFaults(const std::string &text, std::string &error)
{
    std::vector<Fault> parsed;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        if (comma == std::string::npos)
            comma = text.size();
        const std::string entry = text.substr(start, comma - start);
        start = comma + 1;
        if (entry.empty())
            continue;
        Fault f;
        if (!parseFault(entry, f, error))
            return false;
        parsed.push_back(std::move(f));
    }
    for (Fault &f : parsed)
        faults().push_back(std::move(f));
    updateActive();
    return true;
}

void armFaultsFromEnvironment()
{
    static bool armed = false;
    if (armed)
        return;
    armed = true;
    const char *value = std::getenv("OVW_FAULTS");
    if (value == nullptr || *value == '\0')
        return;
    std::string error;
    if (!armFaults(value, error))
        std::fprintf(stderr, "mapdb: OVW_FAULTS ignored: %s\n", error.c_str());
}

}  // namespace mapdb
