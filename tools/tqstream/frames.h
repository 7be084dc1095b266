// Message stream frames and their JSON Lines form: encoding one JSON object
// into the bytes of one frame, and decoding the frame at a position of a
// stream back into that object. Used by the tqstream subcommands; free of
// any daemon code.
#ifndef TQ_TOOLS_TQSTREAM_FRAMES_H
#define TQ_TOOLS_TQSTREAM_FRAMES_H

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace tqstream {

using Json = nlohmann::ordered_json;

// An encoding error; the text names the offending field ("missing field 'name'").
class StreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Builds the bytes of one API payload: payload strings and integers are
// big-endian, an absent string is length 1 and a NUL.
class PayloadWriter {
public:
    void byte(uint8_t b) { bytes_.push_back(static_cast<char>(b)); }
    void integer(int32_t v);
    void string(const std::optional<std::string> &text);
    void append(const std::string &raw) { bytes_ += raw; }
    const std::string &bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// Frame builders.
// A type-3 frame: header length, byte 3, the payload size in decimal and a
// NUL, then the payload length and the payload.
std::string apiFrame(const std::string &payload);
// A frame with a one-byte header (acknowledge-only and other message types).
std::string oneByteFrame(int8_t msgType);
// A frame written exactly as given, lengths included (they may lie).
std::string rawFrame(const std::string &header, int32_t headerLength,
                     const std::optional<std::string> &payload, int32_t payloadLength);

// Parses one JSON Lines line. Throws StreamError for invalid JSON and for a
// key given twice in one object (JSON parsers would keep only one).
Json parseLine(const std::string &text);

// The frame bytes of one JSON Lines object. Throws StreamError.
std::string encodeFrame(const Json &line);

// The payload (kind byte first) of one type-3 JSON object ("graph", "vertex",
// "graph_continue", "payload", "api", ...). Throws StreamError.
std::string encodePayload(const Json &line);

// One decoded frame.
struct DecodedFrame {
    Json line;              // the JSON object; null when nothing could be shown
    size_t next = 0;        // offset of the following frame
    std::string problem;    // empty when the frame decoded cleanly
    bool stop = false;      // the stream cannot be followed past this frame
};

// Decodes the frame that starts at `offset` (below stream.size()). A frame
// that is not in the form encodeFrame writes comes back as a "raw" line
// holding its exact bytes, with the reason in `problem`.
DecodedFrame decodeFrame(const std::string &stream, size_t offset);

// Decodes a payload (kind byte first) into its JSON object; on failure
// returns null and names the problem.
Json decodePayload(const std::string &payload, std::string &problem);

// Hex text of bytes (lower case) and back; fromHex throws StreamError.
std::string toHex(const std::string &bytes);
std::string fromHex(const std::string &hex);

}  // namespace tqstream

#endif
