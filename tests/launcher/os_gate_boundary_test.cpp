// The operating-system gate at its import boundary: versions Wine cannot report (Windows 7 service packs beyond what
// AppDefaults offers, 6.4, 7.0), a missing or failing RtlGetVersion, and the exact style of each notice, which Wine's
// message boxes do not show (no topmost flag, per-process icons). The product's imports of GetModuleHandleW,
// GetProcAddress and MessageBoxW are stand-ins here.
#include <gtest/gtest.h>

#include <string>

#include "launcher/os_gate.h"
#include "support/box_recorder.h"
#include "support/expected_text.h"
#include "support/stand_in.h"

namespace {

struct Script {
    bool noNtdll = false;
    bool noRtlGetVersion = false;
    LONG status = 0;
    ULONG major = 10, minor = 0;
    USHORT servicePack = 0;
};
Script script;
ULONG sizeSeen;
bool recordZeroed;

LONG WINAPI FakeRtlGetVersion(RTL_OSVERSIONINFOEXW *version)
{
    sizeSeen = version->dwOSVersionInfoSize;
    RTL_OSVERSIONINFOEXW zero = {};
    zero.dwOSVersionInfoSize = version->dwOSVersionInfoSize;
    recordZeroed = memcmp(&zero, version, sizeof(zero)) == 0;
    version->dwMajorVersion = script.major;
    version->dwMinorVersion = script.minor;
    version->wServicePackMajor = script.servicePack;
    version->wProductType = VER_NT_SERVER;  // never examined
    return script.status;
}

HMODULE WINAPI StandInGetModuleHandleW(LPCWSTR name)
{
    if (script.noNtdll && name != nullptr && lstrcmpiW(name, L"ntdll.dll") == 0) {
        return nullptr;
    }
    return REAL_IMPORT(L"kernel32.dll", GetModuleHandleW)(name);
}

FARPROC WINAPI StandInGetProcAddress(HMODULE module, LPCSTR name)
{
    if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF && lstrcmpA(name, "RtlGetVersion") == 0) {
        return script.noRtlGetVersion ? nullptr : reinterpret_cast<FARPROC>(reinterpret_cast<void *>(&FakeRtlGetVersion));
    }
    return standin::RealGetProcAddress(module, name);
}

}  // namespace

REPLACE_IMPORT(GetModuleHandleW, 4, StandInGetModuleHandleW);
REPLACE_IMPORT(GetProcAddress, 8, StandInGetProcAddress);
REPLACE_IMPORT(MessageBoxW, 16, standin::RecordMessageBoxW);

namespace {

using bench::text::kNeedsServicePack;
using bench::text::kTooOld;

TEST(OsGateBoundary, EachVersionAndQueryOutcome)
{
    struct {
        const char *what;
        Script script;
        bool passes;
        DWORD exitCode;
        const wchar_t *notice;
        UINT style;
    } const cases[] = {
        {"5.1 SP3", {false, false, 0, 5, 1, 3}, false, 2, kTooOld, 0x10010},
        {"5.2", {false, false, 0, 5, 2, 2}, false, 2, kTooOld, 0x10010},
        {"6.0 SP2", {false, false, 0, 6, 0, 2}, false, 2, kTooOld, 0x10010},
        {"6.1 RTM", {false, false, 0, 6, 1, 0}, false, 1, kNeedsServicePack, 0x50041},
        {"6.1 SP1", {false, false, 0, 6, 1, 1}, true, 0, nullptr, 0},
        {"6.1 SP2", {false, false, 0, 6, 1, 2}, true, 0, nullptr, 0},
        {"6.2", {false, false, 0, 6, 2, 0}, true, 0, nullptr, 0},
        {"6.3", {false, false, 0, 6, 3, 0}, true, 0, nullptr, 0},
        {"6.4", {false, false, 0, 6, 4, 0}, true, 0, nullptr, 0},
        {"7.0", {false, false, 0, 7, 0, 0}, true, 0, nullptr, 0},
        {"10.0", {false, false, 0, 10, 0, 0}, true, 0, nullptr, 0},
        {"5.1 but no ntdll handle", {true, false, 0, 5, 1, 0}, true, 0, nullptr, 0},
        {"5.1 but no RtlGetVersion", {false, true, 0, 5, 1, 0}, true, 0, nullptr, 0},
        {"6.1 RTM but a failure status", {false, false, static_cast<LONG>(0xC0000001), 6, 1, 0}, true, 0, nullptr, 0},
    };
    standin::recordedBoxAnswer = IDCANCEL;  // a merchant's Cancel changes nothing either
    for (const auto &c : cases) {
        script = c.script;
        standin::recordedBoxes.clear();
        sizeSeen = 0;
        DWORD exitCode = 0xDEAD;
        EXPECT_EQ(c.passes, PassesOsGate(&exitCode)) << c.what;
        if (c.passes) {
            EXPECT_TRUE(standin::recordedBoxes.empty()) << c.what;
            EXPECT_EQ(0xDEADu, exitCode) << c.what;
            continue;
        }
        EXPECT_EQ(c.exitCode, exitCode) << c.what;
        standin::RecordedBox box = standin::TheRecordedBox();
        EXPECT_EQ(c.notice, box.text) << c.what;
        EXPECT_EQ(bench::text::kCaption, box.caption);
        EXPECT_EQ(c.style, box.style) << c.what;
        EXPECT_EQ(nullptr, box.owner);
        EXPECT_EQ(284u, sizeSeen);
        EXPECT_TRUE(recordZeroed) << "the record reaches RtlGetVersion zeroed but for its size";
    }
    script = Script();
    standin::recordedBoxAnswer = IDOK;
}

}  // namespace
