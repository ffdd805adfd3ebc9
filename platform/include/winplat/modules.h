// Modules: loading, the process-wide module table and exports.
//
// A module is an ELF shared object loaded with dlopen(RTLD_NOW | RTLD_LOCAL)
// from the mapped path (winplat/files.h). Its HMODULE is its load address.
// It is then known by its base name (the file name it was loaded under),
// compared case-insensitively; a name without an extension gets ".dll".
//
// A bare name (no separator) is first looked up among the loaded modules,
// then searched, in Windows' order, as a file of exactly that name in: the
// program's folder, the DLL directory (SetDllDirectoryW), the system
// directory, the Windows directory. dlopen's own search is never used, and
// "<name>.so" is not tried: stand-ins are built as "<Name>.dll" files.
//
// Exports: GetProcAddress tries the exact name, then the name with every '@'
// written as '_' ("MAPIInitialize@4" -> "MAPIInitialize_4"), since the GNU
// linker cannot export '@'. An ordinal N (a name pointer below 0x10000, see
// MAKEINTRESOURCEA) is the symbol "ordinal_N". A symbol counts only when it
// lies in that module itself, not in one of its dependencies.
//
// Modules the process did not load through these calls (the program, the
// libraries it links) are reached by address (GetModuleHandleExW with
// GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS) or, for the program, by a null
// name; they are pinned: FreeLibrary on them does nothing.
#pragma once

#include <string>

#include "winplat/errors.h"
#include "winplat/types.h"

#define LOAD_WITH_ALTERED_SEARCH_PATH 0x00000008u

#define GET_MODULE_HANDLE_EX_FLAG_PIN 0x00000001u
#define GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT 0x00000002u
#define GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS 0x00000004u

#define SEM_FAILCRITICALERRORS 0x0001u
#define SEM_NOGPFAULTERRORBOX 0x0002u
#define SEM_NOALIGNMENTFAULTEXCEPT 0x0004u
#define SEM_NOOPENFILEERRORBOX 0x8000u

#ifndef IS_INTRESOURCE
#define IS_INTRESOURCE(p) ((reinterpret_cast<ULONG_PTR>(p) >> 16) == 0)
#endif
#ifndef MAKEINTRESOURCEA
#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#define MAKEINTRESOURCEW(i) (reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(i))))
#endif

extern "C" {

// Failures: NULL with ERROR_MOD_NOT_FOUND (no such file, or a dependency is
// missing), ERROR_BAD_EXE_FORMAT (not a loadable module, or a file that
// cannot be opened or read, lastLoadError then giving the C library's
// reason) or ERROR_INVALID_PARAMETER (null or empty name).
WINPLAT_API HMODULE WINAPI LoadLibraryW(LPCWSTR lpLibFileName);
// hFile must be null; dwFlags 0 or LOAD_WITH_ALTERED_SEARCH_PATH (others:
// ERROR_INVALID_PARAMETER).
WINPLAT_API HMODULE WINAPI LoadLibraryExW(LPCWSTR lpLibFileName, HANDLE hFile, DWORD dwFlags);
// Drops one reference; the module is unloaded and forgotten at zero.
WINPLAT_API BOOL WINAPI FreeLibrary(HMODULE hLibModule);
// No reference is added. Null: the program.
WINPLAT_API HMODULE WINAPI GetModuleHandleW(LPCWSTR lpModuleName);
WINPLAT_API BOOL WINAPI GetModuleHandleExW(DWORD dwFlags, LPCWSTR lpModuleName, HMODULE* phModule);
// The module's path as the platform reports paths (files.h); null: the
// program. A short buffer gets the cut text, a terminator, the result nSize
// and ERROR_INSUFFICIENT_BUFFER.
WINPLAT_API DWORD WINAPI GetModuleFileNameW(HMODULE hModule, LPWSTR lpFilename, DWORD nSize);
// Null module: the program.
WINPLAT_API FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
// Null restores the default search; the folder is not checked.
WINPLAT_API BOOL WINAPI SetDllDirectoryW(LPCWSTR lpPathName);
// Length without the terminator, or the size needed with it; 0 (and an
// empty buffer) when no DLL directory is set.
WINPLAT_API DWORD WINAPI GetDllDirectoryW(DWORD nBufferLength, LPWSTR lpBuffer);
// Stores the mode and returns the previous one; it has no other effect here.
WINPLAT_API UINT WINAPI SetErrorMode(UINT uMode);

}  // extern "C"

namespace winplat::modules {

// The dlerror text of this thread's last failed load, for diagnostics.
WINPLAT_API std::string lastLoadError();
// Whether this thread's last failed load found no file by the name (the
// module is missing) rather than a file that would not load (not a module, a
// dependency or a symbol missing). A missing file and a missing dependency
// both fail with ERROR_MOD_NOT_FOUND, as on Windows.
WINPLAT_API bool lastLoadFoundNoFile();
// Number of modules in the table that were loaded through LoadLibrary*
// and are still referenced (pinned program modules excluded); for tests.
WINPLAT_API size_t loadedCount();
// The reference count of a loaded module, -1 for an unknown or pinned one.
WINPLAT_API long referenceCount(HMODULE module);

}  // namespace winplat::modules
