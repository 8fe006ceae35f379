// Extraction as the real host twin does it: the runtime folder under the user's local application data, the payload
// file named by its hash, reuse only of a copy whose bytes match, a new copy moved into place whole, hosts started
// together, a copy held by another process, an empty or missing payload, and the path-length limits, which Wine does
// not enforce for us.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "support/expected_text.h"
#include "support/file_holder.h"
#include "support/host_bench.h"
#include "support/notice_watcher.h"
#include "support/wait_for.h"

using namespace bench;

namespace {

const wchar_t *const kExtractionNotice = text::kNoRunFiles;

class Extraction : public ::testing::Test {
protected:
    void SetUp() override
    {
        PrepareLaunchMachine();
        host_ = BuiltExe(L"VelvaroHost.exe");
        payload_ = PayloadFileFor(BuiltExe(L"demo_payload.exe"));
        ASSERT_TRUE(ReadBytes(BuiltExe(L"demo_payload.exe"), &payloadBytes_));
    }
    void TearDown() override
    {
        RestoreLocalAppData();
        ClearLaunchMachine();
    }

    // Runs the host, answering any notice; returns the exit code and the notices' texts.
    DWORD Run(const std::wstring &host, std::vector<SeenNotice> *seen)
    {
        NoticeWatcher watcher;
        ChildResult run = RunHost(host, L"--exit-code=42");
        EXPECT_TRUE(run.finished) << "started " << run.started << ", CreateProcessW error " << run.error;
        *seen = watcher.Seen();
        return run.exitCode;
    }

    std::string FileBytes(const std::wstring &path)
    {
        std::string bytes;
        ReadBytes(path, &bytes);
        return bytes;
    }

    std::wstring PayloadName() const { return payload_.substr(payload_.find_last_of(L'\\') + 1); }

    std::wstring host_;
    std::wstring payload_;
    std::string payloadBytes_;
};

TEST(Fnv1a, TheBenchsOwnHashMatchesKnownVectors)
{
    // The bench predicts the payload's file name with its own FNV-1a; check that one against published vectors.
    std::wstring dir = ScratchDir(L"fnv");
    const struct {
        const char *bytes;
        DWORD hash;
    } vectors[] = {{"", 0x811C9DC5u}, {"a", 0xE40C292Cu}, {"foobar", 0xBF9CF968u}};
    for (const auto &v : vectors) {
        WriteBytes(dir + L"\\v", v.bytes, strlen(v.bytes));
        EXPECT_EQ(v.hash, Fnv1aOfFile(dir + L"\\v")) << v.bytes;
    }
}

TEST_F(Extraction, WritesThePayloadOnceAndReusesItUntouched)
{
    std::vector<SeenNotice> seen;
    EXPECT_EQ(42u, Run(host_, &seen));
    ASSERT_TRUE(FileExists(payload_));
    EXPECT_EQ(payloadBytes_, FileBytes(payload_));
    EXPECT_EQ(std::vector<std::wstring>{PayloadName()}, FolderEntries(RuntimeFolder())) << "nothing left beside it";

    FILETIME earlier = {0x12345678, 0x01D00000};  // a time no write can produce
    HANDLE file = CreateFileW(payload_.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    SetFileTime(file, nullptr, nullptr, &earlier);
    CloseHandle(file);

    EXPECT_EQ(42u, Run(host_, &seen));
    FILETIME after = LastWriteTime(payload_);
    EXPECT_EQ(earlier.dwLowDateTime, after.dwLowDateTime);
    EXPECT_EQ(earlier.dwHighDateTime, after.dwHighDateTime);
    EXPECT_TRUE(seen.empty());
}

TEST_F(Extraction, RewritesAFileOfAnotherSizeWhole)
{
    std::vector<SeenNotice> seen;
    MakeRuntimeFolder();
    for (size_t size : {payloadBytes_.size() / 2, payloadBytes_.size() + 1}) {
        std::string wrong(size, 'x');
        ASSERT_TRUE(WriteBytes(payload_, wrong.data(), wrong.size()));
        EXPECT_EQ(42u, Run(host_, &seen)) << size;
        EXPECT_EQ(payloadBytes_, FileBytes(payload_)) << size;
    }
}

// A copy of the right size is not yet the payload: a power cut during the first write can leave the full size in
// zeros, and another program can put its own executable there for an elevated host to start. Either is replaced,
// read-only, hidden or system as it may be, and the real payload runs.
TEST_F(Extraction, ReplacesACopyOfTheRightSizeWhoseBytesDiffer)
{
    std::string planted;
    ASSERT_TRUE(ReadBytes(BuiltExe(L"demo_payload_v2.exe"), &planted));
    ASSERT_EQ(payloadBytes_.size(), planted.size()) << "the planted program must have the payload's size";
    ASSERT_NE(payloadBytes_, planted);
    std::wstring report = ScratchDir(L"extract-report") + L"\\report.txt";
    SetEnvironmentVariableW(L"DEMO_PAYLOAD_REPORT", report.c_str());
    const struct {
        const char *what;
        std::string bytes;
        DWORD attributes;
    } cases[] = {
        {"zeros of a power cut", std::string(payloadBytes_.size(), '\0'), FILE_ATTRIBUTE_NORMAL},
        {"garbage, read-only", std::string(payloadBytes_.size(), '\x5A'), FILE_ATTRIBUTE_READONLY},
        {"another program, hidden", planted, FILE_ATTRIBUTE_HIDDEN},
        {"another program, read-only hidden system", planted,
         FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        RemoveTree(VendorFolder());
        MakeRuntimeFolder();
        ASSERT_TRUE(WriteBytes(payload_, c.bytes.data(), c.bytes.size()));
        ASSERT_TRUE(SetFileAttributesW(payload_.c_str(), c.attributes));
        DeleteFileW(report.c_str());

        std::vector<SeenNotice> seen;
        EXPECT_EQ(42u, Run(host_, &seen));
        EXPECT_TRUE(seen.empty());
        EXPECT_TRUE(payloadBytes_ == FileBytes(payload_)) << "not replaced";
        EXPECT_EQ(0u, GetFileAttributesW(payload_.c_str()) &
                          (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
        EXPECT_EQ(0u, ReadUtf16(report).find(L"payload=demo-1\n")) << "what ran was not the embedded payload";
        EXPECT_EQ(std::vector<std::wstring>{PayloadName()}, FolderEntries(RuntimeFolder()));
    }
    SetEnvironmentVariableW(L"DEMO_PAYLOAD_REPORT", nullptr);
}

TEST_F(Extraction, AnotherPayloadLandsBesideTheOldFile)
{
    std::vector<SeenNotice> seen;
    EXPECT_EQ(42u, Run(host_, &seen));
    std::wstring second = PayloadFileFor(BuiltExe(L"demo_payload_v2.exe"));
    ASSERT_NE(payload_, second);
    EXPECT_EQ(42u, Run(BuiltExe(L"VelvaroHostV2.exe"), &seen));
    EXPECT_EQ(payloadBytes_, FileBytes(payload_));
    std::string secondBytes;
    ASSERT_TRUE(ReadBytes(BuiltExe(L"demo_payload_v2.exe"), &secondBytes));
    EXPECT_EQ(secondBytes, FileBytes(second));
}

TEST_F(Extraction, ASecondHostStartsWhileTheFirstPayloadStillRuns)
{
    std::vector<SeenNotice> seen;
    EXPECT_EQ(42u, Run(host_, &seen));
    // The payload reports before it sleeps: from then on it runs from the file, which cannot be opened for writing.
    std::wstring report = ScratchDir(L"extract-report") + L"\\report.txt";
    SetEnvironmentVariableW(L"DEMO_PAYLOAD_REPORT", report.c_str());
    Child first = StartChild(host_, CommandLineFor(host_, L"--sleep=3000"));
    SetEnvironmentVariableW(L"DEMO_PAYLOAD_REPORT", nullptr);
    ASSERT_TRUE(first.started);
    EXPECT_TRUE(WaitFor([&] { return !ReadUtf16(report).empty(); }, 15000)) << "the first payload never reported";
    EXPECT_EQ(42u, Run(host_, &seen));
    EXPECT_TRUE(seen.empty());
    EXPECT_TRUE(FinishChild(&first, 15000).finished);
}

TEST_F(Extraction, AFileWhereAFolderShouldBeFailsAndNothingIsDeleted)
{
    const std::wstring base = LocalAppData();
    struct {
        const wchar_t *what;
        std::wstring blocker;  // a file created here
        bool asFolder;         // a folder instead of a file
    } const cases[] = {
        {L"Oristane is a file", base + L"\\Oristane", false},
        {L"Velvaro is a file", base + L"\\Oristane\\Velvaro", false},
        {L"runtime is a file", base + L"\\Oristane\\Velvaro\\runtime", false},
        {L"the payload's name is a folder", payload_, true},
    };
    for (const auto &c : cases) {
        RemoveTree(base + L"\\Oristane");
        for (const wchar_t *level : {L"\\Oristane", L"\\Oristane\\Velvaro", L"\\Oristane\\Velvaro\\runtime"}) {
            if ((base + level).size() >= c.blocker.size()) {
                break;
            }
            CreateDirectoryW((base + level).c_str(), nullptr);
        }
        if (c.asFolder) {
            ASSERT_TRUE(CreateDirectoryW(c.blocker.c_str(), nullptr)) << c.what;
        } else {
            ASSERT_TRUE(WriteBytes(c.blocker, "keep", 4)) << c.what;
        }
        std::vector<SeenNotice> seen;
        EXPECT_EQ(2u, Run(host_, &seen)) << c.what;
        ASSERT_EQ(1u, seen.size()) << c.what;
        EXPECT_EQ(kExtractionNotice, seen[0].text) << c.what;
        EXPECT_EQ(text::kCaption, seen[0].caption);
        EXPECT_TRUE(seen[0].hasOk);
        EXPECT_FALSE(seen[0].hasCancel);
        EXPECT_TRUE(seen[0].hasIcon);
        if (c.asFolder) {
            EXPECT_TRUE(IsFolder(c.blocker)) << c.what;
        } else {
            EXPECT_EQ("keep", FileBytes(c.blocker)) << c.what;
        }
    }
    ChildResult hidden = RunHost(host_, L"", 15000, kInvisibleDesktop);
    ASSERT_TRUE(hidden.finished) << "the extraction notice blocked where nobody can see it";
    EXPECT_EQ(2u, hidden.exitCode);
}

// A double-click at the till starts two hosts, and more are possible: every host started at once against an empty
// runtime folder must launch the payload. The hosts are created suspended and let go together, with a payload of the
// real one's size, so that their extractions overlap.
TEST_F(Extraction, HostsStartedTogetherAllLaunchThePayload)
{
    const std::wstring host = BuiltExe(L"VelvaroHostLarge.exe");
    const std::wstring payload = PayloadFileFor(BuiltExe(L"demo_payload_large.exe"));
    std::string payloadBytes;
    ASSERT_TRUE(ReadBytes(BuiltExe(L"demo_payload_large.exe"), &payloadBytes));
    const int kRounds = 20;
    const int kHosts = 6;
    NoticeWatcher watcher;
    int launched = 0;
    for (int round = 0; round < kRounds; ++round) {
        RemoveTree(VendorFolder());
        Child hosts[kHosts] = {};
        for (Child &started : hosts) {
            started = StartChild(host, CommandLineFor(host, L"--exit-code=42"), CREATE_SUSPENDED);
            ASSERT_TRUE(started.started);
        }
        for (Child &started : hosts) {
            ResumeThread(started.thread);
        }
        for (Child &started : hosts) {
            ChildResult run = FinishChild(&started, 60000);
            DWORD exitCode = run.finished ? run.exitCode : 0xDEAD;
            launched += exitCode == 42;
            EXPECT_EQ(42u, exitCode) << "round " << round;
        }
        EXPECT_TRUE(payloadBytes == FileBytes(payload)) << "round " << round;
        EXPECT_EQ(1u, FolderEntries(RuntimeFolder()).size())
            << "round " << round << ": nothing left beside the payload";
    }
    EXPECT_EQ(kRounds * kHosts, launched);
    for (const SeenNotice &notice : watcher.Seen()) {
        ADD_FAILURE() << "notice: " << testing::PrintToString(notice.text);
    }
}

// Another process keeps a copy of the wrong size open for writing (a host of an older kind still writing it, a
// copy in progress): it cannot be trusted or replaced, so the start fails with the extraction notice and touches
// nothing; once the other process lets go, the next start succeeds.
TEST_F(Extraction, ACopyAnotherProcessHoldsForWritingIsLeftAlone)
{
    const std::string wrong(payloadBytes_.size() / 2, 'x');
    for (DWORD share : {0ul, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)}) {
        SCOPED_TRACE(share);
        RemoveTree(VendorFolder());
        MakeRuntimeFolder();
        ASSERT_TRUE(WriteBytes(payload_, wrong.data(), wrong.size()));
        FileHolder holder(payload_, share);
        bool holding = holder.holding();
        std::vector<SeenNotice> seen;
        DWORD whileHeld = holding ? Run(host_, &seen) : 0xDEAD;
        std::vector<std::wstring> entriesWhileHeld = FolderEntries(RuntimeFolder());
        DWORD holderExit = holder.Release();
        std::string bytesAfter = FileBytes(payload_);

        ASSERT_TRUE(holding) << "the helper did not hold the file";
        EXPECT_EQ(0u, holderExit);
        EXPECT_EQ(2u, whileHeld);
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ(kExtractionNotice, seen[0].text);
        EXPECT_TRUE(wrong == bytesAfter) << "the held copy was changed";
        EXPECT_EQ(std::vector<std::wstring>{PayloadName()}, entriesWhileHeld) << "no temporary copy left behind";
        EXPECT_EQ(42u, Run(host_, &seen)) << "released, the next start succeeds";
        EXPECT_TRUE(payloadBytes_ == FileBytes(payload_));
    }
}

// A host built with an empty payload resource, or with none: the folder levels exist, no file is written or
// started, and the start ends with the extraction notice.
TEST_F(Extraction, AnEmptyOrMissingPayloadFailsBeforeAnyFileIsWritten)
{
    for (const wchar_t *host : {L"VelvaroHostEmpty.exe", L"VelvaroHostNoPayload.exe"}) {
        SCOPED_TRACE(testing::Message() << host);
        RemoveTree(VendorFolder());
        std::vector<SeenNotice> seen;
        EXPECT_EQ(2u, Run(BuiltExe(host), &seen));
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ(kExtractionNotice, seen[0].text);
        EXPECT_TRUE(IsFolder(RuntimeFolder()));
        EXPECT_TRUE(FolderEntries(RuntimeFolder()).empty());
    }
}

// A local application data folder of exactly `length` characters, made of nested folders under the temp folder.
std::wstring FolderOfLength(const std::wstring &root, size_t length)
{
    std::wstring path = root;
    CreateDirectoryW(path.c_str(), nullptr);
    while (path.size() < length) {
        size_t segment = length - path.size() - 1;  // without its backslash
        if (segment > 100) {
            segment = 100;
        }
        if (length - path.size() - 1 - segment == 1) {
            --segment;  // never leave a gap of 1, which a further segment could not fill
        }
        path += L"\\" + std::wstring(segment, static_cast<wchar_t>(L'a' + path.size() % 26));
        CreateDirectoryW(path.c_str(), nullptr);
    }
    return path;
}

TEST_F(Extraction, PathsOf260CharactersOrMoreFailWithoutTruncation)
{
    // The runtime folder adds "\Oristane" (9), "\Velvaro" (8) and "\runtime" (8); the file name 22 more.
    std::wstring root = ScratchDir(L"long");
    struct {
        size_t length;
        DWORD exitCode;
        const wchar_t *lastLevel;  // the deepest level that exists afterwards, relative to the folder
    } const cases[] = {
        {212, 42, L"\\Oristane\\Velvaro\\runtime"},  // payload path of exactly 259 characters
        {213, 2, L"\\Oristane\\Velvaro\\runtime"},   // 260: no file is written
        {234, 2, L"\\Oristane\\Velvaro\\runtime"},   // runtime folder of 259
        {235, 2, L"\\Oristane\\Velvaro"},            // runtime folder would be 260
        {242, 2, L"\\Oristane\\Velvaro"},
        {243, 2, L"\\Oristane"},
        {250, 2, L"\\Oristane"},
        {251, 2, L""},
    };
    for (const auto &c : cases) {
        std::wstring folder = FolderOfLength(root + L"\\" + std::to_wstring(c.length), c.length);
        ASSERT_EQ(c.length, folder.size());
        RedirectLocalAppData(folder);
        ASSERT_EQ(folder, LocalAppData());

        std::vector<SeenNotice> seen;
        EXPECT_EQ(c.exitCode, Run(host_, &seen)) << c.length;
        EXPECT_EQ(c.exitCode == 2 ? 1u : 0u, seen.size()) << c.length;
        std::wstring deepest = folder + c.lastLevel;
        EXPECT_TRUE(IsFolder(deepest)) << c.length;
        // Nothing below the deepest level: no truncated folder or file was created.
        WIN32_FIND_DATAW found;
        HANDLE search = FindFirstFileW((deepest + L"\\*").c_str(), &found);
        int entries = 0;
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = found.cFileName;
                entries += name != L"." && name != L"..";
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        int expected = c.exitCode == 42 ? 1 : (c.length == 251 ? -1 : 0);
        if (expected >= 0) {
            EXPECT_EQ(expected, entries) << c.length;
        }
        RestoreLocalAppData();
    }
}

}  // namespace
