// The download engine against the bench's loopback server through the platform's own WinHTTP, over HTTP and HTTPS:
// every response the server can give, the files left behind after each, what an earlier run left (a longer ".part",
// a read-only or held old package), the length limits of the host name and the package path, a temporary file that
// another process holds, what the server sees of a request (directly and through the system's default proxy), and
// cancellation by a second thread as the installer window does it, and a TLS handshake that fails (here reported as
// 12157) falling back to plain HTTP.
// What the platform here cannot produce (12175, a refused protocol option, a close that interrupts a blocked call,
// failing file calls) is proved in download_faults_test.cpp.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "installer/download.h"
#include "installer/verify.h"
#include "support/bench.h"
#include "support/download_bench.h"
#include "support/download_fixture.h"
#include "support/expected_text.h"
#include "support/file_holder.h"
#include "support/utf8.h"
#include "support/wine_deviation.h"

namespace {

using bench::DownloadOutcome;
using bench::PrepareContext;
using bench::Served;
using bench::PackageServed;
using bench::TestItem;
using bench::kStale;
using namespace bench::text;

// A host name of exactly `length` characters, in labels of at most 63, under ".invalid" (never resolved).
std::wstring HostOfLength(size_t length)
{
    std::wstring host;
    size_t rest = length - 8;  // what ".invalid" leaves
    for (; rest > 64; rest -= 64) {
        host += std::wstring(63, L'h') + L".";
    }
    return host + std::wstring(rest, L'h') + L".invalid";
}

// A token for the server's record of one request, unique within the server's run (which starts with no records).
std::wstring Token(const char *what)
{
    static int serial = 0;
    return std::wstring(what, what + lstrlenA(what)) + std::to_wstring(GetTickCount()) + L"n" +
           std::to_wstring(++serial);
}

// The value of a header in a recorded request (name compared without case); "(none)" when it is missing. The first
// request's headers are found first.
std::string Header(const std::string &request, const std::string &name)
{
    size_t at = 0;
    while ((at = request.find("\r\n", at)) != std::string::npos) {
        at += 2;
        size_t colon = request.find(':', at);
        size_t end = request.find("\r\n", at);
        if (colon != std::string::npos && colon < end && colon - at == name.size() &&
            CompareStringOrdinal(std::wstring(request.begin() + static_cast<std::ptrdiff_t>(at),
                                              request.begin() + static_cast<std::ptrdiff_t>(colon)).c_str(),
                                 -1, std::wstring(name.begin(), name.end()).c_str(), -1, TRUE) == CSTR_EQUAL) {
            return request.substr(colon + 2, end - colon - 2);
        }
    }
    return "(none)";
}

class DownloadTest : public bench::DownloadFixture {
protected:
    DownloadTest() : DownloadFixture(L"download") {}

    void PutStale() { ASSERT_TRUE(bench::WriteBytes(package_, kStale, sizeof(kStale) - 1)); }

    DownloadOutcome Download(const PrerequisiteItem *item, HWND window = nullptr)
    {
        PrepareContext(&context_, item, package_, window);
        return bench::RunDownload(&context_);
    }

    // What every failed call leaves: its message, no ".part" file, the request slot empty, the file at packagePath
    // exactly as it was before (stale or absent), and never more counted than the package holds.
    void ExpectFailure(const DownloadOutcome &outcome, const wchar_t *message, bool hadStale,
                       const PrerequisiteItem *item)
    {
        ASSERT_TRUE(outcome.finished);
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(std::wstring(message), outcome.errorText) << bench::Utf8(outcome.errorText);
        if (item != nullptr) {
            EXPECT_LE(outcome.received, item->expectedSize);
        }
        ExpectNothingLeft(outcome, hadStale ? kStale : nullptr);
    }

    void ExpectSuccess(const DownloadOutcome &outcome, const PrerequisiteItem *item, bool announced)
    {
        ASSERT_TRUE(outcome.finished);
        EXPECT_TRUE(outcome.result) << bench::Utf8(outcome.errorText);
        EXPECT_STREQ(bench::kUntouched, outcome.errorText.c_str());
        EXPECT_EQ(item->expectedSize, outcome.received);
        EXPECT_EQ(announced ? item->expectedSize : 0u, outcome.total);
        EXPECT_TRUE(outcome.requestCleared);
        EXPECT_FALSE(bench::FileExists(package_ + L".part"));
        EXPECT_EQ(item->expectedSize, bench::FileSize(package_));
        EXPECT_TRUE(FileSha256Matches(package_.c_str(), item->sha256)) << "the package is not the served file";
    }
};

TEST_F(DownloadTest, ServedPackagesArriveOverHttpAndHttps)
{
    struct Case {
        const char *label;
        std::wstring url;
        const wchar_t *fixture;
        bool update;
        bool announced;  // the server sends a Content-Length
        bool stale;      // a stale file lies at packagePath first
    };
    const Case cases[] = {
        {"http", Served().Http(L"ok/setup.exe"), L"setup.exe", false, true, false},
        {"https, replacing a stale file", Served().Https(L"ok/setup.exe"), L"setup.exe", false, true, true},
        {"update package, a multiple of 64 KiB", Served().Http(L"ok/update.msu"), L"update.msu", true, true, false},
        {"no Content-Length", Served().Http(L"nolength/setup.exe"), L"setup.exe", false, false, true},
        {"https, no Content-Length", Served().Https(L"nolength/update.msu"), L"update.msu", true, false, false},
        {"redirected", Served().Http(L"redirect/setup.exe"), L"setup.exe", false, true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        TestItem item(PackageServed(c.fixture), c.update ? L"bench.msu" : L"bench.exe", c.update, c.url);
        if (c.stale) {
            PutStale();
        } else {
            DeleteFileW(package_.c_str());
        }
        ExpectSuccess(Download(item.get()), item.get(), c.announced);
    }
}

// Each failure once without and once with a stale file at packagePath: the stale file survives every failure.
TEST_F(DownloadTest, EveryFailureHasItsMessageAndLeavesNothingBehind)
{
    const bench::DownloadServer &s = Served();
    const std::wstring farPath = s.Http(std::wstring(1024, L'p'));
    struct Case {
        const char *label;
        std::wstring url;
        std::wstring fallback;
        const wchar_t *message;
        std::vector<std::wstring> wineMessages;  // what Wine says instead, accepted under Wine only
    };
    const Case cases[] = {
        {"404 with a body", s.Http(L"missing"), L"", kNoPackage, {}},
        // Only 200 brings the package: not a range of it, however complete, and not an empty success.
        {"206 with the whole package", s.Http(L"partial/setup.exe"), L"", kNoPackage, {}},
        {"206 with the whole package, over https", s.Https(L"partial/setup.exe"), L"", kNoPackage, {}},
        {"204 without a body", s.Http(L"nocontent/setup.exe"), L"", kNoPackage, {}},
        {"cut short by the server", s.Http(L"cut/setup.exe"), L"", kIncomplete, {}},
        {"one byte short, honestly announced", s.Http(L"short/setup.exe"), L"", kIncomplete, {}},
        {"announced longer than it is", s.Http(L"overstated/setup.exe"), L"", kIncomplete, {}},
        {"announced shorter than it is", s.Http(L"understated/setup.exe"), L"", kIncomplete, {}},
        {"longer than the package", s.Http(L"long/setup.exe"), L"", kTooLong, {}},
        {"longer than the package, over https", s.Https(L"long/setup.exe"), L"", kTooLong, {}},
        {"one wrong byte", s.Http(L"flip/setup.exe"), L"", kNotVerified, {}},
        {"one wrong byte, over https", s.Https(L"flip/setup.exe"), L"", kNotVerified, {}},
        // Windows reports a reset as ERROR_WINHTTP_CONNECTION_ERROR. Wine reads it as the end of the body, or
        // reports the socket's own code (WSAECONNRESET), which maps to the general message.
        {"reset mid-body", s.Http(L"reset/setup.exe"), L"", kNoConnection, {kIncomplete, kNotFinished}},
        {"stalled, then closed mid-body", s.Http(L"stall-body/setup.exe"), L"", kIncomplete, {}},
        {"stalled, then closed before the headers", s.Http(L"stall-head"), L"", kNotFinished, {}},
        {"nothing listening", L"http://127.0.0.1:" + std::to_wstring(s.closedPort) + L"/setup.exe", L"",
         kNoConnection, {}},
        {"unresolvable name", L"http://download.invalid/setup.exe", L"", kNoConnection, {}},
        // The longest host name that fits the engine's buffer is looked up; one more character is refused unread.
        {"a host name of 255 characters", L"http://" + HostOfLength(255) + L"/setup.exe", L"", kNoConnection, {}},
        {"a host name of 256 characters", L"http://" + HostOfLength(256) + L"/setup.exe", L"", kBadAddress, {}},
        // Without a plain-HTTP address: Wine reports this as it reports every TLS failure, as a failed secure
        // channel, which falls back where there is somewhere to fall back to. That a certificate's own fault is no
        // reason to fall back is shown at the import boundary (download_faults_test.cpp).
        {"certificate for another name", L"https://127.0.0.1:" + std::to_wstring(s.httpsPort) + L"/ok/setup.exe",
         L"", kNotFinished, {}},
        {"another scheme", L"ftp://127.0.0.1/setup.exe", s.Http(L"ok/setup.exe"), kBadAddress, {}},
        {"not an address", L"setup.exe", L"", kBadAddress, {}},
        {"a path of 1024 characters", farPath, L"", kBadAddress, {}},
    };
    ASSERT_EQ(255u, HostOfLength(255).size());
    ASSERT_EQ(256u, HostOfLength(256).size());
    for (const Case &c : cases) {
        for (bool stale : {false, true}) {
            SCOPED_TRACE(std::string(c.label) + (stale ? ", stale file" : ""));
            TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false, c.url, c.fallback);
            bench::StatusWindow window(L"status before");
            if (stale) {
                PutStale();
            } else {
                DeleteFileW(package_.c_str());
            }
            DownloadOutcome outcome = Download(item.get(), window.hwnd());
            const wchar_t *expected = c.message;
            for (const std::wstring &wine : c.wineMessages) {
                if (bench::broken(outcome.errorText == wine)) {
                    expected = wine.c_str();
                }
            }
            ExpectFailure(outcome, expected, stale, item.get());
            EXPECT_TRUE(window.Texts().empty()) << "the status line changed without a fallback";
        }
    }
}

// A handshake this machine cannot complete, for real: the server speaks TLS 1.3 only and the engine offers TLS 1.0
// to 1.2, as an unpatched machine meets a server that has moved on. With a plain-HTTP address the package comes that
// way, announced once on the status line, and verifies; without one the download fails and leaves nothing.
TEST_F(DownloadTest, AHandshakeThatFailsFallsBackToPlainHttp)
{
    bench::StatusWindow window(L"status before");
    TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false,
                  Served().HttpsTls13Only(L"ok/setup.exe"), Served().Http(L"ok/setup.exe"));
    PutStale();
    ExpectSuccess(Download(item.get(), window.hwnd()), item.get(), true);
    ASSERT_EQ(1u, window.Texts().size()) << "the fallback note is set once";
    EXPECT_EQ(std::wstring(kFallbackNote), window.Texts()[0].first);
    EXPECT_TRUE(window.Texts()[0].second) << "the note comes from the download thread";

    bench::StatusWindow alone(L"status before");
    TestItem noFallback(PackageServed(L"setup.exe"), L"bench.exe", false, Served().HttpsTls13Only(L"ok/setup.exe"));
    PutStale();
    DownloadOutcome outcome = Download(noFallback.get(), alone.hwnd());
    // Wine names this failure 12157, as Windows 7 without the TLS updates does; a newer Windows may name it 12175,
    // which has its own message.
    const wchar_t *expected = kNotFinished;
    if (!bench::RunningUnderWine() && outcome.errorText == kOutdatedTls) {
        expected = kOutdatedTls;
    }
    ExpectFailure(outcome, expected, true, noFallback.get());
    EXPECT_TRUE(alone.Texts().empty()) << "a fallback note without a fallback";
}

TEST_F(DownloadTest, ErrorResponsesAnnounceTheirLengthAndWriteNoFile)
{
    TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false, Served().Http(L"missing"));
    DownloadOutcome outcome = Download(item.get());
    ExpectFailure(outcome, kNoPackage, false, item.get());
    EXPECT_EQ(Served().missingLength, outcome.total);
    EXPECT_EQ(0u, outcome.received);
}

TEST_F(DownloadTest, WithoutAnItemNothingIsFetched)
{
    PrepareContext(&context_, nullptr, package_);
    DownloadOutcome outcome = bench::RunDownload(&context_);
    ExpectFailure(outcome, kBadAddress, false, nullptr);
}

// packagePath plus ".part" must stay below 260 characters; the engine never writes to a shortened path.
TEST_F(DownloadTest, APackagePathOf254CharactersWorksAnd255DoNot)
{
    std::wstring folder = dir_ + L"\\" + std::wstring(200 - dir_.size(), L'd');
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false, Served().Http(L"ok/setup.exe"));
    for (size_t length : {254u, 255u}) {
        SCOPED_TRACE(length);
        package_ = folder + L"\\" + std::wstring(length - folder.size() - 5, L'p') + L".exe";
        ASSERT_EQ(length, package_.size());
        DownloadOutcome outcome = Download(item.get());
        if (length == 254) {
            ExpectSuccess(outcome, item.get(), true);
        } else {
            ExpectFailure(outcome, kNoPartPath, false, item.get());
            EXPECT_EQ(item.get()->expectedSize, outcome.total) << "the response had arrived";
        }
    }
}

TEST_F(DownloadTest, ATemporaryFileHeldByAnotherProcessCannotBeWritten)
{
    std::wstring part = package_ + L".part";
    ASSERT_TRUE(bench::WriteBytes(part, "held", 4));
    PutStale();
    bench::FileHolder holder(part, 0);
    ASSERT_TRUE(holder.holding()) << "the helper did not hold the file";
    TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false, Served().Http(L"ok/setup.exe"));
    DownloadOutcome outcome = Download(item.get());
    holder.Release();

    ASSERT_TRUE(outcome.finished);
    EXPECT_FALSE(outcome.result);
    EXPECT_STREQ(kNoPartFile, outcome.errorText.c_str());
    EXPECT_TRUE(outcome.requestCleared);
    std::string bytes;
    EXPECT_TRUE(bench::ReadBytes(part, &bytes) && bytes == "held") << "someone else's file was changed";
    EXPECT_TRUE(bench::ReadBytes(package_, &bytes) && bytes == kStale);
}

// What a crashed or earlier run left is no obstacle: a ".part" file longer than the package is started over, and an
// old package is replaced in one step, also when it is read-only.
TEST_F(DownloadTest, WhatAnEarlierRunLeftIsReplaced)
{
    struct Case {
        const char *label;
        bool stale;
        bool readOnly;        // the stale file has the read-only attribute
        size_t leftoverPart;  // bytes of a ".part" file left behind (0: none)
    };
    TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false, Served().Http(L"ok/setup.exe"));
    const size_t longer = static_cast<size_t>(item.get()->expectedSize) + 70000;
    const Case cases[] = {
        {"a stale package", true, false, 0},
        {"a read-only stale package", true, true, 0},
        {"a .part file longer than the package", false, false, longer},
        {"a shorter .part file and a read-only stale package", true, true, 1000},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        DeleteFileW((package_ + L".part").c_str());
        SetFileAttributesW(package_.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(package_.c_str());
        if (c.stale) {
            PutStale();
        }
        if (c.readOnly) {
            ASSERT_TRUE(SetFileAttributesW(package_.c_str(), FILE_ATTRIBUTE_READONLY));
        }
        if (c.leftoverPart != 0) {
            std::string junk(c.leftoverPart, 'j');
            ASSERT_TRUE(bench::WriteBytes(package_ + L".part", junk.data(), junk.size()));
        }
        ExpectSuccess(Download(item.get()), item.get(), true);
    }
}

// An old package that another program holds open (an installer still running from it, a scanner) cannot be
// replaced. The verified download is then given up with a message that says it could not be written, never that it
// failed verification; no ".part" file stays, the held file is not touched while held, and where the holder allows
// deletion the old, unverified file is gone once it lets go.
TEST_F(DownloadTest, AnOldPackageHeldByAnotherProgramIsNotReplacedAndTheMessageSaysSo)
{
    struct Case {
        const char *label;
        DWORD share;
        bool goneAfterRelease;
    };
    const Case cases[] = {
        {"held without sharing", 0, false},
        {"held with read sharing", FILE_SHARE_READ, false},
        {"held with delete sharing", FILE_SHARE_DELETE, true},
        {"held with every sharing", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
    };
    TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false, Served().Http(L"ok/setup.exe"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        PutStale();
        bench::FileHolder holder(package_, c.share);
        ASSERT_TRUE(holder.holding()) << "the helper did not hold the old package";
        DownloadOutcome outcome = Download(item.get());
        std::string whileHeld;
        bool readable = bench::ReadBytes(package_, &whileHeld);
        holder.Release();

        ASSERT_TRUE(outcome.finished);
        EXPECT_FALSE(outcome.result);
        EXPECT_STREQ(kWriteFailed, outcome.errorText.c_str()) << bench::Utf8(outcome.errorText);
        EXPECT_EQ(item.get()->expectedSize, outcome.received) << "the package had arrived whole";
        EXPECT_TRUE(outcome.requestCleared);
        EXPECT_FALSE(bench::FileExists(package_ + L".part")) << "a .part file was left behind";
        if (readable) {
            EXPECT_EQ(std::string(kStale), whileHeld) << "the held file was changed";
        }
        EXPECT_EQ(!c.goneAfterRelease, bench::FileExists(package_));
        if (bench::FileExists(package_)) {
            std::string after;
            EXPECT_TRUE(bench::ReadBytes(package_, &after) && after == kStale) << "unverified bytes at packagePath";
        }
    }
}

// What the server sees: one GET of the path, under the host's own user agent, with no header of the engine's own
// (no Range, no Referer), over either scheme.
TEST_F(DownloadTest, TheServerSeesOneGetWithTheHostsUserAgent)
{
    for (bool secure : {false, true}) {
        SCOPED_TRACE(secure ? "https" : "http");
        const std::wstring token = Token(secure ? "agents" : "agent");
        const std::wstring route = L"record/" + token + L"/setup.exe";
        TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false,
                      secure ? Served().Https(route) : Served().Http(route));
        DeleteFileW(package_.c_str());
        ExpectSuccess(Download(item.get()), item.get(), true);
        std::string request = Served().RecordedRequest(token);
        ASSERT_FALSE(request.empty()) << "the server recorded no request";
        EXPECT_EQ(0u, request.find("GET /record/" + bench::Utf8(token) + "/setup.exe HTTP/1.1\r\n")) << request;
        size_t firstEnd = request.find(" HTTP/1.1\r\n");
        EXPECT_EQ(std::string::npos, request.find(" HTTP/1.1\r\n", firstEnd + 1)) << "more than one request: " << request;
        EXPECT_EQ("Velvaro/1.0", Header(request, "User-Agent")) << request;
        EXPECT_EQ("(none)", Header(request, "Range")) << request;
        EXPECT_EQ("(none)", Header(request, "Referer")) << request;
        EXPECT_NE("(none)", Header(request, "Host")) << "the header reader found nothing: " << request;
    }
}

// The default WinHTTP proxy of the machine (what "netsh winhttp set proxy" sets), restored afterwards.
class DefaultProxy {
public:
    DefaultProxy() : had_(false), saved_(), size_(0), type_(0)
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
            size_ = sizeof(saved_);
            had_ = RegQueryValueExW(key, kValue, nullptr, &type_, saved_, &size_) == ERROR_SUCCESS;
            RegCloseKey(key);
        }
    }
    ~DefaultProxy()
    {
        if (had_) {
            bench::SetRegValue(HKEY_LOCAL_MACHINE, kKey, kValue, type_, saved_, size_);
        } else {
            bench::DeleteRegValue(HKEY_LOCAL_MACHINE, kKey, kValue);
        }
    }
    bool Set(const std::wstring &proxy)
    {
        WINHTTP_PROXY_INFO info = {};
        info.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        info.lpszProxy = const_cast<wchar_t *>(proxy.c_str());
        return WinHttpSetDefaultProxyConfiguration(&info) != FALSE;
    }

private:
    static constexpr const wchar_t *kKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
    static constexpr const wchar_t *kValue = L"WinHttpSettings";
    bool had_;
    BYTE saved_[4096];
    DWORD size_;
    DWORD type_;
};

// A shop whose machines reach the internet only through a proxy must still download: the engine goes the way the
// system's default proxy configuration says. The host name below resolves nowhere, so only the proxy (the bench
// server, which answers a request line that names the whole address) can deliver it.
TEST_F(DownloadTest, TheSystemsDefaultProxyCarriesTheDownload)
{
    DefaultProxy proxy;
    if (!proxy.Set(L"127.0.0.1:" + std::to_wstring(Served().httpPort))) {
        ASSERT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
        GTEST_SKIP() << "setting the machine's default proxy needs an administrator";
    }
    const std::wstring token = Token("proxy");
    TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false,
                  L"http://proxied-download.invalid/record/" + token + L"/setup.exe");
    ExpectSuccess(Download(item.get()), item.get(), true);
    std::string request = Served().RecordedRequest(token);
    // A request to a proxy names the whole address (Wine adds the default port to it).
    EXPECT_EQ(0u, request.find("GET http://proxied-download.invalid")) << request;
    EXPECT_NE(std::string::npos, request.find("/record/" + bench::Utf8(token) + "/setup.exe HTTP/1.1\r\n"))
        << request;
    EXPECT_EQ("Velvaro/1.0", Header(request, "User-Agent")) << request;
}

TEST_F(DownloadTest, ACancellationBeforeTheFirstReadEndsTheCall)
{
    PutStale();
    TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false, Served().Http(L"ok/setup.exe"));
    PrepareContext(&context_, item.get(), package_);
    StoreFlag(&context_.cancelRequested, 1);  // set while no request was published yet: nothing to close
    DownloadOutcome outcome = bench::RunDownload(&context_);
    ExpectFailure(outcome, kCancelled, true, item.get());
    EXPECT_EQ(0u, outcome.received);
}

TEST_F(DownloadTest, ACancellationDuringAFlowingTransferEndsItAtOnce)
{
    PutStale();
    TestItem item(PackageServed(L"slow.exe"), L"bench.exe", false, Served().Http(L"slow/slow.exe"));
    PrepareContext(&context_, item.get(), package_);
    DWORD cancelledAt = 0;
    DownloadOutcome outcome = bench::RunDownload(&context_, 30000, [&] {
        if (cancelledAt == 0 && LoadCounter(&context_.bytesReceived) > 0) {
            cancelledAt = GetTickCount();
            bench::CancelDownload(&context_);
        }
    });
    ExpectFailure(outcome, kCancelled, true, item.get());
    ASSERT_NE(0u, cancelledAt);
    EXPECT_LT(GetTickCount() - cancelledAt, 1000u) << "the transfer went on after its request was closed";
    EXPECT_LT(outcome.received, item.get()->expectedSize);
}

// Under Wine a close does not interrupt a call blocked on a silent server; the call returns when the server gives up,
// and the cancellation still wins over whatever error the call reports. (Wine even returns the server's close during
// a blocked read as the end of the body, so the call ends as an incomplete download; either way nothing is kept.)
// On Windows the close interrupts the call at once, and the message is the cancellation's.
TEST_F(DownloadTest, ACancellationDuringAStallEndsTheCallWhenTheServerGivesUp)
{
    struct Case {
        const char *label;
        std::wstring url;
        const wchar_t *wineMessage;  // what Wine says instead, accepted under Wine only
    };
    const Case cases[] = {
        {"before the headers", Served().Http(L"stall-head"), nullptr},
        {"before the headers, over https", Served().Https(L"stall-head"), nullptr},
        {"in the body", Served().Http(L"stall-body/setup.exe"), kIncomplete},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        PutStale();
        TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false, c.url);
        PrepareContext(&context_, item.get(), package_);
        DWORD publishedAt = 0;
        bool cancelled = false;
        DownloadOutcome outcome = bench::RunDownload(&context_, 30000, [&] {
            if (publishedAt == 0 && context_.request != nullptr) {
                publishedAt = GetTickCount();
            }
            if (!cancelled && publishedAt != 0 && GetTickCount() - publishedAt > 300) {
                cancelled = true;
                bench::CancelDownload(&context_);
            }
        });
        EXPECT_TRUE(cancelled);
        bool wineEnd = c.wineMessage != nullptr && bench::broken(outcome.errorText == c.wineMessage);
        ExpectFailure(outcome, wineEnd ? c.wineMessage : kCancelled, true, item.get());
    }
}

// The window may cancel at any moment; whatever the moment, the call ends promptly, cancelled, with nothing left.
TEST_F(DownloadTest, TwoHundredCancellationsAtRandomMomentsOfAThrottledTransfer)
{
    const unsigned seed = GetTickCount();
    std::mt19937 random(seed);
    std::uniform_int_distribution<DWORD> delay(0, 250);  // the whole transfer takes over a second
    TestItem item(PackageServed(L"slow.exe"), L"bench.exe", false, Served().Http(L"slow/slow.exe"));
    DWORD started = GetTickCount();
    int failures = 0;
    for (int i = 0; i < 200 && failures < 3; ++i) {
        SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(i));
        PrepareContext(&context_, item.get(), package_);
        const DWORD wait = delay(random);
        DWORD firstBytes = 0;
        bool cancelled = false;
        DownloadOutcome outcome = bench::RunDownload(&context_, 15000, [&] {
            if (firstBytes == 0 && LoadCounter(&context_.bytesReceived) > 0) {
                firstBytes = GetTickCount();
            }
            if (!cancelled && firstBytes != 0 && GetTickCount() - firstBytes >= wait) {
                cancelled = true;
                bench::CancelDownload(&context_);
            }
        });
        ExpectFailure(outcome, kCancelled, false, item.get());
        if (HasFailure()) {
            ++failures;
        }
    }
    EXPECT_LT(GetTickCount() - started, 60000u);
}

}  // namespace
