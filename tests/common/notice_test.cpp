// Notices at the import boundary of the window-station query: Wine reports every station of a process as visible
// from its own point of view, so the flags, a failed query and a missing station are scripted here. The boxes shown
// in a visible station are real (read by a watcher thread); the suppressed ones must never reach MessageBoxW.
#include <gtest/gtest.h>

#include "common/notice.h"
#include "support/box_recorder.h"
#include "support/expected_text.h"
#include "support/notice_watcher.h"
#include "support/stand_in.h"

namespace {

enum class Station { Real, Missing, QueryFails, NotVisible, Visible };
Station station = Station::Real;
DWORD lengthAsked;
int indexAsked;

HWINSTA WINAPI StandInGetProcessWindowStation()
{
    if (station == Station::Missing) {
        return nullptr;
    }
    return REAL_IMPORT(L"user32.dll", GetProcessWindowStation)();
}

BOOL WINAPI StandInGetUserObjectInformationW(HANDLE object, int index, PVOID info, DWORD length, LPDWORD needed)
{
    lengthAsked = length;
    indexAsked = index;
    if (station == Station::QueryFails) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (station == Station::NotVisible || station == Station::Visible) {
        USEROBJECTFLAGS flags = {};
        flags.fInherit = TRUE;
        flags.dwFlags = station == Station::Visible ? WSF_VISIBLE : (WSF_VISIBLE << 1);
        memcpy(info, &flags, sizeof(flags));
        return TRUE;
    }
    return REAL_IMPORT(L"user32.dll", GetUserObjectInformationW)(object, index, info, length, needed);
}

// Recorded, then shown for real: the watcher reads the box as a merchant sees it.
int WINAPI StandInMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style)
{
    standin::RecordMessageBoxW(owner, text, caption, style);
    return REAL_IMPORT(L"user32.dll", MessageBoxW)(owner, text, caption, style);
}

}  // namespace

REPLACE_IMPORT(GetProcessWindowStation, 0, StandInGetProcessWindowStation);
REPLACE_IMPORT(GetUserObjectInformationW, 20, StandInGetUserObjectInformationW);
REPLACE_IMPORT(MessageBoxW, 16, StandInMessageBoxW);

namespace {

TEST(Notice, OnlyAVisibleStationGetsABox)
{
    struct {
        Station station;
        bool visible;
    } const cases[] = {
        {Station::Missing, false},
        {Station::QueryFails, false},
        {Station::NotVisible, false},
        {Station::Visible, true},
        {Station::Real, true},  // the bench's WinSta0
    };
    for (const auto &c : cases) {
        station = c.station;
        standin::recordedBoxes.clear();
        EXPECT_EQ(c.visible, IsWindowStationVisible()) << static_cast<int>(c.station);
        bench::NoticeWatcher watcher(IDOK);
        ShowNotice(L"测试", MB_ICONERROR | MB_SETFOREGROUND);
        EXPECT_EQ(c.visible ? 1u : 0u, standin::recordedBoxes.size()) << static_cast<int>(c.station);
        if (c.station != Station::Missing) {
            EXPECT_EQ(12u, lengthAsked);
            EXPECT_EQ(UOI_FLAGS, indexAsked);
        }
    }
    station = Station::Real;
}

TEST(Notice, ShowsTheTextUnderTheOneCaptionWithTheStylesButtons)
{
    struct {
        UINT style;
        bool hasCancel;
    } const cases[] = {
        {MB_ICONERROR | MB_SETFOREGROUND, false},
        {MB_OKCANCEL | MB_ICONINFORMATION | MB_SETFOREGROUND | MB_TOPMOST, true},
        {MB_ICONINFORMATION | MB_SETFOREGROUND, false},
    };
    for (const auto &c : cases) {
        bench::NoticeWatcher watcher(IDOK);
        ShowNotice(L"第一行\r\n第二行", c.style);
        std::vector<bench::SeenNotice> seen = watcher.Seen();
        ASSERT_EQ(1u, seen.size());
        EXPECT_EQ(bench::text::kCaption, seen[0].caption);
        EXPECT_EQ(L"第一行\r\n第二行", seen[0].text);
        EXPECT_TRUE(seen[0].hasOk);
        EXPECT_EQ(c.hasCancel, seen[0].hasCancel);
        EXPECT_TRUE(seen[0].hasIcon);
    }
    EXPECT_STREQ(bench::text::kCaption, kNoticeCaption);
}

}  // namespace
