// The SQLite wrapper of the embedded map platform: the connection and its
// pragmas, the statement cache, transactions, the object cache, statements
// and savepoints.
#include "mapdb/db.h"

#include "mapdb/walvfs.h"
#include "host/signals.h"
#include "host/sockets.h"

#include <cstdlib>
#include <cstring>

namespace mapdb {

static_assert(kResultRow == SQLITE_ROW && kResultDone == SQLITE_DONE && kResultError == SQLITE_ERROR &&
                  kResultBusy == SQLITE_BUSY && kResultReadOnly == SQLITE_READONLY &&
                  kResultIoError == SQLITE_IOERR && kResultCorrupt == SQLITE_CORRUPT &&
                  kResultFull == SQLITE_FULL && kResultConstraint == SQLITE_CONSTRAINT,
              "the engine's result codes are SQLite's");

int transientCode(int sqliteResult)
{
    if (sqliteResult == kResultUnreachable)
        return OVw_MAP_SERVER_UNREACHABLE;
    switch (sqliteResult & 0xff) {
    case SQLITE_FULL: return OVw_DISK_FULL;
    case SQLITE_IOERR: return OVw_IO_ERROR;
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return OVw_MAP_BUSY;
    default: return 0;
    }
}

// ---- Db ------------------------------------------------------------------------

Db::~Db() { close(); }

namespace {

// Longest wait, in milliseconds, between two tries for another writer's lock.
constexpr int kBusyStepCapMs = 250;

// Waits for another connection's write lock with a growing pause, as long as
// it takes; gives up only when the process is asked to stop. The wait
// handler (OVwSetWaitHandler), when set, hears of it after every pause.
int busyWait(void *arg, int count)
{
    auto *db = static_cast<Db *>(arg);
    if (stopRequested())
        return 0;
    int step = count < 8 ? 1 << count : kBusyStepCapMs;
    if (step > kBusyStepCapMs)
        step = kBusyStepCapMs;
    sleepUnlessStopped(step);
    db->busyWaited(step);
    return stopRequested() ? 0 : 1;
}

}  // namespace

bool Db::openPlain(const std::string &path, bool create, std::string &err)
{
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
    if (create)
        flags |= SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.c_str(), &db_, flags, logGatheringVfs()) != SQLITE_OK) {
        err = db_ != nullptr ? sqlite3_errmsg(db_) : "cannot open the map database";
        close();
        return false;
    }
    sqlite3_busy_handler(db_, &busyWait, this);
    return true;
}

bool Db::open(const std::string &path, bool create, std::string &err)
{
    return openPlain(path, create, err) && configure(err);
}

bool Db::configure(std::string &err)
{
    // A new database gets 2 KiB pages: a message changes a handful of rows
    // spread over the tables and indexes, and each commit writes (and
    // checksums) every page it changed; larger pages mostly carry rows that
    // did not change, smaller ones make the trees of a large map deeper (more
    // pages to read per look-up). No effect on an existing database.
    exec("PRAGMA page_size=2048");
    // The log is copied into the database every 1024 pages (2 MiB of 2 KiB
    // pages; SQLite's default is 1000) without waiting for readers, and a log
    // that grew past 4 MiB (readers kept it from starting over) is cut back
    // to that when it starts over: so the log stays within a few MiB, and a
    // full disk is less likely.
    exec("PRAGMA journal_size_limit=4194304");
    // 8 MiB of pages stay cached between transactions (SQLite keeps 2 MiB):
    // the pages a message reads are then seldom read again from the files.
    exec("PRAGMA cache_size=-8192");
    // WAL lets other programs read the map while the daemon writes; it does
    // not apply to an in-memory database, which keeps its own journal mode.
    if (!exec("PRAGMA journal_mode=WAL") || !exec("PRAGMA synchronous=NORMAL")) {
        err = lastError();
        close();
        return false;
    }
    // In place of SQLite's own automatic checkpoint (see logGrew).
    sqlite3_wal_hook(db_, &logCommitted, this);
    return true;
}

int Db::logCommitted(void *self, sqlite3 *, const char *, int frames)
{
    static_cast<Db *>(self)->logGrew(frames);
    return SQLITE_OK;
}

void Db::logGrew(int frames)
{
    if (frames < kCheckpointFrames) {
        if (logHeld_) {
            logHeld_ = false;
            reportNotice("The map database's log (WAL) is within its bound again: the snapshot that held it has ended");
        }
        return;
    }
    // A reader that keeps an old snapshot keeps the log from starting over:
    // trying to copy it at every commit would only cost more as it grows.
    if (logHeld_ && frames < nextCheckpointAt_)
        return;
    sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
    nextCheckpointAt_ = frames + kCheckpointFrames;
    if (!logHeld_ && frames >= kHeldFrames) {
        logHeld_ = true;
        reportNotice("The map database's log (WAL) is past its bound of 4 MiB: another program holds an old "
                     "snapshot of the map (an open read transaction); the log is copied into the database "
                     "once it ends");
    }
}

void Db::noteFailure(int sqliteResult)
{
    lastFailureCode_ = sqliteResult;
    lastFailure_ = sqlite3_errstr(sqliteResult);
    if (engine_ != nullptr)
        lastFailure_ = engine_->lastError();
    else if (db_ != nullptr && sqlite3_errcode(db_) == sqliteResult)
        lastFailure_ = sqlite3_errmsg(db_);
    switch (sqliteResult & 0xff) {
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
    case SQLITE_READONLY:
        if (damage_.empty())
            damage_ = lastFailure_;
        break;
    default:
        break;
    }
    const int code = transientCode(sqliteResult);
    g_storageCause = code;
    if (code != 0 && turnFault_ == 0)
        turnFault_ = code;
}

void Db::busyWaited(int milliseconds)
{
    busyWaitedMs_ += milliseconds;
    reportWait(OVw_MAP_BUSY, busyWaitedMs_, false);
}

void Db::busyWaitEnded()
{
    if (busyWaitedMs_ > 0)
        reportWait(OVw_MAP_BUSY, busyWaitedMs_, true);
    busyWaitedMs_ = 0;
}

void Db::close()
{
    for (auto &kv : cache_)
        sqlite3_finalize(kv.second);
    cache_.clear();
    engine_.reset();
    if (db_ != nullptr) {
        sqlite3_close(db_);
        db_ = nullptr;
    }
    inTxn_ = false;
}

sqlite3_stmt *Db::prepare(const char *sql)
{
    auto it = cache_.find(sql);
    if (it != cache_.end())
        return it->second;
    sqlite3_stmt *st = nullptr;
    if (db_ == nullptr)
        return nullptr;
    const int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr);
    if (rc != SQLITE_OK) {
        // Preparing reads the schema: a full disk or an I/O error shows here too.
        noteFailure(rc);
        return nullptr;
    }
    cache_.emplace(sql, st);
    return st;
}

bool Db::exec(const char *sql)
{
    if (engine_ != nullptr) {
        const int rc = engine_->exec(sql);
        if (rc != kResultDone)
            noteFailure(rc);
        return rc == kResultDone;
    }
    Stmt q(*this, sql);
    int rc;
    while ((rc = q.step()) == SQLITE_ROW) {
    }
    return rc == SQLITE_DONE;
}

const char *Db::lastError() const
{
    if (engine_ != nullptr)
        return engine_->lastError();
    return db_ != nullptr ? sqlite3_errmsg(db_) : "no database";
}

int64_t Db::lastInsertId() const
{
    return engine_ != nullptr ? engine_->lastInsertId() : sqlite3_last_insert_rowid(db_);
}

int64_t Db::changes() const
{
    return engine_ != nullptr ? engine_->changes() : sqlite3_changes(db_);
}

void Db::truncateLog()
{
    if (db_ == nullptr)
        return;
    sqlite3_busy_timeout(db_, 1000);
    sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
}

namespace {

struct CheckBudget {
    std::chrono::steady_clock::time_point until;
    bool cut = false;
};

int checkProgress(void *arg)
{
    auto *budget = static_cast<CheckBudget *>(arg);
    if (std::chrono::steady_clock::now() < budget->until)
        return 0;
    budget->cut = true;
    return 1;
}

}  // namespace

std::string Db::checkPages(std::chrono::milliseconds limit, bool &cut)
{
    CheckBudget budget{std::chrono::steady_clock::now() + limit};
    sqlite3_progress_handler(db_, 10000, &checkProgress, &budget);
    std::string found;
    {
        Stmt q(*this, "PRAGMA quick_check(1)");
        const int rc = q.step();
        if (!budget.cut && !(rc == SQLITE_ROW && std::strcmp(q.text(0), "ok") == 0))
            found = rc == SQLITE_ROW ? q.text(0) : lastError();
    }
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    cut = budget.cut;
    return found;
}

void Db::configureLibrary()
{
    // Refused (and harmless) once SQLite is already in use in this process.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
}

Stmt::Stmt(Db &db, const char *sql) : db_(&db)
{
    if (Engine *engine = db.engine()) {
        e_ = engine->prepare(sql);
        if (e_ == nullptr)
            db.noteFailure(kResultError);
    } else {
        s_ = db.prepare(sql);
    }
}

bool Db::begin()
{
    if (inTxn_ && writing_)
        return true;
    if (engine_ != nullptr) {
        const bool wasReading = inTxn_;
        int rc = wasReading ? kResultDone : engine_->beginRead();
        if (rc == kResultDone)
            rc = engine_->begin();
        if (rc != kResultDone) {
            noteFailure(rc);
            return false;
        }
        if (!wasReading)
            ++txnSerial_;
        inTxn_ = writing_ = true;
        return true;
    }
    if (inTxn_) {
        // The read snapshot becomes the write transaction in place when no
        // other connection wrote since it began: a write that changes nothing
        // takes the write lock. Otherwise the snapshot ends and the write
        // transaction begins anew, waiting for the lock as usual.
        const int faultBefore = turnFault_;
        if (exec("DELETE FROM events WHERE 0") && sqlite3_txn_state(db_, "main") == SQLITE_TXN_WRITE) {
            writing_ = true;
            return true;
        }
        // A snapshot that others wrote past cannot become the write
        // transaction: that is expected, not a failure of the turn.
        turnFault_ = faultBefore;
        g_storageCause = 0;
        if (!commit())
            return false;
    }
    const bool begun = exec("BEGIN IMMEDIATE");
    busyWaitEnded();
    if (!begun)
        return false;
    ++txnSerial_;
    inTxn_ = true;
    writing_ = true;
    return true;
}

bool Db::beginRead()
{
    if (inTxn_)
        return true;
    if (engine_ != nullptr) {
        const int rc = engine_->beginRead();
        if (rc != kResultDone) {
            noteFailure(rc);
            return false;
        }
    } else if (!exec("BEGIN")) {
        return false;
    }
    ++txnSerial_;
    inTxn_ = true;
    writing_ = false;
    return true;
}

bool Db::commit() { return commitWith(nullptr); }

bool Db::commit(Stmt &look) { return commitWith(look.engineStatement()); }

bool Db::commitWith(EngineStatement *look)
{
    if (!inTxn_)
        return true;
    forgetTurn();
    if (engine_ != nullptr) {
        int hookCode = 0;
        if (g_hooksActive && writing_ && vfsFaultFires("CommitReplyLost", hookCode))
            engine_->loseNextCommitReply();
        const int rc = look != nullptr ? engine_->commitThenRead(*look) : engine_->commit();
        if (const std::string notice = engine_->takeNotice(); !notice.empty())
            reportNotice(notice.c_str());
        if (rc == kResultDone) {
            inTxn_ = writing_ = false;
            return true;
        }
        noteFailure(rc);
        rollback();
        return false;
    }
    if (exec("COMMIT")) {
        // This commit changed the data version; what others commit later
        // shows as a different one.
        unsigned v = 0;
        dataVersionKnown_ = checkedTxn_ == txnSerial_ && dataVersionKnown_ &&
                            sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &v) == SQLITE_OK;
        dataVersion_ = v;
        inTxn_ = false;
        writing_ = false;
        return true;
    }
    rollback();
    return false;
}

void Db::rollback()
{
    if (!inTxn_)
        return;
    ++rollbacks_;
    forgetTurn();
    dataVersionKnown_ = false;
    if (engine_ != nullptr)
        engine_->rollback();
    else if (sqlite3_get_autocommit(db_) == 0)
        exec("ROLLBACK");
    inTxn_ = false;
    writing_ = false;
}

// ---- object cache -------------------------------------------------------------------

namespace {
// Beyond this many objects the cache starts again empty (a bound on memory).
constexpr size_t kObjectCacheLimit = 65536;
}  // namespace

void Db::clearObjectCache()
{
    objectIds_.clear();
    objectNames_.clear();
}

bool Db::objectCacheUsable()
{
    if (objectsAt_ != rollbacks_) {
        clearObjectCache();
        objectsAt_ = rollbacks_;
    }
    if (!inTxn_)
        return false;
    if (checkedTxn_ == txnSerial_)
        return true;
    if (engine_ != nullptr) {
        // A server map's cache holds while this connection is its only
        // writer (the daemon's lock on the map).
        if (!engine_->soleWriter())
            clearObjectCache();
        checkedTxn_ = txnSerial_;
        return engine_->soleWriter();
    }
    // The version is current only once the transaction has begun reading.
    if (sqlite3_txn_state(db_, "main") == SQLITE_TXN_NONE)
        return false;
    unsigned v = 0;
    if (sqlite3_file_control(db_, "main", SQLITE_FCNTL_DATA_VERSION, &v) != SQLITE_OK) {
        clearObjectCache();
        dataVersionKnown_ = false;
        return false;
    }
    if (!dataVersionKnown_ || v != dataVersion_)
        clearObjectCache();
    dataVersion_ = v;
    dataVersionKnown_ = true;
    checkedTxn_ = txnSerial_;
    return true;
}

const std::string *Db::cachedObjectName(OVwObjectId id)
{
    if (!objectCacheUsable())
        return nullptr;
    auto it = objectNames_.find(id);
    return it != objectNames_.end() ? &it->second : nullptr;
}

OVwObjectId Db::cachedObjectId(const char *name)
{
    if (name == nullptr || !objectCacheUsable())
        return 0;
    auto it = objectIds_.find(std::string_view(name));
    return it != objectIds_.end() ? it->second : 0;
}

void Db::rememberObject(OVwObjectId id, const char *name)
{
    // Checked first: what this transaction read (and so may remember) is
    // what the cache must agree with.
    if (id == 0 || name == nullptr || !objectCacheUsable())
        return;
    forgetObject(id);
    auto other = objectIds_.find(std::string_view(name));
    if (other != objectIds_.end())
        forgetObject(other->second);
    if (objectNames_.size() >= kObjectCacheLimit)
        clearObjectCache();
    auto named = objectNames_.emplace(id, name).first;
    objectIds_.emplace(std::string_view(named->second), id);
}

void Db::forgetObject(OVwObjectId id)
{
    auto it = objectNames_.find(id);
    if (it == objectNames_.end())
        return;
    objectIds_.erase(std::string_view(it->second));
    objectNames_.erase(it);
}

char *Stmt::dupText(int col) const
{
    if (isNull(col))
        return nullptr;
    return dupString(text(col));
}

WriteScope::WriteScope(Db &db) : db_(db)
{
    ok_ = db_.exec("SAVEPOINT op");
}

WriteScope::~WriteScope()
{
    if (ok_ && !done_) {
        db_.savepointRolledBack();
        db_.exec("ROLLBACK TO op");
        db_.exec("RELEASE op");
    }
}

bool WriteScope::release()
{
    done_ = true;
    return db_.exec("RELEASE op");
}

char *dupString(const char *s)
{
    if (s == nullptr)
        return nullptr;
    size_t n = std::strlen(s) + 1;
    char *p = static_cast<char *>(std::malloc(n));
    if (p != nullptr)
        std::memcpy(p, s, n);
    return p;
}

int Engine::waitForNotices(int timeoutMs)
{
    // Notices read with an earlier answer are taken first.
    const int n = takeNotices();
    if (n != 0)
        return n;
    const int ready = tqWaitReadable(noticeSocket(), timeoutMs);
    return ready < 0 ? -1 : ready == 0 ? 0 : takeNotices();
}

}  // namespace mapdb
