// The update installer fails with 0x80070422 when wuauserv is disabled, so the elevated step lets the service start on
// demand while the installer runs and switches it off again afterwards. Everything but the start type is passed as
// SERVICE_NO_CHANGE or null, so no other setting of the service, and no other service, is touched.
#include "installer/update_service.h"

namespace {

const wchar_t kUpdateService[] = L"wuauserv";

// QueryServiceConfigW's documentation gives 8K bytes as the most it ever needs, so a stack buffer of that size holds
// any answer and no second, sized call is needed.
const DWORD kServiceConfigBytes = 8192;

// Sets the start type to startType; when onlyIfDisabled, only a service found disabled is changed. True when changed.
bool SetStartType(DWORD startType, bool onlyIfDisabled)
{
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
    bool changed = false;
    alignas(QUERY_SERVICE_CONFIGW) BYTE buffer[kServiceConfigBytes];
    QUERY_SERVICE_CONFIGW *config = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer);
    DWORD needed = 0;

    manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) goto cleanup;
    service = OpenServiceW(manager, kUpdateService, SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG);
    if (service == nullptr) goto cleanup;
    if (onlyIfDisabled) {
        if (!QueryServiceConfigW(service, config, kServiceConfigBytes, &needed)) goto cleanup;
        if (config->dwStartType != SERVICE_DISABLED) goto cleanup;
    }
    changed = ChangeServiceConfigW(service, SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr) != FALSE;

cleanup:
    if (service != nullptr) CloseServiceHandle(service);
    if (manager != nullptr) CloseServiceHandle(manager);
    return changed;
}

}  // namespace

bool AllowUpdateServiceStart()
{
    return SetStartType(SERVICE_DEMAND_START, true);
}

void RestoreUpdateServiceDisabled()
{
    SetStartType(SERVICE_DISABLED, false);
}
