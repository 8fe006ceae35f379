// The host's forwarders to WinHTTP and the common controls, linked here in place of the import libraries, as in the
// host exe. Wine registers the progress class whether anyone asks or not, and a forwarder that looks up a wrong name
// only shows as a download that never starts; so what they load and look up is recorded at kernel32's boundary
// (LoadLibraryExW, LoadLibraryW and GetProcAddress are stand-ins that forward), and each forwarder is then used for
// real: a whole download from the bench's loopback server, and the common controls' initialisation with a structure
// whose address the test knows. A forwarder looks its function up once per process: one run per program.
#include <gtest/gtest.h>

#include <windows.h>
#include <commctrl.h>
#include <winhttp.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/download_bench.h"
#include "support/stand_in.h"

namespace {

bool recording = false;
std::vector<std::wstring> lookups;                      // "file!name", the file lower case
std::vector<HMODULE> loads;                             // what each load call returned
HMODULE initModule = nullptr;                           // where InitCommonControlsEx was looked up
std::vector<const INITCOMMONCONTROLSEX *> initialised;  // what comctl32's own function was given

std::wstring Lower(std::wstring text)
{
    CharLowerBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

std::wstring SystemFile(const wchar_t *name)
{
    wchar_t folder[MAX_PATH] = {};
    GetSystemDirectoryW(folder, MAX_PATH);
    return Lower(std::wstring(folder) + L"\\" + name);
}

std::wstring Lookup(HMODULE module, const char *name)
{
    wchar_t file[MAX_PATH] = {};
    GetModuleFileNameW(module, file, MAX_PATH);
    std::wstring text = Lower(file) + L"!";
    for (const char *c = name; *c != '\0'; ++c) {
        text += static_cast<wchar_t>(*c);
    }
    return text;
}

HMODULE WINAPI StandInLoadLibraryExW(LPCWSTR file, HANDLE reserved, DWORD flags)
{
    HMODULE module = REAL_IMPORT(L"kernel32.dll", LoadLibraryExW)(file, reserved, flags);
    if (recording) {
        loads.push_back(module);
    }
    return module;
}

HMODULE WINAPI StandInLoadLibraryW(LPCWSTR file)
{
    HMODULE module = REAL_IMPORT(L"kernel32.dll", LoadLibraryW)(file);
    if (recording) {
        loads.push_back(module);
    }
    return module;
}

BOOL WINAPI RecordInitCommonControlsEx(const INITCOMMONCONTROLSEX *controls)
{
    initialised.push_back(controls);
    return reinterpret_cast<decltype(&InitCommonControlsEx)>(reinterpret_cast<void *>(
        standin::RealGetProcAddress(initModule, "InitCommonControlsEx")))(controls);
}

// comctl32's InitCommonControlsEx is handed out as a recorder that forwards to it.
FARPROC WINAPI StandInGetProcAddress(HMODULE module, LPCSTR name)
{
    FARPROC found = standin::RealGetProcAddress(module, name);
    if (!recording || reinterpret_cast<ULONG_PTR>(name) <= 0xFFFF) {
        return found;
    }
    lookups.push_back(Lookup(module, name));
    if (found != nullptr && lstrcmpA(name, "InitCommonControlsEx") == 0) {
        initModule = module;
        return reinterpret_cast<FARPROC>(reinterpret_cast<void *>(&RecordInitCommonControlsEx));
    }
    return found;
}

}  // namespace

REPLACE_IMPORT(LoadLibraryExW, 12, StandInLoadLibraryExW);
REPLACE_IMPORT(LoadLibraryW, 4, StandInLoadLibraryW);
REPLACE_IMPORT(GetProcAddress, 8, StandInGetProcAddress);

namespace {

class SystemImports : public ::testing::Test {
protected:
    void SetUp() override
    {
        lookups.clear();
        loads.clear();
        initialised.clear();
        initModule = nullptr;
    }
    void TearDown() override { recording = false; }
};

// A whole download through the forwarders, each of which must have looked up its own name in the system folder's
// winhttp.dll, and loaded that library itself: this program does not import it.
TEST_F(SystemImports, EveryWinHttpForwarderReachesItsNamesakeInTheSystemFoldersLibrary)
{
    ASSERT_TRUE(bench::Served().loaded);
    ASSERT_EQ(GetModuleHandleW(L"winhttp.dll"), nullptr) << "winhttp.dll is loaded already: imported after all?";
    const ULONGLONG served = bench::Served().Fixture(L"setup.exe").size;
    std::wstring url = bench::Served().Http(L"ok/setup.exe");

    recording = true;
    wchar_t host[64] = {};
    wchar_t path[256] = {};
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = host;
    parts.dwHostNameLength = ARRAYSIZE(host);
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = ARRAYSIZE(path);
    ASSERT_TRUE(WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) << GetLastError();
    EXPECT_EQ(parts.nPort, bench::Served().httpPort);
    HINTERNET session = WinHttpOpen(L"system-imports-test", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    ASSERT_NE(session, nullptr) << GetLastError();
    EXPECT_TRUE(WinHttpSetTimeouts(session, 10000, 10000, 10000, 10000)) << GetLastError();
    DWORD redirects = WINHTTP_OPTION_REDIRECT_POLICY_NEVER;
    EXPECT_TRUE(WinHttpSetOption(session, WINHTTP_OPTION_REDIRECT_POLICY, &redirects, sizeof(redirects)))
        << GetLastError();
    HINTERNET connection = WinHttpConnect(session, host, parts.nPort, 0);
    EXPECT_NE(connection, nullptr) << GetLastError();
    HINTERNET request = WinHttpOpenRequest(connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
    EXPECT_NE(request, nullptr) << GetLastError();
    EXPECT_TRUE(WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0))
        << GetLastError();
    EXPECT_TRUE(WinHttpReceiveResponse(request, nullptr)) << GetLastError();
    DWORD status = 0;
    DWORD length = sizeof(status);
    EXPECT_TRUE(WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                    WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX));
    EXPECT_EQ(status, static_cast<DWORD>(HTTP_STATUS_OK));
    ULONGLONG received = 0;
    DWORD available = 0;
    while (WinHttpQueryDataAvailable(request, &available) && available > 0) {
        char buffer[65536];
        DWORD read = 0;
        if (!WinHttpReadData(request, buffer, std::min<DWORD>(available, sizeof(buffer)), &read) || read == 0) {
            break;
        }
        received += read;
    }
    EXPECT_EQ(received, served);
    EXPECT_TRUE(WinHttpCloseHandle(request));
    EXPECT_TRUE(WinHttpCloseHandle(connection));
    EXPECT_TRUE(WinHttpCloseHandle(session));
    recording = false;

    std::vector<std::wstring> expected;
    for (const char *name : {"WinHttpCloseHandle", "WinHttpConnect", "WinHttpCrackUrl", "WinHttpOpen",
                             "WinHttpOpenRequest", "WinHttpQueryDataAvailable", "WinHttpQueryHeaders",
                             "WinHttpReadData", "WinHttpReceiveResponse", "WinHttpSendRequest", "WinHttpSetOption",
                             "WinHttpSetTimeouts"}) {
        expected.push_back(SystemFile(L"winhttp.dll") + L"!" + std::wstring(name, name + strlen(name)));
    }
    std::sort(lookups.begin(), lookups.end());
    EXPECT_EQ(lookups, expected);
    HMODULE winHttp = GetModuleHandleW(L"winhttp.dll");
    EXPECT_TRUE(winHttp != nullptr && std::count(loads.begin(), loads.end(), winHttp) > 0)
        << "winhttp.dll was not loaded by them";
}

// The progress bar's class is registered by this call on Windows (Wine registers it anyway): it must reach
// comctl32's own function, from the system folder, with the very structure the window filled in.
TEST_F(SystemImports, TheCommonControlsForwarderHandsItsStructureToTheSystemFoldersComctl32)
{
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS;
    recording = true;
    BOOL result = InitCommonControlsEx(&controls);
    recording = false;

    EXPECT_TRUE(result);
    EXPECT_EQ(lookups, std::vector<std::wstring>{SystemFile(L"comctl32.dll") + L"!InitCommonControlsEx"});
    EXPECT_TRUE(initModule != nullptr && std::count(loads.begin(), loads.end(), initModule) > 0)
        << "comctl32 was not loaded by it";
    ASSERT_EQ(initialised.size(), 1u) << "comctl32's function was not called";
    EXPECT_EQ(initialised[0], &controls);
    EXPECT_EQ(controls.dwSize, 8u);
    EXPECT_EQ(controls.dwICC, static_cast<DWORD>(ICC_PROGRESS_CLASS));
}

}  // namespace
