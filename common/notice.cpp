// Notices and the window-station test that decides whether a notice may be shown at all.
#include "common/notice.h"

const wchar_t kNoticeCaption[] = L"Qumo盒子检测工具";

bool IsWindowStationVisible()
{
    HWINSTA station = GetProcessWindowStation();
    if (station == nullptr) {
        return false;
    }
    // The station handle belongs to the process and is not closed.
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (!GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof(flags), &needed)) {
        return false;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void ShowNotice(const wchar_t *text, UINT style)
{
    if (IsWindowStationVisible()) {
        MessageBoxW(nullptr, text, kNoticeCaption, style);
    }
}
