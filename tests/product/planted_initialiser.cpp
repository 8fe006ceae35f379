// A library object with a static initialiser of its own, the fault the product's link-map check exists to catch:
// linked into a throwaway host, its map must name this member as ours.
#include <windows.h>

static DWORD plantedAtStart = GetTickCount();

DWORD PlantedValue()
{
    return plantedAtStart;
}
