// Builders of framed messages for the reader tests and the end-to-end tests.
#ifndef TQ_TESTS_INTAKE_FRAMES_H
#define TQ_TESTS_INTAKE_FRAMES_H

#include <cstdint>
#include <cstring>
#include <string>

namespace tqtest {

// A 32-bit length as the stream stores it (host byte order).
inline std::string le32(int32_t v)
{
    std::string out(4, '\0');
    std::memcpy(&out[0], &v, 4);
    return out;
}

// A frame of the given type with a one-byte header.
inline std::string typeFrame(int8_t type)
{
    return le32(1) + std::string(1, static_cast<char>(type));
}

// An API frame: the header announces `announced` (its decimal text), the
// payload is the kind byte followed by data.
inline std::string apiFrame(char kind, const std::string &data, const std::string &announced)
{
    std::string header = std::string(1, '\3') + announced + std::string(1, '\0');
    std::string payload = std::string(1, kind) + data;
    return le32(static_cast<int32_t>(header.size())) + header + le32(static_cast<int32_t>(payload.size())) + payload;
}

// The same, announcing exactly the payload's size.
inline std::string apiFrame(char kind, const std::string &data)
{
    return apiFrame(kind, data, std::to_string(data.size() + 1));
}

}  // namespace tqtest

#endif
