// The installer thread: starts the verified package's installer elevated and waits for it to end.
#pragma once
#include <windows.h>

// Takes the InstallerContext. Stores the installer's exit code in installerExitCode (ERROR_CANCELLED, 1223, when
// the installer could not be started or the package no longer verifies) and posts WM_APP_INSTALL_DONE as its last
// act. A package that no longer verifies (or is gone) also clears packageReady, before the message. An update item's
// exit code is the elevated step's (installer/elevated_update.h): the update installer's own, or a refusal. Returns 0.
DWORD WINAPI InstallerThreadProc(LPVOID parameter);
