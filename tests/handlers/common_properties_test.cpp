// The common properties message against an in-memory map: the order of the
// writes, the dropped and partial messages and the trace lines.
#include "msg_fixture.h"

#include <cstdio>
#include <cstdlib>

namespace {

using tqmsg::Payload;

struct Fields {
    const char *common = "dev-1";
    const char *name = "Switch 1";
    const char *state = "online";
    const char *type = "switch";
    const char *url = "2https://c";
    const char *capacity = "64";
    const char *serial = "SN-9";
    const char *vendor = "Acme";
    const char *launch = "TRUE";
    const char *edfi = "FALSE";
    const char *node = "TRUE";

    Payload payload() const
    {
        Payload p;
        p.str(common).str(name).str(state).str(type).str(url).str(capacity).str(serial).str(vendor).str(launch).str(
            edfi).str(node);
        return p;
    }
};

// The fields written per object, in their order.
const char *const kWriteOrder[] = {"isSanCommon", "Name",   "State",      "Type",         "URLFlag", "Management URL",
                                   "DeviceCapacity", "Serial", "VendorName", "isLaunchable", "isEDFI",  "isNode"};

struct Write {
    std::string operation;
    int object;
    int field;
};

// The field writes of the call journal, in call order.
std::vector<Write> journalWrites()
{
    std::vector<Write> out;
    for (const std::string &line : mapdb::journal()) {
        if (line.rfind("OVwDbSetField", 0) != 0)
            continue;
        const size_t open = line.find('(');
        Write w{line.substr(0, open), 0, 0};
        std::sscanf(line.c_str() + open + 1, "%d, %d", &w.object, &w.field);
        out.push_back(w);
    }
    return out;
}

class CommonPropertiesMsg : public tqmsg::MsgFixture {
protected:
    OVwObjectId object(const char *selectionName, const char *uniqueName)
    {
        const OVwObjectId id = OVwDbCreateObjectBySelectionName(selectionName);
        EXPECT_NE(id, 0);
        if (uniqueName != nullptr)
            setString(id, "UniqueName", uniqueName);
        return id;
    }

    void process(const Fields &f)
    {
        Payload p = f.payload();
        processWithJournal(p);
    }
    void processWithJournal(Payload &p)
    {
        mapdb::journalClear();
        mapdb::journalEnable(true);
        processCommonPropertiesMsg(p.data(), p.size());
        mapdb::journalEnable(false);
    }
    // Whether any platform call of the message touched the map at all.
    static bool mapTouched()
    {
        for (const std::string &line : mapdb::journal())
            if (line.rfind("OVwDb", 0) == 0)
                return true;
        return false;
    }
};

TEST_F(CommonPropertiesMsg, EveryObjectGetsAllTwelveWritesOneObjectAfterTheOther)
{
    const OVwObjectId first = object("SAN;sw1;default", "dev-1");
    const OVwObjectId other = object("SAN;host;default", "dev-2");
    const OVwObjectId second = object("SAN;sw1-port;default", "dev-1");
    const std::vector<OVwObjectId> listed = objectsWith("UniqueName", "dev-1");
    ASSERT_EQ(listed.size(), 2u);

    process(Fields{});

    const std::vector<Write> writes = journalWrites();
    ASSERT_EQ(writes.size(), 24u);
    for (size_t i = 0; i < writes.size(); ++i) {
        const char *field = kWriteOrder[i % 12];
        EXPECT_EQ(writes[i].object, listed[i / 12]) << i;
        EXPECT_EQ(writes[i].field, OVwDbFieldNameToFieldId(field)) << i << " " << field;
        const bool boolean = std::string(field).rfind("is", 0) == 0;
        EXPECT_EQ(writes[i].operation, boolean ? "OVwDbSetFieldBooleanValue" : "OVwDbSetFieldStringValue") << field;
    }

    for (OVwObjectId id : {first, second}) {
        EXPECT_EQ(intField(id, "isSanCommon"), 1);
        EXPECT_EQ(stringField(id, "Name"), "Switch 1");
        EXPECT_EQ(stringField(id, "State"), "online");
        EXPECT_EQ(stringField(id, "Type"), "switch");
        EXPECT_EQ(stringField(id, "URLFlag"), "2");
        EXPECT_EQ(stringField(id, "Management URL"), "https://c");
        EXPECT_EQ(stringField(id, "DeviceCapacity"), "64");
        EXPECT_EQ(stringField(id, "Serial"), "SN-9");
        EXPECT_EQ(stringField(id, "VendorName"), "Acme");
        EXPECT_EQ(intField(id, "isLaunchable"), 1);
        EXPECT_EQ(intField(id, "isEDFI"), 0);
        EXPECT_EQ(intField(id, "isNode"), 1);
    }
    EXPECT_EQ(intField(other, "isSanCommon"), std::nullopt);
    EXPECT_EQ(stringField(other, "Name"), std::nullopt);
}

TEST_F(CommonPropertiesMsg, TracesAndConsoleLines)
{
    const OVwObjectId id = object("SAN;sw1;default", "dev-1");
    Fields f;
    f.url = "xhttp://b";
    f.node = nullptr;
    testing::internal::CaptureStdout();
    Payload p = f.payload();
    processCommonPropertiesMsg(p.data(), p.size());
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_EQ(console,
              "This is what we recevied from caller for Common Properties\n"
              "dev-1\nSwitch 1\nonline\nswitch\nxhttp://b\n64\nSN-9\nAcme\nTRUE\nFALSE\n(null)\n");

    const std::string trace = daemonTrace();
    const char *const inOrder[] = {
        "common.CommonObjName = dev-1\n",  "common.Name = Switch 1\n",
        "common.State = online\n",         "common.Type = switch\n",
        "common.ManagementURL = xhttp://b\n", "common.Capacity = 64\n",
        "common.Serial = SN-9\n",          "common.VendorName = Acme\n",
        "common.LaunchFlag = TRUE\n",      "common.EDFIFlag = FALSE\n",
        "common.NodeFlag = (null)\n",      "Field Id for UniqueName is ",
        "Looking up objects with UniqueName dev-1\n", "Field Id for isSanCommon is ",
        "Field Id for isNode is ",         "Boolean Vlaue for IsSanCommon is 0\n",
        "String Value for Name is 0\n",    "String Value for State is 0\n",
        "String Value for Type is 0\n",    "URL Flag is 120\n",
        "String Value for URLFlag is 0\n", "String Value for ManagementURL is 0\n",
        "String Value for Capacity is 0\n", "String Value for Serial is 0\n",
        "String Value for Vendor Name is 0\n", "Boolean Vlaue for isLaunchable is 0\n",
        "Boolean Vlaue for isEDFI is 0\n", "Boolean Vlaue for isNode is 0\n",
    };
    size_t pos = 0;
    for (const char *line : inOrder) {
        const size_t at = trace.find(line, pos);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: " << line;
        pos = at;
    }
    // an absent flag is false, as any text but "TRUE" is
    EXPECT_EQ(intField(id, "isNode"), 0);
}

// Only an absent CommonObjName drops the message; an absent URL or flag is
// stored as absent and the other fields as sent.
TEST_F(CommonPropertiesMsg, AbsentUrlOrFlagStoresWhatIsPresent)
{
    const OVwObjectId id = object("SAN;sw1;default", "dev-1");
    const struct {
        const char *Fields::*member;
        const char *field;   // what the absent text leaves
        int flag;            // its value for a flag, -1 for the URL
    } cases[] = {
        {&Fields::url, "Management URL", -1}, {&Fields::launch, "isLaunchable", 0},
        {&Fields::edfi, "isEDFI", 0},         {&Fields::node, "isNode", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.field);
        OVwDbUnsetFieldValue(id, OVwDbFieldNameToFieldId("Management URL"));
        Fields f;
        f.edfi = "TRUE";
        f.*c.member = c.flag < 0 ? "NULL" : nullptr;   // "NULL" is the absent string too
        process(f);
        EXPECT_EQ(stringField(id, "Name"), "Switch 1");
        EXPECT_EQ(stringField(id, "State"), "online");
        EXPECT_EQ(stringField(id, "Type"), "switch");
        EXPECT_EQ(stringField(id, "Serial"), "SN-9");
        EXPECT_EQ(stringField(id, "VendorName"), "Acme");
        if (c.flag < 0) {
            EXPECT_EQ(stringField(id, "URLFlag"), "0");
            EXPECT_EQ(stringField(id, "Management URL"), std::nullopt);
        } else {
            EXPECT_EQ(intField(id, c.field), c.flag);
            EXPECT_EQ(stringField(id, "Management URL"), "https://c");
        }
    }
    EXPECT_EQ(runStats().refused, 0);

    Fields f;
    f.common = nullptr;
    process(f);
    EXPECT_FALSE(mapTouched());
    EXPECT_TRUE(contains(daemonTrace(), "processCommonPropertiesMsg: CommonObjName is absent, message dropped\n"));
}

TEST_F(CommonPropertiesMsg, AbsentTextFieldsAreSkippedAndKeepTheirValues)
{
    const OVwObjectId id = object("SAN;sw1;default", "dev-1");
    setString(id, "Name", "old name");
    setString(id, "Serial", "old serial");
    Fields f;
    f.name = nullptr;
    f.serial = "NULL";
    process(f);
    EXPECT_EQ(journalWrites().size(), 10u);
    EXPECT_EQ(stringField(id, "Name"), "old name");
    EXPECT_EQ(stringField(id, "Serial"), "old serial");
    EXPECT_EQ(stringField(id, "VendorName"), "Acme");
    EXPECT_EQ(intField(id, "isSanCommon"), 1);
    EXPECT_TRUE(contains(daemonTrace(), "String Value for Name is absent, write skipped\n"));
    EXPECT_TRUE(contains(daemonTrace(), "String Value for Serial is absent, write skipped\n"));
}

TEST_F(CommonPropertiesMsg, MalformedMessageIsDroppedWhole)
{
    const OVwObjectId id = object("SAN;sw1;default", "dev-1");
    // The last field cut short, then a string length running past the end.
    Payload cut = Fields{}.payload().chop(1);
    processWithJournal(cut);
    EXPECT_FALSE(mapTouched());

    Payload past;
    past.str("dev-1").str("n").word(500).str("abc");
    processWithJournal(past);
    EXPECT_FALSE(mapTouched());

    EXPECT_EQ(count(daemonTrace(), "processCommonPropertiesMsg: malformed field, message dropped\n"), 2);
    EXPECT_EQ(intField(id, "isSanCommon"), std::nullopt);
}

TEST_F(CommonPropertiesMsg, FailedWriteFailsTheMessageAndDoesNotStopTheOthers)
{
    const OVwObjectId a = object("SAN;a;default", "dev-1");
    const OVwObjectId b = object("SAN;b;default", "dev-1");
    mapdb::failNext("OVwDbSetFieldStringValue", OVw_STORAGE_FAILURE);
    process(Fields{});
    EXPECT_EQ(journalWrites().size(), 24u);
    EXPECT_TRUE(contains(daemonTrace(), "String Value for Name is -1\n"));
    EXPECT_EQ(runStats().failed, 1);
    EXPECT_TRUE(contains(messageLog(), "failed: field Name was not written: "));
    const OVwObjectId failed = objectsWith("UniqueName", "dev-1").front();
    const OVwObjectId full = failed == a ? b : a;
    EXPECT_EQ(stringField(failed, "Name"), std::nullopt);
    EXPECT_EQ(stringField(failed, "State"), "online");
    EXPECT_EQ(intField(failed, "isNode"), 1);
    EXPECT_EQ(stringField(full, "Name"), "Switch 1");
}

// A unique id no object carries changes nothing: a named refusal.
TEST_F(CommonPropertiesMsg, UniqueIdNoObjectCarriesIsRefused)
{
    object("SAN;sw1;default", "dev-2");
    process(Fields{});
    EXPECT_TRUE(journalWrites().empty());
    EXPECT_EQ(runStats().refused, 1);
    EXPECT_TRUE(contains(messageLog(), "(unique id 'dev-1') refused: no object has this unique id"));
}

}  // namespace
