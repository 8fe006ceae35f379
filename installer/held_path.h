// The name of a file that its caller holds open, as the file system resolves it now: every link and junction on the
// way already followed. A program started by this name gets the held file even when a folder of the name the file was
// opened by has since been switched to point elsewhere.
#pragma once
#include <windows.h>

// Fills path (MAX_PATH characters) with the held file's final name in plain form: "C:\…" or "\\server\share\…", the
// "\\?\" prefix taken off. False, path emptied, when the name cannot be read or does not fit a MAX_PATH buffer.
bool HeldFilePath(HANDLE file, wchar_t *path);
