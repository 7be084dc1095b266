// Fuzz target: the API dispatcher and every handler on an in-memory map.
//
// Each input starts from a fresh map (a new in-memory database, the adapter
// and the handlers' state reset), so a crash reproduces from its input alone.
// The input is a sequence of records, each one loop turn of the daemon:
//
//   kind (1 byte), length (2 bytes, big-endian), then `length` bytes
//
// kind 1: API data (sub-type byte and fields) for dispatchApiMsg;
// kind 2 / 4: graph / content-ID list continuation data;
// kind 0xF0: a map event: the code byte, then symbol or object ids
//            (4 bytes big-endian each), posted as an operator would;
// any other kind: skipped.
// A record cut short by the end of the input takes what is left. Between
// records the map events are drained and the turn is committed, as the main
// loop does.
#include "fuzz/fuzz_support.h"

#include "adapter/testing.h"
#include "adapter/tqot.h"
#include "log/log.h"
#include "handlers/testing.h"
#include "handlers/handlers.h"
#include "intake/dispatch.h"
#include "intake/endpoint.h"
#include "mapdb/testhooks.h"
#include "ovw/ovw.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr uint8_t kEventRecord = 0xF0;
constexpr size_t kMaxRecords = 64;

SocketEndpoint endpoint(0, 1);

void serverCallback(int32_t, ServerEndpoint *) {}

void connect(TopologyAdapter *ad)
{
    TopologyAdapterPeer::reset(*ad);
    resetHandlerState();
    tqTraceDepth = 0;
    if (ad->tqotInit(0, 1, 1) != 0 || TopologyAdapterPeer::mapHandle(*ad) == nullptr) {
        std::fprintf(stderr, "fuzz_dispatch: tqotInit failed on an in-memory map\n");
        std::abort();
    }
    (void)ad->tqotSetSynchronousCreation(10);
    ad->registerServerCallback(&endpoint, &serverCallback);
    (void)ad->tqotGetError();
}

void disconnect(TopologyAdapter *ad)
{
    if (!TopologyAdapterPeer::done(*ad))
        ad->tqotDone();
    TopologyAdapterPeer::reset(*ad);
    resetHandlerState();
}

// The event drain of one main-loop turn. False when the session has ended.
bool drainEvents(TopologyAdapter *ad)
{
    if (TopologyAdapterPeer::done(*ad))
        return false;
    if (OVwFileDescriptor() < 0)
        return false;
    for (int i = 0; i < 64 && OVwPending() != 0; ++i) {
        if (OVwProcessEvent() < 0)
            break;
    }
    return !TopologyAdapterPeer::done(*ad);
}

void postEvent(const uint8_t *data, size_t length)
{
    if (length == 0)
        return;
    std::vector<int> ids;
    for (size_t at = 1; at + 4 <= length && ids.size() < 16; at += 4) {
        ids.push_back(static_cast<int>((static_cast<uint32_t>(data[at]) << 24) |
                                       (static_cast<uint32_t>(data[at + 1]) << 16) |
                                       (static_cast<uint32_t>(data[at + 2]) << 8) | data[at + 3]));
    }
    (void)mapdb::postEvent(data[0], ids);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    tqfuzz::setUp();
    ::setenv("OVW_MAPDB", ":memory:", 1);
    tqDebug = 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    tqfuzz::trimOutputs();
    TopologyAdapter *ad = TopologyAdapter::instance();
    connect(ad);

    size_t at = 0;
    try {
        for (size_t records = 0; at < size && records < kMaxRecords; ++records) {
            if (!drainEvents(ad))
                break;
            const uint8_t kind = data[at++];
            size_t length = 0;
            if (at + 2 <= size)
                length = (static_cast<size_t>(data[at]) << 8) | data[at + 1];
            at += 2;
            if (at > size)
                at = size;
            if (length > size - at)
                length = size - at;

            // A buffer of exactly the record's size: handlers must stay in it.
            std::unique_ptr<char[]> record(new char[length == 0 ? 1 : length]);
            if (length != 0)
                std::memcpy(record.get(), data + at, length);
            at += length;

            switch (kind) {
            case 1:
                dispatchApiMsg(record.get(), static_cast<int>(length));
                break;
            case 2:
                processContinueGraphMsg(record.get(), static_cast<int>(length));
                break;
            case 4:
                processContinueContentIDListMsg(record.get(), static_cast<int>(length));
                break;
            case kEventRecord:
                postEvent(reinterpret_cast<const uint8_t *>(record.get()), length);
                break;
            default:
                break;
            }
        }
        (void)drainEvents(ad);
    } catch (const tqfuzz::DaemonEnded &ended) {
        // No handler ends the daemon: that would stop the stream mid-way.
        std::fprintf(stderr, "fuzz_dispatch: a handler ended the daemon (exit %d)\n", ended.exitCode);
        std::abort();
    }
    disconnect(ad);
    return 0;
}
