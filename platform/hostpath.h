// Host-path mapping: every file the daemon, the map platform and the tools
// open goes through hostPath().
#ifndef TQ_PLATFORM_HOSTPATH_H
#define TQ_PLATFORM_HOSTPATH_H

#include <string>

// The host directory that stands for the root of the current drive: the
// value of TQ_ROOT, default "/". Read on every call (tests change it).
std::string hostRoot();

// Maps a Windows-style path onto the host:
//   "\tq_std.trc"            -> <root>/tq_std.trc
//   "C:\usr\ov\log\x.log"    -> <root>/usr/ov/log/x.log   (any drive letter)
//   "/abs/posix/path"        -> unchanged (already a host path)
//   "relative\name"          -> relative/name
// Backslashes become '/', and repeated separators collapse.
std::string hostPath(const std::string &windowsPath);

// The map database file, for the daemon's platform and the tools alike: the
// value of OVW_MAPDB mapped as any other path (":memory:" as it is), else
// <root>/usr/ov/databases/tqmap.db.
std::string mapDatabasePath();

// Creates the directories above a host path when missing. Returns false on failure.
bool ensureParentDirs(const std::string &hostFile);

#endif
