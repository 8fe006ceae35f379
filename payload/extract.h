// The payload travels as a resource and must become a file before it can run.
#pragma once
#include <windows.h>

// Resource id of the embedded payload (RT_RCDATA, language 1033).
#define IDR_PAYLOAD 101

// Writes the embedded payload to the per-user runtime folder, or reuses the copy already there when its size
// matches. On true, path (MAX_PATH characters) holds the file's full path; on false its content is not to be used.
bool ExtractPayload(wchar_t *path);
