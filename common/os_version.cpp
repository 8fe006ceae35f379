// Reads the version through ntdll's RtlGetVersion, looked up at run time because the host must not fail to load
// where it is missing; callers treat a failed query as a supported system.
#include "common/os_version.h"

typedef LONG(WINAPI *RtlGetVersionProc)(RTL_OSVERSIONINFOEXW *);

bool QueryOsVersion(RTL_OSVERSIONINFOEXW *version)
{
    ZeroMemory(version, sizeof(*version));
    version->dwOSVersionInfoSize = sizeof(*version);
    // ntdll is mapped into every process; it is neither loaded nor freed here.
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) {
        return false;
    }
    FARPROC address = GetProcAddress(ntdll, "RtlGetVersion");
    if (address == nullptr) {
        return false;
    }
    RtlGetVersionProc rtlGetVersion = reinterpret_cast<RtlGetVersionProc>(reinterpret_cast<void *>(address));
    return rtlGetVersion(version) == 0;
}
