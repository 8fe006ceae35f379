// The one way the host talks to the user outside an installer window: a message box with one caption, shown only
// where a user can see it, so that the host never blocks as a service or a desktop-less task.
#pragma once
#include <windows.h>

extern const wchar_t kNoticeCaption[];

// Notice styles; every one carries MB_SETFOREGROUND so that the box is not lost behind the till's own program.
const UINT kNoticeErrorStyle = MB_ICONERROR | MB_SETFOREGROUND;                                     // 0x10010
const UINT kNoticeServicePackStyle = MB_OKCANCEL | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST;  // 0x50041
const UINT kNoticeRestartStyle = MB_ICONINFORMATION | MB_SETFOREGROUND;                             // 0x10040

bool IsWindowStationVisible();
void ShowNotice(const wchar_t *text, UINT style);
