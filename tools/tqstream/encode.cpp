// Encoding: JSON Lines objects into the bytes of frames.
#include "forms.h"

#include <limits>
#include <set>

namespace tqstream {

namespace {

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

}  // namespace

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

}  // namespace tqstream
