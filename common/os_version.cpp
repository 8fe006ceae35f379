// Reads the version through ntdll's RtlGetVersion, looked up at run time because the host must not fail to load
// where it is missing; callers treat a failed query as a supported system.
#include "common/os_version.h"

#include "common/optional_api.h"

// ntdll's export, which the user-mode headers do not declare; only ever looked up, never imported.
extern "C" LONG WINAPI RtlGetVersion(RTL_OSVERSIONINFOEXW *version);

bool QueryOsVersion(RTL_OSVERSIONINFOEXW *version)
{
    ZeroMemory(version, sizeof(*version));
    version->dwOSVersionInfoSize = sizeof(*version);
    // ntdll is mapped into every process; it is neither loaded nor freed here.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) {
        return false;
    }
    decltype(&RtlGetVersion) rtlGetVersion = OPTIONAL_API(ntdll, RtlGetVersion);
    if (rtlGetVersion == nullptr) {
        return false;
    }
    return rtlGetVersion(version) == 0;
}
