// End to end: a map built through the platform API, a stream of common
// properties messages written by tqstream, the daemon run over it, and the
// map database read back.
#include "mapdb/testhooks.h"
#include "ovw/ovw.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace {

// One stored field value, as the database holds it.
struct Value {
    int type = 0;
    long long number = 0;
    std::optional<std::string> text;
    bool operator==(const Value &o) const { return std::tie(type, number, text) == std::tie(o.type, o.number, o.text); }
};

// (object id, field name) -> value, for every stored field value.
using Values = std::map<std::pair<int, std::string>, Value>;

Values readValues(const std::string &dbPath)
{
    Values out;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << dbPath;
        sqlite3_close(db);
        return out;
    }
    sqlite3_stmt *st = nullptr;
    const char *sql =
        "SELECT v.object, f.name, v.type, v.int_value, v.text_value FROM field_values v JOIN fields f ON f.id = v.field";
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << sqlite3_errmsg(db);
    } else {
        while (sqlite3_step(st) == SQLITE_ROW) {
            Value v;
            v.type = sqlite3_column_int(st, 2);
            v.number = sqlite3_column_int64(st, 3);
            if (sqlite3_column_type(st, 4) != SQLITE_NULL)
                v.text = reinterpret_cast<const char *>(sqlite3_column_text(st, 4));
            out[{sqlite3_column_int(st, 0), reinterpret_cast<const char *>(sqlite3_column_text(st, 1))}] = v;
        }
    }
    sqlite3_finalize(st);
    sqlite3_close(db);
    return out;
}

std::optional<std::string> text(const Values &values, int object, const std::string &field)
{
    auto it = values.find({object, field});
    return it == values.end() ? std::nullopt : it->second.text;
}

std::optional<long long> number(const Values &values, int object, const std::string &field)
{
    auto it = values.find({object, field});
    return it == values.end() ? std::nullopt : std::optional<long long>(it->second.number);
}

std::string commonProperties(const std::string &key, const std::string &name, const std::string &url,
                             const std::string &launch, const std::string &edfi, const std::string &node)
{
    return R"({"type":"common_properties","common_name":")" + key + R"(","name":")" + name +
           R"(","state":"online","device_type":"switch","management_url":")" + url +
           R"(","capacity":"10 TB","serial":"SN-)" + name + R"(","vendor":"Acme","launch_flag":")" + launch +
           R"(","edfi_flag":")" + edfi + R"(","node_flag":")" + node + "\"}\n";
}

class CommonPropertiesE2E : public ::testing::Test {
protected:
    void SetUp() override
    {
        dbPath_ = root_.file("map.db");
        setenv("OVW_MAPDB", dbPath_.c_str(), 1);
        root_.writeServices("TQDAEMON 0/tcp\n");
    }
    void TearDown() override { unsetenv("OVW_MAPDB"); }

    // Objects created and tagged with UniqueName through the platform API.
    std::map<std::string, OVwObjectId> buildMap(const std::vector<std::pair<std::string, std::string>> &objects)
    {
        std::map<std::string, OVwObjectId> ids;
        if (OVwInit() != 0) {
            ADD_FAILURE() << "OVwInit: " << OVwErrorMsg(OVwError());
            return ids;
        }
        const OVwFieldId unique = OVwDbFieldNameToFieldId("UniqueName");
        const OVwFieldId name = OVwDbFieldNameToFieldId("Name");
        for (const auto &[selection, uniqueName] : objects) {
            const OVwObjectId id = OVwDbCreateObjectBySelectionName(selection.c_str());
            EXPECT_NE(id, 0) << selection;
            EXPECT_EQ(OVwDbSetFieldStringValue(id, unique, uniqueName.c_str()), 0);
            EXPECT_EQ(OVwDbSetFieldStringValue(id, name, ("before " + selection).c_str()), 0);
            ids[selection] = id;
        }
        OVwPending();
        OVwDone();
        return ids;
    }

    tqtest::RunResult runDaemon(const std::string &jsonl)
    {
        tqtest::writeFile(root_.file("in.jsonl"), jsonl);
        const tqtest::RunResult enc = tqtest::run(
            {tqtest::binPath("tqstream"), "encode", "-i", root_.file("in.jsonl"), "-o", root_.file("tqdaemon.file")});
        EXPECT_EQ(enc.exitCode, 0) << enc.err;
        return tqtest::run({tqtest::binPath("tqdaemon")}, {{"TQ_ROOT", root_.path()}, {"OVW_MAPDB", dbPath_}});
    }

    tqtest::TempRoot root_;
    std::string dbPath_;
};

TEST_F(CommonPropertiesE2E, PropertiesLandOnEveryObjectCarryingTheName)
{
    auto ids = buildMap({{"SAN;a1;default", "dev-a"},
                         {"SAN;a2;default", "dev-a"},
                         {"SAN;b;default", "dev-b"},
                         {"SAN;c;default", "dev-c"}});
    ASSERT_EQ(ids.size(), 4u);
    const Values before = readValues(dbPath_);

    const tqtest::RunResult r = runDaemon(commonProperties("dev-a", "A", "1http://a", "TRUE", "true", "1") +
                                          commonProperties("dev-b", "B", "xhttp://b", "1", "TRUE", "TrUe") +
                                          commonProperties("nobody", "N", "2http://n", "TRUE", "TRUE", "TRUE"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const Values after = readValues(dbPath_);

    for (const char *sel : {"SAN;a1;default", "SAN;a2;default"}) {
        const int id = ids[sel];
        EXPECT_EQ(number(after, id, "isSanCommon"), 1) << sel;
        EXPECT_EQ(text(after, id, "Name"), "A") << sel;
        EXPECT_EQ(text(after, id, "State"), "online") << sel;
        EXPECT_EQ(text(after, id, "Type"), "switch") << sel;
        EXPECT_EQ(text(after, id, "URLFlag"), "1") << sel;
        EXPECT_EQ(text(after, id, "Management URL"), "http://a") << sel;
        EXPECT_EQ(text(after, id, "DeviceCapacity"), "10 TB") << sel;
        EXPECT_EQ(text(after, id, "Serial"), "SN-A") << sel;
        EXPECT_EQ(text(after, id, "VendorName"), "Acme") << sel;
        EXPECT_EQ(number(after, id, "isLaunchable"), 1) << sel;  // "TRUE"
        EXPECT_EQ(number(after, id, "isEDFI"), 0) << sel;        // "true"
        EXPECT_EQ(number(after, id, "isNode"), 0) << sel;        // "1"
        EXPECT_EQ(text(after, id, "UniqueName"), "dev-a") << sel;
    }

    const int b = ids["SAN;b;default"];
    EXPECT_EQ(number(after, b, "isSanCommon"), 1);
    EXPECT_EQ(text(after, b, "Name"), "B");
    EXPECT_EQ(text(after, b, "URLFlag"), "0");
    EXPECT_EQ(text(after, b, "Management URL"), "http://b");
    EXPECT_EQ(number(after, b, "isLaunchable"), 0);  // "1"
    EXPECT_EQ(number(after, b, "isEDFI"), 1);        // "TRUE"
    EXPECT_EQ(number(after, b, "isNode"), 0);        // "TrUe"

    // The identifier nobody carries changed nothing: the untouched object
    // holds exactly the values it had, and the later message did not reach
    // the objects checked above (their Name would be "N").
    const int c = ids["SAN;c;default"];
    auto valuesOf = [c](const Values &all) {
        Values mine;
        for (const auto &[key, value] : all)
            if (key.first == c)
                mine[key] = value;
        return mine;
    };
    EXPECT_TRUE(valuesOf(before) == valuesOf(after));
    EXPECT_EQ(valuesOf(after).size(), 2u);

    // The daemon printed what it received and traced the dispatch.
    size_t received = 0;
    for (size_t pos = r.out.find("This is what we recevied from caller for Common Properties\n");
         pos != std::string::npos; pos = r.out.find("This is what we recevied", pos + 1))
        ++received;
    EXPECT_EQ(received, 3u) << r.out;
    EXPECT_NE(tqtest::readFile(root_.file("tq_std.trc")).find("processing common properties msg"), std::string::npos);
}

}  // namespace
