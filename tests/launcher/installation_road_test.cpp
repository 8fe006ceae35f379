// The whole installation road on a test host: main.cpp and every product library, linked with a catalogue whose
// packages the loopback server of this build tree serves (their sizes and digests computed by the bench) and with a
// process stand-in that starts the road's update installer in place of the system's wusa, which the host's own
// elevated step starts. The runtime's installer is a small test program that sets the install flag. A merchant's
// story, window by window: the host without the runtime, the download, the verification, the installation, the
// restart notice, and the next starts until the payload runs with the user's arguments.
#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <map>
#include <vector>

#include "installer/installer_context.h"
#include "support/expected_text.h"
#include "support/host_bench.h"
#include "support/installer_driver.h"
#include "support/notice_watcher.h"
#include "support/road_bench.h"
#include "support/utf8.h"
#include "support/window_states.h"

using namespace bench;

namespace {

using text::kRuntimeTitle;
using text::kServicingStackTitle;
using text::kSha2Title;
const wchar_t kUserArgs[] = L"--exit-code=42 \"two words\" /x";
const DWORD kWaitMs = 30000;

class InstallationRoad : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearRuntimeFlags();
        ForgetUpdates();
        ClearDownloadFolder();
        serviceFound_ = UpdateServiceStartType();
        dir_ = ScratchDir(L"road");
        log_ = StartRoadLog(dir_);
        report_ = dir_ + L"\\report.txt";
        SetEnvironmentVariableW(L"DEMO_PAYLOAD_REPORT", report_.c_str());
        SetEnvironmentVariableW(L"ROAD_WUSA", BuiltExe(L"road_wusa.exe").c_str());
    }
    void TearDown() override
    {
        if (!setAside_.empty()) {
            std::wstring folder = DownloadFolder();
            folder.pop_back();
            if (!IsFolder(folder)) {
                DeleteFileW(folder.c_str());
            }
            if (IsFolder(setAside_)) {
                EXPECT_TRUE(MoveFileExW(setAside_.c_str(), folder.c_str(), 0)) << "the download folder was not restored";
            }
        }
        for (const std::wstring &name : appDefaults_) {
            DeleteRegTree(HKEY_CURRENT_USER, (L"Software\\Wine\\AppDefaults\\" + name).c_str());
        }
        for (const wchar_t *variable : {L"DEMO_PAYLOAD_REPORT", L"ROAD_WUSA", L"ROAD_LOG", L"ROAD_WUSA_EXIT_KB4490628",
                                        L"ROAD_WUSA_EXIT_KB4474419"}) {
            SetEnvironmentVariableW(variable, nullptr);
        }
        ClearRuntimeFlags();
        ForgetUpdates();
        ClearDownloadFolder();
        if (UpdateServiceStartType() != serviceFound_) {
            SetUpdateServiceStartType(serviceFound_);
        }
    }

    std::wstring HostAs(const wchar_t *version)
    {
        std::wstring name = std::wstring(L"road-") + version + L".exe";
        SetRegString(HKEY_CURRENT_USER, (L"Software\\Wine\\AppDefaults\\" + name).c_str(), L"Version", version);
        appDefaults_.push_back(name);
        return CopyHost(dir_, name.c_str(), L"VelvaroHostRoad.exe");
    }

    // One window of the road: it opens with this title, "下载" fetches and verifies the package, "安装" runs its
    // installer, and the window closes by itself.
    void DownloadAndInstall(const wchar_t *title)
    {
        SCOPED_TRACE(testing::Message() << "window " << Utf8(title));
        HWND window = FindInstallerWindowTitled(title, kWaitMs);
        ASSERT_NE(nullptr, window) << "the window did not open";
        windows_.push_back(window);
        WindowState view = ReadWindow(window);
        EXPECT_EQ(text::kNeedsDownload, view.status.text);
        EXPECT_EQ(text::kDownload, view.action.text);
        Click(window, IDC_ACTION);
        ASSERT_TRUE(WaitForState(window, state::ReadyDownloaded, kWaitMs, &view))
            << "no package ready: " << Shown(view);
        EXPECT_EQ(1000, view.barPosition);
        EXPECT_EQ(text::kClose, view.close.text);
        Click(window, IDC_ACTION);
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(window); }, kWaitMs))
            << "the window stayed after a successful installation: " << Shown(ReadWindow(window));
    }

    // One start of the host on the road: each window of these titles downloads and installs in turn (afterEach, when
    // given, runs with the title as each has closed), then the host ends; every notice it showed meanwhile was
    // answered with OK and is returned.
    struct RoadRun {
        bool finished;
        DWORD exitCode;
        std::vector<SeenNotice> notices;
    };
    RoadRun StartAndInstall(const std::wstring &host, std::initializer_list<const wchar_t *> titles,
                            const std::function<void(const wchar_t *)> &afterEach = nullptr)
    {
        NoticeWatcher watcher(IDOK);
        RunningHost running = StartHost(host, kUserArgs);
        EXPECT_TRUE(running.started);
        for (const wchar_t *title : titles) {
            if (!running.started || HasFatalFailure()) {
                break;
            }
            DownloadAndInstall(title);
            if (afterEach && !HasFatalFailure()) {
                afterEach(title);
            }
        }
        // A window that failed its step stays open: the host is ended at once rather than waited for.
        ChildResult run = FinishHost(&running, HasFatalFailure() ? 0 : kWaitMs);
        return {run.finished, run.exitCode, watcher.Seen()};
    }

    std::map<std::wstring, std::wstring> Report()
    {
        std::map<std::wstring, std::wstring> fields;
        std::wstring text = ReadUtf16(report_);
        size_t start = 0;
        for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
            std::wstring line = text.substr(start, end - start);
            if (!line.empty() && line.back() == L'\r') {
                line.pop_back();
            }
            size_t equals = line.find(L'=');
            if (equals != std::wstring::npos) {
                fields[line.substr(0, equals)] = line.substr(equals + 1);
            }
        }
        return fields;
    }

    // The start after the runtime's installation: the gates pass and the payload runs with the user's arguments;
    // no installer window opens (looked for by its class, as every window of the road was found).
    void PayloadRunsOnTheNextStart(const std::wstring &host)
    {
        RunningHost running = StartHost(host, kUserArgs);
        ASSERT_TRUE(running.started);
        bool window = WatchUntilHostEnds(running, kWaitMs);
        ChildResult run = FinishHost(&running, 5000);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(42u, run.exitCode) << "the payload's own exit code";
        EXPECT_FALSE(window);
        std::wstring commandLine = Report()[L"commandline"];
        std::wstring expectedTail = std::wstring(L" ") + kUserArgs;
        ASSERT_GE(commandLine.size(), expectedTail.size()) << Utf8(commandLine);
        EXPECT_EQ(expectedTail, commandLine.substr(commandLine.size() - expectedTail.size()));
    }

    // The record of one update's installation: the window's elevated start of the host itself (owned by the window),
    // the elevated step's start of the native update installer on the held package, and that installer's own line.
    void ExpectUpdateInstalled(const std::vector<std::wstring> &lines, size_t at, const std::wstring &host,
                               const wchar_t *itemName, const std::wstring &package, HWND window, DWORD serviceSeen)
    {
        SCOPED_TRACE(testing::Message() << "update " << Utf8(itemName));
        ASSERT_GE(lines.size(), at + 3);
        wchar_t system[MAX_PATH] = L"";
        GetSystemDirectoryW(system, MAX_PATH);
        std::wstring wusa = std::wstring(system) + L"\\wusa.exe";
        std::wstring installerLine = L"\"" + wusa + L"\" \"" + package + L"\" /quiet /norestart";
        EXPECT_EQ(L"shell file=" + host + L" verb=runas params=--velvaro-private-elevated-update " + itemName + L" \"" +
                      package + L"\" mask=0x440 show=1 owner=" + HandleText(window),
                  lines[at]);
        EXPECT_EQ(L"create file=" + wusa + L" cmd=" + installerLine, lines[at + 1]);
        EXPECT_EQ(0u, lines[at + 2].find(L"wusa pid=")) << Utf8(lines[at + 2]);
        EXPECT_NE(std::wstring::npos, lines[at + 2].find(L" service=" + std::to_wstring(serviceSeen) + L" " +
                                                          installerLine))
            << Utf8(lines[at + 2]);
    }

    std::wstring dir_;
    std::wstring log_;
    std::wstring report_;
    std::vector<std::wstring> appDefaults_;
    std::vector<HWND> windows_;  // every installer window of the road, in order
    DWORD serviceFound_ = 0;     // wuauserv's start type before the test
    std::wstring setAside_;      // where a test put the real download folder for the time it runs
};

TEST_F(InstallationRoad, Windows10FromNoRuntimeToThePayload)
{
    std::wstring host = HostAs(L"win10");
    RoadRun run = StartAndInstall(host, {kRuntimeTitle});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode) << "the runtime window's result";
    EXPECT_FALSE(FileExists(report_)) << "the payload must not start in the run that installed the runtime";
    EXPECT_TRUE(run.notices.empty());

    std::wstring package = DownloadFolder() + L"NDP48-x86-x64-AllOS-ENU.exe";
    EXPECT_EQ(FileSize(BuiltExe(L"road_runtime_installer.exe")), FileSize(package));
    std::vector<std::wstring> lines = RoadLines(log_);
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(L"shell file=" + package + L" verb=runas params=(null) mask=0x440 show=1 owner=" + HandleText(windows_[0]),
              lines[0]);
    EXPECT_EQ(0u, lines[1].find(L"runtime ")) << Utf8(lines[1]);

    PayloadRunsOnTheNextStart(host);
}

TEST_F(InstallationRoad, Windows7TwoUpdatesARestartThenTheRuntimeAndThePayload)
{
    std::wstring host = HostAs(L"win7");
    SetEnvironmentVariableW(L"ROAD_WUSA_EXIT_KB4490628", L"0");
    SetEnvironmentVariableW(L"ROAD_WUSA_EXIT_KB4474419", L"3010");
    {
        // 0 and listed installed: the next update in the same run.
        RoadRun run = StartAndInstall(host, {kServicingStackTitle, kSha2Title});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(1u, run.exitCode) << "3010: the restart notice ends the run";
        ASSERT_EQ(1u, run.notices.size());
        EXPECT_EQ(text::kRestart, run.notices[0].text);
        EXPECT_EQ(text::kCaption, run.notices[0].caption);
        EXPECT_TRUE(run.notices[0].hasOk);
        EXPECT_FALSE(run.notices[0].hasCancel);
        EXPECT_TRUE(run.notices[0].hasIcon);
    }
    EXPECT_FALSE(FileExists(report_));

    // This machine's native architecture is x64: its packages were fetched, the x86 builds were not.
    std::wstring ssu = DownloadFolder() + L"windows6.1-kb4490628-x64.msu";
    std::wstring sha2 = DownloadFolder() + L"windows6.1-kb4474419-v3-x64.msu";
    EXPECT_TRUE(FileExists(ssu));
    EXPECT_TRUE(FileExists(sha2));
    EXPECT_FALSE(FileExists(DownloadFolder() + L"windows6.1-kb4490628-x86.msu"));
    std::vector<std::wstring> lines = RoadLines(log_);
    ASSERT_EQ(6u, lines.size());
    ASSERT_EQ(2u, windows_.size());
    ExpectUpdateInstalled(lines, 0, host, L"ServicingStackUpdateX64", ssu, windows_[0], SERVICE_DEMAND_START);
    ExpectUpdateInstalled(lines, 3, host, L"Sha2UpdateX64", sha2, windows_[1], SERVICE_DEMAND_START);

    // After the restart: both updates are listed, so the runtime window opens at once.
    {
        RoadRun run = StartAndInstall(host, {kRuntimeTitle});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(run.notices.empty());
    }
    lines = RoadLines(log_);
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ(0u, lines[7].find(L"runtime ")) << Utf8(lines[7]);

    PayloadRunsOnTheNextStart(host);
}

// A till whose Windows Update service is switched off: the elevated step lets it start on demand while each update
// installs (the recording installer sees "demand") and switches it off again afterwards; the road reaches the runtime
// and then the payload.
TEST_F(InstallationRoad, Windows7WithWindowsUpdateSwitchedOffReachesTheRuntimeAndThePayload)
{
    ASSERT_NE(0xFFFFFFFFu, serviceFound_) << "no wuauserv in this prefix";
    ASSERT_TRUE(SetUpdateServiceStartType(SERVICE_DISABLED));
    std::wstring host = HostAs(L"win7");
    {
        auto switchedOffAgain = [](const wchar_t *title) {
            EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), UpdateServiceStartType()) << "after " << Utf8(title);
        };
        RoadRun run = StartAndInstall(host, {kServicingStackTitle, kSha2Title, kRuntimeTitle}, switchedOffAgain);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(run.notices.empty());
    }
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), UpdateServiceStartType()) << "the service ends as it was found";
    std::vector<std::wstring> lines = RoadLines(log_);
    ASSERT_EQ(8u, lines.size());
    ASSERT_EQ(3u, windows_.size());
    ExpectUpdateInstalled(lines, 0, host, L"ServicingStackUpdateX64",
                          DownloadFolder() + L"windows6.1-kb4490628-x64.msu", windows_[0], SERVICE_DEMAND_START);
    ExpectUpdateInstalled(lines, 3, host, L"Sha2UpdateX64", DownloadFolder() + L"windows6.1-kb4474419-v3-x64.msu",
                          windows_[1], SERVICE_DEMAND_START);
    EXPECT_EQ(0u, lines[6].find(L"shell file=" + DownloadFolder() + L"NDP48-x86-x64-AllOS-ENU.exe")) << Utf8(lines[6]);
    EXPECT_EQ(0u, lines[7].find(L"runtime ")) << Utf8(lines[7]);
    PayloadRunsOnTheNextStart(host);
}

TEST_F(InstallationRoad, ARestartAfterTheFirstUpdateContinuesWithTheSecond)
{
    std::wstring host = HostAs(L"win7");
    SetEnvironmentVariableW(L"ROAD_WUSA_EXIT_KB4490628", L"3010");
    SetEnvironmentVariableW(L"ROAD_WUSA_EXIT_KB4474419", L"0");
    {
        RoadRun run = StartAndInstall(host, {kServicingStackTitle});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(1u, run.exitCode);
        ASSERT_EQ(1u, run.notices.size());
        EXPECT_EQ(text::kRestart, run.notices[0].text);
    }
    EXPECT_FALSE(FileExists(DownloadFolder() + L"windows6.1-kb4474419-v3-x64.msu"))
        << "the second update is not touched in the run that needs a restart";
    {
        // The next start: the first update is listed, its window does not open again; the second installs with 0
        // and the runtime's window follows in the same run.
        RoadRun run = StartAndInstall(host, {kSha2Title, kRuntimeTitle});
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode);
        EXPECT_TRUE(run.notices.empty());
    }
    std::vector<std::wstring> lines = RoadLines(log_);
    ASSERT_EQ(8u, lines.size()) << "one update each, then the runtime";
    EXPECT_NE(std::wstring::npos, lines[2].find(L"kb4490628-x64.msu")) << Utf8(lines[2]);
    EXPECT_NE(std::wstring::npos, lines[5].find(L"kb4474419-v3-x64.msu")) << Utf8(lines[5]);
    EXPECT_EQ(0u, lines[7].find(L"runtime ")) << Utf8(lines[7]);
    PayloadRunsOnTheNextStart(host);
}

// The first update does not apply to this machine (a newer servicing stack has superseded it, say): its installer
// answers 0x80240017 and leaves nothing in the servicing store. Its window closes as after a success, and the same run
// goes on with the second update and then the runtime, without a restart notice.
TEST_F(InstallationRoad, AnUpdateThatDoesNotApplyLeadsToTheNextStep)
{
    std::wstring host = HostAs(L"win7");
    SetEnvironmentVariableW(L"ROAD_WUSA_EXIT_KB4490628", L"0x80240017");
    SetEnvironmentVariableW(L"ROAD_WUSA_EXIT_KB4474419", L"0");
    RoadRun run = StartAndInstall(host, {kServicingStackTitle, kSha2Title, kRuntimeTitle});
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode) << "the runtime window's result";
    EXPECT_TRUE(run.notices.empty()) << "a notice";
    std::vector<std::wstring> lines = RoadLines(log_);
    ASSERT_EQ(8u, lines.size()) << "each update's installer once, then the runtime's";
    EXPECT_NE(std::wstring::npos, lines[2].find(L"kb4490628-x64.msu")) << Utf8(lines[2]);
    EXPECT_NE(std::wstring::npos, lines[5].find(L"kb4474419-v3-x64.msu")) << Utf8(lines[5]);
    EXPECT_EQ(0u, lines[7].find(L"runtime ")) << Utf8(lines[7]);
}

// A file, not a folder, holding the download folder's name in the temporary folder: every download would fail to
// write there, so the road ends before any window with the notice for the package's place and the runtime window's
// result, 2, passed on. The file stays as it was.
TEST_F(InstallationRoad, AFileNamedLikeTheDownloadFolderEndsTheRoadWithItsNotice)
{
    std::wstring host = HostAs(L"win10");
    std::wstring folder = DownloadFolder();
    folder.pop_back();
    setAside_ = folder + L"-set-aside";
    RemoveTree(setAside_);
    if (IsFolder(folder)) {
        ASSERT_TRUE(MoveFileExW(folder.c_str(), setAside_.c_str(), 0));
    }
    const char content[] = "not a folder";
    ASSERT_TRUE(WriteBytes(folder, content, sizeof(content) - 1));

    NoticeWatcher watcher(IDOK);
    RunningHost running = StartHost(host, kUserArgs);
    ASSERT_TRUE(running.started);
    bool window = WatchUntilHostEnds(running, kWaitMs);
    ChildResult run = FinishHost(&running, 5000);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(2u, run.exitCode);
    EXPECT_FALSE(window) << "a window opened over a download folder that cannot hold a package";
    std::vector<SeenNotice> seen = watcher.Seen();
    ASSERT_EQ(1u, seen.size());
    EXPECT_EQ(text::kNoPackagePath, seen[0].text);
    EXPECT_TRUE(seen[0].hasOk);
    EXPECT_FALSE(seen[0].hasCancel);
    std::string now;
    EXPECT_TRUE(ReadBytes(folder, &now) && now == content) << "the file was touched";
    EXPECT_FALSE(FileExists(report_)) << "the payload started";
}

// A package downloaded in one run and not installed stays verified in the download folder: the next start offers
// the installation at once, without a second download.
TEST_F(InstallationRoad, APackageDownloadedEarlierIsInstalledWithoutASecondDownload)
{
    std::wstring host = HostAs(L"win10");
    RunningHost first = StartHost(host, kUserArgs);
    ASSERT_TRUE(first.started);
    HWND window = FindInstallerWindowTitled(kRuntimeTitle, kWaitMs);
    ASSERT_NE(nullptr, window);
    Click(window, IDC_ACTION);
    ASSERT_TRUE(WaitForState(
        window,
        state::ReadyDownloaded,
        kWaitMs));
    Click(window, IDC_CLOSE);
    ChildResult run = FinishHost(&first, kWaitMs);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1223u, run.exitCode) << "closed without an installation";
    std::wstring package = DownloadFolder() + L"NDP48-x86-x64-AllOS-ENU.exe";
    ASSERT_TRUE(FileExists(package));
    FILETIME downloaded = LastWriteTime(package);

    RunningHost second = StartHost(host, kUserArgs);
    ASSERT_TRUE(second.started);
    window = FindInstallerWindowTitled(kRuntimeTitle, kWaitMs);
    ASSERT_NE(nullptr, window);
    WindowState view = ReadWindow(window);
    EXPECT_EQ(text::kReadyFound, view.status.text);
    EXPECT_EQ(text::kInstall, view.action.text);
    EXPECT_EQ(1000, view.barPosition);
    Click(window, IDC_ACTION);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(window); }, kWaitMs));
    run = FinishHost(&second, kWaitMs);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    FILETIME installed = LastWriteTime(package);
    EXPECT_EQ(0, CompareFileTime(&downloaded, &installed)) << "the package was fetched again";
    PayloadRunsOnTheNextStart(host);
}

}  // namespace
