// The runtime gate. Both registry views are read because a setup may have registered the runtime in only one of
// them, and the host must not lead a merchant through a needless 120 MB installation.
#include "launcher/runtime_gate.h"

bool ReadRuntimeInstallFlag(REGSAM extraAccess, DWORD *value)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full", 0,
                      KEY_READ | extraAccess, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD type = 0;
    DWORD size = 4;
    LONG status = RegQueryValueExW(key, L"Install", nullptr, &type, reinterpret_cast<BYTE *>(value), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS && type == REG_DWORD && size == 4;
}

bool IsRuntimeInstalled()
{
    DWORD flag = 0;
    if (ReadRuntimeInstallFlag(0, &flag) && flag == 1) {
        return true;
    }
    return ReadRuntimeInstallFlag(KEY_WOW64_32KEY, &flag) && flag == 1;
}
