#include "handlers/common.h"

#include "log/log.h"
#include "log/outcome.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

StringFieldQuery::StringFieldQuery(const char *keyField, const char *key)
{
    value_.is_list = 0;
    value_.field_type = OVwStringField;
    value_.un.string_val = const_cast<char *>(key);
    value_.list_count = 0;
    binding_.field_id = OVwDbFieldNameToFieldId(keyField);
    binding_.field_val = &value_;
    list_ = OVwDbListObjectsByFieldValue(&binding_);
    error_ = OVwError();
}

StringFieldQuery::~StringFieldQuery()
{
    if (list_ != nullptr)
        OVwDbFreeObjectIdList(list_);
}

const char *ovReason()
{
    return OVwErrorMsg(OVwError());
}

int statusFromText(const char *text)
{
    if (text == nullptr)
        return -1;
    static const char *const texts[] = {"1", "2", "3", "4"};
    for (int i = 0; i < 4; ++i)
        if (std::strcmp(text, texts[i]) == 0)
            return i + 1;
    return -1;
}

void refuseTraced(const char *format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    if (tqDebug)
        DebugTrace("%s", line);
    size_t length = std::strlen(line);
    while (length > 0 && line[length - 1] == '\n')
        line[--length] = '\0';
    refuseMessage("%s", line);
}

bool fitsText(const char *text, int max)
{
    return text != nullptr && std::strlen(text) <= static_cast<size_t>(max);
}
