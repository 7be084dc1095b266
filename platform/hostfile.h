// Small file primitives for the log and trace writers: each call opens,
// writes and closes, so an entry is never held open between calls.
#ifndef TQ_PLATFORM_HOSTFILE_H
#define TQ_PLATFORM_HOSTFILE_H

#include <cstddef>
#include <cstdint>
#include <string>

// True when the host file exists (an existence test, not an open).
bool hostFileExists(const std::string &hostFile);

// Opens the host file for appending (creating it with mode 0644), writes the
// bytes in one call and closes it. Returns false when the file could not be
// opened or the write failed.
bool hostAppend(const std::string &hostFile, const char *data, size_t len);

// hostAppend for a file bounded to `limit` bytes (0: no limit): when the file
// already holds bytes and these would take it past the limit, the file is
// first renamed to `previous` (replacing an older one) and the bytes start a
// new file. So each call's bytes stay whole in one file.
bool hostAppendBounded(const std::string &hostFile, const char *data, size_t len, uint64_t limit,
                       const std::string &previous);

// The same rotation on its own, for a writer that puts a header at the top of
// each new file: renames the file to `previous` when it holds bytes and
// `incoming` more would take it past `limit`. True when it renamed.
bool hostRotateIfFull(const std::string &hostFile, size_t incoming, uint64_t limit, const std::string &previous);

#endif
