// The file holder on the test program itself in its "hold-file" role: two named events (ready, release) of a name
// unique to this process and holder.
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
    if (ready_ == nullptr || release_ == nullptr) {
        ADD_FAILURE() << "no events for the file holder";
        return;
    }
    SelfChild helper = SelfAsChild(L"hold-file", L"\"" + path + L"\" " + std::to_wstring(share) + L" " + name +
                                                     L"-ready " + name + L"-release");
    holder_ = StartChild(helper.app, helper.commandLine);
    if (!holder_.started) {
        ADD_FAILURE() << "could not start the file holder, error " << holder_.error;
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

int HoldFileRole(int argc, wchar_t **argv)
{
    HANDLE ready = nullptr;
    HANDLE release = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD result = ERROR_INVALID_PARAMETER;

    if (argc != 4) goto cleanup;
    result = ERROR_INVALID_HANDLE;
    ready = OpenEventW(EVENT_MODIFY_STATE, FALSE, argv[2]);
    if (ready == nullptr) goto cleanup;
    release = OpenEventW(SYNCHRONIZE, FALSE, argv[3]);
    if (release == nullptr) goto cleanup;
    file = CreateFileW(argv[0], GENERIC_WRITE, static_cast<DWORD>(wcstoul(argv[1], nullptr, 0)), nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    result = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    SetEvent(ready);
    if (file != INVALID_HANDLE_VALUE) {
        WaitForSingleObject(release, 60000);
    }

cleanup:
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (release != nullptr) CloseHandle(release);
    if (ready != nullptr) CloseHandle(ready);
    return static_cast<int>(result);
}

}  // namespace bench
