// The download bench on the test's side: the server's info file, records that point at the server, and downloads
// run on a worker thread as the installer window runs them.
#include "support/download_bench.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "installer/download.h"
#include "support/bench.h"
#include "support/utf8.h"

namespace bench {

namespace {

std::wstring Widen(const std::string &text)
{
    return std::wstring(text.begin(), text.end());
}

DownloadServer LoadServer()
{
    DownloadServer server = {false, 0, 0, 0, 0, 0, {}, L""};
    wchar_t unixPath[1024];
    DWORD length = GetEnvironmentVariableW(L"DOWNLOAD_BENCH_INFO", unixPath, 1024);
    if (length == 0 || length >= 1024) {
        ADD_FAILURE() << "DOWNLOAD_BENCH_INFO is not set: the download server fixture did not run";
        return server;
    }
    std::wstring path = L"Z:" + std::wstring(unixPath, length);
    for (wchar_t &c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    server.folder = path.substr(0, path.find_last_of(L'\\'));
    std::string text;
    if (!ReadBytes(path, &text)) {
        ADD_FAILURE() << "the download server's info file is missing";
        return server;
    }
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        size_t equals = line.find('=');
        if (equals == std::string::npos) {
            continue;
        }
        std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        if (key == "http_port") {
            server.httpPort = std::atoi(value.c_str());
        } else if (key == "https_port") {
            server.httpsPort = std::atoi(value.c_str());
        } else if (key == "closed_port") {
            server.closedPort = std::atoi(value.c_str());
        } else if (key == "tls13_port") {
            server.tls13Port = std::atoi(value.c_str());
        } else if (key == "missing_length") {
            server.missingLength = std::strtoull(value.c_str(), nullptr, 10);
        } else if (key == "fixture") {
            std::istringstream fields(value);
            std::string name;
            std::string digest;
            ServedFixture fixture = {};
            fields >> name >> fixture.size >> digest;
            fixture.name = Widen(name);
            PackageFacts facts = PackageOfDigest(fixture.size, Widen(digest).c_str());
            if (facts.valid) {
                CopyMemory(fixture.sha256, facts.sha256, sizeof(fixture.sha256));
                server.fixtures.push_back(fixture);
            }
        }
    }
    server.loaded = server.httpPort != 0 && server.httpsPort != 0 && server.closedPort != 0 && server.tls13Port != 0;
    EXPECT_TRUE(server.loaded) << "the download server's info file is incomplete";
    return server;
}

}  // namespace

const ServedFixture &DownloadServer::Fixture(const std::wstring &name) const
{
    for (const ServedFixture &fixture : fixtures) {
        if (fixture.name == name) {
            return fixture;
        }
    }
    ADD_FAILURE() << "the server has no fixture " << Utf8(name);
    static const ServedFixture none = {L"", 0, {}};
    return none;
}

std::string DownloadServer::RecordedRequest(const std::wstring &token) const
{
    std::string text;
    if (!ReadBytes(folder + L"\\requests\\" + token + L".txt", &text)) {
        text.clear();
    }
    return text;
}

std::wstring DownloadServer::Http(const std::wstring &route) const
{
    return L"http://127.0.0.1:" + std::to_wstring(httpPort) + L"/" + route;
}

std::wstring DownloadServer::Https(const std::wstring &route) const
{
    return L"https://localhost:" + std::to_wstring(httpsPort) + L"/" + route;
}

std::wstring DownloadServer::HttpsTls13Only(const std::wstring &route) const
{
    return L"https://localhost:" + std::to_wstring(tls13Port) + L"/" + route;
}

const DownloadServer &Served()
{
    static const DownloadServer server = LoadServer();
    return server;
}

PackageFacts PackageServed(const std::wstring &fixture)
{
    const ServedFixture &served = Served().Fixture(fixture);
    PackageFacts facts = {!served.name.empty(), served.size, {}};
    CopyMemory(facts.sha256, served.sha256, sizeof(facts.sha256));
    return facts;
}

const wchar_t kUntouched[] = L"(untouched)";

void PrepareContext(InstallerContext *context, const PrerequisiteItem *item, const std::wstring &packagePath,
                    HWND window)
{
    InitInstallerContext(context);
    context->hwnd = window;
    context->item = item;
    EXPECT_LT(packagePath.size(), static_cast<size_t>(MAX_PATH));
    lstrcpynW(context->packagePath, packagePath.c_str(), MAX_PATH);
    lstrcpynW(context->errorText, kUntouched, 280);
}

namespace {

struct DownloadThread {
    InstallerContext *context;
    bool result;
};

DWORD WINAPI RunEngine(void *parameter)
{
    DownloadThread *run = static_cast<DownloadThread *>(parameter);
    run->result = DownloadPackage(run->context);
    return 0;
}

}  // namespace

DownloadOutcome RunDownload(InstallerContext *context, DWORD timeoutMs, const std::function<void()> &onTick)
{
    DownloadOutcome outcome = {false, false, L"", 0, 0, false, 0};
    DownloadThread run = {context, false};
    DWORD started = GetTickCount();
    HANDLE thread = CreateThread(nullptr, 0, RunEngine, &run, 0, nullptr);
    if (thread == nullptr) {
        ADD_FAILURE() << "no download thread";
        return outcome;
    }
    for (;;) {
        DWORD elapsed = GetTickCount() - started;
        if (elapsed >= timeoutMs) {
            break;
        }
        DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, onTick ? 1 : timeoutMs - elapsed, QS_ALLINPUT);
        if (wait == WAIT_OBJECT_0) {
            outcome.finished = true;
            break;
        }
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (onTick) {
            onTick();
        }
    }
    outcome.elapsedMs = GetTickCount() - started;
    if (!outcome.finished) {
        ADD_FAILURE() << "the download did not end within " << timeoutMs << " ms";
        TerminateThread(thread, 1);
        WaitForSingleObject(thread, 5000);
    }
    CloseHandle(thread);
    outcome.result = run.result;
    outcome.errorText = context->errorText;
    outcome.received = LoadCounter(&context->bytesReceived);
    outcome.total = LoadCounter(&context->bytesTotal);
    outcome.requestCleared = ExchangeRequest(context, nullptr) == nullptr;
    return outcome;
}

void CancelDownload(InstallerContext *context)
{
    StoreFlag(&context->cancelRequested, 1);
    HINTERNET request = ExchangeRequest(context, nullptr);
    if (request != nullptr) {
        WinHttpCloseHandle(request);
    }
}

StatusWindow::StatusWindow(const wchar_t *initialText) : window_(nullptr), status_(nullptr), original_(nullptr)
{
    window_ = CreateWindowExW(0, L"STATIC", L"Bench installer", WS_OVERLAPPED, 0, 0, 470, 248, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    status_ = CreateWindowExW(0, L"STATIC", initialText, WS_CHILD | WS_VISIBLE, 18, 116, 424, 22, window_,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_STATUS)), GetModuleHandleW(nullptr),
                              nullptr);
    EXPECT_NE(nullptr, status_) << "no status control";
    if (status_ != nullptr) {
        SetWindowLongPtrW(status_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        original_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(status_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StatusWindow::Record)));
    }
}

StatusWindow::~StatusWindow()
{
    if (window_ != nullptr) {
        DestroyWindow(window_);
    }
}

std::wstring StatusWindow::Text() const
{
    wchar_t text[512] = L"";
    GetWindowTextW(status_, text, 512);
    return text;
}

LRESULT CALLBACK StatusWindow::Record(HWND control, UINT message, WPARAM wParam, LPARAM lParam)
{
    StatusWindow *self = reinterpret_cast<StatusWindow *>(GetWindowLongPtrW(control, GWLP_USERDATA));
    if (message == WM_SETTEXT && lParam != 0) {
        self->texts_.emplace_back(reinterpret_cast<const wchar_t *>(lParam), InSendMessage() != FALSE);
    }
    return CallWindowProcW(self->original_, control, message, wParam, lParam);
}

}  // namespace bench
