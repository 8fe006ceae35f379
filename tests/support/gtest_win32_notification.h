// GoogleTest's Notification uses std::mutex, which the win32-thread mingw-w64 compilers do not provide. This one,
// on a Win32 manual-reset event, is force-included into GoogleTest and every test, ahead of gtest-port.h.
#pragma once
#define GTEST_HAS_NOTIFICATION_ 1
#include <windows.h>

namespace testing {
namespace internal {
class Notification {
public:
    Notification() : event_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
    ~Notification() { CloseHandle(event_); }
    Notification(const Notification &) = delete;
    Notification &operator=(const Notification &) = delete;
    void Notify() { SetEvent(event_); }
    void WaitForNotification() { WaitForSingleObject(event_, INFINITE); }

private:
    HANDLE event_;
};
}  // namespace internal
}  // namespace testing
