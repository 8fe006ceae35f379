// Extraction at its import boundary, in a test program that carries the demo payload as its own resource and calls
// what wWinMain calls: the window between the content check and the payload's creation, where an unelevated program
// would swap the file under an elevated host, Windows' refusal to replace a read-only file by a move, which Wine
// does not make, the old copy that Windows' replace holds open for an instant, and the order in which a new copy
// reaches the disk. CreateProcessW, MoveFileExW, WriteFile and FlushFileBuffers are stand-ins here that forward to the
// real functions.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "payload/extract.h"
#include "payload/launch.h"
#include "support/file_holder.h"
#include "support/host_bench.h"
#include "support/stand_in.h"

using namespace bench;

namespace {

// Results of tampering with the payload file at the moment its process is about to be created.
struct Tampering {
    bool tried;
    DWORD writeFromAnotherProcess;  // the file holder's: 0 when it could open the file for writing
    DWORD deleteError;              // 0 when DeleteFileW succeeded
    DWORD replaceError;             // 0 when MoveFileExW replaced the file
};
Tampering tampering;
std::wstring tamperPath;
std::wstring tamperSource;
bool refuseReadOnlyTargets = false;
// Windows' replace opens the old copy for an instant (Wine's rename does not); here the instant lasts while this runs.
std::function<void()> whileTargetHeld;
DWORD openWhileHeld;  // error of a host's reading open of the held copy, 0 when it opened
// The calls that put a new copy in place, in order, while a test records them.
bool recordCalls = false;
std::vector<std::string> calls;
HANDLE written = nullptr;
HANDLE flushed = nullptr;

DWORD WriteFromAnotherProcess(const std::wstring &path)
{
    FileHolder holder(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    return holder.Release();
}

DWORD Attempt(BOOL succeeded)
{
    return succeeded ? 0 : GetLastError();
}

BOOL WINAPI StandInMoveFileExW(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    if (recordCalls) {
        calls.push_back("move");
    }
    if (whileTargetHeld) {
        std::function<void()> during = whileTargetHeld;
        whileTargetHeld = nullptr;
        // The most lenient way to hold it: a host's check, which shares no deletion, still cannot open it.
        HANDLE target = CreateFileW(to, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        HANDLE probe = CreateFileW(to, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        openWhileHeld = probe == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (probe != INVALID_HANDLE_VALUE) {
            CloseHandle(probe);
        }
        during();
        if (target != INVALID_HANDLE_VALUE) {
            CloseHandle(target);
        }
    }
    DWORD attributes = to != nullptr ? GetFileAttributesW(to) : INVALID_FILE_ATTRIBUTES;
    if (refuseReadOnlyTargets && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        SetLastError(ERROR_ACCESS_DENIED);  // as Windows answers a move onto a read-only file
        return FALSE;
    }
    return REAL_IMPORT(L"kernel32.dll", MoveFileExW)(from, to, flags);
}

BOOL WINAPI StandInWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD done, LPOVERLAPPED overlapped)
{
    if (recordCalls) {
        calls.push_back("write");
        written = file;
    }
    return REAL_IMPORT(L"kernel32.dll", WriteFile)(file, data, size, done, overlapped);
}

BOOL WINAPI StandInFlushFileBuffers(HANDLE file)
{
    if (recordCalls) {
        calls.push_back("flush");
        flushed = file;
    }
    return REAL_IMPORT(L"kernel32.dll", FlushFileBuffers)(file);
}

// A host started as a merchant would start it, in a window station of its own, where a failing start ends at once
// without a notice.
struct SecondHost {
    HANDLE thread;
    ChildResult run;
};

DWORD WINAPI RunSecondHost(void *host)
{
    static_cast<SecondHost *>(host)->run = RunHost(BuiltExe(L"VelvaroHost.exe"), L"", 30000, kInvisibleDesktop);
    return 0;
}

BOOL WINAPI StandInCreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                  LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags,
                                  LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startup,
                                  LPPROCESS_INFORMATION process)
{
    if (!tamperPath.empty() && !tampering.tried) {  // the helper's own creation passes straight through
        tampering.tried = true;
        tampering.writeFromAnotherProcess = WriteFromAnotherProcess(tamperPath);
        tampering.deleteError = Attempt(DeleteFileW(tamperPath.c_str()));
        tampering.replaceError = Attempt(REAL_IMPORT(L"kernel32.dll", MoveFileExW)(
            tamperSource.c_str(), tamperPath.c_str(), MOVEFILE_REPLACE_EXISTING));
    }
    return REAL_IMPORT(L"kernel32.dll", CreateProcessW)(application, commandLine, processAttributes, threadAttributes,
                                                        inherit, flags, environment, directory, startup, process);
}

}  // namespace

REPLACE_IMPORT(MoveFileExW, 12, StandInMoveFileExW);
REPLACE_IMPORT(CreateProcessW, 40, StandInCreateProcessW);
REPLACE_IMPORT(WriteFile, 20, StandInWriteFile);
REPLACE_IMPORT(FlushFileBuffers, 4, StandInFlushFileBuffers);

namespace {

class ExtractBoundary : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveTree(bench::VendorFolder());
        tampering = Tampering();
        tamperPath.clear();
        refuseReadOnlyTargets = false;
        whileTargetHeld = nullptr;
        openWhileHeld = 0;
        recordCalls = false;
        calls.clear();
        ASSERT_TRUE(ReadBytes(BuiltExe(L"demo_payload.exe"), &payloadBytes_));
    }
    void TearDown() override
    {
        tamperPath.clear();
        refuseReadOnlyTargets = false;
        whileTargetHeld = nullptr;
        recordCalls = false;
        bench::ClearLaunchMachine();
    }
    // A copy of the payload's size but other bytes, in the place of the payload; path receives that place.
    void PlaceWrongCopy(wchar_t *path)
    {
        HANDLE held = INVALID_HANDLE_VALUE;
        ASSERT_TRUE(ExtractPayload(path, &held));
        CloseHandle(held);
        std::string zeros(payloadBytes_.size(), '\0');
        ASSERT_TRUE(WriteBytes(path, zeros.data(), zeros.size()));
    }
    std::string payloadBytes_;
};

// What the host checked is what it starts: from the check until the payload has run, the file can be neither
// written (from another process), deleted nor replaced. Once the host lets go, the same attempts succeed.
TEST_F(ExtractBoundary, TheCheckedCopyCannotBeSwappedBeforeItRuns)
{
    std::wstring scratch = ScratchDir(L"extract-boundary");
    tamperSource = scratch + L"\\swap.exe";
    ASSERT_TRUE(CopyFileW(BuiltExe(L"demo_payload_v2.exe").c_str(), tamperSource.c_str(), FALSE));

    wchar_t path[MAX_PATH];
    HANDLE held = INVALID_HANDLE_VALUE;
    ASSERT_TRUE(ExtractPayload(path, &held));
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    tamperPath = path;
    EXPECT_EQ(0u, LaunchPayload(path));
    tamperPath.clear();
    CloseHandle(held);

    ASSERT_TRUE(tampering.tried);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), tampering.writeFromAnotherProcess);
    EXPECT_NE(0u, tampering.deleteError);
    EXPECT_NE(0u, tampering.replaceError);
    std::string bytes;
    ASSERT_TRUE(ReadBytes(path, &bytes));
    EXPECT_TRUE(payloadBytes_ == bytes) << "the file was swapped";

    EXPECT_EQ(0u, WriteFromAnotherProcess(path)) << "released, the file can be written";
    EXPECT_TRUE(DeleteFileW(path)) << "released, the file can be deleted: " << GetLastError();
}

// Windows will not move a file onto a read-only one; a wrong copy marked so is cleared first, not kept for ever.
TEST_F(ExtractBoundary, AReadOnlyWrongCopyIsReplacedWhereMovesRefuseReadOnlyFiles)
{
    wchar_t path[MAX_PATH];
    HANDLE held = INVALID_HANDLE_VALUE;
    ASSERT_NO_FATAL_FAILURE(PlaceWrongCopy(path));
    ASSERT_TRUE(SetFileAttributesW(path, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    refuseReadOnlyTargets = true;

    ASSERT_TRUE(ExtractPayload(path, &held));
    CloseHandle(held);
    std::string bytes;
    ASSERT_TRUE(ReadBytes(path, &bytes));
    EXPECT_TRUE(payloadBytes_ == bytes);
}

// Hosts started together take turns to replace a wrong copy: a second host that checked the copy while the first
// one's move held it would fail its start with a sharing violation.
TEST_F(ExtractBoundary, ASecondHostWaitsItsTurnWhileAMoveHoldsTheOldCopy)
{
    SetRuntimeFlag(0);
    wchar_t path[MAX_PATH];
    HANDLE held = INVALID_HANDLE_VALUE;
    ASSERT_NO_FATAL_FAILURE(PlaceWrongCopy(path));

    SecondHost second = {};
    whileTargetHeld = [&second] {
        second.thread = CreateThread(nullptr, 0, RunSecondHost, &second, 0, nullptr);
        // Long enough for a host that does not wait its turn to check the copy and fail.
        WaitForSingleObject(second.thread, 3000);
    };
    ASSERT_TRUE(ExtractPayload(path, &held));
    CloseHandle(held);
    ASSERT_NE(nullptr, second.thread) << "no move held the old copy";
    EXPECT_EQ(static_cast<DWORD>(WAIT_OBJECT_0), WaitForSingleObject(second.thread, 40000));
    CloseHandle(second.thread);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), openWhileHeld) << "the held copy could be checked";
    EXPECT_TRUE(second.run.finished);
    EXPECT_EQ(0u, second.run.exitCode) << "the second host failed its start";
}

// A power cut just after the move must not leave a copy whose bytes never reached the disk under the final name.
TEST_F(ExtractBoundary, ANewCopyIsFlushedThroughItsOwnHandleBeforeItIsMoved)
{
    wchar_t path[MAX_PATH];
    HANDLE held = INVALID_HANDLE_VALUE;
    recordCalls = true;
    bool extracted = ExtractPayload(path, &held);
    recordCalls = false;
    ASSERT_TRUE(extracted);
    CloseHandle(held);
    EXPECT_EQ(calls, (std::vector<std::string>{"write", "flush", "move"}));
    EXPECT_EQ(flushed, written);
}

}  // namespace
