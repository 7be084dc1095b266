// The session of the embedded map platform: connecting to the map database
// (path checks, writer lock, schema), the error state and the map-level calls.
// The SQLite wrapper is db.cpp, the schema and its migrations schema.cpp.
#include "mapdb/internal.h"
#include "mapdb/testhooks.h"

#include "host/hostfile.h"
#include "host/hostpath.h"
#include "pgmap/pgmap.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace mapdb {

int g_error = 0;
int g_storageCause = 0;
Session *g_session = nullptr;

namespace {
OVwWaitProc g_waitProc = nullptr;
OVwNoticeProc g_noticeProc = nullptr;
std::string g_errorDetail;
}  // namespace

void reportWait(int code, int64_t waitedMs, bool ended)
{
    if (g_waitProc != nullptr)
        g_waitProc(code, waitedMs, ended ? 1 : 0);
}

void reportNotice(const char *text)
{
    if (g_noticeProc != nullptr)
        g_noticeProc(text);
}

bool loadMap(Session &s)
{
    Stmt q(s.db, "SELECT name, root_submap, is_open FROM map LIMIT 1");
    if (q.step() != kResultRow)
        return false;
    s.mapName = q.isNull(0) ? "" : q.text(0);
    s.rootSubmap = q.i32(1);
    s.mapOpen = q.i64(2) != 0;
    return true;
}

Session *connectedSession()
{
    if (g_session == nullptr)
        setError(OVw_NOT_CONNECTED);
    return g_session;
}

Session *session()
{
    Session *s = connectedSession();
    // The first call of a loop turn opens a read transaction, so the turn's
    // reads share one snapshot and one set of locks instead of taking and
    // dropping them for every statement; the first write turns it into the
    // write transaction (beginWrite). Without it reads go on one by one.
    if (s != nullptr)
        s->db.beginRead();
    return s;
}

Session *mapSession(const OVwMapInfo *map)
{
    Session *s = session();
    if (s == nullptr)
        return nullptr;
    // The record is never read: it may be one the caller already released.
    if (map == nullptr || !s->mapOpen) {
        setError(OVw_NO_MAP_OPEN);
        return nullptr;
    }
    return s;
}

bool beginWrite(Session &s)
{
    if (s.db.begin())
        return true;
    return fail(OVw_STORAGE_FAILURE, false);
}

void storageFailure() { fail(OVw_STORAGE_FAILURE, 0); }

void endUnusable(const std::string &cause)
{
    Session *s = g_session;
    g_session = nullptr;
    g_errorDetail = (s != nullptr ? s->path + ": " : std::string()) + cause;
    if (s != nullptr) {
        // What was committed before stays: the log is copied into the file
        // that was opened, wherever it is now, and cut to nothing. (Closing
        // alone would leave a moved file's log at the old path, where a new
        // file there would take it for its own.)
        s->db.rollback();
        s->db.truncateLog();
        delete s;
    }
    setError(OVw_MAP_UNUSABLE);
}

std::string fileMovedCause(const Session &s)
{
    if (!s.fileKnown)
        return std::string();
    HostFileIdentity now;
    if (!hostPathIdentity(s.path, now))
        return "the file is gone from its path (moved or deleted while the daemon ran)";
    if (!now.sameFile(s.file))
        return "the path names another file (the map database was replaced while the daemon ran)";
    return std::string();
}

bool objectExists(Db &db, OVwObjectId id)
{
    if (id != 0 && (id == db.knownObject() || db.cachedObjectName(id) != nullptr))
        return true;
    Stmt q(db, "SELECT selection_name FROM objects WHERE id = ?1");
    q.bind(1, id);
    if (q.step() != kResultRow)
        return false;
    db.setKnownObject(id);
    db.rememberObject(id, q.text(0));
    return true;
}

bool symbolExists(Db &db, OVwSymbolId id)
{
    Stmt q(db, "SELECT 1 FROM symbols WHERE id = ?1");
    q.bind(1, id);
    return q.step() == kResultRow;
}

bool submapExists(Db &db, OVwSubmapId id)
{
    if (db.knownSubmap(id))
        return true;
    Stmt q(db, "SELECT 1 FROM submaps WHERE id = ?1");
    q.bind(1, id);
    return q.step() == kResultRow;
}

// Ends the session: commits what the turn wrote, copies the log into the
// database and cuts it to nothing (when no reader holds it), closes.
static bool closeSession(Session *s)
{
    // A turn in which a statement failed for a reason that may pass is never
    // committed in part.
    bool committed = s->db.turnFault() == 0 && s->db.commit();
    if (!committed)
        s->db.rollback();
    if (committed)
        s->db.truncateLog();
    delete s;
    return committed;
}

// Commits what the process wrote when it ends normally (std::exit).
static void commitAtExit()
{
    if (g_session != nullptr) {
        flushRunCounters(true);
        Session *s = g_session;
        g_session = nullptr;
        closeSession(s);
    }
}

std::string databasePath()
{
    return mapDatabasePath();
}

}  // namespace mapdb

using namespace mapdb;

// ---- errors ------------------------------------------------------------------------

extern "C" int OVwError(void) { return g_error; }

extern "C" const char *OVwErrorDetail(void) { return g_errorDetail.c_str(); }

extern "C" int OVwErrorMayPass(int code)
{
    return code == OVw_DISK_FULL || code == OVw_IO_ERROR || code == OVw_MAP_BUSY ||
                   code == OVw_MAP_SERVER_UNREACHABLE
               ? 1
               : 0;
}

extern "C" void OVwSetWaitHandler(OVwWaitProc proc) { g_waitProc = proc; }

extern "C" void OVwSetNoticeHandler(OVwNoticeProc proc) { g_noticeProc = proc; }

extern "C" const char *OVwErrorMsg(int code)
{
    switch (code) {
    case OVw_SUCCESS: return "no error";
    case OVw_NOT_CONNECTED: return "not connected to the map platform";
    case OVw_NO_MAP_OPEN: return "no map is open";
    case OVw_BAD_ARGUMENT: return "bad argument";
    case OVw_STORAGE_FAILURE: return "map database storage failure";
    case OVw_OUT_OF_MEMORY: return "out of memory";
    case OVw_EVENT_CHANNEL_FAILURE: return "event channel failure";
    case OVw_DISK_FULL: return "the map database's disk is full";
    case OVw_IO_ERROR: return "map database I/O error";
    case OVw_MAP_BUSY: return "another program holds the map database's write lock";
    case OVw_READ_ONLY_DATABASE: return "the map database cannot be written";
    case OVw_NOT_A_DATABASE: return "the map database path does not name an SQLite database";
    case OVw_NOT_A_MAP: return "the map database is an SQLite database but not a map";
    case OVw_SCHEMA_UNUSABLE: return "the map database's schema cannot be used";
    case OVw_MAP_IN_USE: return "another daemon has the map database open";
    case OVw_NO_DATABASE_FOLDER: return "the map database's folder does not exist";
    case OVw_MAP_DAMAGED: return "the map database is damaged";
    case OVw_MAP_UNUSABLE: return "the map database cannot be used any more";
    case OVw_MAP_SERVER_REFUSED: return "the map database server refused the connection";
    case OVw_MAP_SERVER_UNREACHABLE: return "the map database server does not answer";
    case OVw_NO_SUCH_OBJECT: return "no such object";
    case OVw_DUPLICATE_SELECTION_NAME: return "duplicate selection name";
    case OVw_NO_SUCH_FIELD: return "no such field";
    case OVw_NO_SUCH_SYMBOL: return "no such symbol";
    case OVw_NO_SUCH_SUBMAP: return "no such submap";
    case OVw_FIELD_TYPE_MISMATCH: return "field type mismatch";
    case OVw_DUPLICATE_FIELD: return "duplicate field name";
    case OVw_FIELD_VALUE_NOT_SET: return "field value not set";
    case OVw_NO_SUCH_CALLBACK: return "no such callback";
    default: return "unknown map platform error";
    }
}

// ---- connection ----------------------------------------------------------------------

namespace {

// Refuses the database: the code with the path and the reason.
int refuse(int code, const std::string &path, const std::string &why)
{
    g_errorDetail = path + ": " + why;
    return fail(code, -1);
}

// Checks the map database's path before anything is created or written:
// what it names, whether it and its folder can be written, that an existing
// file is an SQLite database. 0, or -1 with the error and its detail set.
int checkDatabasePath(const std::string &path, bool named)
{
    const HostPathKind kind = hostPathKind(path);
    if (kind == HostPathKind::Folder)
        return refuse(OVw_NOT_A_DATABASE, path, "is a folder, not a map database file");
    if (kind == HostPathKind::Other)
        return refuse(OVw_NOT_A_DATABASE, path, "is not a regular file");
    const std::string folder = hostParentFolder(path);
    if (kind == HostPathKind::Missing) {
        // The default place is made when missing; a folder named in
        // OVW_MAPDB must exist (a mistyped name is not a new map).
        if (!named && !ensureParentDirs(path))
            return refuse(OVw_NO_DATABASE_FOLDER, path, "its folder cannot be created");
        if (hostPathKind(folder) != HostPathKind::Folder)
            return refuse(OVw_NO_DATABASE_FOLDER, path, "its folder " + folder + " does not exist");
    }
    // The log and the shared-memory file of WAL mode live beside the database.
    if (!hostFolderWritable(folder))
        return refuse(OVw_READ_ONLY_DATABASE, path, "its folder " + folder + " cannot be written");
    if (kind == HostPathKind::File) {
        if (!hostFileWritable(path))
            return refuse(OVw_READ_ONLY_DATABASE, path, "the file cannot be opened for writing");
        static const char kMagic[] = "SQLite format 3";   // with its NUL: 16 bytes
        const std::string head = hostFileHead(path, sizeof kMagic);
        if (!head.empty() && head != std::string(kMagic, sizeof kMagic))
            return refuse(OVw_NOT_A_DATABASE, path, "is not an SQLite database");
    }
    return 0;
}

// The longest the start-up check may take: a map too large for it is
// checked as far as it gets, and the rest is said to be unchecked.
constexpr std::chrono::milliseconds kCheckBudget(500);

// SQLite's own check of every page's structure (not of the indexes against
// their tables), within the budget. Empty when it passes, else what it
// found first.
std::string damageFound(Db &db, const std::string &path)
{
    bool cut = false;
    const std::string found = db.checkPages(kCheckBudget, cut);
    db.takeTurnFault();
    db.takeDamage();
    if (cut) {
        const std::string note = "Map database check stopped after " + std::to_string(kCheckBudget.count()) +
                                 " ms: the rest of " + path +
                                 " is not checked (PRAGMA quick_check; a map this large takes longer)";
        reportNotice(note.c_str());
    }
    return found;
}

// The session, its map read, becomes the process's; 0.
int startSession(std::unique_ptr<Session> s)
{
    s->db.takeDamage();
    readPreviousRunCounters(s->db);
    g_session = s.release();
    forgetRunCounters();
    setError(OVw_SUCCESS);
    return 0;
}

// Opens the session on a map on a database server (OVW_MAPDB a URI): the
// engine connects, takes the map's lock and makes or checks its tables; the
// map's rows are seeded here, as on SQLite.
int openServerSession(const std::string &location)
{
    const std::string where = pgmap::displayUri(location);
    std::unique_ptr<Engine> engine;
    std::string err;
    const int code = pgmap::openMap(
        location, [](int64_t waitedMs, bool ended) { reportWait(OVw_MAP_SERVER_UNREACHABLE, waitedMs, ended); },
        engine, err);
    if (code != 0)
        return refuse(code, where, err);
    auto s = std::make_unique<Session>();
    s->db.useEngine(std::move(engine));
    if (!seedServerMap(s->db, err))
        return refuse(OVw_STORAGE_FAILURE, where, err);
    if (!loadMap(*s))
        return refuse(OVw_STORAGE_FAILURE, where, "its map row cannot be read");
    s->path = where;
    s->db.takeTurnFault();
    return startSession(std::move(s));
}

}  // namespace

extern "C" int OVwInit(void)
{
    armFaultsFromEnvironment();
    if (hooked("OVwInit"))
        return -1;
    if (g_session != nullptr) {
        setError(OVw_SUCCESS);
        return 0;
    }
    g_errorDetail.clear();
    static bool atexitRegistered = false;
    if (!atexitRegistered) {
        std::atexit(commitAtExit);
        Db::configureLibrary();
        atexitRegistered = true;
    }
    // The one choice of engine: a server URI, or a file path.
    const char *location = std::getenv("OVW_MAPDB");
    if (location != nullptr && pgmap::isServerLocation(location))
        return openServerSession(location);
    std::string path = databasePath();
    auto s = std::make_unique<Session>();
    std::string err;
    // A file this call made and could not finish (a full disk) is removed
    // with its side files: no empty map is left behind.
    bool made = false;
    auto refuseMade = [&](int code, const std::string &why) {
        s->db.close();
        if (made)
            for (const char *suffix : {"", "-wal", "-shm", "-journal"})
                hostRemoveFile(path + suffix);
        return refuse(code, path, why);
    };
    if (path != ":memory:") {
        const char *env = std::getenv("OVW_MAPDB");
        if (checkDatabasePath(path, env != nullptr && *env != '\0') != 0)
            return -1;
        made = hostPathKind(path) == HostPathKind::Missing;
        if (!s->db.openPlain(path, true, err))
            return refuseMade(OVw_STORAGE_FAILURE, err);
        // Nothing is written before the contents are known to be a map, or
        // nothing at all (a new file): refused databases keep every byte.
        bool fresh = false;
        int version = 0;
        if (const int code = inspectSchema(s->db, err, fresh, version))
            return refuseMade(code, err);
        // A damaged map is refused before it is written to; damage met later
        // ends the run (OVwPending).
        if (!fresh) {
            const std::string damage = damageFound(s->db, path);
            if (!damage.empty())
                return refuse(OVw_MAP_DAMAGED, path, "it is damaged: PRAGMA quick_check found " + damage +
                                                         " (left unchanged)");
        }
        bool busy = false;
        if (!s->writerLock.acquire(path + "-lock", busy)) {
            if (busy)
                return refuse(OVw_MAP_IN_USE, path, "another daemon has this map open");
            return refuse(OVw_READ_ONLY_DATABASE, path, "its lock file " + path + "-lock cannot be written");
        }
    } else if (!s->db.openPlain(path, true, err)) {
        return refuse(OVw_STORAGE_FAILURE, path, err);
    }
    // The page size of a new map is set before its first table.
    if (!s->db.configure(err))
        return refuseMade(OVw_STORAGE_FAILURE, err);
    const int code = ensureSchema(s->db, err);
    if (code != 0)
        return refuseMade(code, err);
    if (!loadMap(*s))
        return refuseMade(OVw_STORAGE_FAILURE, "its map row cannot be read");
    s->path = path;
    s->fileKnown = path != ":memory:" && hostPathIdentity(path, s->file);
    return startSession(std::move(s));
}

extern "C" int OVwDone(void)
{
    if (hooked("OVwDone"))
        return -1;
    Session *s = connectedSession();
    if (s == nullptr)
        return -1;
    flushRunCounters(true);
    g_session = nullptr;
    if (!closeSession(s))
        return fail(OVw_STORAGE_FAILURE, -1);
    setError(OVw_SUCCESS);
    return 0;
}

extern "C" int OVwFileDescriptor(void)
{
    if (hooked("OVwFileDescriptor"))
        return -1;
    // Events arrive through the events table, not a descriptor: any
    // non-negative number tells the caller that the channel is up.
    if (g_session == nullptr)
        return fail(OVw_EVENT_CHANNEL_FAILURE, -1);
    setError(OVw_SUCCESS);
    return 0;
}

// ---- map ---------------------------------------------------------------------------------

extern "C" OVwMapInfo *OVwGetMapInfo(void)
{
    if (hooked("OVwGetMapInfo"))
        return nullptr;
    Session *s = session();
    if (s == nullptr)
        return nullptr;
    if (!s->mapOpen)
        return fail(OVw_NO_MAP_OPEN, static_cast<OVwMapInfo *>(nullptr));
    auto *m = static_cast<OVwMapInfo *>(std::calloc(1, sizeof(OVwMapInfo)));
    if (m == nullptr)
        return fail(OVw_OUT_OF_MEMORY, m);
    m->map_name = dupString(s->mapName.c_str());
    if (m->map_name == nullptr) {
        std::free(m);
        return fail(OVw_OUT_OF_MEMORY, static_cast<OVwMapInfo *>(nullptr));
    }
    m->root_submap_id = s->rootSubmap;
    m->is_open = 1;
    setError(OVw_SUCCESS);
    return m;
}

extern "C" void OVwFreeMapInfo(OVwMapInfo *map)
{
    journaled("OVwFreeMapInfo");
    if (map == nullptr)
        return;
    std::free(map->map_name);
    std::free(map);
}

extern "C" char *OVwGetAppName(void)
{
    if (hooked("OVwGetAppName"))
        return nullptr;
    if (session() == nullptr)
        return nullptr;
    char *name = dupString("tqdaemon");
    if (name == nullptr)
        return fail(OVw_OUT_OF_MEMORY, name);
    setError(OVw_SUCCESS);
    return name;
}

extern "C" OVwFieldBindList *OVwGetAppConfigValues(OVwMapInfo *map, const char *app_name)
{
    if (hooked("OVwGetAppConfigValues", app_name))
        return nullptr;
    if (mapSession(map) == nullptr)
        return nullptr;
    auto *list = static_cast<OVwFieldBindList *>(std::calloc(1, sizeof(OVwFieldBindList)));
    if (list == nullptr)
        return fail(OVw_OUT_OF_MEMORY, list);
    setError(OVw_SUCCESS);
    return list;
}

extern "C" int OVwBeginMapSync(OVwMapInfo *map)
{
    if (hooked("OVwBeginMapSync"))
        return -1;
    if (mapSession(map) == nullptr)
        return -1;
    setError(OVw_SUCCESS);
    return 0;
}

extern "C" int OVwEndMapSync(OVwMapInfo *map)
{
    if (hooked("OVwEndMapSync"))
        return -1;
    if (mapSession(map) == nullptr)
        return -1;
    setError(OVw_SUCCESS);
    return 0;
}

extern "C" int OVwAckMapClose(OVwMapInfo *map, OVwTime close_time)
{
    if (hooked("OVwAckMapClose", close_time))
        return -1;
    if (session() == nullptr)
        return -1;
    // Acknowledged for a map that is already closed: only a record is needed.
    if (map == nullptr)
        return fail(OVw_NO_MAP_OPEN, -1);
    setError(OVw_SUCCESS);
    return 0;
}

// ---- memory ---------------------------------------------------------------------------------

extern "C" void OVFree(void *p)
{
    journaled("OVFree");
    std::free(p);
}
