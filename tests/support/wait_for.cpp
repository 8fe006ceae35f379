// The one polling wait of the tests, on GetTickCount (wraps safely in unsigned arithmetic).
#include "support/wait_for.h"

namespace bench {

bool WaitFor(const std::function<bool()> &done, DWORD deadlineMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (done()) {
            return true;
        }
        if (GetTickCount() - start > deadlineMs) {
            return false;
        }
        Sleep(10);
    }
}

}  // namespace bench
