// Decoding: the frame at a position of a stream back into its JSON object.
#include "forms.h"

namespace tqstream {

namespace {

// Reads fields from a region [pos, end) of a payload; the first failure
// leaves its description in `error` and makes every later read fail.
class FieldCursor {
public:
    FieldCursor(const std::string &buf, size_t pos, size_t end) : buf_(buf), pos_(pos), end_(end) {}

    size_t left() const { return end_ - pos_; }
    size_t pos() const { return pos_; }
    bool failed() const { return !error.empty(); }
    void skip(size_t n) { pos_ += n < left() ? n : left(); }

    std::optional<std::string> text(const std::string &what)
    {
        if (failed())
            return std::nullopt;
        if (left() < 4) {
            error = what + format(": only %zu bytes left for the string length", left());
            return std::nullopt;
        }
        const int32_t length = bigEndianAt(buf_, pos_);
        const size_t after = left() - 4;
        if (length < 1) {
            error = what + format(": string length %d is below 1", length);
            return std::nullopt;
        }
        if (static_cast<size_t>(length) > after) {
            error = what + format(": string runs past the %s (length %d, %zu bytes left)",
                                  region, length, after);
            return std::nullopt;
        }
        const size_t start = pos_ + 4;
        if (buf_[start + static_cast<size_t>(length) - 1] != '\0') {
            error = what + format(": string of length %d does not end in NUL", length);
            return std::nullopt;
        }
        std::string value = buf_.substr(start, static_cast<size_t>(length) - 1);
        if (value.find('\0') != std::string::npos) {
            error = what + ": string holds a NUL before its end";
            return std::nullopt;
        }
        if (!validUtf8(value)) {
            error = what + ": string is not valid UTF-8";
            return std::nullopt;
        }
        pos_ = start + static_cast<size_t>(length);
        if (length == 1)
            return std::nullopt;
        return value;
    }

    int32_t integer(const std::string &what)
    {
        if (failed())
            return 0;
        if (left() < 4) {
            error = what + format(": only %zu bytes left for a 4-byte integer", left());
            return 0;
        }
        const int32_t v = bigEndianAt(buf_, pos_);
        pos_ += 4;
        return v;
    }

    int byte(const std::string &what)
    {
        if (failed())
            return 0;
        if (left() < 1) {
            error = what + ": no byte left";
            return 0;
        }
        return static_cast<unsigned char>(buf_[pos_++]);
    }

    std::string error;
    const char *region = "payload";

private:
    const std::string &buf_;
    size_t pos_;
    size_t end_;
};

Json textJson(const std::optional<std::string> &text)
{
    return text ? Json(*text) : Json(nullptr);
}

// Content-ID entries filling exactly [pos, end); null on failure.
Json decodeContents(const std::string &buf, size_t pos, size_t end, std::string &problem)
{
    FieldCursor c(buf, pos, end);
    c.region = "list";
    Json entries = Json::array();
    int index = 0;
    while (c.left() > 0) {
        ++index;
        const std::string where = "contents entry " + std::to_string(index);
        const auto keyword = c.text(where + " keyword");
        const auto protocol = c.text(where + " protocol");
        const auto name = c.text(where + " name");
        if (c.failed()) {
            problem = c.error;
            return nullptr;
        }
        Json entry;
        const ContentKeyword *found = nullptr;
        if (keyword)
            for (const ContentKeyword &k : contentKeywords)
                if (*keyword == k.keyword)
                    found = &k;
        if (found != nullptr)
            entry["kind"] = found->kind;
        else
            entry["keyword"] = textJson(keyword);
        entry["protocol"] = textJson(protocol);
        entry["name"] = textJson(name);
        entries.push_back(std::move(entry));
    }
    return entries;
}

Json decodeApi(const ApiSpec &form, const std::string &payload, std::string &problem)
{
    FieldCursor c(payload, 2, payload.size());
    Json line;
    line["type"] = form.type;
    int index = 0;
    for (const FieldSpec &f : form.fields) {
        ++index;
        const std::string what = format("%s field %d '%s'", form.type, index, f.name);
        switch (f.kind) {
        case FieldKind::Text: {
            const auto text = c.text(what);
            line[f.name] = textJson(text);
            break;
        }
        case FieldKind::Byte:
        case FieldKind::End:
            line[f.name] = c.byte(what);
            break;
        case FieldKind::Contents: {
            const int32_t n = c.integer(what + " list length");
            if (c.failed())
                break;
            // The list is followed by at least the ending flag byte.
            if (n < 0 || static_cast<size_t>(n) >= c.left()) {
                c.error = what + format(": list length %d does not fit the %zu bytes left "
                                        "(list and ending flag)",
                                        n, c.left());
                break;
            }
            const size_t start = c.pos();
            Json entries = decodeContents(payload, start, start + static_cast<size_t>(n), problem);
            if (entries.is_null()) {
                c.error = what + ": " + problem;
                break;
            }
            line[f.name] = std::move(entries);
            c.skip(static_cast<size_t>(n));
            break;
        }
        }
        if (c.failed()) {
            problem = c.error;
            return nullptr;
        }
    }
    if (c.left() > 0) {
        problem = format("%s: %zu bytes after the last field", form.type, c.left());
        return nullptr;
    }
    return line;
}

Json decodeContinuation(int kind, const std::string &payload, std::string &problem)
{
    const char *type = kind == kGraphContinueKind ? "graph_continue" : "content_continue";
    if (payload.size() < 2) {
        problem = format("%s: no ending flag byte", type);
        return nullptr;
    }
    Json entries = decodeContents(payload, 1, payload.size() - 1, problem);
    if (entries.is_null()) {
        problem = std::string(type) + ": " + problem;
        return nullptr;
    }
    Json line;
    line["type"] = type;
    line["contents"] = std::move(entries);
    line["end"] = static_cast<unsigned char>(payload.back());
    return line;
}

Json rawLine(const std::string &header, int32_t headerLength,
             const std::optional<std::string> &payload, int32_t payloadLength)
{
    Json line;
    line["type"] = "raw";
    line["header"] = toHex(header);
    if (static_cast<int64_t>(headerLength) != static_cast<int64_t>(header.size()))
        line["header_length"] = headerLength;
    if (payload) {
        line["payload"] = toHex(*payload);
        if (static_cast<int64_t>(payloadLength) != static_cast<int64_t>(payload->size()))
            line["payload_length"] = payloadLength;
    }
    return line;
}

// Why a type-3 header is not the one encodeFrame writes for this payload
// length; empty when it is.
std::string headerProblem(const std::string &header, int32_t payloadLength)
{
    if (header.size() > static_cast<size_t>(kMaxHeaderLength))
        return format("header length %zu is above the %d-byte limit", header.size(),
                      kMaxHeaderLength);
    std::string digits;
    bool wellFormed = header.size() >= 3 && header.back() == '\0';
    if (wellFormed) {
        digits = header.substr(1, header.size() - 2);
        for (char ch : digits)
            if (ch < '0' || ch > '9')
                wellFormed = false;
    }
    if (!wellFormed)
        return "header text is not a decimal payload size ended by a NUL";
    if (digits != std::to_string(payloadLength)) {
        const bool above = digits.size() < 10 && std::stoll(digits) < payloadLength;
        return format("payload length %d %s the size %s its header announces", payloadLength,
                      above ? "is above" : "differs from", digits.c_str());
    }
    if (payloadLength == 0)
        return "payload length 0 (the daemon ends the stream here)";
    return "";
}

}  // namespace

Json decodePayload(const std::string &payload, std::string &problem)
{
    if (payload.empty()) {
        problem = "empty payload";
        return nullptr;
    }
    const int kind = static_cast<unsigned char>(payload[0]);
    if (kind == kApiKind) {
        if (payload.size() < 2) {
            problem = "API payload without a sub-type byte";
            return nullptr;
        }
        const int subtype = static_cast<signed char>(payload[1]);
        if (const ApiSpec *form = specBySubtype(subtype))
            return decodeApi(*form, payload, problem);
        Json line;
        line["type"] = "api";
        line["subtype"] = subtype;
        line["data"] = toHex(payload.substr(2));
        return line;
    }
    if (kind == kGraphContinueKind || kind == kContentContinueKind)
        return decodeContinuation(kind, payload, problem);
    Json line;
    line["type"] = "payload";
    line["kind"] = kind;
    line["data"] = toHex(payload.substr(1));
    return line;
}

DecodedFrame decodeFrame(const std::string &stream, size_t offset)
{
    DecodedFrame out;
    const size_t size = stream.size();
    size_t pos = offset;
    if (size - pos < 4) {
        out.problem = format("%zu stray bytes at the end of the stream (a header length takes 4)",
                             size - pos);
        out.line = nullptr;
        out.next = size;
        out.stop = true;
        return out;
    }

    const int32_t headerLength = littleEndianAt(stream, pos);
    pos += 4;
    if (headerLength < 0 || static_cast<size_t>(headerLength) > size - pos) {
        out.problem = headerLength < 0
                          ? format("header length %d is negative", headerLength)
                          : format("header length %d runs past the end of the stream "
                                   "(%zu bytes left)",
                                   headerLength, size - pos);
        out.line = rawLine(stream.substr(pos), headerLength, std::nullopt, 0);
        out.next = size;
        out.stop = true;
        return out;
    }
    const std::string header = stream.substr(pos, static_cast<size_t>(headerLength));
    pos += header.size();
    out.next = pos;

    if (header.empty()) {
        out.problem = "header length 0: no message type (the daemon ends the stream here)";
        out.line = rawLine(header, 0, std::nullopt, 0);
        return out;
    }

    const int msgType = static_cast<signed char>(header[0]);
    if (msgType != kApiMsgType) {
        if (header.size() == 1) {
            if (msgType == kAckMsgType) {
                out.line = Json{{"type", "ack"}};
            } else {
                out.line["type"] = "message";
                out.line["msg_type"] = msgType;
            }
            return out;
        }
        out.problem = header.size() > static_cast<size_t>(kMaxHeaderLength)
                          ? format("header length %zu is above the %d-byte limit", header.size(),
                                   kMaxHeaderLength)
                          : format("message type %d with a %zu-byte header (1 expected)", msgType,
                                   header.size());
        out.line = rawLine(header, headerLength, std::nullopt, 0);
        return out;
    }

    if (size - pos < 4) {
        out.problem = size == pos ? "frame ends after its header: no payload length"
                                  : format("frame ends after its header: %zu bytes where the "
                                           "4-byte payload length should be",
                                           size - pos);
        out.line = rawLine(header, headerLength, std::nullopt, 0);
        out.next = size;
        out.stop = true;
        return out;
    }
    const int32_t payloadLength = littleEndianAt(stream, pos);
    pos += 4;
    if (payloadLength < 0 || static_cast<size_t>(payloadLength) > size - pos) {
        out.problem = payloadLength < 0
                          ? format("payload length %d is negative", payloadLength)
                          : format("payload length %d runs past the end of the stream "
                                   "(%zu bytes left)",
                                   payloadLength, size - pos);
        out.line = rawLine(header, headerLength, stream.substr(pos), payloadLength);
        out.next = size;
        out.stop = true;
        return out;
    }
    const std::string payload = stream.substr(pos, static_cast<size_t>(payloadLength));
    out.next = pos + payload.size();

    out.problem = headerProblem(header, payloadLength);
    if (out.problem.empty())
        out.line = decodePayload(payload, out.problem);
    if (!out.problem.empty())
        out.line = rawLine(header, headerLength, payload, payloadLength);
    return out;
}

}  // namespace tqstream
