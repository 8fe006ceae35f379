// How the host splits its command line and decides on the console, as tables of what a merchant or a script types.
#include <gtest/gtest.h>

#include "payload/command_line.h"

namespace {

TEST(SkipProgramName, FindsTheArgumentText)
{
    struct {
        const wchar_t *commandLine;
        const wchar_t *arguments;
    } const cases[] = {
        {L"host.exe", L""},
        {L"host.exe --check", L"--check"},
        {L"host.exe \t  a  b\t ", L"a  b\t "},
        {L"\"C:\\Program Files\\h.exe\"", L""},
        {L"\"C:\\Program Files\\h.exe\"   ", L""},
        {L"\"C:\\Program Files\\h.exe\"  --out \"x y\"\\ ", L"--out \"x y\"\\ "},
        {L"\"C:\\a b\\h.exe\"--help", L"--help"},      // no blank needed after the closing quote
        {L"\"C:\\a b\\h.exe --help", L""},             // an unclosed quote takes in the whole line
        {L" host.exe --check", L"host.exe --check"},  // leading blank: empty program name
        {L"\thost.exe", L"host.exe"},
        {L"", L""},
        {L"h.exe\xA0x", L""},                         // only space and tab are blanks
        {L"h.exe\r\nx", L""},
    };
    for (const auto &c : cases) {
        EXPECT_STREQ(c.arguments, SkipProgramName(c.commandLine)) << "[" << c.commandLine << "]";
    }
    EXPECT_STREQ(L"", SkipProgramName(nullptr));
}

TEST(WantsConsole, MatchesTheTenOptionsAsWholeTokens)
{
    struct {
        const wchar_t *arguments;
        bool wants;
    } const cases[] = {
        {L"--check", true}, {L"--repair", true}, {L"--help", true}, {L"--out", true}, {L"/check", true},
        {L"/repair", true}, {L"/help", true},    {L"/out", true},   {L"-h", true},    {L"/?", true},
        // Any mix of ASCII case.
        {L"--CHECK", true}, {L"/RePair", true}, {L"-H", true}, {L"--Out", true},
        // Anywhere among other tokens, after any blanks.
        {L"a b\t\t-h", true}, {L"x --out file.txt", true}, {L"  --check  ", true},
        // Quoted as a token of its own, also with no blank after the closing quote.
        {L"\"--check\"", true}, {L"\"x\"\"/?\"", true}, {L"\"a b\" \"--HELP\"", true}, {L"\"--out", true},
        // No prefix or partial matches.
        {L"--out=report.txt", false}, {L"--checkup", false}, {L"--chec", false}, {L"-check", false},
        {L"/h", false}, {L"-?", false}, {L"--h", false}, {L"h", false},
        // Quotes inside an unquoted token are ordinary characters.
        {L"x\"--check\"", false}, {L"--check\"", false},
        {L"\"--check \"", false}, {L"\"-h x\"", false},
        // Letters beyond A-Z are compared exactly: full-width and accented forms do not match.
        {L"\xFF0D\xFF0D" L"check", false}, {L"--ch\x00E9" L"ck", false}, {L"--\x0130" L"CHECK", false},
        {L"", false}, {L"   \t", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.wants, WantsConsole(c.arguments)) << "[" << c.arguments << "]";
    }
    EXPECT_FALSE(WantsConsole(nullptr));
}

TEST(TokenEqualsNoCase, FoldsOnlyAsciiCapitals)
{
    struct {
        const wchar_t *token;
        int length;
        const wchar_t *literal;
        bool equal;
    } const cases[] = {
        {L"--CHECK", 7, L"--check", true},
        {L"--check", 7, L"--CHECK", true},  // both sides fold
        {L"--checkX", 7, L"--check", true},  // only `length` characters count
        {L"--check", 6, L"--check", false},
        {L"--check", 8, L"--check", false},
        {L"", 0, L"", true},
        {L"[", 1, L"{", false},              // 0x5B is not a capital, 0x7B stays
        {L"@", 1, L"`", false},
        {L"\x00C9", 1, L"\x00E9", false},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.equal, TokenEqualsNoCase(c.token, c.length, c.literal)) << "[" << c.token << "] " << c.length;
    }
}

}  // namespace
