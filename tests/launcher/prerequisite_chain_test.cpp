// The chain on the real host twin: the runtime missing, a visible window station and no network. Wine reports the
// Windows version per exe name (AppDefaults); the Windows 7 updates are real package keys of the servicing store in
// the prefix's HKLM. A UI driver finds each installer window by its class, reads it and closes it.
#include <gtest/gtest.h>

#include <vector>

#include "installer/installer_context.h"
#include "support/download_bench.h"
#include "support/expected_text.h"
#include "support/host_bench.h"
#include "support/installer_driver.h"
#include "support/notice_watcher.h"
#include "support/road_bench.h"
#include "support/window_states.h"

using namespace bench;

namespace {

using text::kRuntimeTitle;
using text::kServicingStackTitle;
using text::kSha2Title;
const DWORD kWindowWaitMs = 20000;

class PrerequisiteChainOnTheHost : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearRuntimeFlags();
        ForgetUpdates();
        ClearDownloadFolder();
        dir_ = ScratchDir(L"chain");
    }
    void TearDown() override
    {
        for (const std::wstring &name : appDefaults_) {
            DeleteRegTree(HKEY_CURRENT_USER, (L"Software\\Wine\\AppDefaults\\" + name).c_str());
        }
        ForgetUpdates();
        ClearDownloadFolder();
    }

    // A copy of a built host that Wine runs as the given Windows version.
    std::wstring HostAs(const wchar_t *version, const wchar_t *builtName = L"VelvaroHost.exe")
    {
        std::wstring name = std::wstring(L"chain-") + version + L"-" + builtName;
        SetRegString(HKEY_CURRENT_USER, (L"Software\\Wine\\AppDefaults\\" + name).c_str(), L"Version", version);
        appDefaults_.push_back(name);
        return CopyHost(dir_, name.c_str(), builtName);
    }

    std::wstring dir_;
    std::vector<std::wstring> appDefaults_;
};

TEST_F(PrerequisiteChainOnTheHost, TheFirstMissingStepOpensAndClosingItEndsTheRun)
{
    const struct {
        const char *what;
        const wchar_t *version;
        bool servicingStackInstalled;
        bool sha2Installed;
        const wchar_t *title;
        bool titleBarClose;  // WM_CLOSE instead of the close button
        DWORD exitCode;
    } cases[] = {
        {"Windows 10: the runtime window", L"win10", false, false, kRuntimeTitle, false, 1223},
        {"Windows 8.1: the runtime window, closed by its title bar", L"win81", false, false, kRuntimeTitle, true,
         1223},
        {"Windows 7 SP1, neither update: the servicing stack update", L"win7", false, false, kServicingStackTitle,
         false, 1},
        {"Windows 7 SP1, neither update, title bar", L"win7", false, false, kServicingStackTitle, true, 1},
        {"Windows 7 SP1, only the first update: the second", L"win7", true, false, kSha2Title, false, 1},
        {"Windows 7 SP1, both updates: the runtime window at once", L"win7", true, true, kRuntimeTitle, false, 1223},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        ForgetUpdates();
        if (c.servicingStackInstalled) {
            MarkUpdateInstalled(kServicingStackKb);
        }
        if (c.sha2Installed) {
            MarkUpdateInstalled(kSha2Kb);
        }
        NoticeWatcher watcher(IDOK);
        RunningHost host = StartHost(HostAs(c.version), L"--exit-code=42");
        ASSERT_TRUE(host.started);
        HWND window = FindInstallerWindow(kWindowWaitMs);
        ASSERT_NE(nullptr, window) << "no installer window";
        WindowState view = ReadWindow(window);
        EXPECT_EQ(c.title, view.title);
        EXPECT_EQ(text::Intro(c.title), view.intro.text);
        EXPECT_EQ(text::kNeedsDownload, view.status.text);
        EXPECT_EQ(text::kDownload, view.action.text);
        EXPECT_TRUE(view.action.enabled);
        EXPECT_EQ(text::kClose, view.close.text);
        EXPECT_TRUE(view.close.enabled);
        EXPECT_FALSE(view.webPage.visible);
        EXPECT_EQ(0, view.barPosition);
        EXPECT_EQ(1000, view.barHigh);

        if (c.titleBarClose) {
            PostMessageW(window, WM_CLOSE, 0, 0);
        } else {
            Click(window, IDC_CLOSE);
        }
        // Until the host ends, no second window may open: the same search found the first one.
        bool second = false;
        WaitFor(
            [&] {
                HWND next = FindWindowW(text::kClass, nullptr);
                second = second || (next != nullptr && next != window && IsWindowVisible(next));
                return WaitForSingleObject(host.process, 0) == WAIT_OBJECT_0;
            },
            kWindowWaitMs);
        ChildResult run = FinishHost(&host, 5000);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(c.exitCode, run.exitCode);
        EXPECT_FALSE(second) << "a further window opened after the first was closed";
        EXPECT_TRUE(watcher.Seen().empty()) << "no notice on this road";
    }
}

// The offline test host's addresses name a loopback port that refuses connections: what a merchant without a network
// sees after "下载", and the retry that the window then offers.
TEST_F(PrerequisiteChainOnTheHost, DownloadWithoutANetworkOffersTheRetry)
{
    for (const wchar_t *version : {L"win10", L"win7"}) {
        SCOPED_TRACE(version);
        RunningHost host = StartHost(HostAs(version, L"VelvaroHostOffline.exe"), L"");
        ASSERT_TRUE(host.started);
        HWND window = FindInstallerWindow(kWindowWaitMs);
        ASSERT_NE(nullptr, window);
        Click(window, IDC_ACTION);
        WindowState view;
        const std::wstring failed = std::wstring(text::kNoConnection) + text::kRetrySuffix;
        EXPECT_TRUE(WaitForState(window, [&](const WindowState &s) { return state::DownloadFailed(s, failed); }, 30000,
                                 &view))
            << Shown(view);
        Click(window, IDC_CLOSE);
        ChildResult run = FinishHost(&host, kWindowWaitMs);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(std::wstring(version) == L"win7" ? 1u : 1223u, run.exitCode);
    }
}

}  // namespace
