// Host-path mapping: every file the daemon, the map platform and the tools
// open goes through hostPath().
#ifndef TQ_HOST_HOSTPATH_H
#define TQ_HOST_HOSTPATH_H

#include <string>

// The host directory that stands for the root of the current drive: the
// value of TQ_ROOT, default "/" (on Windows: none, see hostPath). Read on
// every call (tests change it).
std::string hostRoot();

// Maps a Windows-style path onto the host. On POSIX:
//   "\tq_std.trc"            -> <root>/tq_std.trc
//   "C:\usr\ov\log\x.log"    -> <root>/usr/ov/log/x.log   (any drive letter)
//   "/abs/posix/path"        -> unchanged (already a host path)
//   "relative\name"          -> relative/name
// Backslashes become '/', and repeated separators collapse.
// On Windows the separator is '\'. With TQ_ROOT set, drive-prefixed and
// rooted paths map under it as above, except a drive-rooted path inside the
// root, which is already a host path; with TQ_ROOT unset every path is a host
// path ("C:\usr\ov" stays "C:\usr\ov").
std::string hostPath(const std::string &windowsPath);

// The host path of the system's services file: <root>/etc/services on POSIX,
// %SystemRoot%\System32\drivers\etc\services on Windows.
std::string servicesFile();

// The map database file, for the daemon's platform and the tools alike: the
// value of OVW_MAPDB mapped as any other path (":memory:" as it is), else
// <root>/usr/ov/databases/tqmap.db.
std::string mapDatabasePath();

// Creates the directories above a host path when missing. Returns false on failure.
bool ensureParentDirs(const std::string &hostFile);

#endif
