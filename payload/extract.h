// The payload travels as a resource and must become a file before it can run.
#pragma once
#include <windows.h>

// Resource id of the embedded payload (RT_RCDATA, language 1033).
#define IDR_PAYLOAD 101

// Makes sure the per-user runtime folder holds a file whose bytes equal the embedded payload: an existing copy is
// reused only when its content matches, otherwise a whole copy is written beside it and moved into place in one step.
// On true, path (MAX_PATH characters) holds the file's full path and *heldFile a handle that keeps the file open for
// reading while denying writes, renames and deletion, so that the file checked is the file that runs; the caller
// keeps it at least until the payload's process exists (the host keeps it until the payload has ended), then closes
// it. On false, *heldFile is INVALID_HANDLE_VALUE and path is not to be used.
bool ExtractPayload(wchar_t *path, HANDLE *heldFile);
