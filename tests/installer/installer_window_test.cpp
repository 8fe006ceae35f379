// The installer window driven as a user drives it: a second thread finds the real window by its class, reads every
// control's text, enabled and visible state and the bar's position, and clicks, through the states and transitions
// of the window, with downloads from the bench's loopback server (whole, failing, stalled, throttled so that a
// cancel lands mid-transfer, completing just as the user cancels) and installs of a test installer whose exit code
// the test chooses.
#include <gtest/gtest.h>

#include <string>

#include "installer/installer_context.h"
#include "installer/installer_window.h"
#include "support/bench.h"
#include "support/download_bench.h"
#include "support/expected_text.h"
#include "support/installer_driver.h"
#include "support/notice_watcher.h"
#include "support/test_item.h"
#include "support/window_states.h"
#include "support/wine_deviation.h"

namespace {

using bench::ReadWindow;
using bench::Shown;
using bench::WindowRun;
using bench::WindowState;
using namespace bench::text;
using namespace bench::state;

const DWORD kEndMs = 30000;

class InstallerWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bench::Served().loaded);
        ASSERT_EQ(FindWindowW(kClass, nullptr), nullptr) << "a window of an earlier test is still open";
        dir_ = bench::ScratchDir(L"installer window");
        temp_ = new bench::TempFolder(dir_);
        marker_ = dir_ + L"\\ran.txt";
        stub_ = bench::BuiltExe(L"installer_stub.exe");
    }
    void TearDown() override
    {
        bench::ClearStubBehaviour();
        delete temp_;
        bench::RemoveTree(dir_);
    }
    // The test installer placed in the download folder as a verified package.
    void PlaceStub(const std::wstring &fileName)
    {
        CreateDirectoryW((dir_ + L"\\Velvaro").c_str(), nullptr);
        ASSERT_TRUE(CopyFileW(stub_.c_str(), temp_->PackagePath(fileName).c_str(), FALSE));
    }

    std::wstring dir_;
    bench::TempFolder *temp_ = nullptr;
    std::wstring marker_;
    std::wstring stub_;
};

TEST_F(InstallerWindowTest, AVerifiedPackageOpensReadyAndTheInstallersSuccessClosesTheWindow)
{
    bench::TestItem item(bench::PackageOfFile(stub_), L"ndp48-test.exe", false);
    ASSERT_TRUE(item.valid());
    PlaceStub(L"ndp48-test.exe");
    // Success codes close the window with that code; every window of this loop is a new call in this process.
    const DWORD codes[] = {3010, 0, 1641, 0x240006};
    for (DWORD code : codes) {
        SCOPED_TRACE(code);
        bench::SetStubBehaviour(code, marker_);
        DeleteFileW(marker_.c_str());
        WindowRun run(item.get());
        HWND window = bench::FindInstallerWindow();
        ASSERT_NE(window, nullptr);
        WindowState s = ReadWindow(window);
        EXPECT_TRUE(ReadyFound(s)) << Shown(s);
        EXPECT_EQ(s.barHigh, 1000);
        EXPECT_EQ(s.title, item.get()->displayName);
        EXPECT_EQ(s.intro.text, Intro(item.get()->displayName));
        EXPECT_EQ(s.webPage.text, kWebPage);

        bench::Click(window, IDC_ACTION);
        EXPECT_TRUE(bench::WaitForState(window, Gone, kEndMs)) << Shown(ReadWindow(window));
        DWORD result = 0;
        ASSERT_TRUE(run.Wait(kEndMs, &result));
        EXPECT_EQ(result, code);
        EXPECT_TRUE(bench::FileExists(marker_)) << "the installer did not run";
    }
    // The package stays for a later run.
    EXPECT_TRUE(bench::FileExists(temp_->PackagePath(L"ndp48-test.exe")));
}

// A file of the package's name that is not the package (a truncated copy, an older build of the same name) is no
// reason to offer the installation: the window opens as if nothing were there and leaves the file as it found it.
TEST_F(InstallerWindowTest, AFileOfThePackagesNameThatDoesNotVerifyOpensTheDownloadOfferAndStaysUntouched)
{
    bench::TestItem item(bench::PackageOfFile(stub_), L"ndp48-test.exe", false);
    ASSERT_TRUE(item.valid());
    std::string package;
    ASSERT_TRUE(bench::ReadBytes(stub_, &package));
    struct Row {
        const char *label;
        size_t size;      // of the file placed
        size_t flipped;   // the byte changed, or npos
    } rows[] = {
        {"one byte short", package.size() - 1, std::string::npos},
        {"right size, last byte wrong", package.size(), package.size() - 1},
        {"right size, a middle byte wrong", package.size(), package.size() / 2},
    };
    const std::wstring path = temp_->PackagePath(L"ndp48-test.exe");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        std::string placed = package.substr(0, row.size);
        if (row.flipped != std::string::npos) {
            placed[row.flipped] = static_cast<char>(placed[row.flipped] ^ 0x5A);
        }
        CreateDirectoryW((dir_ + L"\\Velvaro").c_str(), nullptr);
        ASSERT_TRUE(bench::WriteBytes(path, placed.data(), placed.size()));
        FILETIME written = bench::LastWriteTime(path);

        WindowRun run(item.get());
        HWND window = bench::FindInstallerWindow();
        ASSERT_NE(window, nullptr);
        WindowState s = ReadWindow(window);
        EXPECT_TRUE(NeedsDownload(s)) << Shown(s);
        EXPECT_EQ(s.barHigh, 1000);
        ASSERT_EQ(static_cast<DWORD>(ERROR_CANCELLED), bench::CloseByButton(window, run, kEndMs));

        std::string left;
        ASSERT_TRUE(bench::ReadBytes(path, &left));
        EXPECT_TRUE(left == placed) << "the file was changed";
        FILETIME after = bench::LastWriteTime(path);
        EXPECT_EQ(CompareFileTime(&written, &after), 0);
    }
}

TEST_F(InstallerWindowTest, TheWindowsLayout)
{
    bench::TestItem item(bench::PackageOfFile(stub_), L"ndp48-test.exe", false);
    WindowRun run(item.get());
    HWND window = bench::FindInstallerWindow();
    ASSERT_NE(window, nullptr);
    RECT outer = {};
    GetWindowRect(window, &outer);
    EXPECT_EQ(outer.right - outer.left, 470);
    EXPECT_EQ(outer.bottom - outer.top, 248);
    EXPECT_EQ(outer.left, (GetSystemMetrics(SM_CXSCREEN) - 470) / 2);
    EXPECT_EQ(outer.top, (GetSystemMetrics(SM_CYSCREEN) - 248) / 2);
    LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    LONG_PTR exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU);
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0);
    EXPECT_EQ(exStyle & (WS_EX_TOPMOST | WS_EX_DLGMODALFRAME), WS_EX_TOPMOST | WS_EX_DLGMODALFRAME);
    struct Child {
        int id;
        RECT rect;  // client pixels
        LONG_PTR style;
    } children[] = {
        {IDC_PROGRESS, {18, 84, 442, 106}, WS_CHILD | WS_VISIBLE},
        {IDC_STATUS, {18, 116, 442, 138}, WS_CHILD | WS_VISIBLE},
        {IDC_WEBPAGE, {94, 150, 204, 178}, WS_CHILD | WS_TABSTOP},
        {IDC_ACTION, {214, 150, 322, 178}, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON},
        {IDC_CLOSE, {334, 150, 442, 178}, WS_CHILD | WS_VISIBLE | WS_TABSTOP},
    };
    for (const Child &child : children) {
        SCOPED_TRACE(child.id);
        HWND control = GetDlgItem(window, child.id);
        ASSERT_NE(control, nullptr);
        RECT rect = {};
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT *>(&rect), 2);
        EXPECT_EQ(rect.left, child.rect.left);
        EXPECT_EQ(rect.top, child.rect.top);
        EXPECT_EQ(rect.right, child.rect.right);
        EXPECT_EQ(rect.bottom, child.rect.bottom);
        EXPECT_EQ(GetWindowLongPtrW(control, GWL_STYLE) & 0xFFFF00FF, child.style & 0xFFFF00FF);
    }
    ASSERT_EQ(static_cast<DWORD>(ERROR_CANCELLED), bench::CloseByButton(window, run, kEndMs));
}

TEST_F(InstallerWindowTest, AFailedInstallationOffersTheRetryAndTheWebPageAndClosingReturnsItsCode)
{
    bench::TestItem item(bench::PackageOfFile(stub_), L"ndp48-test.exe", false);
    ASSERT_TRUE(item.valid());
    PlaceStub(L"ndp48-test.exe");
    bench::SetStubBehaviour(1, marker_);
    WindowRun run(item.get());
    HWND window = bench::FindInstallerWindow();
    ASSERT_NE(window, nullptr);

    bench::Click(window, IDC_ACTION);
    EXPECT_TRUE(bench::WaitForState(window, [](const WindowState &s) {
        return InstallFailed(s, bench::text::InstallFailed(1)) && s.barPosition == 1000;
    })) << Shown(ReadWindow(window));
    EXPECT_EQ(ReadWindow(window).status.text, L"安装未完成（错误 0x00000001）。可以重试安装。");

    // The retry installs again (the package is ready: never a download); this time the code is all ones.
    bench::SetStubBehaviour(0xFFFFFFFF, marker_);
    bench::Click(window, IDC_ACTION);
    EXPECT_TRUE(bench::WaitForState(window, [](const WindowState &s) {
        return InstallFailed(s, bench::text::InstallFailed(0xFFFFFFFF));
    })) << Shown(ReadWindow(window));
    // An update's "does not apply" closes an update's window; from the runtime's installer it is a failure.
    bench::SetStubBehaviour(0x80240017, marker_);
    bench::Click(window, IDC_ACTION);
    EXPECT_TRUE(bench::WaitForState(window, [](const WindowState &s) {
        return InstallFailed(s, bench::text::InstallFailed(0x80240017));
    })) << Shown(ReadWindow(window));
    ASSERT_EQ(0x80240017u, bench::CloseByButton(window, run, kEndMs));
}

TEST_F(InstallerWindowTest, WhileTheInstallerRunsTheWindowCannotBeClosed)
{
    bench::TestItem item(bench::PackageOfFile(stub_), L"ndp48-test.exe", false);
    ASSERT_TRUE(item.valid());
    PlaceStub(L"ndp48-test.exe");
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"installer-window-test-release");
    ASSERT_NE(release, nullptr);
    bench::SetStubBehaviour(3010, marker_, L"installer-window-test-release");
    WindowRun run(item.get());
    HWND window = bench::FindInstallerWindow();
    ASSERT_NE(window, nullptr);
    bench::Click(window, IDC_ACTION);
    ASSERT_TRUE(bench::WaitForState(window, [&](const WindowState &s) {
        return Installing(s) && s.barPosition == 1000 && bench::FileExists(marker_);
    })) << Shown(ReadWindow(window));

    // The title bar's close box and Alt+F4 arrive as WM_CLOSE (through SC_CLOSE); both buttons are disabled.
    SendMessageW(window, WM_CLOSE, 0, 0);
    SendMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    Sleep(500);  // time for a close wrongly taken to show; nothing is expected to change
    WindowState s = ReadWindow(window);
    EXPECT_TRUE(Installing(s)) << Shown(s);

    SetEvent(release);
    EXPECT_TRUE(bench::WaitForState(window, Gone, kEndMs));
    DWORD result = 0;
    ASSERT_TRUE(run.Wait(kEndMs, &result));
    EXPECT_EQ(result, 3010u);
    CloseHandle(release);
}

TEST_F(InstallerWindowTest, ADownloadShowsItsProgressAndOffersTheInstallation)
{
    bench::TestItem item(bench::PackageServed(L"slow.exe"), L"ndp48-test.exe", false,
                         bench::Served().Http(L"slow/slow.exe"));
    WindowRun run(item.get());
    HWND window = bench::FindInstallerWindow();
    ASSERT_NE(window, nullptr);
    WindowState s = ReadWindow(window);
    EXPECT_TRUE(NeedsDownload(s)) << Shown(s);
    EXPECT_EQ(s.barHigh, 1000);

    bench::Click(window, IDC_ACTION);
    s = ReadWindow(window);
    EXPECT_TRUE(Downloading(s, kDownload)) << Shown(s);
    // A progress text of the full form with a total of 2.0 MB and the bar between the ends.
    EXPECT_TRUE(bench::WaitForState(window, [](const WindowState &w) {
        return Downloading(w, kDownload) && w.barPosition > 0 && w.barPosition < 1000 &&
               w.status.text.find(L"正在下载 ") == 0 && w.status.text.find(L" / 2.0 MB（") != std::wstring::npos;
    })) << Shown(ReadWindow(window));
    EXPECT_TRUE(bench::WaitForState(window, [](const WindowState &w) {
        return ReadyDownloaded(w) && w.barPosition == 1000;
    })) << Shown(ReadWindow(window));

    // The bench's package is no program. Windows refuses to start it (1223); Wine starts a process that fails at
    // once with its own status code. Either way the window shows the code it got and offers the retry.
    bench::Click(window, IDC_ACTION);
    EXPECT_TRUE(bench::WaitForState(window, [](const WindowState &w) {
        return w.status.text.find(L"安装未完成（错误 0x") == 0 && w.webPage.visible && w.action.enabled &&
               w.barPosition == 1000;
    })) << Shown(ReadWindow(window));
    std::wstring shown = ReadWindow(window).status.text;
    bench::Click(window, IDC_CLOSE);
    DWORD result = 0;
    ASSERT_TRUE(run.Wait(kEndMs, &result));
    EXPECT_EQ(shown, bench::text::InstallFailed(result));
    EXPECT_TRUE(result == static_cast<DWORD>(ERROR_CANCELLED) ||
                bench::broken(result != static_cast<DWORD>(ERROR_CANCELLED)))
        << "exit code " << result;

    // The next window of the same process finds the package and never downloads it again.
    WindowRun again(item.get());
    window = bench::FindInstallerWindow();
    ASSERT_NE(window, nullptr);
    s = ReadWindow(window);
    EXPECT_TRUE(ReadyFound(s)) << Shown(s);
    SendMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(again.Wait(kEndMs, &result));
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_CANCELLED));
}

TEST_F(InstallerWindowTest, AFailedDownloadKeepsTheBarAndTheRetryStartsFromZero)
{
    // Half the package, a pause, then the end: "incomplete", with the bar left at the half it showed.
    bench::TestItem item(bench::PackageServed(L"slow.exe"), L"ndp48-test.exe", false,
                         bench::Served().Http(L"stall-body/slow.exe"));
    WindowRun run(item.get());
    HWND window = bench::FindInstallerWindow();
    ASSERT_NE(window, nullptr);
    bench::Click(window, IDC_ACTION);
    EXPECT_TRUE(bench::WaitForState(window, [](const WindowState &w) {
        return Downloading(w, kDownload) && w.barPosition == 500 &&
               w.status.text == L"正在下载 1.0 / 2.0 MB（50%）";
    })) << Shown(ReadWindow(window));
    const std::wstring incomplete = std::wstring(bench::text::kIncomplete) + kRetrySuffix;
    EXPECT_TRUE(bench::WaitForState(window, [&](const WindowState &w) {
        return DownloadFailed(w, incomplete) && w.barPosition == 500;
    })) << Shown(ReadWindow(window));

    // The retry: counters and bar back to 0, the button disabled with its text kept, until the new outcome. This
    // time the server sends no headers for a while: the short form with 0.0 MB and the bar at 0.
    item.SetPrimaryUrl(bench::Served().Http(L"stall-head/slow.exe"));
    bench::Click(window, IDC_ACTION);
    EXPECT_TRUE(bench::WaitForState(window, [](const WindowState &w) {
        return Downloading(w, kRetryDownload) && w.barPosition == 0 && w.status.text == L"正在下载 0.0 MB…";
    })) << Shown(ReadWindow(window));
    EXPECT_TRUE(bench::WaitForState(window, [](const WindowState &w) {
        return w.action.text == kRetryDownload && w.action.enabled && w.close.text == kClose &&
               w.status.text.size() > wcslen(kRetrySuffix) &&
               w.status.text.compare(w.status.text.size() - wcslen(kRetrySuffix), std::wstring::npos,
                                     kRetrySuffix) == 0;
    })) << Shown(ReadWindow(window));

    // And the third attempt completes.
    item.SetPrimaryUrl(bench::Served().Http(L"ok/slow.exe"));
    bench::Click(window, IDC_ACTION);
    EXPECT_TRUE(bench::WaitForState(window, [](const WindowState &w) {
        return ReadyDownloaded(w) && w.barPosition == 1000;
    })) << Shown(ReadWindow(window));
    ASSERT_EQ(static_cast<DWORD>(ERROR_CANCELLED), bench::CloseByButton(window, run, kEndMs));
}

struct CancelCase {
    const char *label;
    bool byButton;  // IDC_CLOSE; otherwise WM_CLOSE (title bar, Alt+F4)
};

// The window as it stands just before and just after its handler of the cancelling message ran, read on the window's
// own thread: the download thread's end cannot come in between, however fast the cancelled transfer stops.
HHOOK g_before = nullptr;
HHOOK g_after = nullptr;
WindowState g_beforeCancel;
WindowState g_afterCancel;
bool IsCancel(HWND hwnd, UINT message, WPARAM wParam)
{
    if (GetAncestor(hwnd, GA_ROOT) != hwnd) {
        return false;
    }
    return message == WM_CLOSE || (message == WM_COMMAND && LOWORD(wParam) == IDC_CLOSE);
}
LRESULT CALLBACK BeforeCancel(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *call = reinterpret_cast<const CWPSTRUCT *>(lParam);
    if (code == HC_ACTION && IsCancel(call->hwnd, call->message, call->wParam)) {
        g_beforeCancel = ReadWindow(call->hwnd);
    }
    return CallNextHookEx(g_before, code, wParam, lParam);
}
LRESULT CALLBACK AfterCancel(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPRETSTRUCT *call = reinterpret_cast<const CWPRETSTRUCT *>(lParam);
    if (code == HC_ACTION && IsCancel(call->hwnd, call->message, call->wParam)) {
        g_afterCancel = ReadWindow(call->hwnd);
    }
    return CallNextHookEx(g_after, code, wParam, lParam);
}

TEST_F(InstallerWindowTest, CancellingAThrottledDownloadClosesTheWindowWith1223)
{
    const CancelCase cases[] = {{"close button", true}, {"title bar", false}};
    for (const CancelCase &c : cases) {
        SCOPED_TRACE(c.label);
        bench::TestItem item(bench::PackageServed(L"slow.exe"), L"ndp48-test.exe", false,
                             bench::Served().Http(L"slow/slow.exe"));
        std::wstring package = temp_->PackagePath(L"ndp48-test.exe");
        g_beforeCancel = WindowState();
        g_afterCancel = WindowState();
        DWORD result = 0;
        {
            WindowRun run(item.get(), [] {
                g_before = SetWindowsHookExW(WH_CALLWNDPROC, BeforeCancel, nullptr, GetCurrentThreadId());
                g_after = SetWindowsHookExW(WH_CALLWNDPROCRET, AfterCancel, nullptr, GetCurrentThreadId());
            });
            HWND window = bench::FindInstallerWindow();
            ASSERT_NE(window, nullptr);
            bench::Click(window, IDC_ACTION);
            ASSERT_TRUE(bench::WaitForState(window, [](const WindowState &w) {
                return Downloading(w, kDownload) && w.barPosition > 0 && w.barPosition < 1000;
            })) << Shown(ReadWindow(window));
            ASSERT_TRUE(bench::FileExists(package + L".part"));

            if (c.byButton) {
                bench::Click(window, IDC_CLOSE);
            } else {
                SendMessageW(window, WM_CLOSE, 0, 0);
            }
            EXPECT_TRUE(bench::WaitForState(window, Gone, kEndMs));
            ASSERT_TRUE(run.Wait(kEndMs, &result));
        }
        UnhookWindowsHookEx(g_before);
        UnhookWindowsHookEx(g_after);
        ASSERT_TRUE(g_beforeCancel.exists && g_afterCancel.exists);
        EXPECT_TRUE(Downloading(g_beforeCancel, kDownload)) << Shown(g_beforeCancel);
        if (c.byButton) {
            EXPECT_EQ(g_afterCancel.status.text, kCancelling);
            EXPECT_EQ(g_afterCancel.close.text, kCancel);
            EXPECT_FALSE(g_afterCancel.close.enabled);
            EXPECT_FALSE(g_afterCancel.action.enabled);
        } else {
            // No text and no button changes.
            EXPECT_EQ(Shown(g_afterCancel), Shown(g_beforeCancel));
            EXPECT_EQ(g_afterCancel.status.text, g_beforeCancel.status.text);
        }
        EXPECT_EQ(result, static_cast<DWORD>(ERROR_CANCELLED));
        EXPECT_FALSE(bench::FileExists(package + L".part"));
        EXPECT_FALSE(bench::FileExists(package));
    }
}

// On the window's thread: the user's click on "取消" lands just after the download thread posted its end.
HHOOK g_hook = nullptr;
bool g_cancelledLate = false;
LRESULT CALLBACK CancelJustBeforeTheEnd(int code, WPARAM wParam, LPARAM lParam)
{
    MSG *message = reinterpret_cast<MSG *>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == WM_APP_DOWNLOAD_DONE && !g_cancelledLate) {
        g_cancelledLate = true;
        SendMessageW(message->hwnd, WM_COMMAND, MAKEWPARAM(IDC_CLOSE, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(message->hwnd, IDC_CLOSE)));
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

TEST_F(InstallerWindowTest, ADownloadThatCompletesJustAsTheUserCancelsStillClosesAndKeepsThePackage)
{
    bench::TestItem item(bench::PackageServed(L"setup.exe"), L"ndp48-test.exe", false,
                         bench::Served().Http(L"ok/setup.exe"));
    g_cancelledLate = false;
    DWORD result = 0;
    {
        WindowRun run(item.get(), [] { g_hook = SetWindowsHookExW(WH_GETMESSAGE, CancelJustBeforeTheEnd, nullptr,
                                                                  GetCurrentThreadId()); });
        HWND window = bench::FindInstallerWindow();
        ASSERT_NE(window, nullptr);
        bench::Click(window, IDC_ACTION);
        EXPECT_TRUE(bench::WaitForState(window, Gone, kEndMs)) << Shown(ReadWindow(window));
        ASSERT_TRUE(run.Wait(kEndMs, &result));
    }
    UnhookWindowsHookEx(g_hook);
    EXPECT_TRUE(g_cancelledLate);
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_CANCELLED));
    std::wstring package = temp_->PackagePath(L"ndp48-test.exe");
    EXPECT_EQ(bench::FileSize(package), bench::Served().Fixture(L"setup.exe").size);

    WindowRun next(item.get());
    HWND window = bench::FindInstallerWindow();
    ASSERT_NE(window, nullptr);
    WindowState s = ReadWindow(window);
    EXPECT_TRUE(ReadyFound(s)) << Shown(s);
    bench::Click(window, IDC_CLOSE);
    ASSERT_TRUE(next.Wait(kEndMs, &result));
}

#ifdef _WIN64
// Every free region of the address space below 4 GiB reserved, so that a thread created meanwhile gets its stack,
// and RunInstallerWindow its context, above: a pointer cut to 32 bits then points elsewhere.
class LowAddressesTaken {
public:
    LowAddressesTaken()
    {
        MEMORY_BASIC_INFORMATION info;
        for (ULONG_PTR at = 0x10000; at < 0x100000000ull && VirtualQuery(reinterpret_cast<void *>(at), &info,
                                                                          sizeof(info)) == sizeof(info);
             at = reinterpret_cast<ULONG_PTR>(info.BaseAddress) + info.RegionSize) {
            if (info.State == MEM_FREE) {
                ULONG_PTR end = reinterpret_cast<ULONG_PTR>(info.BaseAddress) + info.RegionSize;
                if (end > 0x100000000ull) {
                    end = 0x100000000ull;
                }
                // Reservations start on 64 KiB boundaries.
                ULONG_PTR start = (reinterpret_cast<ULONG_PTR>(info.BaseAddress) + 0xFFFF) & ~static_cast<ULONG_PTR>(0xFFFF);
                if (end > start) {
                    void *taken = VirtualAlloc(reinterpret_cast<void *>(start), end - start, MEM_RESERVE,
                                               PAGE_NOACCESS);
                    if (taken != nullptr) {
                        taken_.push_back(taken);
                    }
                }
            }
        }
    }
    ~LowAddressesTaken()
    {
        for (void *taken : taken_) {
            VirtualFree(taken, 0, MEM_RELEASE);
        }
    }

private:
    std::vector<void *> taken_;
};

ULONG_PTR g_runStack = 0;
#endif

TEST_F(InstallerWindowTest, TheWindowKeepsAFullPointerToItsContext)
{
#ifndef _WIN64
    GTEST_SKIP() << "a 32-bit build has no pointer that a 32-bit slot could cut";
#else
    bench::TestItem item(bench::PackageOfFile(stub_), L"ndp48-test.exe", false);
    PlaceStub(L"ndp48-test.exe");
    g_runStack = 0;
    DWORD result = 0;
    {
        LowAddressesTaken low;
        WindowRun run(item.get(), [] {
            volatile int local = 0;
            g_runStack = reinterpret_cast<ULONG_PTR>(&local);
        });
        HWND window = bench::FindInstallerWindow();
        ASSERT_NE(window, nullptr);
        if (g_runStack < 0x100000000ull) {
            bench::Click(window, IDC_CLOSE);
            run.Wait(kEndMs, &result);
            GTEST_SKIP() << "the window's thread got its stack below 4 GiB nonetheless";
        }
        WindowState s = ReadWindow(window);
        EXPECT_TRUE(ReadyFound(s)) << Shown(s);
        // Every handler below reaches the context through the window's user data.
        SendMessageW(window, WM_TIMER, 1, 0);
        bench::Click(window, IDC_CLOSE);
        ASSERT_TRUE(run.Wait(kEndMs, &result));
    }
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_CANCELLED));
#endif
}

// Counts the installer windows created on the calling thread.
HHOOK g_cbt = nullptr;
int g_windowsMade = 0;
LRESULT CALLBACK CountWindows(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        wchar_t name[64] = {};
        GetClassNameW(reinterpret_cast<HWND>(wParam), name, ARRAYSIZE(name));
        if (lstrcmpW(name, kClass) == 0) {
            ++g_windowsMade;
        }
    }
    return CallNextHookEx(g_cbt, code, wParam, lParam);
}

TEST_F(InstallerWindowTest, APackagePathOf260CharactersIsRefusedWithANoticeAndNoWindow)
{
    // temp folder + "Velvaro" + "\" + file name: 259 characters still open the window, 260 do not.
    const std::wstring fileName = L"ndp48-test.exe";
    struct Row {
        size_t pathLength;
        bool window;
    } rows[] = {{259, true}, {260, false}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.pathLength);
        std::wstring folder = dir_ + L"\\";
        size_t tempLength = row.pathLength - 8 - fileName.size();  // with its trailing backslash
        while (folder.size() + 1 < tempLength) {
            folder += L'x';
        }
        ASSERT_EQ(folder.size() + 1, tempLength);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
        bench::TempFolder longTemp(folder + L"\\");
        bench::TestItem item(bench::PackageServed(L"setup.exe"), L"ndp48-test.exe", false,
                             bench::Served().Http(L"ok/setup.exe"));
        bench::NoticeWatcher watcher;
        g_windowsMade = 0;
        DWORD result = 0;
        {
            WindowRun run(item.get(), [] {
                g_cbt = SetWindowsHookExW(WH_CBT, CountWindows, nullptr, GetCurrentThreadId());
            });
            if (row.window) {
                HWND window = bench::FindInstallerWindow();
                ASSERT_NE(window, nullptr);
                bench::Click(window, IDC_CLOSE);
            }
            ASSERT_TRUE(run.Wait(kEndMs, &result));
        }
        UnhookWindowsHookEx(g_cbt);
        std::vector<bench::SeenNotice> seen = watcher.Seen();
        if (row.window) {
            EXPECT_EQ(g_windowsMade, 1);
            EXPECT_EQ(result, static_cast<DWORD>(ERROR_CANCELLED));
            EXPECT_TRUE(seen.empty());
        } else {
            EXPECT_EQ(g_windowsMade, 0);
            EXPECT_EQ(result, 2u);
            ASSERT_EQ(seen.size(), 1u);
            EXPECT_EQ(seen[0].text, kNoPackagePath);
            EXPECT_TRUE(seen[0].hasOk);
            EXPECT_FALSE(seen[0].hasCancel);
        }
    }
}

TEST_F(InstallerWindowTest, NoItemIsRefusedWithTheSameNotice)
{
    bench::NoticeWatcher watcher;
    DWORD result = 0;
    {
        WindowRun run(nullptr);
        ASSERT_TRUE(run.Wait(kEndMs, &result));
    }
    EXPECT_EQ(result, 2u);
    std::vector<bench::SeenNotice> seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, kNoPackagePath);
}

}  // namespace
