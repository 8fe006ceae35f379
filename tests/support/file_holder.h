// Another process holding a file open for writing, for tests of what such a handle blocks (a download still being
// written, a copy in use). Use FileHolder whenever the holder must be a different process than the test; the share
// mode it grants is the test's parameter, so one table can cover every mode. The holder is the test program itself
// in its "hold-file" role (child_process.h), so it works in every program built with host_test.
#pragma once
#include <windows.h>

#include <string>

#include "support/child_process.h"

namespace bench {

// From construction, the holder keeps path open with GENERIC_WRITE and the share mode (FILE_SHARE_* bits) until
// Release() or destruction. holding() is true only once the open succeeded and the holder still runs.
class FileHolder {
public:
    FileHolder(const std::wstring &path, DWORD share);
    ~FileHolder();
    FileHolder(const FileHolder &) = delete;
    FileHolder &operator=(const FileHolder &) = delete;
    bool holding() const { return holding_; }
    // The other process closes the file and ends; its exit code: 0 when it had the file, the open's error otherwise,
    // 0xDEAD when it did not start or did not end in time.
    DWORD Release();

private:
    HANDLE ready_;
    HANDLE release_;
    Child holder_;
    bool holding_;
    DWORD exitCode_;
};

// The holder's side: PATH SHARE_MODE READY_EVENT RELEASE_EVENT. Opens PATH for writing with that share mode,
// signals READY_EVENT, and keeps the handle until RELEASE_EVENT is signalled (at most 60 s). Returns 0, the open's
// error, ERROR_INVALID_PARAMETER for other arguments or ERROR_INVALID_HANDLE when an event is missing.
int HoldFileRole(int argc, wchar_t **argv);

}  // namespace bench
