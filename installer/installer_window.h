// The window that downloads, verifies and installs one prerequisite: what the prerequisite chain calls for every
// prerequisite that is missing, one window after the other on the main thread.
#pragma once
#include <windows.h>

#include "prereq/catalog.h"

// Builds the package path in the download folder (%TEMP%\Velvaro\<fileName>), shows the window and runs its message
// loop until the window is destroyed. Returns 2 when the path cannot be prepared (a null item included) or the window
// cannot be created, after a notice; otherwise the last installation attempt's exit code: ERROR_CANCELLED (1223)
// when no installer ran, 0, 1641, 3010 or 0x240006 when the installation succeeded (for an update also 0x80240017,
// an update this machine does not need), any other installer code when the last attempt failed and the user closed
// the window.
DWORD RunInstallerWindow(const PrerequisiteItem *item);

// The window procedure of the class "RuduDovaRuntimeDownload" and the download thread's entry; the context reaches
// both as the window's creation parameter or the thread's start parameter.
LRESULT CALLBACK InstallerWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
DWORD WINAPI DownloadThreadProc(LPVOID parameter);
