// The PostgreSQL engine: statements, transactions, error classes, the
// map's lock and reconnection.
#include "pgmap/engine.h"

#include "pgmap/pgmap.h"

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

int PgStatement::step()
{
    if (!ran_) {
        ran_ = true;
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
    return command(t.sql.c_str());
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
    const int rc = command("BEGIN");
    inTxn_ = rc == kResultDone;
    return rc;
}

int PgEngine::begin() { return beginRead(); }

int PgEngine::commit()
{
    if (!inTxn_)
        return kResultDone;
    const int rc = command("COMMIT");
    inTxn_ = false;
    return rc;
}

void PgEngine::rollback()
{
    if (!inTxn_)
        return;
    inTxn_ = false;
    if (!broken_ && PQstatus(conn_) == CONNECTION_OK)
        command("ROLLBACK");
}

}  // namespace pgmap
