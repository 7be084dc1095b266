// Map objects: selection names, object information and deletion.
#include "mapdb/internal.h"

#include <cstdlib>
#include <string>

namespace mapdb {

bool deleteObjectCascade(Db &db, OVwObjectId id)
{
    // The object's own symbols, then the submaps it parents with every symbol
    // on them; connections ending at any of these go too.
    std::vector<OVwSymbolId> doomed;
    {
        Stmt q(db, "SELECT id FROM symbols WHERE object = ?1");
        q.bind(1, id);
        int rc;
        while ((rc = q.step()) == kResultRow)
            doomed.push_back(q.i32(0));
        if (rc != kResultDone)
            return false;
    }
    std::vector<OVwSubmapId> submaps;
    {
        Stmt q(db, "SELECT id FROM submaps WHERE parent_object = ?1");
        q.bind(1, id);
        int rc;
        while ((rc = q.step()) == kResultRow)
            submaps.push_back(q.i32(0));
        if (rc != kResultDone)
            return false;
    }
    for (OVwSubmapId sm : submaps) {
        Stmt q(db, "SELECT id FROM symbols WHERE submap = ?1");
        q.bind(1, sm);
        int rc;
        while ((rc = q.step()) == kResultRow)
            doomed.push_back(q.i32(0));
        if (rc != kResultDone)
            return false;
    }
    if (!deleteSymbolsCascade(db, doomed, nullptr))
        return false;
    db.forgetSubmaps();
    for (OVwSubmapId sm : submaps) {
        Stmt q(db, "DELETE FROM submaps WHERE id = ?1");
        q.bind(1, sm);
        if (!q.run())
            return false;
    }
    {
        Stmt q(db, "DELETE FROM field_values WHERE object = ?1");
        q.bind(1, id);
        if (!q.run())
            return false;
    }
    db.forgetKnownObject();
    db.forgetObject(id);
    db.forgetTurnValues(id);
    Stmt q(db, "DELETE FROM objects WHERE id = ?1");
    q.bind(1, id);
    return q.run();
}

}  // namespace mapdb

using namespace mapdb;

extern "C" OVwObjectId OVwDbSelectionNameToObjectId(const char *selection_name)
{
    if (hooked("OVwDbSelectionNameToObjectId", selection_name))
        return 0;
    Session *s = session();
    if (s == nullptr)
        return 0;
    if (selection_name == nullptr)
        return fail(OVw_BAD_ARGUMENT, 0);
    if (OVwObjectId known = s->db.cachedObjectId(selection_name)) {
        setError(OVw_SUCCESS);
        return known;
    }
    Stmt q(s->db, "SELECT id FROM objects WHERE selection_name = ?1");
    q.bind(1, selection_name);
    int rc = q.step();
    if (rc == kResultRow) {
        const OVwObjectId id = q.i32(0);
        s->db.rememberObject(id, selection_name);
        setError(OVw_SUCCESS);
        return id;
    }
    return fail(rc == kResultDone ? OVw_NO_SUCH_OBJECT : OVw_STORAGE_FAILURE, 0);
}

extern "C" OVwObjectId OVwDbCreateObjectBySelectionName(const char *selection_name)
{
    if (hooked("OVwDbCreateObjectBySelectionName", selection_name))
        return 0;
    Session *s = session();
    if (s == nullptr)
        return 0;
    if (selection_name == nullptr || *selection_name == '\0')
        return fail(OVw_BAD_ARGUMENT, 0);
    if (!beginWrite(*s))
        return 0;
    Stmt q(s->db, "INSERT INTO objects(selection_name) VALUES(?1)");
    q.bind(1, selection_name);
    int rc = q.step();
    if (rc == kResultDone) {
        const auto id = static_cast<OVwObjectId>(s->db.lastInsertId());
        // The values a creating call sets next need not look for the object.
        s->db.setKnownObject(id);
        s->db.rememberObject(id, selection_name);
        setError(OVw_SUCCESS);
        return id;
    }
    return fail(rc == kResultConstraint ? OVw_DUPLICATE_SELECTION_NAME : OVw_STORAGE_FAILURE, 0);
}

extern "C" char *OVwDbObjectIdToSelectionName(OVwObjectId object)
{
    if (hooked("OVwDbObjectIdToSelectionName", object))
        return nullptr;
    Session *s = session();
    if (s == nullptr)
        return nullptr;
    std::string known;
    if (const std::string *cached = s->db.cachedObjectName(object)) {
        known = *cached;
    } else {
        Stmt q(s->db, "SELECT selection_name FROM objects WHERE id = ?1");
        q.bind(1, object);
        int rc = q.step();
        if (rc != kResultRow)
            return fail(rc == kResultDone ? OVw_NO_SUCH_OBJECT : OVw_STORAGE_FAILURE, static_cast<char *>(nullptr));
        if (!q.isNull(0)) {
            known = q.text(0);
            s->db.rememberObject(object, known.c_str());
        }
    }
    char *name = dupString(known.c_str());
    if (name == nullptr)
        return fail(OVw_OUT_OF_MEMORY, name);
    setError(OVw_SUCCESS);
    return name;
}

extern "C" int OVwDbDeleteObject(OVwObjectId object)
{
    if (hooked("OVwDbDeleteObject", object))
        return -1;
    Session *s = session();
    if (s == nullptr)
        return -1;
    if (!objectExists(s->db, object))
        return fail(OVw_NO_SUCH_OBJECT, -1);
    if (!beginWrite(*s))
        return -1;
    WriteScope w(s->db);
    if (!w.ok() || !deleteObjectCascade(s->db, object) || !w.release())
        return fail(OVw_STORAGE_FAILURE, -1);
    setError(OVw_SUCCESS);
    return 0;
}

extern "C" OVwObjectInfo *OVwGetObjectInfo(OVwMapInfo *map, OVwObjectId object)
{
    if (hooked("OVwGetObjectInfo", object))
        return nullptr;
    Session *s = mapSession(map);
    if (s == nullptr)
        return nullptr;
    Stmt q(s->db,
           "SELECT o.selection_name,"
           " (SELECT id FROM submaps WHERE parent_object = o.id ORDER BY id LIMIT 1),"
           " (SELECT count(*) FROM symbols WHERE object = o.id)"
           " FROM objects o WHERE o.id = ?1");
    q.bind(1, object);
    int rc = q.step();
    if (rc != kResultRow)
        return fail(rc == kResultDone ? OVw_NO_SUCH_OBJECT : OVw_STORAGE_FAILURE,
                    static_cast<OVwObjectInfo *>(nullptr));
    auto *info = static_cast<OVwObjectInfo *>(std::calloc(1, sizeof(OVwObjectInfo)));
    if (info == nullptr)
        return fail(OVw_OUT_OF_MEMORY, info);
    info->object_id = object;
    info->selection_name = q.dupText(0);
    info->child_submap_id = q.isNull(1) ? 0 : q.i32(1);
    info->num_symbols = q.i32(2);
    s->db.rememberSubmap(info->child_submap_id);
    setError(OVw_SUCCESS);
    return info;
}

extern "C" void OVwFreeObjectInfo(OVwObjectInfo *info)
{
    journaled("OVwFreeObjectInfo");
    if (info == nullptr)
        return;
    std::free(info->selection_name);
    std::free(info);
}
