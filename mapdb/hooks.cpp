// Test hooks: injected faults and the call journal.
#include "mapdb/internal.h"
#include "mapdb/testhooks.h"

namespace mapdb {

bool g_hooksActive = false;
bool g_journalOn = false;

namespace {

enum class FaultMode { Next, Always, Nth };

struct Fault {
    std::string op;
    FaultMode mode;
    int remaining;  // Nth: calls left until it fires
    int code;
};

std::vector<Fault> &faults()
{
    static std::vector<Fault> f;
    return f;
}

std::vector<std::string> &journalLines()
{
    static std::vector<std::string> j;
    return j;
}

void updateActive() { g_hooksActive = g_journalOn || !faults().empty(); }

void addFault(const std::string &op, FaultMode mode, int n, int code)
{
    faults().push_back(Fault{op, mode, n, code});
    updateActive();
}

}  // namespace

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

bool faultFires(const char *op)
{
    auto &list = faults();
    if (list.empty())
        return false;
    int code = 0;
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
        if (f.mode == FaultMode::Nth)
            now = --f.remaining == 0;
        else if (f.mode == FaultMode::Next)
            now = !fires;
        if (now && !fires) {
            fires = true;
            code = f.code;
        }
        if (now && f.mode != FaultMode::Always)
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        else
            ++i;
    }
    updateActive();
    if (fires)
        setError(code);
    return fires;
}

void failNext(const std::string &operation, int code) { addFault(operation, FaultMode::Next, 1, code); }

void failAlways(const std::string &operation, int code) { addFault(operation, FaultMode::Always, 0, code); }

void failNth(const std::string &operation, int n, int code)
{
    if (n < 1)
        return;
    addFault(operation, FaultMode::Nth, n, code);
}

void clearFaults()
{
    faults().clear();
    updateActive();
}

void journalEnable(bool on)
{
    g_journalOn = on;
    updateActive();
}

const std::vector<std::string> &journal() { return journalLines(); }

void journalClear() { journalLines().clear(); }

}  // namespace mapdb
