// The installer window's driver and the records its tests share. See installer_driver.h.
#include "support/installer_driver.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>

#include "installer/installer_context.h"
#include "installer/installer_window.h"
#include "support/expected_text.h"
#include "support/utf8.h"
#include "support/wait_for.h"

namespace bench {

namespace {

ControlState ReadControl(HWND window, int id)
{
    ControlState state = {};
    HWND control = GetDlgItem(window, id);
    if (control == nullptr) {
        return state;
    }
    state.exists = true;
    wchar_t text[512] = {};
    SendMessageTimeoutW(control, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        5000, nullptr);
    state.text = text;
    state.enabled = IsWindowEnabled(control) != FALSE;
    state.visible = IsWindowVisible(control) != FALSE;
    return state;
}

}  // namespace

HWND FindInstallerWindow(DWORD timeoutMs)
{
    HWND window = nullptr;
    bool shown = WaitFor(
        [&] {
            window = FindWindowW(text::kClass, nullptr);
            return window != nullptr && IsWindowVisible(window);
        },
        timeoutMs);
    return shown ? window : nullptr;
}

WindowState ReadWindow(HWND window)
{
    WindowState state = {};
    state.exists = IsWindow(window) != FALSE;
    if (!state.exists) {
        return state;
    }
    wchar_t title[256] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, ARRAYSIZE(title), reinterpret_cast<LPARAM>(title), SMTO_ABORTIFHUNG,
                        5000, nullptr);
    state.title = title;
    // The intro text is the only child with id 0.
    HWND intro = nullptr;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(child) == 0) {
            intro = child;
        }
    }
    if (intro != nullptr) {
        wchar_t text[512] = {};
        GetWindowTextW(intro, text, ARRAYSIZE(text));
        state.intro = {true, text, IsWindowEnabled(intro) != FALSE, IsWindowVisible(intro) != FALSE};
    }
    state.status = ReadControl(window, IDC_STATUS);
    state.action = ReadControl(window, IDC_ACTION);
    state.webPage = ReadControl(window, IDC_WEBPAGE);
    state.close = ReadControl(window, IDC_CLOSE);
    HWND bar = GetDlgItem(window, IDC_PROGRESS);
    DWORD_PTR position = 0;
    DWORD_PTR high = 0;
    SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &position);
    SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 5000, &high);
    state.barPosition = static_cast<int>(position);
    state.barHigh = static_cast<int>(high);
    return state;
}

bool WaitForState(HWND window, const std::function<bool(const WindowState &)> &condition, DWORD timeoutMs,
                  WindowState *seen)
{
    return WaitFor(
        [&] {
            WindowState now = ReadWindow(window);
            if (seen != nullptr) {
                *seen = now;
            }
            return condition(now);
        },
        timeoutMs);
}

void Click(HWND window, int id)
{
    SendMessageW(GetDlgItem(window, id), BM_CLICK, 0, 0);
}

std::string Shown(const WindowState &s)
{
    if (!s.exists) {
        return "(no window)";
    }
    char line[1024];
    snprintf(line, sizeof(line),
             "status '%s' | action '%s' %s%s | web '%s' %s%s | close '%s' %s%s | bar %d/%d",
             Utf8(s.status.text).c_str(), Utf8(s.action.text).c_str(), s.action.enabled ? "on" : "off",
             s.action.visible ? "" : " hidden", Utf8(s.webPage.text).c_str(), s.webPage.enabled ? "on" : "off",
             s.webPage.visible ? "" : " hidden", Utf8(s.close.text).c_str(), s.close.enabled ? "on" : "off",
             s.close.visible ? "" : " hidden", s.barPosition, s.barHigh);
    return line;
}

namespace {

// What WindowRun's destructor asks of a window thread whose window would not close (a thread message, seen by the
// thread's own hook): wParam kDestroyWindows or kEndLoop.
const wchar_t kEndRequestName[] = L"bench.WindowRun.End";
const WPARAM kDestroyWindows = 1;
const WPARAM kEndLoop = 2;

bool IsInstallerWindow(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, ARRAYSIZE(name));
    return lstrcmpW(name, text::kClass) == 0;
}

BOOL CALLBACK DestroyInstallerWindow(HWND window, LPARAM)
{
    if (IsInstallerWindow(window)) {
        DestroyWindow(window);
    }
    return TRUE;
}

BOOL CALLBACK CloseInstallerWindow(HWND window, LPARAM)
{
    if (IsInstallerWindow(window)) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(IDC_CLOSE, BN_CLICKED), 0);
    }
    return TRUE;
}

LRESULT CALLBACK EndOnRequest(int code, WPARAM wParam, LPARAM lParam)
{
    const MSG *message = reinterpret_cast<const MSG *>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->hwnd == nullptr &&
        message->message == RegisterWindowMessageW(kEndRequestName)) {
        if (message->wParam == kDestroyWindows) {
            EnumThreadWindows(GetCurrentThreadId(), DestroyInstallerWindow, 0);
        } else if (message->wParam == kEndLoop) {
            PostQuitMessage(0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

WindowRun::WindowRun(const PrerequisiteItem *item, std::function<void()> beforeRun)
    : item_(item), beforeRun_(std::move(beforeRun)), thread_(nullptr), threadId_(0), result_(0)
{
    thread_ = CreateThread(nullptr, 0, Run, this, 0, &threadId_);
}

// A window still open here belongs to a test that did not end it. Closed as the user closes it, that is no fault of
// the window; one that stays is the test's failure, and is ended by whatever it takes, one step after the other, so
// that the next test starts without it: destroyed on its own thread, its loop told to end, its thread terminated.
WindowRun::~WindowRun()
{
    if (thread_ == nullptr) {
        return;
    }
    if (WaitForSingleObject(thread_, 0) != WAIT_OBJECT_0) {
        EnumThreadWindows(threadId_, CloseInstallerWindow, 0);
        if (WaitForSingleObject(thread_, 20000) != WAIT_OBJECT_0) {
            const UINT request = RegisterWindowMessageW(kEndRequestName);
            std::string taken = "destroyed on its thread";
            PostThreadMessageW(threadId_, request, kDestroyWindows, 0);
            if (WaitForSingleObject(thread_, 5000) != WAIT_OBJECT_0) {
                taken += ", its loop told to end";
                PostThreadMessageW(threadId_, request, kEndLoop, 0);
                if (WaitForSingleObject(thread_, 5000) != WAIT_OBJECT_0) {
                    taken += ", its thread terminated";
                    TerminateThread(thread_, 3);
                    WaitForSingleObject(thread_, 5000);
                }
            }
            ADD_FAILURE() << "the installer window did not close on its close button within 20 s; " << taken;
        }
    }
    CloseHandle(thread_);
}

DWORD WINAPI WindowRun::Run(void *self)
{
    WindowRun *run = static_cast<WindowRun *>(self);
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, EndOnRequest, nullptr, GetCurrentThreadId());
    if (run->beforeRun_) {
        run->beforeRun_();
    }
    run->result_ = RunInstallerWindow(run->item_);
    if (hook != nullptr) {
        UnhookWindowsHookEx(hook);
    }
    return 0;
}

bool WindowRun::Wait(DWORD timeoutMs, DWORD *result)
{
    if (thread_ == nullptr || WaitForSingleObject(thread_, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    *result = result_;
    return true;
}

DWORD CloseByButton(HWND window, WindowRun &run, DWORD timeoutMs)
{
    Click(window, IDC_CLOSE);
    DWORD result = kWindowStillOpen;
    if (!run.Wait(timeoutMs, &result)) {
        ADD_FAILURE() << "the window did not close within " << timeoutMs << " ms of its close button";
        return kWindowStillOpen;
    }
    return result;
}

TempFolder::TempFolder(const std::wstring &folder) : folder_(folder), savedTmp_(), hadTmp_(false)
{
    wchar_t saved[32768];
    DWORD length = GetEnvironmentVariableW(L"TMP", saved, ARRAYSIZE(saved));
    hadTmp_ = length > 0 && length < ARRAYSIZE(saved);
    if (hadTmp_) {
        savedTmp_ = saved;
    }
    SetEnvironmentVariableW(L"TMP", folder_.c_str());
}

TempFolder::~TempFolder()
{
    SetEnvironmentVariableW(L"TMP", hadTmp_ ? savedTmp_.c_str() : nullptr);
}

std::wstring TempFolder::PackagePath(const std::wstring &fileName) const
{
    std::wstring path = folder_;
    if (path.empty() || path.back() != L'\\') {
        path += L'\\';
    }
    return path + L"Velvaro\\" + fileName;
}

void SetStubBehaviour(DWORD exitCode, const std::wstring &markerFile, const std::wstring &waitEvent)
{
    wchar_t code[32];
    swprintf(code, 32, L"0x%08X", exitCode);
    SetEnvironmentVariableW(L"INSTALLER_STUB_EXIT", code);
    SetEnvironmentVariableW(L"INSTALLER_STUB_MARKER", markerFile.empty() ? nullptr : markerFile.c_str());
    SetEnvironmentVariableW(L"INSTALLER_STUB_WAIT", waitEvent.empty() ? nullptr : waitEvent.c_str());
}

void ClearStubBehaviour()
{
    SetEnvironmentVariableW(L"INSTALLER_STUB_EXIT", nullptr);
    SetEnvironmentVariableW(L"INSTALLER_STUB_MARKER", nullptr);
    SetEnvironmentVariableW(L"INSTALLER_STUB_WAIT", nullptr);
}

}  // namespace bench
