// Paths live in MAX_PATH buffers; an append that would not fit fails instead of cutting the path, so that the host
// never writes to or starts a file other than the one it meant.
#pragma once
#include <windows.h>

// Appends tail to the terminated path in a buffer of MAX_PATH characters. False, path unchanged, when the two
// lengths together reach MAX_PATH.
bool AppendToPath(wchar_t *path, const wchar_t *tail);

// True when path names an existing folder (a link to one included); false for a file of that name or nothing there.
bool IsFolder(const wchar_t *path);
