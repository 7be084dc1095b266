#include "handlers/common.h"

#include "log/log.h"
#include "log/outcome.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

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

void refuse(const RefusalLines &lines, const char *format, ...)
{
    char reason[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(reason, sizeof reason, format, args);
    va_end(args);
    if (lines.where != nullptr) {
        if (tqDebug)
            DebugTrace("%s: %s%s\n", lines.where, reason, lines.traceEnd);
        if (lines.messageLog) {
            const std::string line = std::string(lines.where) + ": " + reason;
            MessageLog(line.c_str());
        }
    }
    refuseMessage("%s", reason);
}

void failedFieldWrite(const char *fieldName)
{
    failMessage("field %s was not written: %s", fieldName, ovReason());
}

bool fitsText(const char *text, int max)
{
    return text != nullptr && std::strlen(text) <= static_cast<size_t>(max);
}
