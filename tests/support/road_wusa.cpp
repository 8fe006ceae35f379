// The installation road's update installer, started in place of the system's wusa by the host's process stand-in: it
// records its process id, the start type of the Windows Update service as it finds it (the Start value, 4 disabled,
// 3 on demand, 2 automatic) and its arguments, waits if the test asks (ROAD_WUSA_WAIT_MS), marks the update named in
// the package's file name installed in the servicing store (as the real installer does once it has run, unless the
// update does not apply) and exits with the code the test chose for that update (ROAD_WUSA_EXIT_KB<digits>, default 0).
#include <windows.h>
#include <stdio.h>
#include <wctype.h>

#include "support/road_log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    const wchar_t *commandLine = GetCommandLineW();
    DWORD start = 0;
    DWORD size = sizeof(start);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Services\\wuauserv", L"Start", RRF_RT_REG_DWORD,
                     nullptr, &start, &size) != ERROR_SUCCESS) {
        start = 0xFFFFFFFF;
    }
    wchar_t line[1024];
    _snwprintf(line, 1023, L"wusa pid=%lu service=%lu %s", GetCurrentProcessId(), start, commandLine);
    line[1023] = L'\0';
    AppendRoadLine(line);
    DWORD wait = ChosenExitCode(L"ROAD_WUSA_WAIT_MS", 0);
    Sleep(wait);
    // One left waiting after its test ended (the test removed its record with its scratch folder) leaves no trace for
    // the tests that follow.
    wchar_t log[MAX_PATH];
    DWORD logLength = GetEnvironmentVariableW(L"ROAD_LOG", log, MAX_PATH);
    if (wait != 0 && (logLength == 0 || logLength >= MAX_PATH || GetFileAttributesW(log) == INVALID_FILE_ATTRIBUTES)) {
        return 1;
    }

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
    if (exitCode != 0x80240017 &&
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, key, 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &opened,
                        nullptr) == ERROR_SUCCESS) {
        DWORD installed = 0x70;
        RegSetValueExW(opened, L"CurrentState", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&installed),
                       sizeof(installed));
        RegCloseKey(opened);
    }
    return static_cast<int>(exitCode);
}
