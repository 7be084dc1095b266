// The stored form of field values: a list is kept as a JSON array in the
// text column, scalars in the integer or text column.
#ifndef TQ_MAPDB_LISTS_H
#define TQ_MAPDB_LISTS_H

#include "ovw/ovw.h"

#include <cstdint>
#include <string>

namespace mapdb {

// The JSON text of a list value; false when the value is malformed.
bool encodeList(const OVwFieldValue &v, std::string &out);
// Frees what the value holds (texts, list elements), not the value itself.
void freeValueContents(OVwFieldValue *v);
// Fills `v` from a stored row; false on a malformed list or out of memory
// (what was filled in is then freed by freeValueContents).
bool decodeValue(int type, bool isList, int64_t intValue, const char *text, OVwFieldValue *v);
// A malloc'd value decoded from a stored row; null on a malformed list or
// out of memory.
OVwFieldValue *newValue(int type, bool isList, int64_t intValue, const char *text);

}  // namespace mapdb

#endif
