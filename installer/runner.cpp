// The installer thread. The package was verified when the window opened or when its download ended, but the user
// clicks "安装" minutes later, and any program of the same user could have replaced the file in between; so the file
// is opened here with a handle that denies writing, renaming and deleting, verified again through that handle, and
// held until the elevated installer has ended. What is started is the held file's final name, never the path string,
// so a folder of the path switched to a link cannot hand over another file. A package that no longer verifies goes
// back to the window as "not ready", which then offers the download again.
//
// An update package is not given to the update installer from here: the host runs unelevated and could not let a
// disabled Windows Update service start. The host's own exe is started elevated instead, with the private argument,
// the item and the held file's name; that elevated step checks everything again and runs the update installer.
// Either way there is one elevation prompt, and it is owned by the installer window, so that Windows shows it in
// front instead of flashing it in the taskbar.
#include "installer/runner.h"

#include <shellapi.h>

#include "installer/elevated_request.h"
#include "installer/held_path.h"
#include "installer/installer_context.h"
#include "installer/verify.h"

namespace {

const size_t kParameterChars = 340;

// The host's own exe by its full path; false when that does not fit a MAX_PATH buffer.
bool OwnExePath(wchar_t *path)
{
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return length != 0 && length < MAX_PATH;
}

}  // namespace

DWORD WINAPI InstallerThreadProc(LPVOID parameter)
{
    InstallerContext *context = static_cast<InstallerContext *>(parameter);
    const PrerequisiteItem *item = context->item;
    HANDLE package = INVALID_HANDLE_VALUE;
    HANDLE process = nullptr;
    DWORD exitCode = ERROR_CANCELLED;
    wchar_t heldPath[MAX_PATH];
    wchar_t program[MAX_PATH];
    wchar_t parameters[kParameterChars];

    SHELLEXECUTEINFOW request = {};
    request.cbSize = sizeof(request);
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    request.hwnd = context->hwnd;
    request.lpVerb = L"runas";
    request.lpDirectory = nullptr;
    request.nShow = SW_SHOWNORMAL;

    // Read sharing only: the installer may read the file, nobody may write, rename or delete it while we wait.
    package = CreateFileW(context->packagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    if (package == INVALID_HANDLE_VALUE || !VerifyHeldPackage(package, item)) {
        // Not the catalogue's file (any more): the window offers a fresh download instead of another install.
        StoreFlag(&context->packageReady, 0);
        goto cleanup;
    }
    if (!HeldFilePath(package, heldPath)) {
        goto cleanup;
    }
    if (item->kbId != nullptr) {
        if (!OwnExePath(program) || !FormatElevatedUpdateRequest(parameters, kParameterChars, item, heldPath)) {
            goto cleanup;
        }
        request.lpFile = program;
        request.lpParameters = parameters;
    } else {
        request.lpFile = heldPath;
        request.lpParameters = nullptr;
    }

    if (ShellExecuteExW(&request)) {
        exitCode = 0;
        process = request.hProcess;
        if (process != nullptr) {
            WaitForSingleObject(process, INFINITE);
            DWORD code = 0;
            if (GetExitCodeProcess(process, &code)) {
                exitCode = code;
            }
        }
    }

cleanup:
    if (process != nullptr) CloseHandle(process);
    if (package != INVALID_HANDLE_VALUE) CloseHandle(package);
    StoreExitCode(context, exitCode);
    PostMessageW(context->hwnd, WM_APP_INSTALL_DONE, 0, 0);
    return 0;
}
