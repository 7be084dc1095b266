// The platform's work per loop turn: field values rewritten in place, field
// ids answered from memory, deleted objects forgotten.
#include "ovw/contract.h"

#include <string>

namespace {

using maptest::MapContract;

std::vector<OVwObjectId> listByString(OVwFieldId field, const char *text)
{
    OVwFieldValue value{};
    value.field_type = OVwStringField;
    value.un.string_val = const_cast<char *>(text);
    OVwFieldBinding binding{field, &value};
    std::vector<OVwObjectId> ids;
    OVwObjectIdList *list = OVwDbListObjectsByFieldValue(&binding);
    for (int i = 0; list != nullptr && i < list->count; ++i)
        ids.push_back(list->object_ids[i]);
    OVwDbFreeObjectIdList(list);
    return ids;
}

TEST_P(MapContract, RewrittenValuesReplaceTheOldOnesInValueAndLookup)
{
    OVwObjectId a = object("a");
    OVwObjectId b = object("b");
    OVwFieldId state = field("State");
    OVwFieldId index = field("SanArcIndex");

    ASSERT_EQ(OVwDbSetFieldStringValue(a, state, "online"), 0);
    ASSERT_EQ(OVwDbSetFieldStringValue(b, state, "online"), 0);
    ASSERT_EQ(OVwDbSetFieldStringValue(a, state, "online"), 0);   // the same value again
    EXPECT_EQ(OVwError(), OVw_SUCCESS);
    ASSERT_EQ(OVwDbSetFieldStringValue(a, state, "degraded"), 0);
    EXPECT_EQ(listByString(state, "online"), std::vector<OVwObjectId>{b});
    EXPECT_EQ(listByString(state, "degraded"), std::vector<OVwObjectId>{a});

    // A value that goes back to null and then to a text again.
    ASSERT_EQ(OVwDbSetFieldStringValue(a, state, nullptr), 0);
    EXPECT_TRUE(listByString(state, "degraded").empty());
    OVwFieldValue *v = OVwDbGetFieldValue(a, state);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->un.string_val, nullptr);
    OVwDbFreeFieldValue(v);
    ASSERT_EQ(OVwDbSetFieldStringValue(a, state, "online"), 0);
    EXPECT_EQ(listByString(state, "online"), (std::vector<OVwObjectId>{a, b}));

    ASSERT_EQ(OVwDbSetFieldIntegerValue(a, index, 7), 0);
    ASSERT_EQ(OVwDbSetFieldIntegerValue(a, index, 7), 0);
    ASSERT_EQ(OVwDbSetFieldIntegerValue(a, index, -3), 0);
    v = OVwDbGetFieldValue(a, index);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->un.int_val, -3);
    OVwDbFreeFieldValue(v);

    // Every object keeps one value per field: all values of a, once each.
    OVwFieldBindList *all = OVwDbGetFieldValues(a);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->count, 2);
    OVwDbFreeFieldBindList(all);
}

TEST_P(MapContract, ADiscardedTurnLeavesWhatEarlierTurnsStoredAndNothingOfItsOwn)
{
    OVwObjectId kept = object("kept");
    OVwFieldId state = field("State");
    ASSERT_EQ(OVwDbSetFieldStringValue(kept, state, "online"), 0);
    ASSERT_EQ(OVwPending(), 0);

    object("dropped");
    ASSERT_EQ(OVwDbSetFieldStringValue(kept, state, "degraded"), 0);
    ASSERT_EQ(OVwDiscardTurn(), 0);
    EXPECT_EQ(OVwError(), OVw_SUCCESS);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("dropped"), 0);
    EXPECT_EQ(listByString(state, "online"), std::vector<OVwObjectId>{kept});
    // The next turn writes and commits as usual; the id may be given again.
    OVwObjectId again = object("again");
    ASSERT_NE(again, 0);
    ASSERT_EQ(OVwPending(), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("again"), again);
}

TEST_P(MapContract, FieldIdsStayKnownAndUnknownNamesAreAskedForAgain)
{
    EXPECT_EQ(OVwDbFieldNameToFieldId("isGraph"), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_FIELD);
    OVwFieldId created = OVwDbCreateField("isGraph", OVwBooleanField, OVwFieldCapability);
    ASSERT_NE(created, 0);
    EXPECT_EQ(OVwDbFieldNameToFieldId("isGraph"), created);
    EXPECT_EQ(OVwError(), OVw_SUCCESS);
    ASSERT_EQ(OVwPending(), 0);
    EXPECT_EQ(OVwDbFieldNameToFieldId("isGraph"), created);

    // A failed call in between leaves the error of the next look-up clean.
    EXPECT_EQ(OVwDbFieldNameToFieldId("NoSuchField"), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_FIELD);
    EXPECT_EQ(OVwDbFieldNameToFieldId("UniqueName"), OVwDbFieldNameToFieldId("UniqueName"));
    EXPECT_EQ(OVwError(), OVw_SUCCESS);
    EXPECT_EQ(OVwDbFieldNameToFieldId(nullptr), 0);
    EXPECT_EQ(OVwError(), OVw_BAD_ARGUMENT);
}

TEST_P(MapContract, ADeletedObjectIsForgottenAndItsNameCanNameANewOne)
{
    OVwObjectId a = object("a");
    ASSERT_EQ(OVwPending(), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("a"), a);
    // Its values, read in the turn that deletes it, go with it.
    const OVwFieldId state = field("State");
    ASSERT_EQ(OVwDbSetFieldStringValue(a, state, "up"), 0);
    OVwFieldValue *up = OVwDbGetFieldValue(a, state);
    ASSERT_NE(up, nullptr);
    OVwDbFreeFieldValue(up);
    ASSERT_EQ(OVwDbDeleteObject(a), 0);
    EXPECT_EQ(OVwDbGetFieldValue(a, state), nullptr);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("a"), 0);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    EXPECT_EQ(OVwDbObjectIdToSelectionName(a), nullptr);
    EXPECT_EQ(OVwDbSetFieldStringValue(a, state, "x"), -1);
    EXPECT_EQ(OVwError(), OVw_NO_SUCH_OBJECT);
    OVwObjectId again = object("a");
    EXPECT_NE(again, a);
    ASSERT_EQ(OVwPending(), 0);
    EXPECT_EQ(OVwDbSelectionNameToObjectId("a"), again);
}

}  // namespace
