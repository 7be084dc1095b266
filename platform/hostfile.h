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
    int fd_ = -1;
};

#endif
