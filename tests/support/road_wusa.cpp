// The installation road's update installer, started in place of the system's wusa by the host's shell stand-in: it
// records its arguments, marks the update named in the package's file name installed in the servicing store (as the
// real installer does once it has run, unless the update does not apply) and exits with the code the test chose for
// that update (ROAD_WUSA_EXIT_KB<digits>, default 0).
#include <windows.h>
#include <stdio.h>
#include <wctype.h>

#include "support/road_log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    const wchar_t *commandLine = GetCommandLineW();
    wchar_t line[1024];
    _snwprintf(line, 1023, L"wusa %s", commandLine);
    line[1023] = L'\0';
    AppendRoadLine(line);

    // "kb" and its digits from the package path, e.g. windows6.1-kb4490628-x64.msu.
    wchar_t kb[32] = L"KB";
    for (const wchar_t *c = commandLine; *c != L'\0'; ++c) {
        if (towlower(c[0]) == L'k' && towlower(c[1]) == L'b' && iswdigit(c[2])) {
            int n = 2;
            for (const wchar_t *d = c + 2; iswdigit(*d) && n < 30; ++d) {
                kb[n++] = *d;
            }
            kb[n] = L'\0';
        }
    }
    wchar_t key[512];
    _snwprintf(key, 511,
               L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\Packages\\"
               L"Package_for_%s~31bf3856ad364e35~amd64~~6.1.1.0",
               kb);
    key[511] = L'\0';
    wchar_t variable[64];
    _snwprintf(variable, 63, L"ROAD_WUSA_EXIT_%s", kb);
    variable[63] = L'\0';
    DWORD exitCode = ChosenExitCode(variable, 0);
    // An update that does not apply (WU_E_NOT_APPLICABLE) is not installed, and the store does not list it.
    HKEY opened = nullptr;
    if (exitCode != 0x80240017 && RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &opened,
                        nullptr) == ERROR_SUCCESS) {
        DWORD installed = 0x70;
        RegSetValueExW(opened, L"CurrentState", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&installed),
                       sizeof(installed));
        RegCloseKey(opened);
    }
    return static_cast<int>(exitCode);
}
