// Not a test: scripts/screenshots.sh runs it under Xvfb to picture the real installer window in each of its states
// and every notice of the host. It drives the window as the tests do (the bench's loopback server for downloads,
// stand-ins to hold a state still while it is pictured) and, for each picture, writes NAME.request with the screen
// rectangle into the folder given as its argument and waits for the script's NAME.done.
#include <windows.h>

#include <shellapi.h>

#include <cstdio>
#include <string>

#include "common/notice.h"
#include "installer/installer_context.h"
#include "installer/installer_window.h"
#include "installer/runner.h"
#include "prereq/catalog.h"
#include "support/bench.h"
#include "support/download_bench.h"
#include "support/download_faults.h"
#include "support/expected_text.h"
#include "support/installer_driver.h"
#include "support/test_item.h"
#include "support/wait_for.h"
#include "support/window_faults.h"

namespace {

std::wstring g_shots;

void Shot(const wchar_t *name, HWND window)
{
    Sleep(400);  // let the window paint
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    Sleep(100);
    RECT rect = {};
    GetWindowRect(window, &rect);
    std::wstring request = g_shots + L"\\" + name + L".request";
    std::wstring done = g_shots + L"\\" + name + L".done";
    char text[64];
    int length = snprintf(text, sizeof(text), "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left,
                          rect.bottom - rect.top);
    bench::WriteBytes(request + L".tmp", text, static_cast<size_t>(length));
    MoveFileExW((request + L".tmp").c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING);
    bench::WaitFor([&] { return bench::FileExists(done); }, 30000);
    DeleteFileW(done.c_str());
    fwprintf(stderr, L"pictured %ls\n", name);
}

// The bench server's slow package at one of its routes ("ok", "stall-body", …).
std::wstring SlowPackageAt(const wchar_t *route)
{
    return bench::Served().Http(std::wstring(route) + L"/slow.exe");
}

HWND WaitFor(HWND window, const std::function<bool(const bench::WindowState &)> &condition)
{
    if (!bench::WaitForState(window, condition, 30000)) {
        fwprintf(stderr, L"state not reached: %hs\n", bench::Shown(bench::ReadWindow(window)).c_str());
    }
    return window;
}

void Finish(bench::WindowRun &run, HWND window)
{
    PostMessageW(window, WM_CLOSE, 0, 0);
    DWORD result = 0;
    run.Wait(30000, &result);
}

HANDLE g_shotTaken = nullptr;

void PictureDownloadStates(const std::wstring &temp)
{
    bench::TempFolder folder(temp);
    // The catalogue's .NET Framework 4.8 entry as the merchant sees it, with the bench server's package.
    bench::TestItem item(bench::PackageServed(L"slow.exe"), NetFramework48.fileName, false, SlowPackageAt(L"ok"));
    item.ShowAs(NetFramework48);
    faults::Reset();
    // The 61st read is held until the request is closed: the download stands still part way, the timer showing it.
    faults::BlockUntilClosed(faults::kRead, 61, ERROR_WINHTTP_CONNECTION_ERROR);
    g_shotTaken = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    faults::BeforeFailure([] { WaitForSingleObject(g_shotTaken, 30000); });
    {
        bench::WindowRun run(item.get());
        HWND window = bench::FindInstallerWindow();
        Shot(L"01-needs-download", window);
        bench::Click(window, IDC_ACTION);
        WaitFor(window, [](const bench::WindowState &s) { return s.barPosition > 0 && faults::Blocked(); });
        Sleep(500);  // a timer tick or two, so that the pictured counters are the held ones
        Shot(L"02-downloading", window);
        bench::Click(window, IDC_CLOSE);
        Shot(L"03-cancelling", window);
        SetEvent(g_shotTaken);
        DWORD result = 0;
        run.Wait(30000, &result);
    }
    faults::Reset();

    // Half the package, then the end: the failure keeps the bar where it stood; the retry completes.
    item.SetPrimaryUrl(SlowPackageAt(L"stall-body"));
    {
        bench::WindowRun run(item.get());
        HWND window = bench::FindInstallerWindow();
        bench::Click(window, IDC_ACTION);
        WaitFor(window, [](const bench::WindowState &s) { return s.action.text == bench::text::kRetryDownload && s.action.enabled; });
        Shot(L"04-download-failed", window);
        item.SetPrimaryUrl(SlowPackageAt(L"ok"));
        bench::Click(window, IDC_ACTION);
        WaitFor(window, [](const bench::WindowState &s) { return s.action.text == bench::text::kInstall && s.action.enabled; });
        Shot(L"05-package-ready-downloaded", window);

        // The elevation prompt is held open until pictured, and then refused.
        window_faults::OnShellExecuteEx([window](SHELLEXECUTEINFOW *) {
            Shot(L"06-installing", window);
            SetLastError(ERROR_CANCELLED);
            return FALSE;
        });
        bench::Click(window, IDC_ACTION);
        WaitFor(window, [](const bench::WindowState &s) { return s.webPage.visible && s.action.enabled; });
        Shot(L"07-install-failed", window);
        window_faults::Reset();
        Finish(run, window);
    }
    // A later run finds the verified package.
    {
        bench::WindowRun run(item.get());
        HWND window = bench::FindInstallerWindow();
        Shot(L"08-package-ready-found", window);
        window_faults::FailThreadsOf(InstallerThreadProc);
        bench::Click(window, IDC_ACTION);
        Shot(L"09-installer-not-started", window);
        window_faults::Reset();
        Finish(run, window);
    }
}

// A notice shown on a thread of its own, pictured from here, then answered.
HWND FindNotice()
{
    HWND box = nullptr;
    bool shown = bench::WaitFor(
        [&] {
            box = FindWindowW(L"#32770", kNoticeCaption);
            return box != nullptr && IsWindowVisible(box);
        },
        15000);
    return shown ? box : nullptr;
}

DWORD WINAPI RunShow(void *show)
{
    (*static_cast<std::function<void()> *>(show))();
    return 0;
}

void PictureNotice(const wchar_t *name, const std::function<void()> &show)
{
    std::function<void()> job = show;
    HANDLE thread = CreateThread(nullptr, 0, RunShow, &job, 0, nullptr);
    HWND box = FindNotice();
    if (box != nullptr) {
        Shot(name, box);
        PostMessageW(box, WM_CLOSE, 0, 0);
    }
    WaitForSingleObject(thread, 30000);
    CloseHandle(thread);
}

void PictureNotices(const std::wstring &temp)
{
    // The installer window's own two notices, from RunInstallerWindow itself.
    PictureNotice(L"10-notice-no-package-folder", [] { RunInstallerWindow(nullptr); });
    PictureNotice(L"11-notice-no-window", [temp] {
        bench::TempFolder folder(temp);
        window_faults::FailWindowOfClass(bench::text::kClass);
        RunInstallerWindow(&NetFramework48);
    });
    // The host's other notices, with their texts and styles as the host shows them.
    const std::wstring startFailed = bench::text::StartFailed(ERROR_ACCESS_DENIED);
    struct Row {
        const wchar_t *name;
        const wchar_t *text;
        UINT style;
    } rows[] = {
        {L"12-notice-windows-too-old", bench::text::kTooOld, kNoticeErrorStyle},
        {L"13-notice-service-pack", bench::text::kNeedsServicePack, kNoticeServicePackStyle},
        {L"14-notice-payload-not-written", bench::text::kNoRunFiles, kNoticeErrorStyle},
        {L"15-notice-payload-not-started", startFailed.c_str(), kNoticeErrorStyle},
        {L"16-notice-restart", bench::text::kRestart, kNoticeRestartStyle},
    };
    for (const Row &row : rows) {
        PictureNotice(row.name, [row] { ShowNotice(row.text, row.style); });
    }
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc < 3) {
        fwprintf(stderr, L"usage: installer_window_gallery SHOTS_FOLDER TEMP_FOLDER\n");
        return 2;
    }
    g_shots = argv[1];
    std::wstring temp = argv[2];
    if (!bench::Served().loaded) {
        fwprintf(stderr, L"the download bench server is not running (DOWNLOAD_BENCH_INFO)\n");
        return 2;
    }
    PictureDownloadStates(temp);
    PictureNotices(temp);
    return 0;
}
