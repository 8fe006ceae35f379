// The operating-system gate: Windows 7 needs its Service Pack 1 before the runtime's prerequisites can install, and
// anything older cannot run the runtime at all.
#include "launcher/os_gate.h"

#include "common/notice.h"
#include "common/os_version.h"

bool PassesOsGate(DWORD *exitCode)
{
    RTL_OSVERSIONINFOEXW version;
    if (!QueryOsVersion(&version)) {
        return true;
    }
    if (version.dwMajorVersion < 6 || (version.dwMajorVersion == 6 && version.dwMinorVersion == 0)) {
        ShowNotice(L"本工具需要 Windows 7 SP1 或更高版本。", kNoticeErrorStyle);
        *exitCode = 2;
        return false;
    }
    if (version.dwMajorVersion == 6 && version.dwMinorVersion == 1 && version.wServicePackMajor == 0) {
        // Whichever button the merchant chooses, the host cannot go on without the service pack.
        ShowNotice(L"本工具需要 Windows 7 SP1 或更高版本。\r\n\r\n请先安装 Windows 7 Service Pack 1，重启后再打开本工具。",
                   kNoticeServicePackStyle);
        *exitCode = 1;
        return false;
    }
    return true;
}
