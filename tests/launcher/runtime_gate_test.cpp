// The runtime gate against real keys of the bench prefix: the flag read in each registry view, with the value types
// and sizes a broken or partial setup leaves behind, and what the host does with it.
#include <gtest/gtest.h>

#include "launcher/runtime_gate.h"
#include "support/host_bench.h"
#include "support/expected_text.h"
#include "installer/installer_context.h"
#include "support/installer_driver.h"
#include "support/notice_watcher.h"
#include "support/road_bench.h"

using namespace bench;

namespace {

// The host under test is built for the same target as this program.
constexpr bool kHostIs32Bit = sizeof(void *) == 4;

class RuntimeGate : public ::testing::Test {
protected:
    void SetUp() override
    {
        ClearRuntimeFlags();
        report_ = ScratchDir(L"runtime-gate") + L"\\report.txt";
        SetEnvironmentVariableW(L"DEMO_PAYLOAD_REPORT", report_.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"DEMO_PAYLOAD_REPORT", nullptr);
        ClearRuntimeFlags();
    }
    std::wstring report_;
};

void SetInstall(REGSAM view, DWORD type, const void *data, DWORD size)
{
    ASSERT_TRUE(SetRegValue(HKEY_LOCAL_MACHINE, kNetSetupKey, L"Install", type, data, size, view));
}

TEST_F(RuntimeGate, ReadsOnlyAFourByteDword)
{
    const DWORD one = 1;
    const DWORD two = 2;
    const ULONGLONG wideOne = 1;
    const wchar_t textOne[] = L"1";
    const BYTE shortOne[2] = {1, 0};
    struct {
        const char *what;
        DWORD type;
        const void *data;
        DWORD size;
        bool read;
        DWORD value;
    } const cases[] = {
        {"dword 1", REG_DWORD, &one, 4, true, 1},
        {"dword 2 (the caller judges the value)", REG_DWORD, &two, 4, true, 2},
        {"string \"1\"", REG_SZ, textOne, sizeof(textOne), false, 0},
        {"qword 1", REG_QWORD, &wideOne, 8, false, 0},
        {"binary 01000000", REG_BINARY, &one, 4, false, 0},
        {"dword of 2 bytes", REG_DWORD, shortOne, 2, false, 0},
    };
    for (const auto &c : cases) {
        SetInstall(0, c.type, c.data, c.size);
        DWORD value = 0;
        EXPECT_EQ(c.read, ReadRuntimeInstallFlag(0, &value)) << c.what;
        if (c.read) {
            EXPECT_EQ(c.value, value) << c.what;
        }
    }
}

TEST_F(RuntimeGate, ReadsEachViewOnItsOwnAndLeavesTheValueAloneWithoutAKey)
{
    DeleteRegTree(HKEY_LOCAL_MACHINE, kNetSetupKey, KEY_WOW64_64KEY);
    DeleteRegTree(HKEY_LOCAL_MACHINE, kNetSetupKey, KEY_WOW64_32KEY);
    DWORD value = 0xABCD;
    EXPECT_FALSE(ReadRuntimeInstallFlag(0, &value));
    EXPECT_FALSE(ReadRuntimeInstallFlag(KEY_WOW64_32KEY, &value));
    EXPECT_EQ(0xABCDu, value);

    SetRuntimeFlag(KEY_WOW64_32KEY, 1);
    // The default view of a 32-bit process on 64-bit Windows is the 32-bit one; the twin's is the 64-bit one.
    EXPECT_EQ(kHostIs32Bit, ReadRuntimeInstallFlag(0, &value));
    EXPECT_TRUE(ReadRuntimeInstallFlag(KEY_WOW64_32KEY, &value));
    EXPECT_EQ(1u, value);

    DeleteRegTree(HKEY_LOCAL_MACHINE, kNetSetupKey, KEY_WOW64_32KEY);
    SetRuntimeFlag(KEY_WOW64_64KEY, 1);
    value = 0xABCD;
    EXPECT_EQ(!kHostIs32Bit, ReadRuntimeInstallFlag(0, &value));
    EXPECT_FALSE(ReadRuntimeInstallFlag(KEY_WOW64_32KEY, &value));
    EXPECT_EQ(kHostIs32Bit ? 0xABCDu : 1u, value);
}

TEST_F(RuntimeGate, TheHostLaunchesWhenEitherViewSaysInstalled)
{
    const DWORD one = 1;
    const DWORD two = 2;
    const wchar_t textOne[] = L"1";
    struct Setting {
        DWORD type;  // 0: no value in this view
        const void *data;
        DWORD size;
    };
    const Setting none = {0, nullptr, 0};
    const Setting dword1 = {REG_DWORD, &one, 4};
    const Setting dword2 = {REG_DWORD, &two, 4};
    const Setting string1 = {REG_SZ, textOne, sizeof(textOne)};
    // The 32-bit product reads the 32-bit view twice (its default view is that one on 64-bit Windows), so a flag in
    // the 64-bit view alone launches only the twin. The runtime's setup writes both views, so a real machine with
    // the runtime launches either build.
    struct {
        const char *what;
        Setting view64;
        Setting view32;
        bool launchesTwin;
        bool launchesProduct;
    } const cases[] = {
        {"64-bit view only", dword1, none, true, false},
        {"32-bit view only", none, dword1, true, true},
        {"64-bit 2, 32-bit 1", dword2, dword1, true, true},
        {"64-bit string, 32-bit 1", string1, dword1, true, true},
        {"64-bit 1, 32-bit string", dword1, string1, true, false},
        {"2 in both", dword2, dword2, false, false},
        {"string in both", string1, string1, false, false},
        {"none", none, none, false, false},
    };
    std::wstring host = BuiltExe(L"VelvaroHost.exe");
    for (const auto &c : cases) {
        ClearRuntimeFlags();
        if (c.view64.type != 0) {
            SetInstall(KEY_WOW64_64KEY, c.view64.type, c.view64.data, c.view64.size);
        }
        if (c.view32.type != 0) {
            SetInstall(KEY_WOW64_32KEY, c.view32.type, c.view32.data, c.view32.size);
        }
        DeleteFileW(report_.c_str());
        NoticeWatcher watcher;
        RunningHost running = StartHost(host, L"--exit-code=42");
        ASSERT_TRUE(running.started) << c.what;
        // Without the runtime the installer window of the runtime opens instead of the payload; closing it ends
        // the run with its result. With the runtime, no window opens (the same search finds it on the other road).
        // The prefix's own Windows version decides which window that is: the runtime's (closing gives 1223) or,
        // on Windows 7, the first update's (closing gives 1).
        bool window = false;
        DWORD closedCode = 0;
        WaitFor(
            [&] {
                HWND found = FindWindowW(text::kClass, nullptr);
                if (found != nullptr && IsWindowVisible(found)) {
                    window = true;
                    closedCode = ReadWindow(found).title == text::kRuntimeTitle ? 1223 : 1;
                    PostMessageW(found, WM_COMMAND, MAKEWPARAM(IDC_CLOSE, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(GetDlgItem(found, IDC_CLOSE)));
                }
                return WaitForSingleObject(running.process, 0) == WAIT_OBJECT_0;
            },
            30000);
        ChildResult run = FinishHost(&running, 5000);
        ASSERT_TRUE(run.finished) << c.what;
        const bool launches = kHostIs32Bit ? c.launchesProduct : c.launchesTwin;
        EXPECT_EQ(launches ? 42u : closedCode, run.exitCode) << c.what;
        EXPECT_EQ(!launches, window) << c.what;
        EXPECT_EQ(launches, FileExists(report_)) << c.what;
        EXPECT_TRUE(watcher.Seen().empty()) << c.what;
    }
}

TEST_F(RuntimeGate, WithoutTheRuntimeAndWithoutAVisibleStationTheHostEndsWith1AtOnce)
{
    ChildResult run = RunHost(BuiltExe(L"VelvaroHost.exe"), L"--exit-code=42", 15000, kInvisibleDesktop);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(1u, run.exitCode);
    EXPECT_FALSE(FileExists(report_));
}

}  // namespace
