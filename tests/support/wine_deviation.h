// Known deviations of Wine from Windows, accepted the way Wine's own conformance tests accept broken Windows
// versions with broken(): only while Wine is the one running, so that the same test demands the Windows behaviour
// everywhere else. The one shape, an expression beside the Windows behaviour:
//     EXPECT_TRUE(code == ERROR_CANCELLED || bench::broken(code != ERROR_CANCELLED)) << code;
//     if (bench::broken(seen == whatWineDoes)) { expected = whatWineDoes; }
// The argument names the deviation the test accepts; nothing is accepted on every platform, and no check is left out
// under Wine that is made elsewhere. A missing precondition is no deviation: the test skips, GTEST_SKIP() << "why".
#pragma once
#include <windows.h>

namespace bench {

// True when the program runs under Wine (its ntdll exports wine_get_version; Windows' does not). A test asks it
// itself only the other way round from broken(): to hold Wine to the one of several Windows behaviours it is known to
// show, a check stricter under Wine, never looser.
inline bool RunningUnderWine()
{
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// True only when Wine is running and the test saw the deviation it names; anywhere else a deviation is a failure.
inline bool broken(bool deviationSeen)
{
    return deviationSeen && RunningUnderWine();
}

}  // namespace bench
