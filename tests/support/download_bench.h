// What the download engine's tests share: the loopback server's ports and fixtures (sizes and digests as the server
// computed them) for the prerequisite records that point at it, and a download run the way the installer window runs one:
// the engine on a thread of its own while this thread pumps messages and may cancel.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "installer/installer_context.h"
#include "prereq/catalog.h"
#include "support/test_item.h"

namespace bench {

// The content of a stale file that a test leaves at packagePath before a download.
inline constexpr char kStale[] = "a stale package from an earlier run";

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

// The size and SHA-256 of a served fixture, for a TestItem (test_item.h); not valid when the server has none.
PackageFacts PackageServed(const std::wstring &fixture);

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
