// The UI driver: texts are read with WM_GETTEXT, which the system marshals across processes, and clicks are posted
// as the button's own WM_COMMAND so that a busy window is never waited on.
#include "support/installer_window_driver.h"

#include <commctrl.h>

namespace bench {

const wchar_t kInstallerWindowClass[] = L"RuduDovaRuntimeDownload";

namespace {

const int kIdProgress = 201;
const int kIdStatus = 202;
const int kIdAction = 203;
const int kIdWebPage = 204;
const int kIdClose = 205;

std::wstring TextOf(HWND window)
{
    wchar_t text[1024] = L"";
    DWORD_PTR copied = 0;
    if (window == nullptr ||
        !SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000, &copied)) {
        return L"(unreadable)";
    }
    return std::wstring(text, copied);
}

}  // namespace

HWND WaitForInstallerWindow(DWORD timeoutMs, HWND other)
{
    HWND found = nullptr;
    WaitFor(
        [&] {
            found = nullptr;
            HWND window = nullptr;
            while ((window = FindWindowExW(nullptr, window, kInstallerWindowClass, nullptr)) != nullptr) {
                if (window != other && IsWindowVisible(window)) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return found;
}

bool AnyInstallerWindow()
{
    return FindWindowExW(nullptr, nullptr, kInstallerWindowClass, nullptr) != nullptr;
}

InstallerWindowView ReadInstallerWindow(HWND window)
{
    InstallerWindowView view;
    view.title = TextOf(window);
    view.intro = TextOf(GetDlgItem(window, 0));
    view.status = TextOf(GetDlgItem(window, kIdStatus));
    view.action = TextOf(GetDlgItem(window, kIdAction));
    view.actionEnabled = IsWindowEnabled(GetDlgItem(window, kIdAction)) != FALSE;
    view.close = TextOf(GetDlgItem(window, kIdClose));
    view.closeEnabled = IsWindowEnabled(GetDlgItem(window, kIdClose)) != FALSE;
    view.webPageVisible = IsWindowVisible(GetDlgItem(window, kIdWebPage)) != FALSE;
    DWORD_PTR position = 0;
    SendMessageTimeoutW(GetDlgItem(window, kIdProgress), PBM_GETPOS, 0, 0, SMTO_BLOCK, 5000, &position);
    view.progress = static_cast<int>(position);
    return view;
}

void ClickControl(HWND window, int id)
{
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

bool WaitFor(const std::function<bool()> &done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (done()) {
            return true;
        }
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(20);
    }
}

bool WaitUntilGone(HWND window, DWORD timeoutMs)
{
    return WaitFor([&] { return !IsWindow(window); }, timeoutMs);
}

}  // namespace bench
