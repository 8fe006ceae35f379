// Temporary copies that interrupted extractions left in the runtime folder, met by the real host twin when it writes
// a new copy: the abandoned ones go; one that another process holds open (whatever it shares), one whose writer still
// runs, and every name that merely resembles the pattern stay.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <vector>

#include "support/file_holder.h"
#include "support/host_bench.h"
#include "support/notice_watcher.h"

using namespace bench;

namespace {

std::wstring Hex8(DWORD value)
{
    wchar_t text[16];
    wsprintfW(text, L"%08lX", value);
    return text;
}

// A process id that no process has any more: a child's that has ended and been closed.
DWORD EndedProcessId()
{
    SelfChild helper = SelfAsChild(L"exit");
    Child child = StartChild(helper.app, helper.commandLine);
    DWORD id = child.processId;
    return FinishChild(&child, 20000).started ? id : 0;
}

TEST(StaleCopies, TheHostRemovesOnlyAbandonedTemporaryCopiesWhenItWritesANewOne)
{
    PrepareLaunchMachine();
    MakeRuntimeFolder();
    std::wstring payload = PayloadFileFor(BuiltExe(L"demo_payload.exe"));
    std::wstring hash = Hex8(Fnv1aOfFile(BuiltExe(L"demo_payload.exe")));
    DWORD ended = EndedProcessId();
    ASSERT_NE(0u, ended);
    std::wstring gone = Hex8(ended);
    std::wstring living = Hex8(GetCurrentProcessId());

    struct {
        std::wstring name;
        bool folder;
        DWORD holdShare;  // ~0u: nobody holds it
        bool stays;
    } const cases[] = {
        // Abandoned: this payload's, and an earlier payload's.
        {hash + L"-" + gone + L".tmp", false, ~0u, false},
        {L"0BADF00D-" + gone + L".tmp", false, ~0u, false},
        // Held open by another process, sharing nothing or everything (a delete would only be pending).
        {L"0BADF00E-" + gone + L".tmp", false, 0, true},
        {L"0BADF00F-" + gone + L".tmp", false, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
        // Its writer still runs: between closing its copy and moving it, nobody holds it.
        {hash + L"-" + living + L".tmp", false, ~0u, true},
        // Names that only resemble the pattern, and a folder that has it. (Names differing only in case would be one
        // file on this file system: each look-alike has a number of its own.)
        {L"0badf02d-" + gone + L".tmp", false, ~0u, true},
        {L"0BADF03D-" + gone + L".TMP", false, ~0u, true},
        {L"0BADF00D-" + gone + L".tmp.bak", false, ~0u, true},
        {L"0BADF00D-" + gone + L"0.tmp", false, ~0u, true},
        {L"0BADF0D-" + gone + L".tmp", false, ~0u, true},
        {L"0BADF00D_" + gone + L".tmp", false, ~0u, true},
        {L"0BADF00G-" + gone + L".tmp", false, ~0u, true},
        {L"x0BADF00D-" + gone + L".tmp", false, ~0u, true},
        {L"0BADF01D-" + gone + L".tmp", true, ~0u, true},
        {L"notes.tmp", false, ~0u, true},
    };
    std::deque<FileHolder> holders;  // not copyable: a deque keeps each in place
    std::vector<std::wstring> expected = {payload.substr(payload.find_last_of(L'\\') + 1)};
    for (const auto &c : cases) {
        std::wstring path = RuntimeFolder() + L"\\" + c.name;
        if (c.folder) {
            ASSERT_TRUE(CreateDirectoryW(path.c_str(), nullptr));
        } else {
            ASSERT_TRUE(WriteBytes(path, "partial", 7));
        }
        if (c.holdShare != ~0u) {
            holders.emplace_back(path, c.holdShare);
        }
        if (c.stays) {
            expected.push_back(c.name);
        }
    }
    std::sort(expected.begin(), expected.end());

    NoticeWatcher watcher;
    bool allHolding = std::all_of(holders.begin(), holders.end(), [](const FileHolder &h) { return h.holding(); });
    ChildResult run = allHolding ? RunHost(BuiltExe(L"VelvaroHost.exe"), L"--exit-code=42") : ChildResult{};
    for (FileHolder &holder : holders) {
        holder.Release();
    }
    // Read after the holders let go: a deletion that was merely pending would have completed by now.
    std::vector<std::wstring> after = FolderEntries(RuntimeFolder());
    ClearLaunchMachine();

    ASSERT_TRUE(allHolding) << "a helper did not hold its file";
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(42u, run.exitCode) << "the payload was written and ran";
    EXPECT_TRUE(watcher.Seen().empty());
    EXPECT_EQ(expected, after);
}

}  // namespace
