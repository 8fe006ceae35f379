// Linked into the installation road's test hosts only: a stand-in for the host's import of ShellExecuteExW. Every
// request is recorded (file, verb, parameters, mask, show state) and forwarded to the shell unchanged, except that a
// request for the system's wusa starts the road's own update installer (ROAD_WUSA) instead: the real one cannot
// install these test packages, and Wine has no servicing store for it to write.
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>

#include "support/road_log.h"
#include "support/stand_in.h"

namespace {

bool EndsWithWusa(const wchar_t *file)
{
    int length = file != nullptr ? lstrlenW(file) : 0;
    return length >= 9 && lstrcmpiW(file + length - 9, L"\\wusa.exe") == 0;
}

BOOL WINAPI StandInShellExecuteExW(SHELLEXECUTEINFOW *request)
{
    wchar_t line[1024];
    _snwprintf(line, 1023, L"shell file=%s verb=%s params=%s mask=0x%X show=%d owner=%d", request->lpFile,
               request->lpVerb != nullptr ? request->lpVerb : L"(null)",
               request->lpParameters != nullptr ? request->lpParameters : L"(null)", request->fMask, request->nShow,
               request->hwnd != nullptr ? 1 : 0);
    line[1023] = L'\0';
    AppendRoadLine(line);

    auto real = REAL_IMPORT(L"shell32.dll", ShellExecuteExW);
    if (!EndsWithWusa(request->lpFile)) {
        return real(request);
    }
    static wchar_t stand[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"ROAD_WUSA", stand, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    SHELLEXECUTEINFOW copy = *request;
    copy.lpFile = stand;
    BOOL started = real(&copy);
    request->hProcess = copy.hProcess;
    request->hInstApp = copy.hInstApp;
    return started;
}

}  // namespace

REPLACE_IMPORT(ShellExecuteExW, 4, StandInShellExecuteExW);
