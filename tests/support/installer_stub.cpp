// A stand-in for a prerequisite's installer, started by the installer window's runner through the shell: it exits
// with the code a test chose, can record that it ran and with which command line, and can wait until the test lets it
// end, all through its inherited environment.
#include <windows.h>

#include <cwchar>

int wmain()
{
    wchar_t value[1024];
    if (GetEnvironmentVariableW(L"INSTALLER_STUB_MARKER", value, ARRAYSIZE(value)) > 0) {
        HANDLE file = CreateFileW(value, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            const wchar_t *line = GetCommandLineW();
            DWORD written = 0;
            WriteFile(file, line, static_cast<DWORD>(wcslen(line) * sizeof(wchar_t)), &written, nullptr);
            CloseHandle(file);
        }
    }
    if (GetEnvironmentVariableW(L"INSTALLER_STUB_WAIT", value, ARRAYSIZE(value)) > 0) {
        HANDLE event = OpenEventW(SYNCHRONIZE, FALSE, value);
        if (event != nullptr) {
            WaitForSingleObject(event, 60000);
            CloseHandle(event);
        }
    }
    DWORD code = 0;
    if (GetEnvironmentVariableW(L"INSTALLER_STUB_EXIT", value, ARRAYSIZE(value)) > 0) {
        code = static_cast<DWORD>(wcstoul(value, nullptr, 0));
    }
    ExitProcess(code);
}
