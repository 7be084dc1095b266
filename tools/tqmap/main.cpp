// tqmap: look at a map database and act on it.
//
//   tqmap [--db PATH] tree [--fields]
//   tqmap [--db PATH] dot [-o FILE]
//   tqmap [--db PATH] svg -o FILE | png -o FILE
//   tqmap [--db PATH] objects --field NAME --value TEXT
//   tqmap [--db PATH] post EVENT [IDS...]
//
// Every command but `post` opens the database read-only.
#include "tools/tqmap/tqmap.h"

#include "platform/ovw.h"
#include "platform/ovw_post.h"
#include "tq_version.h"

#include <CLI/CLI.hpp>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>

namespace {

using namespace tqmap;

void complain(const std::string &what)
{
    std::fprintf(stderr, "tqmap: %s\n", what.c_str());
}

// Opens and loads the whole map; an exit code on failure.
int loadMap(const std::string &path, MapModel &model)
{
    MapDatabase db;
    std::string error;
    if (!db.open(path, error)) {
        complain(error);
        return kExitUsage;
    }
    if (!db.load(model, error)) {
        complain(error);
        return kExitUsage;
    }
    return kExitOk;
}

int cmdTree(const std::string &path, bool withFields)
{
    MapModel model;
    if (int rc = loadMap(path, model); rc != kExitOk)
        return rc;
    TreeOptions opt;
    opt.fields = withFields;
    std::fputs(renderTree(model, opt).c_str(), stdout);
    return kExitOk;
}

int cmdDot(const std::string &path, const std::string &output)
{
    MapModel model;
    if (int rc = loadMap(path, model); rc != kExitOk)
        return rc;
    std::string dot = renderDot(model);
    if (output.empty() || output == "-") {
        std::fputs(dot.c_str(), stdout);
        return kExitOk;
    }
    std::ofstream out(output, std::ios::binary | std::ios::trunc);
    out << dot;
    out.close();
    if (!out) {
        complain("cannot write " + output);
        return kExitFailed;
    }
    return kExitOk;
}

int cmdImage(const std::string &path, const std::string &format, const std::string &output)
{
    MapModel model;
    if (int rc = loadMap(path, model); rc != kExitOk)
        return rc;
    std::string error;
    if (!renderImage(renderDot(model), format, output, error)) {
        complain(error);
        return kExitFailed;
    }
    return kExitOk;
}

int cmdObjects(const std::string &path, const std::string &field, const std::string &value)
{
    MapDatabase db;
    std::string error;
    if (!db.open(path, error)) {
        complain(error);
        return kExitUsage;
    }
    std::map<int, FieldInfo> fields;
    std::vector<Object> found;
    if (!db.loadFields(fields, error) || !db.findObjects(field, value, found, error)) {
        complain(error);
        return kExitUsage;
    }
    if (found.empty()) {
        complain("no object has " + field + " = " + value);
        return kExitFailed;
    }
    for (const Object &o : found) {
        std::printf("object %d  %s\n", o.id, o.selectionName.c_str());
        for (const FieldValue &v : o.values) {
            auto it = fields.find(v.field);
            std::string name = it != fields.end() ? it->second.name : "field " + std::to_string(v.field);
            std::printf("    %s = %s\n", name.c_str(), formatValue(v).c_str());
        }
    }
    std::printf("%zu object%s\n", found.size(), found.size() == 1 ? "" : "s");
    return kExitOk;
}

struct EventName {
    int code;
    bool takesIds;
};

const std::map<std::string, EventName> &eventNames()
{
    static const std::map<std::string, EventName> names = {
        {"end-session", {OVwEventEndSession, false}},
        {"map-open", {OVwEventMapOpen, false}},
        {"map-close", {OVwEventMapClose, false}},
        {"delete-symbols", {OVwEventDeleteSymbols, true}},
        {"delete-objects", {OVwEventDeleteObjects, true}},
    };
    return names;
}

int cmdPost(const std::string &path, const std::string &event, const std::vector<int> &ids)
{
    const EventName &ev = eventNames().at(event);
    if (ev.takesIds && ids.empty()) {
        complain("post " + event + ": give the ids to delete");
        return kExitUsage;
    }
    if (!ev.takesIds && !ids.empty()) {
        complain("post " + event + " takes no ids");
        return kExitUsage;
    }
    for (int id : ids) {
        if (id <= 0) {
            complain("post " + event + ": ids are positive numbers, not " + std::to_string(id));
            return kExitUsage;
        }
    }
    // Posting must never create a database (a daemon that is not there would
    // never see the event): check that it exists and is a map database first.
    // What the ids stand for, read before posting: a symbol deletion takes
    // the symbols away as it is posted.
    std::string error;
    std::vector<std::string> named;
    {
        MapDatabase check;
        MapModel model;
        if (!check.open(path, error) || (!ids.empty() && !check.load(model, error))) {
            complain(error);
            return kExitUsage;
        }
        const bool symbols = ev.code == OVwEventDeleteSymbols;
        for (int id : ids) {
            int object = id;
            if (symbols) {
                const Symbol *s = model.symbol(id);
                object = s != nullptr ? s->object : 0;
            }
            const Object *o = model.object(object);
            std::string line = (symbols ? "  symbol " : "  object ") + std::to_string(id) + ": ";
            if (symbols && object == 0)
                line += "(no such symbol)";
            else
                line += o != nullptr ? o->selectionName : "(no such object)";
            named.push_back(line);
        }
    }
    if (mapdb::postEventToFile(path, ev.code, ids, error) != 0) {
        complain("post " + event + ": " + (error.empty() ? "failed" : error));
        return kExitFailed;
    }
    std::printf("posted %s (event %d)", event.c_str(), ev.code);
    for (size_t i = 0; i < ids.size(); ++i)
        std::printf("%s%d", i == 0 ? " for " : " ", ids[i]);
    std::printf(" to %s\n", path.c_str());
    for (const std::string &line : named)
        std::printf("%s\n", line.c_str());
    return kExitOk;
}

}  // namespace

int main(int argc, char **argv)
{
    CLI::App app{"tqmap: look at a tqdaemon map database (read-only) and post map events to a running daemon."};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("tqmap ") + TQ_VERSION);
    app.fallthrough();
    app.footer("The database is OVW_MAPDB when set, else <TQ_ROOT>/usr/ov/databases/tqmap.db.\n"
               "Exit status: 0 done, 1 failed or nothing found, 2 usage error or no usable database.");

    std::string dbPath;
    app.add_option("--db", dbPath, "map database file (default: OVW_MAPDB, else <TQ_ROOT>/usr/ov/databases/tqmap.db)");

    bool withFields = false;
    CLI::App *tree = app.add_subcommand("tree", "print the map as nested submaps with symbols, statuses and labels");
    tree->add_flag("--fields", withFields, "also print every object's field values");

    std::string dotOut;
    CLI::App *dot = app.add_subcommand("dot", "write the map as Graphviz DOT (standard output by default)");
    dot->add_option("-o,--output", dotOut, "file to write");

    std::string svgOut, pngOut;
    CLI::App *svg = app.add_subcommand("svg", "draw the map as an SVG picture");
    svg->add_option("-o,--output", svgOut, "file to write")->required();
    CLI::App *png = app.add_subcommand("png", "draw the map as a PNG picture");
    png->add_option("-o,--output", pngOut, "file to write")->required();

    std::string field, value;
    CLI::App *objects = app.add_subcommand("objects", "list the objects whose field holds a value, with all their fields");
    objects->add_option("--field", field, "field name, e.g. UniqueName")->required();
    objects->add_option("--value", value, "value: text, a number, or true/false")->required();

    std::string event;
    std::vector<int> ids;
    CLI::App *post = app.add_subcommand(
        "post", "post a map event for the daemon (the one command that writes): end-session, map-open, map-close, "
                "delete-symbols IDS, delete-objects IDS");
    std::vector<std::string> choices;
    for (const auto &entry : eventNames())
        choices.push_back(entry.first);
    post->add_option("event", event, "the event")->required()->check(CLI::IsMember(choices));
    post->add_option("ids", ids, "symbol or object ids (deletions)");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        int rc = app.exit(e);
        return rc == 0 ? kExitOk : kExitUsage;
    }

    if (dbPath.empty())
        dbPath = defaultDatabasePath();

    if (tree->parsed())
        return cmdTree(dbPath, withFields);
    if (dot->parsed())
        return cmdDot(dbPath, dotOut);
    if (svg->parsed())
        return cmdImage(dbPath, "svg", svgOut);
    if (png->parsed())
        return cmdImage(dbPath, "png", pngOut);
    if (objects->parsed())
        return cmdObjects(dbPath, field, value);
    if (post->parsed())
        return cmdPost(dbPath, event, ids);
    return kExitUsage;
}
