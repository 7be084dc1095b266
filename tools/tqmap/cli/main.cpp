// tqmap: look at a map database and act on it.
//
//   tqmap [--db PATH] tree [--fields] [--json] [--at TIME]
//   tqmap [--db PATH] diff T1 [T2] [--json]
//   tqmap [--db PATH] dot [-o FILE] [--submap ID]
//   tqmap [--db PATH] svg -o FILE | png -o FILE [--submap ID]
//   tqmap [--db PATH] export [--submap ID] [--format graphml|drawio|svg] [-o FILE]
//   tqmap [--db PATH] objects --field NAME --value TEXT [--json]
//   tqmap [--db PATH] find TEXT [--json]
//   tqmap [--db PATH] show ID|NAME [--json]
//   tqmap [--db PATH] changes [--since TIME] [--limit N] [--json]
//   tqmap [--db PATH] serve [--listen HOST:PORT] [--tls-cert FILE --tls-key FILE]
//                           [--users FILE] [--token-file FILE] [--insecure]
//   tqmap passwd --users FILE USER         (the password on standard input)
//   tqmap [--db PATH] post EVENT [IDS...]
//   tqmap copy FROM TO [--replace]
//
// Every command but `post` and `copy` opens the database read-only.
#include "tools/tqmap/tqmap.h"

#include "tools/tqmap/cli/commands.h"
#include "tools/tqmap/export.h"
#include "tools/tqmap/json.h"
#include "tools/tqmap/past.h"
#include "tools/tqmap/web/server.h"

#include "mapdb/copy.h"
#include "ovw/ovw.h"
#include "tq_version.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <cstring>
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
    if (!loadModel(db, model, error)) {
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

// More symbols than this and a picture of the whole map draws its top levels.
constexpr size_t kWholeMapSymbols = 400;

// The DOT text of one submap, or of the whole map (cut to its top levels
// when large, with a note on standard error). False for an unknown submap.
bool dotFor(const MapModel &model, int submap, std::string &dot)
{
    if (submap != 0) {
        if (model.submaps.count(submap) == 0) {
            complain("no submap " + std::to_string(submap) + " (tqmap tree lists them)");
            return false;
        }
        dot = renderSubmapDot(model, submap, false);
        return true;
    }
    std::string note;
    dot = renderDot(model, kWholeMapSymbols, note);
    if (!note.empty())
        complain(note);
    return true;
}

int cmdDot(const std::string &path, const std::string &output, int submap)
{
    MapModel model;
    if (int rc = loadMap(path, model); rc != kExitOk)
        return rc;
    std::string dot;
    if (!dotFor(model, submap, dot))
        return kExitFailed;
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

int cmdImage(const std::string &path, const std::string &format, const std::string &output, int submap)
{
    MapModel model;
    if (int rc = loadMap(path, model); rc != kExitOk)
        return rc;
    std::string dot, error;
    if (!dotFor(model, submap, dot))
        return kExitFailed;
    const char *engine = submap != 0 ? submapLayoutEngine(model, submap) : "dot";
    if (!renderImage(dot, format, output, error, engine)) {
        complain(error);
        return kExitFailed;
    }
    return kExitOk;
}

int cmdObjects(const std::string &path, const std::string &field, const std::string &value, bool json)
{
    MapDatabase db;
    std::string error;
    if (!db.open(path, error)) {
        complain(error);
        return kExitUsage;
    }
    std::map<int, FieldInfo> fields;
    std::vector<Object> found;
    if (!db.readFields(fields, error) || !db.findObjects(field, value, found, error)) {
        complain(error);
        return kExitUsage;
    }
    if (json) {
        Json out = Json::array();
        for (const Object &o : found) {
            Json j = {{"id", o.id}, {"selectionName", o.selectionName}};
            Json values = Json::object();
            for (const FieldValue &v : o.values) {
                auto it = fields.find(v.field);
                values[it != fields.end() ? it->second.name : "field " + std::to_string(v.field)] = valueJson(v);
            }
            j["fields"] = values;
            out.push_back(j);
        }
        std::puts(jsonText(out, 2).c_str());
        return found.empty() ? kExitFailed : kExitOk;
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
        if (!check.open(path, error) || (!ids.empty() && !loadModel(check, model, error))) {
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
    if (!mapdb::postOperatorEvent(path, ev.code, ids, error)) {
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

// Copies a whole map between two map databases and checks the copy.
int cmdCopy(const std::string &from, const std::string &to, bool replace)
{
    std::string error;
    mapdb::CopySummary summary;
    auto progress = [](const std::string &table, int64_t rows, bool done) {
        std::fprintf(stderr, "tqmap copy: %s %lld rows%s\n", table.c_str(), static_cast<long long>(rows),
                     done ? "" : " so far");
    };
    if (!mapdb::copyMap(from, to, replace, progress, summary, error)) {
        complain("copy: " + error);
        return kExitFailed;
    }
    std::printf("copied %s to %s: %lld objects, %lld symbols, %lld changes, %lld rows in all; the copy equals the "
                "original\n",
                summary.from.c_str(), summary.to.c_str(), static_cast<long long>(summary.objects),
                static_cast<long long>(summary.symbols), static_cast<long long>(summary.changes),
                static_cast<long long>(summary.rows));
    if (!summary.notVacuumed.empty())
        std::fprintf(stderr, "tqmap copy: the server map was not vacuumed (%s); it is complete, and the server's own"
                             " vacuum will reach it later\n",
                     summary.notVacuumed.c_str());
    return kExitOk;
}

}  // namespace

int main(int argc, char **argv)
{
    // The web view's budgeted layouts run this program anew (renderSvgWithin).
    if (argc == 3 && std::strcmp(argv[1], kLayoutWorkerFlag) == 0)
        return layoutWorkerMain(argv[2]);
    CLI::App app{"tqmap: look at a tqdaemon map database (read-only) and post map events to a running daemon."};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("tqmap ") + TQ_VERSION);
    app.fallthrough();
    app.footer("The database is OVW_MAPDB when set, else <TQ_ROOT>/usr/ov/databases/tqmap.db.\n"
               "Exit status: 0 done, 1 failed or nothing found, 2 usage error or no usable database.");

    std::string dbPath;
    app.add_option("--db", dbPath, "map database file or postgresql:// URI (default: OVW_MAPDB, else <TQ_ROOT>/usr/ov/databases/tqmap.db)");

    bool withFields = false, json = false;
    CLI::App *tree = app.add_subcommand("tree", "print the map as nested submaps with symbols, statuses and labels");
    tree->add_flag("--fields", withFields, "also print every object's field values");
    tree->add_flag("--json", json, "print the map as JSON");
    std::string at;
    tree->add_option("--at", at, std::string("the map as it was then, from the history of changes: ") + kTimeForms);

    std::string diffFrom, diffTo;
    CLI::App *diff = app.add_subcommand("diff", "what appeared, disappeared and changed status between two times");
    diff->add_option("from", diffFrom, "the earlier time")->required();
    diff->add_option("to", diffTo, "the later time (default: now)");
    diff->add_flag("--json", json, "print JSON");

    std::string dotOut;
    int submap = 0;
    const char *submapHelp = "draw this submap only (ids from tree); a large map is otherwise cut to its top levels";
    CLI::App *dot = app.add_subcommand("dot", "write the map as Graphviz DOT (standard output by default)");
    dot->add_option("-o,--output", dotOut, "file to write");
    dot->add_option("--submap", submap, submapHelp);

    std::string svgOut, pngOut;
    CLI::App *svg = app.add_subcommand("svg", "draw the map as an SVG picture");
    svg->add_option("-o,--output", svgOut, "file to write")->required();
    svg->add_option("--submap", submap, submapHelp);
    CLI::App *png = app.add_subcommand("png", "draw the map as a PNG picture");
    png->add_option("-o,--output", pngOut, "file to write")->required();
    png->add_option("--submap", submap, submapHelp);

    std::string exportFormat, exportOut;
    int exportFrom = 0;
    std::vector<std::string> formatNames;
    for (const ExportFormatInfo &f : exportFormats())
        formatNames.push_back(f.name);
    CLI::App *exportCmd = app.add_subcommand(
        "export", "write one submap as GraphML, draw.io XML or SVG: positions, labels, statuses and connections");
    exportCmd->add_option("--submap", exportFrom, "the submap (ids from tree; default: the root submap)");
    exportCmd->add_option("-f,--format", exportFormat, "graphml, drawio or svg (default: from the output file's name)")
        ->check(CLI::IsMember(formatNames));
    exportCmd->add_option("-o,--output", exportOut, "file to write (default: standard output)");

    std::string field, value;
    CLI::App *objects = app.add_subcommand("objects", "list the objects whose field holds a value, with all their fields");
    objects->add_option("--field", field, "field name, e.g. UniqueName")->required();
    objects->add_option("--value", value, "value: text, a number, or true/false")->required();
    objects->add_flag("--json", json, "print JSON");

    std::string text;
    CLI::App *find = app.add_subcommand(
        "find", "find objects by part of a label, name, unique id or field value (case-insensitive)");
    find->add_option("text", text, "the text to look for")->required();
    find->add_flag("--json", json, "print JSON");

    std::string who;
    CLI::App *show = app.add_subcommand(
        "show", "show one object: where it sits, status and effective status, state, properties, connections");
    show->add_option("object", who, "#N (a symbol, as tree shows it), object id, symbol id, selection name, name or label")->required();
    show->add_flag("--json", json, "print JSON");

    std::string since;
    int limit = kDefaultChangeLimit;
    bool allChanges = false;
    CLI::App *changes = app.add_subcommand("changes", "list recent changes of the map, oldest first");
    changes->add_option("--since", since, std::string("from this time on: ") + kTimeForms);
    CLI::Option *limitOption =
        changes->add_option("--limit", limit, "at most this many, the newest (default 100)")->check(CLI::PositiveNumber);
    changes->add_flag("--all", allChanges, "every change kept in the history")->excludes(limitOption);
    changes->add_flag("--json", json, "print JSON, newest first");

    ServeOptions serveOpt;
    CLI::App *serve = app.add_subcommand(
        "serve", "serve the live web view of the map and its JSON API (read-only; loopback by default)");
    serve->add_option("--listen", serveOpt.listen, "HOST:PORT to listen on (default 127.0.0.1:8080)");
    serve->add_option("--tls-cert", serveOpt.tlsCert, "certificate (PEM): serve HTTPS")->envname("TQMAP_TLS_CERT");
    serve->add_option("--tls-key", serveOpt.tlsKey, "the certificate's private key (PEM)")->envname("TQMAP_TLS_KEY");
    serve->add_option("--users", serveOpt.users, "users file of tqmap passwd: ask for a user and password")
        ->envname("TQMAP_USERS");
    serve->add_option("--token-file", serveOpt.tokenFile, "file holding a bearer token that grants access")
        ->envname("TQMAP_TOKEN_FILE");
    serve->add_flag("--insecure", serveOpt.insecure,
                    "beyond loopback, serve without TLS or authentication (a warning is printed)");

    std::string usersFile, userName;
    CLI::App *passwd = app.add_subcommand(
        "passwd", "set a user's password (read from standard input) in a users file for serve --users");
    passwd->add_option("--users", usersFile, "the users file (made when missing)")->required();
    passwd->add_option("user", userName, "the user")->required();

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

    std::string copyFrom, copyTo;
    bool copyReplace = false;
    CLI::App *copy = app.add_subcommand(
        "copy", "copy a whole map to another map database (made when missing) and check the copy; stop the daemon first");
    copy->add_option("from", copyFrom, "the map to copy")->required();
    copy->add_option("to", copyTo, "where the copy goes")->required();
    copy->add_flag("--replace", copyReplace, "empty a target that already holds a map (else it is refused)");

    // The first word that is not an option or --db's value names the command.
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        if (word == "--db") {
            ++i;
            continue;
        }
        if (word.empty() || word[0] == '-')
            continue;
        bool known = false;
        for (const CLI::App *sub : app.get_subcommands({}))
            known = known || sub->get_name() == word;
        if (!known) {
            complain("unknown command '" + word + "' (tqmap --help lists the commands)");
            return kExitUsage;
        }
        break;
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        int rc = app.exit(e);
        return rc == 0 ? kExitOk : kExitUsage;
    }

    if (dbPath.empty())
        dbPath = mapdb::defaultMapPath();

    if (tree->parsed())
        return json ? cmdTreeJson(dbPath, at) : !at.empty() ? cmdTreeAt(dbPath, at, withFields) : cmdTree(dbPath, withFields);
    if (diff->parsed())
        return cmdDiff(dbPath, diffFrom, diffTo, json);
    if (dot->parsed())
        return cmdDot(dbPath, dotOut, submap);
    if (svg->parsed())
        return cmdImage(dbPath, "svg", svgOut, submap);
    if (png->parsed())
        return cmdImage(dbPath, "png", pngOut, submap);
    if (exportCmd->parsed())
        return cmdExport(dbPath, exportFrom, exportFormat, exportOut);
    if (objects->parsed())
        return cmdObjects(dbPath, field, value, json);
    if (find->parsed())
        return cmdFind(dbPath, text, json);
    if (show->parsed())
        return cmdShow(dbPath, who, json);
    if (changes->parsed())
        return cmdChanges(dbPath, since, allChanges ? 0 : limit, json);
    if (serve->parsed())
        return cmdServe(dbPath, serveOpt);
    if (passwd->parsed())
        return cmdPasswd(usersFile, userName);
    if (post->parsed())
        return cmdPost(dbPath, event, ids);
    if (copy->parsed())
        return cmdCopy(copyFrom, copyTo, copyReplace);
    return kExitUsage;
}
