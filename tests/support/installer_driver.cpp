// The installer window's driver and the records its tests share. See installer_driver.h.
#include "support/installer_driver.h"

#include <commctrl.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "installer/installer_window.h"
#include "support/wait_for.h"

namespace bench {

namespace window_text {

std::wstring InstallFailed(DWORD code)
{
    wchar_t text[64];
    swprintf(text, 64, L"安装未完成（错误 0x%08X）。可以重试安装。", code);
    return text;
}

std::wstring Intro(const std::wstring &displayName)
{
    return L"需要安装 " + displayName + L"。\r\n安装包来自微软官方下载服务器。";
}

}  // namespace window_text

namespace {

ControlState ReadControl(HWND window, int id)
{
    ControlState state = {};
    HWND control = GetDlgItem(window, id);
    if (control == nullptr) {
        return state;
    }
    state.exists = true;
    wchar_t text[512] = {};
    SendMessageTimeoutW(control, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        5000, nullptr);
    state.text = text;
    state.enabled = IsWindowEnabled(control) != FALSE;
    state.visible = IsWindowVisible(control) != FALSE;
    return state;
}

std::string Ascii(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text) {
        out += (c >= 32 && c < 127) ? static_cast<char>(c) : '?';
    }
    return out;
}

}  // namespace

HWND FindInstallerWindow(DWORD timeoutMs)
{
    HWND window = nullptr;
    bool shown = WaitFor(
        [&] {
            window = FindWindowW(window_text::kClass, nullptr);
            return window != nullptr && IsWindowVisible(window);
        },
        timeoutMs);
    return shown ? window : nullptr;
}

WindowState ReadWindow(HWND window)
{
    WindowState state = {};
    state.exists = IsWindow(window) != FALSE;
    if (!state.exists) {
        return state;
    }
    wchar_t title[256] = {};
    SendMessageTimeoutW(window, WM_GETTEXT, ARRAYSIZE(title), reinterpret_cast<LPARAM>(title), SMTO_ABORTIFHUNG,
                        5000, nullptr);
    state.title = title;
    // The intro text is the only child with id 0.
    HWND intro = nullptr;
    for (HWND child = GetWindow(window, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (GetDlgCtrlID(child) == 0) {
            intro = child;
        }
    }
    if (intro != nullptr) {
        wchar_t text[512] = {};
        GetWindowTextW(intro, text, ARRAYSIZE(text));
        state.intro = {true, text, IsWindowEnabled(intro) != FALSE, IsWindowVisible(intro) != FALSE};
    }
    state.status = ReadControl(window, 202);
    state.action = ReadControl(window, 203);
    state.webPage = ReadControl(window, 204);
    state.close = ReadControl(window, 205);
    HWND bar = GetDlgItem(window, 201);
    DWORD_PTR position = 0;
    DWORD_PTR high = 0;
    SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &position);
    SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 5000, &high);
    state.barPosition = static_cast<int>(position);
    state.barHigh = static_cast<int>(high);
    return state;
}

bool WaitForState(HWND window, const std::function<bool(const WindowState &)> &condition, DWORD timeoutMs)
{
    return WaitFor([&] { return condition(ReadWindow(window)); }, timeoutMs);
}

void Click(HWND window, int id)
{
    SendMessageW(GetDlgItem(window, id), BM_CLICK, 0, 0);
}

std::string Shown(const WindowState &s)
{
    if (!s.exists) {
        return "(no window)";
    }
    char line[1024];
    snprintf(line, sizeof(line),
             "status '%s' | action '%s' %s%s | web '%s' %s%s | close '%s' %s%s | bar %d/%d",
             Ascii(s.status.text).c_str(), Ascii(s.action.text).c_str(), s.action.enabled ? "on" : "off",
             s.action.visible ? "" : " hidden", Ascii(s.webPage.text).c_str(), s.webPage.enabled ? "on" : "off",
             s.webPage.visible ? "" : " hidden", Ascii(s.close.text).c_str(), s.close.enabled ? "on" : "off",
             s.close.visible ? "" : " hidden", s.barPosition, s.barHigh);
    return line;
}

namespace {

// What WindowRun's destructor asks of a window thread whose window would not close (a thread message, seen by the
// thread's own hook): wParam kDestroyWindows or kEndLoop.
const wchar_t kEndRequestName[] = L"bench.WindowRun.End";
const WPARAM kDestroyWindows = 1;
const WPARAM kEndLoop = 2;

bool IsInstallerWindow(HWND window)
{
    wchar_t name[64] = {};
    GetClassNameW(window, name, ARRAYSIZE(name));
    return lstrcmpW(name, window_text::kClass) == 0;
}

BOOL CALLBACK DestroyInstallerWindow(HWND window, LPARAM)
{
    if (IsInstallerWindow(window)) {
        DestroyWindow(window);
    }
    return TRUE;
}

BOOL CALLBACK CloseInstallerWindow(HWND window, LPARAM)
{
    if (IsInstallerWindow(window)) {
        PostMessageW(window, WM_COMMAND, MAKEWPARAM(205, BN_CLICKED), 0);
    }
    return TRUE;
}

LRESULT CALLBACK EndOnRequest(int code, WPARAM wParam, LPARAM lParam)
{
    const MSG *message = reinterpret_cast<const MSG *>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->hwnd == nullptr &&
        message->message == RegisterWindowMessageW(kEndRequestName)) {
        if (message->wParam == kDestroyWindows) {
            EnumThreadWindows(GetCurrentThreadId(), DestroyInstallerWindow, 0);
        } else if (message->wParam == kEndLoop) {
            PostQuitMessage(0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

WindowRun::WindowRun(const PrerequisiteItem *item, std::function<void()> beforeRun)
    : item_(item), beforeRun_(std::move(beforeRun)), thread_(nullptr), threadId_(0), result_(0)
{
    thread_ = CreateThread(nullptr, 0, Run, this, 0, &threadId_);
}

// A window still open here belongs to a test that did not end it. Closed as the user closes it, that is no fault of
// the window; one that stays is the test's failure, and is ended by whatever it takes, one step after the other, so
// that the next test starts without it: destroyed on its own thread, its loop told to end, its thread terminated.
WindowRun::~WindowRun()
{
    if (thread_ == nullptr) {
        return;
    }
    if (WaitForSingleObject(thread_, 0) != WAIT_OBJECT_0) {
        EnumThreadWindows(threadId_, CloseInstallerWindow, 0);
        if (WaitForSingleObject(thread_, 20000) != WAIT_OBJECT_0) {
            const UINT request = RegisterWindowMessageW(kEndRequestName);
            std::string taken = "destroyed on its thread";
            PostThreadMessageW(threadId_, request, kDestroyWindows, 0);
            if (WaitForSingleObject(thread_, 5000) != WAIT_OBJECT_0) {
                taken += ", its loop told to end";
                PostThreadMessageW(threadId_, request, kEndLoop, 0);
                if (WaitForSingleObject(thread_, 5000) != WAIT_OBJECT_0) {
                    taken += ", its thread terminated";
                    TerminateThread(thread_, 3);
                    WaitForSingleObject(thread_, 5000);
                }
            }
            ADD_FAILURE() << "the installer window did not close on its close button within 20 s; " << taken;
        }
    }
    CloseHandle(thread_);
}

DWORD WINAPI WindowRun::Run(void *self)
{
    WindowRun *run = static_cast<WindowRun *>(self);
    HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, EndOnRequest, nullptr, GetCurrentThreadId());
    if (run->beforeRun_) {
        run->beforeRun_();
    }
    run->result_ = RunInstallerWindow(run->item_);
    if (hook != nullptr) {
        UnhookWindowsHookEx(hook);
    }
    return 0;
}

bool WindowRun::Wait(DWORD timeoutMs, DWORD *result)
{
    if (thread_ == nullptr || WaitForSingleObject(thread_, timeoutMs) != WAIT_OBJECT_0) {
        return false;
    }
    *result = result_;
    return true;
}

bool Sha256OfFile(const std::wstring &path, BYTE digest[32])
{
    std::vector<char> bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    char block[65536];
    DWORD got = 0;
    while (ReadFile(file, block, sizeof(block), &got, nullptr) && got > 0) {
        bytes.insert(bytes.end(), block, block + got);
    }
    CloseHandle(file);
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    DWORD length = 32;
    bool ok = CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT) &&
              CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
              CryptHashData(hash, reinterpret_cast<const BYTE *>(bytes.data()), static_cast<DWORD>(bytes.size()),
                            0) &&
              CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == 32;
    if (hash != 0) {
        CryptDestroyHash(hash);
    }
    if (provider != 0) {
        CryptReleaseContext(provider, 0);
    }
    return ok;
}

LocalItem::LocalItem(const std::wstring &sourceFile, const std::wstring &fileName, bool update,
                     const std::wstring &primaryUrl)
    : fileName_(fileName), primary_(primaryUrl), sha256_(), valid_(false), item_()
{
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    valid_ = GetFileAttributesExW(sourceFile.c_str(), GetFileExInfoStandard, &data) &&
             Sha256OfFile(sourceFile, sha256_);
    item_.displayName = update ? L"Windows 7 测试更新 (KB0000001)" : L"Microsoft .NET Framework 4.8（测试）";
    item_.fileName = fileName_.c_str();
    item_.primaryUrl = primary_.c_str();
    item_.fallbackUrl = nullptr;
    item_.infoPageUrl = L"https://localhost/info-page";
    item_.expectedSize = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    item_.sha256 = sha256_;
    item_.kbId = update ? L"KB0000001" : nullptr;
}

TempFolder::TempFolder(const std::wstring &folder) : folder_(folder), savedTmp_(), hadTmp_(false)
{
    wchar_t saved[32768];
    DWORD length = GetEnvironmentVariableW(L"TMP", saved, ARRAYSIZE(saved));
    hadTmp_ = length > 0 && length < ARRAYSIZE(saved);
    if (hadTmp_) {
        savedTmp_ = saved;
    }
    SetEnvironmentVariableW(L"TMP", folder_.c_str());
}

TempFolder::~TempFolder()
{
    SetEnvironmentVariableW(L"TMP", hadTmp_ ? savedTmp_.c_str() : nullptr);
}

std::wstring TempFolder::PackagePath(const std::wstring &fileName) const
{
    std::wstring path = folder_;
    if (path.empty() || path.back() != L'\\') {
        path += L'\\';
    }
    return path + L"Velvaro\\" + fileName;
}

void SetStubBehaviour(DWORD exitCode, const std::wstring &markerFile, const std::wstring &waitEvent)
{
    wchar_t code[32];
    swprintf(code, 32, L"0x%08X", exitCode);
    SetEnvironmentVariableW(L"INSTALLER_STUB_EXIT", code);
    SetEnvironmentVariableW(L"INSTALLER_STUB_MARKER", markerFile.empty() ? nullptr : markerFile.c_str());
    SetEnvironmentVariableW(L"INSTALLER_STUB_WAIT", waitEvent.empty() ? nullptr : waitEvent.c_str());
}

void ClearStubBehaviour()
{
    SetEnvironmentVariableW(L"INSTALLER_STUB_EXIT", nullptr);
    SetEnvironmentVariableW(L"INSTALLER_STUB_MARKER", nullptr);
    SetEnvironmentVariableW(L"INSTALLER_STUB_WAIT", nullptr);
}

}  // namespace bench
