// Files, Windows paths, the temporary folder and the environment.
//
// Path mapping (winplat::paths::toPosix):
//   "X:\a\b"     -> "$WINPLAT_ROOT/x/a/b"; the drive folder is the lower-case
//                   letter, every further component is matched against what
//                   exists case-insensitively (an exact match wins; among
//                   several case variants the first in byte order). A
//                   component that does not exist keeps its spelling, and so
//                   do all after it.
//   "\a\b"       -> rooted on the drive of the current directory (C: when the
//                   current directory is outside the root).
//   "X:a"        -> taken as "X:\a".
//   "a\b"        -> relative to the current directory, resolved as above.
//   "/a/b"       -> an absolute POSIX path: unchanged, except that "\" also
//                   separates; no case resolution.
//   "\\?\X:\a"   -> the "\\?\" prefix is dropped.
// "\" and "/" both separate, empty components collapse, "." and ".." are
// folded lexically (never above the drive root), and a trailing separator is
// kept. Text crosses to POSIX as UTF-8. WINPLAT_ROOT unset or empty means
// "/". The variable is read on every call, so tests can change it.
//
// Reverse mapping (winplat::paths::toWindows), used for every path the
// platform reports (GetModuleFileNameW, GetTempPathW, GetFullPathNameW of a
// relative name): a POSIX path under "$WINPLAT_ROOT/<letter>" becomes
// "<LETTER>:\..." with the on-disk spelling of the components; any other path
// is reported as an absolute POSIX path with "/" separators, which toPosix
// accepts back unchanged.
//
// Handles: a file handle is a kernel object; CloseHandle closes it. Sharing
// is enforced between the opens of this process only: an open whose access
// the existing opens do not share (or whose share mode refuses their access)
// fails with ERROR_SHARING_VIOLATION. FILE_FLAG_DELETE_ON_CLOSE removes the
// name when the last open of the file is closed. DeleteFileW removes the
// name at once (POSIX semantics) unless an open of this process does not
// share delete access, which gives ERROR_SHARING_VIOLATION. Overlapped I/O
// is not supported (a non-null OVERLAPPED gives ERROR_INVALID_PARAMETER).
#pragma once

#include <string>
#include <string_view>

#include "winplat/errors.h"
#include "winplat/types.h"

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u

#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_SYSTEM 0x00000004u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_TEMPORARY 0x00000100u
#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu

#define FILE_FLAG_WRITE_THROUGH 0x80000000u
#define FILE_FLAG_RANDOM_ACCESS 0x10000000u
#define FILE_FLAG_SEQUENTIAL_SCAN 0x08000000u
#define FILE_FLAG_DELETE_ON_CLOSE 0x04000000u

#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

typedef LONG* PLONG;

struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD dwVolumeSerialNumber;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;

extern "C" {

// Access: GENERIC_READ, GENERIC_WRITE or both (0 opens for attributes only).
// Dispositions as on Windows; CREATE_ALWAYS and OPEN_ALWAYS on an existing
// file succeed with last error ERROR_ALREADY_EXISTS. A directory gives
// ERROR_ACCESS_DENIED. FILE_ATTRIBUTE_TEMPORARY is accepted as a hint.
WINPLAT_API HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                                      LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                                      DWORD dwFlagsAndAttributes, HANDLE hTemplateFile);
// Reads at the handle's file pointer; past the end: TRUE with 0 bytes.
WINPLAT_API BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
                                 LPDWORD lpNumberOfBytesRead, LPOVERLAPPED lpOverlapped);
WINPLAT_API BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
                                  LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED lpOverlapped);
// The pointer may lie past the end; a negative result gives
// ERROR_NEGATIVE_SEEK and leaves the pointer where it was.
WINPLAT_API BOOL WINAPI SetFilePointerEx(HANDLE hFile, LARGE_INTEGER liDistanceToMove,
                                         PLARGE_INTEGER lpNewFilePointer, DWORD dwMoveMethod);
WINPLAT_API DWORD WINAPI SetFilePointer(HANDLE hFile, LONG lDistanceToMove, PLONG lpDistanceToMoveHigh,
                                        DWORD dwMoveMethod);
// Truncates or extends (with zeros) the file to the file pointer.
WINPLAT_API BOOL WINAPI SetEndOfFile(HANDLE hFile);
WINPLAT_API BOOL WINAPI GetFileSizeEx(HANDLE hFile, PLARGE_INTEGER lpFileSize);
WINPLAT_API BOOL WINAPI GetFileInformationByHandle(HANDLE hFile,
                                                   LPBY_HANDLE_FILE_INFORMATION lpFileInformation);
WINPLAT_API BOOL WINAPI FlushFileBuffers(HANDLE hFile);
WINPLAT_API BOOL WINAPI DeleteFileW(LPCWSTR lpFileName);
// FILE_ATTRIBUTE_DIRECTORY for a folder, FILE_ATTRIBUTE_NORMAL for a plain
// file (with FILE_ATTRIBUTE_READONLY when it is not writable);
// INVALID_FILE_ATTRIBUTES with ERROR_FILE_NOT_FOUND or ERROR_PATH_NOT_FOUND.
WINPLAT_API DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName);

// Lexical, as on Windows: joins a relative name to the current directory,
// folds "." and "..", turns "/" into "\" in Windows-form paths. Returns the
// length without the terminator, or the size needed (with it) when the
// buffer is too small; 0 on failure (empty name: ERROR_INVALID_NAME).
WINPLAT_API DWORD WINAPI GetFullPathNameW(LPCWSTR lpFileName, DWORD nBufferLength, LPWSTR lpBuffer,
                                          LPWSTR* lpFilePart);
// The first of TMP, TEMP, TMPDIR that is set, else "/tmp", as a full path
// with a trailing separator, in Windows form when it lies under the root.
WINPLAT_API DWORD WINAPI GetTempPathW(DWORD nBufferLength, LPWSTR lpBuffer);
// "<path>\<up to 3 prefix characters><hex>.TMP". With uUnique 0 a unique
// number is chosen and the empty file is created (ERROR_DIRECTORY when the
// folder does not exist); otherwise only the name is made. lpTempFileName
// must hold MAX_PATH characters. Returns the number used, 0 on failure.
WINPLAT_API UINT WINAPI GetTempFileNameW(LPCWSTR lpPathName, LPCWSTR lpPrefixString, UINT uUnique,
                                         LPWSTR lpTempFileName);
// "C:\Windows\system32" and "C:\Windows". Length without the terminator, or
// the size needed with it when the buffer is too small.
WINPLAT_API UINT WINAPI GetSystemDirectoryW(LPWSTR lpBuffer, UINT uSize);
WINPLAT_API UINT WINAPI GetWindowsDirectoryW(LPWSTR lpBuffer, UINT uSize);

// Environment. Names compare case-insensitively (an exact match first), as
// on Windows; values live in the process environment as UTF-8.
// %NAME% is replaced by the variable's value; an unknown name and a lone "%"
// stay as written. Returns the size needed including the terminator (the
// buffer is filled only when it is large enough), 0 on failure.
WINPLAT_API DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR lpSrc, LPWSTR lpDst, DWORD nSize);
// Length without the terminator, or the size needed with it; 0 with
// ERROR_ENVVAR_NOT_FOUND when the variable is not set.
WINPLAT_API DWORD WINAPI GetEnvironmentVariableW(LPCWSTR lpName, LPWSTR lpBuffer, DWORD nSize);
// A null value removes the variable.
WINPLAT_API BOOL WINAPI SetEnvironmentVariableW(LPCWSTR lpName, LPCWSTR lpValue);

}  // extern "C"

namespace winplat::paths {

// The POSIX path (UTF-8) for a Windows or POSIX path, as described above.
WINPLAT_API std::string toPosix(std::wstring_view path);
// The path the platform reports for a POSIX path, as described above. A
// relative path is first made absolute against the current directory.
WINPLAT_API std::wstring toWindows(const std::string& posixPath);
// The drive root currently in force ("$WINPLAT_ROOT", or "/").
WINPLAT_API std::string root();

}  // namespace winplat::paths
