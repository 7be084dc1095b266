// The PostgreSQL engine: statements, transactions, error classes, the
// map's lock and reconnection.
#include "pgmap/engine.h"

#include "pgmap/pgmap.h"

#include "host/signals.h"

#include <cstdlib>
#include <cstring>

namespace pgmap {

using namespace mapdb;

namespace {

bool startsWith(const std::string &s, const char *prefix) { return s.rfind(prefix, 0) == 0; }

}  // namespace

int resultFor(PGconn *conn, const PGresult *res)
{
    if (conn == nullptr || PQstatus(conn) != CONNECTION_OK || res == nullptr)
        return kResultUnreachable;
    const char *state = PQresultErrorField(res, PG_DIAG_SQLSTATE);
    const std::string s = state != nullptr ? state : "";
    // Connection lost, the server shutting down or starting, a standby that
    // cannot be written (a fail-over in progress): may pass once the
    // connection is made again.
    if (startsWith(s, "08") || s == "57P01" || s == "57P02" || s == "57P03" || s == "25006")
        return kResultUnreachable;
    if (s == "40001" || s == "40P01")
        return kResultBusy;
    if (s == "53100")
        return kResultFull;
    if (startsWith(s, "23"))
        return kResultConstraint;
    if (s == "XX001" || s == "XX002")
        return kResultCorrupt;
    return kResultError;
}

// ---- statements ------------------------------------------------------------------

PgStatement::PgStatement(PgEngine &engine, const char *sql, int serial)
    : engine_(engine), t_(translate(sql)), name_("tq" + std::to_string(serial))
{
    values_.resize(static_cast<size_t>(t_.params));
    null_.assign(static_cast<size_t>(t_.params), true);
}

PgStatement::~PgStatement() { PQclear(res_); }

int PgStatement::prepare()
{
    if (prepared_)
        return kResultDone;
    // A parameter the text skips still needs a type: a number.
    std::vector<Oid> types(static_cast<size_t>(t_.params), 0);
    for (size_t i = 0; i < types.size(); ++i)
        if (!t_.used[i])
            types[i] = 20;   // int8
    PGresult *r = PQprepare(engine_.conn(), name_.c_str(), t_.sql.c_str(), t_.params, types.data());
    const bool ok = PQresultStatus(r) == PGRES_COMMAND_OK;
    const int rc = engine_.note(r, ok);
    PQclear(r);
    prepared_ = rc == kResultDone;
    return rc;
}

void PgStatement::bindInt(int i, int64_t v)
{
    if (i < 1 || i > t_.params)
        return;
    values_[static_cast<size_t>(i - 1)] = std::to_string(v);
    null_[static_cast<size_t>(i - 1)] = false;
}

void PgStatement::bindText(int i, const char *v, size_t n)
{
    if (i < 1 || i > t_.params)
        return;
    values_[static_cast<size_t>(i - 1)].assign(v, n);
    null_[static_cast<size_t>(i - 1)] = false;
}

void PgStatement::bindNull(int i)
{
    if (i >= 1 && i <= t_.params)
        null_[static_cast<size_t>(i - 1)] = true;
}

int PgStatement::sendPrepared()
{
    if (!prepared_) {
        // A parameter the text skips still needs a type: a number.
        std::vector<Oid> types(static_cast<size_t>(t_.params), 0);
        for (size_t i = 0; i < types.size(); ++i)
            if (!t_.used[i])
                types[i] = 20;   // int8
        if (PQsendPrepare(engine_.conn(), name_.c_str(), t_.sql.c_str(), t_.params, types.data()) != 1)
            return engine_.note(nullptr, false);
        engine_.sentAhead(PgEngine::Ahead::Prepare, this);
        prepared_ = true;
    }
    if (t_.sql.rfind("SELECT ", 0) != 0)
        engine_.mayHaveWritten();
    std::vector<const char *> params(static_cast<size_t>(t_.params));
    for (size_t i = 0; i < params.size(); ++i)
        params[i] = null_[i] ? nullptr : values_[i].c_str();
    if (PQsendQueryPrepared(engine_.conn(), name_.c_str(), t_.params, params.data(), nullptr, nullptr, 0) != 1)
        return engine_.note(nullptr, false);
    return kResultDone;
}

int PgStatement::sendRead()
{
    if (const int rc = sendPrepared(); rc != kResultDone)
        return rc;
    engine_.sentAhead(PgEngine::Ahead::Read, this);
    return kResultDone;
}

int PgStatement::finish()
{
    const char *affected = PQcmdTuples(res_);
    engine_.setChanges(affected != nullptr && *affected != '\0' ? std::atoll(affected) : 0);
    if (t_.returnsId) {
        // The insertion's id is the engine's to tell, not a row; no row
        // is a conflict the text let pass.
        if (PQntuples(res_) == 1) {
            engine_.setLastId(std::atoll(PQgetvalue(res_, 0, 0)));
            return kResultDone;
        }
        if (t_.ignoreConflict)
            return kResultDone;
        engine_.setError("UNIQUE constraint failed");
        return kResultConstraint;
    }
    return kResultRow;
}

int PgStatement::step()
{
    if (!ran_) {
        ran_ = true;
        if (engine_.pipelined()) {
            if (const int rc = sendPrepared(); rc != kResultDone)
                return rc;
            // A write whose result nothing reads waits for the next sync.
            if (t_.write)
                return engine_.sentWrite();
            if (const int rc = engine_.sync(this); rc != kResultDone) {
                PQclear(res_);
                res_ = nullptr;
                return rc;
            }
        } else {
            if (const int rc = prepare(); rc != kResultDone)
                return rc;
            std::vector<const char *> params(static_cast<size_t>(t_.params));
            for (size_t i = 0; i < params.size(); ++i)
                params[i] = null_[i] ? nullptr : values_[i].c_str();
            res_ = PQexecPrepared(engine_.conn(), name_.c_str(), t_.params, params.data(), nullptr, nullptr, 0);
            const ExecStatusType st = PQresultStatus(res_);
            const int rc = engine_.note(res_, st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK);
            if (rc != kResultDone) {
                PQclear(res_);
                res_ = nullptr;
                return rc;
            }
        }
        if (const int rc = finish(); rc != kResultRow)
            return rc;
    }
    if (res_ == nullptr)
        return kResultDone;
    ++row_;
    return row_ < PQntuples(res_) ? kResultRow : kResultDone;
}

void PgStatement::reset()
{
    PQclear(res_);
    res_ = nullptr;
    row_ = -1;
    ran_ = false;
    null_.assign(null_.size(), true);
}

int64_t PgStatement::i64(int col) const
{
    if (res_ == nullptr || row_ < 0 || PQgetisnull(res_, row_, col))
        return 0;
    return std::atoll(PQgetvalue(res_, row_, col));
}

bool PgStatement::isNull(int col) const
{
    return res_ == nullptr || row_ < 0 || PQgetisnull(res_, row_, col) != 0;
}

const char *PgStatement::text(int col) const
{
    if (isNull(col))
        return nullptr;
    return PQgetvalue(res_, row_, col);
}

// ---- the engine --------------------------------------------------------------------

PgEngine::PgEngine(PGconn *conn, std::string uri, int64_t lockKey, bool takesLock)
    : conn_(conn), uri_(std::move(uri)), lockKey_(lockKey), takesLock_(takesLock)
{
}

PgEngine::~PgEngine()
{
    cache_.clear();
    if (conn_ != nullptr)
        PQfinish(conn_);
}

std::string PgEngine::where() const { return displayUri(uri_); }

int PgEngine::note(const PGresult *res, bool ok)
{
    if (ok)
        return kResultDone;
    const int rc = resultFor(conn_, res);
    const char *msg = res != nullptr ? PQresultErrorMessage(res) : "";
    error_ = msg != nullptr && *msg != '\0' ? msg : PQerrorMessage(conn_);
    while (!error_.empty() && (error_.back() == '\n' || error_.back() == ' '))
        error_.pop_back();
    if (rc == kResultUnreachable)
        broken_ = true;
    return rc;
}

int PgEngine::command(const char *sql)
{
    PGresult *r = PQexec(conn_, sql);
    const int rc = note(r, PQresultStatus(r) == PGRES_COMMAND_OK || PQresultStatus(r) == PGRES_TUPLES_OK);
    PQclear(r);
    return rc;
}

int PgEngine::sendAhead(const char *sql, Ahead kind)
{
    if (PQsendQueryParams(conn_, sql, 0, nullptr, nullptr, nullptr, nullptr, 0) != 1)
        return note(nullptr, false);
    sentAhead(kind);
    return kResultDone;
}

int PgEngine::sync(PgStatement *last)
{
    std::vector<Sent> sent;
    sent.swap(ahead_);
    if (last != nullptr)
        sent.push_back({Ahead::Command, last});
    const size_t lastAt = sent.size() - 1;
    // The writer's transaction id, once something may have written: at the
    // end of the segment, so it is known before COMMIT is sent. A turn that
    // wrote nothing has none (and its commit waits for no disk).
    if (writing_ && xid_ == 0 && xidDirty_) {
        if (PQsendQueryParams(conn_, "SELECT pg_current_xact_id_if_assigned()::text::bigint", 0, nullptr, nullptr,
                              nullptr, nullptr, 0) != 1)
            return note(nullptr, false);
        sent.push_back({Ahead::Xid, nullptr});
        xidDirty_ = false;
    }
    committed_ = false;
    int rc = held_;
    if (held_ != 0)
        error_ = heldError_;
    held_ = 0;
    if (PQpipelineSync(conn_) != 1)
        return note(nullptr, false);
    // Each command's results end with a null; the segment with the sync.
    size_t at = 0;
    for (;;) {
        PGresult *r = PQgetResult(conn_);
        if (r == nullptr) {
            if (PQstatus(conn_) != CONNECTION_OK || at > sent.size()) {
                const int lost = note(nullptr, false);
                return rc != kResultDone && rc != 0 ? rc : lost;
            }
            ++at;
            continue;
        }
        const ExecStatusType st = PQresultStatus(r);
        if (st == PGRES_PIPELINE_SYNC) {
            PQclear(r);
            break;
        }
        const bool ok = st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
        const Sent *s = at < sent.size() ? &sent[at] : nullptr;
        if (!ok && st != PGRES_PIPELINE_ABORTED && (rc == 0 || rc == kResultDone))
            rc = note(r, false);
        // A statement whose preparing failed or was skipped is prepared again.
        if (!ok && s != nullptr && s->kind == Ahead::Prepare)
            s->st->forgetPrepared();
        if (s != nullptr && ok) {
            if (s->kind == Ahead::Write) {
                const char *affected = PQcmdTuples(r);
                changes_ = affected != nullptr && *affected != '\0' ? std::atoll(affected) : 0;
            } else if (s->kind == Ahead::Xid && PQntuples(r) == 1 && !PQgetisnull(r, 0, 0)) {
                xid_ = std::atoll(PQgetvalue(r, 0, 0));
            } else if (s->kind == Ahead::Read) {
                s->st->tookAhead(r);
                continue;
            } else if (s->kind == Ahead::Commit) {
                // COMMIT of a transaction that had failed ends it as a
                // rollback, without an error.
                committed_ = std::strcmp(PQcmdStatus(r), "COMMIT") == 0;
            } else if (last != nullptr && at == lastAt) {
                last->takeResult(r);
                continue;
            }
        }
        PQclear(r);
    }
    return rc == 0 ? kResultDone : rc;
}

void PgEngine::leavePipeline()
{
    ahead_.clear();
    if (pipelined_ && PQstatus(conn_) == CONNECTION_OK)
        PQexitPipelineMode(conn_);
    pipelined_ = false;
}

int PgEngine::sentWrite()
{
    sentAhead(Ahead::Write);
    // A bound on what waits unread: a long run of writes (a copy) is read
    // in segments, a failure kept for the next statement or the commit.
    if (ahead_.size() >= kLongestRun && held_ == 0) {
        if (const int rc = sync(); rc != kResultDone) {
            held_ = rc;
            heldError_ = error_;
        }
    }
    return kResultDone;
}

int64_t PgEngine::changes()
{
    // The count is that of the last write, which may still be on its way.
    if (pipelined_ && !ahead_.empty() && held_ == 0) {
        const int rc = sync();
        if (rc != kResultDone) {
            held_ = rc;
            heldError_ = error_;
        }
    }
    return changes_;
}

mapdb::EngineStatement *PgEngine::prepare(const char *sql)
{
    auto it = cache_.find(sql);
    if (it != cache_.end())
        return it->second.get();
    auto st = std::make_unique<PgStatement>(*this, sql, ++serial_);
    if (!st->translatedOk()) {
        error_ = std::string("statement not known to the PostgreSQL dialect: ") + sql;
        return nullptr;
    }
    return cache_.emplace(sql, std::move(st)).first->second.get();
}

int PgEngine::exec(const char *sql)
{
    // Outside a transaction a lost connection is made again first: a
    // reader's transactions begin here.
    if (!inTxn_ && (broken_ || PQstatus(conn_) != CONNECTION_OK))
        if (const int rc = reconnect(); rc != kResultDone)
            return rc;
    const Translated t = translate(sql);
    if (!pipelined_)
        return command(t.sql.c_str());
    // A savepoint taken or released fails only with the connection or the
    // transaction: sent ahead. Anything else runs now.
    const bool ahead = t.sql.rfind("SAVEPOINT ", 0) == 0 || t.sql.rfind("RELEASE ", 0) == 0;
    if (!ahead)
        mayHaveWritten();
    if (const int rc = sendAhead(t.sql.c_str(), Ahead::Command); rc != kResultDone || ahead)
        return rc;
    return sync();
}

bool PgEngine::lock(std::string &err)
{
    const std::string sql = "SELECT pg_try_advisory_lock(" + std::to_string(lockKey_) + ")";
    PGresult *r = PQexec(conn_, sql.c_str());
    const bool got = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1 && PQgetvalue(r, 0, 0)[0] == 't';
    if (PQresultStatus(r) != PGRES_TUPLES_OK)
        err = PQresultErrorMessage(r);
    PQclear(r);
    return got;
}

int PgEngine::reconnect()
{
    pipelined_ = false;
    ahead_.clear();
    PQreset(conn_);
    if (PQstatus(conn_) != CONNECTION_OK) {
        error_ = PQerrorMessage(conn_);
        return kResultUnreachable;
    }
    for (auto &kv : cache_)
        kv.second->forgetPrepared();
    for (const std::string &channel : channels_)
        command(("LISTEN " + channel).c_str());
    std::string err;
    if (!takesLock_) {
        broken_ = false;
        return kResultDone;
    }
    if (!lock(err)) {
        // Another daemon took the map while this one was away: this one
        // must not write to it again.
        error_ = err.empty() ? "another daemon took the map's lock while the connection was lost" : err;
        return kResultReadOnly;
    }
    broken_ = false;
    return kResultDone;
}

bool PgEngine::listen(const char *channel)
{
    // The map's schema names it in the payload: other maps of the database
    // notify on the same channel.
    if (schema_.empty()) {
        PGresult *r = PQexec(conn_, "SELECT current_schema()");
        if (PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1 && !PQgetisnull(r, 0, 0))
            schema_ = PQgetvalue(r, 0, 0);
        PQclear(r);
    }
    if (schema_.empty() || command((std::string("LISTEN ") + channel).c_str()) != kResultDone)
        return false;
    channels_.emplace_back(channel);
    return true;
}

int PgEngine::takeNotices()
{
    if (broken_ || PQconsumeInput(conn_) == 0) {
        broken_ = true;
        return -1;
    }
    int n = 0;
    while (PGnotify *notice = PQnotifies(conn_)) {
        if (notice->extra != nullptr && schema_ == notice->extra)
            ++n;
        PQfreemem(notice);
    }
    return n;
}

int PgEngine::beginRead()
{
    if (inTxn_)
        return kResultDone;
    if (broken_ || PQstatus(conn_) != CONNECTION_OK) {
        const int rc = reconnect();
        if (rc != kResultDone)
            return rc;
    }
    xid_ = 0;
    writing_ = false;
    xidDirty_ = false;
    held_ = 0;
    // BEGIN goes with the turn's first statement that returns rows.
    if (PQenterPipelineMode(conn_) != 1) {
        const int rc = command("BEGIN");
        inTxn_ = rc == kResultDone;
        return rc;
    }
    pipelined_ = true;
    const int rc = sendAhead("BEGIN", Ahead::Command);
    inTxn_ = rc == kResultDone;
    if (!inTxn_)
        leavePipeline();
    return rc;
}

int PgEngine::begin()
{
    const int rc = beginRead();
    // The writer learns its transaction's id with the turn's reads (sync):
    // if the reply to COMMIT is lost, the server tells what became of it.
    if (rc == kResultDone && pipelined_ && takesLock_)
        writing_ = true;
    return rc;
}

int PgEngine::commit() { return commitWith(nullptr); }

int PgEngine::commitThenRead(mapdb::EngineStatement &read) { return commitWith(static_cast<PgStatement *>(&read)); }

int PgEngine::commitWith(PgStatement *after)
{
    if (!inTxn_)
        return kResultDone;
    if (!pipelined_) {
        inTxn_ = false;
        return command("COMMIT");
    }
    // The transaction's id is known before COMMIT is sent.
    if (held_ != 0 || (writing_ && xid_ == 0 && xidDirty_)) {
        if (const int rc = sync(); rc != kResultDone) {
            rollback();
            return rc;
        }
    }
    inTxn_ = false;
    const int oldBackend = PQbackendPID(conn_);
    int rc = sendAhead("COMMIT", Ahead::Commit);
    // The read runs after the commit, on the newest snapshot. If the commit
    // fails, or the read cannot be sent (the sync then tells why), it runs
    // when stepped.
    if (rc == kResultDone && after != nullptr)
        after->sendRead();
    if (rc == kResultDone && loseReply_) {
        // Test hook: the connection ends with COMMIT sent, its reply unread.
        loseReply_ = false;
        if (PQpipelineSync(conn_) == 1 && PQflush(conn_) == 0) {
            pipelined_ = false;
            ahead_.clear();
            error_ = "the connection was lost before the reply to COMMIT";
            if (xid_ != 0)
                return settleLostCommit(oldBackend);
            broken_ = true;
            return kResultUnreachable;
        }
    }
    if (rc == kResultDone)
        rc = sync();
    if (rc == kResultDone && !committed_) {
        error_ = "the transaction was rolled back by the server at COMMIT";
        rc = kResultError;
    }
    if (rc == kResultUnreachable && xid_ != 0) {
        pipelined_ = false;
        ahead_.clear();
        return settleLostCommit(oldBackend);
    }
    leavePipeline();
    // A failure ahead of COMMIT left the transaction open (and aborted).
    if (rc != kResultDone && !broken_ && PQstatus(conn_) == CONNECTION_OK)
        command("ROLLBACK");
    return rc;
}

void PgEngine::rollback()
{
    if (!inTxn_ && !pipelined_)
        return;
    inTxn_ = false;
    held_ = 0;
    if (broken_ || PQstatus(conn_) != CONNECTION_OK) {
        pipelined_ = false;
        ahead_.clear();
        return;
    }
    if (!pipelined_) {
        command("ROLLBACK");
        return;
    }
    if (sendAhead("ROLLBACK", Ahead::Command) == kResultDone)
        sync();
    leavePipeline();
}

int PgEngine::settleLostCommit(int oldBackend)
{
    // One line for the log: libpq's texts may run over several.
    std::string lost = error_;
    for (char &c : lost)
        if (c == '\n' || c == '\t')
            c = ' ';
    const std::string xid = std::to_string(xid_);
    xid_ = 0;
    broken_ = true;
    int pauseMs = 10;
    auto pause = [&pauseMs] {
        sleepUnlessStopped(pauseMs);
        pauseMs = pauseMs * 2 > 1000 ? 1000 : pauseMs * 2;
    };
    for (;;) {
        if (stopRequested()) {
            error_ = lost + "; stopped before the server told whether the turn was stored";
            return kResultUnreachable;
        }
        PQreset(conn_);
        if (PQstatus(conn_) != CONNECTION_OK) {
            pause();
            continue;
        }
        // Until the backend that had the COMMIT ends, the transaction may
        // still be in progress; then it holds the map's lock too.
        const std::string backend = std::to_string(oldBackend);
        const char *params[] = {xid.c_str(), backend.c_str()};
        PGresult *r = PQexecParams(conn_,
                                   "SELECT pg_xact_status($1::bigint::text::xid8),"
                                   " EXISTS (SELECT 1 FROM pg_locks WHERE locktype = 'advisory' AND pid = $2::int)",
                                   2, nullptr, params, nullptr, nullptr, 0);
        const bool answered = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) == 1;
        // A server that never saw the transaction (a promoted standby the
        // commit did not reach) may refuse the id as one from its future.
        const bool unseen = !answered && resultFor(conn_, r) != kResultUnreachable;
        const std::string status = answered && !PQgetisnull(r, 0, 0) ? PQgetvalue(r, 0, 0) : "";
        const bool oldAlive = answered && PQgetvalue(r, 0, 1)[0] == 't';
        PQclear(r);
        if ((!answered && !unseen) || status == "in progress" || (takesLock_ && oldAlive)) {
            pause();
            continue;
        }
        for (auto &kv : cache_)
            kv.second->forgetPrepared();
        std::string err;
        if (takesLock_ && !lock(err)) {
            error_ = err.empty() ? "another daemon took the map's lock while the connection was lost" : err;
            return kResultReadOnly;
        }
        broken_ = false;
        if (takesLock_)
            command("LISTEN tq_map_events");
        notice_ = "The connection to the map server was lost before the reply to COMMIT (" + lost + "); the server "
                  "tells the transaction " + (status == "committed" ? "was committed: the turn is stored"
                                                                   : "was not committed: the turn is made again");
        if (status == "committed")
            return kResultDone;
        error_ = lost;
        return kResultUnreachable;
    }
}

}  // namespace pgmap
