// A second process that keeps a file open for writing, for tests of what another process's open handle blocks.
// usage: hold_file PATH SHARE_MODE READY_EVENT RELEASE_EVENT
// Opens PATH with write access and the given share mode, signals READY_EVENT, and keeps the handle until
// RELEASE_EVENT is signalled (at most 60 s). Exit code 0, or the open's error.
#include <windows.h>

#include <cwchar>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 5) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD share = static_cast<DWORD>(wcstoul(argv[2], nullptr, 0));
    HANDLE ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[3]);
    if (ready == nullptr) {
        return ERROR_INVALID_HANDLE;
    }
    HANDLE release = OpenEventW(SYNCHRONIZE, FALSE, argv[4]);
    if (release == nullptr) {
        CloseHandle(ready);
        return ERROR_INVALID_HANDLE;
    }
    HANDLE file = CreateFileW(argv[1], GENERIC_WRITE, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD result = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    SetEvent(ready);
    if (file != INVALID_HANDLE_VALUE) {
        WaitForSingleObject(release, 60000);
        CloseHandle(file);
    }
    CloseHandle(release);
    CloseHandle(ready);
    return static_cast<int>(result);
}
