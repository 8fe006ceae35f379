// The one command line by which the host asks a copy of itself, started elevated, to install an update package: a
// private first argument, the catalogue update item by name, and the package path in double quotes. The runner
// writes it; wWinMain recognises it before anything else and hands it to the elevated step, which trusts nothing in
// it beyond which item and which path.
#pragma once
#include <windows.h>

#include "prereq/catalog.h"

// The private first argument. No console option or user argument looks like it, and it is matched exactly, as a whole
// token: any other command line, one merely starting the same way included, still goes to the payload unchanged.
extern const wchar_t kElevatedUpdateArgument[];

// The command-line name of a catalogue update item ("ServicingStackUpdateX64", …); null for any other item, the
// runtime's installer included.
const wchar_t *UpdateItemName(const PrerequisiteItem *item);

// The parameters of the elevated start: "<argument> <item name> \"<path>\"", into a buffer of capacity characters.
// False when the item is not a catalogue update item or the text does not fit.
bool FormatElevatedUpdateRequest(wchar_t *buffer, size_t capacity, const PrerequisiteItem *item, const wchar_t *path);

// True when the argument text (the command line behind the program name) begins with the private argument as a whole
// token: the argument, then a blank or the end.
bool IsElevatedUpdateRequest(const wchar_t *arguments);

// Reads such an argument text back: the catalogue update item it names and the path (MAX_PATH characters). False
// when anything is missing, unknown, too long or left over.
bool ParseElevatedUpdateRequest(const wchar_t *arguments, const PrerequisiteItem **item, wchar_t *path);
