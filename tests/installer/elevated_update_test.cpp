// The elevated step for real: the road's test host (the product's main.cpp and libraries with the road's catalogue)
// started with the private argument, as the installer window's elevated start does, in the bench prefix whose Windows
// Update service is real. Its update installer is the road's recording one, which notes the service's start type as
// it finds it while it runs. What the step does to the service on each outcome, what it refuses, a second step racing
// the first, the step killed halfway, and a folder of the package path switched to another target by a link after the
// check: the file that was verified is the file the installer receives.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/bench.h"
#include "support/road_bench.h"
#include "support/unix_link.h"
#include "support/utf8.h"

using namespace bench;

namespace {

const wchar_t kArgument[] = L"--velvaro-private-elevated-update";
const DWORD kNotAnUpdate = 0xE0560002;
const DWORD kPackageRejected = 0xE0560003;
const DWORD kAlreadyRunning = 0xE0560004;
const DWORD kWaitMs = 30000;

// A folder of the build tree that CTest names by its Unix path, as this prefix's Z: drive reaches it.
std::wstring BuildTreeFolder(const wchar_t *name)
{
    wchar_t value[MAX_PATH] = L"";
    DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH);
    std::wstring path = length > 0 && length < MAX_PATH ? value : L"";
    if (!path.empty() && path[0] == L'/') {
        path = L"Z:" + path;
    }
    for (wchar_t &c : path) {
        c = c == L'/' ? L'\\' : c;
    }
    return path;
}

class ElevatedUpdate : public ::testing::Test {
protected:
    void SetUp() override
    {
        serviceFound_ = UpdateServiceStartType();
        ASSERT_NE(0xFFFFFFFFu, serviceFound_) << "no wuauserv in this prefix";
        dir_ = ScratchDir(L"elevated step");  // a blank, as in many user names
        log_ = StartRoadLog(dir_);
        SetEnvironmentVariableW(L"ROAD_WUSA", BuiltExe(L"road_wusa.exe").c_str());
        host_ = BuiltExe(L"VelvaroHostRoad.exe");
        files_ = BuildTreeFolder(L"ROAD_FILES");
        ASSERT_FALSE(files_.empty()) << "ROAD_FILES is not set";
        ssu_ = dir_ + L"\\windows6.1-kb4490628-x64.msu";
        ASSERT_TRUE(CopyFileW((files_ + L"\\road-kb4490628-x64.msu").c_str(), ssu_.c_str(), FALSE));
    }
    void TearDown() override
    {
        for (const wchar_t *variable : {L"ROAD_WUSA", L"ROAD_LOG", L"ROAD_WUSA_EXIT_KB4490628", L"ROAD_WUSA_WAIT_MS",
                                        L"ROAD_SWITCH_LINK"}) {
            SetEnvironmentVariableW(variable, nullptr);
        }
        if (UpdateServiceStartType() != serviceFound_) {
            SetUpdateServiceStartType(serviceFound_);
        }
        ForgetUpdates();
        RemoveTree(dir_);
    }

    static std::wstring Request(const std::wstring &item, const std::wstring &path)
    {
        return std::wstring(kArgument) + L" " + item + L" \"" + path + L"\"";
    }
    ChildResult Step(const std::wstring &arguments)
    {
        return RunChild(host_, L"\"" + host_ + L"\" " + arguments, kWaitMs);
    }
    // The recording installer's line once it is running, or an empty text after the time limit.
    std::wstring WaitForInstaller(size_t lineCount)
    {
        std::wstring line;
        WaitFor(
            [&] {
                std::vector<std::wstring> lines = RoadLines(log_);
                if (lines.size() >= lineCount && lines[lineCount - 1].find(L"wusa pid=") == 0) {
                    line = lines[lineCount - 1];
                    return true;
                }
                return false;
            },
            kWaitMs);
        return line;
    }
    static bool EndInstaller(const std::wstring &line, DWORD code)
    {
        DWORD pid = static_cast<DWORD>(wcstoul(line.c_str() + 9, nullptr, 10));
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        bool ended = process != nullptr && TerminateProcess(process, code) &&
                     WaitForSingleObject(process, kWaitMs) == WAIT_OBJECT_0;
        if (process != nullptr) {
            CloseHandle(process);
        }
        return ended;
    }
    static std::wstring InstallerLine(const std::wstring &package)
    {
        wchar_t system[MAX_PATH] = L"";
        GetSystemDirectoryW(system, MAX_PATH);
        return L"\"" + std::wstring(system) + L"\\wusa.exe\" \"" + package + L"\" /quiet /norestart";
    }

    DWORD serviceFound_ = 0;
    std::wstring dir_, log_, host_, files_, ssu_;
};

// The start type is "demand" while the installer runs when it was disabled, and as found afterwards whatever the
// installer did: succeeded, failed, or was killed (a crash ends it the same way, with a code of its own). Found on
// demand or automatic, the configuration is not touched at all.
TEST_F(ElevatedUpdate, TheServiceIsOnDemandWhileTheInstallerRunsAndAsFoundAfterwards)
{
    struct Row {
        const char *label;
        DWORD startType;
        const wchar_t *installerExit;  // null: the test kills the installer with 0xC0000005
        DWORD expectedExit;
        DWORD seenWhileRunning;
    } rows[] = {
        {"disabled, installed", SERVICE_DISABLED, L"0", 0, SERVICE_DEMAND_START},
        {"disabled, restart needed", SERVICE_DISABLED, L"3010", 3010, SERVICE_DEMAND_START},
        {"disabled, installer failed", SERVICE_DISABLED, L"0x80070422", 0x80070422, SERVICE_DEMAND_START},
        {"disabled, installer crashed", SERVICE_DISABLED, nullptr, 0xC0000005, SERVICE_DEMAND_START},
        {"on demand", SERVICE_DEMAND_START, L"0", 0, SERVICE_DEMAND_START},
        {"automatic, already installed", SERVICE_AUTO_START, L"0x240006", 0x240006, SERVICE_AUTO_START},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        StartRoadLog(dir_);
        ASSERT_TRUE(SetUpdateServiceStartType(row.startType));
        std::wstring before = UpdateServiceConfiguration();
        SetEnvironmentVariableW(L"ROAD_WUSA_EXIT_KB4490628", row.installerExit);
        SetEnvironmentVariableW(L"ROAD_WUSA_WAIT_MS", row.installerExit == nullptr ? L"60000" : nullptr);

        RunningHost step = StartHost(host_, Request(L"ServicingStackUpdateX64", ssu_));
        ASSERT_TRUE(step.started);
        std::wstring installer = WaitForInstaller(2);
        if (row.installerExit == nullptr) {
            ASSERT_TRUE(EndInstaller(installer, 0xC0000005));
        }
        ChildResult run = FinishHost(&step, kWaitMs);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(row.expectedExit, run.exitCode) << "the installer's exit code, passed on";

        std::vector<std::wstring> lines = RoadLines(log_);
        ASSERT_EQ(2u, lines.size());
        wchar_t system[MAX_PATH] = L"";
        GetSystemDirectoryW(system, MAX_PATH);
        EXPECT_EQ(L"create file=" + std::wstring(system) + L"\\wusa.exe cmd=" + InstallerLine(ssu_), lines[0])
            << "the native installer by its exact path, on the package";
        EXPECT_NE(std::wstring::npos,
                  installer.find(L" service=" + std::to_wstring(row.seenWhileRunning) + L" " + InstallerLine(ssu_)))
            << Utf8(installer);
        EXPECT_EQ(row.startType, UpdateServiceStartType()) << "afterwards, as found";
        EXPECT_EQ(before, UpdateServiceConfiguration()) << "nothing else of the service changed";
    }
}

// Killed while the installer runs, the step cannot restore anything: the service stays on demand, the start type
// Windows itself ships it with on later versions, from which it runs only when something asks for it.
TEST_F(ElevatedUpdate, KilledWhileTheInstallerRunsLeavesTheServiceOnDemand)
{
    ASSERT_TRUE(SetUpdateServiceStartType(SERVICE_DISABLED));
    SetEnvironmentVariableW(L"ROAD_WUSA_WAIT_MS", L"60000");
    RunningHost step = StartHost(host_, Request(L"ServicingStackUpdateX64", ssu_));
    ASSERT_TRUE(step.started);
    std::wstring installer = WaitForInstaller(2);
    ASSERT_FALSE(installer.empty());
    ASSERT_TRUE(TerminateProcess(step.process, 1));
    FinishHost(&step, kWaitMs);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), UpdateServiceStartType());
    EXPECT_TRUE(EndInstaller(installer, 1));
}

// A second step while the first runs is refused at once and touches nothing; the first then ends as usual.
TEST_F(ElevatedUpdate, ASecondStepIsRefusedWhileTheFirstRuns)
{
    ASSERT_TRUE(SetUpdateServiceStartType(SERVICE_DISABLED));
    SetEnvironmentVariableW(L"ROAD_WUSA_WAIT_MS", L"60000");
    RunningHost first = StartHost(host_, Request(L"ServicingStackUpdateX64", ssu_));
    ASSERT_TRUE(first.started);
    std::wstring installer = WaitForInstaller(2);
    ASSERT_FALSE(installer.empty());

    SetEnvironmentVariableW(L"ROAD_WUSA_WAIT_MS", nullptr);
    ChildResult second = Step(Request(L"ServicingStackUpdateX64", ssu_));
    ASSERT_TRUE(second.finished);
    EXPECT_EQ(kAlreadyRunning, second.exitCode);
    EXPECT_EQ(2u, RoadLines(log_).size()) << "the second step started nothing";
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), UpdateServiceStartType()) << "the first step's setting";

    ASSERT_TRUE(EndInstaller(installer, 0));
    ChildResult run = FinishHost(&first, kWaitMs);
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DISABLED), UpdateServiceStartType());
}

// Whatever the unelevated side asks, the step acts only on a catalogue update item and exactly its package. The last
// row is a request that is granted, so the absence of a start in the others is seen in the same run.
TEST_F(ElevatedUpdate, BadRequestsAreRefusedAndChangeNothing)
{
    std::wstring changed = dir_ + L"\\changed.msu";
    std::string bytes;
    ASSERT_TRUE(ReadBytes(ssu_, &bytes));
    bytes.back() = static_cast<char>(bytes.back() ^ 0x5A);
    ASSERT_TRUE(WriteBytes(changed, bytes.data(), bytes.size()));
    std::wstring runtime = dir_ + L"\\NDP48-x86-x64-AllOS-ENU.exe";
    ASSERT_TRUE(CopyFileW((files_ + L"\\road-ndp48.exe").c_str(), runtime.c_str(), FALSE));
    std::wstring otherUpdate = dir_ + L"\\windows6.1-kb4474419-v3-x64.msu";
    ASSERT_TRUE(CopyFileW((files_ + L"\\road-kb4474419-x64.msu").c_str(), otherUpdate.c_str(), FALSE));
    const std::wstring ssu = ssu_;
    struct Row {
        const char *label;
        std::wstring arguments;
        DWORD exitCode;
    } rows[] = {
        {"one byte changed", Request(L"ServicingStackUpdateX64", changed), kPackageRejected},
        {"missing file", Request(L"ServicingStackUpdateX64", dir_ + L"\\absent.msu"), kPackageRejected},
        {"the other update's package", Request(L"ServicingStackUpdateX64", otherUpdate), kPackageRejected},
        {"the runtime is not an update", Request(L"NetFramework48", runtime), kNotAnUpdate},
        {"unknown item", Request(L"ServicingStackUpdateX65", ssu), kNotAnUpdate},
        {"item name in another case", Request(L"servicingstackupdatex64", ssu), kNotAnUpdate},
        {"no item", std::wstring(kArgument) + L" \"" + ssu + L"\"", kNotAnUpdate},
        {"nothing else", kArgument, kNotAnUpdate},
        {"path not quoted", std::wstring(kArgument) + L" ServicingStackUpdateX64 " + ssu, kNotAnUpdate},
        {"something after the path", Request(L"ServicingStackUpdateX64", ssu) + L" /extract", kNotAnUpdate},
        {"empty path", Request(L"ServicingStackUpdateX64", L""), kNotAnUpdate},
        {"granted", Request(L"ServicingStackUpdateX64", ssu), 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label);
        StartRoadLog(dir_);
        ASSERT_TRUE(SetUpdateServiceStartType(SERVICE_DISABLED));
        std::wstring before = UpdateServiceConfiguration();
        ChildResult run = Step(row.arguments);
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(row.exitCode, run.exitCode);
        EXPECT_EQ(before, UpdateServiceConfiguration());
        EXPECT_EQ(row.exitCode == 0 ? 2u : 0u, RoadLines(log_).size()) << "what was started";
    }
}

// The experiment that showed the hole: a folder of the package path is a link, pointed at another folder after the
// step has verified the package and before the installer starts (the road's process stand-in switches it at that
// moment). The installer receives the held, verified file by its final name, not whatever the link names by then.
TEST_F(ElevatedUpdate, ALinkSwitchedAfterTheCheckCannotHandOverAnotherFile)
{
    wchar_t unixFolder[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"LINK_EXPERIMENT", unixFolder, MAX_PATH);
    std::wstring links = BuildTreeFolder(L"LINK_EXPERIMENT");
    ASSERT_FALSE(links.empty()) << "LINK_EXPERIMENT is not set";
    std::wstring unixLink = std::wstring(unixFolder) + L"/current";
    ASSERT_TRUE(PointUnixLink(unixLink.c_str(), L"good"));
    const std::wstring name = L"\\windows6.1-kb4490628-x64.msu";
    ASSERT_TRUE(CopyFileW(ssu_.c_str(), (links + L"\\good" + name).c_str(), FALSE));
    const char other[] = "MSCF not the verified package";
    ASSERT_TRUE(WriteBytes(links + L"\\other" + name, other, sizeof(other)));
    std::wstring linked = links + L"\\current" + name;
    ASSERT_EQ(FileSize(ssu_), FileSize(linked)) << "the link does not name the good folder";

    SetEnvironmentVariableW(L"ROAD_SWITCH_LINK", unixLink.c_str());
    ChildResult run = Step(Request(L"ServicingStackUpdateX64", linked));
    SetEnvironmentVariableW(L"ROAD_SWITCH_LINK", nullptr);
    EXPECT_EQ(sizeof(other), FileSize(linked)) << "the link was not switched: the experiment shows nothing";
    EXPECT_TRUE(PointUnixLink(unixLink.c_str(), L"good"));

    ASSERT_TRUE(run.finished);
    EXPECT_EQ(0u, run.exitCode);
    std::vector<std::wstring> lines = RoadLines(log_);
    ASSERT_EQ(2u, lines.size());
    std::wstring held = links + L"\\good" + name;
    EXPECT_NE(std::wstring::npos, lines[1].find(L"\"" + held + L"\" /quiet /norestart")) << Utf8(lines[1]);
    EXPECT_EQ(std::wstring::npos, lines[1].find(L"\\current\\")) << Utf8(lines[1]);
}

}  // namespace
