#include "CommonBase/CharsetCodePages.h"

#include <map>

#include "CommonBase/HResultException.h"
#include "CommonBase/StringUtils.h"
#include "winplat/errors.h"

namespace {

struct Pair {
    unsigned codePage;
    const char* name;
};

const Pair kCharsets[] = {
    {37, "IBM037"},
    {437, "IBM437"},
    {500, "IBM500"},
    {708, "ASMO-708"},
    {720, "DOS-720"},
    {737, "ibm737"},
    {775, "ibm775"},
    {850, "ibm850"},
    {852, "ibm852"},
    {855, "IBM855"},
    {857, "ibm857"},
    {858, "IBM00858"},
    {860, "IBM860"},
    {861, "ibm861"},
    {862, "DOS-862"},
    {863, "IBM863"},
    {864, "IBM864"},
    {865, "IBM865"},
    {866, "cp866"},
    {869, "ibm869"},
    {870, "IBM870"},
    {874, "windows-874"},
    {875, "cp875"},
    {932, "cp932"},
    {936, "gb2312"},
    {949, "euc-kr"},
    {950, "big5"},
    {1026, "IBM1026"},
    {1047, "IBM01047"},
    {1140, "IBM01140"},
    {1141, "IBM01141"},
    {1142, "IBM01142"},
    {1143, "IBM01143"},
    {1144, "IBM01144"},
    {1145, "IBM01145"},
    {1146, "IBM01146"},
    {1147, "IBM01147"},
    {1148, "IBM01148"},
    {1149, "IBM01149"},
    {1200, "unicode"},
    {1201, "unicodeFEFF"},
    {1250, "windows-1250"},
    {1251, "windows-1251"},
    {1252, "windows-1252"},
    {1253, "windows-1253"},
    {1254, "windows-1254"},
    {1255, "windows-1255"},
    {1256, "windows-1256"},
    {1257, "windows-1257"},
    {1258, "windows-1258"},
    {1361, "Johab"},
    {10000, "macintosh"},
    {10001, "x-mac-japanese"},
    {10002, "x-mac-chinesetrad"},
    {10003, "x-mac-korean"},
    {10004, "x-mac-arabic"},
    {10005, "x-mac-hebrew"},
    {10006, "x-mac-greek"},
    {10007, "x-mac-cyrillic"},
    {10008, "x-mac-chinesesimp"},
    {10010, "x-mac-romanian"},
    {10017, "x-mac-ukrainian"},
    {10021, "x-mac-thai"},
    {10029, "x-mac-ce"},
    {10079, "x-mac-icelandic"},
    {10081, "x-mac-turkish"},
    {10082, "x-mac-croatian"},
    {20000, "x-Chinese-CNS"},
    {20001, "x-cp20001"},
    {20002, "x-Chinese-Eten"},
    {20003, "x-cp20003"},
    {20004, "x-cp20004"},
    {20005, "x-cp20005"},
    {20105, "x-IA5"},
    {20106, "x-IA5-German"},
    {20107, "x-IA5-Swedish"},
    {20108, "x-IA5-Norwegian"},
    {20127, "us-ascii"},
    {20261, "x-cp20261"},
    {20269, "x-cp20269"},
    {20273, "IBM273"},
    {20277, "IBM277"},
    {20278, "IBM278"},
    {20280, "IBM280"},
    {20284, "IBM284"},
    {20285, "IBM285"},
    {20290, "IBM290"},
    {20297, "IBM297"},
    {20420, "IBM420"},
    {20423, "IBM423"},
    {20424, "IBM424"},
    {20833, "x-EBCDIC-KoreanExtended"},
    {20838, "IBM-Thai"},
    {20866, "koi8-r"},
    {20871, "IBM871"},
    {20880, "IBM880"},
    {20905, "IBM905"},
    {20924, "IBM00924"},
    {20932, "euc-jp"},
    {20936, "x-cp20936"},
    {20949, "x-cp20949"},
    {21025, "cp1025"},
    {21027, "x-cp21027"},
    {21866, "koi8-u"},
    {28591, "iso-8859-1"},
    {28592, "iso-8859-2"},
    {28593, "iso-8859-3"},
    {28594, "iso-8859-4"},
    {28595, "iso-8859-5"},
    {28596, "iso-8859-6"},
    {28597, "iso-8859-7"},
    {28598, "iso-8859-8"},
    {28599, "iso-8859-9"},
    {28603, "iso-8859-13"},
    {28605, "iso-8859-15"},
    {29001, "x-Europa"},
    {38598, "iso-8859-8-i"},
    {50000, "x-user-defined"},
    {50001, "_autodetect_all"},
    {50220, "iso-2022-jp"},
    {50221, "_iso-2022-jp$ESC"},
    {50222, "_iso-2022-jp$SIO"},
    {50225, "iso-2022-kr"},
    {50227, "x-cp50227"},
    {50229, "x-cp50229"},
    {50930, "cp930"},
    {50931, "x-EBCDIC-JapaneseAndUSCanada"},
    {50932, "_autodetect"},
    {50933, "cp933"},
    {50935, "cp935"},
    {50937, "cp937"},
    {50939, "cp939"},
    {50949, "_autodetect_kr"},
    {51932, "euc-jp"},
    {51936, "EUC-CN"},
    {51949, "euc-kr"},
    {52936, "hz-gb-2312"},
    {54936, "GB18030"},
    {57002, "x-iscii-de"},
    {57003, "x-iscii-be"},
    {57004, "x-iscii-ta"},
    {57005, "x-iscii-te"},
    {57006, "x-iscii-as"},
    {57007, "x-iscii-or"},
    {57008, "x-iscii-ka"},
    {57009, "x-iscii-ma"},
    {57010, "x-iscii-gu"},
    {57011, "x-iscii-pa"},
    {65000, "utf-7"},
    {65001, "utf-8"},
};

const Pair kAliases[] = {
    {949, "ks_c_5601-1987"},
    {21866, "koi8-ru"},
    {932, "windows-31J"},
    {65001, "utf8"},
};

const Pair kConverters[] = {
    {437, "IBM437"},
    {708, "ASMO-708"},
    {737, "CP737"},
    {775, "IBM775"},
    {850, "IBM850"},
    {852, "IBM852"},
    {855, "IBM855"},
    {857, "IBM857"},
    {858, "CP858"},
    {860, "IBM860"},
    {861, "IBM861"},
    {862, "862"},
    {863, "IBM863"},
    {864, "IBM864"},
    {865, "IBM865"},
    {866, "CP866"},
    {869, "IBM869"},
    {874, "WINDOWS-874"},
    {932, "CP932"},
    {936, "CP936"},
    {949, "CP949"},
    {950, "CP950"},
    {1200, "UCS-2LE"},
    {1201, "UCS-2BE"},
    {1250, "WINDOWS-1250"},
    {1251, "WINDOWS-1251"},
    {1252, "WINDOWS-1252"},
    {1253, "WINDOWS-1253"},
    {1254, "WINDOWS-1254"},
    {1255, "WINDOWS-1255"},
    {1256, "WINDOWS-1256"},
    {1257, "WINDOWS-1257"},
    {1258, "WINDOWS-1258"},
    {1361, "JOHAB"},
    {10000, "MACROMAN"},
    {10004, "MACARABIC"},
    {10005, "MACHEBREW"},
    {10006, "MACGREEK"},
    {10007, "MACCYRILLIC"},
    {10010, "MACROMANIA"},
    {10017, "MACUKRAINE"},
    {10021, "MACTHAI"},
    {10029, "MACCENTRALEUROPE"},
    {10079, "MACICELAND"},
    {10081, "MACTURKISH"},
    {10082, "MACCROATIAN"},
    {20127, "US-ASCII"},
    {20866, "KOI8-R"},
    {20932, "EUC-JP"},
    {20936, "EUC-CN"},
    {21866, "KOI8-U"},
    {28591, "ISO-8859-1"},
    {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"},
    {28594, "ISO-8859-4"},
    {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},
    {28597, "ISO-8859-7"},
    {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"},
    {28603, "ISO-8859-13"},
    {28605, "ISO-8859-15"},
    {38598, "ISO-8859-8"},
    {50220, "ISO-2022-JP"},
    {50221, "ISO-2022-JP-1"},
    {50222, "ISO-2022-JP"},
    {50225, "ISO-2022-KR"},
    {50227, "ISO-2022-CN"},
    {51932, "EUC-JP"},
    {51936, "EUC-CN"},
    {51949, "EUC-KR"},
    {52936, "HZ-GB-2312"},
    {54936, "GB18030"},
    {65000, "UTF-7"},
    {65001, "UTF-8"},
};

using NameMap = std::map<const char*, uint16_t, asciiLessNoCase>;
using CodePageMap = std::map<unsigned, const char*>;

// A name or code page listed twice keeps its first pair.
template <typename Map, typename KeyOf, typename ValueOf, size_t N>
Map fill(const Pair (&pairs)[N], KeyOf key, ValueOf value) {
    Map map;
    for (const Pair& p : pairs)
        map.emplace(key(p), value(p));
    return map;
}

const NameMap& charsetTable() {
    static const NameMap table = fill<NameMap>(
        kCharsets, [](const Pair& p) { return p.name; },
        [](const Pair& p) { return static_cast<uint16_t>(p.codePage); });
    return table;
}

const NameMap& aliasTable() {
    static const NameMap table = fill<NameMap>(
        kAliases, [](const Pair& p) { return p.name; },
        [](const Pair& p) { return static_cast<uint16_t>(p.codePage); });
    return table;
}

const CodePageMap& codePageTable() {
    static const CodePageMap table = fill<CodePageMap>(
        kCharsets, [](const Pair& p) { return p.codePage; }, [](const Pair& p) { return p.name; });
    return table;
}

const CodePageMap& converterTable() {
    static const CodePageMap table = fill<CodePageMap>(
        kConverters, [](const Pair& p) { return p.codePage; }, [](const Pair& p) { return p.name; });
    return table;
}

// Built during start-up, so that lookups never race on first use.
[[maybe_unused]] const bool tablesBuilt =
    (charsetTable(), aliasTable(), codePageTable(), converterTable(), true);

}  // namespace

uint16_t getCodePageFromCharset(const char* charsetName) {
    if (!charsetName)
        ErrorLocation{2, "CommonBase\\CharsetCodePages", 212, "getCodePageFromCharset"}.raise(E_INVALIDARG);
    auto it = charsetTable().find(charsetName);
    if (it != charsetTable().end())
        return it->second;
    it = aliasTable().find(charsetName);
    if (it != aliasTable().end())
        return it->second;
    return 0;
}

const char* getCharsetFromCodePage(unsigned codePage) {
    auto it = codePageTable().find(codePage);
    return it == codePageTable().end() ? nullptr : it->second;
}

const char* getIconvNameFromCodePage(unsigned codePage) {
    if (codePage == 0)
        codePage = 1252;
    auto it = converterTable().find(codePage);
    return it == converterTable().end() ? nullptr : it->second;
}
