// Stand-ins in front of the imports the installer window and its runner make, for what this platform will not
// produce or must not do in a test: a refused elevation prompt, the exact shell request, a window or thread that cannot
// be created, and the web page (recorded, never opened). Linking window_faults.cpp into a test program replaces the
// import slots of ShellExecuteExW, ShellExecuteW, CreateWindowExW and CreateThread (support/stand_in.h) for
// everything in that program. ShellExecuteExW, CreateWindowExW and CreateThread forward to the real function unless a
// test scripted otherwise; ShellExecuteW only records, so that no test ever opens a browser.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace window_faults {

struct ShellRequest {
    DWORD cbSize;
    ULONG fMask;
    HWND hwnd;
    bool verbSet, fileSet, parametersSet, directorySet;
    std::wstring verb, file, parameters, directory;
    int nShow;
    bool otherFieldsZero;  // lpIDList, lpClass, hkeyClass, dwHotKey, hIcon, hInstApp on entry
};

struct PageRequest {
    HWND hwnd;
    std::wstring verb, file;
    bool parametersNull, directoryNull;
    int show;
};

// Forget every script and record.
void Reset();

// ShellExecuteExW: what happens on a call (after it was recorded). Returning false from the action reports failure
// with the error it set; the default forwards to the real function.
void OnShellExecuteEx(const std::function<BOOL(SHELLEXECUTEINFOW *)> &action);
BOOL ForwardShellExecuteEx(SHELLEXECUTEINFOW *request);
std::vector<ShellRequest> ShellRequests();
std::vector<PageRequest> PageRequests();

// The next CreateWindowExW of a top-level window of that class fails with ERROR_NOT_ENOUGH_MEMORY.
void FailWindowOfClass(const wchar_t *className);
// Every CreateThread with that entry fails with ERROR_NOT_ENOUGH_MEMORY, until Reset or AllowThreads.
void FailThreadsOf(LPTHREAD_START_ROUTINE entry);
void AllowThreads();

}  // namespace window_faults
