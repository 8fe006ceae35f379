// The road's shared bench state, on plain Win32 calls; everything set here is undone by the same helpers.
#include "support/road_bench.h"

#include <stdio.h>

#include "installer/installer_context.h"
#include "support/expected_text.h"
#include "support/installer_driver.h"

namespace bench {

const wchar_t kServicingStackKb[] = L"KB4490628";
const wchar_t kSha2Kb[] = L"KB4474419";

namespace {

const wchar_t kPackages[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Component Based Servicing\\Packages";
const wchar_t *const kPackageFiles[] = {
    L"windows6.1-kb4490628-x86.msu", L"windows6.1-kb4474419-v3-x86.msu", L"windows6.1-kb4490628-x64.msu",
    L"windows6.1-kb4474419-v3-x64.msu", L"NDP48-x86-x64-AllOS-ENU.exe",
};

std::wstring PackageKey(const wchar_t *kbId)
{
    return std::wstring(kPackages) + L"\\Package_for_" + kbId + L"~31bf3856ad364e35~amd64~~6.1.1.0";
}

}  // namespace

RunningHost StartHost(const std::wstring &host, const std::wstring &args)
{
    return StartChild(host, CommandLineFor(host, args));
}

ChildResult FinishHost(RunningHost *host, DWORD timeoutMs)
{
    return FinishChild(host, timeoutMs);
}

void MarkUpdateInstalled(const wchar_t *kbId)
{
    SetRegDword(HKEY_LOCAL_MACHINE, PackageKey(kbId).c_str(), L"CurrentState", 0x70, KEY_WOW64_64KEY);
}

void ForgetUpdates()
{
    DeleteRegTree(HKEY_LOCAL_MACHINE, PackageKey(kServicingStackKb).c_str(), KEY_WOW64_64KEY);
    DeleteRegTree(HKEY_LOCAL_MACHINE, PackageKey(kSha2Kb).c_str(), KEY_WOW64_64KEY);
    // A fresh prefix has no Packages key, and the probe's own tests rely on that: remove it when nothing else is in it.
    HKEY packages = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPackages, 0, KEY_READ | KEY_WOW64_64KEY, &packages) == ERROR_SUCCESS) {
        DWORD subkeys = 1;
        DWORD values = 1;
        RegQueryInfoKeyW(packages, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                         nullptr, nullptr);
        RegCloseKey(packages);
        if (subkeys == 0 && values == 0) {
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kPackages, KEY_WOW64_64KEY, 0);
        }
    }
}

std::wstring DownloadFolder()
{
    wchar_t temp[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, temp);
    return std::wstring(temp) + L"Velvaro\\";
}

void ClearDownloadFolder()
{
    for (const wchar_t *name : kPackageFiles) {
        DeleteFileW((DownloadFolder() + name).c_str());
        DeleteFileW((DownloadFolder() + name + L".part").c_str());
    }
}

std::wstring StartRoadLog(const std::wstring &folder)
{
    std::wstring log = folder + L"\\road.log";
    DeleteFileW(log.c_str());
    SetEnvironmentVariableW(L"ROAD_LOG", log.c_str());
    return log;
}

std::vector<std::wstring> RoadLines(const std::wstring &log)
{
    std::vector<std::wstring> lines;
    std::wstring text = ReadUtf16(log);
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

HWND FindInstallerWindowTitled(const std::wstring &title, DWORD timeoutMs)
{
    HWND found = nullptr;
    WaitFor(
        [&] {
            found = nullptr;
            HWND window = nullptr;
            while ((window = FindWindowExW(nullptr, window, text::kClass, nullptr)) != nullptr) {
                if (IsWindowVisible(window) && ReadWindow(window).title == title) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

bool WatchUntilHostEnds(const RunningHost &host, DWORD timeoutMs, bool close)
{
    bool seen = false;
    WaitFor(
        [&] {
            HWND window = FindWindowW(text::kClass, nullptr);
            if (window != nullptr && IsWindowVisible(window)) {
                seen = true;
                if (close) {
                    PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_CLOSE, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_CLOSE)));
                }
            }
            return WaitForSingleObject(host.process, 0) == WAIT_OBJECT_0;
        },
        timeoutMs);
    return seen;
}

namespace {

// Reads (and with a start type other than SERVICE_NO_CHANGE, first changes) wuauserv's configuration.
bool UpdateServiceConfig(DWORD change, QUERY_SERVICE_CONFIGW *config, DWORD bytes)
{
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager != nullptr
                            ? OpenServiceW(manager, L"wuauserv", SERVICE_QUERY_CONFIG | SERVICE_CHANGE_CONFIG)
                            : nullptr;
    DWORD needed = 0;
    bool ok = service != nullptr &&
              (change == SERVICE_NO_CHANGE ||
               ChangeServiceConfigW(service, SERVICE_NO_CHANGE, change, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                    nullptr, nullptr, nullptr, nullptr)) &&
              QueryServiceConfigW(service, config, bytes, &needed);
    if (service != nullptr) {
        CloseServiceHandle(service);
    }
    if (manager != nullptr) {
        CloseServiceHandle(manager);
    }
    return ok;
}

}  // namespace

DWORD UpdateServiceStartType()
{
    alignas(QUERY_SERVICE_CONFIGW) BYTE buffer[8192];
    QUERY_SERVICE_CONFIGW *config = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer);
    return UpdateServiceConfig(SERVICE_NO_CHANGE, config, sizeof(buffer)) ? config->dwStartType : 0xFFFFFFFF;
}

bool SetUpdateServiceStartType(DWORD startType)
{
    alignas(QUERY_SERVICE_CONFIGW) BYTE buffer[8192];
    QUERY_SERVICE_CONFIGW *config = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer);
    return UpdateServiceConfig(startType, config, sizeof(buffer)) && config->dwStartType == startType;
}

std::wstring UpdateServiceConfiguration()
{
    alignas(QUERY_SERVICE_CONFIGW) BYTE buffer[8192];
    QUERY_SERVICE_CONFIGW *c = reinterpret_cast<QUERY_SERVICE_CONFIGW *>(buffer);
    if (!UpdateServiceConfig(SERVICE_NO_CHANGE, c, sizeof(buffer))) {
        return L"(unreadable)";
    }
    auto text = [](const wchar_t *s) { return std::wstring(s != nullptr ? s : L"(null)"); };
    std::wstring dependencies;
    for (const wchar_t *d = c->lpDependencies; d != nullptr && *d != L'\0'; d += lstrlenW(d) + 1) {
        dependencies += std::wstring(d) + L";";
    }
    return L"type=" + std::to_wstring(c->dwServiceType) + L" start=" + std::to_wstring(c->dwStartType) +
           L" error=" + std::to_wstring(c->dwErrorControl) + L" binary=" + text(c->lpBinaryPathName) + L" group=" +
           text(c->lpLoadOrderGroup) + L" tag=" + std::to_wstring(c->dwTagId) + L" dependencies=" + dependencies +
           L" account=" + text(c->lpServiceStartName) + L" name=" + text(c->lpDisplayName);
}

std::wstring HandleText(HWND window)
{
    wchar_t text[32];
    _snwprintf(text, 31, L"0x%llX", static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
    text[31] = L'\0';
    return text;
}

}  // namespace bench
