// The launch as the merchant meets it: the real host twin started as a child, the demo payload reporting what it
// received (command line, host-path variable, current directory) and the host ending with the payload's exit code.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "support/host_bench.h"
#include "support/notice_watcher.h"
#include "support/wait_for.h"

using namespace bench;

namespace {

class HostLaunch : public ::testing::Test {
protected:
    void SetUp() override
    {
        PrepareLaunchMachine();
        dir_ = ScratchDir(L"launch");
        report_ = dir_ + L"\\report.txt";
        SetEnvironmentVariableW(L"DEMO_PAYLOAD_REPORT", report_.c_str());
    }
    void TearDown() override
    {
        SetEnvironmentVariableW(L"DEMO_PAYLOAD_REPORT", nullptr);
        ClearLaunchMachine();
    }

    std::map<std::wstring, std::wstring> Report()
    {
        std::map<std::wstring, std::wstring> values;
        std::wstring text = ReadUtf16(report_);
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find(L'\n', start);
            std::wstring line = text.substr(start, end - start);
            size_t eq = line.find(L'=');
            if (eq != std::wstring::npos) {
                values[line.substr(0, eq)] = line.substr(eq + 1);
            }
            start = end == std::wstring::npos ? text.size() : end + 1;
        }
        return values;
    }

    std::wstring dir_;
    std::wstring report_;
};

TEST_F(HostLaunch, PassesTheArgumentTextThroughUnchanged)
{
    std::wstring spaced = dir_ + L"\\till tools";
    CreateDirectoryW(spaced.c_str(), nullptr);
    std::wstring quotedHost = CopyHost(spaced, L"Velvaro Host.exe");
    std::wstring plainHost = CopyHost(dir_, L"VelvaroHost.exe");
    std::wstring payload = L"\"" + PayloadFileFor(BuiltExe(L"demo_payload.exe")) + L"\"";

    struct {
        const std::wstring *host;
        std::wstring hostCommandLine;
        std::wstring payloadCommandLine;
    } const cases[] = {
        // No arguments, or only blanks: the quoted payload path alone, no trailing space.
        {&quotedHost, L"\"" + quotedHost + L"\"", payload},
        {&quotedHost, L"\"" + quotedHost + L"\" \t  ", payload},
        // Blanks after the program name are skipped; inner quotes, backslashes, blanks and trailing blanks stay.
        {&quotedHost, L"\"" + quotedHost + L"\" \t  a  \"b c\"\td\\\"e\\\\  ", payload + L" a  \"b c\"\td\\\"e\\\\  "},
        {&plainHost, plainHost + L" --help", payload + L" --help"},
        {&plainHost, plainHost + L"\t\t/x", payload + L" /x"},
        // A leading blank makes the program name empty: the host's own name then reaches the payload too.
        {&plainHost, L" " + plainHost + L" x", payload + L" " + plainHost + L" x"},
        // A program name whose quote never closes takes in the whole line.
        {&quotedHost, L"\"" + quotedHost + L" --check y", payload},
        // A quote closing inside the name ends it there.
        {&quotedHost, L"\"" + quotedHost + L"\"--check", payload + L" --check"},
        // Only the exact private first token of the host's elevated step leaves this road; anything merely like it
        // is the user's: longer, quoted, in capitals, later on the line, or glued to a value.
        {&plainHost, plainHost + L" --velvaro-private-elevated-updates Sha2UpdateX64 \"x.msu\"",
         payload + L" --velvaro-private-elevated-updates Sha2UpdateX64 \"x.msu\""},
        {&plainHost, plainHost + L" \"--velvaro-private-elevated-update\" Sha2UpdateX64 \"x.msu\"",
         payload + L" \"--velvaro-private-elevated-update\" Sha2UpdateX64 \"x.msu\""},
        {&plainHost, plainHost + L" --VELVARO-PRIVATE-ELEVATED-UPDATE Sha2UpdateX64 \"x.msu\"",
         payload + L" --VELVARO-PRIVATE-ELEVATED-UPDATE Sha2UpdateX64 \"x.msu\""},
        {&plainHost, plainHost + L" --check --velvaro-private-elevated-update Sha2UpdateX64 \"x.msu\"",
         payload + L" --check --velvaro-private-elevated-update Sha2UpdateX64 \"x.msu\""},
        {&plainHost, plainHost + L" --velvaro-private-elevated-update=Sha2UpdateX64",
         payload + L" --velvaro-private-elevated-update=Sha2UpdateX64"},
        {&plainHost, plainHost + L" --velvaro-private-elevated-updat", payload + L" --velvaro-private-elevated-updat"},
        // With an empty program name the host's own path comes first, so the token is not the first argument.
        {&plainHost, L" " + plainHost + L" --velvaro-private-elevated-update Sha2UpdateX64 \"x.msu\"",
         payload + L" " + plainHost + L" --velvaro-private-elevated-update Sha2UpdateX64 \"x.msu\""},
    };
    for (const auto &c : cases) {
        DeleteFileW(report_.c_str());
        ChildResult run = RunChild(*c.host, c.hostCommandLine);
        ASSERT_TRUE(run.started) << run.error;
        ASSERT_TRUE(run.finished);
        EXPECT_EQ(0u, run.exitCode);
        std::map<std::wstring, std::wstring> report = Report();
        EXPECT_EQ(c.payloadCommandLine, report[L"commandline"]) << "host command line: [" << c.hostCommandLine << "]";
        EXPECT_EQ(*c.host, report[L"RUDUDOVA_MERCHANT_HOST_PATH"]);
    }
    // The exact token, as the installer window writes it: the elevated step answers (this path is no package, 0xE0560003)
    // and the payload does not start. So the rows above did reach the payload because they differ from it.
    DeleteFileW(report_.c_str());
    ChildResult step = RunChild(plainHost, plainHost + L" --velvaro-private-elevated-update Sha2UpdateX64 \"x.msu\"");
    ASSERT_TRUE(step.finished);
    EXPECT_EQ(0xE0560003u, step.exitCode);
    EXPECT_FALSE(FileExists(report_));
}

TEST_F(HostLaunch, PayloadRunsFromTheRuntimeFolderInTheHostsDirectory)
{
    std::wstring host = BuiltExe(L"VelvaroHost.exe");
    ChildResult run = RunHost(host, L"--check");
    ASSERT_TRUE(run.finished);
    std::map<std::wstring, std::wstring> report = Report();
    std::wstring payloadFile = PayloadFileFor(BuiltExe(L"demo_payload.exe"));
    EXPECT_EQ(payloadFile, report[L"ownpath"]);
    EXPECT_EQ(host, report[L"RUDUDOVA_MERCHANT_HOST_PATH"]);
    wchar_t cwd[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, cwd);
    EXPECT_EQ(std::wstring(cwd), report[L"currentdirectory"]);
    EXPECT_EQ(L"demo-1", report[L"payload"]);
}

TEST_F(HostLaunch, EndsWithThePayloadsExitCodeInAll32Bits)
{
    NoticeWatcher watcher;
    std::wstring host = BuiltExe(L"VelvaroHost.exe");
    struct {
        const wchar_t *argument;
        DWORD exitCode;
    } const cases[] = {
        {L"--exit-code=0", 0},
        {L"--exit-code=1", 1},
        {L"--exit-code=3010", 3010},
        {L"--exit-code=0x240006", 0x240006},
        {L"--exit-code=0xFFFFFFFF", 0xFFFFFFFFu},
    };
    for (const auto &c : cases) {
        ChildResult run = RunHost(host, c.argument);
        ASSERT_TRUE(run.finished) << c.argument;
        EXPECT_EQ(c.exitCode, run.exitCode) << c.argument;
    }
    EXPECT_TRUE(watcher.Seen().empty());
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list)
{
    reinterpret_cast<std::vector<HWND> *>(list)->push_back(window);
    return TRUE;
}

// Every window a thread owns: its top-level ones and its message-only ones (OLE's may be either).
std::vector<HWND> WindowsOfThread(DWORD thread)
{
    std::vector<HWND> windows;
    EnumThreadWindows(thread, CollectWindow, reinterpret_cast<LPARAM>(&windows));
    for (HWND window = FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
         window = FindWindowExW(HWND_MESSAGE, window, nullptr, nullptr)) {
        if (GetWindowThreadProcessId(window, nullptr) == thread &&
            std::find(windows.begin(), windows.end(), window) == windows.end()) {
            windows.push_back(window);
        }
    }
    return windows;
}

// The host's main thread owns a window (its apartment's), so while it waits for a long payload it must keep
// answering sent messages: a broadcast with SendMessage would otherwise hang for as long as the payload runs.
TEST_F(HostLaunch, TheWaitingHostAnswersSentMessagesToEveryWindowOfItsMainThread)
{
    std::wstring host = BuiltExe(L"VelvaroHost.exe");
    Child process = StartChild(host, CommandLineFor(host, L"--sleep=6000 --exit-code=0x10007"));
    ASSERT_TRUE(process.started);
    // The payload writes its report before it sleeps: from then on the host waits.
    bool payloadRuns = WaitFor([&] { return !ReadUtf16(report_).empty(); }, 20000);
    Sleep(300);  // the host enters its wait just after the payload starts; nothing outside it shows that moment
    std::vector<HWND> windows = WindowsOfThread(process.threadId);
    struct Answer {
        HWND window;
        bool answered;
        DWORD ms;
    };
    std::vector<Answer> answers;
    for (HWND window : windows) {
        DWORD_PTR result = 0;
        DWORD before = GetTickCount();
        bool answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) != 0;
        answers.push_back({window, answered, GetTickCount() - before});
    }
    bool hostStillWaiting = WaitForSingleObject(process.process, 0) == WAIT_TIMEOUT;
    ChildResult run = FinishChild(&process, 30000);
    DWORD exitCode = run.finished ? run.exitCode : 0xDEAD;

    ASSERT_TRUE(payloadRuns) << "the payload never reported";
    ASSERT_TRUE(hostStillWaiting) << "the payload ended before the windows were asked";
    ASSERT_FALSE(windows.empty()) << "the host's main thread owns no window: nothing was asked";
    for (const Answer &a : answers) {
        EXPECT_TRUE(a.answered) << "window " << a.window << " did not answer within a second";
        EXPECT_LT(a.ms, 1000u) << "window " << a.window;
    }
    EXPECT_EQ(0x10007u, exitCode);
}

}  // namespace
