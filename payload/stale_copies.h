// A power cut between writing a new copy of the payload and moving it into place leaves the temporary copy in the
// runtime folder, under a name no later start uses again (it carries the writer's process id); nothing else would
// ever remove it.
#pragma once
#include <windows.h>

// Deletes from folder every plain file named exactly as extraction names its temporary copies ("%08X-%08lX.tmp":
// a payload hash and a process id, eight upper-case hexadecimal digits each) that nobody holds open and whose writer
// no longer runs. A copy another host is writing or moving right now stays, and so does every other name. Best
// effort: a copy that cannot be removed is left for a later start.
void RemoveStaleCopies(const wchar_t *folder);
