// Loading from the system folder at its import boundary, for what Wine cannot produce: a loader that refuses the
// search flags (Windows 7 without KB2533623). LoadLibraryExW is a stand-in here that records every call and, when the
// test says so, refuses LOAD_LIBRARY_SEARCH_* as that loader does; every call it lets through reaches the real one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/system_library.h"
#include "support/stand_in.h"

namespace {

// Every LOAD_LIBRARY_SEARCH_* flag, which a loader without KB2533623 answers with ERROR_INVALID_PARAMETER.
const DWORD kSearchFlags = 0x00001F00;

struct Load {
    std::wstring name;
    DWORD flags;
};

bool refuseSearchFlags = false;
std::vector<Load> loads;
int bareLoads = 0;

HMODULE WINAPI StandInLoadLibraryExW(LPCWSTR name, HANDLE file, DWORD flags)
{
    loads.push_back({name != nullptr ? name : L"(null)", flags});
    if (refuseSearchFlags && (flags & kSearchFlags) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return REAL_IMPORT(L"kernel32.dll", LoadLibraryExW)(name, file, flags);
}

// The fallback must not go through the plain load, whose dependencies are searched for beside the exe first.
HMODULE WINAPI StandInLoadLibraryW(LPCWSTR name)
{
    ++bareLoads;
    return REAL_IMPORT(L"kernel32.dll", LoadLibraryW)(name);
}

}  // namespace

REPLACE_IMPORT(LoadLibraryExW, 12, StandInLoadLibraryExW);
REPLACE_IMPORT(LoadLibraryW, 4, StandInLoadLibraryW);

namespace {

std::wstring SystemFile(const wchar_t *name)
{
    wchar_t folder[MAX_PATH];
    UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length) + L"\\" + name;
}

std::wstring ModulePath(HMODULE module)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetModuleFileNameW(module, path, MAX_PATH);
    return std::wstring(path, length);
}

TEST(SystemLibrary, ComesFromTheSystemFolderWithItsDependenciesLookedForThereFirst)
{
    struct {
        const char *label;
        bool refuseSearchFlags;
        const wchar_t *library;
        bool loads;
        std::vector<Load> calls;
    } const cases[] = {
        {"a loader with the search flags", false, L"winhttp.dll", true,
         {{L"winhttp.dll", LOAD_LIBRARY_SEARCH_SYSTEM32}}},
        // The full path alone would take the library itself from the system folder and its dependencies from beside
        // the exe; the altered order looks for them in the library's own folder first.
        {"a loader that refuses them", true, L"winhttp.dll", true,
         {{L"winhttp.dll", LOAD_LIBRARY_SEARCH_SYSTEM32},
          {SystemFile(L"winhttp.dll"), LOAD_WITH_ALTERED_SEARCH_PATH}}},
        {"the common controls on that loader", true, L"comctl32.dll", true,
         {{L"comctl32.dll", LOAD_LIBRARY_SEARCH_SYSTEM32},
          {SystemFile(L"comctl32.dll"), LOAD_WITH_ALTERED_SEARCH_PATH}}},
        // Only the refusal of the flags means an old loader: a library the system folder lacks is not looked for
        // anywhere else.
        {"a missing library", false, L"bench-no-such-library.dll", false,
         {{L"bench-no-such-library.dll", LOAD_LIBRARY_SEARCH_SYSTEM32}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        refuseSearchFlags = c.refuseSearchFlags;
        loads.clear();
        bareLoads = 0;
        HMODULE module = LoadSystemLibrary(c.library);
        DWORD error = GetLastError();
        refuseSearchFlags = false;

        ASSERT_EQ(c.calls.size(), loads.size());
        for (size_t i = 0; i < loads.size(); ++i) {
            EXPECT_EQ(0, lstrcmpiW(c.calls[i].name.c_str(), loads[i].name.c_str()))
                << testing::PrintToString(loads[i].name);
            EXPECT_EQ(c.calls[i].flags, loads[i].flags) << i;
        }
        EXPECT_EQ(0, bareLoads);
        if (c.loads) {
            ASSERT_NE(nullptr, module) << "error " << error;
            EXPECT_EQ(0, lstrcmpiW(SystemFile(c.library).c_str(), ModulePath(module).c_str()));
        } else {
            EXPECT_EQ(nullptr, module);
            EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), error);
        }
    }
}

}  // namespace
