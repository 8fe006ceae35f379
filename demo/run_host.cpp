// The demo command's Windows side: starts the host beside it with this program's own argument text, shows each
// notice and installer window the host opens (and answers or closes it, as no one sits at this headless screen), and
// prints the host's exit code in all 32 bits, which a Linux shell would cut to its low byte.
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>

static const wchar_t kCaption[] = L"Qumo盒子检测工具";

static void Print(const wchar_t *text)
{
    char utf8[4096];
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8, sizeof(utf8), nullptr, nullptr);
    DWORD written = 0;
    if (bytes > 1) {
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), utf8, static_cast<DWORD>(bytes - 1), &written, nullptr);
    }
}

static void PrintControl(HWND window, int id, const wchar_t *format)
{
    HWND control = GetDlgItem(window, id);
    if (control == nullptr || !IsWindowVisible(control)) {
        return;
    }
    wchar_t text[1024] = L"";
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(control, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000, &copied);
    // A text of several lines keeps the window's indentation on each of them.
    wchar_t indented[1400];
    int n = 0;
    for (const wchar_t *c = text; *c != L'\0' && n < 1380; ++c) {
        indented[n++] = *c;
        if (*c == L'\n') {
            for (const wchar_t *prefix = L"[window]   "; *prefix != L'\0'; ++prefix) {
                indented[n++] = *prefix;
            }
        }
    }
    indented[n] = L'\0';
    wchar_t line[1500];
    wsprintfW(line, format, indented);
    Print(line);
}

// An installer window, printed as the user sees it when it opens, then closed with its own close button: nobody sits
// at this headless screen to choose "下载".
static void ShowInstallerWindow(HWND window)
{
    wchar_t title[256] = L"";
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(title), SMTO_BLOCK, 5000, &copied);
    wchar_t line[400];
    wsprintfW(line, L"[window] %s\n", title);
    Print(line);
    PrintControl(window, 0, L"[window]   %s\n");      // the introduction
    PrintControl(window, 202, L"[window]   %s\n");    // the status line
    DWORD_PTR position = 0;
    SendMessageTimeoutW(GetDlgItem(window, 201), PBM_GETPOS, 0, 0, SMTO_BLOCK, 5000, &position);
    wsprintfW(line, L"[window]   progress %d of 1000\n", static_cast<int>(position));
    Print(line);
    PrintControl(window, 204, L"[window]   [%s]\n");  // the web-page button, when shown
    PrintControl(window, 203, L"[window]   [%s]\n");
    PrintControl(window, 205, L"[window]   [%s]\n");
    Print(L"[window]   (the demo presses the close button)\n");
    PostMessageW(window, WM_COMMAND, MAKEWPARAM(205, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, 205)));
}

static DWORD WINAPI AnswerNotices(void *)
{
    HWND answered[64] = {};
    int count = 0;
    for (;;) {
        HWND window = FindWindowExW(nullptr, nullptr, L"RuduDovaRuntimeDownload", nullptr);
        bool shown = false;
        for (int i = 0; i < count; ++i) {
            shown = shown || answered[i] == window;
        }
        if (window != nullptr && !shown && IsWindowVisible(window) && count < 64) {
            answered[count++] = window;
            ShowInstallerWindow(window);
        }
        HWND box = nullptr;
        while ((box = FindWindowExW(nullptr, box, L"#32770", kCaption)) != nullptr) {
            bool seen = false;
            for (int i = 0; i < count; ++i) {
                seen = seen || answered[i] == box;
            }
            if (seen || !IsWindowVisible(box) || count == 64) {
                continue;
            }
            wchar_t text[1024] = L"";
            GetDlgItemTextW(box, 0xFFFF, text, 1024);
            wchar_t line[1200];
            wsprintfW(line, L"[notice] %s\n", text);
            Print(line);
            answered[count++] = box;
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        }
        Sleep(20);
    }
}

int wmain()
{
    wchar_t self[MAX_PATH];
    DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    while (length > 0 && self[length - 1] != L'\\') {
        --length;
    }
    self[length] = L'\0';
    static wchar_t host[MAX_PATH];
    wsprintfW(host, L"%sVelvaroHost.exe", self);

    // Everything behind this program's own name goes to the host unchanged.
    const wchar_t *arguments = GetCommandLineW();
    if (*arguments == L'"') {
        for (++arguments; *arguments != L'\0' && *arguments != L'"'; ++arguments) {
        }
        if (*arguments == L'"') {
            ++arguments;
        }
    } else {
        while (*arguments != L'\0' && *arguments != L' ' && *arguments != L'\t') {
            ++arguments;
        }
    }
    while (*arguments == L' ' || *arguments == L'\t') {
        ++arguments;
    }
    static wchar_t commandLine[8192];
    wsprintfW(commandLine, *arguments != L'\0' ? L"\"%s\" %s" : L"\"%s\"", host, arguments);

    wchar_t line[9000];
    wsprintfW(line, L"[run] %s\n", commandLine);
    Print(line);
    // The watcher runs until this process ends; its handle is not needed.
    HANDLE watcher = CreateThread(nullptr, 0, AnswerNotices, nullptr, 0, nullptr);
    if (watcher != nullptr) {
        CloseHandle(watcher);
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(host, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        wsprintfW(line, L"[run] could not start the host: error %lu\n", GetLastError());
        Print(line);
        return 1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    Sleep(100);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    wsprintfW(line, L"[run] host exit code: %lu (0x%08lX)\n", exitCode, exitCode);
    Print(line);
    return 0;
}
