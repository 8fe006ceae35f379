// A watcher thread that polls for message boxes. FindWindow can meet a box before it is shown, so only visible boxes
// are read and answered; every read is a message with a time limit, so a dialog that hangs cannot stall the watcher.
#include "support/notice_watcher.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "support/expected_text.h"
#include "support/stand_in.h"
#include "support/utf8.h"
#include "support/wait_for.h"

namespace bench {

namespace {

const wchar_t kOwnCaption[] = L"bench: the notice watcher's own box";

std::wstring TextOf(HWND window)
{
    wchar_t text[2048] = L"";
    DWORD_PTR length = 0;
    if (window == nullptr || !SendMessageTimeoutW(window, WM_GETTEXT, ARRAYSIZE(text), reinterpret_cast<LPARAM>(text),
                                                  SMTO_NORMAL, 5000, &length)) {
        return L"";
    }
    return std::wstring(text, std::min<size_t>(length, ARRAYSIZE(text) - 1));
}

// Joins a thread within the limit, or ends it: a watcher must not outlive the test that made it.
void Join(HANDLE thread, DWORD timeoutMs, const char *what)
{
    if (thread == nullptr) {
        return;
    }
    if (WaitForSingleObject(thread, timeoutMs) != WAIT_OBJECT_0) {
        ADD_FAILURE() << what << " did not end within " << timeoutMs << " ms";
        TerminateThread(thread, 0xDEAD);
        WaitForSingleObject(thread, 5000);
    }
    CloseHandle(thread);
}

}  // namespace

NoticeWatcher::NoticeWatcher(int answer)
    : answer_(answer), stop_(nullptr), thread_(nullptr), ownBox_(nullptr), scans_(0), ownBoxSeen_(false),
      reported_(0)
{
    InitializeCriticalSection(&lock_);
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &NoticeWatcher::Run, this, 0, nullptr);
    ownBox_ = CreateThread(nullptr, 0, &NoticeWatcher::ShowOwnBox, nullptr, 0, nullptr);
}

NoticeWatcher::~NoticeWatcher()
{
    // The watcher's own box goes first, while the scans can still answer it.
    WaitForSingleObject(ownBox_, 10000);
    SetEvent(stop_);
    Join(thread_, 10000, "the notice watcher");
    if (WaitForSingleObject(ownBox_, 0) == WAIT_TIMEOUT) {
        PostMessageW(FindWindowW(L"#32770", kOwnCaption), WM_CLOSE, 0, 0);
    }
    Join(ownBox_, 5000, "the notice watcher's own box");
    ReportOtherCaptions();
    CloseHandle(stop_);
    DeleteCriticalSection(&lock_);
}

std::vector<SeenNotice> NoticeWatcher::Seen()
{
    // A box that appeared just before this call is not missed: the scan under way may have passed it, the next
    // one cannot.
    EnterCriticalSection(&lock_);
    unsigned wanted = scans_ + 2;
    LeaveCriticalSection(&lock_);
    auto scannedAndSawOwnBox = [&] {
        EnterCriticalSection(&lock_);
        bool done = scans_ >= wanted && ownBoxSeen_;
        LeaveCriticalSection(&lock_);
        return done;
    };
    bool proven = thread_ != nullptr && ownBox_ != nullptr && WaitFor(scannedAndSawOwnBox, 5000);
    EXPECT_TRUE(proven) << "the notice watcher never saw its own box: a notice missing here proves nothing";
    ReportOtherCaptions();
    EnterCriticalSection(&lock_);
    std::vector<SeenNotice> copy = seen_;
    LeaveCriticalSection(&lock_);
    return copy;
}

void NoticeWatcher::ReportOtherCaptions()
{
    EnterCriticalSection(&lock_);
    std::vector<SeenNotice> fresh(seen_.begin() + static_cast<std::ptrdiff_t>(reported_), seen_.end());
    reported_ = seen_.size();
    LeaveCriticalSection(&lock_);
    for (const SeenNotice &notice : fresh) {
        EXPECT_EQ(std::wstring(text::kCaption), notice.caption)
            << "a box under another caption, saying: " << Utf8(notice.text);
    }
}

DWORD WINAPI NoticeWatcher::Run(void *self)
{
    NoticeWatcher *watcher = static_cast<NoticeWatcher *>(self);
    while (WaitForSingleObject(watcher->stop_, 15) == WAIT_TIMEOUT) {
        watcher->Scan();
    }
    return 0;
}

// The real MessageBoxW, never a stand-in of the test program: the box is the watcher's, not the product's.
DWORD WINAPI NoticeWatcher::ShowOwnBox(void *)
{
    REAL_IMPORT(L"user32.dll", MessageBoxW)(nullptr, L"A notice would be seen.", kOwnCaption, MB_OK);
    return 0;
}

void NoticeWatcher::Scan()
{
    HWND box = nullptr;
    while ((box = FindWindowExW(nullptr, box, L"#32770", nullptr)) != nullptr) {
        if (!IsWindowVisible(box) || std::find(answered_.begin(), answered_.end(), box) != answered_.end()) {
            continue;
        }
        SeenNotice notice;
        notice.caption = TextOf(box);
        answered_.push_back(box);
        if (notice.caption == kOwnCaption) {
            PostMessageW(box, WM_CLOSE, 0, 0);
            EnterCriticalSection(&lock_);
            ownBoxSeen_ = true;
            LeaveCriticalSection(&lock_);
            continue;
        }
        notice.text = TextOf(GetDlgItem(box, 0xFFFF));
        notice.hasOk = GetDlgItem(box, IDOK) != nullptr;
        notice.hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
        notice.hasIcon = false;
        // The icon's control id differs between Windows (20) and Wine (0x440): find it by its style.
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            DWORD_PTR icon = 0;
            if ((GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_NORMAL, 5000, &icon)) {
                notice.hasIcon = icon != 0;
            }
        }
        EnterCriticalSection(&lock_);
        seen_.push_back(notice);
        LeaveCriticalSection(&lock_);
        if (answer_ == 0) {
            PostMessageW(box, WM_CLOSE, 0, 0);
        } else {
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(answer_, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, answer_)));
        }
    }
    EnterCriticalSection(&lock_);
    ++scans_;
    LeaveCriticalSection(&lock_);
}

}  // namespace bench
