// Small file primitives for the log and trace writers: each call opens,
// writes and closes, so an entry is never held open between calls.
#ifndef TQ_PLATFORM_HOSTFILE_H
#define TQ_PLATFORM_HOSTFILE_H

#include <cstddef>
#include <string>

// True when the host file exists (an existence test, not an open).
bool hostFileExists(const std::string &hostFile);

// Opens the host file for appending (creating it with mode 0644), writes the
// bytes in one call and closes it. Returns false when the file could not be
// opened or the write failed.
bool hostAppend(const std::string &hostFile, const char *data, size_t len);

#endif
