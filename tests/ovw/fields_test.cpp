// Objects, the field registry and typed values.
#include "ovw/contract.h"

#include <cstring>

using maptest::MapContract;

namespace {

OVwFieldValue stringValue(const char *s)
{
    OVwFieldValue v{};
    v.field_type = OVwStringField;
    v.un.string_val = const_cast<char *>(s);
    return v;
}

std::vector<int> listByString(OVwFieldId field, const char *text)
{
    OVwFieldValue v = stringValue(text);
    OVwFieldBinding b{field, &v};
    OVwObjectIdList *list = OVwDbListObjectsByFieldValue(&b);
    std::vector<int> ids;
    EXPECT_NE(list, nullptr);
    for (int i = 0; list != nullptr && i < list->count; ++i)
        ids.push_back(list->object_ids[i]);
    OVwDbFreeObjectIdList(list);
    return ids;
}

}  // namespace

TEST_P(MapContract, SelectionNamesAreUniqueAndResolvable)
{
    OVwObjectId a = object("1.3.6;graph A;default");
    OVwObjectId b = object("1.3.6;graph B;default");
    EXPECT_NE(a, b);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("1.3.6;graph A;default"), a);
    EXPECT_EQ(OVwError(), 0);

    EXPECT_EQ(OVwDbCreateObjectBySelectionName("1.3.6;graph A;default"), 0);
    EXPECT_EQ(OVwError(), OVw_DUPLICATE_SELECTION_NAME);

    char *name = OVwDbObjectIdToSelectionName(b);
    ASSERT_NE(name, nullptr);
    EXPECT_STREQ(name, "1.3.6;graph B;default");
    OVFree(name);

    EXPECT_EQ(OVwDbSelectionNameToObjectId("1.3.6;graph a;default"), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    EXPECT_EQ(OVwDbObjectIdToSelectionName(b + 100), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    EXPECT_EQ(OVwDbCreateObjectBySelectionName(nullptr), 0);
    EXPECT_EQ(OVwError(), OVw_BAD_ARGUMENT);
}

TEST_P(MapContract, NewMapHasRootSubmapAndFieldRegistry)
{
    EXPECT_STREQ(map->map_name, "default");
    OVwSubmapInfo *rootInfo = OVwGetSubmapInfo(map, root());
    ASSERT_NE(rootInfo, nullptr);
    EXPECT_EQ(rootInfo->parent_object_id, 0);
    OVwFreeSubmapInfo(rootInfo);

    for (const char *name : {"UniqueName", "MoidString", "TQObjectName", "ParentNameList", "SanArcIndex",
                             "isSanCommon", "isLaunchable", "isEDFI", "isNode", "State", "Name", "Type",
                             "DeviceCapacity", "Serial", "VendorName", "Management URL", "URLFlag"})
        field(name);
    for (const char *name : {"isGraph", "isVertex"}) {
        EXPECT_EQ(OVwDbFieldNameToFieldId(name), 0) << name;
        EXPECT_EQ(OVwError(), OVw_NO_SUCH_FIELD);
    }

    OVwFieldId isGraph = OVwDbCreateField("isGraph", OVwBooleanField, OVwFieldCapability);
    ASSERT_NE(isGraph, 0);
    EXPECT_EQ(OVwDbFieldNameToFieldId("isGraph"), isGraph);
    EXPECT_EQ(OVwDbCreateField("isGraph", OVwBooleanField, 0), 0);
    EXPECT_EQ(OVwError(), OVw_DUPLICATE_FIELD);
    EXPECT_EQ(OVwDbCreateField("odd", 9, 0), 0);
    EXPECT_EQ(OVwError(), OVw_BAD_ARGUMENT);
}

TEST_P(MapContract, TypedValuesRoundTrip)
{
    OVwObjectId o = object("obj");
    OVwFieldId str = field("MoidString"), num = field("SanArcIndex"), flag = field("isNode");
    OVwFieldId names = field("ParentNameList");
    OVwFieldId kind = OVwDbCreateField("Kind", OVwEnumField, 0);

    // Bytes that are not UTF-8 come back unchanged.
    ASSERT_EQ(OVwDbSetFieldStringValue(o, str, "moid \xff\xfe end"), 0);
    ASSERT_EQ(OVwDbSetFieldIntegerValue(o, num, -42), 0);
    ASSERT_EQ(OVwDbSetFieldBooleanValue(o, flag, 7), 0);
    OVwFieldValue e{};
    e.field_type = OVwEnumField;
    e.un.enum_val = 3;
    ASSERT_EQ(OVwDbSetFieldValue(o, kind, &e), 0);

    OVwFieldValue elems[4] = {stringValue("g1"), stringValue("quote\" back\\slash"), stringValue(""),
                              stringValue("caf\xe9\n")};
    OVwFieldValue list{};
    list.is_list = 1;
    list.field_type = OVwStringField;
    list.un.list_val = elems;
    list.list_count = 4;
    ASSERT_EQ(OVwDbSetFieldValue(o, names, &list), 0);

    OVwFieldValue *v = OVwDbGetFieldValue(o, str);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->field_type, OVwStringField);
    EXPECT_STREQ(v->un.string_val, "moid \xff\xfe end");
    OVwDbFreeFieldValue(v);
    v = OVwDbGetFieldValue(o, num);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->un.int_val, -42);
    OVwDbFreeFieldValue(v);
    EXPECT_EQ(OVwDbGetFieldBooleanValue(o, flag), 1);
    v = OVwDbGetFieldValue(o, kind);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->field_type, OVwEnumField);
    EXPECT_EQ(v->un.enum_val, 3);
    OVwDbFreeFieldValue(v);

    v = OVwDbGetFieldValue(o, names);
    ASSERT_NE(v, nullptr);
    ASSERT_TRUE(v->is_list);
    EXPECT_EQ(v->field_type, OVwStringField);
    ASSERT_EQ(v->list_count, 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_STREQ(v->un.list_val[i].un.string_val, elems[i].un.string_val) << i;
    OVwDbFreeFieldValue(v);

    // An empty list stays a list.
    list.list_count = 0;
    list.un.list_val = nullptr;
    ASSERT_EQ(OVwDbSetFieldValue(o, names, &list), 0);
    v = OVwDbGetFieldValue(o, names);
    ASSERT_NE(v, nullptr);
    EXPECT_TRUE(v->is_list);
    EXPECT_EQ(v->list_count, 0);
    OVwDbFreeFieldValue(v);

    OVwFieldBindList *all = OVwDbGetFieldValues(o);
    ASSERT_NE(all, nullptr);
    ASSERT_EQ(all->count, 5);
    std::vector<int> seen;
    for (int i = 0; i < all->count; ++i)
        seen.push_back(all->fields[i].field_id);
    EXPECT_EQ(seen, (std::vector<int>{str, names, num, flag, kind}));
    EXPECT_EQ(all->fields[2].field_val->un.int_val, -42);
    OVwDbFreeFieldBindList(all);
}

TEST_P(MapContract, WritesAreCheckedAgainstFieldAndObject)
{
    OVwObjectId o = object("obj");
    OVwFieldId str = field("UniqueName"), num = field("SanArcIndex"), names = field("ParentNameList");

    EXPECT_NE(OVwDbSetFieldStringValue(o, num, "5"), 0);
    EXPECT_EQ(OVwError(), OVw_FIELD_TYPE_MISMATCH);
    EXPECT_NE(OVwDbSetFieldIntegerValue(o, str, 5), 0);
    EXPECT_EQ(OVwError(), OVw_FIELD_TYPE_MISMATCH);
    EXPECT_NE(OVwDbSetFieldStringValue(o, names, "g1"), 0);
    EXPECT_EQ(OVwError(), OVw_FIELD_TYPE_MISMATCH);
    EXPECT_NE(OVwDbSetFieldBooleanValue(o, str, 1), 0);
    EXPECT_EQ(OVwError(), OVw_FIELD_TYPE_MISMATCH);

    const OVwFieldId undefined = 9999;
    EXPECT_NE(OVwDbSetFieldStringValue(o, undefined, "x"), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_FIELD);
    EXPECT_EQ(OVwDbGetFieldValue(o, undefined), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_FIELD);
    EXPECT_NE(OVwDbUnsetFieldValue(o, undefined), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_FIELD);
    EXPECT_EQ(OVwDbGetFieldBooleanValue(o, undefined), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_FIELD);
    OVwFieldValue key = stringValue("x");
    OVwFieldBinding b{undefined, &key};
    EXPECT_EQ(OVwDbListObjectsByFieldValue(&b), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_FIELD);

    EXPECT_NE(OVwDbSetFieldStringValue(o + 50, str, "x"), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    EXPECT_EQ(OVwDbGetFieldValues(o + 50), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);

    // A failed write leaves the value as it was.
    ASSERT_EQ(OVwDbSetFieldStringValue(o, str, "kept"), 0);
    EXPECT_NE(OVwDbSetFieldIntegerValue(o, str, 1), 0);
    OVwFieldValue *v = OVwDbGetFieldValue(o, str);
    ASSERT_NE(v, nullptr);
    EXPECT_STREQ(v->un.string_val, "kept");
    OVwDbFreeFieldValue(v);
}

TEST_P(MapContract, UnsetValuesAndBooleanDefault)
{
    OVwObjectId o = object("obj");
    OVwFieldId flag = field("isSanCommon"), str = field("State");

    OVwDbSelectionNameToObjectId("missing");  // leaves an error behind
    EXPECT_EQ(OVwDbGetFieldBooleanValue(o, flag), 0);
    EXPECT_EQ(OVwError(), 0);
    EXPECT_EQ(OVwDbGetFieldValue(o, str), nullptr);
    EXPECT_EQ(OVwError(), OVw_FIELD_VALUE_NOT_SET);

    ASSERT_EQ(OVwDbSetFieldBooleanValue(o, flag, 1), 0);
    ASSERT_EQ(OVwDbSetFieldStringValue(o, str, "up"), 0);
    EXPECT_EQ(OVwDbGetFieldBooleanValue(o, flag), 1);
    ASSERT_EQ(OVwDbUnsetFieldValue(o, flag), 0);
    ASSERT_EQ(OVwDbUnsetFieldValue(o, str), 0);
    EXPECT_EQ(OVwDbGetFieldBooleanValue(o, flag), 0);
    EXPECT_EQ(OVwDbGetFieldValue(o, str), nullptr);
    EXPECT_EQ(OVwError(), OVw_FIELD_VALUE_NOT_SET);
    OVwFieldBindList *all = OVwDbGetFieldValues(o);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->count, 0);
    OVwDbFreeFieldBindList(all);
}

TEST_P(MapContract, ListByValueFindsExactlyTheMatchingObjects)
{
    OVwFieldId un = field("UniqueName"), names = field("ParentNameList"), idx = field("SanArcIndex");
    OVwObjectId a = object("a"), c = object("c"), d = object("d"), e = object("e"), b = object("b");
    object("no value");
    OVwDbSetFieldStringValue(b, un, "dev1");
    OVwDbSetFieldStringValue(a, un, "dev1");
    OVwDbSetFieldStringValue(c, un, "dev10");
    OVwDbSetFieldStringValue(d, un, "Dev1");
    OVwFieldValue elem = stringValue("dev1");
    OVwFieldValue list{};
    list.is_list = 1;
    list.field_type = OVwStringField;
    list.un.list_val = &elem;
    list.list_count = 1;
    ASSERT_EQ(OVwDbSetFieldValue(e, names, &list), 0);

    EXPECT_EQ(listByString(un, "dev1"), (std::vector<int>{a, b}));
    EXPECT_EQ(listByString(un, "nothing"), std::vector<int>{});
    EXPECT_EQ(OVwError(), 0);

    OVwDbSetFieldStringValue(a, un, "moved");
    EXPECT_EQ(listByString(un, "dev1"), std::vector<int>{b});
    EXPECT_EQ(listByString(un, "moved"), std::vector<int>{a});
    // The one object found by its name reads as the map holds it, before
    // and after a write.
    auto text = [&](OVwObjectId o) {
        OVwFieldValue *got = OVwDbGetFieldValue(o, un);
        const std::string t = got != nullptr && got->un.string_val != nullptr ? got->un.string_val : "?";
        OVwDbFreeFieldValue(got);
        return t;
    };
    EXPECT_EQ(text(a), "moved");
    EXPECT_EQ(OVwDbSelectionNameToObjectId("a"), a);
    ASSERT_EQ(OVwDbSetFieldStringValue(a, un, "moved again"), 0);
    EXPECT_EQ(text(a), "moved again");
    // And so do its symbols, before and after a change of one.
    const OVwSymbolId sa = icon(root(), a);
    EXPECT_EQ(listByString(un, "moved again"), std::vector<int>{a});
    auto statuses = [&] {
        std::vector<int> out;
        OVwSymbolList *syms = OVwGetSymbolsByObject(map, a);
        for (int i = 0; syms != nullptr && i < syms->count; ++i)
            out.push_back(syms->symbols[i].symbol_id == sa ? syms->symbols[i].status : -1);
        OVwFreeSymbolList(syms);
        return out;
    };
    EXPECT_EQ(statuses(), std::vector<int>{OVwStatusNormal});
    ASSERT_EQ(OVwSetStatusOnSymbol(map, sa, OVwStatusCritical), 0);
    EXPECT_EQ(statuses(), std::vector<int>{OVwStatusCritical});

    OVwDbSetFieldIntegerValue(c, idx, 12);
    OVwDbSetFieldIntegerValue(d, idx, 13);
    OVwFieldValue n{};
    n.field_type = OVwIntegerField;
    n.un.int_val = 12;
    OVwFieldBinding bind{idx, &n};
    OVwObjectIdList *ids = OVwDbListObjectsByFieldValue(&bind);
    ASSERT_NE(ids, nullptr);
    ASSERT_EQ(ids->count, 1);
    EXPECT_EQ(ids->object_ids[0], c);
    OVwDbFreeObjectIdList(ids);
}

TEST_P(MapContract, ReleaseCallsKeepTheErrorState)
{
    OVwObjectId o = object("obj");
    OVwFieldId str = field("Name");
    OVwDbSetFieldStringValue(o, str, "n");
    OVwSubmapId sm = childSubmap(o);
    icon(root(), o);

    OVwObjectInfo *info = OVwGetObjectInfo(map, o);
    OVwSymbolList *syms = OVwGetSymbolsByObject(map, o);
    OVwSubmapInfo *smInfo = OVwGetSubmapInfo(map, sm);
    OVwSubmapList *smList = OVwListSubmaps(map, "tqdaemon", 0, 0);
    OVwFieldValue *value = OVwDbGetFieldValue(o, str);
    OVwFieldBindList *binds = OVwDbGetFieldValues(o);
    OVwFieldValue key = stringValue("n");
    OVwFieldBinding b{str, &key};
    OVwObjectIdList *ids = OVwDbListObjectsByFieldValue(&b);
    OVwMapInfo *second = OVwGetMapInfo();
    char *text = OVwDbObjectIdToSelectionName(o);
    for (void *p : {static_cast<void *>(info), static_cast<void *>(syms), static_cast<void *>(smInfo),
                    static_cast<void *>(smList), static_cast<void *>(value), static_cast<void *>(binds),
                    static_cast<void *>(ids), static_cast<void *>(second), static_cast<void *>(text)})
        ASSERT_NE(p, nullptr);

    EXPECT_EQ(OVwDbSelectionNameToObjectId("missing"), 0);
    ASSERT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    OVwFreeObjectInfo(info);
    OVwFreeSymbolList(syms);
    OVwFreeSubmapInfo(smInfo);
    OVwFreeSubmapList(smList);
    OVwDbFreeFieldValue(value);
    OVwDbFreeFieldBindList(binds);
    OVwDbFreeObjectIdList(ids);
    OVwFreeMapInfo(second);
    OVFree(text);
    OVwFreeSymbolList(nullptr);
    OVwDbFreeFieldValue(nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    EXPECT_STRNE(OVwErrorMsg(OVw_NO_SUCH_FIELD), OVwErrorMsg(OVw_NO_SUCH_OBJECT));
    EXPECT_STREQ(OVwErrorMsg(12345), OVwErrorMsg(-7));
}
