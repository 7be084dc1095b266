// The daemon's entry. It takes no arguments and reads no configuration file;
// --help and --version answer and exit before any file is touched.
#include "daemon/startup.h"

#include "tq_version.h"

#include <cstdio>
#include <cstring>

namespace {

const char kUsage[] =
    "usage: tqdaemon [--help | --version]\n"
    "\n"
    "Keeps the map in step with the message stream. Takes no arguments: every path is\n"
    "under the root directory named by TQ_ROOT (default /).\n"
    "\n"
    "Files under TQ_ROOT:\n"
    "  etc/services                 the TQDAEMON <port>/tcp entry (read)\n"
    "  tqdaemon.file                the message stream (read, frame by frame)\n"
    "  usr/ov/conf/c/oid_to_sym     symbol types (read)\n"
    "  usr/ov/log/tqdaemon.log      the message log (on the drive of TQ_DRIVE)\n"
    "  tq_std.trc, tq_n2o.trc       the daemon and adapter traces\n"
    "  usr/ov/databases/tqmap.db    the map database (or OVW_MAPDB)\n"
    "\n"
    "Environment:\n"
    "  TQ_ROOT     the directory every drive maps to (default /)\n"
    "  TQ_DRIVE    the drive of the message log (default C:), or an absolute path\n"
    "  OVW_MAPDB   the map database file\n"
    "  TQ_ACK_ADDRESS\n"
    "              the IPv4 address the acknowledgement port listens on (default\n"
    "              127.0.0.1)\n"
    "  TQ_TRACE_LIMIT, TQ_LOG_LIMIT\n"
    "              size limits of each trace (default 256M) and of the message log\n"
    "              (default 0): bytes with an optional K, M or G, 0 for none; past\n"
    "              its limit a file becomes <name>.1 and a new one starts\n"
    "\n"
    "Exit codes:\n"
    "  0  the stream ended, or SIGTERM or SIGINT ended the run after a whole message\n"
    "  1  start-up or initialisation failed, or the map platform ended the session\n"
    "  2  usage error\n"
    "  3  the map database cannot be used (read-only file or folder, not SQLite, not a\n"
    "     map, a map of a form this version cannot use, damaged, OVW_MAPDB in a missing\n"
    "     folder); nothing was written to it\n"
    "  4  another daemon has the map database open\n"
    "  5  the map database failed for good during the run (a commit that cannot pass,\n"
    "     damage, the file moved or replaced); the map holds the messages before\n";

}  // namespace

int main(int argc, char **argv)
{
    if (argc > 1) {
        if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
            std::printf("tqdaemon %s\n", TQ_VERSION);
            return 0;
        }
        std::fprintf(stderr, "tqdaemon: unexpected argument '%s'\n\n%s", argv[1], kUsage);
        return 2;
    }
    return tqdaemonMain();
}
