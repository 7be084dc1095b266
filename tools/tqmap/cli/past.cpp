// tqmap tree --at and tqmap diff: the map as it was.
#include "tools/tqmap/cli/commands.h"

#include "tools/tqmap/past.h"

#include <cstdio>

namespace tqmap {

namespace {

void complain(const std::string &what)
{
    std::fprintf(stderr, "tqmap: %s\n", what.c_str());
}

void printItems(const char *title, const std::vector<MapDiff::Item> &items)
{
    std::printf("%s: %zu\n", title, items.size());
    for (const MapDiff::Item &i : items) {
        std::printf("  #%d %s  on %s (submap %d)", i.symbol, quoted(i.name).c_str(), i.where.c_str(), i.submap);
        if (i.before >= 0 && i.after >= 0)
            std::printf("  %s -> %s", statusName(i.before).c_str(), statusName(i.after).c_str());
        else
            std::printf("  %s", statusName(i.before >= 0 ? i.before : i.after).c_str());
        std::printf("\n");
    }
}

}  // namespace

namespace {

// The time an operator gave; none after complaining when it is not one.
std::optional<int64_t> timeOf(const std::string &text)
{
    std::optional<int64_t> t = parseTime(text, nowMs());
    if (!t)
        complain("a time is " + std::string(kTimeForms) + ", not '" + text + "'");
    return t;
}

}  // namespace

int loadMapAt(const std::string &path, const std::string &at, MapModel &m, bool withValues,
              std::optional<int64_t> &atMs)
{
    atMs.reset();
    if (!at.empty() && !(atMs = timeOf(at)))
        return kExitUsage;
    MapDatabase db;
    std::string error;
    if (!db.open(path, error) ||
        !(atMs ? loadModelAt(db, *atMs, m, error, withValues) : loadModel(db, m, error, withValues))) {
        complain(error);
        return kExitUsage;
    }
    return kExitOk;
}

int cmdTreeAt(const std::string &path, const std::string &at, bool withFields)
{
    MapModel m;
    std::optional<int64_t> atMs;
    if (int rc = loadMapAt(path, at, m, withFields, atMs); rc != kExitOk)
        return rc;
    std::printf("The map as it was at %s%s\n", mapdb::utcTime(*atMs).c_str(),
                withFields ? " (field values as they are now)" : "");
    TreeOptions opt;
    opt.fields = withFields;
    std::fputs(renderTree(m, opt).c_str(), stdout);
    return kExitOk;
}

int cmdDiff(const std::string &path, const std::string &from, const std::string &to, bool json)
{
    const std::optional<int64_t> fromMs = timeOf(from);
    const std::optional<int64_t> toMs = fromMs ? timeOf(to.empty() ? "now" : to) : std::nullopt;
    if (!toMs)
        return kExitUsage;
    // The map is read once; each time is a copy of it with the history undone.
    MapDatabase db;
    MapModel before, after;
    std::string error;
    if (!db.open(path, error) || !db.readMap(after, error, false) ||
        !db.rewind(static_cast<mapdb::MapRows &>(before) = after, *fromMs, error) ||
        !db.rewind(after, *toMs, error)) {
        complain(error);
        return kExitUsage;
    }
    before.index();
    after.index();
    MapDiff d = diffMaps(before, after);
    if (json) {
        std::puts(jsonText(diffJson(d, *fromMs, *toMs), 2).c_str());
        return kExitOk;
    }
    std::printf("From %s to %s\n", mapdb::utcTime(*fromMs).c_str(), mapdb::utcTime(*toMs).c_str());
    printItems("Appeared", d.appeared);
    printItems("Disappeared", d.disappeared);
    printItems("Changed status", d.statusChanged);
    return kExitOk;
}

}  // namespace tqmap
