// How the host reads its own command line: the payload gets everything behind the host's program name exactly as
// typed, and a few options make the host lend it the terminal's console.
#pragma once
#include <windows.h>

// The argument text: what follows the program name and the blanks (space, tab) after it. Never null.
const wchar_t *SkipProgramName(const wchar_t *commandLine);

// True when the argument text holds one of the console options as a whole token.
bool WantsConsole(const wchar_t *arguments);

// Same length, and equal with A-Z taken as a-z; every other code unit compared exactly.
bool TokenEqualsNoCase(const wchar_t *token, int length, const wchar_t *literal);
