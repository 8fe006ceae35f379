// Linked into the installation road's test hosts only: stand-ins for the host's imports of ShellExecuteExW and
// CreateProcessW. Every shell request is recorded (file, verb, parameters, mask, show state, owner window) and
// forwarded unchanged: the window's elevated start of the host's own exe, or of the runtime's installer. A start of an
// update installer (a path ending in \wusa.exe, which the host's elevated step starts itself) is recorded with the
// exact path asked for and its command line, and then starts the road's own update installer (ROAD_WUSA) with that
// same command line instead: the real one cannot install these test packages, and Wine has no servicing store for it
// to write. Every other process start is forwarded unrecorded.
#include <windows.h>
#include <shellapi.h>
#include <stdio.h>

#include "support/road_log.h"
#include "support/stand_in.h"
#include "support/unix_link.h"

namespace {

bool EndsWithWusa(const wchar_t *file)
{
    int length = file != nullptr ? lstrlenW(file) : 0;
    return length >= 9 && lstrcmpiW(file + length - 9, L"\\wusa.exe") == 0;
}

BOOL WINAPI StandInShellExecuteExW(SHELLEXECUTEINFOW *request)
{
    wchar_t line[1024];
    _snwprintf(line, 1023, L"shell file=%s verb=%s params=%s mask=0x%X show=%d owner=0x%llX", request->lpFile,
               request->lpVerb != nullptr ? request->lpVerb : L"(null)",
               request->lpParameters != nullptr ? request->lpParameters : L"(null)", request->fMask, request->nShow,
               static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(request->hwnd)));
    line[1023] = L'\0';
    AppendRoadLine(line);
    return REAL_IMPORT(L"shell32.dll", ShellExecuteExW)(request);
}

BOOL WINAPI StandInCreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                  LPSECURITY_ATTRIBUTES threadAttributes, BOOL inheritHandles, DWORD flags,
                                  LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startup,
                                  LPPROCESS_INFORMATION started)
{
    auto real = REAL_IMPORT(L"kernel32.dll", CreateProcessW);
    if (!EndsWithWusa(application)) {
        return real(application, commandLine, processAttributes, threadAttributes, inheritHandles, flags,
                    environment, directory, startup, started);
    }
    wchar_t line[1024];
    DWORD length = 0;
    _snwprintf(line, 1023, L"create file=%s cmd=%s", application, commandLine != nullptr ? commandLine : L"(null)");
    line[1023] = L'\0';
    AppendRoadLine(line);
    // The link experiment: the folder link whose Unix path ROAD_SWITCH_LINK names is pointed at "other" at this
    // moment, after the host's checks and before the installer starts.
    static wchar_t link[MAX_PATH];
    length = GetEnvironmentVariableW(L"ROAD_SWITCH_LINK", link, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
        PointUnixLink(link, L"other");
    }
    static wchar_t stand[MAX_PATH];
    length = GetEnvironmentVariableW(L"ROAD_WUSA", stand, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    return real(stand, commandLine, processAttributes, threadAttributes, inheritHandles, flags, environment,
                directory, startup, started);
}

}  // namespace

REPLACE_IMPORT(ShellExecuteExW, 4, StandInShellExecuteExW);
REPLACE_IMPORT(CreateProcessW, 40, StandInCreateProcessW);
