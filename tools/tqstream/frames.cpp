#include "frames.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <limits>
#include <set>
#include <vector>

namespace tqstream {

namespace {

constexpr int kApiMsgType = 3;
constexpr int kAckMsgType = 127;
constexpr int kApiKind = 1;
constexpr int kGraphContinueKind = 2;
constexpr int kContentContinueKind = 4;
constexpr int kMaxHeaderLength = 260;

enum class FieldKind {
    Text,      // payload string (JSON string or null)
    Byte,      // one raw byte (JSON integer 0..255)
    Contents,  // payload integer N, then N bytes of content-ID entries
    End,       // the ending flag byte (JSON integer 0..255)
};

struct FieldSpec {
    const char *name;
    FieldKind kind;
};

struct ApiSpec {
    const char *type;
    int subtype;
    std::vector<FieldSpec> fields;
};

constexpr FieldKind T = FieldKind::Text;

const std::vector<ApiSpec> &apiSpecs()
{
    static const std::vector<ApiSpec> specs = {
        {"graph", 1,
         {{"moid", T}, {"parent_protocol", T}, {"parent_name", T}, {"protocol", T}, {"name", T},
          {"layout", T}, {"background", T}, {"icon", T}, {"label", T}, {"details", T},
          {"unique_id", T}, {"contents", FieldKind::Contents}, {"end", FieldKind::End}}},
        {"vertex", 2,
         {{"identifier", FieldKind::Byte}, {"graph_protocol", T}, {"graph_name", T},
          {"protocol", T}, {"name", T}, {"status", T}, {"icon", T}, {"label", T}, {"details", T},
          {"unique_id", T}}},
        {"arc", 3,
         {{"moid", T}, {"graph_protocol", T}, {"graph_name", T}, {"binding", T},
          {"a_endpoint", T}, {"a_name", T}, {"z_endpoint", T}, {"z_name", T}, {"arc_id", T},
          {"icon", T}, {"label", T}, {"details", T}, {"status", T}}},
        {"vertex_status", 5, {{"unique_id", T}, {"name", T}, {"status", T}, {"state", T}}},
        {"arc_status", 6,
         {{"binding", T}, {"a_endpoint", T}, {"a_name", T}, {"z_endpoint", T}, {"z_name", T},
          {"arc_index", T}, {"status", T}, {"moid", T}}},
        {"common_properties", 7,
         {{"common_name", T}, {"name", T}, {"state", T}, {"device_type", T}, {"management_url", T},
          {"capacity", T}, {"serial", T}, {"vendor", T}, {"launch_flag", T}, {"edfi_flag", T},
          {"node_flag", T}}},
        {"graph_update", 8, {{"protocol", T}, {"name", T}, {"icon", T}, {"label", T}}},
        {"change_icon", 9, {{"unique_id", T}, {"icon", T}}},
        {"change_label", 10, {{"unique_id", T}, {"label", T}}},
        {"content_ids", 11,
         {{"protocol", T}, {"name", T}, {"contents", FieldKind::Contents},
          {"end", FieldKind::End}}},
    };
    return specs;
}

const ApiSpec *specByType(const std::string &type)
{
    for (const ApiSpec &form : apiSpecs())
        if (type == form.type)
            return &form;
    return nullptr;
}

const ApiSpec *specBySubtype(int subtype)
{
    for (const ApiSpec &form : apiSpecs())
        if (subtype == form.subtype)
            return &form;
    return nullptr;
}

struct ContentKeyword {
    const char *kind;
    const char *keyword;
};
const ContentKeyword contentKeywords[] = {
    {"graph", "GetGraphsInGraph"},
    {"vertex", "GetVerticesInGraph"},
    {"box", "GetBoxesInGraph"},
};

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    return buf;
}

void putLittleEndian(std::string &out, int32_t v)
{
    const auto u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}

int32_t littleEndianAt(const std::string &s, size_t pos)
{
    uint32_t u = 0;
    for (int i = 3; i >= 0; --i)
        u = (u << 8) | static_cast<unsigned char>(s[pos + static_cast<size_t>(i)]);
    return static_cast<int32_t>(u);
}

int32_t bigEndianAt(const std::string &s, size_t pos)
{
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u = (u << 8) | static_cast<unsigned char>(s[pos + static_cast<size_t>(i)]);
    return static_cast<int32_t>(u);
}

bool validUtf8(const std::string &s)
{
    size_t i = 0;
    const size_t n = s.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(s[i]);
        size_t more;
        uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (n - i <= more)
            return false;
        for (size_t k = 1; k <= more; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if ((more == 2 && cp < 0x800) || (more == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += more + 1;
    }
    return true;
}

// ---- encoding -------------------------------------------------------------

void checkKeys(const Json &line, const std::set<std::string> &allowed)
{
    for (auto it = line.begin(); it != line.end(); ++it)
        if (allowed.count(it.key()) == 0)
            throw StreamError("unknown field '" + it.key() + "'");
}

const Json &required(const Json &obj, const std::string &key, const std::string &where = "")
{
    auto it = obj.find(key);
    if (it == obj.end())
        throw StreamError(where + "missing field '" + key + "'");
    return *it;
}

int64_t integerIn(const Json &value, const std::string &key, int64_t lo, int64_t hi,
                  const std::string &where = "")
{
    const std::string range = std::to_string(lo) + ".." + std::to_string(hi);
    if (!value.is_number_integer())
        throw StreamError(where + "field '" + key + "' must be an integer " + range);
    int64_t v;
    if (value.is_number_unsigned()) {
        const auto u = value.get<uint64_t>();
        if (u > static_cast<uint64_t>(hi))
            throw StreamError(where + "field '" + key + "' must be an integer " + range);
        v = static_cast<int64_t>(u);
    } else {
        v = value.get<int64_t>();
    }
    if (v < lo || v > hi)
        throw StreamError(where + "field '" + key + "' must be an integer " + range);
    return v;
}

std::optional<std::string> textOf(const Json &value, const std::string &key,
                                  const std::string &where = "")
{
    if (value.is_null())
        return std::nullopt;
    if (!value.is_string())
        throw StreamError(where + "field '" + key + "' must be a string or null");
    const auto &text = value.get_ref<const std::string &>();
    if (text.find('\0') != std::string::npos)
        throw StreamError(where + "field '" + key + "' holds a NUL character");
    return text;
}

std::string hexField(const Json &value, const std::string &key)
{
    if (!value.is_string())
        throw StreamError("field '" + key + "' must be a hex string");
    try {
        return fromHex(value.get<std::string>());
    } catch (const StreamError &e) {
        throw StreamError("field '" + key + "': " + e.what());
    }
}

// The content-ID entries of a "contents" array, encoded back to back.
std::string encodeContents(const Json &contents)
{
    if (!contents.is_array())
        throw StreamError("field 'contents' must be an array");
    PayloadWriter w;
    size_t index = 0;
    for (const Json &entry : contents) {
        ++index;
        const std::string where = "contents entry " + std::to_string(index) + ": ";
        if (!entry.is_object())
            throw StreamError(where + "must be an object");
        const bool hasKind = entry.contains("kind");
        const bool hasKeyword = entry.contains("keyword");
        if (hasKind == hasKeyword)
            throw StreamError(where + "needs exactly one of 'kind' and 'keyword'");
        for (auto it = entry.begin(); it != entry.end(); ++it)
            if (it.key() != "kind" && it.key() != "keyword" && it.key() != "protocol" &&
                it.key() != "name")
                throw StreamError(where + "unknown field '" + it.key() + "'");
        std::optional<std::string> keyword;
        if (hasKind) {
            const Json &kind = entry["kind"];
            const ContentKeyword *found = nullptr;
            if (kind.is_string())
                for (const ContentKeyword &k : contentKeywords)
                    if (kind.get<std::string>() == k.kind)
                        found = &k;
            if (found == nullptr)
                throw StreamError(where + "field 'kind' must be \"graph\", \"vertex\" or \"box\"");
            keyword = found->keyword;
        } else {
            keyword = textOf(entry["keyword"], "keyword", where);
        }
        w.string(keyword);
        w.string(textOf(required(entry, "protocol", where), "protocol", where));
        w.string(textOf(required(entry, "name", where), "name", where));
    }
    return w.bytes();
}

std::string encodeApi(const ApiSpec &form, const Json &line)
{
    std::set<std::string> allowed{"type"};
    for (const FieldSpec &f : form.fields)
        allowed.insert(f.name);
    checkKeys(line, allowed);

    PayloadWriter w;
    w.byte(kApiKind);
    w.byte(static_cast<uint8_t>(form.subtype));
    for (const FieldSpec &f : form.fields) {
        const Json &value = required(line, f.name);
        switch (f.kind) {
        case FieldKind::Text:
            w.string(textOf(value, f.name));
            break;
        case FieldKind::Byte:
        case FieldKind::End:
            w.byte(static_cast<uint8_t>(integerIn(value, f.name, 0, 255)));
            break;
        case FieldKind::Contents: {
            const std::string entries = encodeContents(value);
            if (entries.size() > static_cast<size_t>(std::numeric_limits<int32_t>::max()))
                throw StreamError("field 'contents' is too large");
            w.integer(static_cast<int32_t>(entries.size()));
            w.append(entries);
            break;
        }
        }
    }
    return w.bytes();
}

std::string encodeContinuation(int kind, const Json &line)
{
    checkKeys(line, {"type", "contents", "end"});
    PayloadWriter w;
    w.byte(static_cast<uint8_t>(kind));
    w.append(encodeContents(required(line, "contents")));
    w.byte(static_cast<uint8_t>(integerIn(required(line, "end"), "end", 0, 255)));
    return w.bytes();
}

std::optional<int32_t> optionalLength(const Json &line, const std::string &key)
{
    auto it = line.find(key);
    if (it == line.end() || it->is_null())
        return std::nullopt;
    return static_cast<int32_t>(integerIn(*it, key, std::numeric_limits<int32_t>::min(),
                                          std::numeric_limits<int32_t>::max()));
}

std::string encodeRaw(const Json &line)
{
    checkKeys(line, {"type", "header", "header_length", "payload", "payload_length"});
    const std::string header = hexField(required(line, "header"), "header");
    const auto headerLength = optionalLength(line, "header_length");
    std::optional<std::string> payload;
    auto it = line.find("payload");
    if (it != line.end() && !it->is_null())
        payload = hexField(*it, "payload");
    const auto payloadLength = optionalLength(line, "payload_length");
    if (payloadLength && !payload)
        throw StreamError("field 'payload_length' given without 'payload'");
    return rawFrame(header, headerLength.value_or(static_cast<int32_t>(header.size())), payload,
                    payloadLength.value_or(payload ? static_cast<int32_t>(payload->size()) : 0));
}

// ---- decoding ---------------------------------------------------------------

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

// ---- public ----------------------------------------------------------------------

void PayloadWriter::integer(int32_t v)
{
    const auto u = static_cast<uint32_t>(v);
    for (int i = 3; i >= 0; --i)
        bytes_.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}

void PayloadWriter::string(const std::optional<std::string> &text)
{
    if (!text) {
        integer(1);
        byte(0);
        return;
    }
    integer(static_cast<int32_t>(text->size() + 1));
    bytes_ += *text;
    byte(0);
}

std::string apiFrame(const std::string &payload)
{
    const std::string size = std::to_string(payload.size());
    std::string header;
    header.push_back(static_cast<char>(kApiMsgType));
    header += size;
    header.push_back('\0');
    return rawFrame(header, static_cast<int32_t>(header.size()), payload,
                    static_cast<int32_t>(payload.size()));
}

std::string oneByteFrame(int8_t msgType)
{
    return rawFrame(std::string(1, static_cast<char>(msgType)), 1, std::nullopt, 0);
}

std::string rawFrame(const std::string &header, int32_t headerLength,
                     const std::optional<std::string> &payload, int32_t payloadLength)
{
    std::string out;
    putLittleEndian(out, headerLength);
    out += header;
    if (payload) {
        putLittleEndian(out, payloadLength);
        out += *payload;
    }
    return out;
}

std::string encodePayload(const Json &line)
{
    if (!line.is_object())
        throw StreamError("not a JSON object");
    const Json &typeValue = required(line, "type");
    if (!typeValue.is_string())
        throw StreamError("field 'type' must be a string");
    const std::string type = typeValue.get<std::string>();

    if (const ApiSpec *form = specByType(type))
        return encodeApi(*form, line);
    if (type == "graph_continue")
        return encodeContinuation(kGraphContinueKind, line);
    if (type == "content_continue")
        return encodeContinuation(kContentContinueKind, line);
    if (type == "payload") {
        checkKeys(line, {"type", "kind", "data"});
        const auto kind = integerIn(required(line, "kind"), "kind", 0, 255);
        if (kind == kApiKind || kind == kGraphContinueKind || kind == kContentContinueKind)
            throw StreamError("payload kind " + std::to_string(kind) +
                              " is a known kind; write it as its own type");
        return std::string(1, static_cast<char>(kind)) + hexField(required(line, "data"), "data");
    }
    if (type == "api") {
        checkKeys(line, {"type", "subtype", "data"});
        const auto subtype = integerIn(required(line, "subtype"), "subtype", -128, 127);
        if (const ApiSpec *form = specBySubtype(static_cast<int>(subtype)))
            throw StreamError("sub-type " + std::to_string(subtype) + " is \"" + form->type +
                              "\"; write it as that type (or as \"raw\" when malformed)");
        std::string payload;
        payload.push_back(static_cast<char>(kApiKind));
        payload.push_back(static_cast<char>(subtype));
        return payload + hexField(required(line, "data"), "data");
    }
    throw StreamError("type \"" + type + "\" has no payload");
}

Json parseLine(const std::string &text)
{
    std::vector<std::set<std::string>> keys;
    std::string duplicate;
    const Json::parser_callback_t noteKeys = [&](int, Json::parse_event_t event, Json &parsed) {
        if (event == Json::parse_event_t::object_start) {
            keys.emplace_back();
        } else if (event == Json::parse_event_t::object_end) {
            if (!keys.empty())
                keys.pop_back();
        } else if (event == Json::parse_event_t::key && !keys.empty()) {
            const auto &key = parsed.get_ref<const std::string &>();
            if (!keys.back().insert(key).second && duplicate.empty())
                duplicate = key;
        }
        return true;
    };
    Json line;
    try {
        line = Json::parse(text, noteKeys);
    } catch (const Json::parse_error &e) {
        // nlohmann's texts start with "[json.exception.parse_error.101] ".
        std::string what = e.what();
        const size_t close = what.find("] ");
        if (!what.empty() && what[0] == '[' && close != std::string::npos)
            what = what.substr(close + 2);
        throw StreamError("invalid JSON: " + what);
    }
    if (!duplicate.empty())
        throw StreamError("key '" + duplicate + "' given twice" +
                          (duplicate == "type"
                               ? " (a common_properties message names its device type 'device_type')"
                               : ""));
    return line;
}

std::string encodeFrame(const Json &line)
{
    if (!line.is_object())
        throw StreamError("not a JSON object");
    const Json &typeValue = required(line, "type");
    if (!typeValue.is_string())
        throw StreamError("field 'type' must be a string");
    const std::string type = typeValue.get<std::string>();

    if (type == "ack") {
        checkKeys(line, {"type"});
        return oneByteFrame(static_cast<int8_t>(kAckMsgType));
    }
    if (type == "message") {
        checkKeys(line, {"type", "msg_type"});
        const auto msgType = integerIn(required(line, "msg_type"), "msg_type", -128, 127);
        if (msgType == kApiMsgType || msgType == kAckMsgType)
            throw StreamError("msg_type " + std::to_string(msgType) + " is written as type \"" +
                              (msgType == kAckMsgType ? "ack" : "raw") + "\" or an API type");
        return oneByteFrame(static_cast<int8_t>(msgType));
    }
    if (type == "raw")
        return encodeRaw(line);
    if (specByType(type) == nullptr && type != "graph_continue" && type != "content_continue" &&
        type != "payload" && type != "api")
        throw StreamError("unknown type \"" + type + "\"" +
                          (line.contains("common_name") && line.contains("management_url")
                               ? " (a common_properties message names its device type 'device_type')"
                               : ""));
    return apiFrame(encodePayload(line));
}

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

std::string toHex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

std::string fromHex(const std::string &hex)
{
    if (hex.size() % 2 != 0)
        throw StreamError("hex text has an odd number of digits");
    auto value = [](char ch) -> int {
        if (ch >= '0' && ch <= '9')
            return ch - '0';
        if (ch >= 'a' && ch <= 'f')
            return ch - 'a' + 10;
        if (ch >= 'A' && ch <= 'F')
            return ch - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = value(hex[i]);
        const int lo = value(hex[i + 1]);
        if (hi < 0 || lo < 0)
            throw StreamError("'" + hex.substr(i, 2) + "' is not a hex byte");
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return out;
}

}  // namespace tqstream
