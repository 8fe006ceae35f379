// The installer thread. The package was verified when the window opened or when its download ended, but the user
// clicks "安装" minutes later, and any program of the same user could have replaced the file in between; so the file
// is opened here with a handle that denies writing and deleting, verified again while that handle holds it, and held
// until the elevated installer has ended. The update installer is taken from the system directory by its full path,
// never by a bare name that a search could find in the host's own (downloads) folder or the current folder.
#include "installer/runner.h"

#include <shellapi.h>

#include "common/bounded_text.h"
#include "common/path_text.h"
#include "installer/installer_context.h"
#include "installer/verify.h"

namespace {

const wchar_t kUpdateInstaller[] = L"\\wusa.exe";
const wchar_t kUpdateParameters[] = L"\"%s\" /quiet /norestart";
const size_t kParameterChars = 340;

// The system's own update installer: under WOW64 the system directory is redirected exactly as a bare-name lookup in
// it would be, so the same program runs, but nothing outside that directory can be chosen.
bool SystemUpdateInstallerPath(wchar_t *path)
{
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    return AppendToPath(path, kUpdateInstaller);
}

}  // namespace

DWORD WINAPI InstallerThreadProc(LPVOID parameter)
{
    InstallerContext *context = static_cast<InstallerContext *>(parameter);
    const PrerequisiteItem *item = context->item;
    HANDLE package = INVALID_HANDLE_VALUE;
    HANDLE process = nullptr;
    DWORD exitCode = ERROR_CANCELLED;
    wchar_t program[MAX_PATH];
    wchar_t parameters[kParameterChars];

    SHELLEXECUTEINFOW request = {};
    request.cbSize = sizeof(request);
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    request.hwnd = nullptr;
    request.lpVerb = L"runas";
    request.lpDirectory = nullptr;
    request.nShow = SW_SHOWNORMAL;

    bool ready = true;
    if (item != nullptr && item->kbId != nullptr) {
        ready = SystemUpdateInstallerPath(program);
        FormatBounded(parameters, kParameterChars, kUpdateParameters, context->packagePath);
        request.lpFile = program;
        request.lpParameters = parameters;
    } else {
        request.lpFile = context->packagePath;
        request.lpParameters = nullptr;
    }

    if (ready) {
        // Read sharing only: the installer may read the file, nobody may write, rename or delete it while we wait.
        package = CreateFileW(context->packagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        ready = package != INVALID_HANDLE_VALUE && VerifyPackage(context->packagePath, item);
    }
    if (ready && ShellExecuteExW(&request)) {
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

    if (process != nullptr) {
        CloseHandle(process);
    }
    if (package != INVALID_HANDLE_VALUE) {
        CloseHandle(package);
    }
    StoreExitCode(context, exitCode);
    PostMessageW(context->hwnd, WM_APP_INSTALL_DONE, 0, 0);
    return 0;
}
