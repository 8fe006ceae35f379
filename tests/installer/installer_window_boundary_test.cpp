// The installer window at its import boundary, for what Wine cannot produce or a test must not do: the exact shell
// request and the package held locked until the installer has ended, a refused elevation prompt, a window or a worker
// thread that cannot be created, the web page (recorded, never opened), and the window destroyed from outside while
// the download engine is setting its status note from its own thread (a secure-channel failure, scripted, makes the
// engine take its fallback).
#include <gtest/gtest.h>

#include <shellapi.h>

#include <string>

#include "installer/installer_context.h"
#include "installer/installer_window.h"
#include "installer/runner.h"
#include "support/bench.h"
#include "support/download_bench.h"
#include "support/download_faults.h"
#include "support/expected_text.h"
#include "support/installer_driver.h"
#include "support/notice_watcher.h"
#include "support/test_item.h"
#include "support/test_update_catalog.h"
#include "support/window_faults.h"
#include "support/window_states.h"

namespace {

using bench::ReadWindow;
using bench::Shown;
using bench::WindowRun;
using bench::WindowState;
using namespace bench::text;

const DWORD kEndMs = 30000;

// The update installer is started by the host's own exe, elevated: here that is this test program.
std::wstring OwnExe()
{
    wchar_t own[MAX_PATH];
    GetModuleFileNameW(nullptr, own, MAX_PATH);
    return own;
}

// What another program of the same user could do to the package at that moment.
struct Tampering {
    bool written;
    bool deleted;
    bool renamed;
};
Tampering TryToTamper(const std::wstring &package)
{
    Tampering t = {};
    HANDLE file = CreateFileW(package.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    t.written = file != INVALID_HANDLE_VALUE;
    if (t.written) {
        CloseHandle(file);
    }
    std::wstring aside = package + L".aside";
    t.renamed = MoveFileExW(package.c_str(), aside.c_str(), 0) != FALSE;
    if (t.renamed) {
        MoveFileExW(aside.c_str(), package.c_str(), 0);
    }
    // A successful delete loses the package, so it comes last.
    t.deleted = DeleteFileW(package.c_str()) != FALSE;
    return t;
}

class WindowBoundaryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        window_faults::Reset();
        faults::Reset();
        ASSERT_EQ(FindWindowW(kClass, nullptr), nullptr) << "a window of an earlier test is still open";
        dir_ = bench::ScratchDir(L"window boundary dir");  // blanks, as in many user names
        temp_ = new bench::TempFolder(dir_);
        stub_ = bench::BuiltExe(L"installer_stub.exe");
    }
    void TearDown() override
    {
        window_faults::Reset();
        faults::Reset();
        bench::ClearStubBehaviour();
        delete temp_;
        bench::RemoveTree(dir_);
    }
    // A verified package of that name in the download folder: the stub itself, or a cabinet-signed file.
    std::wstring Place(const std::wstring &fileName, bool update)
    {
        CreateDirectoryW((dir_ + L"\\Velvaro").c_str(), nullptr);
        std::wstring package = temp_->PackagePath(fileName);
        if (update) {
            EXPECT_TRUE(bench::WriteTestUpdate(package));
        } else {
            EXPECT_TRUE(CopyFileW(stub_.c_str(), package.c_str(), FALSE));
        }
        return package;
    }

    std::wstring dir_;
    bench::TempFolder *temp_ = nullptr;
    std::wstring stub_;
};

TEST_F(WindowBoundaryTest, TheShellRequestOfEachPackageKind)
{
    struct Row {
        const char *label;
        bool update;
        const wchar_t *fileName;
    } rows[] = {{"update", true, ServicingStackUpdateX64.fileName}, {"runtime installer", false, L"ndp48-test.exe"}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        window_faults::Reset();
        std::wstring package = Place(row.fileName, row.update);
        bench::TestItem local(bench::PackageOfFile(package), row.fileName, row.update);
        ASSERT_TRUE(local.valid());
        const PrerequisiteItem *item = row.update ? &ServicingStackUpdateX64 : local.get();
        Tampering atStart = {true, true, true};
        window_faults::OnShellExecuteEx([&](SHELLEXECUTEINFOW *request) {
            atStart = TryToTamper(package);
            SetLastError(ERROR_CANCELLED);  // and the user refuses the prompt
            (void)request;
            return FALSE;
        });
        WindowRun run(item);
        HWND window = bench::FindInstallerWindow();
        ASSERT_NE(window, nullptr);
        bench::Click(window, IDC_ACTION);
        // A refused prompt: 0x000004C7, the retry and the web page.
        EXPECT_TRUE(bench::WaitForState(window, [](const WindowState &s) {
            return s.status.text == InstallFailed(0x4C7) && s.action.text == kInstall &&
                   s.action.enabled && s.close.enabled && s.webPage.visible;
        })) << Shown(ReadWindow(window));
        ASSERT_EQ(static_cast<DWORD>(ERROR_CANCELLED), bench::CloseByButton(window, run, kEndMs));

        std::vector<window_faults::ShellRequest> requests = window_faults::ShellRequests();
        ASSERT_EQ(requests.size(), 1u);
        const window_faults::ShellRequest &r = requests[0];
        EXPECT_EQ(r.cbSize, sizeof(SHELLEXECUTEINFOW));
        EXPECT_EQ(r.fMask, static_cast<ULONG>(SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI));
        EXPECT_EQ(r.fMask, 0x440u);
        EXPECT_EQ(r.hwnd, window) << "the prompt is owned by the installer window";
        EXPECT_EQ(r.verb, L"runas");
        EXPECT_FALSE(r.directorySet);
        EXPECT_EQ(r.nShow, SW_SHOWNORMAL);
        EXPECT_TRUE(r.otherFieldsZero);
        if (row.update) {
            // The host's own exe by its full path, with the private argument, the item and the package quoted.
            EXPECT_EQ(r.file, OwnExe());
            EXPECT_EQ(r.parameters, L"--velvaro-private-elevated-update ServicingStackUpdateX64 \"" + package + L"\"");
            EXPECT_NE(package.find(L' '), std::wstring::npos);
        } else {
            EXPECT_EQ(r.file, package);
            EXPECT_FALSE(r.parametersSet);
        }
        // While the shell starts the installer, nobody can write, rename or delete the verified package.
        EXPECT_FALSE(atStart.written);
        EXPECT_FALSE(atStart.renamed);
        EXPECT_FALSE(atStart.deleted);
        EXPECT_TRUE(bench::FileExists(package));
        // And afterwards the window holds it no more: the same attempts succeed (the presence of each is seen).
        Tampering after = TryToTamper(package);
        EXPECT_TRUE(after.written && after.renamed && after.deleted);
    }
}

TEST_F(WindowBoundaryTest, ThePackageStaysLockedUntilTheInstallerHasEnded)
{
    std::wstring package = Place(Sha2UpdateX64.fileName, true);
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"window-boundary-release");
    ASSERT_NE(release, nullptr);
    std::wstring marker = dir_ + L"\\ran.txt";
    bench::SetStubBehaviour(0, marker, L"window-boundary-release");
    // The shell's start succeeds and hands back the process of an installer that runs until the test releases it.
    window_faults::OnShellExecuteEx([&](SHELLEXECUTEINFOW *request) {
        bench::Child installer = bench::StartChild(stub_, bench::CommandLineFor(stub_, L""));
        if (!installer.started) {
            return FALSE;
        }
        CloseHandle(installer.thread);
        request->hProcess = installer.process;  // the window under test closes it
        return TRUE;
    });
    WindowRun run(&Sha2UpdateX64);
    HWND window = bench::FindInstallerWindow();
    ASSERT_NE(window, nullptr);
    bench::Click(window, IDC_ACTION);
    ASSERT_TRUE(bench::WaitForState(window, [&](const WindowState &s) {
        return s.status.text == kInstalling && bench::FileExists(marker);
    })) << Shown(ReadWindow(window));
    Sleep(200);  // well into the installer's run, not only at its start
    Tampering during = TryToTamper(package);
    EXPECT_FALSE(during.written);
    EXPECT_FALSE(during.renamed);
    EXPECT_FALSE(during.deleted);

    SetEvent(release);
    DWORD result = 1;
    ASSERT_TRUE(run.Wait(kEndMs, &result));
    EXPECT_EQ(result, 0u);
    Tampering after = TryToTamper(package);
    EXPECT_TRUE(after.written && after.renamed && after.deleted);
    CloseHandle(release);
}

// A package that changed after the window verified it is not installed, and installing again could never help: the
// window goes back to offering the download, with the text of a download that failed its verification.
TEST_F(WindowBoundaryTest, APackageThatNoLongerVerifiesOffersTheDownloadAgain)
{
    struct Row {
        const char *label;
        bool update;
        bool remove;  // gone altogether, rather than one byte changed
    } rows[] = {{"update changed", true, false}, {"installer changed", false, false}, {"installer gone", false, true}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        window_faults::Reset();
        std::wstring package = Place(row.update ? Sha2UpdateX86.fileName : L"ndp48-test.exe", row.update);
        bench::TestItem local(bench::PackageOfFile(package), L"ndp48-test.exe", false);
        const PrerequisiteItem *item = row.update ? &Sha2UpdateX86 : local.get();
        WindowRun run(item);
        HWND window = bench::FindInstallerWindow();
        ASSERT_NE(window, nullptr);
        ASSERT_EQ(ReadWindow(window).status.text, kReadyFound);
        if (row.remove) {
            ASSERT_TRUE(DeleteFileW(package.c_str()));
        } else {
            std::string bytes;
            ASSERT_TRUE(bench::ReadBytes(package, &bytes));
            bytes.back() = static_cast<char>(bytes.back() ^ 0x5A);
            ASSERT_TRUE(bench::WriteBytes(package, bytes.data(), bytes.size()));
        }
        bench::Click(window, IDC_ACTION);
        EXPECT_TRUE(bench::WaitForState(window, [](const WindowState &s) {
            return bench::state::DownloadFailed(s, std::wstring(kNotVerified) + kRetrySuffix);
        })) << Shown(ReadWindow(window));
        EXPECT_TRUE(window_faults::ShellRequests().empty()) << "nothing was started";
        ASSERT_EQ(static_cast<DWORD>(ERROR_CANCELLED), bench::CloseByButton(window, run, kEndMs));
    }
}

TEST_F(WindowBoundaryTest, TheWebPageButtonOpensTheItemsPageAndChangesNothingElse)
{
    std::wstring package = Place(L"ndp48-test.exe", false);
    bench::TestItem item(bench::PackageOfFile(package), L"ndp48-test.exe", false);
    window_faults::OnShellExecuteEx([](SHELLEXECUTEINFOW *) {
        SetLastError(ERROR_CANCELLED);
        return FALSE;
    });
    WindowRun run(item.get());
    HWND window = bench::FindInstallerWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(ReadWindow(window).webPage.visible);
    bench::Click(window, IDC_ACTION);
    ASSERT_TRUE(bench::WaitForState(window, [](const WindowState &s) { return s.webPage.visible; }));
    WindowState before = ReadWindow(window);
    EXPECT_TRUE(window_faults::PageRequests().empty());
    bench::Click(window, IDC_WEBPAGE);
    WindowState after = ReadWindow(window);
    EXPECT_EQ(Shown(after), Shown(before));
    EXPECT_EQ(after.status.text, before.status.text);
    std::vector<window_faults::PageRequest> pages = window_faults::PageRequests();
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].hwnd, nullptr);
    EXPECT_EQ(pages[0].verb, L"open");
    EXPECT_EQ(pages[0].file, L"https://localhost/info-page");
    EXPECT_TRUE(pages[0].parametersNull);
    EXPECT_TRUE(pages[0].directoryNull);
    EXPECT_EQ(pages[0].show, SW_SHOWNORMAL);
    EXPECT_EQ(window_faults::ShellRequests().size(), 1u);  // no installation was started by it
    ASSERT_EQ(static_cast<DWORD>(ERROR_CANCELLED), bench::CloseByButton(window, run, kEndMs));
}

TEST_F(WindowBoundaryTest, AWindowThatCannotBeCreatedIsANoticeAndResult2)
{
    bench::TestItem item(bench::PackageOfFile(stub_), L"ndp48-test.exe", false);
    window_faults::FailWindowOfClass(kClass);
    bench::NoticeWatcher watcher;
    DWORD result = 0;
    {
        WindowRun run(item.get());
        ASSERT_TRUE(run.Wait(kEndMs, &result));
    }
    EXPECT_EQ(result, 2u);
    std::vector<bench::SeenNotice> seen = watcher.Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].text, kNoWindow);

    // The class stays registered: the next window of the process shows normally.
    WindowRun next(item.get());
    HWND window = bench::FindInstallerWindow();
    ASSERT_NE(window, nullptr);
    bench::Click(window, IDC_CLOSE);
    ASSERT_TRUE(next.Wait(kEndMs, &result));
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_CANCELLED));
}

TEST_F(WindowBoundaryTest, AWorkerThatCannotBeCreatedLeavesTheRetry)
{
    // The download thread: a failed download with its own text, the timer stopped, and a retry that works.
    {
        bench::TestItem item(bench::PackageServed(L"setup.exe"), L"bench.exe", false,
                             bench::Served().Http(L"ok/setup.exe"));
        window_faults::FailThreadsOf(DownloadThreadProc);
        WindowRun run(item.get());
        HWND window = bench::FindInstallerWindow();
        ASSERT_NE(window, nullptr);
        bench::Click(window, IDC_ACTION);
        const std::wstring failed = std::wstring(kNoDownloadThread) + kRetrySuffix;
        EXPECT_TRUE(bench::WaitForState(window, [&](const WindowState &s) {
            return bench::state::DownloadFailed(s, failed) && s.barPosition == 0;
        })) << Shown(ReadWindow(window));
        Sleep(500);  // no timer tick replaces the text
        EXPECT_EQ(ReadWindow(window).status.text, failed);
        window_faults::AllowThreads();
        bench::Click(window, IDC_ACTION);
        EXPECT_TRUE(bench::WaitForState(window, [](const WindowState &s) {
            return s.status.text == kDownloaded && s.barPosition == 1000;
        })) << Shown(ReadWindow(window));
        bench::Click(window, IDC_CLOSE);
        DWORD result = 0;
        ASSERT_TRUE(run.Wait(kEndMs, &result));
    }
    // The installer thread: "无法启动安装程序。" with the retry controls, and a retry that installs.
    {
        std::wstring package = Place(L"ndp48-test.exe", false);
        bench::TestItem item(bench::PackageOfFile(package), L"ndp48-test.exe", false);
        bench::SetStubBehaviour(3010);
        window_faults::FailThreadsOf(InstallerThreadProc);
        WindowRun run(item.get());
        HWND window = bench::FindInstallerWindow();
        ASSERT_NE(window, nullptr);
        bench::Click(window, IDC_ACTION);
        WindowState s = ReadWindow(window);
        EXPECT_TRUE(s.status.text == kNoInstallerThread && s.action.text == kInstall && s.action.enabled &&
                    s.close.text == kClose && s.close.enabled && s.webPage.visible)
            << Shown(s);
        window_faults::AllowThreads();
        bench::Click(window, IDC_ACTION);
        EXPECT_TRUE(bench::WaitForState(window, [](const WindowState &w) { return !w.exists; }, kEndMs));
        DWORD result = 0;
        ASSERT_TRUE(run.Wait(kEndMs, &result));
        EXPECT_EQ(result, 3010u);
    }
}

// The window destroyed from outside (here by a thread timer of its own thread) at the moment the download engine
// takes its fallback and sets the status note from the download thread: a wait that does not deliver sent messages
// would never end.
HANDLE g_destroyNow = nullptr;
HANDLE g_destroying = nullptr;
HWND g_window = nullptr;
HHOOK g_noteHook = nullptr;
bool g_noteWhileDestroying = false;
void CALLBACK DestroyFromOutside(HWND, UINT, UINT_PTR timer, DWORD)
{
    if (WaitForSingleObject(g_destroyNow, 0) == WAIT_OBJECT_0) {
        KillTimer(nullptr, timer);
        SetEvent(g_destroying);
        DestroyWindow(g_window);
    }
}
LRESULT CALLBACK WatchNote(int code, WPARAM wParam, LPARAM lParam)
{
    const CWPSTRUCT *call = reinterpret_cast<const CWPSTRUCT *>(lParam);
    if (code == HC_ACTION && call->message == WM_SETTEXT && call->lParam != 0 &&
        lstrcmpW(reinterpret_cast<const wchar_t *>(call->lParam), bench::text::kFallbackNote) == 0 &&
        WaitForSingleObject(g_destroying, 0) == WAIT_OBJECT_0) {
        g_noteWhileDestroying = true;
    }
    return CallNextHookEx(g_noteHook, code, wParam, lParam);
}

TEST_F(WindowBoundaryTest, DestroyingTheWindowWhileTheEngineSetsItsNoteDoesNotDeadlock)
{
    const bench::DownloadServer &server = bench::Served();
    ASSERT_TRUE(server.loaded);
    bench::TestItem item(bench::PackageServed(L"setup.exe"), L"bench.exe", false,
                         server.Https(L"ok/setup.exe"),
                         L"http://127.0.0.1:" + std::to_wstring(server.closedPort) + L"/ok/setup.exe");
    g_destroyNow = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_destroying = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_noteWhileDestroying = false;
    faults::Fail(faults::kSend, 1, ERROR_WINHTTP_SECURE_FAILURE);
    faults::BeforeFailure([] {
        SetEvent(g_destroyNow);
        WaitForSingleObject(g_destroying, 10000);
    });
    WindowRun run(item.get(), [] {
        SetTimer(nullptr, 0, 10, DestroyFromOutside);
        g_noteHook = SetWindowsHookExW(WH_CALLWNDPROC, WatchNote, nullptr, GetCurrentThreadId());
    });
    g_window = bench::FindInstallerWindow();
    ASSERT_NE(g_window, nullptr);
    bench::Click(g_window, IDC_ACTION);
    DWORD result = 0;
    bool ended = run.Wait(kEndMs, &result);
    if (!ended) {
        fprintf(stderr, "the window's destroy wait deadlocked with the engine's status note\n");
        fflush(stderr);
        ADD_FAILURE() << "deadlock";
        ExitProcess(4);
    }
    UnhookWindowsHookEx(g_noteHook);
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_TRUE(g_noteWhileDestroying) << "the note was not set while the window was being destroyed";
    // The fallback's attempt ran too, up to its request, where it found the window's cancel and sent nothing.
    EXPECT_EQ(faults::Count(faults::kOpenRequest), 2);
    EXPECT_EQ(faults::Count(faults::kSend), 1);
    CloseHandle(g_destroyNow);
    CloseHandle(g_destroying);
}

}  // namespace
