// Finding and loading the MAPI runtime of the installed mail client, once per
// process. No step raises: a step that finds nothing yields null (setting the
// thread's last error where a call failed) and the search goes on.
#pragma once

#include <cstddef>
#include <cstdint>

#include "winplat/windows.h"

namespace MapiLoader {

// Paths are limited to this many characters, terminator included.
constexpr size_t PathChars = 260;

// The published runtime, found and published on first use; null when there
// is none (the next call searches again).
HMODULE getMapiModule();
// The search, without looking at the module already published.
HMODULE loadMapiModule();
// Publishes h unless another module won the race (h is then freed); either
// way the generation moves on, so every stub resolves its export again.
void publishModule(HMODULE h);
// Current generation (starts at 1).
uint32_t generation();

// Steps of the search.
HMODULE loadDefaultClientMapi();
bool readDllPathEx(HKEY key, wchar_t* path /* PathChars */);
HMODULE loadMsiPublishedMapi();
HMODULE loadByLcid(const wchar_t* component, const wchar_t* qualifierFormat);
HMODULE loadFromComponent(const wchar_t* component, const wchar_t* qualifier);
HMODULE loadFromCommonFiles(const wchar_t* relativePath);
HMODULE loadSystemMapi();
LCID getOfficeLcid();
// Copies text into buffer (capacity characters); *end points at the copied
// terminator and *remaining counts the characters left from there. When the
// text and its terminator do not fit, the buffer holds the cut text and the
// result is HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER).
HRESULT copyPath(const wchar_t* text, wchar_t* buffer, size_t capacity, wchar_t** end, size_t* remaining);
bool fileExists(const wchar_t* path);

// Forgets the published module (and frees the reference the loader took),
// so that a test can lay out another world and search again.
void resetForTests();

}  // namespace MapiLoader
