// Owners of the map platform's records: each frees its record with the
// platform's call for that type when it goes out of scope.
#ifndef TQ_ADAPTER_RECORDS_H
#define TQ_ADAPTER_RECORDS_H

#include "ovw/ovw.h"

#include <memory>

namespace records {

template <typename Record, void (*Free)(Record *)>
struct Freer {
    void operator()(Record *record) const { Free(record); }
};

}  // namespace records

using SymbolListPtr = std::unique_ptr<OVwSymbolList, records::Freer<OVwSymbolList, OVwFreeSymbolList>>;
using ObjectInfoPtr = std::unique_ptr<OVwObjectInfo, records::Freer<OVwObjectInfo, OVwFreeObjectInfo>>;
using SubmapInfoPtr = std::unique_ptr<OVwSubmapInfo, records::Freer<OVwSubmapInfo, OVwFreeSubmapInfo>>;
using SubmapListPtr = std::unique_ptr<OVwSubmapList, records::Freer<OVwSubmapList, OVwFreeSubmapList>>;
using MapInfoPtr = std::unique_ptr<OVwMapInfo, records::Freer<OVwMapInfo, OVwFreeMapInfo>>;

#endif
