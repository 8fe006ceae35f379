// The installation road's runtime installer: what the real offline installer leaves behind that the host looks at,
// the .NET Framework 4 install flag in both registry views, and an exit code (ROAD_RUNTIME_EXIT, default 0).
#include <windows.h>
#include <stdio.h>

#include "support/road_log.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    wchar_t line[1024];
    _snwprintf(line, 1023, L"runtime %s", GetCommandLineW());
    line[1023] = L'\0';
    AppendRoadLine(line);
    const REGSAM views[] = {KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    for (REGSAM view : views) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full", 0, nullptr,
                            0, KEY_SET_VALUE | view, nullptr, &key, nullptr) == ERROR_SUCCESS) {
            DWORD one = 1;
            RegSetValueExW(key, L"Install", 0, REG_DWORD, reinterpret_cast<const BYTE *>(&one), sizeof(one));
            RegCloseKey(key);
        }
    }
    return static_cast<int>(ChosenExitCode(L"ROAD_RUNTIME_EXIT", 0));
}
