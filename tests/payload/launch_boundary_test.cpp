// The launch at its import boundary, for what Wine cannot produce: a payload that demands elevation (Wine runs
// everything elevated), a console that can be attached (never under Wine), failed allocation and formatting, and
// the exact arguments of the process creation. In this test binary the product's imports of these functions are
// stand-ins that forward to the real functions unless a test has scripted otherwise.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "payload/launch.h"
#include "support/bench.h"
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
std::wstring boxText;
std::wstring boxCaption;
UINT boxStyle;
HWND boxOwner;

template <typename F>
F Real(const wchar_t *module, const char *name)
{
    return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(module), name)));
}

LPWSTR WINAPI StandInGetCommandLineW()
{
    if (script.commandLine != nullptr) {
        return const_cast<LPWSTR>(script.commandLine);
    }
    return Real<LPWSTR(WINAPI *)()>(L"kernel32.dll", "GetCommandLineW")();
}

DWORD WINAPI StandInGetModuleFileNameW(HMODULE module, LPWSTR name, DWORD size)
{
    DWORD result = Real<DWORD(WINAPI *)(HMODULE, LPWSTR, DWORD)>(L"kernel32.dll", "GetModuleFileNameW")(module, name,
                                                                                                       size);
    return script.moduleNameResult != ~0u ? script.moduleNameResult : result;
}

HLOCAL WINAPI StandInLocalAlloc(UINT flags, SIZE_T bytes)
{
    if (script.allocationFails) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    return Real<HLOCAL(WINAPI *)(UINT, SIZE_T)>(L"kernel32.dll", "LocalAlloc")(flags, bytes);
}

HLOCAL WINAPI StandInLocalFree(HLOCAL memory)
{
    events.push_back(L"release buffer");
    HLOCAL result = Real<HLOCAL(WINAPI *)(HLOCAL)>(L"kernel32.dll", "LocalFree")(memory);
    SetLastError(0xBAD);  // the launch must have taken its error before this
    return result;
}

int __cdecl StandInVsnwprintf(wchar_t *buffer, size_t count, const wchar_t *format, va_list args)
{
    if (script.formattingFails) {
        return -1;
    }
    return Real<int(__cdecl *)(wchar_t *, size_t, const wchar_t *, va_list)>(L"msvcrt.dll", "_vsnwprintf")(
        buffer, count, format, args);
}

BOOL WINAPI StandInAttachConsole(DWORD process)
{
    if (script.recordAttach) {
        events.push_back(process == ATTACH_PARENT_PROCESS ? L"attach parent" : L"attach other");
        script.attachTick = GetTickCount();
        SetLastError(ERROR_INVALID_HANDLE);
        return script.attachSucceeds;
    }
    return Real<BOOL(WINAPI *)(DWORD)>(L"kernel32.dll", "AttachConsole")(process);
}

BOOL WINAPI StandInFreeConsole()
{
    if (script.recordAttach) {
        events.push_back(L"free console");
        script.freeTick = GetTickCount();
        return TRUE;
    }
    return Real<BOOL(WINAPI *)()>(L"kernel32.dll", "FreeConsole")();
}

BOOL WINAPI StandInCreateProcessW(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                                  LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags,
                                  LPVOID environment, LPCWSTR directory, LPSTARTUPINFOW startup,
                                  LPPROCESS_INFORMATION process)
{
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
    return Real<decltype(&CreateProcessW)>(L"kernel32.dll", "CreateProcessW")(
        application, commandLine, processAttributes, threadAttributes, inherit, flags, environment, directory, startup,
        process);
}

int WINAPI StandInMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style)
{
    events.push_back(L"notice");
    boxOwner = owner;
    boxText = text;
    boxCaption = caption;
    boxStyle = style;
    return IDOK;
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
REPLACE_IMPORT(MessageBoxW, 16, StandInMessageBoxW);

namespace {

const wchar_t kPayload[] = L"C:\\users\\root\\AppData\\Local\\Oristane\\Velvaro\\runtime\\merchant-0000ABCD.exe";
const wchar_t kGenericFormat[] = L"程序组件启动失败（Win32 错误 %lu）。\r\n请确认安全软件未阻止程序运行。";

class LaunchBoundary : public ::testing::Test {
protected:
    void SetUp() override
    {
        script = Script();
        events.clear();
        boxText.clear();
    }
    void TearDown() override { script = Script(); }
};

std::wstring Generic(DWORD error)
{
    wchar_t text[256];
    wsprintfW(text, kGenericFormat, error);
    return text;
}

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
        {740, L"程序组件需要管理员权限，但未能完成 UAC 提权。\r\n请右键选择“以管理员身份运行”后重试。"},
        {ERROR_FILE_NOT_FOUND, Generic(2)},
        {ERROR_ACCESS_DENIED, Generic(5)},
        {0xC0000142u, L"程序组件启动失败（Win32 错误 3221225794）。\r\n请确认安全软件未阻止程序运行。"},
    };
    for (const auto &c : cases) {
        SetUp();
        script.commandLine = L"host.exe";
        script.createError = c.error;
        EXPECT_EQ(2u, LaunchPayload(kPayload)) << c.error;
        EXPECT_EQ(c.notice, boxText) << c.error;
        EXPECT_EQ(L"Qumo盒子检测工具", boxCaption);
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR | MB_SETFOREGROUND), boxStyle);
        EXPECT_EQ(nullptr, boxOwner);
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
        {L"host.exe --check", true, 740, {L"attach parent", L"create", L"release buffer", L"free console", L"notice"}},
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
    std::vector<std::wstring> expected = {L"attach parent", L"release buffer", L"free console"};
    EXPECT_EQ(expected, events);
    EXPECT_GE(script.freeTick - script.attachTick, 400u) << "the console went back before the payload ended";
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
        {"module name unreadable", 0, false, false, L"无法确定启动器路径。", {L"notice"}},
        {"module name truncated", MAX_PATH, false, false, L"无法确定启动器路径。", {L"notice"}},
        {"no memory", ~0u, true, false, L"无法分配启动参数内存。", {L"notice"}},
        {"formatting fails", ~0u, false, true, L"无法生成托管程序启动参数。", {L"release buffer", L"notice"}},
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
        EXPECT_EQ(c.notice, boxText) << c.what;
        EXPECT_EQ(static_cast<UINT>(MB_ICONERROR | MB_SETFOREGROUND), boxStyle);
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
    EXPECT_EQ(Generic(2), boxText);
}

}  // namespace
