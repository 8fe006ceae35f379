// A wide text as UTF-8, the one way a test shows a wide text in a failure message or a trace: GoogleTest prints a
// message's bytes as they are, so a Chinese status line reads as the user reads it.
#pragma once
#include <windows.h>

#include <string>

namespace bench {

inline std::string Utf8(const std::wstring &text)
{
    std::string bytes(text.size() * 3 + 1, '\0');
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0],
                                static_cast<int>(bytes.size()), nullptr, nullptr);
    bytes.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return bytes;
}

}  // namespace bench
