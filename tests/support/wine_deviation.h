// Known deviations of Wine from Windows, accepted the way Wine's own conformance tests accept broken Windows
// versions with broken(): only while Wine is the one running, so that the same test demands the Windows behaviour
// everywhere else. A test names the deviation it accepts; it never accepts an alternative on every platform.
#pragma once
#include <windows.h>

namespace bench {

// True when the program runs under Wine (its ntdll exports wine_get_version; Windows' does not).
inline bool RunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// True when a known Wine deviation is what the test saw and Wine is running: `if (seen == expected ||
// WineDeviation(seen == whatWineDoes))`. Anywhere else a deviation is a failure.
inline bool WineDeviation(bool deviates)
{
    return deviates && RunningUnderWine();
}

}  // namespace bench
