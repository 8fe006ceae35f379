// The launch at its import boundary, for what Wine cannot produce: a payload that demands elevation (Wine runs
// everything elevated), a console that can be attached (never under Wine) and the interrupts typed at it (Wine
// delivers no console control events here), failed allocation and formatting, and the exact arguments of the
// process creation. In this test binary the product's imports of these functions are
// stand-ins that forward to the real functions unless a test has scripted otherwise.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "payload/launch.h"
#include "support/bench.h"
#include "support/box_recorder.h"
#include "support/expected_text.h"
#include "support/stand_in.h"

namespace {

struct Script {
    const wchar_t *commandLine = nullptr;  // GetCommandLineW's answer, when set
    DWORD moduleNameResult = ~0u;          // GetModuleFileNameW's result, when not ~0u
    bool allocationFails = false;
    bool formattingFails = false;
    bool attachSucceeds = false;
    bool recordAttach = false;
    DWORD attachTick = 0;
    DWORD freeTick = 0;
    DWORD createError = 0;                 // CreateProcessW fails with it, when not 0
    bool createFake = false;               // record and fail without starting anything
    std::function<void()> createCallback;  // runs inside the process creation, when set
};

Script script;
std::vector<std::wstring> events;
std::wstring createdApplication;
std::wstring createdCommandLine;
BOOL createdInherit;
DWORD createdFlags;
void *createdEnvironment;
const wchar_t *createdDirectory;
STARTUPINFOW createdStartup;
// Console control handlers registered through the stand-in, in order (null for the ignore flag).
std::vector<PHANDLER_ROUTINE> handlers;

LPWSTR WINAPI StandInGetCommandLineW()
{
    if (script.commandLine != nullptr) {
        return const_cast<LPWSTR>(script.commandLine);
    }
    return REAL_IMPORT(L"kernel32.dll", GetCommandLineW)();
}

DWORD WINAPI StandInGetModuleFileNameW(HMODULE module, LPWSTR name, DWORD size)
{
    DWORD result = REAL_IMPORT(L"kernel32.dll", GetModuleFileNameW)(module, name, size);
    return script.moduleNameResult != ~0u ? script.moduleNameResult : result;
}

HLOCAL WINAPI StandInLocalAlloc(UINT flags, SIZE_T bytes)
{
    if (script.allocationFails) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return REAL_IMPORT(L"kernel32.dll", LocalAlloc)(flags, bytes);
}

HLOCAL WINAPI StandInLocalFree(HLOCAL memory)
{
    events.push_back(L"release buffer");
    HLOCAL result = REAL_IMPORT(L"kernel32.dll", LocalFree)(memory);
    SetLastError(0xBAD);  // the launch must have taken its error before this
    return result;
}

int __cdecl StandInVsnwprintf(wchar_t *buffer, size_t count, const wchar_t *format, va_list args)
{
    if (script.formattingFails) {
        return -1;
    }
    return REAL_IMPORT(L"msvcrt.dll", _vsnwprintf)(buffer, count, format, args);
}

BOOL WINAPI StandInAttachConsole(DWORD process)
{
    if (script.recordAttach) {
        events.push_back(process == ATTACH_PARENT_PROCESS ? L"attach parent" : L"attach other");
        script.attachTick = GetTickCount();
        SetLastError(ERROR_INVALID_HANDLE);
        return script.attachSucceeds;
    }
    return REAL_IMPORT(L"kernel32.dll", AttachConsole)(process);
}

BOOL WINAPI StandInFreeConsole()
{
    if (script.recordAttach) {
        events.push_back(L"free console");
        script.freeTick = GetTickCount();
        return TRUE;
    }
    return REAL_IMPORT(L"kernel32.dll", FreeConsole)();
}

BOOL WINAPI StandInSetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add)
{
    if (handler == nullptr) {
        events.push_back(add ? L"ignore interrupts" : L"heed interrupts");
    } else {
        events.push_back(add ? L"add handler" : L"remove handler");
    }
    if (add) {
        handlers.push_back(handler);
    } else {
        for (size_t i = handlers.size(); i-- > 0;) {
            if (handlers[i] == handler) {
                handlers.erase(handlers.begin() + static_cast<std::ptrdiff_t>(i));
                break;
            }
        }
    }
    return TRUE;  // recorded only: this process has no console of its own to route events from
}

// What the system does with a console control event: it calls the registered handlers, last registered first, on a
// thread of its own in the process, and ends the process with STATUS_CONTROL_C_EXIT when none returns TRUE.
DWORD WINAPI DeliverControlEvent(void *event)
{
    DWORD type = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(event));
    for (size_t i = handlers.size(); i-- > 0;) {
        if (handlers[i] != nullptr && handlers[i](type)) {
            return 0;
        }
    }
    return 0xC000013Au;
}

BOOL WINAPI StandInCreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                  LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags,
                                  LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startup,
                                  LPPROCESS_INFORMATION process)
{
    if (script.createCallback) {
        script.createCallback();
    }
    if (script.createFake || script.createError != 0) {
        events.push_back(L"create");
        createdApplication = application != nullptr ? application : L"(null)";
        createdCommandLine = commandLine != nullptr ? commandLine : L"(null)";
        createdInherit = inherit;
        createdFlags = flags;
        createdEnvironment = environment;
        createdDirectory = directory;
        createdStartup = *startup;
        EXPECT_EQ(nullptr, processAttributes);
        EXPECT_EQ(nullptr, threadAttributes);
        SetLastError(script.createError != 0 ? script.createError : ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    return REAL_IMPORT(L"kernel32.dll", CreateProcessW)(
        application, commandLine, processAttributes, threadAttributes, inherit, flags, environment, directory, startup,
        process);
}

int WINAPI StandInMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style)
{
    events.push_back(L"notice");
    return standin::RecordMessageBoxW(owner, text, caption, style);
}

}  // namespace

REPLACE_IMPORT(GetCommandLineW, 0, StandInGetCommandLineW);
REPLACE_IMPORT(GetModuleFileNameW, 12, StandInGetModuleFileNameW);
REPLACE_IMPORT(LocalAlloc, 8, StandInLocalAlloc);
REPLACE_IMPORT(LocalFree, 4, StandInLocalFree);
REPLACE_CRT_IMPORT(_vsnwprintf, StandInVsnwprintf);
REPLACE_IMPORT(AttachConsole, 4, StandInAttachConsole);
REPLACE_IMPORT(FreeConsole, 0, StandInFreeConsole);
REPLACE_IMPORT(CreateProcessW, 40, StandInCreateProcessW);
REPLACE_IMPORT(SetConsoleCtrlHandler, 8, StandInSetConsoleCtrlHandler);
REPLACE_IMPORT(MessageBoxW, 16, StandInMessageBoxW);

namespace {

const wchar_t kPayload[] = L"C:\\users\\root\\AppData\\Local\\Oristane\\Velvaro\\runtime\\merchant-0000ABCD.exe";

class LaunchBoundary : public ::testing::Test {
protected:
    void SetUp() override
    {
        script = Script();
        events.clear();
        handlers.clear();
        standin::recordedBoxes.clear();
    }
    void TearDown() override { script = Script(); }
};

TEST_F(LaunchBoundary, StartsThePayloadWithTheDocumentedArguments)
{
    script.commandLine = L"\"C:\\till\\VelvaroHost.exe\"  a \"b c\" ";
    script.createFake = true;
    EXPECT_EQ(2u, LaunchPayload(kPayload));
    EXPECT_EQ(kPayload, createdApplication);
    EXPECT_EQ(std::wstring(L"\"") + kPayload + L"\" a \"b c\" ", createdCommandLine);
    EXPECT_FALSE(createdInherit);
    EXPECT_EQ(0u, createdFlags);
    EXPECT_EQ(nullptr, createdEnvironment);
    EXPECT_EQ(nullptr, createdDirectory);
    STARTUPINFOW empty = {};
    empty.cb = sizeof(empty);
    EXPECT_EQ(0, memcmp(&empty, &createdStartup, sizeof(empty))) << "STARTUPINFOW must be empty but for its size";
    wchar_t variable[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"RUDUDOVA_MERCHANT_HOST_PATH", variable, MAX_PATH);
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    EXPECT_STREQ(self, variable);
}

TEST_F(LaunchBoundary, EachStartFailureHasItsNotice)
{
    struct {
        DWORD error;
        std::wstring notice;
    } const cases[] = {
        {740, bench::text::kElevationRefused},
        {ERROR_FILE_NOT_FOUND, bench::text::StartFailed(2)},
        {ERROR_ACCESS_DENIED, bench::text::StartFailed(5)},
        {0xC0000142u, L"程序组件启动失败（Win32 错误 3221225794）。\r\n请确认安全软件未阻止程序运行。"},
    };
    for (const auto &c : cases) {
        SetUp();
        script.commandLine = L"host.exe";
        script.createError = c.error;
        EXPECT_EQ(2u, LaunchPayload(kPayload)) << c.error;
        standin::RecordedBox box = standin::TheRecordedBox();
        EXPECT_EQ(c.notice, box.text) << c.error;
        EXPECT_EQ(bench::text::kCaption, box.caption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR | MB_SETFOREGROUND), box.style);
        EXPECT_EQ(nullptr, box.owner);
        // The error is taken before the buffer is released, which overwrites the last error here.
        std::vector<std::wstring> expected = {L"create", L"release buffer", L"notice"};
        EXPECT_EQ(expected, events) << c.error;
    }
}

TEST_F(LaunchBoundary, TheConsoleIsBorrowedOnlyForTheConsoleOptionsAndGivenBackBeforeANotice)
{
    struct {
        const wchar_t *commandLine;
        bool attachSucceeds;
        DWORD createError;
        std::vector<std::wstring> events;
    } const cases[] = {
        {L"host.exe --check", true, 740,
         {L"attach parent", L"add handler", L"create", L"release buffer", L"remove handler", L"free console",
          L"notice"}},
        {L"host.exe \"/?\"", false, 740, {L"attach parent", L"create", L"release buffer", L"notice"}},
        {L"host.exe --out=x", true, 740, {L"create", L"release buffer", L"notice"}},
        {L"host.exe", true, 740, {L"create", L"release buffer", L"notice"}},
    };
    for (const auto &c : cases) {
        SetUp();
        script.commandLine = c.commandLine;
        script.recordAttach = true;
        script.attachSucceeds = c.attachSucceeds;
        script.createError = c.createError;
        EXPECT_EQ(2u, LaunchPayload(kPayload));
        EXPECT_EQ(c.events, events) << c.commandLine;
    }
}

TEST_F(LaunchBoundary, AnAttachedConsoleIsHeldUntilThePayloadHasEnded)
{
    std::wstring payload = bench::BuiltExe(L"demo_payload.exe");
    script.commandLine = L"host.exe --help --sleep=400 --exit-code=7";
    script.recordAttach = true;
    script.attachSucceeds = true;
    EXPECT_EQ(7u, LaunchPayload(payload.c_str()));
    std::vector<std::wstring> expected = {L"attach parent", L"add handler", L"release buffer", L"remove handler",
                                          L"free console"};
    EXPECT_EQ(expected, events);
    EXPECT_GE(script.freeTick - script.attachTick, 400u) << "the console went back before the payload ended";
}

struct Delivery {
    DWORD event;
    DWORD outcome;  // 0: the host carries on; else the code the system would end it with
};

// Types Ctrl+C, then Ctrl+Break, while the payload runs and the host waits for it.
DWORD WINAPI InterruptTwice(void *parameter)
{
    auto *seen = static_cast<std::vector<Delivery> *>(parameter);
    Sleep(500);  // well into the host's wait for the payload; nothing outside that wait shows its start
    for (DWORD event : {static_cast<DWORD>(CTRL_C_EVENT), static_cast<DWORD>(CTRL_BREAK_EVENT)}) {
        HANDLE delivery = CreateThread(nullptr, 0, DeliverControlEvent,
                                       reinterpret_cast<void *>(static_cast<ULONG_PTR>(event)), 0, nullptr);
        WaitForSingleObject(delivery, 5000);
        DWORD outcome = 0xDEAD;
        GetExitCodeThread(delivery, &outcome);
        CloseHandle(delivery);
        seen->push_back({event, outcome});
    }
    return 0;
}

// Ctrl+C and Ctrl+Break typed at the borrowed terminal while the payload runs: delivered to the host as the system
// delivers them, they leave it waiting, and it ends with the payload's exit code. The host registers a handler, never
// the ignore flag, which the payload would inherit in place of its own, normal Ctrl+C. Closing the terminal keeps the
// default end.
TEST_F(LaunchBoundary, InterruptsAtTheBorrowedConsoleLeaveTheHostWaitingForThePayload)
{
    std::wstring payload = bench::BuiltExe(L"demo_payload.exe");
    script.commandLine = L"host.exe --check --sleep=1500 --exit-code=0x1234";
    script.recordAttach = true;
    script.attachSucceeds = true;
    std::vector<Delivery> deliveries;
    HANDLE interrupter = CreateThread(nullptr, 0, InterruptTwice, &deliveries, 0, nullptr);
    ASSERT_NE(nullptr, interrupter);
    EXPECT_EQ(0x1234u, LaunchPayload(payload.c_str()));
    WaitForSingleObject(interrupter, 10000);
    CloseHandle(interrupter);

    ASSERT_EQ(2u, deliveries.size()) << "the payload ended before the interrupts";
    for (const Delivery &d : deliveries) {
        EXPECT_EQ(0u, d.outcome) << "event " << d.event << ": the host would have ended before its payload";
    }
    std::vector<std::wstring> expected = {L"attach parent", L"add handler", L"release buffer", L"remove handler",
                                          L"free console"};
    EXPECT_EQ(expected, events) << "no ignore flag, and the handler goes before the console";
    EXPECT_TRUE(handlers.empty());

    // The handler keeps the default for the events that end a session, and only the host uses it: the payload's own
    // handling is untouched.
    SetUp();
    script.commandLine = L"host.exe --check";
    script.recordAttach = true;
    script.attachSucceeds = true;
    script.createFake = true;
    PHANDLER_ROUTINE registered = nullptr;
    script.createCallback = [&registered] { registered = handlers.empty() ? nullptr : handlers.back(); };
    LaunchPayload(L"C:\\missing.exe");
    ASSERT_NE(nullptr, registered);
    EXPECT_TRUE(registered(CTRL_C_EVENT));
    EXPECT_TRUE(registered(CTRL_BREAK_EVENT));
    EXPECT_FALSE(registered(CTRL_CLOSE_EVENT));
    EXPECT_FALSE(registered(CTRL_LOGOFF_EVENT));
    EXPECT_FALSE(registered(CTRL_SHUTDOWN_EVENT));
}

TEST_F(LaunchBoundary, FailuresBeforeTheStartHaveTheirNotices)
{
    struct {
        const char *what;
        DWORD moduleNameResult;
        bool allocationFails;
        bool formattingFails;
        const wchar_t *notice;
        std::vector<std::wstring> events;
    } const cases[] = {
        {"module name unreadable", 0, false, false, bench::text::kNoLauncherPath, {L"notice"}},
        {"module name truncated", MAX_PATH, false, false, bench::text::kNoLauncherPath, {L"notice"}},
        {"no memory", ~0u, true, false, bench::text::kNoArgumentMemory, {L"notice"}},
        {"formatting fails", ~0u, false, true, bench::text::kNoArguments, {L"release buffer", L"notice"}},
    };
    for (const auto &c : cases) {
        SetUp();
        script.commandLine = L"host.exe --check";
        script.recordAttach = true;
        script.attachSucceeds = true;
        script.createFake = true;
        script.moduleNameResult = c.moduleNameResult;
        script.allocationFails = c.allocationFails;
        script.formattingFails = c.formattingFails;
        EXPECT_EQ(2u, LaunchPayload(kPayload)) << c.what;
        standin::RecordedBox box = standin::TheRecordedBox();
        EXPECT_EQ(c.notice, box.text) << c.what;
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR | MB_SETFOREGROUND), box.style);
        EXPECT_EQ(c.events, events) << c.what << ": no console, no process";
    }
}

TEST_F(LaunchBoundary, APayloadRemovedBeforeTheStartGivesTheGenericNoticeWithError2)
{
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring gone = std::wstring(temp) + L"bench-removed-payload.exe";
    CopyFileW(L"C:\\windows\\system32\\cmd.exe", gone.c_str(), FALSE);
    DeleteFileW(gone.c_str());
    script.commandLine = L"host.exe";
    EXPECT_EQ(2u, LaunchPayload(gone.c_str()));
    EXPECT_EQ(bench::text::StartFailed(2), standin::TheRecordedBox().text);
}

struct WaitVisitor {
    HWND window;
    DWORD thread;
    bool sentAnswered;
    DWORD postedTick;  // when the posted message reached the window procedure; 0 if never
};

WaitVisitor *visitor;

LRESULT CALLBACK RecordPosted(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP + 5) {
        visitor->postedTick = GetTickCount();
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// From a second thread while the payload runs: a sent message, a posted one, and a quit request for the thread.
DWORD WINAPI VisitTheWaitingThread(void *parameter)
{
    auto *v = static_cast<WaitVisitor *>(parameter);
    Sleep(500);  // well into the host's wait for the payload; nothing outside that wait shows its start
    DWORD_PTR result = 0;
    v->sentAnswered = SendMessageTimeoutW(v->window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result) != 0;
    PostMessageW(v->window, WM_APP + 5, 0, 0);
    PostThreadMessageW(v->thread, WM_QUIT, 0x55, 0);
    return 0;
}

// The wait for the payload delivers what reaches the thread's windows, sent or posted, and a quit request neither
// ends it early nor is lost: the exit code is still the payload's, and the request is there again afterwards.
TEST_F(LaunchBoundary, TheWaitDeliversMessagesAndKeepsAQuitRequestForLater)
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = RecordPosted;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"LaunchWaitVisitor";
    ASSERT_NE(0, RegisterClassW(&windowClass));
    WaitVisitor v = {};
    visitor = &v;
    v.window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               windowClass.hInstance, nullptr);
    ASSERT_NE(nullptr, v.window);
    v.thread = GetCurrentThreadId();
    std::wstring payload = bench::BuiltExe(L"demo_payload.exe");
    script.commandLine = L"host.exe --sleep=1500 --exit-code=0x4321";
    HANDLE visit = CreateThread(nullptr, 0, VisitTheWaitingThread, &v, 0, nullptr);
    ASSERT_NE(nullptr, visit);
    DWORD exitCode = LaunchPayload(payload.c_str());
    DWORD ended = GetTickCount();
    WaitForSingleObject(visit, 10000);
    CloseHandle(visit);
    MSG message = {};
    bool quitKept = PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
    DestroyWindow(v.window);
    UnregisterClassW(windowClass.lpszClassName, windowClass.hInstance);

    EXPECT_EQ(0x4321u, exitCode) << "the wait ended before the payload";
    EXPECT_TRUE(v.sentAnswered);
    ASSERT_NE(0u, v.postedTick) << "the posted message was never delivered";
    EXPECT_LT(static_cast<LONG>(v.postedTick - ended), 0) << "the posted message waited for the payload's end";
    EXPECT_TRUE(quitKept);
    EXPECT_EQ(0x55u, message.wParam);
}

}  // namespace
