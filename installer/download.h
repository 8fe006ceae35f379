// Fetching one prerequisite's package into the download folder; only a verified package is kept.
#pragma once
#include <windows.h>

#include "installer/installer_context.h"

// Runs on the download thread. True: the package is at packagePath and verified. False: errorText says why, no
// ".part" file remains and nothing unverified was left at packagePath.
bool DownloadPackage(InstallerContext *context);
