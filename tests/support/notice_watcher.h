// Reads every message box on the bench's desktop from a second thread, as a merchant would see it, and answers it.
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
// IDCANCEL presses that button, 0 closes the box with WM_CLOSE. Nothing is left blocking on a box nobody answers:
// a box under another caption than the notices' one is answered, recorded, and fails the running test (in Seen and
// at the latest when the watcher goes). The bench runs one test at a time in its prefix, so a dialog there is the
// test's own, or a failure of it (Wine's crash dialog is one too).
// Each watcher shows one box of its own as it starts and must see it: so an empty list from Seen() means that a
// notice would have been seen, not that the watcher saw nothing at all.
class NoticeWatcher {
public:
    explicit NoticeWatcher(int answer = IDOK);
    ~NoticeWatcher();
    NoticeWatcher(const NoticeWatcher &) = delete;
    NoticeWatcher &operator=(const NoticeWatcher &) = delete;

    // Every notice seen so far, a whole scan made after this call included; call after the child has ended. Fails
    // the running test when the watcher could not prove that it sees boxes (its own box was never seen, or no scan
    // completed).
    std::vector<SeenNotice> Seen();

private:
    static DWORD WINAPI Run(void *self);
    static DWORD WINAPI ShowOwnBox(void *unused);
    void Scan();
    void ReportOtherCaptions();

    int answer_;
    HANDLE stop_;
    HANDLE thread_;
    HANDLE ownBox_;  // the thread that shows the watcher's own box
    CRITICAL_SECTION lock_;
    std::vector<SeenNotice> seen_;  // under lock_
    unsigned scans_;                // whole scans finished, under lock_
    bool ownBoxSeen_;               // under lock_
    size_t reported_;               // notices whose caption was already checked
    std::vector<HWND> answered_;
};

}  // namespace bench
