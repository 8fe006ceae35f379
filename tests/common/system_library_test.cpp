// The system folder's libraries on a loader without the search flags, for real: a program in a downloads folder
// loads WinHTTP as the host's fallback does, with a library planted beside it under the name of one that WinHTTP
// imports. Wine prefers its built-in libraries, so that name is set to "native, then built-in" for the programs of
// the test; a control program in the same folder, loading WinHTTP by the same full path with a plain LoadLibraryW,
// proves in the same run that the planted library would leave its marker.
#include <gtest/gtest.h>

#include "support/bench.h"

using namespace bench;

namespace {

const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";
// A library that WinHTTP imports and that no program loads before it (Wine's WinHTTP; Windows' imports others).
const wchar_t kDependency[] = L"jsproxy";
const wchar_t *const kPrograms[] = {L"PlantedProbe.exe", L"PlantedControl.exe"};

TEST(SystemLibrary, WithoutTheSearchFlagsADependencyOfWinHttpComesFromTheSystemFolder)
{
    std::wstring dir = ScratchDir(L"downloads-old-loader");
    std::wstring marker = ScratchDir(L"planted-marker-old-loader") + L"\\marker.txt";
    SetEnvironmentVariableW(L"PLANTED_DLL_MARKER", marker.c_str());
    std::wstring probe = dir + L"\\PlantedProbe.exe";
    std::wstring control = dir + L"\\PlantedControl.exe";
    ASSERT_TRUE(CopyFileW(BuiltExe(L"system_library_probe.exe").c_str(), probe.c_str(), FALSE));
    ASSERT_TRUE(CopyFileW(BuiltExe(L"load_library.exe").c_str(), control.c_str(), FALSE));
    std::wstring planted = dir + L"\\" + kDependency + L".dll";
    ASSERT_TRUE(CopyFileW(BuiltExe(L"planted_dll.dll").c_str(), planted.c_str(), FALSE));
    for (const wchar_t *program : kPrograms) {
        std::wstring key = std::wstring(kAppDefaults) + program + L"\\DllOverrides";
        ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, key.c_str(), kDependency, L"native,builtin"));
    }
    wchar_t system[MAX_PATH];
    UINT length = GetSystemDirectoryW(system, MAX_PATH);
    std::wstring winHttp = std::wstring(system, length) + L"\\winhttp.dll";
    // There is something to plant where loading this WinHTTP loads the dependency too (Wine's does; Windows' may not).
    HMODULE systemWinHttp = LoadLibraryW(winHttp.c_str());
    bool importsDependency = GetModuleHandleW((std::wstring(kDependency) + L".dll").c_str()) != nullptr;
    if (systemWinHttp != nullptr) {
        FreeLibrary(systemWinHttp);
    }

    ChildResult controlRun = RunChild(control, L"\"" + control + L"\" " + winHttp, 30000);
    std::wstring controlMarker = ReadUtf16(marker);
    DeleteFileW(marker.c_str());
    ChildResult probeRun = RunChild(probe, L"\"" + probe + L"\" winhttp.dll", 30000);
    std::wstring probeMarker = FileExists(marker) ? ReadUtf16(marker) : L"";

    for (const wchar_t *program : kPrograms) {
        DeleteRegTree(HKEY_CURRENT_USER, (std::wstring(kAppDefaults) + program).c_str());
    }
    SetEnvironmentVariableW(L"PLANTED_DLL_MARKER", nullptr);

    ASSERT_TRUE(controlRun.finished);
    if (controlMarker.empty() && !importsDependency) {
        GTEST_SKIP() << "this system's WinHTTP does not import jsproxy.dll: nothing to plant";
    }
    EXPECT_EQ(control + L"|" + planted + L"\n", controlMarker)
        << "the plain load did not take the planted dependency: the bench is broken";
    ASSERT_TRUE(probeRun.finished);
    EXPECT_EQ(0u, probeRun.exitCode) << "WinHTTP did not load from the system folder";
    EXPECT_EQ(L"", probeMarker) << "the planted dependency was loaded";
}

}  // namespace
