// The installer window's import stand-ins. See window_faults.h.
#include "support/window_faults.h"

#include <shellapi.h>

#include "support/stand_in.h"

namespace window_faults {

namespace {

struct State {
    CRITICAL_SECTION lock;
    std::function<BOOL(SHELLEXECUTEINFOW *)> onShellExecuteEx;
    std::vector<ShellRequest> shellRequests;
    std::vector<PageRequest> pageRequests;
    std::wstring failClass;
    LPTHREAD_START_ROUTINE failEntry;
};

State &Shared()
{
    static State *state = [] {
        State *made = new State();
        InitializeCriticalSection(&made->lock);
        made->failEntry = nullptr;
        return made;
    }();
    return *state;
}

class Locked {
public:
    Locked() { EnterCriticalSection(&Shared().lock); }
    ~Locked() { LeaveCriticalSection(&Shared().lock); }
};

std::wstring Text(const wchar_t *text)
{
    return text != nullptr ? std::wstring(text) : std::wstring();
}

BOOL WINAPI ShellExecuteExStandIn(SHELLEXECUTEINFOW *request)
{
    ShellRequest seen = {};
    seen.cbSize = request->cbSize;
    seen.fMask = request->fMask;
    seen.hwnd = request->hwnd;
    seen.verbSet = request->lpVerb != nullptr;
    seen.fileSet = request->lpFile != nullptr;
    seen.parametersSet = request->lpParameters != nullptr;
    seen.directorySet = request->lpDirectory != nullptr;
    seen.verb = Text(request->lpVerb);
    seen.file = Text(request->lpFile);
    seen.parameters = Text(request->lpParameters);
    seen.directory = Text(request->lpDirectory);
    seen.nShow = request->nShow;
    seen.otherFieldsZero = request->lpIDList == nullptr && request->lpClass == nullptr &&
                           request->hkeyClass == nullptr && request->dwHotKey == 0 && request->hIcon == nullptr &&
                           request->hInstApp == nullptr && request->hProcess == nullptr;
    std::function<BOOL(SHELLEXECUTEINFOW *)> action;
    {
        Locked locked;
        Shared().shellRequests.push_back(seen);
        action = Shared().onShellExecuteEx;
    }
    return action ? action(request) : ForwardShellExecuteEx(request);
}

HINSTANCE WINAPI ShellExecuteStandIn(HWND hwnd, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                                     INT show)
{
    Locked locked;
    Shared().pageRequests.push_back({hwnd, Text(verb), Text(file), parameters == nullptr, directory == nullptr, show});
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(42));  // above 32: success
}

HWND WINAPI CreateWindowExStandIn(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                                  int width, int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param)
{
    static auto real = REAL_IMPORT(L"user32.dll", CreateWindowExW);
    if (parent == nullptr && !IS_INTRESOURCE(className)) {
        Locked locked;
        if (!Shared().failClass.empty() && Shared().failClass == className) {
            Shared().failClass.clear();
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    return real(exStyle, className, windowName, style, x, y, width, height, parent, menu, instance, param);
}

HANDLE WINAPI CreateThreadStandIn(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE entry,
                                  LPVOID parameter, DWORD flags, LPDWORD id)
{
    static auto real = REAL_IMPORT(L"kernel32.dll", CreateThread);
    {
        Locked locked;
        if (Shared().failEntry != nullptr && Shared().failEntry == entry) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return nullptr;
        }
    }
    return real(security, stack, entry, parameter, flags, id);
}

}  // namespace

void Reset()
{
    Locked locked;
    Shared().onShellExecuteEx = std::function<BOOL(SHELLEXECUTEINFOW *)>();
    Shared().shellRequests.clear();
    Shared().pageRequests.clear();
    Shared().failClass.clear();
    Shared().failEntry = nullptr;
}

void OnShellExecuteEx(const std::function<BOOL(SHELLEXECUTEINFOW *)> &action)
{
    Locked locked;
    Shared().onShellExecuteEx = action;
}

BOOL ForwardShellExecuteEx(SHELLEXECUTEINFOW *request)
{
    // Every shell32 import of a program that links this file is a stand-in, so nothing may have loaded shell32 yet.
    static auto real = REAL_IMPORT(L"shell32.dll", ShellExecuteExW);
    return real(request);
}

std::vector<ShellRequest> ShellRequests()
{
    Locked locked;
    return Shared().shellRequests;
}

std::vector<PageRequest> PageRequests()
{
    Locked locked;
    return Shared().pageRequests;
}

void FailWindowOfClass(const wchar_t *className)
{
    Locked locked;
    Shared().failClass = className;
}

void FailThreadsOf(LPTHREAD_START_ROUTINE entry)
{
    Locked locked;
    Shared().failEntry = entry;
}

void AllowThreads()
{
    Locked locked;
    Shared().failEntry = nullptr;
}

}  // namespace window_faults

REPLACE_IMPORT(ShellExecuteExW, 4, window_faults::ShellExecuteExStandIn);
REPLACE_IMPORT(ShellExecuteW, 24, window_faults::ShellExecuteStandIn);
REPLACE_IMPORT(CreateWindowExW, 48, window_faults::CreateWindowExStandIn);
REPLACE_IMPORT(CreateThread, 24, window_faults::CreateThreadStandIn);
