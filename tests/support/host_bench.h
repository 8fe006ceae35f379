// Running the host twin as a merchant would: a child process in the bench prefix, with the runtime flag, the
// operating-system version and the local application data folder set up in real registry state.
#pragma once
#include <windows.h>

#include <string>

#include "support/bench.h"

namespace bench {

extern const wchar_t kNetSetupKey[];  // SOFTWARE\Microsoft\NET Framework Setup\NDP\v4\Full

// The runtime flag in one registry view (0: the process's default view, KEY_WOW64_32KEY: the 32-bit view).
void SetRuntimeFlag(REGSAM view, DWORD value = 1);
void ClearRuntimeFlags();

// The local application data folder the host resolves, the vendor's folder in it (…\Oristane, which holds all the
// host writes there) and the runtime folder below that. MakeRuntimeFolder creates the three levels.
std::wstring LocalAppData();
std::wstring VendorFolder();
std::wstring RuntimeFolder();
void MakeRuntimeFolder();

// The machine a launch test starts from: the runtime flag in the default view only, no copy of the payload yet.
void PrepareLaunchMachine();
// The machine as a launch test leaves it: no runtime flag in any view, no copy of the payload.
void ClearLaunchMachine();
// Points the current user's local application data folder at another existing folder; RestoreLocalAppData undoes it.
void RedirectLocalAppData(const std::wstring &folder);
void RestoreLocalAppData();

// FNV-1a of a file's bytes, and the payload file that a host carrying that file writes.
DWORD Fnv1aOfFile(const std::wstring &path);
std::wstring PayloadFileFor(const std::wstring &payloadExe);

// A copy of a built host under another name and folder (AppDefaults of Wine key on the exe name).
std::wstring CopyHost(const std::wstring &folder, const wchar_t *name, const wchar_t *builtName = L"VelvaroHost.exe");

// Runs a host with the argument text appended after its quoted path and a blank (none when args is empty).
ChildResult RunHost(const std::wstring &host, const std::wstring &args, DWORD timeoutMs = 30000,
                    const wchar_t *desktop = nullptr);

// A desktop in a window station of its own: not visible, so the host must show nothing there.
extern const wchar_t kInvisibleDesktop[];

}  // namespace bench
