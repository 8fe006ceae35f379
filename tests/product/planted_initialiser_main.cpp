// The throwaway host of the planted initialiser: it only has to pull the library member into the link.
#include <windows.h>

DWORD PlantedValue();

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    return static_cast<int>(PlantedValue() & 1);
}
