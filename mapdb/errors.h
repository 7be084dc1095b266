// The error state of the embedded map platform: the code every call sets,
// the storage cause behind a failed statement, and the wait handler.
#ifndef TQ_MAPDB_ERRORS_H
#define TQ_MAPDB_ERRORS_H

#include "ovw/ovw.h"

#include <cstdint>

namespace mapdb {

extern int g_error;
// The specific cause of the last failed statement when it may pass (full
// disk, I/O error, another writer's lock), else 0: a storage failure reported
// after it carries that code instead of the general one.
extern int g_storageCause;

inline void setError(int code)
{
    g_error = code;
    g_storageCause = 0;
}

// Sets the error and returns the given failure value (for one-line returns).
template <typename T>
inline T fail(int code, T value)
{
    if (code == OVw_STORAGE_FAILURE && g_storageCause != 0)
        code = g_storageCause;
    g_error = code;
    g_storageCause = 0;
    return value;
}

// Tells the registered wait handler (OVwSetWaitHandler) of a wait for the map
// database.
void reportWait(int code, int64_t waitedMs, bool ended);
// Tells the registered notice handler (OVwSetNoticeHandler) of the text.
void reportNotice(const char *text);

// The platform code of an SQLite result that may pass by itself (full disk,
// I/O error, lock held by another connection); 0 for any other result.
int transientCode(int sqliteResult);

}  // namespace mapdb

#endif
