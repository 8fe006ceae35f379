// The host as it is started from a downloads folder, with libraries planted beside it under the names of those that
// it, or a system library on its behalf, loads while it runs. Wine prefers its built-in libraries, so each name is set
// to "native, then built-in" for the copied programs only; a control program in the same folder, loading each name
// with the default search, proves in the same run that a planted library would leave its marker.
#include <gtest/gtest.h>

#include "support/download_bench.h"
#include "support/expected_text.h"
#include "support/host_bench.h"
#include "support/installer_driver.h"
#include "support/notice_watcher.h"
#include "support/road_bench.h"
#include "support/window_states.h"

using namespace bench;

namespace {

const wchar_t kAppDefaults[] = L"Software\\Wine\\AppDefaults\\";
// The theme library is what a first window (OleInitialize makes one) pulls in; the others come with the installer
// road and the shell.
const wchar_t *const kPlanted[] = {L"uxtheme", L"comctl32", L"winhttp", L"dwmapi"};

class PlantedLibraries : public ::testing::Test {
protected:
    void SetUp() override
    {
        PrepareLaunchMachine();
        dir_ = ScratchDir(L"downloads");
        marker_ = ScratchDir(L"planted-marker") + L"\\marker.txt";
        SetEnvironmentVariableW(L"PLANTED_DLL_MARKER", marker_.c_str());
        host_ = CopyHost(dir_, L"PlantedHost.exe");
        roadHost_ = CopyHost(dir_, L"PlantedRoadHost.exe", L"VelvaroHostOffline.exe");
        // Reported as Windows 10, the road host opens the runtime's window at once.
        ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, (std::wstring(kAppDefaults) + L"PlantedRoadHost.exe").c_str(),
                                 L"Version", L"win10"));
        control_ = dir_ + L"\\PlantedControl.exe";
        ASSERT_TRUE(CopyFileW(BuiltExe(L"load_library.exe").c_str(), control_.c_str(), FALSE));
        for (const wchar_t *name : kPlanted) {
            ASSERT_TRUE(CopyFileW(BuiltExe(L"planted_dll.dll").c_str(), (dir_ + L"\\" + name + L".dll").c_str(),
                                  FALSE));
            for (const wchar_t *program : {L"PlantedHost.exe", L"PlantedRoadHost.exe", L"PlantedControl.exe"}) {
                std::wstring key = std::wstring(kAppDefaults) + program + L"\\DllOverrides";
                ASSERT_TRUE(SetRegString(HKEY_CURRENT_USER, key.c_str(), name, L"native,builtin"));
            }
        }
    }
    void TearDown() override
    {
        for (const wchar_t *program : {L"PlantedHost.exe", L"PlantedRoadHost.exe", L"PlantedControl.exe"}) {
            DeleteRegTree(HKEY_CURRENT_USER, (std::wstring(kAppDefaults) + program).c_str());
        }
        SetEnvironmentVariableW(L"PLANTED_DLL_MARKER", nullptr);
        ClearLaunchMachine();
    }

    std::wstring dir_;
    std::wstring marker_;
    std::wstring host_;
    std::wstring roadHost_;
    std::wstring control_;
};

TEST_F(PlantedLibraries, NoneIsLoadedByTheHost)
{
    for (const wchar_t *name : kPlanted) {
        SCOPED_TRACE(testing::Message() << name);
        DeleteFileW(marker_.c_str());
        RunChild(control_, L"\"" + control_ + L"\" " + name + L".dll");
        std::wstring expected = control_ + L"|" + dir_ + L"\\" + name + L".dll\n";
        EXPECT_EQ(expected, ReadUtf16(marker_)) << "the control did not load the planted library: the bench is broken";
    }

    DeleteFileW(marker_.c_str());
    NoticeWatcher watcher;
    ChildResult run = RunHost(host_, L"--exit-code=42");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(42u, run.exitCode);
    EXPECT_FALSE(FileExists(marker_)) << "loaded by the host: " << testing::PrintToString(ReadUtf16(marker_));
    EXPECT_TRUE(watcher.Seen().empty());
}

// Without the runtime the host does load WinHTTP (a download attempt, here against a loopback port nobody answers)
// and the common controls (the window's progress bar): it must get the system's, never the copies beside it.
TEST_F(PlantedLibraries, NoneIsLoadedOnTheInstallationRoad)
{
    ClearRuntimeFlags();
    DeleteFileW(marker_.c_str());
    RunningHost host = StartHost(roadHost_, L"");
    ASSERT_TRUE(host.started);
    HWND window = FindInstallerWindow(30000);
    ASSERT_NE(nullptr, window) << "no installer window";
    EXPECT_EQ(1000, ReadWindow(window).barHigh) << "the progress bar is the common controls' own";
    Click(window, IDC_ACTION);
    WindowState view;
    const std::wstring failed = std::wstring(text::kNoConnection) + text::kRetrySuffix;
    EXPECT_TRUE(WaitForState(window, [&](const WindowState &s) { return state::DownloadFailed(s, failed); }, 30000,
                             &view))
        << "WinHTTP did not answer the download: " << Shown(view);
    Click(window, IDC_CLOSE);
    ChildResult run = FinishHost(&host, 30000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1223u, run.exitCode);
    EXPECT_FALSE(FileExists(marker_)) << "loaded by the host: " << testing::PrintToString(ReadUtf16(marker_));
}

}  // namespace
