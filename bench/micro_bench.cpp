// Micro benchmarks of the daemon's hot paths: the log and trace writers
// against a bare append, the payload codec, and the map platform's look-ups
// and per-message commit at two map sizes. Everything is written below a
// temporary TQ_ROOT that is removed at the end.
#include "log/log.h"
#include "log/testing.h"
#include "codec/codec.h"
#include "host/fileid.h"
#include "host/hostfile.h"
#include "ovw/ovw.h"
#include "mapdb/operator.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// A temporary TQ_ROOT for the whole program.
class BenchRoot {
public:
    BenchRoot()
    {
        std::string tmpl = (fs::temp_directory_path() / "tqbench-micro.XXXXXX").string();
        if (mkdtemp(tmpl.data()) == nullptr)
            std::abort();
        path_ = tmpl;
        setenv("TQ_ROOT", path_.c_str(), 1);
        unsetenv("TQ_DRIVE");
        unsetenv("OVW_MAPDB");
        resetLogState();
    }
    ~BenchRoot()
    {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string file(const std::string &rel) const { return path_ + "/" + rel; }
    // Removes a file between benchmarks so each starts from an empty file.
    void clear(const std::string &rel) const
    {
        std::error_code ec;
        fs::remove(file(rel), ec);
    }

private:
    std::string path_;
};

BenchRoot &root()
{
    static BenchRoot r;
    return r;
}

// ---- log and trace writers -------------------------------------------------------

// The floor: one open/append/close of an entry of typical size.
void BM_BareAppend(benchmark::State &state)
{
    const std::string path = root().file("floor.trc");
    root().clear("floor.trc");
    const std::string entry = "[Tue Dec  8 07:52:11 2026]\tvname = f3/d1234\n\n";
    for (auto _ : state)
        benchmark::DoNotOptimize(hostAppend(path, entry.data(), entry.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * entry.size()));
}
BENCHMARK(BM_BareAppend);

void BM_DebugTrace(benchmark::State &state)
{
    root().clear("tq_std.trc");
    for (auto _ : state)
        benchmark::DoNotOptimize(DebugTrace("vname = %s\n", "f3/d1234"));
}
BENCHMARK(BM_DebugTrace);

void BM_AdapterTrace(benchmark::State &state)
{
    root().clear("tq_n2o.trc");
    tqTraceDepth = 6;
    for (auto _ : state)
        AdapterTrace("%s(%d): enter", "createVertex", 87);
    tqTraceDepth = 0;
}
BENCHMARK(BM_AdapterTrace);

void BM_MessageLog(benchmark::State &state)
{
    root().clear("usr/ov/log/tqdaemon.log");
    for (auto _ : state)
        MessageLog("Unknown tqotStatusType = 3!");
}
BENCHMARK(BM_MessageLog);

// ---- payload codec -------------------------------------------------------------------

void putString(std::string &out, const char *text)
{
    const uint32_t n = static_cast<uint32_t>(std::strlen(text) + 1);
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((n >> shift) & 0xFF));
    out.append(text, n);
}

// Decodes the ten fields of a vertex message (the debug flag off: the codec alone).
void BM_DecodeVertexFields(benchmark::State &state)
{
    std::string payload(1, '\x02');
    for (const char *f : {"1.3.6.1.2.1.2.2.1.3.1", "fabric3", "1", "f3/d1234", "3", "1.3.6.1.2.1.2.2.1.3.1.20",
                          "d1234", "NULL", "Fd1234"})
        putString(payload, f);
    const int saved = tqDebug;
    tqDebug = 0;
    for (auto _ : state) {
        FieldReader r(payload.data(), static_cast<int>(payload.size()));
        benchmark::DoNotOptimize(r.byte());
        for (int i = 0; i < 9; ++i)
            benchmark::DoNotOptimize(r.str());
        benchmark::DoNotOptimize(r.ok());
    }
    tqDebug = saved;
}
BENCHMARK(BM_DecodeVertexFields);

// ---- map platform look-ups -------------------------------------------------------------

// A map database of n vertex-like objects, each with UniqueName "u<i>" and
// selection name "OTHER_PROTOCOL;v<i>;default"; rebuilt when n changes.
struct MapOf {
    int n = -1;
    OVwFieldId uniqueName = 0;
    OVwFieldId state = 0;

    void ensure(int want)
    {
        if (n == want)
            return;
        if (n >= 0)
            OVwDone();
        const std::string db = root().file("micro-" + std::to_string(want) + ".db");
        root().clear("micro-" + std::to_string(want) + ".db");
        setenv("OVW_MAPDB", db.c_str(), 1);
        if (OVwInit() != 0)
            std::abort();
        uniqueName = OVwDbFieldNameToFieldId("UniqueName");
        state = OVwDbFieldNameToFieldId("State");
        for (int i = 0; i < want; ++i) {
            const std::string sel = "OTHER_PROTOCOL;v" + std::to_string(i) + ";default";
            OVwObjectId id = OVwDbCreateObjectBySelectionName(sel.c_str());
            OVwDbSetFieldStringValue(id, uniqueName, ("u" + std::to_string(i)).c_str());
        }
        OVwPending();   // commits the fill
        n = want;
    }
};

MapOf &mapOf()
{
    static MapOf m;
    return m;
}

void BM_SelectionNameToObjectId(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    mapOf().ensure(n);
    std::vector<std::string> names;
    for (int i = 0; i < 1024; ++i)
        names.push_back("OTHER_PROTOCOL;v" + std::to_string((i * 7919) % n) + ";default");
    size_t k = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(OVwDbSelectionNameToObjectId(names[k++ & 1023].c_str()));
}
BENCHMARK(BM_SelectionNameToObjectId)->Arg(1000)->Arg(100000);

// The handlers' field-value look-up: objects whose UniqueName is a text.
void BM_ListObjectsByFieldValue(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    mapOf().ensure(n);
    std::vector<std::string> keys;
    for (int i = 0; i < 1024; ++i)
        keys.push_back("u" + std::to_string((i * 7919) % n));
    size_t k = 0;
    for (auto _ : state) {
        OVwFieldValue value{};
        value.field_type = OVwStringField;
        value.un.string_val = const_cast<char *>(keys[k++ & 1023].c_str());
        OVwFieldBinding binding{mapOf().uniqueName, &value};
        OVwObjectIdList *list = OVwDbListObjectsByFieldValue(&binding);
        benchmark::DoNotOptimize(list);
        OVwDbFreeObjectIdList(list);
    }
}
BENCHMARK(BM_ListObjectsByFieldValue)->Arg(1000)->Arg(100000);

void BM_FieldNameToFieldId(benchmark::State &state)
{
    mapOf().ensure(1000);
    for (auto _ : state)
        benchmark::DoNotOptimize(OVwDbFieldNameToFieldId("UniqueName"));
}
BENCHMARK(BM_FieldNameToFieldId);

// One field write and the commit that ends a loop turn: the platform's
// per-message transaction cost.
void BM_FieldWriteAndCommit(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    mapOf().ensure(n);
    int i = 0;
    for (auto _ : state) {
        OVwDbSetFieldStringValue(1 + (i * 7919) % n, mapOf().state, (i & 1) != 0 ? "online" : "degraded");
        benchmark::DoNotOptimize(OVwPending());
        ++i;
    }
}
BENCHMARK(BM_FieldWriteAndCommit)->Arg(1000)->Arg(100000);

// The look at the map database's path that each commit that wrote makes
// (is it still the file that was opened?): part of BM_FieldWriteAndCommit.
void BM_MapPathCheckPerCommit(benchmark::State &state)
{
    const std::string path = root().file("stat.db");
    hostAppend(path, "x", 1);
    HostFileIdentity id;
    for (auto _ : state)
        benchmark::DoNotOptimize(hostPathIdentity(path, id));
}
BENCHMARK(BM_MapPathCheckPerCommit);

// ---- status roll-up -------------------------------------------------------------------

// The effective status of every symbol of a map of n vertices: 10 graphs on
// the root submap, each holding graphs of 100 vertices (one of them critical).
void BM_RollUpWholeMap(benchmark::State &state)
{
    const int n = static_cast<int>(state.range(0));
    std::vector<mapdb::StatusRow> rows;
    std::vector<std::pair<int, int>> submaps;
    int id = 0, object = 0, submap = 1;
    for (int top = 0; top < 10; ++top) {
        int topObject = ++object, topMap = ++submap;
        rows.push_back({++id, 1, topObject, OVwStatusNormal, OVwRollUpStatusSource});
        submaps.emplace_back(topMap, topObject);
        for (int g = 0; g < n / 1000; ++g) {
            int gObject = ++object, gMap = ++submap;
            rows.push_back({++id, topMap, gObject, OVwStatusNormal, OVwRollUpStatusSource});
            submaps.emplace_back(gMap, gObject);
            for (int v = 0; v < 100; ++v)
                rows.push_back({++id, gMap, ++object, v == 7 && g == 3 ? OVwStatusCritical : OVwStatusNormal, 3});
        }
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(mapdb::effectiveStatuses(rows, submaps));
    state.counters["symbols"] = static_cast<double>(rows.size());
}
BENCHMARK(BM_RollUpWholeMap)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv)
{
    root();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (mapOf().n >= 0)
        OVwDone();
    return 0;
}
