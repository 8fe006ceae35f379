// The host itself runs unelevated, yet the Windows Update service must be allowed to start before an update can
// install on a till where it is switched off, and only an elevated process may change that. So one elevated process,
// behind the same single prompt that used to start the update installer, does the whole job: it trusts nothing from
// the unelevated side but which item and which path, verifies the package itself through the handle it then holds,
// and restores the service's start type on every path once the installer has ended.
#include "installer/elevated_update.h"

#include "common/bounded_text.h"
#include "common/path_text.h"
#include "installer/elevated_request.h"
#include "installer/held_path.h"
#include "installer/update_service.h"
#include "installer/verify.h"

namespace {

// Global: the service's start type is one setting for the whole machine, so a step in another session (a second user
// logged on, a remote desktop) races this one just as much as a step in the same session would.
const wchar_t kInstanceMutex[] = L"Global\\Oristane.Velvaro.ElevatedUpdate";
const wchar_t kInstallerCommandFormat[] = L"\"%s\" \"%s\" /quiet /norestart";
const size_t kInstallerCommandChars = 2 * MAX_PATH + 32;

bool IsProcessElevated()
{
    HANDLE token = nullptr;
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        return false;
    }
    bool elevated = GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
                    elevation.TokenIsElevated != 0;
    CloseHandle(token);
    return elevated;
}

}  // namespace

bool NativeUpdateInstallerPath(wchar_t *path)
{
    BOOL wow64 = FALSE;
    if (!IsWow64Process(GetCurrentProcess(), &wow64)) {
        wow64 = FALSE;
    }
    // The shared Windows folder, not a per-user one that a terminal server may report to GetWindowsDirectoryW.
    UINT length = wow64 ? GetSystemWindowsDirectoryW(path, MAX_PATH) : GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        path[0] = L'\0';
        return false;
    }
    return AppendToPath(path, wow64 ? L"\\Sysnative\\wusa.exe" : L"\\wusa.exe");
}

DWORD RunElevatedUpdate(const wchar_t *arguments)
{
    HANDLE instance = nullptr;
    HANDLE package = INVALID_HANDLE_VALUE;
    bool serviceChanged = false;
    PROCESS_INFORMATION installer = {};
    STARTUPINFOW startup = {};
    const PrerequisiteItem *item = nullptr;
    DWORD result = kElevatedNoInstaller;
    DWORD code = 0;
    wchar_t givenPath[MAX_PATH];
    wchar_t heldPath[MAX_PATH];
    wchar_t installerPath[MAX_PATH];
    wchar_t commandLine[kInstallerCommandChars];

    if (!IsProcessElevated()) {
        return kElevatedNotElevated;
    }
    if (!ParseElevatedUpdateRequest(arguments, &item, givenPath)) {
        return kElevatedNotAnUpdate;
    }
    instance = CreateMutexW(nullptr, FALSE, kInstanceMutex);
    // Null: the name exists under a security that denies us, which is another step's too.
    if (instance == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
        result = kElevatedAlreadyRunning;
        goto cleanup;
    }
    // Read sharing only, until the installer has ended: nobody may write, rename or delete the file meanwhile.
    package = CreateFileW(givenPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
    if (package == INVALID_HANDLE_VALUE || !VerifyHeldPackage(package, item) || !HeldFilePath(package, heldPath)) {
        result = kElevatedPackageRejected;
        goto cleanup;
    }
    if (!NativeUpdateInstallerPath(installerPath) ||
        FormatBounded(commandLine, kInstallerCommandChars, kInstallerCommandFormat, installerPath, heldPath) != S_OK) {
        goto cleanup;
    }

    serviceChanged = AllowUpdateServiceStart();
    // Already elevated: a plain start of the exact file, with no search, no shell and no second prompt.
    startup.cb = sizeof(startup);
    if (!CreateProcessW(installerPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &installer)) {
        goto cleanup;
    }
    WaitForSingleObject(installer.hProcess, INFINITE);
    if (GetExitCodeProcess(installer.hProcess, &code)) {
        result = code;
    }

cleanup:
    if (installer.hThread != nullptr) CloseHandle(installer.hThread);
    if (installer.hProcess != nullptr) CloseHandle(installer.hProcess);
    if (serviceChanged) RestoreUpdateServiceDisabled();
    if (package != INVALID_HANDLE_VALUE) CloseHandle(package);
    if (instance != nullptr) CloseHandle(instance);
    return result;
}
