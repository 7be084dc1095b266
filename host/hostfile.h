// Small file primitives for the log and trace writers: each call opens,
// writes and closes, so an entry is never held open between calls.
#ifndef TQ_HOST_HOSTFILE_H
#define TQ_HOST_HOSTFILE_H

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

// A file bounded to `limit` bytes (0: no limit). When it already holds bytes
// and an append would take it past the limit, it is first renamed to
// `previous` (replacing an older one) and the bytes start a new file, so each
// append stays whole in one file.
struct HostBoundedFile {
    std::string path;
    std::string previous;
    uint64_t limit = 0;
    // The file's size when last measured plus what was appended since: an
    // upper bound while this process is its one writer (a removed or moved
    // file only makes it smaller). The size is measured again only when this
    // bound says the next append might not fit, so most appends cost no more
    // than hostAppend.
    uint64_t sizeBound = 0;
    bool measured = false;
};

// hostAppend on a bounded file.
bool hostAppendBounded(HostBoundedFile &file, const char *data, size_t len);

// The same rotation on its own, for a writer that puts a header at the top of
// each new file: renames the file to `previous` when it holds bytes and
// `incoming` more would take it past `limit`. True when it renamed.
bool hostRotateIfFull(const std::string &hostFile, size_t incoming, uint64_t limit, const std::string &previous);

// What a host path names.
enum class HostPathKind { Missing, File, Folder, Other };
HostPathKind hostPathKind(const std::string &hostPath);

// Up to `count` leading bytes of the file (fewer when it is shorter or
// cannot be read).
std::string hostFileHead(const std::string &hostFile, size_t count);

// True when the file can be opened for writing (it is opened and closed).
bool hostFileWritable(const std::string &hostFile);

// True when a file can be created in the folder (a probe file is created
// and removed).
bool hostFolderWritable(const std::string &folder);

// The folder part of a path ("." for a bare name).
std::string hostParentFolder(const std::string &hostFile);

// An exclusive lock on a side file, taken without waiting, that ends with the
// object or with the process (never left behind by a process that died).
class HostFileLock {
public:
    HostFileLock() = default;
    ~HostFileLock() { release(); }
    HostFileLock(const HostFileLock &) = delete;
    HostFileLock &operator=(const HostFileLock &) = delete;

    // Creates the file when missing and locks it. False when another
    // holder has it (busy set) or it cannot be opened (busy clear).
    bool acquire(const std::string &hostFile, bool &busy);
    void release();
    bool held() const { return fd_ >= 0; }

private:
    intptr_t fd_ = -1;   // a descriptor, or a handle on Windows
};

#endif
