// Formatting and copying into fixed wide buffers with the Windows SDK's strsafe contract, which mingw's own strsafe.h
// does not keep exactly (it leaves the buffer alone for capacities above the limit).
#pragma once
#include <windows.h>
#include <stddef.h>

// The largest capacity, in characters, that a bounded operation accepts.
const size_t kBoundedMaxChars = 2147483647;

// At most capacity - 1 characters and a terminator. S_OK when the whole text fitted, STRSAFE_E_INSUFFICIENT_BUFFER
// (0x8007007A) with the text cut when it did not, E_INVALIDARG for a capacity of 0 (buffer untouched) or above
// kBoundedMaxChars (first character set to NUL). %s is a wide string.
HRESULT FormatBounded(wchar_t *buffer, size_t capacity, const wchar_t *format, ...);

// The same contract for a plain copy.
HRESULT CopyBounded(wchar_t *buffer, size_t capacity, const wchar_t *text);
