// One vocabulary for replacing a system function at the import boundary of a test program, on both targets.
// Product code calls a dllimport function through its import slot; a test program that defines that slot itself
// makes the linker leave the import library's slot out, so every call from the product code (and from GoogleTest
// and the C runtime linked into the same program) reaches the stand-in. The slot's symbol differs per target: i686
// decorates a WINAPI (stdcall) import as __imp__Name@ArgumentBytes and a C-runtime (cdecl) import as __imp__Name;
// x86_64 uses __imp_Name for both. A slot of the wrong name would link silently and replace nothing, so each stand-in
// is checked against the SDK prototype and, on i686, its argument bytes against that prototype too.
#pragma once
#include <windows.h>

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

// The system's own function behind a replaced slot, for a stand-in's faithful default path. The DLL is one the
// program has loaded already; looking it up by name never goes through the replaced slot.
#define REAL_IMPORT(dll, name)                                                                                       \
    reinterpret_cast<decltype(&name)>(reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(dll), #name)))

namespace standin {

// The system's GetProcAddress, for a program whose GetProcAddress import is itself a stand-in (REAL_IMPORT would
// reach the stand-in): found in kernel32's export table.
inline FARPROC RealGetProcAddress(HMODULE module, LPCSTR name)
{
    static FARPROC(WINAPI * real)(HMODULE, LPCSTR) = nullptr;
    if (real == nullptr) {
        BYTE *kernel = reinterpret_cast<BYTE *>(GetModuleHandleW(L"kernel32.dll"));
        auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(kernel + reinterpret_cast<IMAGE_DOS_HEADER *>(kernel)->e_lfanew);
        auto *exports = reinterpret_cast<IMAGE_EXPORT_DIRECTORY *>(
            kernel + nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT].VirtualAddress);
        auto *names = reinterpret_cast<DWORD *>(kernel + exports->AddressOfNames);
        auto *ordinals = reinterpret_cast<WORD *>(kernel + exports->AddressOfNameOrdinals);
        auto *functions = reinterpret_cast<DWORD *>(kernel + exports->AddressOfFunctions);
        for (DWORD i = 0; i < exports->NumberOfNames && real == nullptr; ++i) {
            if (lstrcmpA(reinterpret_cast<char *>(kernel) + names[i], "GetProcAddress") == 0) {
                real = reinterpret_cast<FARPROC(WINAPI *)(HMODULE, LPCSTR)>(
                    reinterpret_cast<void *>(kernel + functions[ordinals[i]]));
            }
        }
    }
    return real(module, name);
}

}  // namespace standin
