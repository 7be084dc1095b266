// What a path names now, compared with what a program opened: a file that
// was moved, replaced, deleted or cut short while it was open.
#ifndef TQ_HOST_FILEID_H
#define TQ_HOST_FILEID_H

#include <cstdint>
#include <cstdio>
#include <string>

// The largest table file read into memory (services, oid_to_sym): larger
// ones are refused with a line, not read.
constexpr int64_t kLargestTableFile = 16 * 1024 * 1024;

// The identity of a file (its device and number on that device) and its size.
struct HostFileIdentity {
    uint64_t device = 0;
    uint64_t number = 0;
    int64_t size = -1;
    bool sameFile(const HostFileIdentity &other) const
    {
        return device == other.device && number == other.number;
    }
};

// The file the path names now (one stat). False when nothing is there or it
// cannot be looked at.
bool hostPathIdentity(const std::string &hostPath, HostFileIdentity &out);

// The file an open stream reads. False when the stream has no file (a pipe
// has an identity too; its size is then -1).
bool hostStreamIdentity(FILE *stream, HostFileIdentity &out);

// Removes a file. True when it is gone (or was never there).
bool hostRemoveFile(const std::string &hostPath);

#endif
