// Is a Windows update installed? The servicing stack's own registry answers it, so the host asks nothing of a
// service and needs no rights beyond reading.
#pragma once
#include <windows.h>

// True when a package key of Component Based Servicing whose name contains kbId (case ignored) is in an installed
// state (superseded, installed or permanent). False otherwise, for a null kbId and for every failure.
bool IsServicingPackageInstalled(const wchar_t *kbId);
