// Every display text and the two texts whose failure matters (the payload's file name and command line) go through
// here, so the truncation rule lives in one place.
#include "common/bounded_text.h"

#include <stdarg.h>
#include <stdio.h>

// For the result's name alone; none of its functions is used (see the header).
#define STRSAFE_NO_DEPRECATE
#include <strsafe.h>

HRESULT FormatBounded(wchar_t *buffer, size_t capacity, const wchar_t *format, ...)
{
    if (capacity == 0) {
        return E_INVALIDARG;
    }
    if (capacity > kBoundedMaxChars) {
        buffer[0] = L'\0';
        return E_INVALIDARG;
    }
    size_t limit = capacity - 1;
    va_list args;
    va_start(args, format);
    // msvcrt's _vsnwprintf writes at most `limit` characters, adds no terminator when the text fills them all, and
    // gives -1 when the text was longer.
    int written = _vsnwprintf(buffer, limit, format, args);
    va_end(args);
    if (written < 0 || static_cast<size_t>(written) > limit) {
        buffer[limit] = L'\0';
        return STRSAFE_E_INSUFFICIENT_BUFFER;
    }
    buffer[written] = L'\0';
    return S_OK;
}

HRESULT CopyBounded(wchar_t *buffer, size_t capacity, const wchar_t *text)
{
    if (capacity == 0) {
        return E_INVALIDARG;
    }
    if (capacity > kBoundedMaxChars) {
        buffer[0] = L'\0';
        return E_INVALIDARG;
    }
    size_t i = 0;
    while (i < capacity - 1 && text[i] != L'\0') {
        buffer[i] = text[i];
        ++i;
    }
    buffer[i] = L'\0';
    return text[i] == L'\0' ? S_OK : STRSAFE_E_INSUFFICIENT_BUFFER;
}
