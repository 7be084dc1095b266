// A thin layer over SQLite's default file system layer that gathers the
// writes of one commit to the write-ahead log into a single write.
//
// SQLite appends each page of a commit to the log as two writes (a 24-byte
// frame header, then the page). A message changes a handful of pages, so a
// commit cost a dozen or more system calls. Here the frames of a commit are
// kept in memory while they are appended in order, and written together when
// the commit frame (the one whose header carries the database size) is
// complete, before SQLite publishes the commit to readers. Everything else
// (reads, syncs, size queries, truncation, closing, writes elsewhere in the
// file) first writes out what is held, so the file always reads as SQLite
// wrote it. A commit reaches the file before the commit call returns, so a
// crash loses what it lost before: at most the transaction in hand. A write
// that fails drops what was held (see flush).
//
// Tests make its writes fail through the fault hooks (operation "VfsWrite",
// an SQLite result code), as a full disk or a failing device would.
#include "mapdb/walvfs.h"

#include "mapdb/internal.h"

#include <sqlite3.h>

#include <cstring>

namespace mapdb {
namespace {

constexpr int kFrameHeader = 24;           // bytes of a log frame header
constexpr sqlite3_int64 kLogHeader = 32;   // bytes of the log file header
constexpr sqlite3_int64 kMaxHeld = 256 * 1024;   // held beyond this: written out
constexpr sqlite3_int64 kMaxWrite = 64 * 1024;   // bytes per write to the base layer

sqlite3_vfs *g_base = nullptr;
sqlite3_vfs g_vfs;

// A log file: the base layer's file follows this record in the same block.
struct LogFile {
    sqlite3_file base;          // our methods
    sqlite3_file *real;         // the base layer's file
    unsigned char *held;        // frames appended but not yet written
    sqlite3_int64 heldAt;       // file offset of held[0]
    sqlite3_int64 heldLen;
    sqlite3_int64 heldCap;
    sqlite3_int64 appendAt;     // where the next appended frame goes (0: unknown)
    bool commitPending;         // the last header written was a commit frame's
};

LogFile *logFile(sqlite3_file *f) { return reinterpret_cast<LogFile *>(f); }

// A write to the base layer, unless a test has made writes fail.
int baseWrite(LogFile *f, const void *data, int n, sqlite3_int64 offset)
{
    int code = 0;
    if (g_hooksActive && vfsFaultFires("VfsWrite", code))
        return code;
    return f->real->pMethods->xWrite(f->real, data, n, offset);
}

int flush(LogFile *f)
{
    // In pieces of at most 64 KiB: the base layer writes less than 128 KiB
    // per call (it never needs more for a page of its own).
    int rc = SQLITE_OK;
    for (sqlite3_int64 done = 0; done < f->heldLen && rc == SQLITE_OK; done += kMaxWrite) {
        sqlite3_int64 n = f->heldLen - done < kMaxWrite ? f->heldLen - done : kMaxWrite;
        rc = baseWrite(f, f->held + done, static_cast<int>(n), f->heldAt + done);
    }
    // What failed to be written is dropped, not tried again before later
    // calls: the commit it belonged to failed and is rolled back, its frames
    // lie beyond the log's last commit and are written over by the next one.
    // So reads and later commits go on as soon as the file can be written.
    f->heldLen = 0;
    if (rc != SQLITE_OK) {
        f->commitPending = false;
        f->appendAt = 0;   // unknown until the next frame header
    }
    return rc;
}

bool hold(LogFile *f, const void *data, int n, sqlite3_int64 offset)
{
    if (f->heldLen == 0)
        f->heldAt = offset;
    sqlite3_int64 need = f->heldLen + n;
    if (need > f->heldCap) {
        sqlite3_int64 cap = f->heldCap > 0 ? f->heldCap : 32 * 1024;
        while (cap < need)
            cap *= 2;
        auto *p = static_cast<unsigned char *>(sqlite3_realloc64(f->held, static_cast<sqlite3_uint64>(cap)));
        if (p == nullptr)
            return false;
        f->held = p;
        f->heldCap = cap;
    }
    std::memcpy(f->held + f->heldLen, data, static_cast<size_t>(n));
    f->heldLen = need;
    return true;
}

int logClose(sqlite3_file *file)
{
    LogFile *f = logFile(file);
    int rc = flush(f);
    int rc2 = f->real->pMethods != nullptr ? f->real->pMethods->xClose(f->real) : SQLITE_OK;
    sqlite3_free(f->held);
    f->held = nullptr;
    f->heldCap = 0;
    return rc != SQLITE_OK ? rc : rc2;
}

int logRead(sqlite3_file *file, void *out, int n, sqlite3_int64 offset)
{
    LogFile *f = logFile(file);
    int rc = flush(f);
    if (rc != SQLITE_OK)
        return rc;
    return f->real->pMethods->xRead(f->real, out, n, offset);
}

int logWrite(sqlite3_file *file, const void *data, int n, sqlite3_int64 offset)
{
    LogFile *f = logFile(file);
    const bool header = n == kFrameHeader;
    const bool commitHeader = header && (static_cast<const unsigned char *>(data)[4] |
                                         static_cast<const unsigned char *>(data)[5] |
                                         static_cast<const unsigned char *>(data)[6] |
                                         static_cast<const unsigned char *>(data)[7]) != 0;
    int rc = SQLITE_OK;
    const bool appends = f->appendAt >= kLogHeader && offset == f->appendAt &&
                         (f->heldLen == 0 || f->heldAt + f->heldLen == offset);
    if (appends && hold(f, data, n, offset)) {
        f->appendAt = offset + n;
        // The page after a commit frame's header ends the commit: out it goes.
        if ((f->commitPending && !header) || f->heldLen >= kMaxHeld)
            rc = flush(f);
    } else {
        // Anything else goes straight to the file, after what is held.
        rc = flush(f);
        if (rc == SQLITE_OK)
            rc = baseWrite(f, data, n, offset);
        // After a log header, a frame header (its page follows) or a write
        // beyond what was appended (another connection wrote in between),
        // appending goes on from here.
        if (rc == SQLITE_OK && (offset == 0 || header || offset >= f->appendAt))
            f->appendAt = offset + n;
    }
    if (header)
        f->commitPending = commitHeader;
    else if (f->commitPending && f->heldLen == 0)
        f->commitPending = false;
    return rc;
}

int logTruncate(sqlite3_file *file, sqlite3_int64 size)
{
    LogFile *f = logFile(file);
    int rc = flush(f);
    if (rc != SQLITE_OK)
        return rc;
    if (f->appendAt > size)
        f->appendAt = 0;
    return f->real->pMethods->xTruncate(f->real, size);
}

int logSync(sqlite3_file *file, int flags)
{
    LogFile *f = logFile(file);
    int rc = flush(f);
    if (rc != SQLITE_OK)
        return rc;
    return f->real->pMethods->xSync(f->real, flags);
}

int logFileSize(sqlite3_file *file, sqlite3_int64 *size)
{
    LogFile *f = logFile(file);
    int rc = flush(f);
    if (rc != SQLITE_OK)
        return rc;
    return f->real->pMethods->xFileSize(f->real, size);
}

int logLock(sqlite3_file *file, int lock) { return logFile(file)->real->pMethods->xLock(logFile(file)->real, lock); }

int logUnlock(sqlite3_file *file, int lock)
{
    return logFile(file)->real->pMethods->xUnlock(logFile(file)->real, lock);
}

int logCheckReservedLock(sqlite3_file *file, int *out)
{
    return logFile(file)->real->pMethods->xCheckReservedLock(logFile(file)->real, out);
}

int logFileControl(sqlite3_file *file, int op, void *arg)
{
    LogFile *f = logFile(file);
    int rc = flush(f);
    if (rc != SQLITE_OK)
        return rc;
    return f->real->pMethods->xFileControl(f->real, op, arg);
}

int logSectorSize(sqlite3_file *file) { return logFile(file)->real->pMethods->xSectorSize(logFile(file)->real); }

int logDeviceCharacteristics(sqlite3_file *file)
{
    return logFile(file)->real->pMethods->xDeviceCharacteristics(logFile(file)->real);
}

int logShmMap(sqlite3_file *file, int region, int size, int extend, void volatile **out)
{
    sqlite3_file *r = logFile(file)->real;
    return r->pMethods->iVersion >= 2 ? r->pMethods->xShmMap(r, region, size, extend, out) : SQLITE_IOERR;
}

int logShmLock(sqlite3_file *file, int offset, int n, int flags)
{
    sqlite3_file *r = logFile(file)->real;
    return r->pMethods->iVersion >= 2 ? r->pMethods->xShmLock(r, offset, n, flags) : SQLITE_IOERR;
}

void logShmBarrier(sqlite3_file *file)
{
    sqlite3_file *r = logFile(file)->real;
    if (r->pMethods->iVersion >= 2)
        r->pMethods->xShmBarrier(r);
}

int logShmUnmap(sqlite3_file *file, int deleteFlag)
{
    sqlite3_file *r = logFile(file)->real;
    return r->pMethods->iVersion >= 2 ? r->pMethods->xShmUnmap(r, deleteFlag) : SQLITE_OK;
}

int logFetch(sqlite3_file *file, sqlite3_int64 offset, int n, void **out)
{
    LogFile *f = logFile(file);
    *out = nullptr;
    int rc = flush(f);
    if (rc != SQLITE_OK)
        return rc;
    sqlite3_file *r = f->real;
    return r->pMethods->iVersion >= 3 ? r->pMethods->xFetch(r, offset, n, out) : SQLITE_OK;
}

int logUnfetch(sqlite3_file *file, sqlite3_int64 offset, void *p)
{
    sqlite3_file *r = logFile(file)->real;
    return r->pMethods->iVersion >= 3 ? r->pMethods->xUnfetch(r, offset, p) : SQLITE_OK;
}

const sqlite3_io_methods kLogMethods = {
    3,
    logClose,
    logRead,
    logWrite,
    logTruncate,
    logSync,
    logFileSize,
    logLock,
    logUnlock,
    logCheckReservedLock,
    logFileControl,
    logSectorSize,
    logDeviceCharacteristics,
    logShmMap,
    logShmLock,
    logShmBarrier,
    logShmUnmap,
    logFetch,
    logUnfetch,
};

// The base layer's file lives after our record, aligned for any use.
constexpr int kRecordSize = static_cast<int>((sizeof(LogFile) + 15) / 16 * 16);

int vfsOpen(sqlite3_vfs *, const char *name, sqlite3_file *file, int flags, int *outFlags)
{
    if ((flags & SQLITE_OPEN_WAL) == 0)
        // Other files are the base layer's own, in the same block.
        return g_base->xOpen(g_base, name, file, flags, outFlags);
    LogFile *f = logFile(file);
    std::memset(f, 0, sizeof(LogFile));
    f->real = reinterpret_cast<sqlite3_file *>(reinterpret_cast<char *>(file) + kRecordSize);
    int rc = g_base->xOpen(g_base, name, f->real, flags, outFlags);
    if (rc != SQLITE_OK || f->real->pMethods == nullptr)
        return rc;   // base.pMethods stays null: SQLite does not close it
    f->base.pMethods = &kLogMethods;
    return SQLITE_OK;
}

}  // namespace

const char *logGatheringVfs()
{
    static const char *const name = [] () -> const char * {
        g_base = sqlite3_vfs_find(nullptr);
        if (g_base == nullptr)
            return nullptr;
        // The base layer's calls, but for opening files.
        g_vfs = *g_base;
        g_vfs.szOsFile = kRecordSize + g_base->szOsFile;
        g_vfs.pNext = nullptr;
        g_vfs.zName = "tq-log-gathering";
        g_vfs.xOpen = vfsOpen;
        if (sqlite3_vfs_register(&g_vfs, 0) != SQLITE_OK)
            return nullptr;
        return g_vfs.zName;
    }();
    return name;
}

}  // namespace mapdb
