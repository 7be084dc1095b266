#include "handlers/endpoint_text.h"

#include "adapter/tqot.h"
#include "handlers/common.h"
#include "log/outcome.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>

const char *const kGraphProtocolName = "1.3.6.1.2.1.2.2.1.3.1";

int32_t leadingInt(const char *text)
{
    if (text == nullptr)
        return 0;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    while (std::isspace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
    }
    // The magnitude stops growing once it is past the 32-bit range.
    int64_t magnitude = 0;
    for (; std::isdigit(*p); ++p)
        if (magnitude <= static_cast<int64_t>(INT32_MAX) + 1)
            magnitude = magnitude * 10 + (*p - '0');
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX)
        return INT32_MAX;
    if (value < INT32_MIN)
        return INT32_MIN;
    return static_cast<int32_t>(value);
}

namespace {

int32_t lookUp(const char *text, const char *const *texts, const int32_t *numbers, size_t count)
{
    if (text == nullptr)
        return -1;
    for (size_t i = 0; i < count; ++i)
        if (std::strcmp(text, texts[i]) == 0)
            return numbers[i];
    return -1;
}

}  // namespace

int32_t vertexMsgProtocol(const char *text)
{
    static const char *const texts[] = {"1", "2", "3", "4", "5", "6", "99"};
    static const int32_t numbers[] = {1, 2, 3, 4, 5, 6, 99};
    return lookUp(text, texts, numbers, 7);
}

int32_t arcEndpointVertexProtocol(const char *text)
{
    static const char *const texts[] = {"1", "2", "3", "4", "5", "99"};
    static const int32_t numbers[] = {1, 2, 3, 4, 5, 99};
    return lookUp(text, texts, numbers, 6);
}

int32_t bindingFromText(const char *text)
{
    static const char *const texts[] = {"0", "1", "2", "3", "4", "5", "6", "7"};
    static const int32_t numbers[] = {0, 1, 2, 3, 4, 5, 6, 7};
    return lookUp(text, texts, numbers, 8);
}

SplitResult splitEndpointText(const char *text, size_t wholeMax, char *first, size_t firstSize,
                              char *second, size_t secondSize)
{
    const size_t length = std::strlen(text);
    if (length > wholeMax)
        return SplitResult::WholeTooLong;
    const char *colon = std::strchr(text, ':');
    if (colon == nullptr)
        return SplitResult::NoColon;
    const size_t firstLength = static_cast<size_t>(colon - text);
    const size_t secondLength = length - firstLength - 1;
    if (firstLength >= firstSize)
        return SplitResult::FirstTooLong;
    if (secondLength >= secondSize)
        return SplitResult::SecondTooLong;
    std::memcpy(first, text, firstLength);
    first[firstLength] = '\0';
    std::memcpy(second, colon + 1, secondLength);
    second[secondLength] = '\0';
    return SplitResult::Ok;
}

const char *splitFailureText(SplitResult result)
{
    switch (result) {
    case SplitResult::Ok:
        return "is well formed";
    case SplitResult::WholeTooLong:
        return "is too long";
    case SplitResult::NoColon:
        return "has no ':'";
    case SplitResult::FirstTooLong:
        return "has a part before ':' that is too long";
    case SplitResult::SecondTooLong:
        return "has a part after ':' that is too long";
    }
    return "is malformed";
}

int32_t bindingForKinds(bool aIsGraph, bool zIsGraph)
{
    if (aIsGraph)
        return zIsGraph ? 4 : 5;
    return zIsGraph ? 6 : 7;
}

const char *endpointKindName(bool isGraph)
{
    return isGraph ? "graph" : "vertex";
}

void reportAdapterFailure(int32_t code)
{
    const char *text = TopologyAdapter::instance()->tqotGetErrorMsg(code);
    const bool refusal = (code >= TQOT_ERR_NO_MAP && code <= TQOT_ERR_NO_CONTAINER) ||
                         code == TQOT_ERR_NO_SUCH_OBJECT || code == TQOT_ERR_NO_OBJECT ||
                         code == TQOT_ERR_BAD_BINDING || code == TQOT_ERR_NOT_SHOWN;
    if (refusal)
        refuse(kRefusalOnly, "%s", text);
    else
        failMessage("%s", text);
}
