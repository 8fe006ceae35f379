// The elevated step of an update item: the host's own exe, started elevated by the runner with the private argument,
// installs one update package and ends with the update installer's exit code. It shows nothing.
#pragma once
#include <windows.h>

// Exit codes of a refusal (customer-defined error codes, which no update installer returns). Nothing was changed.
const DWORD kElevatedNotElevated = 0xE0560001;     // the process token is not elevated
const DWORD kElevatedNotAnUpdate = 0xE0560002;     // the request names no catalogue update item, or is malformed
const DWORD kElevatedPackageRejected = 0xE0560003;  // the file is missing or is not exactly the item's package
const DWORD kElevatedAlreadyRunning = 0xE0560004;  // another elevated step runs on this machine
const DWORD kElevatedNoInstaller = 0xE0560005;     // the update installer could not be started or read

// The whole step for the argument text behind the program name (see elevated_request.h): checks the token's
// elevation, the request, that no other step runs, and the package through a handle that denies writing, renaming
// and deleting; lets a disabled wuauserv start on demand; runs the native update installer quietly on exactly the held
// file, waits for it, restores the service's start type, and returns the installer's exit code or a refusal above.
DWORD RunElevatedUpdate(const wchar_t *arguments);

// The update installer of the machine's native architecture: %windir%\Sysnative\wusa.exe in a process under WOW64
// (the system folder would be redirected to the 32-bit one), the system folder's wusa.exe otherwise. Fills path
// (MAX_PATH characters); false when it does not fit.
bool NativeUpdateInstallerPath(wchar_t *path);
