// Drives the installer window as a user would, from a thread other than the window's: finds it by its class, reads
// every control (text, enabled, visible) and the bar's position, clicks buttons. Also what the window's tests share:
// the installer window running on a thread of its own, prerequisite records for packages made by a test, and the
// texts the user reads, written out here independently of the product.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

#include "prereq/catalog.h"

namespace bench {

namespace window_text {
inline constexpr wchar_t kClass[] = L"RuduDovaRuntimeDownload";
inline constexpr wchar_t kNeedsDownload[] = L"点击“下载”开始下载。";
inline constexpr wchar_t kReadyFound[] = L"安装包已下载，可以直接安装。";
inline constexpr wchar_t kConnecting[] = L"正在连接微软下载服务器…";
inline constexpr wchar_t kCancelling[] = L"正在取消下载…";
inline constexpr wchar_t kDownloaded[] = L"下载完成。点击“安装”打开微软安装程序。";
inline constexpr wchar_t kInstalling[] = L"正在安装，请在 UAC 提示中选择“是”…";
inline constexpr wchar_t kNoInstallerThread[] = L"无法启动安装程序。";
inline constexpr wchar_t kNoDownloadThread[] = L"无法开始下载。";
inline constexpr wchar_t kRetrySuffix[] = L"可以重试下载。";
inline constexpr wchar_t kDownload[] = L"下载";
inline constexpr wchar_t kInstall[] = L"安装";
inline constexpr wchar_t kRetryDownload[] = L"重试下载";
inline constexpr wchar_t kClose[] = L"关闭";
inline constexpr wchar_t kCancel[] = L"取消";
inline constexpr wchar_t kWebPage[] = L"微软网页下载";
inline constexpr wchar_t kNoPackagePath[] = L"无法准备安装包保存位置。";
inline constexpr wchar_t kNoWindow[] = L"无法显示安装窗口。";
// "安装未完成（错误 0x%08X）。可以重试安装。" for one code.
std::wstring InstallFailed(DWORD code);
// "需要安装 %s。\r\n安装包来自微软官方下载服务器。"
std::wstring Intro(const std::wstring &displayName);
}  // namespace window_text

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
// Polls the window every 10 ms until the condition holds; false after timeoutMs.
bool WaitForState(HWND window, const std::function<bool(const WindowState &)> &condition, DWORD timeoutMs = 20000);
// BM_CLICK on the button, as a mouse click would be: the button itself sends WM_COMMAND to the window.
void Click(HWND window, int id);
// ASCII of a wide text for failure messages (anything else shows as '?').
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

// A prerequisite record for a file a test made: size and SHA-256 computed from the file (CryptoAPI, not the code
// under test). The strings live in the object, so it is neither copied nor moved.
class LocalItem {
public:
    LocalItem(const std::wstring &sourceFile, const std::wstring &fileName, bool update,
              const std::wstring &primaryUrl = L"http://127.0.0.1:9/none");
    LocalItem(const LocalItem &) = delete;
    LocalItem &operator=(const LocalItem &) = delete;
    const PrerequisiteItem *get() const { return &item_; }
    bool valid() const { return valid_; }

private:
    std::wstring fileName_;
    std::wstring primary_;
    BYTE sha256_[32];
    bool valid_;
    PrerequisiteItem item_;
};

bool Sha256OfFile(const std::wstring &path, BYTE digest[32]);

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
