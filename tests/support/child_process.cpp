// The one way tests start child processes, on plain CreateProcessW with full exit codes.
#include "support/child_process.h"

#include <vector>

namespace bench {

std::wstring CommandLineFor(const std::wstring &app, const std::wstring &args)
{
    return L"\"" + app + L"\"" + (args.empty() ? L"" : L" " + args);
}

Child StartChild(const std::wstring &app, const std::wstring &commandLine, DWORD flags, const wchar_t *desktop)
{
    Child child = {nullptr, nullptr, 0, 0, false, 0};
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
    line.push_back(L'\0');
    std::wstring desktopName = desktop != nullptr ? desktop : L"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    if (desktop != nullptr) {
        startup.lpDesktop = &desktopName[0];
    }
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(app.c_str(), line.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &startup,
                        &process)) {
        child.error = GetLastError();
        return child;
    }
    child.process = process.hProcess;
    child.thread = process.hThread;
    child.processId = process.dwProcessId;
    child.threadId = process.dwThreadId;
    child.started = true;
    return child;
}

ChildResult FinishChild(Child *child, DWORD timeoutMs)
{
    ChildResult result = {child->started, false, 0, child->error};
    if (!child->started) {
        return result;
    }
    if (WaitForSingleObject(child->process, timeoutMs) == WAIT_OBJECT_0) {
        result.finished = true;
        GetExitCodeProcess(child->process, &result.exitCode);
    } else {
        TerminateProcess(child->process, 0xDEAD);
        WaitForSingleObject(child->process, 5000);
    }
    CloseHandle(child->thread);
    CloseHandle(child->process);
    child->thread = nullptr;
    child->process = nullptr;
    child->started = false;
    return result;
}

SelfChild SelfAsChild(const std::wstring &role, const std::wstring &args)
{
    wchar_t self[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return {self, CommandLineFor(self, L"--bench-child " + role + (args.empty() ? L"" : L" " + args))};
}

ChildResult RunChild(const std::wstring &app, const std::wstring &commandLine, DWORD timeoutMs, const wchar_t *desktop)
{
    Child child = StartChild(app, commandLine, 0, desktop);
    return FinishChild(&child, timeoutMs);
}

}  // namespace bench
