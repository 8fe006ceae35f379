// The chain's decisions, linked against stand-ins: this program defines RunInstallerWindow and
// IsServicingPackageInstalled itself (so the linker never pulls the real window or probe), and puts stand-ins in front
// of the chain's imports of GetNativeSystemInfo, MessageBoxW and GetProcAddress (for RtlGetVersion). Every window the
// chain opens, every probe and every notice is recorded, with the result each window was scripted to return.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "installer/installer_window.h"
#include "launcher/prerequisite_chain.h"
#include "prereq/catalog.h"
#include "prereq/servicing_probe.h"
#include "support/box_recorder.h"
#include "support/expected_text.h"
#include "support/stand_in.h"

namespace {

const DWORD kAlreadyInstalled = 0x240006;  // WU_S_ALREADY_INSTALLED
const DWORD kNotApplicable = 0x80240017;    // WU_E_NOT_APPLICABLE

// What the machine looks like and what each window will return, in the order the windows open.
struct Machine {
    bool versionFails = false;
    ULONG major = 6, minor = 1;
    WORD architecture = PROCESSOR_ARCHITECTURE_AMD64;
    std::map<std::wstring, bool> installed;  // by KB identifier
    std::vector<DWORD> results;              // one per window
    bool resultZeroInstalls = true;          // a window returning 0 leaves its update installed
};

Machine machine;
std::vector<const PrerequisiteItem *> windows;
std::vector<std::wstring> probes;
int architectureQueries;

void Reset(const Machine &m)
{
    machine = m;
    windows.clear();
    probes.clear();
    architectureQueries = 0;
    standin::recordedBoxes.clear();
}

LONG WINAPI FakeRtlGetVersion(RTL_OSVERSIONINFOEXW *version)
{
    version->dwMajorVersion = machine.major;
    version->dwMinorVersion = machine.minor;
    version->wServicePackMajor = 1;
    return machine.versionFails ? static_cast<LONG>(0xC0000001) : 0;
}

FARPROC WINAPI StandInGetProcAddress(HMODULE module, LPCSTR name)
{
    if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF && lstrcmpA(name, "RtlGetVersion") == 0) {
        return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(&FakeRtlGetVersion));
    }
    return standin::RealGetProcAddress(module, name);
}

void WINAPI StandInGetNativeSystemInfo(SYSTEM_INFO *info)
{
    ++architectureQueries;
    SYSTEM_INFO zero = {};
    EXPECT_EQ(0, memcmp(&zero, info, sizeof(zero))) << "the record reaches the query zeroed";
    info->wProcessorArchitecture = machine.architecture;
    info->dwNumberOfProcessors = 2;
}

}  // namespace

REPLACE_IMPORT(GetProcAddress, 8, StandInGetProcAddress);
REPLACE_IMPORT(GetNativeSystemInfo, 4, StandInGetNativeSystemInfo);
REPLACE_IMPORT(MessageBoxW, 16, standin::RecordMessageBoxW);

// The link seam: these replace the installer window and the servicing probe for the chain in this program.
DWORD RunInstallerWindow(const PrerequisiteItem *item)
{
    windows.push_back(item);
    if (windows.size() > machine.results.size()) {
        ADD_FAILURE() << "a window the case did not expect";
        return 1223;
    }
    DWORD result = machine.results[windows.size() - 1];
    if (result == 0 && machine.resultZeroInstalls && item->kbId != nullptr) {
        machine.installed[item->kbId] = true;
    }
    return result;
}

bool IsServicingPackageInstalled(const wchar_t *kbId)
{
    probes.push_back(kbId != nullptr ? kbId : L"(null)");
    return kbId != nullptr && machine.installed[kbId];
}

namespace {

const PrerequisiteItem *const kSsu64 = &ServicingStackUpdateX64;
const PrerequisiteItem *const kSha64 = &Sha2UpdateX64;
const PrerequisiteItem *const kSsu86 = &ServicingStackUpdateX86;
const PrerequisiteItem *const kSha86 = &Sha2UpdateX86;
const PrerequisiteItem *const kNet = &NetFramework48;
const wchar_t kSsu[] = L"KB4490628";
const wchar_t kSha[] = L"KB4474419";

struct Case {
    const char *what;
    Machine machine;
    std::vector<const PrerequisiteItem *> windows;
    std::vector<std::wstring> probes;
    bool restartNotice;
    DWORD exitCode;
};

void Check(const Case &c)
{
    SCOPED_TRACE(c.what);
    Reset(c.machine);
    DWORD exitCode = RunPrerequisiteChain();
    EXPECT_EQ(c.exitCode, exitCode);
    EXPECT_EQ(c.windows, windows);
    EXPECT_EQ(c.probes, probes);
    ASSERT_EQ(c.restartNotice ? 1u : 0u, standin::recordedBoxes.size());
    if (c.restartNotice) {
        EXPECT_EQ(nullptr, standin::recordedBoxes[0].owner);
        EXPECT_EQ(bench::text::kRestart, standin::recordedBoxes[0].text);
        EXPECT_EQ(bench::text::kCaption, standin::recordedBoxes[0].caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONINFORMATION | MB_SETFOREGROUND), standin::recordedBoxes[0].style);
        EXPECT_EQ(0x10040u, standin::recordedBoxes[0].style);
    }
}

Machine Win7(std::vector<DWORD> results, bool ssuInstalled = false, bool shaInstalled = false)
{
    Machine m;
    m.results = std::move(results);
    m.installed[kSsu] = ssuInstalled;
    m.installed[kSha] = shaInstalled;
    return m;
}

TEST(PrerequisiteChain, EveryResultAfterTheFirstUpdateWindow)
{
    Machine stillMissing = Win7({0});
    stillMissing.resultZeroInstalls = false;
    const Case cases[] = {
        {"0, then listed installed: the second update's probe follows", Win7({0, 0, 0}), {kSsu64, kSha64, kNet},
         {kSsu, kSsu, kSha, kSha}, false, 0},
        {"0 but not listed yet: restart", stillMissing, {kSsu64}, {kSsu, kSsu}, true, 1},
        {"3010: restart, the second update not probed", Win7({3010}), {kSsu64}, {kSsu}, true, 1},
        {"0x240006: the next step without a second probe", Win7({kAlreadyInstalled, 0, 0}), {kSsu64, kSha64, kNet},
         {kSsu, kSha, kSha}, false, 0},
        // An update this machine does not need (superseded, say): never listed, so a probe would stop here for ever.
        {"0x80240017: the next step without a second probe and without a notice", Win7({kNotApplicable, 0, 0}),
         {kSsu64, kSha64, kNet}, {kSsu, kSha, kSha}, false, 0},
        {"1223 (closed): 1, nothing more", Win7({1223}), {kSsu64}, {kSsu}, false, 1},
        {"1641 (restart begun by the installer): 1 without a notice", Win7({1641}), {kSsu64}, {kSsu}, false, 1},
        {"2 (no window): 1", Win7({2}), {kSsu64}, {kSsu}, false, 1},
        {"1 (installer failure): 1", Win7({1}), {kSsu64}, {kSsu}, false, 1},
        {"0xFFFFFFFF: 1", Win7({0xFFFFFFFFu}), {kSsu64}, {kSsu}, false, 1},
    };
    for (const Case &c : cases) {
        Check(c);
    }
}

TEST(PrerequisiteChain, EveryResultAfterTheSecondUpdateWindow)
{
    Machine stillMissing = Win7({0}, true);
    stillMissing.resultZeroInstalls = false;
    const Case cases[] = {
        {"0, then listed installed: the runtime window", Win7({0, 7}, true), {kSha64, kNet}, {kSsu, kSha, kSha},
         false, 7},
        {"0 but not listed yet: restart", stillMissing, {kSha64}, {kSsu, kSha, kSha}, true, 1},
        {"3010: restart", Win7({3010}, true), {kSha64}, {kSsu, kSha}, true, 1},
        {"0x240006: the runtime window without a second probe", Win7({kAlreadyInstalled, 7}, true), {kSha64, kNet},
         {kSsu, kSha}, false, 7},
        {"0x80240017: the runtime window without a second probe", Win7({kNotApplicable, 7}, true), {kSha64, kNet},
         {kSsu, kSha}, false, 7},
        {"1223: 1", Win7({1223}, true), {kSha64}, {kSsu, kSha}, false, 1},
        {"1641: 1 without a notice", Win7({1641}, true), {kSha64}, {kSsu, kSha}, false, 1},
        {"2: 1", Win7({2}, true), {kSha64}, {kSsu, kSha}, false, 1},
        {"both installed already: the runtime window at once", Win7({1223}, true, true), {kNet}, {kSsu, kSha}, false,
         1223},
        {"only the second installed: the first, then straight on", Win7({0, 0}, false, true), {kSsu64, kNet},
         {kSsu, kSsu, kSha}, false, 0},
    };
    for (const Case &c : cases) {
        Check(c);
    }
}

TEST(PrerequisiteChain, TheRuntimeWindowsResultIsTheExitCodeUnchanged)
{
    // 0x80240017 included: from the runtime's installer it is an ordinary failure, passed on.
    for (DWORD result : {0u, 1u, 2u, 1223u, 1641u, 3010u, 0x240006u, 0x80240017u, 0xFFFFFFFFu}) {
        for (bool windows7 : {true, false}) {
            Machine m = Win7({result}, true, true);
            m.minor = windows7 ? 1 : 2;
            Check({windows7 ? "Windows 7, both updates installed" : "Windows 8", m, {kNet},
                   windows7 ? std::vector<std::wstring>{kSsu, kSha} : std::vector<std::wstring>{}, false, result});
        }
    }
}

TEST(PrerequisiteChain, TheUpdatePairFollowsTheNativeArchitecture)
{
    const struct {
        WORD architecture;
        const PrerequisiteItem *first;
        const PrerequisiteItem *second;
    } rows[] = {
        {PROCESSOR_ARCHITECTURE_INTEL, kSsu86, kSha86},  {PROCESSOR_ARCHITECTURE_IA64, kSsu64, kSha64},
        {PROCESSOR_ARCHITECTURE_AMD64, kSsu64, kSha64},  {PROCESSOR_ARCHITECTURE_ARM64, kSsu86, kSha86},
        {PROCESSOR_ARCHITECTURE_ARM, kSsu86, kSha86},    {PROCESSOR_ARCHITECTURE_IA32_ON_WIN64, kSsu86, kSha86},
        {PROCESSOR_ARCHITECTURE_UNKNOWN, kSsu86, kSha86},
    };
    for (const auto &row : rows) {
        Machine m = Win7({0, 0, 0});
        m.architecture = row.architecture;
        std::string what = "architecture " + std::to_string(row.architecture);
        Check({what.c_str(), m, {row.first, row.second, kNet}, {kSsu, kSsu, kSha, kSha}, false, 0});
        EXPECT_EQ(1, architectureQueries) << what;
    }
}

TEST(PrerequisiteChain, OffWindows7OnlyTheRuntimeWindowAndNoArchitectureQuery)
{
    const struct {
        const char *what;
        bool fails;
        ULONG major, minor;
    } rows[] = {
        {"6.2", false, 6, 2}, {"6.3", false, 6, 3}, {"10.0", false, 10, 0}, {"7.1", false, 7, 1},
        {"6.0 (the gate stops it first)", false, 6, 0}, {"the version query failing on 6.1", true, 6, 1},
    };
    for (const auto &row : rows) {
        Machine m = Win7({3010});
        m.versionFails = row.fails;
        m.major = row.major;
        m.minor = row.minor;
        Check({row.what, m, {kNet}, {}, false, 3010});
        EXPECT_EQ(0, architectureQueries) << row.what;
    }
}

}  // namespace
