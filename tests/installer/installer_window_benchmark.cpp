// Not a test: scripts/bench-window.sh runs it to measure how responsive the installer window stays during a real
// loopback download. A probe thread sends WM_NULL to the window every 10 ms (SendMessageTimeout) and times each
// answer; the longest wait is the figure, with the whole download's time for context.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "installer/installer_context.h"
#include "prereq/catalog.h"
#include "support/bench_clock.h"
#include "support/expected_text.h"
#include "support/installer_driver.h"
#include "support/test_item.h"

int wmain(int argc, wchar_t **argv)
{
    if (argc < 5) {
        fwprintf(stderr, L"usage: installer_window_benchmark URL SIZE SHA256 TEMP_FOLDER\n");
        return 2;
    }
    bench::TestItem item(bench::PackageOfDigest(_wcstoui64(argv[2], nullptr, 10), argv[3]),
                         L"velvaro-window-benchmark.exe", false, argv[1]);
    if (!item.valid()) {
        fwprintf(stderr, L"bad digest\n");
        return 2;
    }
    CreateDirectoryW(argv[4], nullptr);
    bench::TempFolder temp(argv[4]);
    DeleteFileW(temp.PackagePath(item.get()->fileName).c_str());

    bench::WindowRun run(item.get());
    HWND window = bench::FindInstallerWindow();
    if (window == nullptr) {
        fwprintf(stderr, L"no window\n");
        return 1;
    }
    bench::Click(window, IDC_ACTION);
    double start = bench::ClockSeconds();
    std::vector<double> waits;
    bool done = false;
    while (!done) {
        double before = bench::ClockSeconds();
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer);
        double after = bench::ClockSeconds();
        waits.push_back((after - before) * 1000.0);
        done = IsWindowEnabled(GetDlgItem(window, IDC_ACTION)) != FALSE;
        if (after - start > 600) {
            break;
        }
        Sleep(10);  // the probe's period
    }
    double end = bench::ClockSeconds();
    bench::WindowState state = bench::ReadWindow(window);
    PostMessageW(window, WM_CLOSE, 0, 0);
    DWORD result = 0;
    run.Wait(30000, &result);
    DeleteFileW(temp.PackagePath(item.get()->fileName).c_str());

    std::vector<double> sorted = waits;
    std::sort(sorted.begin(), sorted.end());
    size_t over = static_cast<size_t>(std::count_if(waits.begin(), waits.end(), [](double w) { return w > 50.0; }));
    printf("outcome=%s\n", state.status.text == bench::text::kDownloaded ? "downloaded" : "failed");
    printf("download_seconds=%.2f\n", end - start);
    printf("probes=%zu\n", waits.size());
    printf("longest_wait_ms=%.2f\n", sorted.empty() ? 0.0 : sorted.back());
    printf("p99_wait_ms=%.2f\n", sorted.empty() ? 0.0 : sorted[sorted.size() * 99 / 100]);
    printf("median_wait_ms=%.3f\n", sorted.empty() ? 0.0 : sorted[sorted.size() / 2]);
    printf("waits_over_50ms=%zu\n", over);
    return 0;
}
