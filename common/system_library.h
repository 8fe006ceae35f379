// Libraries that Windows does not always take from its own folder (winhttp, comctl32) are never imported by the exe:
// a static import is resolved at load time, beside the exe first (a downloads folder, where anyone can drop a DLL of
// that name), before wWinMain can restrict the search. They are loaded on first use from the system folder only.
#pragma once
#include <windows.h>

// The module from the system folder alone: LOAD_LIBRARY_SEARCH_SYSTEM32 where the loader knows it, else the system
// folder's full path (Windows 7 without the update that added the flag), whose own imports are then looked for in
// the system folder before the exe's. Null when it cannot be loaded there.
HMODULE LoadSystemLibrary(const wchar_t *fileName);

// The address of `name` in the system folder's `fileName`, resolved once and kept in *slot (threads that race store
// the same value). Null, with the last error set, when the library or the function is missing.
FARPROC ResolveSystemFunction(const wchar_t *fileName, const char *name, void *volatile *slot);

// A forwarder's target, typed exactly as the SDK declares the function.
#define SYSTEM_FUNCTION(fileName, name)                                                                              \
    reinterpret_cast<decltype(&name)>(reinterpret_cast<void *>(ResolveSystemFunction(fileName, #name, &name##Slot)))
