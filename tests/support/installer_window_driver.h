// Drives an installer window of another process as a merchant would: finds it by its class, reads what it shows and
// clicks its buttons.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

namespace bench {

extern const wchar_t kInstallerWindowClass[];  // "RuduDovaRuntimeDownload"

struct InstallerWindowView {
    std::wstring title;
    std::wstring intro;
    std::wstring status;
    std::wstring action;
    bool actionEnabled;
    std::wstring close;
    bool closeEnabled;
    bool webPageVisible;
    int progress;  // PBM_GETPOS
};

// The visible installer window, or null after timeoutMs. other: a window to skip (the one just closed).
HWND WaitForInstallerWindow(DWORD timeoutMs, HWND other = nullptr);
InstallerWindowView ReadInstallerWindow(HWND window);
// Clicks a control of the window (IDC_ACTION, IDC_CLOSE, IDC_WEBPAGE) as the button itself would report it.
void ClickControl(HWND window, int id);
// Polls every 20 ms until done is true or timeoutMs passed; returns done's last answer.
bool WaitFor(const std::function<bool()> &done, DWORD timeoutMs);
// True once the window is gone within timeoutMs.
bool WaitUntilGone(HWND window, DWORD timeoutMs);
// Any visible installer window at all, now.
bool AnyInstallerWindow();

}  // namespace bench
