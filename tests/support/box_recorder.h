// The product's message boxes recorded at the import boundary instead of shown: for a test that must see what no
// other process can read off a real box (the exact style bits and the owner window; Wine shows no topmost flag and
// its icons are per process), or that runs product code which must not block on a box. The one way to do it:
//     REPLACE_IMPORT(MessageBoxW, 16, standin::RecordMessageBoxW);   at namespace scope, once per test program
//     standin::recordedBoxes.clear();                                before the code under test
//     standin::RecordedBox box = standin::TheRecordedBox();          then compare its owner, text, caption, style
// A program that needs one more thing at that moment (its own order of events, or the real box shown as well) writes
// its own stand-in and calls RecordMessageBoxW from it. A test that wants to see the box as a merchant does, from
// another thread or process, uses NoticeWatcher (notice_watcher.h) instead.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

namespace standin {

struct RecordedBox {
    HWND owner;
    std::wstring text;
    std::wstring caption;
    UINT style;
};

// Every box asked for since a test last cleared it, in order.
inline std::vector<RecordedBox> recordedBoxes;
// The button each recorded box answers with (the product examines none; a test may still choose).
inline int recordedBoxAnswer = IDOK;

// MessageBoxW's exact type, so that REPLACE_IMPORT accepts it.
inline int WINAPI RecordMessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT style)
{
    recordedBoxes.push_back(
        {owner, text != nullptr ? text : L"(null)", caption != nullptr ? caption : L"(null)", style});
    return recordedBoxAnswer;
}

// The one box recorded. When there were none or several, a record whose text says how many, so that comparing it
// with the expected notice fails and shows why.
inline RecordedBox TheRecordedBox()
{
    if (recordedBoxes.size() == 1) {
        return recordedBoxes[0];
    }
    return {nullptr, L"(" + std::to_wstring(recordedBoxes.size()) + L" boxes)", L"", 0};
}

}  // namespace standin
