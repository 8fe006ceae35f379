// Drives the installer window as a user would, from a thread other than the window's: finds it by its class, reads
// every control (text, enabled, visible) and the bar's position, clicks buttons. Also what the window's tests share:
// the installer window running on a thread of its own.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "prereq/catalog.h"

namespace bench {

struct ControlState {
    bool exists;
    std::wstring text;
    bool enabled;
    bool visible;
};

struct WindowState {
    bool exists;
    std::wstring title;
    ControlState intro, status, action, webPage, close;
    int barPosition;  // PBM_GETPOS
    int barHigh;      // PBM_GETRANGE's upper limit
};

// The first visible top-level window of the installer's class, waiting up to timeoutMs; null when none came.
HWND FindInstallerWindow(DWORD timeoutMs = 15000);
WindowState ReadWindow(HWND window);
// Polls the window every 10 ms until the condition holds; false after timeoutMs. seen, when given, receives the last
// state read: the one that held, or the one to show in the failure message.
bool WaitForState(HWND window, const std::function<bool(const WindowState &)> &condition, DWORD timeoutMs = 20000,
                  WindowState *seen = nullptr);
// BM_CLICK on the button, as a mouse click would be: the button itself sends WM_COMMAND to the window.
void Click(HWND window, int id);
// The window's controls as one line for a failure message.
std::string Shown(const WindowState &state);

// RunInstallerWindow on a thread of its own. beforeRun runs on that thread first (e.g. to hook its messages). A window
// still open at destruction is closed with its close button; one that stays open fails the running test and is ended
// from its own thread (destroyed, its loop ended, at last its thread terminated), so that the next test can start.
class WindowRun {
public:
    explicit WindowRun(const PrerequisiteItem *item, std::function<void()> beforeRun = std::function<void()>());
    ~WindowRun();
    WindowRun(const WindowRun &) = delete;
    WindowRun &operator=(const WindowRun &) = delete;
    // True when RunInstallerWindow returned within timeoutMs; its result in *result.
    bool Wait(DWORD timeoutMs, DWORD *result);
    DWORD threadId() const { return threadId_; }

private:
    static DWORD WINAPI Run(void *self);
    const PrerequisiteItem *item_;
    std::function<void()> beforeRun_;
    HANDLE thread_;
    DWORD threadId_;
    DWORD result_;
};

// The user's last act on the window: its close button, then RunInstallerWindow's result. A window that did not
// return within timeoutMs fails the running test and gives kWindowStillOpen (the WindowRun ends it as it goes).
const DWORD kWindowStillOpen = 0xDEADDEADu;
DWORD CloseByButton(HWND window, WindowRun &run, DWORD timeoutMs = 30000);

// The user's temporary folder of this process (TMP), pointed at a folder of the test's own; restored on destruction.
class TempFolder {
public:
    explicit TempFolder(const std::wstring &folder);
    ~TempFolder();
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;
    // folder\Velvaro\<fileName>, where the window keeps its package.
    std::wstring PackagePath(const std::wstring &fileName) const;

private:
    std::wstring folder_;
    std::wstring savedTmp_;
    bool hadTmp_;
};

// The test installer (installer_stub.exe): exits with the code in INSTALLER_STUB_EXIT, writes its command line to
// the file in INSTALLER_STUB_MARKER (when set) and first waits for the named event in INSTALLER_STUB_WAIT (when set).
// The environment reaches it through the shell's start.
void SetStubBehaviour(DWORD exitCode, const std::wstring &markerFile = L"", const std::wstring &waitEvent = L"");
void ClearStubBehaviour();

}  // namespace bench
