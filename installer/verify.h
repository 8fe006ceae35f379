// Is the package on disk exactly the catalogue's file? Size, then signature, then SHA-256: cheapest first.
#pragma once
#include <windows.h>

#include "prereq/catalog.h"

// True only when the file's size, its first bytes (MSCF for an update, MZ for an installer) and its SHA-256 match the
// item. A null item gives false. The file is never changed.
bool VerifyPackage(const wchar_t *path, const PrerequisiteItem *item);

// The same judgement of the file behind a handle open for reading (its file pointer is moved): the caller decides how
// the file is held, and nothing here opens it again by name.
bool VerifyHeldPackage(HANDLE file, const PrerequisiteItem *item);

// SHA-256 of the whole file equals the 32 expected bytes.
bool FileSha256Matches(const wchar_t *path, const BYTE *expected);
bool HeldFileSha256Matches(HANDLE file, const BYTE *expected);
