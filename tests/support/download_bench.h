// What the download engine's tests share: the loopback server's ports and fixtures (sizes and digests as the server
// computed them), prerequisite records that point at it, and a download run the way the installer window runs one:
// the engine on a thread of its own while this thread pumps messages and may cancel.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "installer/installer_context.h"
#include "prereq/catalog.h"

namespace bench {

// What the user reads after a download, written out here independently of the engine.
namespace text {
inline constexpr wchar_t kBadAddress[] = L"安装包地址无效。";
inline constexpr wchar_t kCancelled[] = L"已取消下载。";
inline constexpr wchar_t kOutdatedTls[] = L"这台电脑的安全连接组件过旧，无法直接下载。";
inline constexpr wchar_t kNoConnection[] = L"无法连接微软下载服务器，请检查网络后重试。";
inline constexpr wchar_t kNotFinished[] = L"下载未完成。";
inline constexpr wchar_t kNoPackage[] = L"微软下载服务器没有返回安装包。";
inline constexpr wchar_t kNoPartPath[] = L"无法准备临时下载文件。";
inline constexpr wchar_t kNoPartFile[] = L"无法写入临时下载文件。";
inline constexpr wchar_t kWriteFailed[] = L"写入安装包失败，请检查磁盘空间。";
inline constexpr wchar_t kTooLong[] = L"下载内容异常，已停止。";
inline constexpr wchar_t kIncomplete[] = L"安装包下载不完整。";
inline constexpr wchar_t kNotVerified[] = L"安装包校验失败。";
inline constexpr wchar_t kFallbackNote[] = L"HTTPS 不可用，正在通过微软 CDN 兼容通道下载并校验…";
}  // namespace text

// The content of a stale file that a test leaves at packagePath before a download.
inline constexpr char kStale[] = "a stale package from an earlier run";

// ASCII of a wide text for a failure message (anything else shows as '?').
std::string Printable(const std::wstring &text);

struct ServedFixture {
    std::wstring name;
    ULONGLONG size;
    BYTE sha256[32];
};

struct DownloadServer {
    bool loaded;
    int httpPort;
    int httpsPort;
    int closedPort;  // bound by the server, never listening: connections are refused
    int tls13Port;   // speaks TLS 1.3 only: a client offering TLS 1.0 to 1.2 fails its handshake
    ULONGLONG missingLength;  // length of the server's 404 body
    std::vector<ServedFixture> fixtures;

    std::wstring folder;  // of the info file, as this program reaches it (through Wine's Z: drive)

    const ServedFixture &Fixture(const std::wstring &name) const;
    // The request line and headers that "record/TOKEN/NAME" received; empty when no such request came.
    std::string RecordedRequest(const std::wstring &token) const;
    std::wstring Http(const std::wstring &route) const;   // http://127.0.0.1:port/route
    std::wstring Https(const std::wstring &route) const;  // https://localhost:port/route (the certificate's name)
    std::wstring HttpsTls13Only(const std::wstring &route) const;  // the same on the TLS 1.3 port
};

// Read once from the file that DOWNLOAD_BENCH_INFO names (a Unix path; Wine's Z: drive reaches it).
const DownloadServer &Served();

// A prerequisite record for a served fixture. The strings live in the object, so it is neither copied nor moved.
class ServedItem {
public:
    // An empty fallbackUrl means none. update: a Windows update package (a kbId, the Cabinet signature).
    ServedItem(const std::wstring &fixture, const std::wstring &primaryUrl, const std::wstring &fallbackUrl = L"",
               bool update = false);
    ServedItem(const ServedItem &) = delete;
    ServedItem &operator=(const ServedItem &) = delete;
    const PrerequisiteItem *get() const { return &item_; }

private:
    std::wstring primary_;
    std::wstring fallback_;
    BYTE sha256_[32];
    PrerequisiteItem item_;
};

// A fresh context for item, downloading to packagePath, with errorText preset to kUntouched.
extern const wchar_t kUntouched[];
void PrepareContext(InstallerContext *context, const PrerequisiteItem *item, const std::wstring &packagePath,
                    HWND window = nullptr);

struct DownloadOutcome {
    bool finished;  // within the time limit
    bool result;
    std::wstring errorText;
    ULONGLONG received;  // bytesReceived and bytesTotal at the end
    ULONGLONG total;
    bool requestCleared;  // the shared request slot is null again
    DWORD elapsedMs;
};

// Runs DownloadPackage on a new thread while this thread pumps its messages; onTick runs on this thread about every
// millisecond meanwhile.
DownloadOutcome RunDownload(InstallerContext *context, DWORD timeoutMs = 30000,
                            const std::function<void()> &onTick = std::function<void()>());

// The installer window's cancellation, in its order: the flag first, then the request taken out and closed.
void CancelDownload(InstallerContext *context);

// A real top-level window with a status line (IDC_STATUS) whose every WM_SETTEXT is recorded, with whether it came
// from another thread.
class StatusWindow {
public:
    explicit StatusWindow(const wchar_t *initialText);
    ~StatusWindow();
    StatusWindow(const StatusWindow &) = delete;
    StatusWindow &operator=(const StatusWindow &) = delete;
    HWND hwnd() const { return window_; }
    std::wstring Text() const;
    const std::vector<std::pair<std::wstring, bool>> &Texts() const { return texts_; }

private:
    static LRESULT CALLBACK Record(HWND control, UINT message, WPARAM wParam, LPARAM lParam);
    HWND window_;
    HWND status_;
    WNDPROC original_;
    std::vector<std::pair<std::wstring, bool>> texts_;
};

}  // namespace bench
