// A library planted beside a program under the name of one it may load. Loaded, it appends one line to the file
// named by PLANTED_DLL_MARKER ("<program path>|<own path>", UTF-16LE) and refuses to stay (DllMain returns FALSE),
// so that the program goes on as if the library were missing.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID)
{
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    wchar_t marker[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"PLANTED_DLL_MARKER", marker, MAX_PATH);
    if (length != 0 && length < MAX_PATH) {
        wchar_t line[2 * MAX_PATH + 2];
        DWORD program = GetModuleFileNameW(nullptr, line, MAX_PATH);
        line[program] = L'|';
        DWORD own = GetModuleFileNameW(self, line + program + 1, MAX_PATH);
        line[program + 1 + own] = L'\n';
        HANDLE file = CreateFileW(marker, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            DWORD written = 0;
            WriteFile(file, line, (program + own + 2) * sizeof(wchar_t), &written, nullptr);
            CloseHandle(file);
        }
    }
    return FALSE;
}
