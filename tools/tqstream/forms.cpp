// The message forms table and the byte helpers shared by encoding and decoding.
#include "forms.h"

#include <cstdarg>
#include <cstdio>

namespace tqstream {

namespace {

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

}  // namespace

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

const ContentKeyword contentKeywords[3] = {
    {"graph", "GetGraphsInGraph"},
    {"vertex", "GetVerticesInGraph"},
    {"box", "GetBoxesInGraph"},
};

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
