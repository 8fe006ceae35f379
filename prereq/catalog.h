// The prerequisites the host knows how to download and install: constant records, nothing computed at run time.
#pragma once
#include <windows.h>

struct PrerequisiteItem {
    const wchar_t *displayName;  // window title and the name in the window's text
    const wchar_t *fileName;     // name of the package in the download folder
    const wchar_t *primaryUrl;   // HTTPS address, the first attempt
    const wchar_t *fallbackUrl;  // the same over plain HTTP, after a secure-channel failure; may be null
    const wchar_t *infoPageUrl;  // page for a manual download in the user's browser
    ULONGLONG expectedSize;      // exact package size in bytes
    const BYTE *sha256;          // 32 digest bytes, in digest order
    const wchar_t *kbId;         // "KB…" for a Windows update package (.msu); null for the runtime's installer
};

extern const PrerequisiteItem ServicingStackUpdateX86;
extern const PrerequisiteItem Sha2UpdateX86;
extern const PrerequisiteItem ServicingStackUpdateX64;
extern const PrerequisiteItem Sha2UpdateX64;
extern const PrerequisiteItem NetFramework48;
