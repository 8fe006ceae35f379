// Starting a child process from a test, the one way: the host twin, a helper program, or the test program itself.
// Use RunChild when the test only needs the end (its full 32-bit exit code, or that it did not end in time); use
// StartChild and FinishChild when the test acts while the child runs (drives its windows, holds it suspended, ends
// it). The child inherits no handles and the test's environment; FinishChild closes every handle it was given.
// A test that needs a child only to hold or do one small thing starts the test program itself in a helper role
// (SelfAsChild), as Wine's tests do, instead of a helper program of its own: the bench's main (test_main.cpp) runs
// the role named after "--bench-child" instead of the tests, and lists every role there is. Only programs built
// with host_test have that main (the benchmarks and the pictures have their own), and the child runs with the
// program's import stand-ins, which in a child keep their default: forwarding to Windows.
#pragma once
#include <windows.h>

#include <string>

namespace bench {

struct ChildResult {
    bool started;    // CreateProcessW succeeded
    bool finished;   // ended within the time limit (otherwise it was terminated)
    DWORD exitCode;  // all 32 bits, from GetExitCodeProcess
    DWORD error;     // CreateProcessW's error when not started
};

// A running child; process and thread are null when it did not start.
struct Child {
    HANDLE process;
    HANDLE thread;
    DWORD processId;
    DWORD threadId;
    bool started;
    DWORD error;  // CreateProcessW's error when not started
};

// app's path quoted, then args when any: a whole command line as CreateProcessW expects it.
std::wstring CommandLineFor(const std::wstring &app, const std::wstring &args);

// Starts app with the whole command line (program name included). flags: CreateProcessW's creation flags, e.g.
// CREATE_SUSPENDED (ResumeThread(child.thread) lets it go). desktop, when given, is STARTUPINFOW.lpDesktop
// ("Station\\Default" puts the child in a window station of its own, not visible).
Child StartChild(const std::wstring &app, const std::wstring &commandLine, DWORD flags = 0,
                 const wchar_t *desktop = nullptr);
// Waits up to timeoutMs for the child to end, terminates it otherwise (exit code 0xDEAD); closes its handles either
// way. A child that did not start gives started false.
ChildResult FinishChild(Child *child, DWORD timeoutMs);
// This test program, started in a helper role: the application and the whole command line for StartChild or RunChild.
struct SelfChild {
    std::wstring app;
    std::wstring commandLine;
};
SelfChild SelfAsChild(const std::wstring &role, const std::wstring &args = L"");

// StartChild, then FinishChild.
ChildResult RunChild(const std::wstring &app, const std::wstring &commandLine, DWORD timeoutMs = 30000,
                     const wchar_t *desktop = nullptr);

}  // namespace bench
