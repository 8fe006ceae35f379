// The installer runner for real: the shell's "runas" start of a test installer whose exit code the test chooses, an
// update item the elevated step would not know, a package removed or replaced after it was verified. The runner runs on a thread of
// its own, as the window starts it, and reports to a real window of this thread.
#include <gtest/gtest.h>

#include <string>

#include "installer/installer_context.h"
#include "installer/runner.h"
#include "support/bench.h"
#include "support/installer_driver.h"
#include "support/test_item.h"
#include "support/wait_for.h"
#include "support/wine_deviation.h"

namespace {

struct RunOutcome {
    bool posted;  // WM_APP_INSTALL_DONE arrived within the time limit
    DWORD exitCode;
    bool sawDialog;  // any dialog box of this process appeared meanwhile
    LONG packageReady;  // as the runner left it (the window set it to 1 before starting the runner)
};

BOOL CALLBACK FindDialog(HWND window, LPARAM found)
{
    wchar_t name[16] = {};
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() && GetClassNameW(window, name, ARRAYSIZE(name)) > 0 &&
        lstrcmpW(name, L"#32770") == 0) {
        *reinterpret_cast<bool *>(found) = true;
    }
    return TRUE;
}

// InstallerThreadProc on a new thread, posting to a message-only window of this thread.
RunOutcome RunInstaller(const PrerequisiteItem *item, const std::wstring &packagePath, DWORD timeoutMs = 60000)
{
    RunOutcome outcome = {false, 0, false, -1};
    HWND window = CreateWindowExW(0, L"STATIC", nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    EXPECT_NE(window, nullptr);
    InstallerContext context;
    InitInstallerContext(&context);
    context.hwnd = window;
    context.item = item;
    StoreFlag(&context.packageReady, 1);
    lstrcpynW(context.packagePath, packagePath.c_str(), MAX_PATH);
    HANDLE thread = CreateThread(nullptr, 0, InstallerThreadProc, &context, 0, nullptr);
    EXPECT_NE(thread, nullptr);
    // This thread keeps delivering its messages while it waits, as the window's thread would.
    bench::WaitFor(
        [&] {
            MSG message;
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
                if (message.hwnd == window && message.message == WM_APP_INSTALL_DONE) {
                    outcome.posted = true;
                }
                DispatchMessageW(&message);
            }
            EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&outcome.sawDialog));
            return outcome.posted;
        },
        timeoutMs);
    if (outcome.posted) {
        EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
        outcome.exitCode = LoadExitCode(&context);
        outcome.packageReady = LoadFlag(&context.packageReady);
    } else {
        // The runner is still waiting (for a dialog, or an installer that never ends): the context must outlive it.
        fprintf(stderr, "runner did not report; leaving\n");
        ExitProcess(3);
    }
    CloseHandle(thread);
    DestroyWindow(window);
    return outcome;
}

class RunnerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = bench::ScratchDir(L"runner test dir");  // a blank in the path, as in many user names
        package_ = dir_ + L"\\setup.exe";
        marker_ = dir_ + L"\\ran.txt";
        ASSERT_TRUE(CopyFileW(bench::BuiltExe(L"installer_stub.exe").c_str(), package_.c_str(), FALSE));
    }
    void TearDown() override
    {
        bench::ClearStubBehaviour();
        bench::RemoveTree(dir_);
    }

    std::wstring dir_;
    std::wstring package_;
    std::wstring marker_;
};

TEST_F(RunnerTest, TheInstallersExitCodeComesBackInAll32Bits)
{
    bench::TestItem item(bench::PackageOfFile(package_), L"setup.exe", false);
    ASSERT_TRUE(item.valid());
    const DWORD codes[] = {0, 1, 3010, 1641, 0x240006, 0xFFFFFFFF};
    for (DWORD code : codes) {
        SCOPED_TRACE(code);
        DeleteFileW(marker_.c_str());
        bench::SetStubBehaviour(code, marker_);
        RunOutcome outcome = RunInstaller(item.get(), package_);
        ASSERT_TRUE(outcome.posted);
        EXPECT_EQ(outcome.exitCode, code);
        EXPECT_FALSE(outcome.sawDialog);
        EXPECT_EQ(outcome.packageReady, 1);
        // The package itself ran, with nothing after its own name.
        std::wstring line = bench::ReadUtf16(marker_);
        EXPECT_NE(line.find(L"setup.exe"), std::wstring::npos);
        EXPECT_EQ(line.find(L"/quiet"), std::wstring::npos);
    }
}

// An update is installed by the host's own elevated step, which knows the catalogue's update items by name only: an
// update item that is not one of them is never started, and the package stays ready (it did verify).
TEST_F(RunnerTest, AnUpdateTheCatalogueDoesNotNameIsNeverStarted)
{
    std::wstring update = dir_ + L"\\update.msu";
    const char body[] = "MSCF\0\0\0\0 not really a cabinet";
    ASSERT_TRUE(bench::WriteBytes(update, body, sizeof(body)));
    bench::TestItem item(bench::PackageOfFile(update), L"update.msu", true);
    ASSERT_TRUE(item.valid());

    RunOutcome outcome = RunInstaller(item.get(), update);
    ASSERT_TRUE(outcome.posted);
    EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_FALSE(outcome.sawDialog);
    EXPECT_EQ(outcome.packageReady, 1) << "a verified package is still ready";
}

TEST_F(RunnerTest, APackageRemovedBeforeTheClickIsNotStartedAndNoDialogShows)
{
    bench::TestItem item(bench::PackageOfFile(package_), L"setup.exe", false);
    ASSERT_TRUE(item.valid());
    bench::SetStubBehaviour(0, marker_);
    ASSERT_TRUE(DeleteFileW(package_.c_str()));
    RunOutcome outcome = RunInstaller(item.get(), package_);
    ASSERT_TRUE(outcome.posted);
    EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_FALSE(outcome.sawDialog);
    EXPECT_FALSE(bench::FileExists(marker_));
    EXPECT_EQ(outcome.packageReady, 0) << "the window must offer the download again";
}

TEST_F(RunnerTest, APackageReplacedAfterItWasVerifiedIsNotStarted)
{
    bench::TestItem item(bench::PackageOfFile(package_), L"setup.exe", false);
    ASSERT_TRUE(item.valid());
    // The same program with one byte changed at the end: the same size and signature, and it would still run.
    std::string bytes;
    ASSERT_TRUE(bench::ReadBytes(package_, &bytes));
    bytes.back() = static_cast<char>(bytes.back() ^ 0x5A);
    ASSERT_TRUE(bench::WriteBytes(package_, bytes.data(), bytes.size()));
    bench::SetStubBehaviour(0, marker_);
    RunOutcome outcome = RunInstaller(item.get(), package_);
    ASSERT_TRUE(outcome.posted);
    EXPECT_EQ(outcome.exitCode, static_cast<DWORD>(ERROR_CANCELLED));
    EXPECT_FALSE(bench::FileExists(marker_)) << "the replaced package was started";
    EXPECT_EQ(outcome.packageReady, 0) << "the window must offer the download again";

    // The replaced file does run when started directly: its absence above is the runner's doing.
    bench::ChildResult direct = bench::RunChild(package_, L"\"" + package_ + L"\"", 30000);
    ASSERT_TRUE(direct.started);
    EXPECT_TRUE(bench::FileExists(marker_));
}

}  // namespace
