// A watcher thread that polls for the host's message boxes. FindWindow can meet a box before it is shown, so only
// visible boxes are read and answered.
#include "support/notice_watcher.h"

#include <algorithm>

#include "support/wait_for.h"

namespace bench {

NoticeWatcher::NoticeWatcher(int answer) : answer_(answer), scans_(0)
{
    InitializeCriticalSection(&lock_);
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &NoticeWatcher::Run, this, 0, nullptr);
}

NoticeWatcher::~NoticeWatcher()
{
    SetEvent(stop_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
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
    WaitFor(
        [&] {
            EnterCriticalSection(&lock_);
            bool done = scans_ >= wanted;
            LeaveCriticalSection(&lock_);
            return done;
        },
        5000);
    EnterCriticalSection(&lock_);
    std::vector<SeenNotice> copy = seen_;
    LeaveCriticalSection(&lock_);
    return copy;
}

DWORD WINAPI NoticeWatcher::Run(void *self)
{
    NoticeWatcher *watcher = static_cast<NoticeWatcher *>(self);
    while (WaitForSingleObject(watcher->stop_, 15) == WAIT_TIMEOUT) {
        watcher->Scan();
    }
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
        wchar_t text[2048] = L"";
        GetWindowTextW(box, text, 2048);
        notice.caption = text;
        text[0] = L'\0';
        GetDlgItemTextW(box, 0xFFFF, text, 2048);
        notice.text = text;
        notice.hasOk = GetDlgItem(box, IDOK) != nullptr;
        notice.hasCancel = GetDlgItem(box, IDCANCEL) != nullptr;
        notice.hasIcon = false;
        // The icon's control id differs between Windows (20) and Wine (0x440): find it by its style.
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
            if ((GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                notice.hasIcon = SendMessageW(child, STM_GETICON, 0, 0) != 0;
            }
        }
        answered_.push_back(box);
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
