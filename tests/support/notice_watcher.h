// Reads the host's message boxes from a second thread, as a merchant would see them, and answers them.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace bench {

struct SeenNotice {
    std::wstring caption;
    std::wstring text;
    bool hasOk;
    bool hasCancel;
    bool hasIcon;  // which icon cannot be told from another process: Wine's icon handles are per process
};

// Watches every visible top-level dialog (#32770), whatever its caption, and answers each with `answer`: IDOK or
// IDCANCEL presses that button, 0 closes the box with WM_CLOSE. A box under a wrong caption is answered and
// reported like any other, so a test that compares the caption fails at once instead of waiting on a box that
// nobody answers. The bench runs one test at a time in its prefix, so every dialog there is the test's own.
class NoticeWatcher {
public:
    explicit NoticeWatcher(int answer = IDOK);
    ~NoticeWatcher();
    NoticeWatcher(const NoticeWatcher &) = delete;
    NoticeWatcher &operator=(const NoticeWatcher &) = delete;

    // Everything seen so far, a whole scan made after this call included; call after the child has ended.
    std::vector<SeenNotice> Seen();

private:
    static DWORD WINAPI Run(void *self);
    void Scan();

    int answer_;
    HANDLE stop_;
    HANDLE thread_;
    CRITICAL_SECTION lock_;
    std::vector<SeenNotice> seen_;
    unsigned scans_;  // whole scans finished, under lock_
    std::vector<HWND> answered_;
};

}  // namespace bench
