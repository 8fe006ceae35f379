// A program that loads a library by bare name with the default search, as any program that does not restrict it:
// the control that shows a planted library would be seen if loaded.
// usage: load_library NAME    exit code 0 when loaded, else LoadLibraryW's error
#include <windows.h>

int wmain(int argc, wchar_t **argv)
{
    if (argc != 2) {
        return ERROR_INVALID_PARAMETER;
    }
    HMODULE library = LoadLibraryW(argv[1]);
    if (library == nullptr) {
        return static_cast<int>(GetLastError());
    }
    FreeLibrary(library);
    return 0;
}
