// The message reader: one framed message of tqdaemon.file per main-loop turn.
//
// Frame: header length (4 bytes), header body (type byte; for API messages the
// payload size in decimal text), and for API messages the payload length
// (4 bytes) and the payload (kind byte, then the kind's data).
//
// Every length is checked against the frame layout before it is used. A frame
// whose header is longer than 260 bytes, or whose payload is longer than its
// header announces, is skipped whole (logged, acknowledged, not dispatched)
// when its lengths stay within kFrameLimit and inside the file; otherwise the
// stream ends as it does on a short read.
#include "intake/reader.h"

#include "log/lifecycle.h"
#include "log/log.h"
#include "log/outcome.h"
#include "log/runstats.h"
#include "adapter/turns.h"
#include "handlers/content.h"
#include "handlers/handlers.h"
#include "intake/dispatch.h"
#include "intake/state.h"
#include "host/fileid.h"
#include "host/hostfile.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

namespace {

constexpr int32_t kHeaderCapacity = 260;
constexpr int64_t kFrameLimit = 64 * 1024 * 1024;

constexpr int8_t kApiMessage = 3;
constexpr int8_t kAcknowledgeOnly = 127;

constexpr char kApiPayload = 1;
constexpr char kGraphContinuation = 2;
constexpr char kContentIdContinuation = 4;

// The header body, with room for a terminating NUL after the longest header.
char headerBuffer[kHeaderCapacity + 1];

long long streamPosition(FILE *stream)
{
    int64_t here = hostTell(stream);
    return here >= 0 ? here : intakeState().cursor.consumed;
}

// Bytes left in the stream, or -1 when the stream cannot tell (a pipe).
long long bytesRemaining(FILE *stream)
{
    int64_t here = hostTell(stream);
    if (here < 0)
        return -1;
    if (hostSeek(stream, 0, SEEK_END) != 0) {
        hostSeek(stream, here, SEEK_SET);
        return -1;
    }
    int64_t end = hostTell(stream);
    hostSeek(stream, here, SEEK_SET);
    return end < here ? -1 : static_cast<long long>(end - here);
}

// Counts what a short read took too: on a pipe that is all the frame
// there will ever be.
bool readExact(FILE *stream, void *into, size_t length)
{
    if (length == 0)
        return false;
    const size_t got = std::fread(into, 1, length, stream);
    intakeState().cursor.consumed += static_cast<long long>(got);
    return got == length;
}

bool readLength(FILE *stream, int32_t &length)
{
    return readExact(stream, &length, sizeof length);
}

// Reads and drops length bytes.
bool skipBytes(FILE *stream, long long length)
{
    static char sink[64 * 1024];
    while (length > 0) {
        size_t chunk = length > static_cast<long long>(sizeof sink) ? sizeof sink : static_cast<size_t>(length);
        if (!readExact(stream, sink, chunk))
            return false;
        length -= static_cast<long long>(chunk);
    }
    return true;
}

// Bytes from the frame's start to the stream's end, none of which was
// handled: a file's size past it, or on a pipe what was taken of the frame.
long long unreadFrom(FILE *stream, long long frameStart)
{
    HostFileIdentity open;
    if (hostStreamIdentity(stream, open) && open.size >= 0)
        return open.size > frameStart ? open.size - frameStart : 0;
    return intakeState().cursor.consumed - frameStart;
}

// True when the path now names another file than the one being read, or
// the file was cut below the position: what follows is not this stream.
bool streamReplaced(FILE *stream, long long position)
{
    const std::string &streamPath = intakeState().streamPath;
    HostFileIdentity open, named;
    if (streamPath.empty() || !hostStreamIdentity(stream, open) || open.size < 0)
        return false;
    if (open.size < position)
        return true;
    return hostPathIdentity(streamPath, named) && !named.sameFile(open);
}

void logFrame(long long position, const char *what)
{
    char text[384];
    std::snprintf(text, sizeof text, "Frame at byte %lld %s", position, what);
    MessageLog(text);
}

// Ends the daemon as a failed read does; the position count starts again
// for whatever stream comes next. What the last frame changed is stored
// first (made again while it cannot be); a read cut short by SIGTERM or
// SIGINT ends it the same way, with its own line.
[[noreturn]] void failStream(FILE *stream)
{
    IntakeState &s = intakeState();
    s.cursor = StreamCursor{};
    s.skipReason.clear();
    commitTurns();
    stopIfRequested();
    streamFailureExit(stream);
}

// The stream ends at a frame that was replaced under the reader, or with
// the frame's line: what is wrong, its number and the bytes left unread.
[[noreturn]] void endAtFrame(FILE *stream, long long position, long long frameNumber, const char *reason)
{
    char text[320];
    if (streamReplaced(stream, position)) {
        std::snprintf(text, sizeof text, "stream replaced at frame %lld, offset %lld", frameNumber, position);
        MessageLog(text);
    } else {
        std::snprintf(text, sizeof text, "ends the stream: %s (frame %lld, %lld bytes left unread)", reason,
                      frameNumber, unreadFrom(stream, position));
        logFrame(position, text);
    }
    failStream(stream);
}

[[noreturn]] void endStream(FILE *stream, long long position, const char *field, int32_t length, const char *reason)
{
    char what[160];
    std::snprintf(what, sizeof what, "%s %d %s", field, length, reason);
    endAtFrame(stream, position, currentFrameNumber(), what);
}

// The frame in hand was cut short (or its length was 0).
[[noreturn]] void endCut(FILE *stream, long long position, const char *reason)
{
    endAtFrame(stream, position, currentFrameNumber(), reason);
}

// A length to be skipped must stay within the limit and inside the file;
// anything else ends the stream.
void requireSkippable(FILE *stream, long long position, const char *field, int32_t length)
{
    if (length < 0)
        endStream(stream, position, field, length, "is negative");
    if (length > kFrameLimit)
        endStream(stream, position, field, length, "is beyond the 64 MiB limit");
    long long left = bytesRemaining(stream);
    if (left >= 0 && length > left)
        endStream(stream, position, field, length, "runs past the end of the stream");
}

void skipOrEnd(FILE *stream, long long position, const char *field, int32_t length)
{
    if (!skipBytes(stream, length))
        endStream(stream, position, field, length, "runs past the end of the stream");
}

// The skipped frame has been read past whole: its line, and the count.
void noteSkippedFrame(long long position)
{
    std::string &skipReason = intakeState().skipReason;
    if (skipReason.empty())
        return;
    logFrame(position, skipReason.c_str());
    skipReason.clear();
    ++runStats().skipped;
}

void acknowledge(ServerEndpoint *endpoint)
{
    if (endpoint != nullptr)
        endpoint->acknowledge();
}

// Leading decimal digits of the header text; no digits give 0.
int32_t announcedSize(const char *text)
{
    long long value = std::strtoll(text, nullptr, 10);
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

void dispatchPayload(char *payload, int32_t length)
{
    switch (payload[0]) {
    case kApiPayload:
        dispatchApiMsg(payload + 1, length - 1);
        break;
    case kGraphContinuation:
        beginMessage("graph continuation");
        processContinueGraphMsg(payload + 1, length - 1);
        endMessage();
        break;
    case kContentIdContinuation:
        beginMessage("content list continuation");
        processContinueContentIDListMsg(payload + 1, length - 1);
        endMessage();
        break;
    default:
        if (tqDebug)
            DebugTrace("Message Type is not API Msg\n");
        beginMessage(nullptr);
        refuseMessage("unknown payload kind %d", static_cast<int>(static_cast<signed char>(payload[0])));
        endMessage();
        break;
    }
}

// The frame in hand's map changes rolled back: the handlers' state and the
// run counters from before it.
void undoKeptFrame()
{
    const IntakeState &s = intakeState();
    if (!s.kept.payload)
        return;
    restoreContentState();
    runStats() = s.statsBefore;
}

// The frame in hand made again from its kept copy.
void redoKeptFrame()
{
    const KeptFrame &kept = intakeState().kept;
    if (!kept.payload)
        return;
    undoKeptFrame();
    std::unique_ptr<char[]> copy(new (std::nothrow) char[static_cast<size_t>(kept.length)]);
    if (!copy)
        return;
    std::memcpy(copy.get(), kept.payload.get(), static_cast<size_t>(kept.length));
    dispatchPayload(copy.get(), kept.length);
}

void keepFrame(const char *payload, int32_t length)
{
    IntakeState &s = intakeState();
    KeptFrame &kept = s.kept;
    kept.payload.reset(new (std::nothrow) char[static_cast<size_t>(length)]);
    kept.length = kept.payload ? length : 0;
    if (kept.payload)
        std::memcpy(kept.payload.get(), payload, static_cast<size_t>(length));
    saveContentState();
    s.statsBefore = runStats();
    setFrameRedo(&redoKeptFrame);
    setFrameUndo(&undoKeptFrame);
}

// Reads the API message's payload after its header: dispatches it, or drops
// it when the frame is to be skipped.
void readApiPayload(FILE *stream, long long frameStart, int32_t bufferSize, bool skipFrame)
{
    int32_t payloadLength = 0;
    if (!readLength(stream, payloadLength))
        endCut(stream, frameStart, "the frame is cut short before its payload length");
    if (payloadLength == 0)
        endCut(stream, frameStart, "payload length 0");
    if (payloadLength < 0)
        endStream(stream, frameStart, "payload length", payloadLength, "is negative");
    if (payloadLength > kFrameLimit)
        endStream(stream, frameStart, "payload length", payloadLength, "is beyond the 64 MiB limit");

    if (!skipFrame && payloadLength > bufferSize) {
        requireSkippable(stream, frameStart, "payload length", payloadLength);
        char what[160];
        std::snprintf(what, sizeof what, "skipped: payload length %d is above the announced size %d",
                      payloadLength, bufferSize);
        intakeState().skipReason = what;
        skipFrame = true;
    } else if (skipFrame) {
        requireSkippable(stream, frameStart, "payload length", payloadLength);
    }

    // The announced size bounds the payload; the buffer needs no more than the payload itself.
    std::unique_ptr<char[]> payload;
    if (!skipFrame) {
        payload.reset(new (std::nothrow) char[static_cast<size_t>(payloadLength)]);
        if (!payload) {
            char what[160];
            std::snprintf(what, sizeof what, "skipped: no memory for a payload of %d bytes", payloadLength);
            intakeState().skipReason = what;
            skipFrame = true;
        }
    }

    if (skipFrame) {
        skipOrEnd(stream, frameStart, "payload length", payloadLength);
        return;
    }
    if (!readExact(stream, payload.get(), static_cast<size_t>(payloadLength)))
        endCut(stream, frameStart, "the frame is cut short in its payload");
    keepFrame(payload.get(), payloadLength);
    dispatchPayload(payload.get(), payloadLength);
}

}  // namespace

IntakeState &intakeState()
{
    // Never destroyed, like the adapter's state: code run at exit may still
    // read it.
    static IntakeState *state = new IntakeState();
    return *state;
}

void setStreamPath(const std::string &path) { intakeState().streamPath = path; }

void dyn_recvMsg(int32_t /*unused*/, ServerEndpoint *endpoint)
{
    if (endpoint != nullptr)
        endpoint->acceptPending();
    FILE *stream = tqMessageStream;
    if (stream == nullptr)
        failStream(nullptr);
    IntakeState &s = intakeState();
    if (s.cursor.stream != stream)
        s.cursor = StreamCursor{stream, 0};

    // A frame not dispatched has nothing to make again.
    s.kept = KeptFrame{};
    long long frameStart = streamPosition(stream);
    if (streamReplaced(stream, frameStart))
        endAtFrame(stream, frameStart, currentFrameNumber() + 1, "");
    int32_t headerLength = 0;
    const long long before = s.cursor.consumed;
    if (!readLength(stream, headerLength)) {
        // Nothing more: the stream's end. Less than a length: stray bytes.
        if (s.cursor.consumed == before)
            failStream(stream);
        char what[96];
        std::snprintf(what, sizeof what, "%lld stray bytes where a header length belongs",
                      s.cursor.consumed - before);
        endAtFrame(stream, frameStart, currentFrameNumber() + 1, what);
    }
    ++runStats().framesRead;
    if (headerLength == 0)
        endCut(stream, frameStart, "header length 0");

    bool skipFrame = false;
    if (headerLength < 0 || headerLength > kHeaderCapacity) {
        requireSkippable(stream, frameStart, "header length", headerLength);
        char what[160];
        std::snprintf(what, sizeof what, "skipped: header length %d is above %d", headerLength, kHeaderCapacity);
        intakeState().skipReason = what;
        skipFrame = true;
        // Keep the part that fits (the type and the size text), drop the rest.
        if (!readExact(stream, headerBuffer, kHeaderCapacity))
            endStream(stream, frameStart, "header length", headerLength, "runs past the end of the stream");
        skipOrEnd(stream, frameStart, "header length", headerLength - kHeaderCapacity);
        headerBuffer[kHeaderCapacity] = '\0';
    } else {
        if (!readExact(stream, headerBuffer, static_cast<size_t>(headerLength)))
            endCut(stream, frameStart, "the frame is cut short in its header");
        headerBuffer[headerLength] = '\0';
    }

    auto messageType = static_cast<int8_t>(headerBuffer[0]);
    if (tqDebug)
        DebugTrace("msgType: %d\n", messageType);

    if (messageType == kApiMessage) {
        const char *sizeText = headerBuffer + 1;
        if (tqDebug)
            DebugTrace("Length string: %s\n", sizeText);
        int32_t bufferSize = announcedSize(sizeText);
        if (tqDebug)
            DebugTrace("msgpropLength: %d\n", bufferSize);
        // First acknowledgement: the header has been taken.
        acknowledge(endpoint);
        if (tqDebug)
            DebugTrace("dyn_recvMsg received %d: msgLength: %d\n", 1, headerLength);
        readApiPayload(stream, frameStart, bufferSize, skipFrame);
        noteSkippedFrame(frameStart);
        if (tqDebug)
            DebugTrace("\t\tRETURN\n");
        // Second acknowledgement: once the message's changes are stored.
        if (endpoint != nullptr)
            endpoint->acknowledgeWhenStored();
        return;
    }

    noteSkippedFrame(frameStart);
    if (messageType == kAcknowledgeOnly) {
        acknowledge(endpoint);
        return;
    }

    if (tqDebug) {
        DebugTrace("Unknown MesgType!\n");
        DebugTrace("\t\tRETURN\n");
    }
    if (!skipFrame) {
        beginMessage(nullptr);
        refuseMessage("unknown frame type %d", messageType);
        endMessage();
    }
    acknowledge(endpoint);
}
