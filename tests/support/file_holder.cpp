// The file holder on hold_file.exe: two named events (ready, release) of a name unique to this process and holder.
#include "support/file_holder.h"

#include <gtest/gtest.h>

#include "support/bench.h"

namespace bench {

FileHolder::FileHolder(const std::wstring &path, DWORD share)
    : ready_(nullptr), release_(nullptr), holder_(), holding_(false), exitCode_(0xDEAD)
{
    static LONG serial = 0;
    std::wstring name = L"bench-hold-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                        std::to_wstring(InterlockedIncrement(&serial));
    ready_ = CreateEventW(nullptr, TRUE, FALSE, (name + L"-ready").c_str());
    release_ = CreateEventW(nullptr, TRUE, FALSE, (name + L"-release").c_str());
    std::wstring helper = BuiltExe(L"hold_file.exe");
    if (ready_ == nullptr || release_ == nullptr) {
        ADD_FAILURE() << "no events for hold_file.exe";
        return;
    }
    holder_ = StartChild(helper, CommandLineFor(helper, L"\"" + path + L"\" " + std::to_wstring(share) + L" " + name +
                                                            L"-ready " + name + L"-release"));
    if (!holder_.started) {
        ADD_FAILURE() << "could not start hold_file.exe, error " << holder_.error;
        return;
    }
    // The helper signals once it has tried; it is still running only when the open succeeded.
    holding_ = WaitForSingleObject(ready_, 20000) == WAIT_OBJECT_0 &&
               WaitForSingleObject(holder_.process, 0) == WAIT_TIMEOUT;
}

DWORD FileHolder::Release()
{
    if (holder_.started) {
        SetEvent(release_);
        ChildResult run = FinishChild(&holder_, 20000);
        exitCode_ = run.finished ? run.exitCode : 0xDEAD;
    }
    holding_ = false;
    return exitCode_;
}

FileHolder::~FileHolder()
{
    Release();
    if (release_ != nullptr) {
        CloseHandle(release_);
    }
    if (ready_ != nullptr) {
        CloseHandle(ready_);
    }
}

}  // namespace bench
