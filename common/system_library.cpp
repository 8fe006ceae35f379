// Loading from the system folder alone, for the libraries the exe must not import (see the header).
#include "common/system_library.h"

#include "common/path_text.h"

HMODULE LoadSystemLibrary(const wchar_t *fileName)
{
    HMODULE module = LoadLibraryExW(fileName, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module != nullptr || GetLastError() != ERROR_INVALID_PARAMETER) {
        return module;
    }
    // A loader without the search flags refuses them. The full path fixes where the library itself comes from, but
    // its own imports are searched for by name, and the standard order starts beside the exe. With
    // LOAD_WITH_ALTERED_SEARCH_PATH and a full path, the search for them starts in the loaded module's folder (the
    // system folder) instead of the exe's: Microsoft's "Dynamic-link library search order", "Alternate search order
    // for unpackaged apps".
    wchar_t path[MAX_PATH];
    UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !AppendToPath(path, L"\\") || !AppendToPath(path, fileName)) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    return LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

FARPROC ResolveSystemFunction(const wchar_t *fileName, const char *name, void *volatile *slot)
{
    void *known = InterlockedCompareExchangePointer(slot, nullptr, nullptr);
    if (known != nullptr) {
        return reinterpret_cast<FARPROC>(known);
    }
    // The library stays loaded for the life of the process, like an import would.
    HMODULE module = LoadSystemLibrary(fileName);
    if (module == nullptr) {
        return nullptr;
    }
    FARPROC function = GetProcAddress(module, name);
    if (function != nullptr) {
        InterlockedExchangePointer(slot, reinterpret_cast<void *>(function));
    }
    return function;
}
