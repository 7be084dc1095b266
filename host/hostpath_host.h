// The host side of the path mapping in host/hostpath.cpp, one
// implementation per host (host/posix, host/windows).
#ifndef TQ_HOST_HOSTPATH_HOST_H
#define TQ_HOST_HOSTPATH_HOST_H

#include <string>

// The separator of host paths.
extern const char kHostSeparator;

// The root when TQ_ROOT is unset or empty.
extern const char kDefaultHostRoot[];

// True when the path already names a host file and is taken as it is
// (separators aside).
bool isHostPath(const std::string &path);

#endif
