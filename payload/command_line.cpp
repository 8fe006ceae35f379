// Argument text and the console decision. Only blanks and double quotes mean anything here: backslashes and every
// other character reach the payload untouched, since the payload parses its own command line.
#include "payload/command_line.h"

static bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

// Tested in this order; the first match decides.
static const wchar_t *const kConsoleOptions[] = {
    L"--check", L"--repair", L"--help", L"--out", L"/check", L"/repair", L"/help", L"/out", L"-h", L"/?",
};

const wchar_t *SkipProgramName(const wchar_t *commandLine)
{
    if (commandLine == nullptr) {
        return L"";
    }
    const wchar_t *p = commandLine;
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"') {
            ++p;
        }
        if (*p == L'"') {
            ++p;
        }
    } else {
        // A leading blank ends an empty program name: the whole text then goes to the payload.
        while (*p != L'\0' && !IsBlank(*p)) {
            ++p;
        }
    }
    while (IsBlank(*p)) {
        ++p;
    }
    return p;
}

bool TokenEqualsNoCase(const wchar_t *token, int length, const wchar_t *literal)
{
    if (length != lstrlenW(literal)) {
        return false;
    }
    for (int i = 0; i < length; ++i) {
        wchar_t a = token[i];
        wchar_t b = literal[i];
        if (a >= L'A' && a <= L'Z') {
            a = static_cast<wchar_t>(a + 0x20);
        }
        if (b >= L'A' && b <= L'Z') {
            b = static_cast<wchar_t>(b + 0x20);
        }
        if (a != b) {
            return false;
        }
    }
    return true;
}

static bool IsConsoleOption(const wchar_t *token, int length)
{
    for (const wchar_t *option : kConsoleOptions) {
        if (TokenEqualsNoCase(token, length, option)) {
            return true;
        }
    }
    return false;
}

bool WantsConsole(const wchar_t *arguments)
{
    if (arguments == nullptr) {
        return false;
    }
    const wchar_t *p = arguments;
    for (;;) {
        while (IsBlank(*p)) {
            ++p;
        }
        if (*p == L'\0') {
            return false;
        }
        const wchar_t *token;
        bool quoted = *p == L'"';
        if (quoted) {
            token = ++p;
            while (*p != L'\0' && *p != L'"') {
                ++p;
            }
        } else {
            // Quotes inside an unquoted token are ordinary characters.
            token = p;
            while (*p != L'\0' && !IsBlank(*p)) {
                ++p;
            }
        }
        if (IsConsoleOption(token, static_cast<int>(p - token))) {
            return true;
        }
        if (quoted && *p == L'"') {
            ++p;
        }
    }
}
