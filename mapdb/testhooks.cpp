// The test hooks' calls (tq_mapdb_testing, linked by tests only): they arm
// the faults and drive the journal that the platform calls consult.
#include "mapdb/testhooks.h"

#include "mapdb/hooks.h"

namespace mapdb {

void failNext(const std::string &operation, int code) { addFault(operation, FaultMode::Next, 1, code); }

void failAlways(const std::string &operation, int code) { addFault(operation, FaultMode::Always, 0, code); }

void failNth(const std::string &operation, int n, int code)
{
    if (n >= 1)
        addFault(operation, FaultMode::Nth, n, code);
}

void failStretch(const std::string &operation, int after, int count, int code)
{
    if (after >= 0 && count >= 1)
        addFault(operation, FaultMode::Stretch, after, code, count);
}

void clearFaults() { dropFaults(); }

void journalEnable(bool on) { setJournal(on); }

const std::vector<std::string> &journal() { return journalLines(); }

void journalClear() { journalLines().clear(); }

void resetHooks()
{
    dropFaults();
    setJournal(false);
    journalLines().clear();
}

}  // namespace mapdb
