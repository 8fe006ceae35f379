// The installer window of one prerequisite: it owns the context that it shares with its one worker at a time (the
// download thread or the installer thread), starts the worker on a click and reads the worker's outcome from the
// message the worker posts as its last act. The window thread never blocks on the network or on the installer; the
// one wait it has, when the window is destroyed under a running worker, keeps delivering sent messages, because the
// download engine may at that moment be setting the status line from its own thread.
#include "installer/installer_window.h"

#include <commctrl.h>
#include <shellapi.h>
#include <winhttp.h>

#include "common/bounded_text.h"
#include "common/notice.h"
#include "common/path_text.h"
#include "installer/download.h"
#include "installer/installer_context.h"
#include "installer/installer_outcome.h"
#include "installer/progress.h"
#include "installer/runner.h"
#include "installer/verify.h"

namespace {

const wchar_t kClassName[] = L"RuduDovaRuntimeDownload";
const wchar_t kFolderName[] = L"Velvaro";
const int kWindowWidth = 470;
const int kWindowHeight = 248;
const UINT_PTR kProgressTimer = 1;
const UINT kProgressPeriodMs = 200;
const size_t kIntroChars = 240;
const size_t kDownloadFailedChars = 360;
const size_t kInstallFailedChars = 240;

const wchar_t kTextNoPackagePath[] = L"无法准备安装包保存位置。";
const wchar_t kTextNoWindow[] = L"无法显示安装窗口。";
const wchar_t kIntroFormat[] = L"需要安装 %s。\r\n安装包来自微软官方下载服务器。";
const wchar_t kTextReadyFound[] = L"安装包已下载，可以直接安装。";
const wchar_t kTextNeedsDownload[] = L"点击“下载”开始下载。";
const wchar_t kTextWebPage[] = L"微软网页下载";
const wchar_t kTextInstall[] = L"安装";
const wchar_t kTextDownload[] = L"下载";
const wchar_t kTextClose[] = L"关闭";
const wchar_t kTextCancel[] = L"取消";
const wchar_t kTextRetryDownload[] = L"重试下载";
const wchar_t kTextInstalling[] = L"正在安装，请在 UAC 提示中选择“是”…";
const wchar_t kTextNoInstallerThread[] = L"无法启动安装程序。";
const wchar_t kTextConnecting[] = L"正在连接微软下载服务器…";
const wchar_t kTextNoDownloadThread[] = L"无法开始下载。";
const wchar_t kTextCancelling[] = L"正在取消下载…";
const wchar_t kDownloadFailedFormat[] = L"%s可以重试下载。";
const wchar_t kTextDownloaded[] = L"下载完成。点击“安装”打开微软安装程序。";
const wchar_t kInstallFailedFormat[] = L"安装未完成（错误 0x%08X）。可以重试安装。";
const wchar_t kTextNotVerified[] = L"安装包校验失败。";  // the download engine's own text for a failed verification

InstallerContext *ContextOf(HWND hwnd)
{
    return reinterpret_cast<InstallerContext *>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
}

HWND Control(HWND hwnd, int id)
{
    return GetDlgItem(hwnd, id);
}

void SetStatus(HWND hwnd, const wchar_t *text)
{
    SetWindowTextW(Control(hwnd, IDC_STATUS), text);
}

// %TEMP%\Velvaro\<fileName>, the folder created when missing; false when any step would reach MAX_PATH or a file
// already holds the folder's name (every download would then fail to write there).
bool PreparePackagePath(InstallerContext *context)
{
    wchar_t temp[MAX_PATH];
    DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    CopyBounded(context->packagePath, MAX_PATH, temp);
    if (!AppendToPath(context->packagePath, kFolderName)) {
        return false;
    }
    if (!CreateDirectoryW(context->packagePath, nullptr) &&
        (GetLastError() != ERROR_ALREADY_EXISTS || !IsFolder(context->packagePath))) {
        return false;
    }
    if (!AppendToPath(context->packagePath, L"\\")) {
        return false;
    }
    return context->item != nullptr && AppendToPath(context->packagePath, context->item->fileName);
}

// The flag first, then the request: the engine, whose blocked call fails because of the close, then finds the flag
// set and reports a cancellation rather than a network failure.
void CancelDownload(InstallerContext *context)
{
    StoreFlag(&context->cancelRequested, 1);
    HINTERNET request = ExchangeRequest(context, nullptr);
    if (request != nullptr) {
        WinHttpCloseHandle(request);
    }
}

// Waits for the worker without a time limit, but keeps delivering messages that other threads send to this one: the
// download engine sets the status line from its thread, and a plain wait here would deadlock with it.
void WaitForWorker(HANDLE worker)
{
    for (;;) {
        MSG message;
        PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        DWORD result = MsgWaitForMultipleObjects(1, &worker, FALSE, INFINITE, QS_SENDMESSAGE);
        if (result != WAIT_OBJECT_0 + 1) {
            return;
        }
    }
}

void CloseWorker(InstallerContext *context)
{
    if (context->worker != nullptr) {
        CloseHandle(context->worker);
        context->worker = nullptr;
    }
}

void ShowRetryInstall(HWND hwnd)
{
    EnableWindow(Control(hwnd, IDC_ACTION), TRUE);
    EnableWindow(Control(hwnd, IDC_CLOSE), TRUE);
    ShowWindow(Control(hwnd, IDC_WEBPAGE), SW_SHOW);
}

HWND CreateChild(HWND parent, const wchar_t *className, int id, const wchar_t *text, DWORD style, int x, int y,
                 int width, int height)
{
    return CreateWindowExW(0, className, text, style, x, y, width, height, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), nullptr, nullptr);
}

void OnCreate(HWND hwnd, const CREATESTRUCTW *create)
{
    InstallerContext *context = static_cast<InstallerContext *>(create->lpCreateParams);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(context));
    context->hwnd = hwnd;
    WPARAM font = reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT));

    wchar_t intro[kIntroChars];
    FormatBounded(intro, kIntroChars, kIntroFormat, context->item->displayName);

    HWND introText = CreateChild(hwnd, L"STATIC", 0, intro, WS_CHILD | WS_VISIBLE, 18, 16, 424, 58);
    HWND bar = CreateChild(hwnd, PROGRESS_CLASSW, IDC_PROGRESS, nullptr, WS_CHILD | WS_VISIBLE, 18, 84, 424, 22);
    bool ready = VerifyPackage(context->packagePath, context->item);
    StoreFlag(&context->packageReady, ready ? 1 : 0);
    HWND status = CreateChild(hwnd, L"STATIC", IDC_STATUS, ready ? kTextReadyFound : kTextNeedsDownload,
                              WS_CHILD | WS_VISIBLE, 18, 116, 424, 22);
    HWND webPage = CreateChild(hwnd, L"BUTTON", IDC_WEBPAGE, kTextWebPage, WS_CHILD | WS_TABSTOP, 94, 150, 110, 28);
    HWND action = CreateChild(hwnd, L"BUTTON", IDC_ACTION, ready ? kTextInstall : kTextDownload,
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 214, 150, 108, 28);
    HWND close = CreateChild(hwnd, L"BUTTON", IDC_CLOSE, kTextClose, WS_CHILD | WS_VISIBLE | WS_TABSTOP, 334, 150,
                             108, 28);

    SendMessageW(introText, WM_SETFONT, font, TRUE);
    SendMessageW(status, WM_SETFONT, font, TRUE);
    SendMessageW(webPage, WM_SETFONT, font, TRUE);
    SendMessageW(action, WM_SETFONT, font, TRUE);
    SendMessageW(close, WM_SETFONT, font, TRUE);

    SendMessageW(bar, PBM_SETRANGE32, 0, kProgressBarRange);
    if (ready) {
        SendMessageW(bar, PBM_SETPOS, kProgressBarRange, 0);
    }
}

void StartInstallation(HWND hwnd, InstallerContext *context)
{
    if (!TestAndSetFlag(&context->installing)) {
        return;
    }
    SetStatus(hwnd, kTextInstalling);
    EnableWindow(Control(hwnd, IDC_ACTION), FALSE);
    EnableWindow(Control(hwnd, IDC_CLOSE), FALSE);
    ShowWindow(Control(hwnd, IDC_WEBPAGE), SW_HIDE);
    context->worker = CreateThread(nullptr, 0, InstallerThreadProc, context, 0, nullptr);
    if (context->worker == nullptr) {
        StoreFlag(&context->installing, 0);
        SetStatus(hwnd, kTextNoInstallerThread);
        ShowRetryInstall(hwnd);
    }
}

void StartDownload(HWND hwnd, InstallerContext *context)
{
    if (!TestAndSetFlag(&context->downloading)) {
        return;
    }
    StoreFlag(&context->cancelRequested, 0);
    StoreFlag(&context->failed, 0);
    StoreCounter(&context->bytesReceived, 0);
    StoreCounter(&context->bytesTotal, 0);

    SetStatus(hwnd, kTextConnecting);
    SetWindowTextW(Control(hwnd, IDC_CLOSE), kTextCancel);
    EnableWindow(Control(hwnd, IDC_ACTION), FALSE);
    SendMessageW(Control(hwnd, IDC_PROGRESS), PBM_SETPOS, 0, 0);
    SetTimer(hwnd, kProgressTimer, kProgressPeriodMs, nullptr);

    context->worker = CreateThread(nullptr, 0, DownloadThreadProc, context, 0, nullptr);
    if (context->worker == nullptr) {
        // Shown as a failed download by the message's own handler, which also stops the timer.
        CopyBounded(context->errorText, ARRAYSIZE(context->errorText), kTextNoDownloadThread);
        StoreFlag(&context->failed, 1);
        PostMessageW(hwnd, WM_APP_DOWNLOAD_DONE, 0, 0);
    }
}

void OnCommand(HWND hwnd, int id)
{
    InstallerContext *context = ContextOf(hwnd);
    if (context == nullptr) {
        return;
    }
    switch (id) {
    case IDC_WEBPAGE:
        ShellExecuteW(nullptr, L"open", context->item->infoPageUrl, nullptr, nullptr, SW_SHOWNORMAL);
        break;
    case IDC_ACTION:
        if (LoadFlag(&context->packageReady) != 0) {
            StartInstallation(hwnd, context);
        } else {
            StartDownload(hwnd, context);
        }
        break;
    case IDC_CLOSE:
        if (LoadFlag(&context->downloading) != 0) {
            // The window stays until the download thread has ended.
            CancelDownload(context);
            SetStatus(hwnd, kTextCancelling);
            EnableWindow(Control(hwnd, IDC_CLOSE), FALSE);
        } else {
            DestroyWindow(hwnd);
        }
        break;
    default:
        break;
    }
}

void OnDownloadDone(HWND hwnd)
{
    KillTimer(hwnd, kProgressTimer);
    InstallerContext *context = ContextOf(hwnd);
    if (context == nullptr) {
        return;
    }
    StoreFlag(&context->downloading, 0);
    CloseWorker(context);
    if (LoadFlag(&context->cancelRequested) != 0) {
        DestroyWindow(hwnd);
        return;
    }
    if (LoadFlag(&context->failed) != 0) {
        wchar_t text[kDownloadFailedChars];
        FormatBounded(text, kDownloadFailedChars, kDownloadFailedFormat, context->errorText);
        SetStatus(hwnd, text);
        SetWindowTextW(Control(hwnd, IDC_ACTION), kTextRetryDownload);
    } else {
        RefreshDownloadProgress(hwnd, context);
        StoreFlag(&context->packageReady, 1);
        SetStatus(hwnd, kTextDownloaded);
        SetWindowTextW(Control(hwnd, IDC_ACTION), kTextInstall);
    }
    EnableWindow(Control(hwnd, IDC_ACTION), TRUE);
    SetWindowTextW(Control(hwnd, IDC_CLOSE), kTextClose);
}

// The runner found the package changed or gone and cleared packageReady: installing again cannot help, a fresh
// download can. The window shows what a download that failed its verification shows.
void OfferDownloadAgain(HWND hwnd, InstallerContext *context)
{
    CopyBounded(context->errorText, ARRAYSIZE(context->errorText), kTextNotVerified);
    wchar_t text[kDownloadFailedChars];
    FormatBounded(text, kDownloadFailedChars, kDownloadFailedFormat, context->errorText);
    SetStatus(hwnd, text);
    SetWindowTextW(Control(hwnd, IDC_ACTION), kTextRetryDownload);
    EnableWindow(Control(hwnd, IDC_ACTION), TRUE);
    EnableWindow(Control(hwnd, IDC_CLOSE), TRUE);
}

void OnInstallDone(HWND hwnd)
{
    InstallerContext *context = ContextOf(hwnd);
    if (context == nullptr) {
        return;
    }
    StoreFlag(&context->installing, 0);
    CloseWorker(context);
    if (LoadFlag(&context->packageReady) == 0) {
        OfferDownloadAgain(hwnd, context);
        return;
    }
    DWORD code = LoadExitCode(context);
    // Whatever did not fail leaves nothing more to do here; the chain reads the code again for its next step.
    if (ClassifyInstallerExit(context->item, code) != kExitFailed) {
        DestroyWindow(hwnd);
        return;
    }
    wchar_t text[kInstallFailedChars];
    FormatBounded(text, kInstallFailedChars, kInstallFailedFormat, code);
    SetStatus(hwnd, text);
    ShowRetryInstall(hwnd);
}

void OnClose(HWND hwnd)
{
    InstallerContext *context = ContextOf(hwnd);
    if (context == nullptr) {
        DestroyWindow(hwnd);
    } else if (LoadFlag(&context->downloading) != 0) {
        // No text changes: the window closes when the download thread's message arrives.
        CancelDownload(context);
    } else if (LoadFlag(&context->installing) == 0) {
        DestroyWindow(hwnd);
    }
    // While an installer runs the window cannot be closed.
}

void OnDestroy(HWND hwnd)
{
    InstallerContext *context = ContextOf(hwnd);
    if (context != nullptr && context->worker != nullptr) {
        CancelDownload(context);
        WaitForWorker(context->worker);
        CloseWorker(context);
    }
    PostQuitMessage(0);
}

}  // namespace

LRESULT CALLBACK InstallerWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        OnCreate(hwnd, reinterpret_cast<const CREATESTRUCTW *>(lParam));
        return 0;
    case WM_COMMAND:
        OnCommand(hwnd, LOWORD(wParam));
        return 0;
    case WM_TIMER: {
        InstallerContext *context = ContextOf(hwnd);
        if (context != nullptr && LoadFlag(&context->downloading) != 0) {
            RefreshDownloadProgress(hwnd, context);
        }
        return 0;
    }
    case WM_CLOSE:
        OnClose(hwnd);
        return 0;
    case WM_DESTROY:
        OnDestroy(hwnd);
        return 0;
    case WM_APP_DOWNLOAD_DONE:
        OnDownloadDone(hwnd);
        return 0;
    case WM_APP_INSTALL_DONE:
        OnInstallDone(hwnd);
        return 0;
    default:
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
}

DWORD WINAPI DownloadThreadProc(LPVOID parameter)
{
    InstallerContext *context = static_cast<InstallerContext *>(parameter);
    bool downloaded = DownloadPackage(context);
    StoreFlag(&context->failed, downloaded ? 0 : 1);
    // The last act: the window may close this thread's handle as soon as the message arrives.
    PostMessageW(context->hwnd, WM_APP_DOWNLOAD_DONE, 0, 0);
    return 0;
}

DWORD RunInstallerWindow(const PrerequisiteItem *item)
{
    InstallerContext context;
    InitInstallerContext(&context);
    context.item = item;
    if (!PreparePackagePath(&context)) {
        ShowNotice(kTextNoPackagePath, kNoticeErrorStyle);
        return 2;
    }

    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);

    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSW windowClass = {};
    windowClass.style = 0;
    windowClass.lpfnWndProc = InstallerWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = kClassName;
    // A second window in the same process finds the class registered already, and that class serves.
    RegisterClassW(&windowClass);

    int x = (GetSystemMetrics(SM_CXSCREEN) - kWindowWidth) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - kWindowHeight) / 2;
    HWND hwnd = CreateWindowExW(WS_EX_TOPMOST | WS_EX_DLGMODALFRAME, kClassName, item->displayName,
                                WS_CAPTION | WS_SYSMENU, x, y, kWindowWidth, kWindowHeight, nullptr, nullptr,
                                instance, &context);
    if (hwnd == nullptr) {
        ShowNotice(kTextNoWindow, kNoticeErrorStyle);
        return 2;
    }
    ShowWindow(hwnd, SW_SHOWNORMAL);
    UpdateWindow(hwnd);

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return LoadExitCode(&context);
}
