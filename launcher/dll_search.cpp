// Library loads by bare name search the exe's folder first unless told otherwise. The restriction is process-wide,
// so it also covers what system libraries load on the host's behalf (the theme library a first window pulls in,
// shell32's delay loads, the common controls and WinHTTP of the installer road). Only what the loader resolves before
// wWinMain escapes it, which is why the exe imports nothing but libraries the system always takes from its own folder.
#include "launcher/dll_search.h"

#include "common/optional_api.h"

bool RestrictDllSearchToSystem()
{
    // kernel32 is mapped into every process; it is neither loaded nor freed here.
    HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr) {
        return false;
    }
    decltype(&SetDefaultDllDirectories) setDefaultDllDirectories = OPTIONAL_API(kernel32, SetDefaultDllDirectories);
    if (setDefaultDllDirectories == nullptr) {
        return false;
    }
    return setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}
