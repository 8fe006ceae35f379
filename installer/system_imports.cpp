// The WinHTTP functions and InitCommonControlsEx that the installer calls, for the host exe, which imports neither
// winhttp.dll nor comctl32.dll (neither is a library Windows always takes from its own folder, so a static import
// would be looked for beside the exe first). Each forwarder loads its library from the system folder on first use;
// callers keep calling the functions under their own names. Test programs link the import libraries instead.
// Where the library or function is missing, the call fails as the platform's would, with the loader's last error.
#include <windows.h>
#include <winhttp.h>
#include <commctrl.h>

#include "common/system_library.h"

static const wchar_t kWinHttp[] = L"winhttp.dll";
static void *volatile WinHttpCloseHandleSlot;
static void *volatile WinHttpConnectSlot;
static void *volatile WinHttpCrackUrlSlot;
static void *volatile WinHttpOpenSlot;
static void *volatile WinHttpOpenRequestSlot;
static void *volatile WinHttpQueryDataAvailableSlot;
static void *volatile WinHttpQueryHeadersSlot;
static void *volatile WinHttpReadDataSlot;
static void *volatile WinHttpReceiveResponseSlot;
static void *volatile WinHttpSendRequestSlot;
static void *volatile WinHttpSetOptionSlot;
static void *volatile WinHttpSetTimeoutsSlot;
static void *volatile InitCommonControlsExSlot;

extern "C" {

BOOL WINAPI WinHttpCloseHandle(HINTERNET handle)
{
    auto real = SYSTEM_FUNCTION(kWinHttp, WinHttpCloseHandle);
    return real != nullptr ? real(handle) : FALSE;
}

HINTERNET WINAPI WinHttpConnect(HINTERNET session, LPCWSTR server, INTERNET_PORT port, DWORD reserved)
{
    auto real = SYSTEM_FUNCTION(kWinHttp, WinHttpConnect);
    return real != nullptr ? real(session, server, port, reserved) : nullptr;
}

BOOL WINAPI WinHttpCrackUrl(LPCWSTR url, DWORD length, DWORD flags, LPURL_COMPONENTS components)
{
    auto real = SYSTEM_FUNCTION(kWinHttp, WinHttpCrackUrl);
    return real != nullptr ? real(url, length, flags, components) : FALSE;
}

HINTERNET WINAPI WinHttpOpen(LPCWSTR agent, DWORD accessType, LPCWSTR proxy, LPCWSTR bypass, DWORD flags)
{
    auto real = SYSTEM_FUNCTION(kWinHttp, WinHttpOpen);
    return real != nullptr ? real(agent, accessType, proxy, bypass, flags) : nullptr;
}

HINTERNET WINAPI WinHttpOpenRequest(HINTERNET connection, LPCWSTR verb, LPCWSTR object, LPCWSTR version,
                                    LPCWSTR referrer, LPCWSTR *acceptTypes, DWORD flags)
{
    auto real = SYSTEM_FUNCTION(kWinHttp, WinHttpOpenRequest);
    return real != nullptr ? real(connection, verb, object, version, referrer, acceptTypes, flags) : nullptr;
}

BOOL WINAPI WinHttpQueryDataAvailable(HINTERNET request, LPDWORD available)
{
    auto real = SYSTEM_FUNCTION(kWinHttp, WinHttpQueryDataAvailable);
    return real != nullptr ? real(request, available) : FALSE;
}

BOOL WINAPI WinHttpQueryHeaders(HINTERNET request, DWORD level, LPCWSTR name, LPVOID buffer, LPDWORD length,
                                LPDWORD index)
{
    auto real = SYSTEM_FUNCTION(kWinHttp, WinHttpQueryHeaders);
    return real != nullptr ? real(request, level, name, buffer, length, index) : FALSE;
}

BOOL WINAPI WinHttpReadData(HINTERNET request, LPVOID buffer, DWORD toRead, LPDWORD read)
{
    auto real = SYSTEM_FUNCTION(kWinHttp, WinHttpReadData);
    return real != nullptr ? real(request, buffer, toRead, read) : FALSE;
}

BOOL WINAPI WinHttpReceiveResponse(HINTERNET request, LPVOID reserved)
{
    auto real = SYSTEM_FUNCTION(kWinHttp, WinHttpReceiveResponse);
    return real != nullptr ? real(request, reserved) : FALSE;
}

BOOL WINAPI WinHttpSendRequest(HINTERNET request, LPCWSTR headers, DWORD headersLength, LPVOID optional,
                               DWORD optionalLength, DWORD totalLength, DWORD_PTR context)
{
    auto real = SYSTEM_FUNCTION(kWinHttp, WinHttpSendRequest);
    return real != nullptr ? real(request, headers, headersLength, optional, optionalLength, totalLength, context)
                           : FALSE;
}

BOOL WINAPI WinHttpSetOption(HINTERNET handle, DWORD option, LPVOID buffer, DWORD length)
{
    auto real = SYSTEM_FUNCTION(kWinHttp, WinHttpSetOption);
    return real != nullptr ? real(handle, option, buffer, length) : FALSE;
}

BOOL WINAPI WinHttpSetTimeouts(HINTERNET handle, int resolve, int connect, int send, int receive)
{
    auto real = SYSTEM_FUNCTION(kWinHttp, WinHttpSetTimeouts);
    return real != nullptr ? real(handle, resolve, connect, send, receive) : FALSE;
}

}  // extern "C"

// commctrl.h declares InitCommonControlsEx as an import, so callers go through its import slot; the slot is defined
// here, under the name the target's compiler gives it, pointing at the forwarder.
static BOOL WINAPI ForwardInitCommonControlsEx(const INITCOMMONCONTROLSEX *controls)
{
    auto real = SYSTEM_FUNCTION(L"comctl32.dll", InitCommonControlsEx);
    return real != nullptr ? real(controls) : FALSE;
}

#if defined(__i386__)
#define INIT_COMMON_CONTROLS_EX_SLOT "__imp__InitCommonControlsEx@4"
#else
#define INIT_COMMON_CONTROLS_EX_SLOT "__imp_InitCommonControlsEx"
#endif
extern "C" void *initCommonControlsExImport __asm__(INIT_COMMON_CONTROLS_EX_SLOT);
void *initCommonControlsExImport =
    reinterpret_cast<void *>(static_cast<decltype(&InitCommonControlsEx)>(&ForwardInitCommonControlsEx));
