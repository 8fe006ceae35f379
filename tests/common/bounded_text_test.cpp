// The bounded formatting and copy contract, case by case, including what the buffer holds afterwards.
#include <gtest/gtest.h>

#include "common/bounded_text.h"

namespace {

const HRESULT kInsufficient = static_cast<HRESULT>(0x8007007AL);

struct FormatCase {
    size_t capacity;
    const wchar_t *format;
    const wchar_t *argument;
    HRESULT result;
    const wchar_t *text;  // expected buffer content
};

TEST(FormatBounded, FollowsTheStrsafeContract)
{
    const FormatCase cases[] = {
        {16, L"%s!", L"abc", S_OK, L"abc!"},
        {5, L"%s!", L"abc", S_OK, L"abc!"},               // exactly N - 1 characters: fits
        {4, L"%s!", L"abc", kInsufficient, L"abc"},       // one too long: cut after N - 1
        {1, L"%s!", L"abc", kInsufficient, L""},          // room for the terminator only
        {2, L"%s", L"", S_OK, L""},
        {64, L"\\merchant-%08X.exe", nullptr, S_OK, L"\\merchant-00ABCDEF.exe"},
        {12, L"\\merchant-%08X.exe", nullptr, kInsufficient, L"\\merchant-0"},
    };
    for (const FormatCase &c : cases) {
        wchar_t buffer[80];
        wmemset(buffer, L'#', 80);
        HRESULT hr = c.argument != nullptr ? FormatBounded(buffer, c.capacity, c.format, c.argument)
                                           : FormatBounded(buffer, c.capacity, c.format, 0x00ABCDEFu);
        EXPECT_EQ(c.result, hr) << c.capacity << " " << c.format;
        EXPECT_STREQ(c.text, buffer) << c.capacity << " " << c.format;
        EXPECT_EQ(L'#', buffer[c.capacity]) << "wrote past the capacity";
    }
}

TEST(FormatBounded, WideAndNumericDirectivesKeepTheirWindowsMeaning)
{
    wchar_t buffer[160];
    EXPECT_EQ(S_OK, FormatBounded(buffer, 160, L"程序组件启动失败（Win32 错误 %lu）。", 4294967295ul));
    EXPECT_STREQ(L"程序组件启动失败（Win32 错误 4294967295）。", buffer);
    EXPECT_EQ(S_OK, FormatBounded(buffer, 160, L"\"%s\" %s", L"C:\\p q\\m.exe", L"--check  \"a b\" "));
    EXPECT_STREQ(L"\"C:\\p q\\m.exe\" --check  \"a b\" ", buffer);
    EXPECT_EQ(S_OK, FormatBounded(buffer, 160, L"%I64u.%I64u|0x%08X|%d%%", 115ull, 7ull, 0x4C7u, -3));
    EXPECT_STREQ(L"115.7|0x000004C7|-3%", buffer);
}

TEST(FormatBounded, RejectsCapacitiesOfZeroAndAboveTheLimit)
{
    wchar_t buffer[8] = L"keep";
    EXPECT_EQ(E_INVALIDARG, FormatBounded(buffer, 0, L"%s", L"x"));
    EXPECT_STREQ(L"keep", buffer) << "capacity 0 leaves the buffer untouched";
    EXPECT_EQ(E_INVALIDARG, FormatBounded(buffer, kBoundedMaxChars + 1, L"%s", L"x"));
    EXPECT_EQ(L'\0', buffer[0]) << "a capacity above the limit clears the first character";
    EXPECT_EQ(L'e', buffer[1]);
}

TEST(CopyBounded, CutsAndAlwaysTerminates)
{
    struct {
        size_t capacity;
        const wchar_t *source;
        HRESULT result;
        const wchar_t *text;
    } const cases[] = {
        {8, L"abc", S_OK, L"abc"},
        {4, L"abc", S_OK, L"abc"},
        {3, L"abc", kInsufficient, L"ab"},
        {1, L"abc", kInsufficient, L""},
        {280, L"已取消下载。", S_OK, L"已取消下载。"},
    };
    for (const auto &c : cases) {
        wchar_t buffer[300];
        wmemset(buffer, L'#', 300);
        EXPECT_EQ(c.result, CopyBounded(buffer, c.capacity, c.source)) << c.capacity;
        EXPECT_STREQ(c.text, buffer) << c.capacity;
        EXPECT_EQ(L'#', buffer[c.capacity]);
    }
    wchar_t buffer[4] = L"abc";
    EXPECT_EQ(E_INVALIDARG, CopyBounded(buffer, 0, L"x"));
    EXPECT_STREQ(L"abc", buffer);
    EXPECT_EQ(E_INVALIDARG, CopyBounded(buffer, kBoundedMaxChars + 1, L"x"));
    EXPECT_EQ(L'\0', buffer[0]);
}

}  // namespace
