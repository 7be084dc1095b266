// The test hooks inside the platform calls: the call journal and injected
// faults (armed through mapdb/testhooks.h or OVW_FAULTS).
#ifndef TQ_MAPDB_HOOKS_H
#define TQ_MAPDB_HOOKS_H

#include "ovw/ovw.h"

#include <string>
#include <vector>

namespace mapdb {

extern bool g_hooksActive;   // any fault armed or the journal on
extern bool g_journalOn;

void journalAdd(const char *op, std::string args);
// True when an armed fault fires for this call of the operation (error set).
bool faultFires(const char *op);
// The same for the file layer under SQLite: the code is an SQLite result,
// and the platform error is left alone.
bool vfsFaultFires(const char *op, int &code);
// The armed faults and the journal, driven by the test hooks
// (mapdb/testhooks.h) and OVW_FAULTS. Nth: fires at the n-th call from now;
// Stretch: lets n calls through, then fails the next `count`.
enum class FaultMode { Next, Always, Nth, Stretch };
void addFault(const std::string &op, FaultMode mode, int n, int code, int count = 0);
void dropFaults();
void setJournal(bool on);
std::vector<std::string> &journalLines();
// Arms the faults of OVW_FAULTS, the first time it is called in a process
// (OVwInit); a malformed value is reported on stderr and ignored.
void armFaultsFromEnvironment();

inline void jfmt(std::string &out, int v) { out += std::to_string(v); }
inline void jfmt(std::string &out, long v) { out += std::to_string(v); }
inline void jfmt(std::string &out, long long v) { out += std::to_string(v); }
void jfmt(std::string &out, const char *s);
void jfmt(std::string &out, const OVwFieldValue *v);

template <typename... A>
std::string jargs(const A &...a)
{
    std::string s;
    int n = 0;
    ((s += (n++ != 0 ? ", " : ""), jfmt(s, a)), ...);
    (void)n;
    return s;
}

// Called first by every platform call: journals the call and tells whether an
// injected fault makes it fail. Cheap while no hook is active.
template <typename... A>
inline bool hooked(const char *op, const A &...a)
{
    if (!g_hooksActive)
        return false;
    if (g_journalOn)
        journalAdd(op, jargs(a...));
    return faultFires(op);
}

// Release calls are journaled but never fail.
inline void journaled(const char *op)
{
    if (g_hooksActive && g_journalOn)
        journalAdd(op, std::string());
}

}  // namespace mapdb

#endif
