// What tests and the fuzz targets may do to the adapter beyond its API; the
// daemon never includes this header.
#ifndef TQ_ADAPTER_TESTING_H
#define TQ_ADAPTER_TESTING_H

#include "adapter/state.h"
#include "adapter/tqot.h"

struct TopologyAdapterPeer {
    // The adapter's private state, by reference, for tests to read and set.
    static OVwMapInfo *&mapHandle(TopologyAdapter &a) { return a.mapHandle; }
    static int32_t &pendingError(TopologyAdapter &a) { return a.pendingError; }
    static int32_t &singleSymbolPerContainer(TopologyAdapter &a) { return a.singleSymbolPerContainer; }
    static uint8_t &orderedArcNames(TopologyAdapter &a) { return a.orderedArcNames; }
    static uint8_t &done(TopologyAdapter &a) { return a.done; }
    static MemberIndex &memberIndex(TopologyAdapter &a) { return a.memberIndex; }
    static void removeMember(TopologyAdapter &a, OVwObjectId container, int32_t kind, OVwObjectId member)
    {
        a.removeMember(container, kind, member);
    }

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

// The adapter library back to its start: the adapter object and every
// member of its process-wide state (adapter/state.h).
inline void resetAdapterState()
{
    TopologyAdapterPeer::reset(*TopologyAdapter::instance());
    adapterState() = AdapterState{};
}

// Forgets the naming tables alone, so the next unprotocol() or icon() call
// builds them again (icon() then reads oid_to_sym anew).
inline void resetNamingTables() { adapterState().naming = NamingTables{}; }

// Replaces the pause between looks at the events while no map is open
// (null: the default pause, which a stop request cuts short).
inline void setMapWaitPause(TqMapWaitPause pause) { adapterState().mapWaitPause = pause; }

#endif
