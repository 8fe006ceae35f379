// The elevated step at its import boundary, for what Wine cannot show: Wine runs every process with a full
// administrator token, so a token that is not elevated is scripted here (GetTokenInformation), and this x86_64 build
// never runs under WOW64, so both answers of IsWow64Process are scripted too. Everything else is the real platform.
#include <gtest/gtest.h>

#include <string>

#include "installer/elevated_update.h"
#include "support/bench.h"
#include "support/stand_in.h"

namespace {

int g_elevated = -1;  // -1: the real answer; 0 or 1: TokenElevation says so
int g_wow64 = -1;     // -1: the real answer; 0 or 1: IsWow64Process says so; 2: it fails
int g_mutexes = 0;    // named mutexes created: the step got past its first checks

BOOL WINAPI StandInGetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS type, LPVOID data, DWORD size,
                                       PDWORD returned)
{
    BOOL ok = REAL_IMPORT(L"advapi32.dll", GetTokenInformation)(token, type, data, size, returned);
    if (ok && type == TokenElevation && g_elevated >= 0) {
        static_cast<TOKEN_ELEVATION *>(data)->TokenIsElevated = static_cast<DWORD>(g_elevated);
    }
    return ok;
}

BOOL WINAPI StandInIsWow64Process(HANDLE process, PBOOL wow64)
{
    if (g_wow64 == 2) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    BOOL ok = REAL_IMPORT(L"kernel32.dll", IsWow64Process)(process, wow64);
    if (ok && g_wow64 >= 0) {
        *wow64 = g_wow64;
    }
    return ok;
}

HANDLE WINAPI StandInCreateMutexW(LPSECURITY_ATTRIBUTES security, BOOL owned, LPCWSTR name)
{
    if (name != nullptr) {
        ++g_mutexes;
    }
    return REAL_IMPORT(L"kernel32.dll", CreateMutexW)(security, owned, name);
}

}  // namespace

REPLACE_IMPORT(GetTokenInformation, 20, StandInGetTokenInformation);
REPLACE_IMPORT(IsWow64Process, 8, StandInIsWow64Process);
REPLACE_IMPORT(CreateMutexW, 12, StandInCreateMutexW);

namespace {

TEST(ElevatedUpdateBoundary, ANonElevatedProcessIsRefusedBeforeAnythingElse)
{
    std::wstring dir = bench::ScratchDir(L"elevated boundary");
    std::wstring package = dir + L"\\windows6.1-kb4490628-x64.msu";
    const char body[] = "MSCF not the catalogue's package";
    ASSERT_TRUE(bench::WriteBytes(package, body, sizeof(body)));
    std::wstring request = L"--velvaro-private-elevated-update ServicingStackUpdateX64 \"" + package + L"\"";
    struct Row {
        int elevated;
        DWORD exitCode;
        int mutexes;
    } rows[] = {
        {0, kElevatedNotElevated, 0},
        // Elevated, the same request goes on, takes the instance mutex and is refused only for its package.
        {1, kElevatedPackageRejected, 1},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.elevated);
        g_elevated = row.elevated;
        g_mutexes = 0;
        EXPECT_EQ(row.exitCode, RunElevatedUpdate(request.c_str()));
        EXPECT_EQ(row.mutexes, g_mutexes);
    }
    g_elevated = -1;
    bench::RemoveTree(dir);
}

TEST(ElevatedUpdateBoundary, TheNativeUpdateInstallerUnderWow64AndWithout)
{
    wchar_t windows[MAX_PATH];
    wchar_t system[MAX_PATH];
    ASSERT_GT(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
    struct Row {
        const char *label;
        int wow64;
        std::wstring path;
    } rows[] = {
        {"32-bit process on 64-bit Windows", 1, std::wstring(windows) + L"\\Sysnative\\wusa.exe"},
        {"native process", 0, std::wstring(system) + L"\\wusa.exe"},
        {"the question fails", 2, std::wstring(system) + L"\\wusa.exe"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        g_wow64 = row.wow64;
        wchar_t path[MAX_PATH] = L"";
        EXPECT_TRUE(NativeUpdateInstallerPath(path));
        EXPECT_EQ(row.path, path);
    }
    g_wow64 = -1;
}

}  // namespace
