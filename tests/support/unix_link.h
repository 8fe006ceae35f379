// Points a Unix symbolic link of the bench at another target, from a Windows program. Wine 8 cannot make or switch
// links itself (CreateSymbolicLinkW does nothing; MoveFileExW on a link renames the folder it points to), but it starts
// a Unix program by its Z: path, so /bin/ln does it. The start hands back no process handle: the link is polled until
// the file system resolves it to the new target. Header-only, with its own start and poll rather than child_process.h
// and wait_for.h: the road's test hosts call it from inside their CreateProcessW stand-in, and they are built as the
// product is, without the test library.
#pragma once
#include <windows.h>
#include <stdio.h>

// unixLink: the link's Unix path ("/…/current"); target: the new target's name, in the same folder ("good").
inline bool PointUnixLink(const wchar_t *unixLink, const wchar_t *target)
{
    wchar_t commandLine[2 * MAX_PATH];
    _snwprintf(commandLine, ARRAYSIZE(commandLine) - 1, L"/bin/ln -sfn %s %s", target, unixLink);
    commandLine[ARRAYSIZE(commandLine) - 1] = L'\0';
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(L"Z:\\bin\\ln", commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &started)) {
        return false;
    }
    if (started.hThread != nullptr) CloseHandle(started.hThread);
    if (started.hProcess != nullptr) CloseHandle(started.hProcess);
    wchar_t windowsPath[MAX_PATH];
    _snwprintf(windowsPath, MAX_PATH - 1, L"Z:%s", unixLink);
    windowsPath[MAX_PATH - 1] = L'\0';
    for (wchar_t *c = windowsPath; *c != L'\0'; ++c) {
        *c = *c == L'/' ? L'\\' : *c;
    }
    wchar_t suffix[MAX_PATH];
    int suffixLength = _snwprintf(suffix, MAX_PATH - 1, L"\\%s", target);
    for (int attempt = 0; attempt < 250; ++attempt) {
        HANDLE folder = CreateFileW(windowsPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        wchar_t resolved[MAX_PATH + 8] = L"";
        DWORD length = folder != INVALID_HANDLE_VALUE
                           ? GetFinalPathNameByHandleW(folder, resolved, MAX_PATH + 8, FILE_NAME_NORMALIZED)
                           : 0;
        if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
        if (length >= static_cast<DWORD>(suffixLength) && length < MAX_PATH + 8 &&
            lstrcmpW(resolved + length - suffixLength, suffix) == 0) {
            return true;
        }
        Sleep(20);
    }
    return false;
}
