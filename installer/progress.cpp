// The progress display of a running download. It reads the two counters with one 64-bit interlocked operation each,
// so a 32-bit build never shows half of an update; the pair itself may be one update apart, which the next tick
// corrects.
#include "installer/progress.h"

#include <commctrl.h>

#include "common/bounded_text.h"

namespace {

const size_t kMegabyteChars = 32;
const size_t kStatusChars = 160;
const wchar_t kMegabyteFormat[] = L"%I64u.%I64u";
const wchar_t kShortFormat[] = L"正在下载 %s MB…";
const wchar_t kFullFormat[] = L"正在下载 %s / %s MB（%d%%）";

}  // namespace

void FormatMegabytes(wchar_t *buffer, ULONGLONG bytes)
{
    // The product wraps modulo 2^64 like the rest of the unsigned arithmetic; no package comes near it.
    ULONGLONG tenths = (bytes * 10) >> 20;
    FormatBounded(buffer, kMegabyteChars, kMegabyteFormat, tenths / 10, tenths % 10);
}

void RefreshDownloadProgress(HWND window, InstallerContext *context)
{
    ULONGLONG received = LoadCounter(&context->bytesReceived);
    ULONGLONG total = LoadCounter(&context->bytesTotal);
    HWND bar = GetDlgItem(window, IDC_PROGRESS);
    HWND status = GetDlgItem(window, IDC_STATUS);

    wchar_t receivedText[kMegabyteChars];
    wchar_t totalText[kMegabyteChars];
    wchar_t text[kStatusChars];
    FormatMegabytes(receivedText, received);
    if (total == 0) {
        FormatBounded(text, kStatusChars, kShortFormat, receivedText);
    } else {
        FormatMegabytes(totalText, total);
        ULONGLONG position = (received * kProgressBarRange) / total;
        ULONGLONG percent = (received * 100) / total;
        SendMessageW(bar, PBM_SETPOS, static_cast<WPARAM>(static_cast<DWORD>(position)), 0);
        FormatBounded(text, kStatusChars, kFullFormat, receivedText, totalText,
                      static_cast<int>(static_cast<DWORD>(percent)));
    }
    SetWindowTextW(status, text);
}
