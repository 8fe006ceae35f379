// The Windows Update service (wuauserv) while an update package installs: the update installer needs to start it, and
// many tills have it switched off. Only its start type is ever changed, and only from disabled to on demand and back.
#pragma once
#include <windows.h>

// When wuauserv's start type is SERVICE_DISABLED, sets it to SERVICE_DEMAND_START and returns true: the caller must
// then call RestoreUpdateServiceDisabled on every path. False when the service was not disabled, or its configuration
// could not be read or changed (then nothing was changed).
bool AllowUpdateServiceStart();

// Sets wuauserv's start type back to SERVICE_DISABLED, touching nothing else.
void RestoreUpdateServiceDisabled();
