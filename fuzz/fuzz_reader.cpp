// Fuzz target: the frame reader (dyn_recvMsg) over an in-memory message
// stream. The input is the stream file's bytes. The reader runs turn after
// turn until the stream ends; the ending routine's exit becomes an exception
// that brings control back here. No map is connected, so API payloads reach
// the handlers, which fail cleanly on the platform.
#include "fuzz/fuzz_support.h"

#include "log/lifecycle.h"
#include "log/log.h"
#include "handlers/testing.h"
#include "intake/endpoint.h"
#include "intake/reader.h"
#include "intake/testing.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    tqfuzz::setUp();
    tqDebug = 1;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    tqfuzz::trimOutputs();
    resetHandlerState();
    resetIntakeState();
    tqTraceDepth = 0;

    // fmemopen refuses an empty buffer on some C libraries: keep one byte of
    // room and expose only `size` of it.
    std::vector<char> bytes(size + 1);
    if (size != 0)
        std::memcpy(bytes.data(), data, size);
    tqMessageStream = size != 0 ? fmemopen(bytes.data(), size, "rb") : nullptr;

    // Never opened: acknowledgements go to no socket and fail silently.
    SocketEndpoint endpoint(0, 1);
    int exitCode = -1;
    // Every turn consumes at least five bytes or ends the stream, so the
    // loop is bounded by the input; the cap only guards against a reader
    // that stops consuming.
    const size_t maxTurns = size / 5 + 2;
    try {
        for (size_t turn = 0; turn < maxTurns; ++turn)
            dyn_recvMsg(0, &endpoint);
    } catch (const tqfuzz::DaemonEnded &ended) {
        exitCode = ended.exitCode;
    }

    // The stream must have ended through the stream-failure exit (code 0),
    // which also closes the stream.
    if (exitCode != 0 || tqMessageStream != nullptr) {
        std::fprintf(stderr, "fuzz_reader: stream did not end cleanly (exit %d, stream %s)\n", exitCode,
                     tqMessageStream != nullptr ? "open" : "closed");
        std::abort();
    }
    return 0;
}
