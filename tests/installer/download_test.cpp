// The download engine against the bench's loopback server through the platform's own WinHTTP, over HTTP and HTTPS:
// every response the server can give, the files left behind after each, the length limit of the package path, a
// temporary file that another process holds, and cancellation by a second thread as the installer window does it.
// What the platform here cannot produce (a secure-channel failure, a close that interrupts a blocked call, failing
// file calls) is proved in download_faults_test.cpp.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "installer/download.h"
#include "installer/verify.h"
#include "support/bench.h"
#include "support/download_bench.h"

namespace {

using bench::DownloadOutcome;
using bench::PrepareContext;
using bench::Served;
using bench::ServedItem;
using bench::kStale;
using namespace bench::text;


class DownloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Served().loaded);
        dir_ = bench::ScratchDir(L"download");
        package_ = dir_ + L"\\bench.exe";
    }
    void TearDown() override { bench::RemoveTree(dir_); }

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
        EXPECT_EQ(std::wstring(message), outcome.errorText) << bench::Printable(outcome.errorText);
        EXPECT_TRUE(outcome.requestCleared);
        EXPECT_FALSE(bench::FileExists(package_ + L".part")) << "a .part file was left behind";
        if (item != nullptr) {
            EXPECT_LE(outcome.received, item->expectedSize);
        }
        std::string now;
        if (hadStale) {
            ASSERT_TRUE(bench::ReadBytes(package_, &now)) << "the file that lay at packagePath is gone";
            EXPECT_EQ(std::string(kStale), now);
        } else {
            EXPECT_FALSE(bench::FileExists(package_)) << "unverified bytes at packagePath";
        }
    }

    void ExpectSuccess(const DownloadOutcome &outcome, const PrerequisiteItem *item, bool announced)
    {
        ASSERT_TRUE(outcome.finished);
        EXPECT_TRUE(outcome.result) << bench::Printable(outcome.errorText);
        EXPECT_STREQ(bench::kUntouched, outcome.errorText.c_str());
        EXPECT_EQ(item->expectedSize, outcome.received);
        EXPECT_EQ(announced ? item->expectedSize : 0u, outcome.total);
        EXPECT_TRUE(outcome.requestCleared);
        EXPECT_FALSE(bench::FileExists(package_ + L".part"));
        EXPECT_EQ(item->expectedSize, bench::FileSize(package_));
        EXPECT_TRUE(FileSha256Matches(package_.c_str(), item->sha256)) << "the package is not the served file";
    }

    std::wstring dir_;
    std::wstring package_;
    InstallerContext context_;
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
        ServedItem item(c.fixture, c.url, L"", c.update);
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
    const std::wstring farHost = L"http://" + std::wstring(256, L'a') + L".invalid/setup.exe";
    const std::wstring farPath = s.Http(std::wstring(1024, L'p'));
    struct Case {
        const char *label;
        std::wstring url;
        std::wstring fallback;
        const wchar_t *message;
        const wchar_t *orMessage;  // where the platform may word the same fault differently
    };
    const Case cases[] = {
        {"404 with a body", s.Http(L"missing"), L"", kNoPackage, nullptr},
        {"cut short by the server", s.Http(L"cut/setup.exe"), L"", kIncomplete, nullptr},
        {"one byte short, honestly announced", s.Http(L"short/setup.exe"), L"", kIncomplete, nullptr},
        {"announced longer than it is", s.Http(L"overstated/setup.exe"), L"", kIncomplete, nullptr},
        {"announced shorter than it is", s.Http(L"understated/setup.exe"), L"", kIncomplete, nullptr},
        {"longer than the package", s.Http(L"long/setup.exe"), L"", kTooLong, nullptr},
        {"longer than the package, over https", s.Https(L"long/setup.exe"), L"", kTooLong, nullptr},
        {"one wrong byte", s.Http(L"flip/setup.exe"), L"", kNotVerified, nullptr},
        {"one wrong byte, over https", s.Https(L"flip/setup.exe"), L"", kNotVerified, nullptr},
        // This platform reads a reset as the end of the body; where it reports the reset, the code is mapped.
        {"reset mid-body", s.Http(L"reset/setup.exe"), L"", kIncomplete, kNotFinished},
        {"stalled, then closed mid-body", s.Http(L"stall-body/setup.exe"), L"", kIncomplete, nullptr},
        {"stalled, then closed before the headers", s.Http(L"stall-head"), L"", kNotFinished, nullptr},
        {"nothing listening", L"http://127.0.0.1:" + std::to_wstring(s.closedPort) + L"/setup.exe", L"",
         kNoConnection, nullptr},
        {"unresolvable name", L"http://download.invalid/setup.exe", L"", kNoConnection, nullptr},
        // A certificate that does not name the host is no reason to fall back to plain HTTP.
        {"certificate for another name", L"https://127.0.0.1:" + std::to_wstring(s.httpsPort) + L"/ok/setup.exe",
         s.Http(L"ok/setup.exe"), kNotFinished, nullptr},
        {"another scheme", L"ftp://127.0.0.1/setup.exe", s.Http(L"ok/setup.exe"), kBadAddress, nullptr},
        {"not an address", L"setup.exe", L"", kBadAddress, nullptr},
        {"a host name of 256 characters", farHost, L"", kBadAddress, nullptr},
        {"a path of 1024 characters", farPath, L"", kBadAddress, nullptr},
    };
    for (const Case &c : cases) {
        for (bool stale : {false, true}) {
            SCOPED_TRACE(std::string(c.label) + (stale ? ", stale file" : ""));
            ServedItem item(L"setup.exe", c.url, c.fallback);
            bench::StatusWindow window(L"status before");
            if (stale) {
                PutStale();
            } else {
                DeleteFileW(package_.c_str());
            }
            DownloadOutcome outcome = Download(item.get(), window.hwnd());
            if (c.orMessage != nullptr && outcome.errorText == c.orMessage) {
                ExpectFailure(outcome, c.orMessage, stale, item.get());
            } else {
                ExpectFailure(outcome, c.message, stale, item.get());
            }
            EXPECT_TRUE(window.Texts().empty()) << "the status line changed without a fallback";
        }
    }
}

TEST_F(DownloadTest, ErrorResponsesAnnounceTheirLengthAndWriteNoFile)
{
    ServedItem item(L"setup.exe", Served().Http(L"missing"));
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
    ServedItem item(L"setup.exe", Served().Http(L"ok/setup.exe"));
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
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, L"download-test-ready");
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, L"download-test-release");
    std::wstring helper = bench::BuiltExe(L"hold_file.exe");
    std::wstring line = L"\"" + helper + L"\" \"" + part + L"\" 0 download-test-ready download-test-release";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(
        CreateProcessW(helper.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    bool holding =
        WaitForSingleObject(ready, 20000) == WAIT_OBJECT_0 && WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT;
    ServedItem item(L"setup.exe", Served().Http(L"ok/setup.exe"));
    DownloadOutcome outcome = Download(item.get());
    SetEvent(release);
    if (WaitForSingleObject(process.hProcess, 20000) != WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    CloseHandle(release);
    CloseHandle(ready);

    ASSERT_TRUE(holding) << "the helper did not hold the file";
    ASSERT_TRUE(outcome.finished);
    EXPECT_FALSE(outcome.result);
    EXPECT_STREQ(kNoPartFile, outcome.errorText.c_str());
    EXPECT_TRUE(outcome.requestCleared);
    std::string bytes;
    EXPECT_TRUE(bench::ReadBytes(part, &bytes) && bytes == "held") << "someone else's file was changed";
    EXPECT_TRUE(bench::ReadBytes(package_, &bytes) && bytes == kStale);
}

TEST_F(DownloadTest, ACancellationBeforeTheFirstReadEndsTheCall)
{
    PutStale();
    ServedItem item(L"setup.exe", Served().Http(L"ok/setup.exe"));
    PrepareContext(&context_, item.get(), package_);
    StoreFlag(&context_.cancelRequested, 1);  // set while no request was published yet: nothing to close
    DownloadOutcome outcome = bench::RunDownload(&context_);
    ExpectFailure(outcome, kCancelled, true, item.get());
    EXPECT_EQ(0u, outcome.received);
}

TEST_F(DownloadTest, ACancellationDuringAFlowingTransferEndsItAtOnce)
{
    PutStale();
    ServedItem item(L"slow.exe", Served().Http(L"slow/slow.exe"));
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

// Here a close does not interrupt a call blocked on a silent server; the call returns when the server gives up, and
// the cancellation still wins over whatever error the call reports. (A read blocked in the body even returns the
// server's close as the end of the body, so the call ends as an incomplete download; either way nothing is kept.)
TEST_F(DownloadTest, ACancellationDuringAStallEndsTheCallWhenTheServerGivesUp)
{
    struct Case {
        const char *label;
        std::wstring url;
        const wchar_t *orMessage;
    };
    const Case cases[] = {
        {"before the headers", Served().Http(L"stall-head"), nullptr},
        {"before the headers, over https", Served().Https(L"stall-head"), nullptr},
        {"in the body", Served().Http(L"stall-body/setup.exe"), kIncomplete},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        PutStale();
        ServedItem item(L"setup.exe", c.url);
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
        bool platformEnd = c.orMessage != nullptr && outcome.errorText == c.orMessage;
        ExpectFailure(outcome, platformEnd ? c.orMessage : kCancelled, true, item.get());
    }
}

// The window may cancel at any moment; whatever the moment, the call ends promptly, cancelled, with nothing left.
TEST_F(DownloadTest, TwoHundredCancellationsAtRandomMomentsOfAThrottledTransfer)
{
    const unsigned seed = GetTickCount();
    std::mt19937 random(seed);
    std::uniform_int_distribution<DWORD> delay(0, 250);  // the whole transfer takes over a second
    ServedItem item(L"slow.exe", Served().Http(L"slow/slow.exe"));
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
