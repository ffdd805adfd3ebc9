// Internal helpers shared by the files, paths, environment and module code.
#pragma once

#include <string>
#include <string_view>

#include "winplat/types.h"

namespace winplat::detail {

// Environment under one process-wide lock. Names compare case-insensitively
// (ASCII), an exact match first.
bool envGet(std::string_view name, std::string* value);
void envSet(std::string_view name, const std::string* value);

// The Win32 error for an errno of a call on `posixPath`: ENOENT becomes
// ERROR_PATH_NOT_FOUND when the parent folder is missing.
DWORD win32FromErrno(int error, const std::string& posixPath = std::string());

// Windows-form test: a drive ("X:"), or a leading "\".
bool isWindowsForm(std::wstring_view path);
// Case-insensitive equality of UTF-16 texts (simple upper-case mapping).
bool equalsNoCase(std::wstring_view a, std::wstring_view b);
// The last component of a path ("\" and "/" separate).
std::wstring baseName(std::wstring_view path);

// Copies `text` into a caller's buffer the usual Win32 way: when it fits
// (with its terminator) returns its length, otherwise the size needed
// including the terminator and leaves the buffer alone.
DWORD copyOut(const std::wstring& text, LPWSTR buffer, DWORD size);

// Current directory (POSIX).
std::string currentDirectory();

}  // namespace winplat::detail
