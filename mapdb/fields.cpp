// The field database: field definitions and typed values on objects.
//
// A scalar value sits in int_value (integer, boolean, enumeration) or
// text_value (string); a list is a JSON array in text_value (lists.cpp).
#include "mapdb/internal.h"
#include "mapdb/lists.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace mapdb {

namespace {

bool validType(int type) { return type >= OVwIntegerField && type <= OVwEnumField; }

// Checks a write of a value of (type, isList) to the field on the object.
bool checkWrite(Session &s, OVwObjectId object, OVwFieldId field, int type, bool isList, FieldDef &def)
{
    if (!fieldDef(s, field, def))
        return fail(OVw_NO_SUCH_FIELD, false);
    if (def.type != type || def.isList != isList)
        return fail(OVw_FIELD_TYPE_MISMATCH, false);
    if (!objectExists(s.db, object))
        return fail(OVw_NO_SUCH_OBJECT, false);
    return beginWrite(s);
}

// A value from columns at..at+4 of a row: field, type, is_list, int_value,
// text_value.
Db::Value valueAt(const Stmt &q, int at)
{
    Db::Value v;
    v.field = q.i32(at);
    v.type = q.i32(at + 1);
    v.isList = q.i64(at + 2) != 0;
    v.intValue = q.i64(at + 3);
    v.hasText = !q.isNull(at + 4);
    if (v.hasText)
        v.text = q.text(at + 4);
    return v;
}

// Keeps what a read of a whole object gave: it exists, its name, its values.
void keepObject(Session &s, OVwObjectId object, const char *name, Db::Values values)
{
    s.db.setKnownObject(object);
    if (name != nullptr)
        s.db.rememberObject(object, name);
    s.db.keepTurnValues(object, std::move(values));
}

// On a server, the object's values in the open transaction, read whole at
// the first look with the object's selection name (so the object is known
// to exist, and by name); null on a file, for an object that does not
// exist, and on a failure (the caller then asks for the one value).
const Db::Values *objectValues(Session &s, OVwObjectId object)
{
    if (s.db.engine() == nullptr || object == 0)
        return nullptr;
    if (const Db::Values *known = s.db.turnValues(object))
        return known;
    Stmt q(s.db, "SELECT o.selection_name, v.field, v.type, v.is_list, v.int_value, v.text_value"
                 " FROM objects o LEFT JOIN field_values v ON v.object = o.id WHERE o.id = ?1 ORDER BY v.field");
    q.bind(1, object);
    Db::Values values;
    std::string name;
    int rc = kResultDone;
    bool found = false, named = false;
    while ((rc = q.step()) == kResultRow) {
        if (!found && q.text(0) != nullptr) {
            name = q.text(0);
            named = true;
        }
        found = true;
        if (!q.isNull(1))   // else an object without values
            values.push_back(valueAt(q, 1));
    }
    if (rc != kResultDone || !found)
        return nullptr;
    keepObject(s, object, named ? name.c_str() : nullptr, std::move(values));
    return s.db.turnValues(object);
}

// On a server, the objects whose located text field holds the text; when
// there is one (a name is looked up to act on its object), its name, values
// and symbols come in the same round trip (objectValues, turnSymbols). rc:
// kResultDone or the failure code.
void objectsNamed(Session &s, OVwFieldId field, const char *text, std::vector<OVwObjectId> &ids, int &rc)
{
    // Rows of kind 0 list the objects; when there is one, rows of kind 1
    // hold its values and rows of kind 2 its symbols.
    Stmt q(s.db, "WITH m AS (SELECT object FROM field_values WHERE field = ?1 AND located = 1 AND text_value = ?2"
                 " AND is_list = 0),"
                 " one AS (SELECT id, selection_name FROM objects WHERE id IN (SELECT object FROM m)"
                 " AND (SELECT count(*) FROM m) = 1)"
                 " SELECT 0, object, CAST(NULL AS text), CAST(NULL AS bigint), CAST(NULL AS bigint),"
                 " CAST(NULL AS bigint), CAST(NULL AS bigint), CAST(NULL AS text), CAST(NULL AS bigint),"
                 " CAST(NULL AS bigint), CAST(NULL AS bigint), CAST(NULL AS bigint), CAST(NULL AS bigint),"
                 " CAST(NULL AS bigint), CAST(NULL AS bigint), CAST(NULL AS text), CAST(NULL AS text),"
                 " CAST(NULL AS bigint), CAST(NULL AS bigint) FROM m"
                 " UNION ALL SELECT 1, one.id, one.selection_name, v.field, v.type, v.is_list, v.int_value,"
                 " v.text_value, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL"
                 " FROM one JOIN field_values v ON v.object = one.id"
                 " UNION ALL SELECT 2, one.id, one.selection_name, NULL, NULL, NULL, NULL, NULL, s.id, s.submap,"
                 " s.object, s.status_source, s.variety, s.flags, s.status, s.symbol_type, s.label, s.conn_a, s.conn_z"
                 " FROM one JOIN symbols s ON s.object = one.id ORDER BY 1, 2, 4, 9");
    q.bind(1, field).bind(2, text);
    Db::Values values;
    Db::SymbolRows symbols;
    std::string name;
    bool named = false, whole = false;
    while ((rc = q.step()) == kResultRow) {
        const int kind = q.i32(0);
        if (kind == 0) {
            ids.push_back(q.i32(1));
            continue;
        }
        if (!whole && q.text(2) != nullptr) {
            name = q.text(2);
            named = true;
        }
        whole = true;
        if (kind == 1)
            values.push_back(valueAt(q, 3));
        else
            symbols.push_back(symbolRowAt(q, 8));
    }
    if (rc != kResultDone || !whole || ids.size() != 1)
        return;
    for (const Db::SymbolRow &r : symbols)
        s.db.rememberSymbol(r.id, r.submap);
    keepObject(s, ids[0], named ? name.c_str() : nullptr, std::move(values));
    s.db.keepTurnSymbols(ids[0], std::move(symbols));
}

const Db::Value *valueIn(const Db::Values &values, OVwFieldId field)
{
    for (const Db::Value &v : values)
        if (v.field == field)
            return &v;
    return nullptr;
}

int storeValue(Session &s, OVwObjectId object, OVwFieldId field, const FieldDef &def, int64_t intValue,
               const char *text)
{
    const int type = def.type;
    const bool isList = def.isList;
    s.db.forgetTurnValues(object);
    // An update in place: the row keeps its place and its index entries, and
    // a write of the value already stored changes no page at all (a replace
    // would delete and re-insert the row and both index entries every time).
    Stmt q(s.db,
           "INSERT INTO field_values(object, field, type, is_list, int_value, text_value, located)"
           " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)"
           " ON CONFLICT(object, field) DO UPDATE SET type = excluded.type, is_list = excluded.is_list,"
           " int_value = excluded.int_value, text_value = excluded.text_value"
           " WHERE field_values.type IS NOT excluded.type OR field_values.is_list IS NOT excluded.is_list"
           " OR field_values.int_value IS NOT excluded.int_value"
           " OR field_values.text_value IS NOT excluded.text_value");
    q.bind(1, object).bind(2, field).bind(3, type).bind(4, isList ? 1 : 0);
    if (type == OVwStringField || isList)
        q.bindNull(5).bind(6, text);
    else
        q.bind(5, intValue).bindNull(6);
    if (def.located)
        q.bind(7, 1);
    else
        q.bindNull(7);
    if (!q.run())
        return fail(OVw_STORAGE_FAILURE, -1);
    setError(OVw_SUCCESS);
    return 0;
}

// Fields are never deleted, so what the caches hold stays true, unless the
// transaction that created a field was rolled back.
void checkFieldCaches(Session &s)
{
    if (s.fieldCachesAt != s.db.rollbacks()) {
        s.fields.clear();
        s.fieldIds.clear();
        s.fieldCachesAt = s.db.rollbacks();
    }
}

}  // namespace

bool fieldDef(Session &s, OVwFieldId id, FieldDef &out)
{
    checkFieldCaches(s);
    auto it = s.fields.find(id);
    if (it != s.fields.end()) {
        out = it->second;
        return true;
    }
    Stmt q(s.db, "SELECT type, is_list, located FROM fields WHERE id = ?1");
    q.bind(1, id);
    if (q.step() != kResultRow)
        return false;
    out.type = q.i32(0);
    out.isList = q.i64(1) != 0;
    out.located = q.i64(2) != 0;
    s.fields.emplace(id, out);
    return true;
}

void jfmt(std::string &out, const OVwFieldValue *v)
{
    if (v == nullptr) {
        out += "NULL";
        return;
    }
    if (v->is_list) {
        out += '[';
        for (int i = 0; i < v->list_count && v->un.list_val != nullptr; ++i) {
            if (i > 0)
                out += ", ";
            OVwFieldValue e = v->un.list_val[i];
            e.is_list = 0;
            e.field_type = v->field_type;
            jfmt(out, &e);
        }
        out += ']';
    } else if (v->field_type == OVwStringField) {
        jfmt(out, v->un.string_val);
    } else {
        out += std::to_string(v->un.int_val);
    }
}

}  // namespace mapdb

using namespace mapdb;

extern "C" OVwFieldId OVwDbFieldNameToFieldId(const char *field_name)
{
    if (hooked("OVwDbFieldNameToFieldId", field_name))
        return 0;
    Session *s = session();
    if (s == nullptr)
        return 0;
    if (field_name == nullptr)
        return fail(OVw_BAD_ARGUMENT, 0);
    // Known names are answered from memory; an unknown one is asked for
    // every time, as another program may define it.
    checkFieldCaches(*s);
    auto known = s->fieldIds.find(field_name);
    if (known != s->fieldIds.end()) {
        setError(OVw_SUCCESS);
        return known->second;
    }
    Stmt q(s->db, "SELECT id FROM fields WHERE name = ?1");
    q.bind(1, field_name);
    int rc = q.step();
    if (rc != kResultRow)
        return fail(rc == kResultDone ? OVw_NO_SUCH_FIELD : OVw_STORAGE_FAILURE, 0);
    const OVwFieldId id = q.i32(0);
    s->fieldIds.emplace(field_name, id);
    setError(OVw_SUCCESS);
    return id;
}

extern "C" OVwFieldId OVwDbCreateField(const char *field_name, int field_type, int flags)
{
    if (hooked("OVwDbCreateField", field_name, field_type, flags))
        return 0;
    Session *s = session();
    if (s == nullptr)
        return 0;
    if (field_name == nullptr || *field_name == '\0' || !validType(field_type))
        return fail(OVw_BAD_ARGUMENT, 0);
    if (!beginWrite(*s))
        return 0;
    const bool located = (flags & OVwFieldLocate) != 0;
    Stmt q(s->db, "INSERT INTO fields(name, type, flags, is_list, located) VALUES(?1, ?2, ?3, 0, ?4)");
    q.bind(1, field_name).bind(2, field_type).bind(3, flags).bind(4, located ? 1 : 0);
    int rc = q.step();
    if (rc != kResultDone)
        return fail(rc == kResultConstraint ? OVw_DUPLICATE_FIELD : OVw_STORAGE_FAILURE, 0);
    auto id = static_cast<OVwFieldId>(s->db.lastInsertId());
    s->fields[id] = FieldDef{field_type, false, located};
    setError(OVw_SUCCESS);
    return id;
}

extern "C" int OVwDbSetFieldStringValue(OVwObjectId object, OVwFieldId field, const char *value)
{
    if (hooked("OVwDbSetFieldStringValue", object, field, value))
        return -1;
    Session *s = session();
    FieldDef def;
    if (s == nullptr || !checkWrite(*s, object, field, OVwStringField, false, def))
        return -1;
    return storeValue(*s, object, field, def, 0, value);
}

extern "C" int OVwDbSetFieldIntegerValue(OVwObjectId object, OVwFieldId field, int32_t value)
{
    if (hooked("OVwDbSetFieldIntegerValue", object, field, value))
        return -1;
    Session *s = session();
    FieldDef def;
    if (s == nullptr || !checkWrite(*s, object, field, OVwIntegerField, false, def))
        return -1;
    return storeValue(*s, object, field, def, value, nullptr);
}

extern "C" int OVwDbSetFieldBooleanValue(OVwObjectId object, OVwFieldId field, OVwBoolean value)
{
    if (hooked("OVwDbSetFieldBooleanValue", object, field, value))
        return -1;
    Session *s = session();
    FieldDef def;
    if (s == nullptr || !checkWrite(*s, object, field, OVwBooleanField, false, def))
        return -1;
    return storeValue(*s, object, field, def, value != 0 ? 1 : 0, nullptr);
}

extern "C" int OVwDbSetFieldValue(OVwObjectId object, OVwFieldId field, const OVwFieldValue *value)
{
    if (hooked("OVwDbSetFieldValue", object, field, value))
        return -1;
    Session *s = session();
    if (s == nullptr)
        return -1;
    if (value == nullptr || !validType(value->field_type))
        return fail(OVw_BAD_ARGUMENT, -1);
    bool isList = value->is_list != 0;
    std::string json;
    if (isList && !encodeList(*value, json))
        return fail(OVw_BAD_ARGUMENT, -1);
    FieldDef def;
    if (!checkWrite(*s, object, field, value->field_type, isList, def))
        return -1;
    if (isList)
        return storeValue(*s, object, field, def, 0, json.c_str());
    if (value->field_type == OVwStringField)
        return storeValue(*s, object, field, def, 0, value->un.string_val);
    int64_t n = value->field_type == OVwBooleanField ? (value->un.bool_val != 0 ? 1 : 0) : value->un.int_val;
    return storeValue(*s, object, field, def, n, nullptr);
}

extern "C" int OVwDbUnsetFieldValue(OVwObjectId object, OVwFieldId field)
{
    if (hooked("OVwDbUnsetFieldValue", object, field))
        return -1;
    Session *s = session();
    if (s == nullptr)
        return -1;
    FieldDef def;
    if (!fieldDef(*s, field, def))
        return fail(OVw_NO_SUCH_FIELD, -1);
    if (!objectExists(s->db, object))
        return fail(OVw_NO_SUCH_OBJECT, -1);
    if (!beginWrite(*s))
        return -1;
    s->db.forgetTurnValues(object);
    Stmt q(s->db, "DELETE FROM field_values WHERE object = ?1 AND field = ?2");
    q.bind(1, object).bind(2, field);
    if (!q.run())
        return fail(OVw_STORAGE_FAILURE, -1);
    setError(OVw_SUCCESS);
    return 0;
}

extern "C" OVwFieldValue *OVwDbGetFieldValue(OVwObjectId object, OVwFieldId field)
{
    if (hooked("OVwDbGetFieldValue", object, field))
        return nullptr;
    Session *s = session();
    if (s == nullptr)
        return nullptr;
    FieldDef def;
    if (!fieldDef(*s, field, def))
        return fail(OVw_NO_SUCH_FIELD, static_cast<OVwFieldValue *>(nullptr));
    if (const Db::Values *values = objectValues(*s, object)) {
        const Db::Value *c = valueIn(*values, field);
        if (c == nullptr)
            return fail(OVw_FIELD_VALUE_NOT_SET, static_cast<OVwFieldValue *>(nullptr));
        OVwFieldValue *v = newValue(c->type, c->isList, c->intValue, c->hasText ? c->text.c_str() : nullptr);
        if (v == nullptr)
            return fail(OVw_STORAGE_FAILURE, v);
        setError(OVw_SUCCESS);
        return v;
    }
    Stmt q(s->db, "SELECT type, is_list, int_value, text_value FROM field_values WHERE object = ?1 AND field = ?2");
    q.bind(1, object).bind(2, field);
    int rc = q.step();
    if (rc != kResultRow) {
        if (rc != kResultDone)
            return fail(OVw_STORAGE_FAILURE, static_cast<OVwFieldValue *>(nullptr));
        return fail(objectExists(s->db, object) ? OVw_FIELD_VALUE_NOT_SET : OVw_NO_SUCH_OBJECT,
                    static_cast<OVwFieldValue *>(nullptr));
    }
    OVwFieldValue *v = newValue(q.i32(0), q.i64(1) != 0, q.i64(2), q.isNull(3) ? nullptr : q.text(3));
    if (v == nullptr)
        return fail(OVw_STORAGE_FAILURE, v);
    setError(OVw_SUCCESS);
    return v;
}

extern "C" void OVwDbFreeFieldValue(OVwFieldValue *value)
{
    journaled("OVwDbFreeFieldValue");
    if (value == nullptr)
        return;
    freeValueContents(value);
    std::free(value);
}

extern "C" OVwBoolean OVwDbGetFieldBooleanValue(OVwObjectId object, OVwFieldId field)
{
    if (hooked("OVwDbGetFieldBooleanValue", object, field))
        return 0;
    Session *s = session();
    if (s == nullptr)
        return 0;
    FieldDef def;
    if (!fieldDef(*s, field, def))
        return fail(OVw_NO_SUCH_FIELD, 0);
    if (def.type != OVwBooleanField || def.isList)
        return fail(OVw_FIELD_TYPE_MISMATCH, 0);
    if (const Db::Values *values = objectValues(*s, object)) {
        // An unset boolean reads as FALSE.
        const Db::Value *c = valueIn(*values, field);
        setError(OVw_SUCCESS);
        return c != nullptr && c->intValue != 0 ? 1 : 0;
    }
    Stmt q(s->db, "SELECT int_value FROM field_values WHERE object = ?1 AND field = ?2");
    q.bind(1, object).bind(2, field);
    int rc = q.step();
    if (rc == kResultRow) {
        setError(OVw_SUCCESS);
        return q.i64(0) != 0 ? 1 : 0;
    }
    if (rc != kResultDone)
        return fail(OVw_STORAGE_FAILURE, 0);
    // An unset boolean reads as FALSE.
    return fail(objectExists(s->db, object) ? OVw_SUCCESS : OVw_NO_SUCH_OBJECT, 0);
}

extern "C" OVwFieldBindList *OVwDbGetFieldValues(OVwObjectId object)
{
    if (hooked("OVwDbGetFieldValues", object))
        return nullptr;
    Session *s = session();
    if (s == nullptr)
        return nullptr;
    if (!objectExists(s->db, object))
        return fail(OVw_NO_SUCH_OBJECT, static_cast<OVwFieldBindList *>(nullptr));
    auto *list = static_cast<OVwFieldBindList *>(std::calloc(1, sizeof(OVwFieldBindList)));
    if (list == nullptr)
        return fail(OVw_OUT_OF_MEMORY, list);
    std::vector<OVwFieldBinding> binds;
    Stmt q(s->db,
           "SELECT field, type, is_list, int_value, text_value FROM field_values WHERE object = ?1 ORDER BY field");
    q.bind(1, object);
    int rc = kResultDone;
    bool ok = true;
    while (ok && (rc = q.step()) == kResultRow) {
        OVwFieldValue *v = newValue(q.i32(1), q.i64(2) != 0, q.i64(3), q.isNull(4) ? nullptr : q.text(4));
        if (v == nullptr)
            ok = false;
        else
            binds.push_back(OVwFieldBinding{q.i32(0), v});
    }
    if (ok && rc == kResultDone && !binds.empty()) {
        list->fields = static_cast<OVwFieldBinding *>(std::malloc(binds.size() * sizeof(OVwFieldBinding)));
        if (list->fields == nullptr) {
            ok = false;
        } else {
            std::memcpy(list->fields, binds.data(), binds.size() * sizeof(OVwFieldBinding));
            list->count = static_cast<int32_t>(binds.size());
        }
    }
    if (!ok || rc != kResultDone) {
        for (OVwFieldBinding &b : binds) {
            freeValueContents(b.field_val);
            std::free(b.field_val);
        }
        std::free(list->fields);
        std::free(list);
        return fail(OVw_STORAGE_FAILURE, static_cast<OVwFieldBindList *>(nullptr));
    }
    setError(OVw_SUCCESS);
    return list;
}

extern "C" void OVwDbFreeFieldBindList(OVwFieldBindList *list)
{
    journaled("OVwDbFreeFieldBindList");
    if (list == nullptr)
        return;
    for (int i = 0; i < list->count && list->fields != nullptr; ++i) {
        if (list->fields[i].field_val != nullptr) {
            freeValueContents(list->fields[i].field_val);
            std::free(list->fields[i].field_val);
        }
    }
    std::free(list->fields);
    std::free(list);
}

extern "C" OVwObjectIdList *OVwDbListObjectsByFieldValue(const OVwFieldBinding *binding)
{
    if (hooked("OVwDbListObjectsByFieldValue", binding != nullptr ? binding->field_id : 0,
               binding != nullptr ? binding->field_val : nullptr))
        return nullptr;
    Session *s = session();
    if (s == nullptr)
        return nullptr;
    if (binding == nullptr || binding->field_val == nullptr || binding->field_val->is_list)
        return fail(OVw_BAD_ARGUMENT, static_cast<OVwObjectIdList *>(nullptr));
    const OVwFieldValue &v = *binding->field_val;
    FieldDef def;
    if (!fieldDef(*s, binding->field_id, def))
        return fail(OVw_NO_SUCH_FIELD, static_cast<OVwObjectIdList *>(nullptr));
    if (def.type != v.field_type || def.isList)
        return fail(OVw_FIELD_TYPE_MISMATCH, static_cast<OVwObjectIdList *>(nullptr));

    std::vector<OVwObjectId> ids;
    int rc = kResultDone;
    auto collect = [&](Stmt &q) {
        while ((rc = q.step()) == kResultRow)
            ids.push_back(q.i32(0));
    };
    if (v.field_type == OVwStringField && v.un.string_val == nullptr) {
        Stmt q(s->db, "SELECT object FROM field_values WHERE field = ?1 AND text_value IS NULL AND is_list = 0"
                      " ORDER BY object");
        q.bind(1, binding->field_id);
        collect(q);
    } else if (v.field_type == OVwStringField && def.located && s->db.engine() != nullptr) {
        objectsNamed(*s, binding->field_id, v.un.string_val, ids, rc);
    } else if (v.field_type == OVwStringField && def.located) {
        // The term on located selects the index of texts.
        Stmt q(s->db, "SELECT object FROM field_values WHERE field = ?1 AND located = 1 AND text_value = ?2"
                      " AND is_list = 0 ORDER BY object");
        q.bind(1, binding->field_id).bind(2, v.un.string_val);
        collect(q);
    } else if (v.field_type == OVwStringField) {
        Stmt q(s->db, "SELECT object FROM field_values WHERE field = ?1 AND text_value = ?2 AND is_list = 0"
                      " ORDER BY object");
        q.bind(1, binding->field_id).bind(2, v.un.string_val);
        collect(q);
    } else if (v.field_type == OVwIntegerField || v.field_type == OVwEnumField) {
        // The term on the type selects the index of numbers.
        Stmt q(s->db, "SELECT object FROM field_values WHERE field = ?1 AND int_value = ?2 AND is_list = 0"
                      " AND type IN (1, 4) ORDER BY object");
        q.bind(1, binding->field_id).bind(2, v.un.int_val);
        collect(q);
    } else {
        int64_t n = v.field_type == OVwBooleanField ? (v.un.bool_val != 0 ? 1 : 0) : v.un.int_val;
        Stmt q(s->db, "SELECT object FROM field_values WHERE field = ?1 AND int_value = ?2 AND is_list = 0"
                      " ORDER BY object");
        q.bind(1, binding->field_id).bind(2, n);
        collect(q);
    }
    if (rc != kResultDone)
        return fail(OVw_STORAGE_FAILURE, static_cast<OVwObjectIdList *>(nullptr));
    auto *list = static_cast<OVwObjectIdList *>(std::calloc(1, sizeof(OVwObjectIdList)));
    if (list == nullptr)
        return fail(OVw_OUT_OF_MEMORY, list);
    if (!ids.empty()) {
        list->object_ids = static_cast<OVwObjectId *>(std::malloc(ids.size() * sizeof(OVwObjectId)));
        if (list->object_ids == nullptr) {
            std::free(list);
            return fail(OVw_OUT_OF_MEMORY, static_cast<OVwObjectIdList *>(nullptr));
        }
        std::memcpy(list->object_ids, ids.data(), ids.size() * sizeof(OVwObjectId));
        list->count = static_cast<int32_t>(ids.size());
    }
    setError(OVw_SUCCESS);
    return list;
}

extern "C" void OVwDbFreeObjectIdList(OVwObjectIdList *list)
{
    journaled("OVwDbFreeObjectIdList");
    if (list == nullptr)
        return;
    std::free(list->object_ids);
    std::free(list);
}
