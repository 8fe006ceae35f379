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

// The console goes back before any notice, its handler before it.
static void ReturnConsole(bool attached)
{
    if (attached) {
        SetConsoleCtrlHandler(KeepWaitingOnInterrupt, FALSE);
        FreeConsole();
    }
}

static DWORD FailLaunch(const wchar_t *text)
{
    ShowNotice(text, kNoticeErrorStyle);
    return 2;
}

// Process creation failed: the console goes back before the notice, and the notice names the cause.
static DWORD ReportStartFailure(DWORD error)
{
    wchar_t notice[256];
    if (error == kErrorElevationRequired) {
        CopyBounded(notice, 256,
                    L"程序组件需要管理员权限，但未能完成 UAC 提权。\r\n请右键选择“以管理员身份运行”后重试。");
    } else {
        FormatBounded(notice, 256, L"程序组件启动失败（Win32 错误 %lu）。\r\n请确认安全软件未阻止程序运行。", error);
    }
    return FailLaunch(notice);
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
    wchar_t hostPath[MAX_PATH];
    DWORD hostLength = GetModuleFileNameW(nullptr, hostPath, MAX_PATH);
    if (hostLength == 0 || hostLength >= MAX_PATH) {
        return FailLaunch(L"无法确定启动器路径。");
    }
    // The payload finds its host through this variable; a failure to set it is the payload's to notice.
    SetEnvironmentVariableW(L"RUDUDOVA_MERCHANT_HOST_PATH", hostPath);

    const wchar_t *arguments = SkipProgramName(GetCommandLineW());
    SIZE_T capacity = static_cast<SIZE_T>(lstrlenW(payloadPath)) + static_cast<SIZE_T>(lstrlenW(arguments)) + 8;
    // CreateProcessW may write to its command line, so it gets a buffer of its own.
    wchar_t *commandLine = static_cast<wchar_t *>(LocalAlloc(LMEM_FIXED, capacity * sizeof(wchar_t)));
    if (commandLine == nullptr) {
        return FailLaunch(L"无法分配启动参数内存。");
    }
    HRESULT formatted = arguments[0] != L'\0'
                            ? FormatBounded(commandLine, capacity, L"\"%s\" %s", payloadPath, arguments)
                            : FormatBounded(commandLine, capacity, L"\"%s\"", payloadPath);
    if (FAILED(formatted)) {
        LocalFree(commandLine);
        return FailLaunch(L"无法生成托管程序启动参数。");
    }

    // Started from Explorer there is no console to attach to; that is silent.
    bool consoleAttached = WantsConsole(arguments) && AttachConsole(ATTACH_PARENT_PROCESS);
    if (consoleAttached) {
        SetConsoleCtrlHandler(KeepWaitingOnInterrupt, TRUE);
    }

    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    BOOL started = CreateProcessW(payloadPath, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                                  &process);
    DWORD error = GetLastError();
    LocalFree(commandLine);

    if (!started) {
        ReturnConsole(consoleAttached);
        return ReportStartFailure(error);
    }
    WaitDeliveringMessages(process.hProcess);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ReturnConsole(consoleAttached);
    return exitCode;
}
