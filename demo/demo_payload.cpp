// A stand-in for the merchant's diagnostic tool, used by the demo command and the tests: it reports what it received
// from the host and exits with the code it is told. Recognised arguments (all others are only reported):
//   --exit-code=N    exit with N (decimal, or hexadecimal with 0x)
//   --report-to=F    also write the report to file F, UTF-16LE, one "name=value" line each
//   --sleep=MS       wait MS milliseconds before exiting
// Without --report-to, the file named by the environment variable DEMO_PAYLOAD_REPORT, when set, gets the report.
// The report goes to the console of the parent when one can be reached, else to an inherited standard output.
#include <windows.h>
#include <shellapi.h>
#include <stdlib.h>

#ifndef DEMO_VARIANT
#define DEMO_VARIANT 1
#endif
#define DEMO_WIDEN(x) L##x
#define DEMO_STRINGIFY2(x) DEMO_WIDEN(#x)
#define DEMO_STRINGIFY(x) DEMO_STRINGIFY2(x)

static const wchar_t kVariant[] = L"demo-" DEMO_STRINGIFY(DEMO_VARIANT);

static bool HasPrefix(const wchar_t *text, const wchar_t *prefix, const wchar_t **rest)
{
    int n = lstrlenW(prefix);
    if (CompareStringOrdinal(text, n < lstrlenW(text) ? n : lstrlenW(text), prefix, n, FALSE) != CSTR_EQUAL) {
        return false;
    }
    *rest = text + n;
    return true;
}

static void Append(wchar_t *report, int capacity, const wchar_t *name, const wchar_t *value)
{
    lstrcatW(report, name);
    lstrcatW(report, L"=");
    if (lstrlenW(report) + lstrlenW(value) + 2 < capacity) {
        lstrcatW(report, value);
    }
    lstrcatW(report, L"\n");
}

static void WriteToStandardOutput(const wchar_t *report)
{
    AttachConsole(ATTACH_PARENT_PROCESS);
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (GetConsoleMode(out, &mode)) {
        WriteConsoleW(out, report, static_cast<DWORD>(lstrlenW(report)), &written, nullptr);
        return;
    }
    char utf8[8192];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, report, -1, utf8, sizeof(utf8), nullptr, nullptr);
    if (bytes > 1) {
        WriteFile(out, utf8, static_cast<DWORD>(bytes - 1), &written, nullptr);
    }
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    DWORD exitCode = 0;
    DWORD sleepMs = 0;
    const wchar_t *reportFile = nullptr;
    int argc = 0;
    wchar_t **argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        const wchar_t *value = nullptr;
        if (HasPrefix(argv[i], L"--exit-code=", &value)) {
            exitCode = static_cast<DWORD>(wcstoul(value, nullptr, 0));
        } else if (HasPrefix(argv[i], L"--report-to=", &value)) {
            reportFile = value;
        } else if (HasPrefix(argv[i], L"--sleep=", &value)) {
            sleepMs = static_cast<DWORD>(wcstoul(value, nullptr, 0));
        }
    }

    wchar_t reportFromEnvironment[MAX_PATH] = L"";
    if (reportFile == nullptr && GetEnvironmentVariableW(L"DEMO_PAYLOAD_REPORT", reportFromEnvironment, MAX_PATH) != 0) {
        reportFile = reportFromEnvironment;
    }

    static wchar_t report[4096];
    wchar_t hostPath[MAX_PATH] = L"(not set)";
    GetEnvironmentVariableW(L"RUDUDOVA_MERCHANT_HOST_PATH", hostPath, MAX_PATH);
    wchar_t ownPath[MAX_PATH] = L"";
    GetModuleFileNameW(nullptr, ownPath, MAX_PATH);
    wchar_t exitText[16];
    wsprintfW(exitText, L"%lu", exitCode);
    Append(report, 4096, L"payload", kVariant);
    Append(report, 4096, L"commandline", GetCommandLineW());
    Append(report, 4096, L"RUDUDOVA_MERCHANT_HOST_PATH", hostPath);
    Append(report, 4096, L"ownpath", ownPath);
    wchar_t currentDirectory[MAX_PATH] = L"";
    GetCurrentDirectoryW(MAX_PATH, currentDirectory);
    Append(report, 4096, L"currentdirectory", currentDirectory);
    Append(report, 4096, L"exitcode", exitText);

    if (reportFile != nullptr) {
        HANDLE file = CreateFileW(reportFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, report, static_cast<DWORD>(lstrlenW(report)) * sizeof(wchar_t), &written, nullptr);
            CloseHandle(file);
        }
    } else {
        WriteToStandardOutput(report);
    }
    if (sleepMs != 0) {
        Sleep(sleepMs);
    }
    LocalFree(argv);
    return static_cast<int>(exitCode);
}
