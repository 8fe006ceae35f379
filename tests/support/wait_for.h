// Waiting in a test for something another thread or process brings about (a window appears, a control shows a text,
// a file is written, a process ends): by its condition, with a deadline, never by a fixed sleep. A sleep stays only
// where time itself must pass (a stalled server stalls, nothing may change meanwhile), with a comment saying so.
#pragma once
#include <windows.h>

#include <functional>

namespace bench {

// Asks done every 10 ms until it answers true or deadlineMs passed; returns done's last answer, so a test can
// assert on it and then report what it saw instead.
bool WaitFor(const std::function<bool()> &done, DWORD deadlineMs);

}  // namespace bench
