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
#include "support/expected_text.h"
#include "support/installer_driver.h"

namespace {

bool ParseDigest(const wchar_t *hex, BYTE digest[32])
{
    if (wcslen(hex) != 64) {
        return false;
    }
    for (int i = 0; i < 32; ++i) {
        wchar_t pair[3] = {hex[2 * i], hex[2 * i + 1], 0};
        digest[i] = static_cast<BYTE>(wcstoul(pair, nullptr, 16));
    }
    return true;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to, LARGE_INTEGER frequency)
{
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

}  // namespace

int wmain(int argc, wchar_t **argv)
{
    if (argc < 5) {
        fwprintf(stderr, L"usage: installer_window_benchmark URL SIZE SHA256 TEMP_FOLDER\n");
        return 2;
    }
    BYTE digest[32];
    if (!ParseDigest(argv[3], digest)) {
        fwprintf(stderr, L"bad digest\n");
        return 2;
    }
    PrerequisiteItem item = {};
    item.displayName = L"Microsoft .NET Framework 4.8";
    item.fileName = L"velvaro-window-benchmark.exe";
    item.primaryUrl = argv[1];
    item.infoPageUrl = L"https://localhost/";
    item.expectedSize = _wcstoui64(argv[2], nullptr, 10);
    item.sha256 = digest;
    CreateDirectoryW(argv[4], nullptr);
    bench::TempFolder temp(argv[4]);
    DeleteFileW(temp.PackagePath(item.fileName).c_str());

    bench::WindowRun run(&item);
    HWND window = bench::FindInstallerWindow();
    if (window == nullptr) {
        fwprintf(stderr, L"no window\n");
        return 1;
    }
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    bench::Click(window, IDC_ACTION);
    QueryPerformanceCounter(&start);
    std::vector<double> waits;
    bool done = false;
    while (!done) {
        LARGE_INTEGER before, after;
        QueryPerformanceCounter(&before);
        DWORD_PTR answer = 0;
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer);
        QueryPerformanceCounter(&after);
        waits.push_back(Seconds(before, after, frequency) * 1000.0);
        done = IsWindowEnabled(GetDlgItem(window, IDC_ACTION)) != FALSE;
        if (Seconds(start, after, frequency) > 600) {
            break;
        }
        Sleep(10);
    }
    QueryPerformanceCounter(&end);
    bench::WindowState state = bench::ReadWindow(window);
    PostMessageW(window, WM_CLOSE, 0, 0);
    DWORD result = 0;
    run.Wait(30000, &result);
    DeleteFileW(temp.PackagePath(item.fileName).c_str());

    std::vector<double> sorted = waits;
    std::sort(sorted.begin(), sorted.end());
    size_t over = static_cast<size_t>(std::count_if(waits.begin(), waits.end(), [](double w) { return w > 50.0; }));
    printf("outcome=%s\n", state.status.text == bench::text::kDownloaded ? "downloaded" : "failed");
    printf("download_seconds=%.2f\n", Seconds(start, end, frequency));
    printf("probes=%zu\n", waits.size());
    printf("longest_wait_ms=%.2f\n", sorted.empty() ? 0.0 : sorted.back());
    printf("p99_wait_ms=%.2f\n", sorted.empty() ? 0.0 : sorted[sorted.size() * 99 / 100]);
    printf("median_wait_ms=%.3f\n", sorted.empty() ? 0.0 : sorted[sorted.size() / 2]);
    printf("waits_over_50ms=%zu\n", over);
    return 0;
}
