// Turns the download engine's two byte counters into the installer window's bar position and status line; the
// window's 200 ms timer calls it, so the engine never has to send a message per chunk.
#pragma once
#include <windows.h>

#include "installer/installer_context.h"

// The bar's scale, thousandths of the total: the window sets its range to it, the refresh positions the bar on it.
const int kProgressBarRange = 1000;

// Megabytes (2^20 bytes) with exactly one decimal, truncated: 1,048,575 bytes are "0.9". buffer holds 32 characters.
void FormatMegabytes(wchar_t *buffer, ULONGLONG bytes);

// Status "正在下载 %s MB…" while no total is known (the bar is left alone), otherwise the bar at thousandths of the
// total and "正在下载 %s / %s MB（%d%%）". Neither value is clamped.
void RefreshDownloadProgress(HWND window, InstallerContext *context);
