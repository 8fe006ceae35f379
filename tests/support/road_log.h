// The installation road's record of what ran: the host's shell requests and the test installers that they started
// append one UTF-16LE line each to the file that ROAD_LOG names, so that a test reads one ordered story across
// processes.
#pragma once
#include <windows.h>

inline void AppendRoadLine(const wchar_t *line)
{
    wchar_t path[MAX_PATH];
    DWORD length = GetEnvironmentVariableW(L"ROAD_LOG", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return;
    }
    DWORD written = 0;
    WriteFile(file, line, static_cast<DWORD>(lstrlenW(line) * sizeof(wchar_t)), &written, nullptr);
    WriteFile(file, L"\n", sizeof(wchar_t), &written, nullptr);
    CloseHandle(file);
}

// An exit code chosen by the test through the environment (decimal or 0x hexadecimal); fallback when unset.
inline DWORD ChosenExitCode(const wchar_t *variable, DWORD fallback)
{
    wchar_t text[32];
    DWORD length = GetEnvironmentVariableW(variable, text, 32);
    if (length == 0 || length >= 32) {
        return fallback;
    }
    DWORD value = 0;
    bool hex = text[0] == L'0' && (text[1] == L'x' || text[1] == L'X');
    for (const wchar_t *c = text + (hex ? 2 : 0); *c != L'\0'; ++c) {
        DWORD digit = *c >= L'0' && *c <= L'9' ? static_cast<DWORD>(*c - L'0')
                      : *c >= L'a' && *c <= L'f' ? static_cast<DWORD>(*c - L'a' + 10)
                      : *c >= L'A' && *c <= L'F' ? static_cast<DWORD>(*c - L'A' + 10) : 0;
        value = value * (hex ? 16 : 10) + digit;
    }
    return value;
}
