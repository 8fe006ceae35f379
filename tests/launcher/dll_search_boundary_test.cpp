// The search restriction at its import boundary, for what Wine cannot produce: a kernel32 without
// SetDefaultDllDirectories (Windows 7 before KB2533623), where the host must run on unchanged. GetModuleHandleW is a
// stand-in here that answers for kernel32 with a module lacking that export when the test says so, and forwards
// otherwise; the restriction itself is then applied for real and shown by its effect on this process.
#include <gtest/gtest.h>

#include "launcher/dll_search.h"
#include "support/stand_in.h"

namespace {

bool kernel32LacksTheExport = false;

HMODULE WINAPI StandInGetModuleHandleW(LPCWSTR name)
{
    if (kernel32LacksTheExport && name != nullptr && lstrcmpiW(name, L"kernel32.dll") == 0) {
        return GetModuleHandleA(nullptr);  // this test program: a module that exports nothing
    }
    static auto real = REAL_IMPORT(L"kernel32.dll", GetModuleHandleW);
    return real(name);
}

}  // namespace

REPLACE_IMPORT(GetModuleHandleW, 4, StandInGetModuleHandleW);

namespace {

// The planted library of the search test, which lies beside this program and refuses to load once found (its
// DllMain fails): ERROR_DLL_INIT_FAILED tells it was found, ERROR_MOD_NOT_FOUND that the search did not look there.
DWORD FindBesideTheProgram()
{
    HMODULE found = LoadLibraryW(L"planted_dll.dll");
    DWORD error = found == nullptr ? GetLastError() : ERROR_SUCCESS;
    if (found != nullptr) {
        FreeLibrary(found);
    }
    return error;
}

// One test, in order: the restriction cannot be undone within a process.
TEST(DllSearch, AMissingFunctionChangesNothingAndThePresentOneKeepsOnlyTheSystemFolder)
{
    ASSERT_EQ(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), FindBesideTheProgram()) << "the bench lacks planted_dll.dll";

    kernel32LacksTheExport = true;
    EXPECT_FALSE(RestrictDllSearchToSystem());
    kernel32LacksTheExport = false;
    EXPECT_EQ(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), FindBesideTheProgram())
        << "the search changed without the function";

    EXPECT_TRUE(RestrictDllSearchToSystem());
    EXPECT_EQ(static_cast<DWORD>(ERROR_MOD_NOT_FOUND), FindBesideTheProgram());
    // What the host loads later by name still comes from the system folder.
    for (const wchar_t *library : {L"comctl32.dll", L"winhttp.dll", L"uxtheme.dll", L"shlwapi.dll", L"crypt32.dll"}) {
        HMODULE loaded = LoadLibraryW(library);
        EXPECT_NE(nullptr, loaded) << testing::PrintToString(std::wstring(library)) << " error " << GetLastError();
        if (loaded != nullptr) {
            FreeLibrary(loaded);
        }
    }
}

}  // namespace
