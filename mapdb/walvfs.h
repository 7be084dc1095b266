// The file system layer under the map database: SQLite's default one, with
// the write-ahead log's frames of a commit written in one go (walvfs.cpp).
#ifndef TQ_MAPDB_WALVFS_H
#define TQ_MAPDB_WALVFS_H

namespace mapdb {

// Registers the layer the first time (not as the default) and returns its
// name for sqlite3_open_v2; null when it cannot be registered (the caller
// then uses the default layer).
const char *logGatheringVfs();

}  // namespace mapdb

#endif
