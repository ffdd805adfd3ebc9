// Registry: the Win32 registry calls over an in-memory tree that is kept in a
// `.reg` text file named by WINPLAT_REGISTRY (without the variable the tree
// lives only in the process). Every change is written through at once, under
// a lock, as a record of a journal beside the file ("<file>.journal"); the
// file is rewritten whole (a temporary file renamed over it) when the
// journal has outgrown it and when a process that wrote ends.
//
// Wide text: REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ data is stored as UTF-16LE
// (2 bytes per unit). The W calls exchange it as in-memory WCHAR arrays, so
// byte counts of those types are sizeof(WCHAR) per unit, terminator included.
// Every other type (REG_BINARY, REG_DWORD, REG_QWORD, REG_NONE, ...) is bytes
// exchanged as they are stored: wide text that a caller keeps in REG_BINARY
// (MAPI PT_UNICODE properties) is the caller's own 2-byte encoding. Stored
// text of an odd length comes back with its last byte as one extra byte, so
// the caller sees a count that is not a multiple of sizeof(WCHAR).
//
// What callers may rely on:
// - Key and value names compare case-insensitively and keep the spelling
//   they were created with; writing a value under another spelling keeps the
//   first one. Subkeys enumerate sorted by their upper-cased names; values in
//   the order they were added.
// - A buffer too small for a value or a name gives ERROR_MORE_DATA, writes
//   nothing into it and reports the size needed (for names: characters with
//   the terminator). On success RegEnumKeyExW/RegEnumValueW set the name
//   count to the length without the terminator.
// - Missing keys and values give ERROR_FILE_NOT_FOUND; a handle whose key was
//   deleted gives ERROR_KEY_DELETED; a call the handle's access does not
//   allow gives ERROR_ACCESS_DENIED; RegDeleteKeyW refuses a key that has
//   subkeys with ERROR_ACCESS_DENIED, judged on the registry as it is when
//   the change is made (also with other processes writing).
// - Handle values are not reused: a closed handle gives ERROR_INVALID_HANDLE
//   (stricter than Windows, which may hand the value out again).
// - Keys are at most 512 levels deep, the root being the first, and one
//   RegCreateKeyExW call creates at most 32 of them: beyond, it fails with
//   ERROR_BADKEY, and a file with a deeper key does not load.
// - Changes fail with ERROR_BADDB while the registry file does not parse,
//   with ERROR_CANTREAD while it or its journal cannot be read (or it is a
//   folder; reads go on with the tree last read), and with
//   the file system's error when the file cannot be written; the file and
//   the tree then stay as they were. Why the file cannot be used is said
//   once on stderr.
// - A change is in the journal when the call returns, never lost and never
//   taken back whoever is killed when, and other processes using this layer
//   see it at their next call; it is in the file alone once no process that
//   wrote runs. A rewrite at exit that fails says so on stderr and leaves
//   the journal for the next process. A journal found cut short from
//   outside, beside the file it goes with, is made good by the next change
//   of a process that read it, which writes its tree whole into the file
//   and says so on stderr. A file replaced by another program is
//   seen by reads within 10 ms and by changes at once. A file named through
//   a symbolic link is written where the link points. The file's folder is
//   the one found when it was loaded, whatever the process's current folder
//   or the links on the way become later.
// - A process that may read the file but not write it or beside it (the
//   lock file, the journal, the folder) sees every change of the others, and
//   its own changes fail with ERROR_ACCESS_DENIED, changing nothing. A
//   process that only reads creates nothing. The lock file and the journal
//   have the registry file's mode and owner (0644 before there is a file);
//   a writer brings them to those when the file's mode or owner changes. A
//   process that may read the file but not the journal says so once on
//   stderr.
// - Comment lines of the file are kept, under the line of their key.
// - KEY_WOW64_* select nothing (there is one view); REG_OPTION_VOLATILE keys
//   are kept in the file like the others.
// - Every call asks winplat::inject::take with its own name first, so tests
//   can make it fail and count it; "RegistryFileWrite" makes the next file
//   write fail half-way with the armed code; "RegistryJournalRead" makes a
//   read of the journal fail with the armed errno; "RegistryCoarseFileTimes"
//   (code: a tick in milliseconds) makes file times look that coarse;
//   "RegistryAfterRecord", "RegistryBeforeRename" and "RegistryAfterRename"
//   raise the armed code as a signal at that moment of a write, as
//   "RegistryBesideLook" does between the two looks at a blank file beside
//   the registry and "RegistrySetAsideMade" once a set-aside journal's name
//   is taken; "RegistryFlushBeside", "RegistryFlushJournal" and
//   "RegistryFlushFile" make the flush of a lock file or journal made, of a
//   journal put in another's place, or of a registry file fail with the
//   armed errno.
#pragma once

#include <cstddef>
#include <string>

#include "winplat/errors.h"
#include "winplat/types.h"

// Predefined keys; sign-extended 32-bit values, as on 64-bit Windows.
#define WINPLAT_PREDEFINED_KEY(v) \
    (reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(v)))))
#define HKEY_CLASSES_ROOT WINPLAT_PREDEFINED_KEY(0x80000000u)
#define HKEY_CURRENT_USER WINPLAT_PREDEFINED_KEY(0x80000001u)
#define HKEY_LOCAL_MACHINE WINPLAT_PREDEFINED_KEY(0x80000002u)

// Standard access rights (shared with other object kinds).
#ifndef DELETE
#define DELETE 0x00010000u
#endif
#ifndef READ_CONTROL
#define READ_CONTROL 0x00020000u
#endif
#ifndef WRITE_DAC
#define WRITE_DAC 0x00040000u
#endif
#ifndef WRITE_OWNER
#define WRITE_OWNER 0x00080000u
#endif
#ifndef SYNCHRONIZE
#define SYNCHRONIZE 0x00100000u
#endif
#ifndef STANDARD_RIGHTS_REQUIRED
#define STANDARD_RIGHTS_REQUIRED 0x000F0000u
#endif
#ifndef STANDARD_RIGHTS_READ
#define STANDARD_RIGHTS_READ READ_CONTROL
#endif
#ifndef STANDARD_RIGHTS_WRITE
#define STANDARD_RIGHTS_WRITE READ_CONTROL
#endif
#ifndef STANDARD_RIGHTS_ALL
#define STANDARD_RIGHTS_ALL 0x001F0000u
#endif
#ifndef MAXIMUM_ALLOWED
#define MAXIMUM_ALLOWED 0x02000000u
#endif

// Key access rights.
#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_NOTIFY 0x0010u
#define KEY_CREATE_LINK 0x0020u
#define KEY_WOW64_64KEY 0x0100u
#define KEY_WOW64_32KEY 0x0200u
#define KEY_WOW64_RES 0x0300u
#define KEY_READ 0x00020019u   // READ_CONTROL | QUERY_VALUE | ENUMERATE_SUB_KEYS | NOTIFY
#define KEY_WRITE 0x00020006u  // READ_CONTROL | SET_VALUE | CREATE_SUB_KEY
#define KEY_EXECUTE KEY_READ
#define KEY_ALL_ACCESS 0x000F003Fu

// RegCreateKeyExW options and dispositions.
#define REG_OPTION_RESERVED 0x00000000u
#define REG_OPTION_NON_VOLATILE 0x00000000u
#define REG_OPTION_VOLATILE 0x00000001u
#define REG_OPTION_CREATE_LINK 0x00000002u
#define REG_OPTION_BACKUP_RESTORE 0x00000004u
#define REG_OPTION_OPEN_LINK 0x00000008u
#define REG_CREATED_NEW_KEY 0x00000001u
#define REG_OPENED_EXISTING_KEY 0x00000002u

// Value types.
#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_DWORD_LITTLE_ENDIAN 4u
#define REG_DWORD_BIG_ENDIAN 5u
#define REG_LINK 6u
#define REG_MULTI_SZ 7u
#define REG_QWORD 11u
#define REG_QWORD_LITTLE_ENDIAN 11u

extern "C" {

WINPLAT_API LSTATUS WINAPI RegOpenKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                                         PHKEY phkResult);
WINPLAT_API LSTATUS WINAPI RegCreateKeyExW(HKEY hKey, LPCWSTR lpSubKey, DWORD Reserved, LPWSTR lpClass,
                                           DWORD dwOptions, REGSAM samDesired,
                                           const LPSECURITY_ATTRIBUTES lpSecurityAttributes, PHKEY phkResult,
                                           LPDWORD lpdwDisposition);
WINPLAT_API LSTATUS WINAPI RegEnumKeyExW(HKEY hKey, DWORD dwIndex, LPWSTR lpName, LPDWORD lpcchName,
                                         LPDWORD lpReserved, LPWSTR lpClass, LPDWORD lpcchClass,
                                         LPFILETIME lpftLastWriteTime);
WINPLAT_API LSTATUS WINAPI RegEnumValueW(HKEY hKey, DWORD dwIndex, LPWSTR lpValueName, LPDWORD lpcchValueName,
                                         LPDWORD lpReserved, LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
WINPLAT_API LSTATUS WINAPI RegQueryValueExW(HKEY hKey, LPCWSTR lpValueName, LPDWORD lpReserved,
                                            LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
WINPLAT_API LSTATUS WINAPI RegQueryInfoKeyW(HKEY hKey, LPWSTR lpClass, LPDWORD lpcchClass, LPDWORD lpReserved,
                                            LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                                            LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                            LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                            LPDWORD lpcbSecurityDescriptor, LPFILETIME lpftLastWriteTime);
WINPLAT_API LSTATUS WINAPI RegSetValueExW(HKEY hKey, LPCWSTR lpValueName, DWORD Reserved, DWORD dwType,
                                          const BYTE* lpData, DWORD cbData);
WINPLAT_API LSTATUS WINAPI RegDeleteValueW(HKEY hKey, LPCWSTR lpValueName);
WINPLAT_API LSTATUS WINAPI RegDeleteKeyW(HKEY hKey, LPCWSTR lpSubKey);
WINPLAT_API LSTATUS WINAPI RegCloseKey(HKEY hKey);

}  // extern "C"

// Control of the registry for tests, the demo and the stand-ins.
namespace winplat::registry {

// Writes this process's changes still in the journal into the file, then
// drops the tree and loads it again from the file named by WINPLAT_REGISTRY
// (no variable: an empty registry in memory; a missing file: an empty
// registry that the first change creates). Open handles stay open and find
// their keys again by path. ERROR_SUCCESS, or ERROR_BADDB when the file does
// not parse (see lastLoadError; the tree is then empty and every change fails
// with ERROR_BADDB until the file is mended), or the error of reading it.
WINPLAT_API LSTATUS reload();

// Replaces this process's registry with the tree of the `.reg` text `data`,
// kept in memory only, as without WINPLAT_REGISTRY (nothing is read or made
// on disk), until the next reload(); the changes still in the journal of the
// file loaded before go into that file first, as reload() does. On text that
// does not parse returns false, the message of parseText in `error`, and
// leaves the registry as it was.
WINPLAT_API bool loadText(const void* data, size_t size, std::string* error);

// The path of the registry file in use ("" when the registry is in memory).
WINPLAT_API std::string filePath();

// Why the last load or re-read of the file failed, with its line number
// ("<file>:<line>: <what>"); "" when it succeeded.
WINPLAT_API std::string lastLoadError();

// Handles opened and not yet closed (predefined keys are not counted).
WINPLAT_API size_t openKeyCount();

// Makes the key `root\subKey` refuse write access: opening or creating it
// with any write right gives ERROR_ACCESS_DENIED, and it cannot be deleted.
// Read access is unaffected. Survives reload; cleared by clearDeniedKeys.
WINPLAT_API void denyWrite(HKEY root, const std::wstring& subKey);
WINPLAT_API void clearDeniedKeys();

// The whole tree in `.reg` form (UTF-8, the form this layer writes).
WINPLAT_API std::string exportText();
// One key and its subtree in `.reg` form, without the file header line;
// "" when the key does not exist.
WINPLAT_API std::string exportKey(HKEY root, const std::wstring& subKey);
// Writes the changes still kept in the journal beside the registry file into
// the file itself, as a process that wrote does when it ends or reloads.
WINPLAT_API void flush();

// Parses `.reg` text from memory without touching the registry. On success
// returns true and, when `canonical` is given, the text as this layer would
// write it; on failure returns false and the message in `error`.
WINPLAT_API bool parseText(const void* data, size_t size, std::string* error,
                           std::string* canonical = nullptr);

}  // namespace winplat::registry
