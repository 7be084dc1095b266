// The trace writers expand the common conversions themselves: every entry
// must read exactly as the C library's printf writes it, for those
// conversions and for the ones left to the library.
#include "log/log.h"

#include "support/process_state.h"
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <type_traits>
#include <cwchar>

namespace {

// The text of one daemon trace entry after its "[time]\t" prefix.
class TraceFormatTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("TQ_DRIVE");
        resetLogState();
    }
    void TearDown() override { resetLogState(); }

    std::string traceBody()
    {
        std::string all = tqtest::readFile(root_.file("tq_std.trc"));
        std::remove(root_.file("tq_std.trc").c_str());
        const size_t tab = all.find("]\t");
        return tab == std::string::npos ? "<no entry>" : all.substr(tab + 2);
    }

    tqtest::TempRoot root_;
};

std::string printed(const char *format, ...) TQ_PRINTF(1, 2);
std::string printed(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, again);
    va_end(again);
    va_end(args);
    text.resize(static_cast<size_t>(n));
    return text + "\n";
}

// A null text the compiler cannot see through (it warns about a literal one).
const char *nullText()
{
    static const char *volatile none = nullptr;
    return none;
}

// DebugTrace(F, args) must write what printf(F, args) prints.
#define EXPECT_AS_PRINTF(...)                                 \
    do {                                                      \
        DebugTrace(__VA_ARGS__);                              \
        EXPECT_EQ(traceBody(), printed(__VA_ARGS__)) << #__VA_ARGS__; \
    } while (0)

TEST_F(TraceFormatTest, StringsIntegersAndCharactersReadAsPrintfWritesThem)
{
    EXPECT_AS_PRINTF("vname = %s\n", "f3/d1234");
    EXPECT_AS_PRINTF("%s(%d): enter", "createVertex", 87);
    EXPECT_AS_PRINTF("%d %d %d %d", 0, -1, INT_MAX, INT_MIN);
    EXPECT_AS_PRINTF("%i|%u|%u", -42, 0u, UINT_MAX);
    EXPECT_AS_PRINTF("%ld %ld %lu", LONG_MAX, LONG_MIN, ULONG_MAX);
    EXPECT_AS_PRINTF("%zu bytes", static_cast<size_t>(123456789));
    EXPECT_AS_PRINTF("Vertex Identifier = %c\n", '2');
    EXPECT_AS_PRINTF("100%% done %s", "");
    EXPECT_AS_PRINTF("no conversion at all");
    EXPECT_AS_PRINTF("%s%s%s", "a", "", "bc");
    EXPECT_AS_PRINTF("text %s\nwith %d line breaks\n\n", "and", 2);
}

TEST_F(TraceFormatTest, PrecisionCutsTextsAndNullTextsReadAsTheLibraryPrintsThem)
{
    EXPECT_AS_PRINTF("'%.3s'", "abcdef");
    EXPECT_AS_PRINTF("'%.10s'", "abc");
    EXPECT_AS_PRINTF("'%.0s'", "abc");
    const char *none = nullText();
    EXPECT_AS_PRINTF("'%s'", none);
    EXPECT_AS_PRINTF("'%.6s' '%.5s' '%.100s'", none, none, none);
}

TEST_F(TraceFormatTest, OtherConversionsStillReadAsPrintfWritesThem)
{
    EXPECT_AS_PRINTF("[%6s]", "ab");
    EXPECT_AS_PRINTF("[%-4d|%05d|%+d]", 7, 42, 3);
    EXPECT_AS_PRINTF("%x %X %o %p", 255u, 255u, 8u, static_cast<void *>(nullptr));
    EXPECT_AS_PRINTF("%.2f %e", 3.14159, 1e10);
    EXPECT_AS_PRINTF("%lld %hd", LLONG_MIN, static_cast<short>(-5));
    EXPECT_AS_PRINTF("%s and %5.2s", "plain", "width");
    EXPECT_AS_PRINTF("%lc|%zd", static_cast<wint_t>(L'A'), static_cast<std::make_signed_t<size_t>>(-12));
}

TEST_F(TraceFormatTest, LongEntriesAreWrittenWhole)
{
    const std::string text(3000, 'y');
    EXPECT_AS_PRINTF("%s|%d", text.c_str(), 9);
    EXPECT_AS_PRINTF("[%3000s]", "x");
}

}  // namespace
