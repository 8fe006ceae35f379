// Scripted failures of the platform calls the download engine makes, for what this platform will not produce on its
// own: a secure-channel failure (12175), a refused protocol option, a close that interrupts a blocked call, the codes of a timeout or a dropped
// connection, a failing WinHttpOpen, and failing file calls. Linking download_faults.cpp into a test program puts a
// stand-in in front of each of those imports (the WinHTTP functions themselves, the kernel32 import pointers); every
// stand-in forwards to the real function unless the test has scripted its failure, and records what passed through.
#pragma once
#include <windows.h>
#include <winhttp.h>

#include <functional>
#include <string>
#include <vector>

namespace faults {

enum Call {
    kOpen,        // WinHttpOpen
    kConnect,     // WinHttpConnect
    kOpenRequest, // WinHttpOpenRequest
    kSend,        // WinHttpSendRequest
    kReceive,     // WinHttpReceiveResponse
    kQueryData,   // WinHttpQueryDataAvailable
    kRead,        // WinHttpReadData
    kCreatePart,  // CreateFileW of a ".part" file
    kWritePart,   // WriteFile to that file
    kMove,        // MoveFileExW
    kSetOption,   // WinHttpSetOption
    kCallKinds
};

// Forget every script and record.
void Reset();

// The occurrence-th call (counted from 1 since Reset) of that kind fails with error, without reaching the platform.
void Fail(Call call, int occurrence, DWORD error);
// The occurrence-th write to the ".part" file writes only half the bytes and reports success.
void ShortWrite(int occurrence);
// The occurrence-th call of a request-handle kind blocks until someone closes its request handle and then fails with
// error, as a blocked call does on the platforms where a close interrupts it (at most 20 s).
void BlockUntilClosed(Call call, int occurrence, DWORD error);
// Runs on the calling thread just before any scripted failure is reported (e.g. to play the window's cancellation).
void BeforeFailure(const std::function<void()> &action);
// Runs on the calling thread just after WinHttpOpenRequest has opened a request handle, before the engine goes on
// (e.g. to play a cancellation that comes in the moment before the engine publishes the handle).
void AfterRequestOpened(const std::function<void()> &action);
// True while a scripted call is blocked.
bool Blocked();
// From now until Reset, MoveFileExW refuses to replace a read-only file with ERROR_ACCESS_DENIED, as Windows does
// (Wine replaces it).
void RefuseReadOnlyTargets();

int Count(Call call);

struct HandleEvent {
    bool opened;  // false: given to WinHttpCloseHandle
    HINTERNET handle;
};

struct SessionOpen {
    std::wstring agent;  // "(null)" for a null pointer
    DWORD accessType;
    bool proxyNamed;     // a proxy name or bypass list was given
    DWORD flags;
};

struct OptionSet {
    HINTERNET handle;
    DWORD option;
    DWORD value;   // the first four bytes of the buffer
    DWORD length;
};

struct Timeouts {
    HINTERNET handle;
    int resolve, connect, send, receive;
};

struct Records {
    std::vector<HINTERNET> opened;  // sessions, connections and requests, in the order they were opened
    std::vector<HINTERNET> closed;  // every handle given to WinHttpCloseHandle, in order
    std::vector<HandleEvent> events;     // both, interleaved (the platform reuses the value of a closed handle)
    std::vector<std::wstring> connects;  // "host:port" of every WinHttpConnect
    std::vector<DWORD> requestFlags;     // flags of every WinHttpOpenRequest
    std::vector<SessionOpen> sessions;   // the arguments of every WinHttpOpen
    std::vector<OptionSet> options;      // every WinHttpSetOption
    std::vector<Timeouts> timeouts;      // every WinHttpSetTimeouts
};
Records Recorded();

}  // namespace faults
