// The conversions and comparisons that go through the system's code-page and
// locale routines.
#include <strings.h>

#include "CommonBase/StringUtils.h"
#include "winplat/windows.h"
#include "winplat/oleauto.h"

namespace {
const char kUtf8Bom[] = "\xEF\xBB\xBF";
}

std::wstring ansiToWide(const std::string& text) {
    std::wstring out(text.size() + 1, L'\0');
    int converted = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), size_cast(out.size()));
    if (converted <= 0)
        return std::wstring();
    out.resize(static_cast<size_t>(converted - 1));
    return out;
}

std::string wideToAnsi(const std::wstring& text) {
    int units = size_cast(text.size() + 1);
    int needed = WideCharToMultiByte(CP_ACP, 0, text.c_str(), units, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::string();
    std::string out(static_cast<size_t>(needed), '\0');
    int converted = WideCharToMultiByte(CP_ACP, 0, text.c_str(), units, out.data(), needed, nullptr, nullptr);
    if (converted <= 0)
        return std::string();
    out.resize(static_cast<size_t>(converted - 1));
    return out;
}

std::string wideToUtf8(const wchar_t* text, int length) {
    if (length == -1)
        length = size_cast(safeWcslen(text));
    if (!text || length <= 0)
        return std::string();
    int needed = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0)
        return std::string();
    std::string out(static_cast<size_t>(needed), '\0');
    if (WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), needed, nullptr, nullptr) <= 0)
        return std::string();
    return out;
}

std::string wideToUtf8(const std::wstring& text) {
    return wideToUtf8(text.c_str(), size_cast(text.size()));
}

std::string wideToUtf8WithBom(const wchar_t* text) {
    if (!text)
        return std::string();
    return kUtf8Bom + wideToUtf8(text, -1);
}

void appendCodePageText(std::wstring& out, const char* text, unsigned codePage, int length) {
    if (length == -1)
        length = size_cast(safeStrlen(text));
    if (!text || length <= 0)
        return;
    // Every byte gives at most one unit, and room for a terminator.
    const size_t oldSize = out.size();
    const int capacity = size_cast(static_cast<size_t>(length) + 1);
    out.resize(oldSize + static_cast<size_t>(capacity));
    int converted = MultiByteToWideChar(codePage, 0, text, length, out.data() + oldSize, capacity);
    out.resize(oldSize + static_cast<size_t>(converted > 0 ? converted : 0));
}

void appendCodePageText(std::wstring& out, const char* text, int length) {
    appendCodePageText(out, text, CP_UTF8, length);
}

std::wstring codePageToWide(const char* text, unsigned codePage, int length) {
    std::wstring out;
    appendCodePageText(out, text, codePage, length);
    return out;
}

std::wstring codePageToWide(const char* begin, const char* end, unsigned codePage) {
    if (!begin || !end || end < begin)
        return std::wstring();
    return codePageToWide(begin, codePage, size_cast(static_cast<size_t>(end - begin)));
}

std::wstring utf8ToWide(const char* text, int length) {
    return codePageToWide(text, CP_UTF8, length);
}
std::wstring utf8ToWide(const char* text) {
    return utf8ToWide(text, -1);
}
std::wstring utf8ToWide(const std::string& text) {
    return utf8ToWide(text.data(), size_cast(text.size()));
}

std::string ansiToUtf8(const char* text, int length) {
    if (length == -1)
        length = size_cast(safeStrlen(text));
    if (!text || length <= 0)
        return std::string();
    int units = MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0);
    if (units <= 0)
        return std::string();
    std::wstring wide(static_cast<size_t>(units), L'\0');
    units = MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), units);
    if (units <= 0)
        return std::string();
    return wideToUtf8(wide.data(), units);
}

std::string ansiToUtf8(const std::string& text) {
    return ansiToUtf8(text.data(), size_cast(text.size()));
}

std::string ansiToUtf8WithBom(const std::string& text) {
    if (text.empty())
        return std::string();
    return kUtf8Bom + ansiToUtf8(text);
}

std::wstring bomTextToWide(const char* text) {
    if (!text || !*text)
        return std::wstring();
    return bomTextToWide(std::string(text));
}

std::wstring bomTextToWide(const std::string& text) {
    if (text.empty())
        return std::wstring();
    if (text.size() >= 3 && text.compare(0, 3, kUtf8Bom) == 0)
        return utf8ToWide(text.data() + 3, size_cast(text.size() - 3));
    return ansiToWide(text);
}

BSTR utf8ToBstr(const std::string& text) {
    std::wstring wide = utf8ToWide(text);
    if (wide.empty())
        return nullptr;
    BSTR result = SysAllocStringLen(wide.data(), static_cast<UINT>(size_cast(wide.size())));
    if (!result)
        throw ATL::CAtlException(E_OUTOFMEMORY);
    return result;
}

int localeCompareNoCase(const char* a, const char* b, size_t count) {
    int n = size_cast(count);
    int result = CompareStringA(GetThreadLocale(), NORM_IGNORECASE, a, n, b, n);
    return result == 0 ? 0 : result - 2;
}

int localeCompareNoCase(const wchar_t* a, const wchar_t* b, size_t count) {
    int n = size_cast(count);
    int result = CompareStringW(GetThreadLocale(), NORM_IGNORECASE, a, n, b, n);
    return result == 0 ? 0 : result - 2;
}

bool equalsNoCaseN(const char* a, const char* b, size_t count) {
    if (!a || !b)
        return false;
    return strncasecmp(a, b, count) == 0;
}

namespace textCase {
DWORD charLowerBuffA(char* buffer, DWORD count) {
    return ::CharLowerBuffA(buffer, count);
}
DWORD charLowerBuffW(wchar_t* buffer, DWORD count) {
    return ::CharLowerBuffW(buffer, count);
}
DWORD charUpperBuffA(char* buffer, DWORD count) {
    return ::CharUpperBuffA(buffer, count);
}
DWORD charUpperBuffW(wchar_t* buffer, DWORD count) {
    return ::CharUpperBuffW(buffer, count);
}
int lstrcmpiA(const char* a, const char* b) {
    return ::lstrcmpiA(a, b);
}
int lstrcmpiW(const wchar_t* a, const wchar_t* b) {
    return ::lstrcmpiW(a, b);
}
}  // namespace textCase
