// Map events: handler registration, the events table and its delivery, and
// posting events (in process or into another process's map database).
#include "mapdb/internal.h"
#include "pgmap/pgmap.h"
#include "mapdb/testhooks.h"

#include "host/hostfile.h"
#include "host/hostpath.h"
#include "host/signals.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <ctime>
#include <optional>

using nlohmann::json;

namespace mapdb {

namespace {

bool intMember(const json &j, const char *key, int64_t &out)
{
    auto it = j.find(key);
    if (it == j.end() || !it->is_number_integer())
        return false;
    out = it->get<int64_t>();
    return true;
}

int32_t optInt(const json &j, const char *key)
{
    int64_t v = 0;
    intMember(j, key, v);
    return static_cast<int32_t>(v);
}

// The data handed to a handler, decoded from the event's JSON; released
// after the handler returns.
struct EventData {
    OVwTime closeTime = 0;
    OVwSymbolList symbols{0, nullptr};
    OVwObjectList objects{0, nullptr};
    void *pointer = nullptr;

    EventData() = default;
    EventData(const EventData &) = delete;
    EventData &operator=(const EventData &) = delete;
    ~EventData()
    {
        freeSymbolRecords(symbols.symbols, symbols.count);
        for (int i = 0; i < objects.count; ++i)
            std::free(objects.objects[i].selection_name);
        std::free(objects.objects);
    }

    bool decode(Session &s, int code, const char *text)
    {
        json j;
        if (text != nullptr && *text != '\0') {
            j = json::parse(text, nullptr, false);
            if (j.is_discarded())
                return false;
        }
        switch (code) {
        case OVwEventMapClose: {
            int64_t t = 0;
            closeTime = j.is_object() && intMember(j, "time", t) ? t : static_cast<OVwTime>(std::time(nullptr));
            pointer = &closeTime;
            return true;
        }
        case OVwEventDeleteSymbols: return decodeSymbols(j);
        case OVwEventDeleteObjects: return decodeObjects(s, j);
        default: return true;
        }
    }

    bool decodeSymbols(const json &j)
    {
        if (!j.is_object() || !j.contains("symbols") || !j["symbols"].is_array())
            return false;
        const json &arr = j["symbols"];
        if (!arr.empty()) {
            symbols.symbols = static_cast<OVwSymbolInfo *>(std::calloc(arr.size(), sizeof(OVwSymbolInfo)));
            if (symbols.symbols == nullptr)
                return false;
        }
        for (const json &e : arr) {
            int64_t id = 0;
            if (!e.is_object() || !intMember(e, "symbol", id))
                return false;
            OVwSymbolInfo &r = symbols.symbols[symbols.count++];
            r.symbol_id = static_cast<OVwSymbolId>(id);
            r.submap_id = optInt(e, "submap");
            r.object_id = optInt(e, "object");
            r.symbol_variety = optInt(e, "variety");
            r.status_source = optInt(e, "status_source");
        }
        pointer = &symbols;
        return true;
    }

    bool decodeObjects(Session &s, const json &j)
    {
        if (!j.is_object() || !j.contains("objects") || !j["objects"].is_array())
            return false;
        const json &arr = j["objects"];
        if (!arr.empty()) {
            objects.objects = static_cast<OVwObjectInfo *>(std::calloc(arr.size(), sizeof(OVwObjectInfo)));
            if (objects.objects == nullptr)
                return false;
        }
        for (const json &e : arr) {
            if (!e.is_number_integer())
                return false;
            OVwObjectInfo &r = objects.objects[objects.count++];
            r.object_id = e.get<OVwObjectId>();
            // The object is still there (the handler removes it): describe it.
            Stmt q(s.db,
                   "SELECT o.selection_name,"
                   " (SELECT id FROM submaps WHERE parent_object = o.id ORDER BY id LIMIT 1),"
                   " (SELECT count(*) FROM symbols WHERE object = o.id)"
                   " FROM objects o WHERE o.id = ?1");
            q.bind(1, r.object_id);
            if (q.step() == kResultRow) {
                r.selection_name = q.dupText(0);
                r.child_submap_id = q.isNull(1) ? 0 : q.i32(1);
                r.num_symbols = q.i32(2);
            }
        }
        pointer = &objects;
        return true;
    }
};

bool insertEvent(Db &db, int code, const std::string &data)
{
    Stmt q(db, "INSERT INTO events(code, data) VALUES(?1, ?2)");
    q.bind(1, code);
    if (data.empty())
        q.bindNull(2);
    else
        q.bind(2, data);
    return q.run();
}

bool setMapOpen(Session &s, bool open)
{
    if (!s.db.begin())
        return false;
    Stmt q(s.db, "UPDATE map SET is_open = ?1");
    q.bind(1, open ? 1 : 0);
    if (!q.run())
        return false;
    s.mapOpen = open;
    return true;
}

}  // namespace

bool postEventOn(Db &db, int code, const std::vector<int> &ids, std::string &err)
{
    switch (code) {
    case OVwEventEndSession:
    case OVwEventMapOpen:
        return insertEvent(db, code, std::string()) || (err = db.lastError(), false);
    case OVwEventMapClose: {
        json j = {{"time", static_cast<int64_t>(std::time(nullptr))}};
        return insertEvent(db, code, j.dump()) || (err = db.lastError(), false);
    }
    case OVwEventDeleteSymbols: {
        if (ids.empty()) {
            err = "no symbols to delete";
            return false;
        }
        for (int id : ids) {
            if (!symbolExists(db, id)) {
                err = "no such symbol: " + std::to_string(id);
                return false;
            }
        }
        // The operator's deletion happens now; the event reports it.
        std::vector<DeletedSymbol> deleted;
        if (!deleteSymbolsCascade(db, ids, &deleted)) {
            err = db.lastError();
            return false;
        }
        json arr = json::array();
        for (const DeletedSymbol &d : deleted)
            arr.push_back({{"symbol", d.symbol},
                           {"submap", d.submap},
                           {"object", d.object},
                           {"variety", d.variety},
                           {"status_source", d.statusSource}});
        json j = {{"symbols", arr}};
        return insertEvent(db, code, j.dump()) || (err = db.lastError(), false);
    }
    case OVwEventDeleteObjects: {
        if (ids.empty()) {
            err = "no objects to delete";
            return false;
        }
        for (int id : ids) {
            if (!objectExists(db, id)) {
                err = "no such object: " + std::to_string(id);
                return false;
            }
        }
        json j = {{"objects", ids}};
        return insertEvent(db, code, j.dump()) || (err = db.lastError(), false);
    }
    default:
        err = "unknown event code: " + std::to_string(code);
        return false;
    }
}

int postEvent(int code, const std::vector<int> &ids)
{
    Session *s = g_session;
    if (s == nullptr || !s->db.begin())
        return -1;
    std::string err;
    {
        WriteScope w(s->db);
        if (!w.ok() || !postEventOn(s->db, code, ids, err) || !w.release())
            return -1;
    }
    // Posted as another process would: visible at once.
    return s->db.commit() ? 0 : -1;
}

namespace {

// Posts the event in a transaction of its own; 0 or -1.
int postOn(Db &db, int code, const std::vector<int> &ids, std::string &error)
{
    if (!db.begin()) {
        error = db.lastError();
        return -1;
    }
    if (!postEventOn(db, code, ids, error)) {
        db.rollback();
        return -1;
    }
    if (!db.commit()) {
        error = db.lastError();
        return -1;
    }
    return 0;
}

}  // namespace

int postEventToFile(const std::string &dbPath, int code, const std::vector<int> &ids, std::string &error)
{
    Db db;
    if (pgmap::isServerLocation(dbPath)) {
        // A server's map: no lock taken, so the daemon writing it goes on;
        // the insertion into events wakes it.
        std::unique_ptr<Engine> engine;
        if (pgmap::openReader(dbPath, engine, error) != 0) {
            error = "cannot post to " + pgmap::displayUri(dbPath) + ": " + error;
            return -1;
        }
        db.useEngine(std::move(engine));
        return postOn(db, code, ids, error);
    }
    std::string path = hostPath(dbPath);
    if (!hostFileExists(path)) {
        error = "no map database at " + path;
        return -1;
    }
    if (!db.open(path, false, error))
        return -1;
    {
        Stmt q(db, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'events'");
        if (q.step() != kResultRow) {
            error = path + " is not a map database";
            return -1;
        }
    }
    return postOn(db, code, ids, error);
}

}  // namespace mapdb

using namespace mapdb;

extern "C" int OVwAddCallback(int event, void *reserved, OVwCallbackProc proc, void *user_data)
{
    (void)reserved;
    if (hooked("OVwAddCallback", event))
        return -1;
    Session *s = connectedSession();
    if (s == nullptr)
        return -1;
    if (proc == nullptr)
        return fail(OVw_BAD_ARGUMENT, -1);
    s->callbacks[event] = Callback{proc, user_data};
    setError(OVw_SUCCESS);
    return 0;
}

extern "C" int OVwRemoveCallback(int event, void *reserved)
{
    (void)reserved;
    if (hooked("OVwRemoveCallback", event))
        return -1;
    Session *s = connectedSession();
    if (s == nullptr)
        return -1;
    if (s->callbacks.erase(event) == 0)
        return fail(OVw_NO_SUCH_CALLBACK, -1);
    setError(OVw_SUCCESS);
    return 0;
}

extern "C" int OVwPending(void)
{
    if (hooked("OVwPending"))
        return 0;
    Session *s = connectedSession();
    if (s == nullptr)
        return 0;
    // A file's look at the events is made inside the turn's write
    // transaction, where it sees all that others committed, as they cannot
    // write while the turn holds the lock. Otherwise it comes after the
    // commit, on the newest snapshot; a server runs it in the commit's round
    // trip.
    const bool writing = s->db.inWriteTransaction();
    const bool lookFirst = writing && s->db.engine() == nullptr;
    // Ended before the session can be (endUnusable closes it).
    std::optional<Stmt> look;
    look.emplace(s->db, "SELECT 1 FROM events LIMIT 1");
    int rc = lookFirst ? look->step() : kResultDone;
    // The end of a loop turn: what the turn wrote lands now, unless a
    // statement of the turn failed for a reason that may pass (full disk,
    // I/O error, another writer's lock): then none of it does, so that a
    // message is never stored in part, and the caller makes the turn again.
    // Damage met in the turn, a database file that is no longer the one
    // opened (one stat per write turn), or a commit that failed for a reason
    // that does not pass: nothing of the turn is stored, and the session
    // ends, as every later turn would fail the same way or write to a file
    // that is not the map.
    int fault = s->db.takeTurnFault();
    std::string unusable = s->db.takeDamage();
    if (unusable.empty() && writing && fault == 0)
        unusable = fileMovedCause(*s);
    if (fault == 0 && unusable.empty() && !(lookFirst ? s->db.commit() : s->db.commit(*look))) {
        fault = s->db.takeTurnFault();
        if (fault == 0)
            unusable = "the commit failed: " + s->db.lastFailure();
    }
    if (!unusable.empty()) {
        look.reset();
        endUnusable(unusable);
        return 0;
    }
    if (fault != 0 || s->db.inTransaction()) {
        s->db.rollback();
        s->db.takeTurnFault();
        // The map row may have changed in the turn (map open or closed).
        loadMap(*s);
        return fail(fault != 0 ? fault : OVw_STORAGE_FAILURE, 0);
    }
    if (!lookFirst)
        rc = look->step();
    if (rc != kResultRow && rc != kResultDone) {
        s->db.takeTurnFault();
        return fail(OVw_STORAGE_FAILURE, 0);
    }
    setError(OVw_SUCCESS);
    return rc == kResultRow ? 1 : 0;
}

extern "C" int OVwWaitForEvent(int timeoutMs)
{
    if (hooked("OVwWaitForEvent"))
        return -1;
    Session *s = connectedSession();
    if (s == nullptr)
        return -1;
    setError(OVw_SUCCESS);
    Engine *e = s->db.engine();
    if (e == nullptr || e->noticeSocket() < 0) {
        sleepUnlessStopped(timeoutMs);
        return 0;
    }
    // A lost connection is OVwPending's to find and make again.
    return e->waitForNotices(timeoutMs) > 0 ? 1 : 0;
}

extern "C" int OVwDiscardTurn(void)
{
    if (hooked("OVwDiscardTurn"))
        return -1;
    Session *s = connectedSession();
    if (s == nullptr)
        return -1;
    // A fault or damage is OVwPending's to report: the turn is made again or
    // the run ends, and either needs the turn as it stands.
    if (s->db.inTransaction() && s->db.turnFault() == 0 && !s->db.damaged()) {
        s->db.rollback();
        // The map row may have changed in the turn (map open or closed).
        loadMap(*s);
    }
    setError(OVw_SUCCESS);
    return 0;
}

extern "C" int OVwProcessEvent(void)
{
    if (hooked("OVwProcessEvent"))
        return -1;
    Session *s = session();
    if (s == nullptr)
        return -1;
    int64_t id = 0;
    int code = 0;
    std::string data;
    bool hasData = false;
    {
        Stmt q(s->db, "SELECT id, code, data FROM events ORDER BY id LIMIT 1");
        int rc = q.step();
        if (rc == kResultDone) {
            setError(OVw_SUCCESS);
            return 0;
        }
        if (rc != kResultRow)
            return fail(OVw_STORAGE_FAILURE, -1);
        id = q.i64(0);
        code = q.i32(1);
        hasData = !q.isNull(2);
        if (hasData)
            data = q.text(2);
    }
    // The notices of posted events have done their work: the table tells.
    if (Engine *e = s->db.engine())
        e->takeNotices();
    // Taking the event is part of the turn's transaction: if the process dies
    // before the next commit, the event is delivered again.
    if (!beginWrite(*s))
        return -1;
    {
        Stmt q(s->db, "DELETE FROM events WHERE id = ?1");
        q.bind(1, id);
        if (!q.run())
            return fail(OVw_STORAGE_FAILURE, -1);
    }
    EventData ev;
    if (!ev.decode(*s, code, hasData ? data.c_str() : nullptr))
        return fail(OVw_EVENT_CHANNEL_FAILURE, -1);
    if ((code == OVwEventMapClose || code == OVwEventMapOpen) && !setMapOpen(*s, code == OVwEventMapOpen))
        return fail(OVw_STORAGE_FAILURE, -1);

    auto it = s->callbacks.find(code);
    if (it == s->callbacks.end()) {
        setError(OVw_SUCCESS);
        return 0;
    }
    Callback cb = it->second;
    OVwMapInfo map{};
    std::string mapName = s->mapName;
    map.map_name = &mapName[0];
    map.root_submap_id = s->rootSubmap;
    map.is_open = s->mapOpen ? 1 : 0;
    // The handler may call anything, even OVwDone: nothing of the session is
    // used after it returns.
    cb.proc(cb.userData, code, &map, ev.pointer);
    setError(OVw_SUCCESS);
    return 0;
}
