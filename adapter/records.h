// Owners of the map platform's records and texts: each frees what it holds
// with the platform's release call for that type when it goes out of scope.
// The adapter holds every record a call returns in one of these, except the
// open map's record, which it keeps across calls (TopologyAdapter::mapHandle).
#ifndef TQ_ADAPTER_RECORDS_H
#define TQ_ADAPTER_RECORDS_H

#include "ovw/ovw.h"

#include <memory>

namespace records {

template <typename Record, void (*Free)(Record *)>
struct Freer {
    void operator()(Record *record) const { Free(record); }
};

struct TextFreer {
    void operator()(char *text) const { OVFree(text); }
};

}  // namespace records

using SymbolListPtr = std::unique_ptr<OVwSymbolList, records::Freer<OVwSymbolList, OVwFreeSymbolList>>;
using ObjectInfoPtr = std::unique_ptr<OVwObjectInfo, records::Freer<OVwObjectInfo, OVwFreeObjectInfo>>;
using SubmapInfoPtr = std::unique_ptr<OVwSubmapInfo, records::Freer<OVwSubmapInfo, OVwFreeSubmapInfo>>;
using SubmapListPtr = std::unique_ptr<OVwSubmapList, records::Freer<OVwSubmapList, OVwFreeSubmapList>>;
using MapInfoPtr = std::unique_ptr<OVwMapInfo, records::Freer<OVwMapInfo, OVwFreeMapInfo>>;
using FieldBindListPtr =
    std::unique_ptr<OVwFieldBindList, records::Freer<OVwFieldBindList, OVwDbFreeFieldBindList>>;
using TextPtr = std::unique_ptr<char, records::TextFreer>;

#endif
