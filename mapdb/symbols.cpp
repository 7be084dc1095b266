// Symbols, connections and submaps.
#include "mapdb/internal.h"

#include <cstdlib>
#include <cstring>
#include <unordered_set>

namespace mapdb {

#define SYMBOL_COLUMNS \
    "id, submap, object, status_source, variety, flags, status, symbol_type, label, conn_a, conn_z"

void freeSymbolRecords(OVwSymbolInfo *recs, int count)
{
    if (recs == nullptr)
        return;
    for (int i = 0; i < count; ++i) {
        std::free(recs[i].symbol_type);
        std::free(recs[i].label);
    }
    std::free(recs);
}

Db::SymbolRow symbolRowAt(const Stmt &q, int at)
{
    Db::SymbolRow r;
    r.id = q.i32(at);
    r.submap = q.i32(at + 1);
    r.object = q.i32(at + 2);
    r.statusSource = q.i32(at + 3);
    r.variety = q.i32(at + 4);
    r.flags = q.i64(at + 5);
    r.status = q.i32(at + 6);
    r.hasType = !q.isNull(at + 7);
    if (r.hasType)
        r.type = q.text(at + 7);
    r.hasLabel = !q.isNull(at + 8);
    if (r.hasLabel)
        r.label = q.text(at + 8);
    r.connA = q.i32(at + 9);
    r.connZ = q.i32(at + 10);
    return r;
}

namespace {

char *dupOrNull(bool has, const std::string &text)
{
    return has ? strdup(text.c_str()) : nullptr;
}

// The platform's list of the rows (freed by OVwFreeSymbolList); null, with
// the error set, when memory runs out.
OVwSymbolList *symbolList(const Db::SymbolRows &rows)
{
    auto *list = static_cast<OVwSymbolList *>(std::calloc(1, sizeof(OVwSymbolList)));
    if (list != nullptr && !rows.empty()) {
        list->symbols = static_cast<OVwSymbolInfo *>(std::calloc(rows.size(), sizeof(OVwSymbolInfo)));
        bool ok = list->symbols != nullptr;
        for (size_t i = 0; ok && i < rows.size(); ++i) {
            const Db::SymbolRow &r = rows[i];
            OVwSymbolInfo &out = list->symbols[i];
            out.symbol_id = r.id;
            out.submap_id = r.submap;
            out.object_id = r.object;
            out.status_source = r.statusSource;
            out.symbol_variety = r.variety;
            // A connection the platform derived itself carries non-zero
            // flags; connections made through OVwCreateConnSymbol have none.
            out.conn_derived = (r.variety == OVwConnSymbol && r.flags != 0) ? 1 : 0;
            out.status = r.status;
            out.symbol_type = dupOrNull(r.hasType, r.type);
            out.label = dupOrNull(r.hasLabel, r.label);
            out.conn_a = r.connA;
            out.conn_z = r.connZ;
            list->count = static_cast<int32_t>(i + 1);
            ok = (!r.hasType || out.symbol_type != nullptr) && (!r.hasLabel || out.label != nullptr);
        }
        if (!ok) {
            freeSymbolRecords(list->symbols, list->count);
            std::free(list);
            list = nullptr;
        }
    }
    if (list == nullptr)
        return fail(OVw_OUT_OF_MEMORY, static_cast<OVwSymbolList *>(nullptr));
    setError(OVw_SUCCESS);
    return list;
}

}  // namespace

OVwSymbolList *collectSymbols(Stmt &q)
{
    Db::SymbolRows rows;
    int rc;
    while ((rc = q.step()) == kResultRow)
        rows.push_back(symbolRowAt(q, 0));
    if (rc != kResultDone)
        return fail(OVw_STORAGE_FAILURE, static_cast<OVwSymbolList *>(nullptr));
    return symbolList(rows);
}

// The symbols of a list read in the open transaction are known to exist.
static OVwSymbolList *rememberSymbols(Db &db, OVwSymbolList *list)
{
    for (int32_t i = 0; list != nullptr && i < list->count; ++i)
        db.rememberSymbol(list->symbols[i].symbol_id, list->symbols[i].submap_id);
    return list;
}

bool deleteSymbolsCascade(Db &db, const std::vector<OVwSymbolId> &ids, std::vector<DeletedSymbol> *deleted)
{
    // Breadth first: each symbol is reported before the connections that
    // ended at it.
    std::vector<OVwSymbolId> queue(ids.begin(), ids.end());
    std::unordered_set<OVwSymbolId> seen;
    for (size_t i = 0; i < queue.size(); ++i) {
        OVwSymbolId id = queue[i];
        if (!seen.insert(id).second)
            continue;
        DeletedSymbol d{id, 0, 0, 0, 0};
        {
            Stmt q(db, "SELECT submap, object, variety, status_source FROM symbols WHERE id = ?1");
            q.bind(1, id);
            int rc = q.step();
            if (rc == kResultDone)
                continue;
            if (rc != kResultRow)
                return false;
            d.submap = q.i32(0);
            d.object = q.i32(1);
            d.variety = q.i32(2);
            d.statusSource = q.i32(3);
        }
        {
            Stmt q(db, "SELECT id FROM symbols WHERE variety = 2 AND conn_a = ?1"
                       " UNION SELECT id FROM symbols WHERE variety = 2 AND conn_z = ?1 ORDER BY 1");
            q.bind(1, id);
            int rc;
            while ((rc = q.step()) == kResultRow)
                queue.push_back(q.i32(0));
            if (rc != kResultDone)
                return false;
        }
        db.forgetSymbols();
        Stmt q(db, "DELETE FROM symbols WHERE id = ?1");
        q.bind(1, id);
        if (!q.run())
            return false;
        if (deleted != nullptr)
            deleted->push_back(d);
    }
    return true;
}

}  // namespace mapdb

using namespace mapdb;

// ---- symbols -------------------------------------------------------------------------

extern "C" OVwSymbolList *OVwGetSymbolsByObject(OVwMapInfo *map, OVwObjectId object)
{
    if (hooked("OVwGetSymbolsByObject", object))
        return nullptr;
    Session *s = mapSession(map);
    if (s == nullptr)
        return nullptr;
    if (!objectExists(s->db, object))
        return fail(OVw_NO_SUCH_OBJECT, static_cast<OVwSymbolList *>(nullptr));
    if (const Db::SymbolRows *rows = s->db.turnSymbols(object))
        return symbolList(*rows);
    Stmt q(s->db, "SELECT " SYMBOL_COLUMNS " FROM symbols WHERE object = ?1 ORDER BY id");
    q.bind(1, object);
    return rememberSymbols(s->db, collectSymbols(q));
}

extern "C" void OVwFreeSymbolList(OVwSymbolList *list)
{
    journaled("OVwFreeSymbolList");
    if (list == nullptr)
        return;
    freeSymbolRecords(list->symbols, list->count);
    std::free(list);
}

extern "C" OVwSymbolList *OVwListSymbols(OVwMapInfo *map, OVwSubmapId submap, int which, const char *app_name)
{
    if (hooked("OVwListSymbols", submap, which, app_name))
        return nullptr;
    Session *s = mapSession(map);
    if (s == nullptr)
        return nullptr;
    if (!submapExists(s->db, submap))
        return fail(OVw_NO_SUCH_SUBMAP, static_cast<OVwSymbolList *>(nullptr));
    Stmt q(s->db, "SELECT " SYMBOL_COLUMNS " FROM symbols WHERE submap = ?1 ORDER BY id");
    q.bind(1, submap);
    return rememberSymbols(s->db, collectSymbols(q));
}

extern "C" OVwSymbolId OVwCreateSymbol(OVwMapInfo *map, OVwSubmapId submap, OVwObjectId object,
                                       const char *symbol_type, const char *label, int status, int status_source,
                                       const OVwPosition *position, int flags)
{
    if (hooked("OVwCreateSymbol", submap, object, symbol_type, label, status, status_source, flags))
        return 0;
    Session *s = mapSession(map);
    if (s == nullptr)
        return 0;
    if (!submapExists(s->db, submap))
        return fail(OVw_NO_SUCH_SUBMAP, 0);
    if (!objectExists(s->db, object))
        return fail(OVw_NO_SUCH_OBJECT, 0);
    if (!beginWrite(*s))
        return 0;
    Stmt q(s->db,
           "INSERT INTO symbols(submap, object, variety, symbol_type, label, status, status_source, flags,"
           " conn_a, conn_z, pos_x, pos_y) VALUES(?1, ?2, 1, ?3, ?4, ?5, ?6, ?7, 0, 0, ?8, ?9)");
    q.bind(1, submap).bind(2, object).bind(3, symbol_type).bind(4, label).bind(5, status).bind(6, status_source);
    q.bind(7, flags);
    if (position != nullptr)
        q.bind(8, position->x).bind(9, position->y);
    if (!q.run())
        return fail(OVw_STORAGE_FAILURE, 0);
    setError(OVw_SUCCESS);
    s->db.forgetTurnSymbols();
    s->db.rememberSymbol(static_cast<OVwSymbolId>(s->db.lastInsertId()), submap);
    return static_cast<OVwSymbolId>(s->db.lastInsertId());
}

extern "C" OVwSymbolId OVwCreateConnSymbol(OVwMapInfo *map, OVwObjectId object, OVwSymbolId end_a,
                                           OVwSymbolId end_z, const char *symbol_type, const char *label,
                                           int status, int status_source, int flags)
{
    if (hooked("OVwCreateConnSymbol", object, end_a, end_z, symbol_type, label, status, status_source, flags))
        return 0;
    Session *s = mapSession(map);
    if (s == nullptr)
        return 0;
    if (!objectExists(s->db, object))
        return fail(OVw_NO_SUCH_OBJECT, 0);
    OVwSubmapId submaps[2] = {0, 0};
    const OVwSymbolId ends[2] = {end_a, end_z};
    for (int i = 0; i < 2; ++i) {
        if ((submaps[i] = s->db.knownSymbolSubmap(ends[i])) != 0)
            continue;
        Stmt q(s->db, "SELECT submap FROM symbols WHERE id = ?1");
        q.bind(1, ends[i]);
        int rc = q.step();
        if (rc != kResultRow)
            return fail(rc == kResultDone ? OVw_NO_SUCH_SYMBOL : OVw_STORAGE_FAILURE, 0);
        submaps[i] = q.i32(0);
    }
    // A connection joins two symbols of one submap and is drawn there.
    if (submaps[0] != submaps[1])
        return fail(OVw_BAD_ARGUMENT, 0);
    if (!beginWrite(*s))
        return 0;
    Stmt q(s->db,
           "INSERT INTO symbols(submap, object, variety, symbol_type, label, status, status_source, flags,"
           " conn_a, conn_z) VALUES(?1, ?2, 2, ?3, ?4, ?5, ?6, 0, ?7, ?8)");
    q.bind(1, submaps[0]).bind(2, object).bind(3, symbol_type).bind(4, label).bind(5, status);
    q.bind(6, status_source).bind(7, end_a).bind(8, end_z);
    if (!q.run())
        return fail(OVw_STORAGE_FAILURE, 0);
    setError(OVw_SUCCESS);
    s->db.forgetTurnSymbols();
    s->db.rememberSymbol(static_cast<OVwSymbolId>(s->db.lastInsertId()), submaps[0]);
    return static_cast<OVwSymbolId>(s->db.lastInsertId());
}

// Runs an update of one symbol row: 0, or -1 with the error set.
static int updateSymbol(Session &s, Stmt &q, OVwSymbolId symbol)
{
    s.db.forgetTurnSymbols();
    if (!q.run())
        return fail(OVw_STORAGE_FAILURE, -1);
    // The updates skip a row that already holds the value (no page changes):
    // no change means that, or no such symbol, unless the turn has seen it.
    if (!s.db.knownSymbol(symbol) && s.db.changes() == 0 && !symbolExists(s.db, symbol))
        return fail(OVw_NO_SUCH_SYMBOL, -1);
    setError(OVw_SUCCESS);
    return 0;
}

extern "C" int OVwSetStatusOnSymbol(OVwMapInfo *map, OVwSymbolId symbol, int status)
{
    if (hooked("OVwSetStatusOnSymbol", symbol, status))
        return -1;
    Session *s = mapSession(map);
    if (s == nullptr || !beginWrite(*s))
        return -1;
    Stmt q(s->db, "UPDATE symbols SET status = ?2 WHERE id = ?1 AND status IS NOT ?2");
    q.bind(1, symbol).bind(2, status);
    return updateSymbol(*s, q, symbol);
}

extern "C" int OVwSetSymbolType(OVwMapInfo *map, OVwSymbolId symbol, const char *symbol_type, int flags)
{
    if (hooked("OVwSetSymbolType", symbol, symbol_type, flags))
        return -1;
    Session *s = mapSession(map);
    if (s == nullptr || !beginWrite(*s))
        return -1;
    Stmt q(s->db, "UPDATE symbols SET symbol_type = ?2 WHERE id = ?1 AND symbol_type IS NOT ?2");
    q.bind(1, symbol).bind(2, symbol_type);
    return updateSymbol(*s, q, symbol);
}

extern "C" int OVwSetSymbolLabel(OVwMapInfo *map, OVwSymbolId symbol, const char *label)
{
    if (hooked("OVwSetSymbolLabel", symbol, label))
        return -1;
    Session *s = mapSession(map);
    if (s == nullptr || !beginWrite(*s))
        return -1;
    Stmt q(s->db, "UPDATE symbols SET label = ?2 WHERE id = ?1 AND label IS NOT ?2");
    q.bind(1, symbol).bind(2, label);
    return updateSymbol(*s, q, symbol);
}

extern "C" int OVwDeleteSymbol(OVwMapInfo *map, OVwSymbolId symbol)
{
    if (hooked("OVwDeleteSymbol", symbol))
        return -1;
    Session *s = mapSession(map);
    if (s == nullptr)
        return -1;
    if (!symbolExists(s->db, symbol))
        return fail(OVw_NO_SUCH_SYMBOL, -1);
    if (!beginWrite(*s))
        return -1;
    WriteScope w(s->db);
    if (!w.ok() || !deleteSymbolsCascade(s->db, {symbol}, nullptr) || !w.release())
        return fail(OVw_STORAGE_FAILURE, -1);
    setError(OVw_SUCCESS);
    return 0;
}

// ---- submaps ----------------------------------------------------------------------------

extern "C" OVwSubmapId OVwCreateSubmap(OVwMapInfo *map, OVwObjectId parent_object, int submap_type,
                                       int reserved, const char *name, int layout, int flags)
{
    (void)reserved;
    if (hooked("OVwCreateSubmap", parent_object, submap_type, name, layout, flags))
        return 0;
    Session *s = mapSession(map);
    if (s == nullptr)
        return 0;
    if (!objectExists(s->db, parent_object))
        return fail(OVw_NO_SUCH_OBJECT, 0);
    if (!beginWrite(*s))
        return 0;
    // An object parents at most one submap: asking again gives that submap,
    // with the type, name and layout of this call, and keeps its contents.
    OVwSubmapId existing = 0;
    {
        Stmt q(s->db, "SELECT id FROM submaps WHERE parent_object = ?1 ORDER BY id LIMIT 1");
        q.bind(1, parent_object);
        int rc = q.step();
        if (rc == kResultRow)
            existing = q.i32(0);
        else if (rc != kResultDone)
            return fail(OVw_STORAGE_FAILURE, 0);
    }
    if (existing != 0) {
        Stmt q(s->db, "UPDATE submaps SET type = ?2, name = ?3, layout = ?4 WHERE id = ?1");
        q.bind(1, existing).bind(2, submap_type).bind(3, name).bind(4, layout);
        if (!q.run())
            return fail(OVw_STORAGE_FAILURE, 0);
        setError(OVw_SUCCESS);
        return existing;
    }
    Stmt q(s->db, "INSERT INTO submaps(parent_object, type, name, layout, background) VALUES(?1, ?2, ?3, ?4, NULL)");
    q.bind(1, parent_object).bind(2, submap_type).bind(3, name).bind(4, layout);
    if (!q.run())
        return fail(OVw_STORAGE_FAILURE, 0);
    setError(OVw_SUCCESS);
    s->db.rememberSubmap(static_cast<OVwSubmapId>(s->db.lastInsertId()));
    return static_cast<OVwSubmapId>(s->db.lastInsertId());
}

extern "C" int OVwSetBackgroundGraphic(OVwMapInfo *map, OVwSubmapId submap, const char *graphic)
{
    if (hooked("OVwSetBackgroundGraphic", submap, graphic))
        return -1;
    Session *s = mapSession(map);
    if (s == nullptr || !beginWrite(*s))
        return -1;
    Stmt q(s->db, "UPDATE submaps SET background = ?2 WHERE id = ?1");
    q.bind(1, submap).bind(2, graphic);
    if (!q.run())
        return fail(OVw_STORAGE_FAILURE, -1);
    if (s->db.changes() == 0)
        return fail(OVw_NO_SUCH_SUBMAP, -1);
    setError(OVw_SUCCESS);
    return 0;
}

static bool fillSubmap(const Stmt &q, OVwSubmapInfo &info)
{
    info.submap_id = q.i32(0);
    info.parent_object_id = q.i32(1);
    info.submap_type = q.i32(2);
    info.layout = q.i32(3);
    info.name = q.dupText(4);
    info.background = q.dupText(5);
    return (q.isNull(4) || info.name != nullptr) && (q.isNull(5) || info.background != nullptr);
}

extern "C" OVwSubmapInfo *OVwGetSubmapInfo(OVwMapInfo *map, OVwSubmapId submap)
{
    if (hooked("OVwGetSubmapInfo", submap))
        return nullptr;
    Session *s = mapSession(map);
    if (s == nullptr)
        return nullptr;
    Stmt q(s->db, "SELECT id, parent_object, type, layout, name, background FROM submaps WHERE id = ?1");
    q.bind(1, submap);
    int rc = q.step();
    if (rc != kResultRow)
        return fail(rc == kResultDone ? OVw_NO_SUCH_SUBMAP : OVw_STORAGE_FAILURE,
                    static_cast<OVwSubmapInfo *>(nullptr));
    auto *info = static_cast<OVwSubmapInfo *>(std::calloc(1, sizeof(OVwSubmapInfo)));
    if (info == nullptr)
        return fail(OVw_OUT_OF_MEMORY, info);
    if (!fillSubmap(q, *info)) {
        OVwFreeSubmapInfo(info);
        return fail(OVw_OUT_OF_MEMORY, static_cast<OVwSubmapInfo *>(nullptr));
    }
    setError(OVw_SUCCESS);
    return info;
}

extern "C" void OVwFreeSubmapInfo(OVwSubmapInfo *info)
{
    journaled("OVwFreeSubmapInfo");
    if (info == nullptr)
        return;
    std::free(info->name);
    std::free(info->background);
    std::free(info);
}

extern "C" OVwSubmapList *OVwListSubmaps(OVwMapInfo *map, const char *app_name, int which, int flags)
{
    if (hooked("OVwListSubmaps", app_name, which, flags))
        return nullptr;
    Session *s = mapSession(map);
    if (s == nullptr)
        return nullptr;
    std::vector<OVwSubmapInfo> recs;
    Stmt q(s->db, "SELECT id, parent_object, type, layout, name, background FROM submaps ORDER BY id");
    int rc;
    bool ok = true;
    while (ok && (rc = q.step()) == kResultRow) {
        OVwSubmapInfo r{};
        ok = fillSubmap(q, r);
        recs.push_back(r);
    }
    auto *list = static_cast<OVwSubmapList *>(std::calloc(1, sizeof(OVwSubmapList)));
    if (list != nullptr && ok && rc == kResultDone && !recs.empty()) {
        list->submaps = static_cast<OVwSubmapInfo *>(std::malloc(recs.size() * sizeof(OVwSubmapInfo)));
        if (list->submaps != nullptr) {
            std::memcpy(list->submaps, recs.data(), recs.size() * sizeof(OVwSubmapInfo));
            list->count = static_cast<int32_t>(recs.size());
            recs.clear();
        }
    }
    if (list == nullptr || !ok || rc != kResultDone || !recs.empty()) {
        for (OVwSubmapInfo &r : recs) {
            std::free(r.name);
            std::free(r.background);
        }
        std::free(list);
        return fail(ok && rc != kResultDone ? OVw_STORAGE_FAILURE : OVw_OUT_OF_MEMORY,
                    static_cast<OVwSubmapList *>(nullptr));
    }
    setError(OVw_SUCCESS);
    return list;
}

extern "C" void OVwFreeSubmapList(OVwSubmapList *list)
{
    journaled("OVwFreeSubmapList");
    if (list == nullptr)
        return;
    for (int i = 0; i < list->count && list->submaps != nullptr; ++i) {
        std::free(list->submaps[i].name);
        std::free(list->submaps[i].background);
    }
    std::free(list->submaps);
    std::free(list);
}
