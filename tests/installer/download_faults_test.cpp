// The download engine's paths that this platform cannot produce by itself, proved at the import boundary: the engine
// is linked here against stand-ins (support/download_faults.cpp) that fail a scripted call and forward every other
// call to the real WinHTTP and kernel32, so each download still runs against the bench's loopback server. Shown
// here: the one fallback to plain HTTP after a secure-channel failure (12175 or 12157), with its note on a real
// window's status line set from the download thread, and none for any other code; a refused protocol option that the
// download goes on without; the mapping of error codes and the cancellation that wins over all of them, also one that
// comes just before the request is published; a close that interrupts a blocked call; failing file calls; a read-only old package where the system refuses to replace
// one; the session's user agent, proxy mode, TLS versions and timeouts as they reach WinHTTP; and that every handle
// is closed once, in reverse order.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "installer/download.h"
#include "support/bench.h"
#include "support/download_bench.h"
#include "support/download_faults.h"
#include "support/download_fixture.h"
#include "support/expected_text.h"
#include "support/utf8.h"

namespace {

using bench::DownloadOutcome;
using bench::Served;
using bench::PackageServed;
using bench::TestItem;
using bench::kStale;
using namespace bench::text;

const DWORD kSecureFailure = 12175;       // ERROR_WINHTTP_SECURE_FAILURE
const DWORD kSecureChannelError = 12157;  // ERROR_WINHTTP_SECURE_CHANNEL_ERROR
const wchar_t *const kStatusBefore = kConnecting;

const char *CallName(faults::Call call)
{
    static const char *const names[] = {"WinHttpOpen",        "WinHttpConnect",  "WinHttpOpenRequest",
                                        "WinHttpSendRequest", "WinHttpReceiveResponse", "WinHttpQueryDataAvailable",
                                        "WinHttpReadData",    "CreateFileW",     "WriteFile",
                                        "MoveFileExW",        "WinHttpSetOption"};
    return names[call];
}

class DownloadFaultsTest : public bench::DownloadFixture {
protected:
    DownloadFaultsTest() : DownloadFixture(L"download-faults") {}
    void SetUp() override
    {
        DownloadFixture::SetUp();
        faults::Reset();
    }
    void TearDown() override
    {
        faults::Reset();
        DownloadFixture::TearDown();
    }

    // Runs one download with a real window whose status line starts as the window leaves it.
    DownloadOutcome Download(const PrerequisiteItem *item, bench::StatusWindow *window,
                             const std::function<void()> &onTick = std::function<void()>())
    {
        bench::PrepareContext(&context_, item, package_, window->hwnd());
        return bench::RunDownload(&context_, 30000, onTick);
    }

    // Every handle the engine opened was closed exactly once before its value came back, nothing else was closed,
    // and the last attempt's handles were released in reverse order of opening.
    void ExpectHandlesClosedOnce()
    {
        faults::Records records = faults::Recorded();
        std::vector<HINTERNET> live;
        for (const faults::HandleEvent &event : records.events) {
            auto found = std::find(live.begin(), live.end(), event.handle);
            if (event.opened) {
                EXPECT_TRUE(found == live.end()) << "a handle value was handed out twice";
                live.push_back(event.handle);
            } else if (found == live.end()) {
                ADD_FAILURE() << "closed a handle that was not open: " << event.handle;
            } else {
                live.erase(found);
            }
        }
        EXPECT_TRUE(live.empty()) << live.size() << " handles left open";
        // Bounded by both lists, so that a handle left open fails here instead of reading before the list.
        size_t last = std::min<size_t>({3, records.opened.size(), records.closed.size()});
        std::vector<HINTERNET> lastOpened(records.opened.end() - static_cast<std::ptrdiff_t>(last),
                                          records.opened.end());
        std::vector<HINTERNET> lastClosed(records.closed.end() - static_cast<std::ptrdiff_t>(last),
                                          records.closed.end());
        std::reverse(lastOpened.begin(), lastOpened.end());
        EXPECT_EQ(lastOpened, lastClosed) << "not released in reverse order";
    }
};

// Any of the four calls of the request phase failing in the first attempt with 12175, or with 12157 as Windows 7
// without the TLS updates fails a handshake with a server that requires TLS 1.2.
TEST_F(DownloadFaultsTest, ASecureChannelFailureFallsBackOnceToPlainHttp)
{
    struct Case {
        faults::Call call;
        DWORD error;
    };
    std::vector<Case> cases;
    for (DWORD error : {kSecureFailure, kSecureChannelError}) {
        for (faults::Call call : {faults::kConnect, faults::kOpenRequest, faults::kSend, faults::kReceive}) {
            cases.push_back({call, error});
        }
    }
    for (const Case &c : cases) {
        faults::Call call = c.call;
        DWORD error = c.error;
        SCOPED_TRACE(std::string(CallName(call)) + " " + std::to_string(error));
        faults::Reset();
        faults::Fail(call, 1, error);
        TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false,
                      Served().Https(L"ok/setup.exe"), Served().Http(L"ok/setup.exe"));
        bench::StatusWindow window(kStatusBefore);
        DownloadOutcome outcome = Download(item.get(), &window);

        EXPECT_TRUE(outcome.result) << bench::Utf8(outcome.errorText);
        EXPECT_STREQ(bench::kUntouched, outcome.errorText.c_str());
        EXPECT_EQ(item.get()->expectedSize, outcome.received);
        EXPECT_EQ(item.get()->expectedSize, bench::FileSize(package_));
        ASSERT_EQ(1u, window.Texts().size()) << "the note is set once";
        EXPECT_EQ(std::wstring(kFallbackNote), window.Texts()[0].first);
        EXPECT_TRUE(window.Texts()[0].second) << "the note comes from the download thread";
        EXPECT_EQ(std::wstring(kFallbackNote), window.Text());

        faults::Records records = faults::Recorded();
        std::vector<std::wstring> connects = {L"localhost:" + std::to_wstring(Served().httpsPort),
                                              L"127.0.0.1:" + std::to_wstring(Served().httpPort)};
        EXPECT_EQ(connects, records.connects);
        std::vector<DWORD> flags = {WINHTTP_FLAG_SECURE, 0};
        if (call == faults::kConnect) {
            flags = {0};  // the first attempt never got to its request
        }
        EXPECT_EQ(flags, records.requestFlags);
        EXPECT_EQ(2, faults::Count(faults::kOpen)) << "the second attempt starts with its own session";
        ExpectHandlesClosedOnce();
    }
}

TEST_F(DownloadFaultsTest, AfterTheFallbackTheSecondAttemptsResultStands)
{
    struct Case {
        const char *label;
        std::wstring fallback;
        DWORD secureFailureAgain;  // the second attempt's send fails with this code; 0: it does not
        bool cancelAtFailure;
        const wchar_t *message;
        int sessions;  // the second attempt opens its own, unless its address is refused first
    };
    const Case cases[] = {
        {"404 over http", Served().Http(L"missing"), 0, false, kNoPackage, 2},
        {"a wrong byte over http", Served().Http(L"flip/setup.exe"), 0, false, kNotVerified, 2},
        {"12175 again: no third attempt", Served().Http(L"ok/setup.exe"), kSecureFailure, false, kOutdatedTls, 2},
        {"12157 then: no third attempt", Served().Http(L"ok/setup.exe"), kSecureChannelError, false, kNotFinished,
         2},
        {"a fallback of another scheme", L"ftp://127.0.0.1/setup.exe", 0, false, kBadAddress, 1},
        // The cancellation plays no part in the decision to fall back; the check before the first read ends it.
        {"cancelled as the secure attempt failed", Served().Http(L"ok/setup.exe"), 0, true, kCancelled, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        faults::Reset();
        faults::Fail(faults::kSend, 1, kSecureFailure);
        if (c.secureFailureAgain != 0) {
            faults::Fail(faults::kSend, 2, c.secureFailureAgain);
        }
        if (c.cancelAtFailure) {
            faults::BeforeFailure([this] { StoreFlag(&context_.cancelRequested, 1); });
        }
        TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false, Served().Https(L"ok/setup.exe"), c.fallback);
        bench::StatusWindow window(kStatusBefore);
        ASSERT_TRUE(bench::WriteBytes(package_, kStale, sizeof(kStale) - 1));
        DownloadOutcome outcome = Download(item.get(), &window);

        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(std::wstring(c.message), outcome.errorText) << bench::Utf8(outcome.errorText);
        EXPECT_EQ(std::wstring(kFallbackNote), window.Text());
        EXPECT_EQ(1u, window.Texts().size());
        EXPECT_EQ(c.sessions, faults::Count(faults::kOpen)) << "a third attempt";
        EXPECT_LE(faults::Count(faults::kSend), 2);
        ExpectNothingLeft(outcome, kStale);
        ExpectHandlesClosedOnce();
    }
}

TEST_F(DownloadFaultsTest, NoFallbackWithoutAFallbackUrlOrForAnyOtherFailure)
{
    struct Case {
        faults::Call call;
        DWORD error;
        bool withFallback;
        const wchar_t *message;
    };
    const Case cases[] = {
        {faults::kSend, kSecureFailure, false, kOutdatedTls},
        {faults::kReceive, kSecureFailure, false, kOutdatedTls},
        {faults::kSend, kSecureChannelError, false, kNotFinished},
        {faults::kReceive, kSecureChannelError, false, kNotFinished},
        // The certificate's own faults, where the platform names them, are no reason to drop the channel.
        {faults::kSend, 12045, true, kNotFinished},      // ERROR_WINHTTP_SECURE_INVALID_CA
        {faults::kSend, 12038, true, kNotFinished},      // ERROR_WINHTTP_SECURE_CERT_CN_INVALID
        {faults::kReceive, 12037, true, kNotFinished},   // ERROR_WINHTTP_SECURE_CERT_DATE_INVALID
        {faults::kSend, 12029, true, kNoConnection},
        {faults::kConnect, 12007, true, kNoConnection},
        {faults::kReceive, 12002, true, kNoConnection},
        {faults::kReceive, 12030, true, kNoConnection},
        {faults::kOpen, kSecureFailure, true, kOutdatedTls},  // the session itself: never a fallback
        {faults::kOpen, kSecureChannelError, true, kNotFinished},
        {faults::kOpen, 12001, true, kNotFinished},           // ERROR_WINHTTP_OUT_OF_HANDLES
        {faults::kQueryData, kSecureFailure, true, kOutdatedTls},  // after the response: too late to fall back
        {faults::kRead, kSecureFailure, true, kOutdatedTls},
        {faults::kRead, kSecureChannelError, true, kNotFinished},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(CallName(c.call)) + " " + std::to_string(c.error) +
                     (c.withFallback ? " with a fallback" : ""));
        faults::Reset();
        faults::Fail(c.call, 1, c.error);
        TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false,
                      Served().Https(L"ok/setup.exe"), c.withFallback ? Served().Http(L"ok/setup.exe") : L"");
        bench::StatusWindow window(kStatusBefore);
        DownloadOutcome outcome = Download(item.get(), &window);

        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(std::wstring(c.message), outcome.errorText) << bench::Utf8(outcome.errorText);
        EXPECT_TRUE(window.Texts().empty()) << "a fallback note without a fallback";
        EXPECT_EQ(1, faults::Count(faults::kOpen)) << "a second attempt";
        ExpectNothingLeft(outcome, nullptr);
        ExpectHandlesClosedOnce();
    }
}

// Wherever a call fails, its code picks the message, unless the window has asked to stop: the window sets the flag
// before it closes the request, so here the flag is set just as the scripted failure is reported.
TEST_F(DownloadFaultsTest, ErrorCodesMapToTheirMessagesAndACancellationWinsOverEveryCode)
{
    struct Row {
        DWORD error;
        const wchar_t *message;
    };
    const Row rows[] = {
        {kSecureFailure, kOutdatedTls}, {12002, kNoConnection}, {12007, kNoConnection}, {12029, kNoConnection},
        {12030, kNoConnection},         {12157, kNotFinished},  {12152, kNotFinished},  {12017, kNotFinished},
        {ERROR_INVALID_HANDLE, kNotFinished}, {10054, kNotFinished}, {0, kNotFinished},
    };
    for (faults::Call call : {faults::kOpen, faults::kConnect, faults::kSend, faults::kQueryData, faults::kRead}) {
        for (const Row &row : rows) {
            for (bool cancel : {false, true}) {
                SCOPED_TRACE(std::string(CallName(call)) + " " + std::to_string(row.error) +
                             (cancel ? ", cancelled" : ""));
                faults::Reset();
                faults::Fail(call, 1, row.error);
                if (cancel) {
                    faults::BeforeFailure([this] { StoreFlag(&context_.cancelRequested, 1); });
                }
                TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false, Served().Http(L"ok/setup.exe"));
                bench::StatusWindow window(kStatusBefore);
                DownloadOutcome outcome = Download(item.get(), &window);
                EXPECT_FALSE(outcome.result);
                EXPECT_EQ(std::wstring(cancel ? kCancelled : row.message), outcome.errorText)
                    << bench::Utf8(outcome.errorText);
                ExpectNothingLeft(outcome, nullptr);
                ExpectHandlesClosedOnce();
            }
        }
    }
}

// Where closing a request interrupts a call blocked on it, the engine sees that call fail after the window set the
// flag: the call ends at once, cancelled, and the request is closed once, by the window.
TEST_F(DownloadFaultsTest, ClosingTheRequestInterruptsABlockedCall)
{
    for (faults::Call call : {faults::kSend, faults::kReceive, faults::kQueryData, faults::kRead}) {
        SCOPED_TRACE(CallName(call));
        faults::Reset();
        faults::BlockUntilClosed(call, call == faults::kQueryData || call == faults::kRead ? 3 : 1,
                                 ERROR_WINHTTP_OPERATION_CANCELLED);
        TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false, Served().Http(L"ok/setup.exe"));
        bench::StatusWindow window(kStatusBefore);
        ASSERT_TRUE(bench::WriteBytes(package_, kStale, sizeof(kStale) - 1));
        DWORD cancelledAt = 0;
        HINTERNET published = nullptr;
        DownloadOutcome outcome = Download(item.get(), &window, [&] {
            if (cancelledAt == 0 && faults::Blocked()) {
                published = context_.request;
                cancelledAt = GetTickCount();
                bench::CancelDownload(&context_);
            }
        });
        ASSERT_NE(0u, cancelledAt) << "the call never blocked";
        EXPECT_LT(GetTickCount() - cancelledAt, 2000u);
        EXPECT_FALSE(outcome.result);
        EXPECT_STREQ(kCancelled, outcome.errorText.c_str());
        faults::Records records = faults::Recorded();
        ASSERT_FALSE(records.closed.empty());
        EXPECT_EQ(published, records.closed.front()) << "the window's close came first";
        ExpectNothingLeft(outcome, kStale);
        ExpectHandlesClosedOnce();
    }
}

TEST_F(DownloadFaultsTest, FailingFileCallsLeaveNoUnverifiedBytes)
{
    struct Case {
        const char *label;
        faults::Call call;
        int occurrence;
        DWORD error;
        bool shortWrite;
        const wchar_t *message;
        bool staleSurvives;
    };
    const Case cases[] = {
        {"the .part file cannot be created", faults::kCreatePart, 1, ERROR_ACCESS_DENIED, false, kNoPartFile, true},
        {"the disk fills up", faults::kWritePart, 3, ERROR_DISK_FULL, false, kWriteFailed, true},
        {"a write falls short", faults::kWritePart, 2, 0, true, kWriteFailed, true},
        // The verified package cannot take the old file's place: the message says so, and the old file, which is
        // unverified, is removed where it can be.
        {"the move into place fails", faults::kMove, 1, ERROR_ACCESS_DENIED, false, kWriteFailed, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        faults::Reset();
        if (c.shortWrite) {
            faults::ShortWrite(c.occurrence);
        } else {
            faults::Fail(c.call, c.occurrence, c.error);
        }
        TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false, Served().Https(L"ok/setup.exe"));
        bench::StatusWindow window(kStatusBefore);
        ASSERT_TRUE(bench::WriteBytes(package_, kStale, sizeof(kStale) - 1));
        DownloadOutcome outcome = Download(item.get(), &window);
        EXPECT_FALSE(outcome.result);
        EXPECT_EQ(std::wstring(c.message), outcome.errorText) << bench::Utf8(outcome.errorText);
        EXPECT_EQ(c.occurrence, faults::Count(c.call)) << "the engine went on after the failure";
        ExpectNothingLeft(outcome, c.staleSurvives ? kStale : nullptr);
        ExpectHandlesClosedOnce();
    }
}

// Windows refuses to replace a read-only file (Wine replaces it anyway): the engine clears the attribute of the old
// package first, so the verified download still takes its place.
TEST_F(DownloadFaultsTest, AReadOnlyOldPackageIsReplacedWhereTheSystemRefusesToReplaceIt)
{
    faults::RefuseReadOnlyTargets();
    TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false, Served().Http(L"ok/setup.exe"));
    bench::StatusWindow window(kStatusBefore);
    ASSERT_TRUE(bench::WriteBytes(package_, kStale, sizeof(kStale) - 1));
    ASSERT_TRUE(SetFileAttributesW(package_.c_str(), FILE_ATTRIBUTE_READONLY));
    DownloadOutcome outcome = Download(item.get(), &window);
    EXPECT_TRUE(outcome.result) << bench::Utf8(outcome.errorText);
    EXPECT_EQ(1, faults::Count(faults::kMove));
    EXPECT_EQ(item.get()->expectedSize, bench::FileSize(package_));
    EXPECT_FALSE(bench::FileExists(package_ + L".part"));

    // The stand-in does refuse: without the engine's help the same replacement fails.
    ASSERT_TRUE(bench::WriteBytes(package_ + L".part", "new", 3));
    ASSERT_TRUE(SetFileAttributesW(package_.c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(MoveFileExW((package_ + L".part").c_str(), package_.c_str(), MOVEFILE_REPLACE_EXISTING));
    SetFileAttributesW(package_.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The session as the engine opens it, in every attempt: the host's user agent, the system's default proxy
// configuration (a shop behind a proxy must still download), synchronous; TLS 1.0 to 1.2 (Windows 7 speaks TLS 1.1
// and 1.2 only when asked to); and a bound on every wait, so that a dead network ends in a message instead of a hung
// window. Nothing else is set on the session or the request.
TEST_F(DownloadFaultsTest, EverySessionHasTheUserAgentTheDefaultProxyTls10To12AndBoundedWaits)
{
    struct Case {
        const char *label;
        bool fallBack;
        size_t sessions;
    };
    const Case cases[] = {{"one attempt", false, 1}, {"a fallback after a secure-channel failure", true, 2}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        faults::Reset();
        if (c.fallBack) {
            faults::Fail(faults::kSend, 1, kSecureFailure);
        }
        TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false,
                      Served().Https(L"ok/setup.exe"), Served().Http(L"ok/setup.exe"));
        bench::StatusWindow window(kStatusBefore);
        DownloadOutcome outcome = Download(item.get(), &window);
        EXPECT_TRUE(outcome.result) << bench::Utf8(outcome.errorText);

        faults::Records records = faults::Recorded();
        ASSERT_EQ(c.sessions, records.sessions.size());
        ASSERT_EQ(c.sessions, records.options.size()) << "one option per session";
        ASSERT_EQ(c.sessions, records.timeouts.size()) << "one set of timeouts per session";
        for (size_t i = 0; i < c.sessions; ++i) {
            SCOPED_TRACE(i);
            const faults::SessionOpen &open = records.sessions[i];
            EXPECT_EQ(std::wstring(L"Velvaro/1.0"), open.agent);
            EXPECT_EQ(static_cast<DWORD>(WINHTTP_ACCESS_TYPE_DEFAULT_PROXY), open.accessType);
            EXPECT_FALSE(open.proxyNamed) << "a proxy of its own";
            EXPECT_EQ(0u, open.flags) << "synchronous";
            const faults::OptionSet &option = records.options[i];
            EXPECT_EQ(static_cast<DWORD>(WINHTTP_OPTION_SECURE_PROTOCOLS), option.option);
            EXPECT_EQ(static_cast<DWORD>(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 |
                                         WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2),
                      option.value);
            EXPECT_EQ(0xA80u, option.value);
            EXPECT_EQ(4u, option.length);
            const faults::Timeouts &timeouts = records.timeouts[i];
            EXPECT_EQ(10000, timeouts.resolve);
            EXPECT_EQ(15000, timeouts.connect);
            EXPECT_EQ(30000, timeouts.send);
            EXPECT_EQ(120000, timeouts.receive);
            EXPECT_EQ(option.handle, timeouts.handle) << "both on the same handle";
        }
        // Each attempt's settings went to that attempt's session, the first of its three handles.
        const std::vector<HINTERNET> &opened = records.opened;
        ASSERT_EQ(3 * c.sessions, opened.size());
        EXPECT_EQ(opened.front(), records.options.front().handle);
        EXPECT_EQ(opened[opened.size() - 3], records.options.back().handle);
    }
}

// Windows 7 without the TLS 1.1/1.2 update refuses the protocol set (ERROR_INVALID_PARAMETER): the attempt goes on
// with the platform's own protocols, its timeouts still set, and a handshake that then fails still falls back.
TEST_F(DownloadFaultsTest, ARefusedProtocolSetIsNoReasonToStop)
{
    struct Case {
        const char *label;
        DWORD sendFailure;  // of the first attempt; 0: none
        int sessions;
    };
    const Case cases[] = {
        {"the download goes on", 0, 1},
        {"the handshake fails after it: the fallback, refused there too", kSecureChannelError, 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        faults::Reset();
        faults::Fail(faults::kSetOption, 1, ERROR_INVALID_PARAMETER);
        faults::Fail(faults::kSetOption, 2, ERROR_INVALID_PARAMETER);
        if (c.sendFailure != 0) {
            faults::Fail(faults::kSend, 1, c.sendFailure);
        }
        TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false,
                      Served().Https(L"ok/setup.exe"), Served().Http(L"ok/setup.exe"));
        bench::StatusWindow window(kStatusBefore);
        DownloadOutcome outcome = Download(item.get(), &window);

        EXPECT_TRUE(outcome.result) << bench::Utf8(outcome.errorText);
        EXPECT_EQ(item.get()->expectedSize, bench::FileSize(package_));
        EXPECT_EQ(c.sessions, faults::Count(faults::kSetOption)) << "the option was not asked for in every session";
        faults::Records records = faults::Recorded();
        EXPECT_EQ(static_cast<size_t>(c.sessions), records.timeouts.size()) << "the timeouts were skipped";
        EXPECT_EQ(c.sessions, faults::Count(faults::kOpen));
        EXPECT_EQ(c.sessions, faults::Count(faults::kSend));
        ExpectHandlesClosedOnce();
    }
}

// A cancel that comes after the request was opened and before the engine published it finds no handle to close.
// The engine reads the flag again once the handle is out: nothing is sent, and the download ends at once instead of
// after a response or a timeout (here a server that holds back its headers). Without the cancel the same hook sees
// the request sent.
TEST_F(DownloadFaultsTest, ACancelJustBeforeTheRequestIsPublishedSendsNothing)
{
    for (bool cancel : {true, false}) {
        SCOPED_TRACE(cancel ? "cancelled in that moment" : "no cancel");
        faults::Reset();
        bool slotEmptyAtCancel = false;
        faults::AfterRequestOpened([&] {
            if (cancel) {
                slotEmptyAtCancel = context_.request == nullptr;
                bench::CancelDownload(&context_);
            }
        });
        TestItem item(PackageServed(L"setup.exe"), L"bench.exe", false,
                      Served().Http(cancel ? L"stall-head" : L"ok/setup.exe"));
        bench::StatusWindow window(kStatusBefore);
        DownloadOutcome outcome = Download(item.get(), &window);

        EXPECT_EQ(cancel ? 0 : 1, faults::Count(faults::kSend));
        if (cancel) {
            EXPECT_TRUE(slotEmptyAtCancel) << "the cancel came after the handle was published";
            EXPECT_FALSE(outcome.result);
            EXPECT_STREQ(kCancelled, outcome.errorText.c_str());
            EXPECT_LT(outcome.elapsedMs, 1000u) << "the cancel waited for the server";
            EXPECT_EQ(0, faults::Count(faults::kReceive));
            ExpectNothingLeft(outcome, nullptr);
        } else {
            EXPECT_TRUE(outcome.result) << bench::Utf8(outcome.errorText);
        }
        ExpectHandlesClosedOnce();
    }
}

TEST_F(DownloadFaultsTest, ASuccessfulDownloadClosesItsHandlesInReverseOrder)
{
    TestItem item(PackageServed(L"update.msu"), L"bench.msu", true, Served().Https(L"ok/update.msu"));
    bench::StatusWindow window(kStatusBefore);
    DownloadOutcome outcome = Download(item.get(), &window);
    EXPECT_TRUE(outcome.result) << bench::Utf8(outcome.errorText);
    faults::Records records = faults::Recorded();
    ASSERT_EQ(3u, records.opened.size()) << "session, connection, request";
    EXPECT_EQ(std::vector<HINTERNET>(records.opened.rbegin(), records.opened.rend()), records.closed);
    EXPECT_EQ(std::vector<DWORD>{WINHTTP_FLAG_SECURE}, records.requestFlags);
    EXPECT_TRUE(window.Texts().empty());
    EXPECT_EQ(1, faults::Count(faults::kMove));
}

}  // namespace
