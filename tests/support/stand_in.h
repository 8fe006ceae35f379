// One vocabulary for replacing a system function at the import boundary of a test program, on both targets.
// Product code calls a dllimport function through its import slot; a test program that defines that slot itself
// makes the linker leave the import library's slot out, so every call from the product code (and from GoogleTest
// and the C runtime linked into the same program) reaches the stand-in. The slot's symbol differs per target: i686
// decorates a WINAPI (stdcall) import as __imp__Name@ArgumentBytes and a C-runtime (cdecl) import as __imp__Name;
// x86_64 uses __imp_Name for both. A slot of the wrong name would link silently and replace nothing, so each stand-in
// is checked against the SDK prototype and, on i686, its argument bytes against that prototype too.
#pragma once
#include <windows.h>
#include <winternl.h>

namespace standin {

// What a stdcall function pops from the stack on i686: each argument rounded up to 4 bytes.
template <typename R, typename... A>
constexpr int StdcallArgumentBytes(R(WINAPI *)(A...))
{
    return (0 + ... + static_cast<int>((sizeof(A) + 3) / 4 * 4));
}

}  // namespace standin

#define STAND_IN_TEXT_(x) #x
#if defined(__i386__)
#define STAND_IN_WINAPI_SLOT_(name, bytes) "__imp__" #name "@" STAND_IN_TEXT_(bytes)
#define STAND_IN_CDECL_SLOT_(name) "__imp__" #name
#define STAND_IN_CHECK_BYTES_(name, bytes)                                                                           \
    static_assert(standin::StdcallArgumentBytes(static_cast<decltype(&name)>(nullptr)) == (bytes),                   \
                  "argument bytes of " #name)
#else
#define STAND_IN_WINAPI_SLOT_(name, bytes) "__imp_" #name
#define STAND_IN_CDECL_SLOT_(name) "__imp_" #name
#define STAND_IN_CHECK_BYTES_(name, bytes) static_assert((bytes) >= 0, "argument bytes of " #name)
#endif

// REPLACE_IMPORT(CreateFileW, 28, MyCreateFile): every call of CreateFileW in this program reaches MyCreateFile,
// which must have CreateFileW's exact type. 28 is the bytes of its arguments on i686 (checked at compile time).
// Use it at namespace scope, outside any anonymous namespace.
#define REPLACE_IMPORT(name, bytes, standIn)                                                                         \
    STAND_IN_CHECK_BYTES_(name, bytes);                                                                              \
    extern "C" void *standInSlot_##name __asm__(STAND_IN_WINAPI_SLOT_(name, bytes));                                 \
    void *standInSlot_##name = reinterpret_cast<void *>(static_cast<decltype(&name)>(&(standIn)))

// The same for a C-runtime function (cdecl), such as _vsnwprintf.
#define REPLACE_CRT_IMPORT(name, standIn)                                                                            \
    extern "C" void *standInSlot_##name __asm__(STAND_IN_CDECL_SLOT_(name));                                         \
    void *standInSlot_##name = reinterpret_cast<void *>(static_cast<decltype(&name)>(&(standIn)))

// Reaching the real function behind a stand-in, one way for every test program:
//   REAL_IMPORT(L"kernel32.dll", CreateFileW)   the system's CreateFileW, typed as the SDK declares it: a stand-in's
//                                               faithful default path. The usual choice.
//   standin::RealGetProcAddress(module, name)   the system's GetProcAddress, for a GetProcAddress stand-in that
//                                               forwards, or for a module handle the product looked up itself.
//   standin::RealModule(L"shell32.dll")         the DLL's handle, loaded now if nothing loaded it yet (a program
//                                               whose every import of a DLL is a stand-in never loads that DLL).
// None of them goes through this program's import slots, so they hold whichever of GetModuleHandleW, LoadLibraryW and
// GetProcAddress the program replaces: kernel32 is found in the loader's list of modules (PEB_LDR_DATA, documented in
// winternl.h), GetProcAddress in kernel32's export table, and everything else through those two.
#define REAL_IMPORT(dll, name)                                                                                       \
    reinterpret_cast<decltype(&name)>(                                                                               \
        reinterpret_cast<void *>(standin::RealGetProcAddress(standin::RealModule(dll), #name)))

namespace standin {

// True when `path` ends in `\\file`, ignoring ASCII case (system DLL names are ASCII; no import is called).
inline bool EndsWithFileName(const UNICODE_STRING &path, const wchar_t *file)
{
    size_t fileLength = 0;
    while (file[fileLength] != L'\0') {
        ++fileLength;
    }
    size_t pathLength = path.Length / sizeof(wchar_t);
    if (pathLength <= fileLength || path.Buffer[pathLength - fileLength - 1] != L'\\') {
        return false;
    }
    for (size_t i = 0; i < fileLength; ++i) {
        wchar_t a = path.Buffer[pathLength - fileLength + i];
        wchar_t b = file[i];
        if ((a >= L'A' && a <= L'Z' ? a + (L'a' - L'A') : a) != (b >= L'A' && b <= L'Z' ? b + (L'a' - L'A') : b)) {
            return false;
        }
    }
    return true;
}

// This thread's TEB, read as NtCurrentTeb reads it; mingw's NtCurrentTeb trips GCC 12's -Warray-bounds, because its
// segment read names the offset as a pointer.
inline TEB *CurrentTeb()
{
    TEB *teb;
#if defined(__x86_64__)
    __asm__("movq %%gs:0x30, %0" : "=r"(teb));
#else
    __asm__("movl %%fs:0x18, %0" : "=r"(teb));
#endif
    return teb;
}

// kernel32's base, from the loader's list of this process's modules.
inline BYTE *Kernel32()
{
    static BYTE *base = nullptr;
    if (base == nullptr) {
        LIST_ENTRY *head = &CurrentTeb()->ProcessEnvironmentBlock->Ldr->InMemoryOrderModuleList;
        for (LIST_ENTRY *link = head->Flink; link != head && base == nullptr; link = link->Flink) {
            auto *entry = CONTAINING_RECORD(link, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
            if (EndsWithFileName(entry->FullDllName, L"kernel32.dll")) {
                base = static_cast<BYTE *>(entry->DllBase);
            }
        }
    }
    return base;
}

// The system's GetProcAddress, found once in kernel32's export table.
inline FARPROC RealGetProcAddress(HMODULE module, LPCSTR name)
{
    static FARPROC(WINAPI * real)(HMODULE, LPCSTR) = nullptr;
    if (real == nullptr) {
        BYTE *kernel = Kernel32();
        auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(kernel + reinterpret_cast<IMAGE_DOS_HEADER *>(kernel)->e_lfanew);
        auto *exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY *>(
            kernel + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
        auto *names = reinterpret_cast<DWORD *>(kernel + exports->AddressOfNames);
        auto *ordinals = reinterpret_cast<WORD *>(kernel + exports->AddressOfNameOrdinals);
        auto *functions = reinterpret_cast<DWORD *>(kernel + exports->AddressOfFunctions);
        for (DWORD i = 0; i < exports->NumberOfNames && real == nullptr; ++i) {
            const char *exported = reinterpret_cast<char *>(kernel) + names[i];
            const char *wanted = "GetProcAddress";
            while (*exported != '\0' && *exported == *wanted) {
                ++exported;
                ++wanted;
            }
            if (*exported == *wanted) {
                real = reinterpret_cast<FARPROC(WINAPI *)(HMODULE, LPCSTR)>(
                    reinterpret_cast<void *>(kernel + functions[ordinals[i]]));
            }
        }
    }
    return real(module, name);
}

// The DLL's handle: the loaded one, or loaded now (and left loaded, as the program's own import would be).
inline HMODULE RealModule(const wchar_t *dll)
{
    HMODULE kernel = reinterpret_cast<HMODULE>(Kernel32());
    HMODULE module = reinterpret_cast<decltype(&GetModuleHandleW)>(
        reinterpret_cast<void *>(RealGetProcAddress(kernel, "GetModuleHandleW")))(dll);
    if (module == nullptr) {
        module = reinterpret_cast<decltype(&LoadLibraryW)>(
            reinterpret_cast<void *>(RealGetProcAddress(kernel, "LoadLibraryW")))(dll);
    }
    return module;
}

}  // namespace standin
