#include "winplat/utf16.h"

namespace winplat {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void appendUnit(std::wstring& out, char32_t cp) {
    if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<wchar_t>(0xD800 + (cp >> 10)));
        out.push_back(static_cast<wchar_t>(0xDC00 + (cp & 0x3FF)));
    } else {
        out.push_back(static_cast<wchar_t>(cp));
    }
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::wstring utf8ToUtf16(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out.push_back(static_cast<wchar_t>(b));
            ++i;
            continue;
        }
        size_t len;
        char32_t cp;
        char32_t min;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2, cp = b & 0x1F, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, cp = b & 0x0F, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, cp = b & 0x07, min = 0x10000;
        } else {
            out.push_back(static_cast<wchar_t>(kReplacement));
            ++i;
            continue;
        }
        // A bad sequence is replaced up to (not including) the first byte
        // that cannot continue it, so a following good character survives.
        size_t j = 1;
        bool ok = true;
        for (; j < len; ++j) {
            if (i + j >= n || (p[i + j] & 0xC0) != 0x80) {
                ok = false;
                break;
            }
            cp = (cp << 6) | (p[i + j] & 0x3F);
        }
        if (ok && (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))) {
            ok = false;
        }
        if (!ok) {
            out.push_back(static_cast<wchar_t>(kReplacement));
            i += j;
            continue;
        }
        appendUnit(out, cp);
        i += len;
    }
    return out;
}

std::string utf16ToUtf8(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    const size_t n = text.size();
    for (size_t i = 0; i < n; ++i) {
        char32_t u = static_cast<char32_t>(text[i]) & 0xFFFF;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < n) {
            const char32_t lo = static_cast<char32_t>(text[i + 1]) & 0xFFFF;
            if (lo >= 0xDC00 && lo <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
                ++i;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) {
            u = kReplacement;
        }
        appendUtf8(out, u);
    }
    return out;
}

std::string wideToBytes(std::wstring_view text) {
    std::string out;
    out.resize(text.size() * 2);
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t u = static_cast<uint32_t>(text[i]);
        out[2 * i] = static_cast<char>(u & 0xFF);
        out[2 * i + 1] = static_cast<char>((u >> 8) & 0xFF);
    }
    return out;
}

std::vector<uint8_t> wideToByteVector(std::wstring_view text) {
    const std::string bytes = wideToBytes(text);
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::wstring bytesToWide(const void* data, size_t bytes) {
    std::wstring out;
    const auto* p = static_cast<const unsigned char*>(data);
    out.resize(bytes / 2);
    for (size_t i = 0; i < bytes / 2; ++i) {
        out[i] = static_cast<wchar_t>(p[2 * i] | (p[2 * i + 1] << 8));
    }
    return out;
}

}  // namespace winplat
