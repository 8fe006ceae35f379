// The stand-ins behind download_faults.h. A WinHTTP function defined here replaces the import for everything linked
// into the program (winhttp.h declares them without dllimport); for kernel32 the import pointer __imp_X is defined
// instead. Each stand-in reaches the real function through REAL_IMPORT, so its default is a faithful forward.
#include "support/download_faults.h"
#include "support/stand_in.h"

#include <vector>

namespace faults {
namespace {

enum Action { kFail, kShort, kBlock };

struct Scripted {
    Call call;
    int occurrence;
    DWORD error;
    Action action;
};

struct State {
    CRITICAL_SECTION lock;
    std::vector<Scripted> script;
    int counts[kCallKinds];
    Records records;
    std::function<void()> beforeFailure;
    std::function<void()> afterRequestOpened;
    HANDLE partFile;
    HINTERNET blockedOn;
    HANDLE closedEvent;  // set when blockedOn is closed
    bool refuseReadOnlyTargets;
};

State &Shared()
{
    static State *state = [] {
        State *created = new State();
        InitializeCriticalSection(&created->lock);
        created->partFile = INVALID_HANDLE_VALUE;
        created->closedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        return created;
    }();
    return *state;
}

class Locked {
public:
    Locked() { EnterCriticalSection(&Shared().lock); }
    ~Locked() { LeaveCriticalSection(&Shared().lock); }
};

// Counts the call and tells what the script says about it. For kBlock, waits here (outside the lock) until the
// request handle is closed. True: report `*error` instead of calling the platform (or, for kShort, write less).
bool Consult(Call call, HINTERNET request, DWORD *error, Action *action = nullptr)
{
    State &state = Shared();
    Scripted found = {call, 0, 0, kFail};
    bool scripted = false;
    std::function<void()> before;
    {
        Locked locked;
        int occurrence = ++state.counts[call];
        for (const Scripted &entry : state.script) {
            if (entry.call == call && entry.occurrence == occurrence) {
                found = entry;
                scripted = true;
            }
        }
        before = state.beforeFailure;
        if (scripted && found.action == kBlock) {
            ResetEvent(state.closedEvent);
            state.blockedOn = request;
        }
    }
    if (!scripted) {
        return false;
    }
    if (found.action == kBlock) {
        DWORD waited = WaitForSingleObject(state.closedEvent, 20000);
        Locked locked;
        state.blockedOn = nullptr;
        if (waited != WAIT_OBJECT_0) {
            found.error = ERROR_WINHTTP_TIMEOUT;
        }
    }
    if (before) {
        before();
    }
    *error = found.error;
    if (action != nullptr) {
        *action = found.action;
    }
    return true;
}

void RecordOpened(HINTERNET handle)
{
    if (handle != nullptr) {
        Locked locked;
        Shared().records.opened.push_back(handle);
        Shared().records.events.push_back({true, handle});
    }
}

bool EndsWithPart(LPCWSTR path)
{
    int length = path != nullptr ? lstrlenW(path) : 0;
    return length >= 5 && lstrcmpiW(path + length - 5, L".part") == 0;
}

HANDLE WINAPI CreateFileStandIn(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                                DWORD disposition, DWORD flags, HANDLE templateFile)
{
    static auto real = REAL_IMPORT(L"kernel32.dll", CreateFileW);
    DWORD error = 0;
    if (EndsWithPart(path) && (access & GENERIC_WRITE) != 0 && Consult(kCreatePart, nullptr, &error)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    HANDLE file = real(path, access, share, security, disposition, flags, templateFile);
    if (EndsWithPart(path) && (access & GENERIC_WRITE) != 0) {
        Locked locked;
        Shared().partFile = file;
    }
    return file;
}

BOOL WINAPI WriteFileStandIn(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped)
{
    static auto real = REAL_IMPORT(L"kernel32.dll", WriteFile);
    bool part;
    {
        Locked locked;
        part = file == Shared().partFile && file != INVALID_HANDLE_VALUE;
    }
    DWORD error = 0;
    Action action = kFail;
    if (part && Consult(kWritePart, nullptr, &error, &action)) {
        if (action == kShort) {
            return real(file, data, size / 2, written, overlapped);
        }
        SetLastError(error);
        return FALSE;
    }
    return real(file, data, size, written, overlapped);
}

BOOL WINAPI MoveFileExStandIn(LPCWSTR from, LPCWSTR to, DWORD flags)
{
    static auto real = REAL_IMPORT(L"kernel32.dll", MoveFileExW);
    DWORD error = 0;
    if (Consult(kMove, nullptr, &error)) {
        SetLastError(error);
        return FALSE;
    }
    bool refuse;
    {
        Locked locked;
        refuse = Shared().refuseReadOnlyTargets;
    }
    DWORD attributes = to != nullptr ? GetFileAttributesW(to) : INVALID_FILE_ATTRIBUTES;
    if (refuse && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return real(from, to, flags);
}

}  // namespace

void Reset()
{
    State &state = Shared();
    Locked locked;
    state.script.clear();
    for (int &count : state.counts) {
        count = 0;
    }
    state.records = Records();
    state.beforeFailure = std::function<void()>();
    state.afterRequestOpened = std::function<void()>();
    state.partFile = INVALID_HANDLE_VALUE;
    state.refuseReadOnlyTargets = false;
}

void Fail(Call call, int occurrence, DWORD error)
{
    Locked locked;
    Shared().script.push_back({call, occurrence, error, kFail});
}

void ShortWrite(int occurrence)
{
    Locked locked;
    Shared().script.push_back({kWritePart, occurrence, 0, kShort});
}

void BlockUntilClosed(Call call, int occurrence, DWORD error)
{
    Locked locked;
    Shared().script.push_back({call, occurrence, error, kBlock});
}

void BeforeFailure(const std::function<void()> &action)
{
    Locked locked;
    Shared().beforeFailure = action;
}

void AfterRequestOpened(const std::function<void()> &action)
{
    Locked locked;
    Shared().afterRequestOpened = action;
}

void RefuseReadOnlyTargets()
{
    Locked locked;
    Shared().refuseReadOnlyTargets = true;
}

bool Blocked()
{
    Locked locked;
    return Shared().blockedOn != nullptr;
}

int Count(Call call)
{
    Locked locked;
    return Shared().counts[call];
}

Records Recorded()
{
    Locked locked;
    return Shared().records;
}

}  // namespace faults

using faults::Consult;
using faults::RecordOpened;

REPLACE_IMPORT(CreateFileW, 28, faults::CreateFileStandIn);
REPLACE_IMPORT(WriteFile, 20, faults::WriteFileStandIn);
REPLACE_IMPORT(MoveFileExW, 12, faults::MoveFileExStandIn);

extern "C" {

HINTERNET WINAPI WinHttpOpen(LPCWSTR agent, DWORD access, LPCWSTR proxy, LPCWSTR bypass, DWORD flags)
{
    static auto real = REAL_IMPORT(L"winhttp.dll", WinHttpOpen);
    {
        faults::Locked locked;
        faults::Shared().records.sessions.push_back(
            {agent != nullptr ? agent : L"(null)", access, proxy != nullptr || bypass != nullptr, flags});
    }
    DWORD error = 0;
    if (Consult(faults::kOpen, nullptr, &error)) {
        SetLastError(error);
        return nullptr;
    }
    HINTERNET session = real(agent, access, proxy, bypass, flags);
    RecordOpened(session);
    return session;
}

HINTERNET WINAPI WinHttpConnect(HINTERNET session, LPCWSTR host, INTERNET_PORT port, DWORD reserved)
{
    static auto real = REAL_IMPORT(L"winhttp.dll", WinHttpConnect);
    {
        faults::Locked locked;
        faults::Shared().records.connects.push_back(std::wstring(host) + L":" + std::to_wstring(port));
    }
    DWORD error = 0;
    if (Consult(faults::kConnect, nullptr, &error)) {
        SetLastError(error);
        return nullptr;
    }
    HINTERNET connection = real(session, host, port, reserved);
    RecordOpened(connection);
    return connection;
}

HINTERNET WINAPI WinHttpOpenRequest(HINTERNET connection, LPCWSTR verb, LPCWSTR object, LPCWSTR version,
                                    LPCWSTR referrer, LPCWSTR *acceptTypes, DWORD flags)
{
    static auto real = REAL_IMPORT(L"winhttp.dll", WinHttpOpenRequest);
    {
        faults::Locked locked;
        faults::Shared().records.requestFlags.push_back(flags);
    }
    DWORD error = 0;
    if (Consult(faults::kOpenRequest, nullptr, &error)) {
        SetLastError(error);
        return nullptr;
    }
    HINTERNET request = real(connection, verb, object, version, referrer, acceptTypes, flags);
    RecordOpened(request);
    std::function<void()> after;
    {
        faults::Locked locked;
        after = faults::Shared().afterRequestOpened;
    }
    if (request != nullptr && after) {
        after();
    }
    return request;
}

BOOL WINAPI WinHttpSendRequest(HINTERNET request, LPCWSTR headers, DWORD headersLength, LPVOID optional,
                               DWORD optionalLength, DWORD totalLength, DWORD_PTR context)
{
    static auto real = REAL_IMPORT(L"winhttp.dll", WinHttpSendRequest);
    DWORD error = 0;
    if (Consult(faults::kSend, request, &error)) {
        SetLastError(error);
        return FALSE;
    }
    return real(request, headers, headersLength, optional, optionalLength, totalLength, context);
}

BOOL WINAPI WinHttpReceiveResponse(HINTERNET request, LPVOID reserved)
{
    static auto real = REAL_IMPORT(L"winhttp.dll", WinHttpReceiveResponse);
    DWORD error = 0;
    if (Consult(faults::kReceive, request, &error)) {
        SetLastError(error);
        return FALSE;
    }
    return real(request, reserved);
}

BOOL WINAPI WinHttpQueryDataAvailable(HINTERNET request, LPDWORD available)
{
    static auto real =
        REAL_IMPORT(L"winhttp.dll", WinHttpQueryDataAvailable);
    DWORD error = 0;
    if (Consult(faults::kQueryData, request, &error)) {
        SetLastError(error);
        return FALSE;
    }
    return real(request, available);
}

BOOL WINAPI WinHttpReadData(HINTERNET request, LPVOID buffer, DWORD size, LPDWORD read)
{
    static auto real = REAL_IMPORT(L"winhttp.dll", WinHttpReadData);
    DWORD error = 0;
    if (Consult(faults::kRead, request, &error)) {
        SetLastError(error);
        return FALSE;
    }
    return real(request, buffer, size, read);
}

BOOL WINAPI WinHttpSetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length)
{
    static auto real = REAL_IMPORT(L"winhttp.dll", WinHttpSetOption);
    DWORD value = 0;
    if (buffer != nullptr && length >= sizeof(value)) {
        CopyMemory(&value, buffer, sizeof(value));
    }
    {
        faults::Locked locked;
        faults::Shared().records.options.push_back({handle, option, value, length});
    }
    DWORD error = 0;
    if (Consult(faults::kSetOption, nullptr, &error)) {
        SetLastError(error);
        return FALSE;
    }
    return real(handle, option, buffer, length);
}

BOOL WINAPI WinHttpSetTimeouts(HINTERNET handle, int resolve, int connect, int send, int receive)
{
    static auto real = REAL_IMPORT(L"winhttp.dll", WinHttpSetTimeouts);
    {
        faults::Locked locked;
        faults::Shared().records.timeouts.push_back({handle, resolve, connect, send, receive});
    }
    return real(handle, resolve, connect, send, receive);
}

BOOL WINAPI WinHttpCloseHandle(HINTERNET handle)
{
    static auto real = REAL_IMPORT(L"winhttp.dll", WinHttpCloseHandle);
    {
        faults::Locked locked;
        faults::State &state = faults::Shared();
        state.records.closed.push_back(handle);
        state.records.events.push_back({false, handle});
        if (handle != nullptr && handle == state.blockedOn) {
            SetEvent(state.closedEvent);
        }
    }
    return real(handle);
}

}  // extern "C"
