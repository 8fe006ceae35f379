// The progress display on a real progress bar and status line: the megabyte texts with their truncated decimal, the
// bar's thousandths and the percent for the examples of a 121,346,568-byte package, the short form while no total is
// known (bar untouched), and a total that is not reached.
#include <gtest/gtest.h>

#include <commctrl.h>

#include <string>

#include "installer/installer_context.h"
#include "installer/progress.h"

namespace {

// A top-level window with the two controls the display addresses by id, as the installer window has them.
class Display {
public:
    Display()
    {
        INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
        InitCommonControlsEx(&controls);
        window_ = CreateWindowExW(0, L"STATIC", L"progress", WS_OVERLAPPED, 0, 0, 470, 248, nullptr, nullptr,
                                  nullptr, nullptr);
        bar_ = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 18, 84, 424, 22, window_,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_PROGRESS)), nullptr, nullptr);
        status_ = CreateWindowExW(0, L"STATIC", L"(untouched)", WS_CHILD | WS_VISIBLE, 18, 116, 424, 22, window_,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS)), nullptr, nullptr);
        SendMessageW(bar_, PBM_SETRANGE32, 0, 1000);
    }
    ~Display() { DestroyWindow(window_); }
    bool ok() const { return window_ != nullptr && bar_ != nullptr && status_ != nullptr; }
    HWND window() const { return window_; }
    int Position() const { return static_cast<int>(SendMessageW(bar_, PBM_GETPOS, 0, 0)); }
    void SetPosition(int position) { SendMessageW(bar_, PBM_SETPOS, static_cast<WPARAM>(position), 0); }
    std::wstring Status() const
    {
        wchar_t text[256] = {};
        GetWindowTextW(status_, text, ARRAYSIZE(text));
        return text;
    }

private:
    HWND window_;
    HWND bar_;
    HWND status_;
};

std::wstring Megabytes(ULONGLONG bytes)
{
    wchar_t text[32];
    wmemset(text, L'#', 32);
    FormatMegabytes(text, bytes);
    return text;
}

TEST(FormatMegabytes, OneTruncatedDecimal)
{
    struct Row {
        ULONGLONG bytes;
        const wchar_t *text;
    } rows[] = {
        {0, L"0.0"},
        {1000000, L"0.9"},
        {1048575, L"0.9"},
        {1048576, L"1.0"},
        {1572863, L"1.4"},
        {100000000, L"95.3"},
        {121346568, L"115.7"},
        // Sizes beyond 32 bits keep all their digits.
        {5ull << 30, L"5120.0"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.bytes);
        EXPECT_EQ(Megabytes(row.bytes), row.text);
    }
}

TEST(RefreshDownloadProgress, ExamplesOnARealBarAndStatusLine)
{
    Display display;
    ASSERT_TRUE(display.ok());
    struct Row {
        ULONGLONG received;
        ULONGLONG total;
        int position;  // -1: the bar is not touched
        const wchar_t *status;
    } rows[] = {
        {0, 0, -1, L"正在下载 0.0 MB…"},
        {1000000, 121346568, 8, L"正在下载 0.9 / 115.7 MB（0%）"},
        {10000000, 121346568, 82, L"正在下载 9.5 / 115.7 MB（8%）"},
        {100000000, 121346568, 824, L"正在下载 95.3 / 115.7 MB（82%）"},
        {121346568, 121346568, 1000, L"正在下载 115.7 / 115.7 MB（100%）"},
        // No total from the server: the short form throughout, the bar left where it was.
        {1572863, 0, -1, L"正在下载 1.4 MB…"},
        // A total that is not reached: the download ended short of it, and the display says so as it is.
        {60673283, 121346568, 499, L"正在下载 57.8 / 115.7 MB（49%）"},
        // More than announced: not clamped by the display (150 %); the bar control itself stops at its range.
        {3145728, 2097152, 1000, L"正在下载 3.0 / 2.0 MB（150%）"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.received);
        SCOPED_TRACE(row.total);
        InstallerContext context;
        InitInstallerContext(&context);
        StoreCounter(&context.bytesReceived, row.received);
        StoreCounter(&context.bytesTotal, row.total);
        display.SetPosition(123);
        RefreshDownloadProgress(display.window(), &context);
        EXPECT_EQ(display.Position(), row.position < 0 ? 123 : row.position);
        EXPECT_EQ(display.Status(), row.status);
    }
}

}  // namespace
