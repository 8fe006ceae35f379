// Proves that the bench prefix can show windows before any test relies on it: a prefix that was just created keeps
// initialising for seconds after wineboot returns, and a message box made in that time fails at once. A test that
// asserts "no notice was shown" is worth something only while boxes demonstrably work, so the bench's set-up runs
// this until it succeeds: it shows a real box, a second thread finds it, reads its text and presses OK.
// Exit code 0: a box was shown, read and answered; anything else: windows do not work (yet).
#include <windows.h>

#include <stdio.h>

static const wchar_t kText[] = L"bench ready \x6D4B\x8BD5";  // Chinese text too, as the host's notices have
static wchar_t caption[64];
static volatile LONG textMatched;

static DWORD WINAPI AnswerBox(void *)
{
    for (int i = 0; i < 400; ++i) {  // 10 s
        HWND box = FindWindowW(L"#32770", caption);
        if (box != nullptr && IsWindowVisible(box)) {
            wchar_t text[128] = L"";
            GetDlgItemTextW(box, 0xFFFF, text, 128);
            InterlockedExchange(&textMatched, lstrcmpW(text, kText) == 0 ? 1 : 0);
            SendMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
            return 0;
        }
        Sleep(25);
    }
    // A box that exists but is never shown would block the main thread for good.
    fwprintf(stderr, L"bench_ready: no visible message box within 10 s\n");
    ExitProcess(3);
}

int wmain()
{
    wsprintfW(caption, L"bench-ready %lu", GetCurrentProcessId());
    HWND window = CreateWindowExW(0, L"STATIC", caption, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (window == nullptr) {
        fwprintf(stderr, L"bench_ready: CreateWindowExW failed with %lu\n", GetLastError());
        return 1;
    }
    DestroyWindow(window);
    HANDLE answerer = CreateThread(nullptr, 0, AnswerBox, nullptr, 0, nullptr);
    if (answerer == nullptr) {
        return 1;
    }
    int result = MessageBoxW(nullptr, kText, caption, MB_OKCANCEL | MB_ICONINFORMATION | MB_SETFOREGROUND);
    DWORD waited = WaitForSingleObject(answerer, 10000);
    CloseHandle(answerer);
    if (result != IDOK || waited != WAIT_OBJECT_0 || InterlockedCompareExchange(&textMatched, 0, 0) != 1) {
        fwprintf(stderr, L"bench_ready: message box returned %d (error %lu), text %ls\n", result, GetLastError(),
                 textMatched ? L"read back" : L"not read back");
        return 2;
    }
    return 0;
}
