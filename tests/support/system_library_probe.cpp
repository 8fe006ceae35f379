// A program that loads a library the way the host does on a loader that refuses the search flags (Windows 7 without
// KB2533623): LoadLibraryExW is a stand-in that refuses LOAD_LIBRARY_SEARCH_* and lets every other call through to
// the real loader, so the host's fallback runs for real against the prefix's files.
// usage: system_library_probe NAME    exit code 0 when loaded, else the error
#include <windows.h>

#include "common/system_library.h"
#include "support/stand_in.h"

static HMODULE WINAPI RefuseSearchFlags(LPCWSTR name, HANDLE file, DWORD flags)
{
    if ((flags & 0x00001F00) != 0) {  // every LOAD_LIBRARY_SEARCH_* flag
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return REAL_IMPORT(L"kernel32.dll", LoadLibraryExW)(name, file, flags);
}

REPLACE_IMPORT(LoadLibraryExW, 12, RefuseSearchFlags);

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        return ERROR_INVALID_PARAMETER;
    }
    HMODULE library = LoadSystemLibrary(argv[1]);
    return library != nullptr ? 0 : static_cast<int>(GetLastError());
}
