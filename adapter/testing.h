// What tests and the fuzz targets may do to the adapter beyond its API; the
// daemon never includes this header.
#ifndef TQ_ADAPTER_TESTING_H
#define TQ_ADAPTER_TESTING_H

#include "adapter/tqot.h"

struct TopologyAdapterPeer {
    // Puts every member of the adapter back to its start value.
    static void reset(TopologyAdapter &a)
    {
        if (a.mapHandle != nullptr)
            OVwFreeMapInfo(a.mapHandle);
        a.mapHandle = nullptr;
        a.pendingError = 0;
        a.platformFailure_.clear();
        a.singleSymbolPerContainer = 1;
        a.orderedArcNames = 1;
        a.serverData = nullptr;
        a.serverCallback = nullptr;
        a.done = 0;
        a.memberIndex.clear();
        a.nameBuffer_[0] = '\0';
        a.arcNameBuffer_[0] = '\0';
        a.isGraphField_ = 0;
        a.isVertexField_ = 0;
    }
};

#endif
