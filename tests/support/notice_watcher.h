// Reads the host's message boxes from a second thread, as a merchant would see them, and answers them.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "support/expected_text.h"

namespace bench {

struct SeenNotice {
    std::wstring caption;
    std::wstring text;
    bool hasOk;
    bool hasCancel;
    bool hasIcon;  // which icon cannot be told from another process: Wine's icon handles are per process
};

// Watches every visible top-level dialog (#32770) with the given caption and answers each with `answer`: IDOK or
// IDCANCEL presses that button, 0 closes the box with WM_CLOSE.
class NoticeWatcher {
public:
    explicit NoticeWatcher(int answer = IDOK, const wchar_t *caption = text::kCaption);
    ~NoticeWatcher();
    NoticeWatcher(const NoticeWatcher &) = delete;
    NoticeWatcher &operator=(const NoticeWatcher &) = delete;

    // Everything seen so far; call after the child has ended.
    std::vector<SeenNotice> Seen();

private:
    static DWORD WINAPI Run(void *self);
    void Scan();

    int answer_;
    std::wstring caption_;
    HANDLE stop_;
    HANDLE thread_;
    CRITICAL_SECTION lock_;
    std::vector<SeenNotice> seen_;
    std::vector<HWND> answered_;
};

}  // namespace bench
