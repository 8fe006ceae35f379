// A catalogue for test programs that drive an update item through the runner: linked in front of the product's
// libraries, its five records replace the product's (whose packages are real and large). Each update record stands
// for the one small cabinet-signed body below, under that record's file name; the runtime's record is never usable.
#pragma once
#include <windows.h>

#include <string>

#include "prereq/catalog.h"

namespace bench {

// Writes the body that every update record of this catalogue verifies.
bool WriteTestUpdate(const std::wstring &path);

}  // namespace bench
