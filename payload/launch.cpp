// The launch: tell the payload where the host lives, pass the user's arguments through untouched, lend it the
// terminal when the arguments ask for console output, and end with its exit code — also when the user interrupts
// the payload from that terminal.
#include "payload/launch.h"

#include "common/bounded_text.h"
#include "common/notice.h"
#include "payload/command_line.h"

// ERROR_ELEVATION_REQUIRED, which mingw's winerror.h does not carry.
const DWORD kErrorElevationRequired = 740;

// Once attached, the host receives the terminal's Ctrl+C and Ctrl+Break like every process on that console, and the
// default answer would end it while the payload runs on, losing the payload's exit code. The interrupt is the
// payload's to answer; the host keeps waiting. A handler routine rather than the ignore flag, which the payload would
// inherit. Closing the terminal, logoff and shutdown keep their default.
static BOOL WINAPI KeepWaitingOnInterrupt(DWORD event)
{
    return event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
}

// The handler goes before the console it answers for.
static void ReturnConsole()
{
    SetConsoleCtrlHandler(KeepWaitingOnInterrupt, FALSE);
    FreeConsole();
}

// Process creation failed: the notice names the cause.
static const wchar_t *DescribeStartFailure(DWORD error, wchar_t *notice)
{
    if (error == kErrorElevationRequired) {
        CopyBounded(notice, 256,
                    L"程序组件需要管理员权限，但未能完成 UAC 提权。\r\n请右键选择“以管理员身份运行”后重试。");
    } else {
        FormatBounded(notice, 256, L"程序组件启动失败（Win32 错误 %lu）。\r\n请确认安全软件未阻止程序运行。", error);
    }
    return notice;
}

// OleInitialize gave this thread a window, and a thread that owns windows must keep delivering messages while it
// waits: otherwise every program that broadcasts one with SendMessage (a settings change, a DDE initiate) hangs for
// as long as the payload runs, and calls into the apartment, which arrive posted to that window, are never answered
// (Microsoft KB136885, "OLE threads must dispatch messages", which replaces the plain wait with this loop). A quit
// request does not end the wait, since the host's exit code is the payload's; it is posted again afterwards, as a
// nested loop that takes one out must do.
static void WaitDeliveringMessages(HANDLE process)
{
    bool quitRequested = false;
    WPARAM quitCode = 0;
    for (;;) {
        DWORD woke = MsgWaitForMultipleObjectsEx(1, &process, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        if (woke == WAIT_FAILED) {
            // Messages or not, the exit code is read only once the payload has ended.
            WaitForSingleObject(process, INFINITE);
        }
        if (woke != WAIT_OBJECT_0 + 1) {
            break;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quitRequested = true;
                quitCode = message.wParam;
                continue;
            }
            DispatchMessageW(&message);
        }
    }
    if (quitRequested) {
        PostQuitMessage(static_cast<int>(quitCode));
    }
}

DWORD LaunchPayload(const wchar_t *payloadPath)
{
    wchar_t *commandLine = nullptr;
    bool consoleAttached = false;
    PROCESS_INFORMATION process = {};
    STARTUPINFOW startup = {};
    wchar_t hostPath[MAX_PATH];
    DWORD hostLength = 0;
    const wchar_t *arguments = nullptr;
    SIZE_T capacity = 0;
    HRESULT formatted = S_OK;
    BOOL started = FALSE;
    bool startFailed = false;
    DWORD startError = ERROR_SUCCESS;
    wchar_t startFailure[256];
    const wchar_t *notice = nullptr;
    DWORD exitCode = 2;

    hostLength = GetModuleFileNameW(nullptr, hostPath, MAX_PATH);
    if (hostLength == 0 || hostLength >= MAX_PATH) {
        notice = L"无法确定启动器路径。";
        goto cleanup;
    }
    // The payload finds its host through this variable; a failure to set it is the payload's to notice.
    SetEnvironmentVariableW(L"RUDUDOVA_MERCHANT_HOST_PATH", hostPath);

    arguments = SkipProgramName(GetCommandLineW());
    capacity = static_cast<SIZE_T>(lstrlenW(payloadPath)) + static_cast<SIZE_T>(lstrlenW(arguments)) + 8;
    // CreateProcessW may write to its command line, so it gets a buffer of its own.
    commandLine = static_cast<wchar_t *>(LocalAlloc(LMEM_FIXED, capacity * sizeof(wchar_t)));
    if (commandLine == nullptr) {
        notice = L"无法分配启动参数内存。";
        goto cleanup;
    }
    formatted = arguments[0] != L'\0' ? FormatBounded(commandLine, capacity, L"\"%s\" %s", payloadPath, arguments)
                                      : FormatBounded(commandLine, capacity, L"\"%s\"", payloadPath);
    if (FAILED(formatted)) {
        notice = L"无法生成托管程序启动参数。";
        goto cleanup;
    }

    // Started from Explorer there is no console to attach to; that is silent.
    consoleAttached = WantsConsole(arguments) && AttachConsole(ATTACH_PARENT_PROCESS);
    if (consoleAttached) {
        SetConsoleCtrlHandler(KeepWaitingOnInterrupt, TRUE);
    }

    startup.cb = sizeof(startup);
    started = CreateProcessW(payloadPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                             &process);
    startError = GetLastError();
    // The one release ahead of the cleanup: the buffer is no use once the process exists, and the wait below can
    // last a working day.
    LocalFree(commandLine);
    commandLine = nullptr;
    if (!started) {
        startFailed = true;
        goto cleanup;
    }

    WaitDeliveringMessages(process.hProcess);
    exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);

cleanup:
    // A failed creation leaves nothing of its structure to close, whatever it wrote there.
    if (started) {
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    if (consoleAttached) {
        ReturnConsole();
    }
    if (commandLine != nullptr) {
        LocalFree(commandLine);
    }
    // Notices come last: the terminal is the user's again before a box waits for them.
    if (startFailed) {
        notice = DescribeStartFailure(startError, startFailure);
    }
    if (notice != nullptr) {
        ShowNotice(notice, kNoticeErrorStyle);
    }
    return exitCode;
}
