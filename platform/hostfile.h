// Small file primitives for the log and trace writers: each call opens,
// writes and closes, so an entry is never held open between calls.
#ifndef TQ_PLATFORM_HOSTFILE_H
#define TQ_PLATFORM_HOSTFILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// True when the host file exists (an existence test, not an open).
bool hostFileExists(const std::string &hostFile);

// Opens the host file for appending (creating it with mode 0644), writes the
// bytes in one call and closes it. Returns false when the file could not be
// opened or the write failed.
bool hostAppend(const std::string &hostFile, const char *data, size_t len);

// 64-bit positions in an open stream (a long is 32 bits on some hosts).
// hostTell: the position, or -1 when the stream cannot tell (a pipe).
// hostSeek: as fseek (whence SEEK_SET, SEEK_CUR or SEEK_END); 0 on success.
int64_t hostTell(FILE *stream);
int hostSeek(FILE *stream, int64_t offset, int whence);

#endif
