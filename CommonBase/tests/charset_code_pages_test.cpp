#include <gtest/gtest.h>

#include <iconv.h>

#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "CommonBase/CharsetCodePages.h"
#include "CommonBase/HResultException.h"
#include "winplat/converter.h"
#include "winplat/errors.h"

namespace {

// The lists as published, one "code-page name" pair a line, in their order.
const char kCharsetList[] = R"(
37 IBM037
437 IBM437
500 IBM500
708 ASMO-708
720 DOS-720
737 ibm737
775 ibm775
850 ibm850
852 ibm852
855 IBM855
857 ibm857
858 IBM00858
860 IBM860
861 ibm861
862 DOS-862
863 IBM863
864 IBM864
865 IBM865
866 cp866
869 ibm869
870 IBM870
874 windows-874
875 cp875
932 cp932
936 gb2312
949 euc-kr
950 big5
1026 IBM1026
1047 IBM01047
1140 IBM01140
1141 IBM01141
1142 IBM01142
1143 IBM01143
1144 IBM01144
1145 IBM01145
1146 IBM01146
1147 IBM01147
1148 IBM01148
1149 IBM01149
1200 unicode
1201 unicodeFEFF
1250 windows-1250
1251 windows-1251
1252 windows-1252
1253 windows-1253
1254 windows-1254
1255 windows-1255
1256 windows-1256
1257 windows-1257
1258 windows-1258
1361 Johab
10000 macintosh
10001 x-mac-japanese
10002 x-mac-chinesetrad
10003 x-mac-korean
10004 x-mac-arabic
10005 x-mac-hebrew
10006 x-mac-greek
10007 x-mac-cyrillic
10008 x-mac-chinesesimp
10010 x-mac-romanian
10017 x-mac-ukrainian
10021 x-mac-thai
10029 x-mac-ce
10079 x-mac-icelandic
10081 x-mac-turkish
10082 x-mac-croatian
20000 x-Chinese-CNS
20001 x-cp20001
20002 x-Chinese-Eten
20003 x-cp20003
20004 x-cp20004
20005 x-cp20005
20105 x-IA5
20106 x-IA5-German
20107 x-IA5-Swedish
20108 x-IA5-Norwegian
20127 us-ascii
20261 x-cp20261
20269 x-cp20269
20273 IBM273
20277 IBM277
20278 IBM278
20280 IBM280
20284 IBM284
20285 IBM285
20290 IBM290
20297 IBM297
20420 IBM420
20423 IBM423
20424 IBM424
20833 x-EBCDIC-KoreanExtended
20838 IBM-Thai
20866 koi8-r
20871 IBM871
20880 IBM880
20905 IBM905
20924 IBM00924
20932 euc-jp
20936 x-cp20936
20949 x-cp20949
21025 cp1025
21027 x-cp21027
21866 koi8-u
28591 iso-8859-1
28592 iso-8859-2
28593 iso-8859-3
28594 iso-8859-4
28595 iso-8859-5
28596 iso-8859-6
28597 iso-8859-7
28598 iso-8859-8
28599 iso-8859-9
28603 iso-8859-13
28605 iso-8859-15
29001 x-Europa
38598 iso-8859-8-i
50000 x-user-defined
50001 _autodetect_all
50220 iso-2022-jp
50221 _iso-2022-jp$ESC
50222 _iso-2022-jp$SIO
50225 iso-2022-kr
50227 x-cp50227
50229 x-cp50229
50930 cp930
50931 x-EBCDIC-JapaneseAndUSCanada
50932 _autodetect
50933 cp933
50935 cp935
50937 cp937
50939 cp939
50949 _autodetect_kr
51932 euc-jp
51936 EUC-CN
51949 euc-kr
52936 hz-gb-2312
54936 GB18030
57002 x-iscii-de
57003 x-iscii-be
57004 x-iscii-ta
57005 x-iscii-te
57006 x-iscii-as
57007 x-iscii-or
57008 x-iscii-ka
57009 x-iscii-ma
57010 x-iscii-gu
57011 x-iscii-pa
65000 utf-7
65001 utf-8
)";

const char kConverterList[] = R"(
437 IBM437
708 ASMO-708
737 CP737
775 IBM775
850 IBM850
852 IBM852
855 IBM855
857 IBM857
858 CP858
860 IBM860
861 IBM861
862 862
863 IBM863
864 IBM864
865 IBM865
866 CP866
869 IBM869
874 WINDOWS-874
932 CP932
936 CP936
949 CP949
950 CP950
1200 UCS-2LE
1201 UCS-2BE
1250 WINDOWS-1250
1251 WINDOWS-1251
1252 WINDOWS-1252
1253 WINDOWS-1253
1254 WINDOWS-1254
1255 WINDOWS-1255
1256 WINDOWS-1256
1257 WINDOWS-1257
1258 WINDOWS-1258
1361 JOHAB
10000 MACROMAN
10004 MACARABIC
10005 MACHEBREW
10006 MACGREEK
10007 MACCYRILLIC
10010 MACROMANIA
10017 MACUKRAINE
10021 MACTHAI
10029 MACCENTRALEUROPE
10079 MACICELAND
10081 MACTURKISH
10082 MACCROATIAN
20127 US-ASCII
20866 KOI8-R
20932 EUC-JP
20936 EUC-CN
21866 KOI8-U
28591 ISO-8859-1
28592 ISO-8859-2
28593 ISO-8859-3
28594 ISO-8859-4
28595 ISO-8859-5
28596 ISO-8859-6
28597 ISO-8859-7
28598 ISO-8859-8
28599 ISO-8859-9
28603 ISO-8859-13
28605 ISO-8859-15
38598 ISO-8859-8
50220 ISO-2022-JP
50221 ISO-2022-JP-1
50222 ISO-2022-JP
50225 ISO-2022-KR
50227 ISO-2022-CN
51932 EUC-JP
51936 EUC-CN
51949 EUC-KR
52936 HZ-GB-2312
54936 GB18030
65000 UTF-7
65001 UTF-8
)";

std::vector<std::pair<unsigned, std::string>> parse(const char* list) {
    std::vector<std::pair<unsigned, std::string>> pairs;
    std::istringstream in(list);
    unsigned cp;
    std::string name;
    while (in >> cp >> name)
        pairs.emplace_back(cp, name);
    return pairs;
}

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

TEST(CharsetCodePages, EveryCharsetPair) {
    auto pairs = parse(kCharsetList);
    ASSERT_EQ(pairs.size(), 150u);
    std::map<std::string, unsigned> firstByName;
    for (const auto& [cp, name] : pairs) {
        firstByName.emplace(lower(name), cp);
        const char* back = getCharsetFromCodePage(cp);
        ASSERT_NE(back, nullptr) << cp;
        EXPECT_EQ(std::string(back), name) << cp;
    }
    EXPECT_EQ(firstByName.size(), 148u);
    for (const auto& [cp, name] : pairs)
        EXPECT_EQ(getCodePageFromCharset(name.c_str()), firstByName[lower(name)]) << name;
}

TEST(CharsetCodePages, NamesIgnoreAsciiCaseAndFirstPairWins) {
    EXPECT_EQ(getCodePageFromCharset("UTF-8"), 65001);
    EXPECT_EQ(getCodePageFromCharset("utf-8"), 65001);
    EXPECT_EQ(getCodePageFromCharset("uTf-8"), 65001);
    EXPECT_EQ(getCodePageFromCharset("utf8"), 65001);
    EXPECT_EQ(getCodePageFromCharset("ks_c_5601-1987"), 949);
    EXPECT_EQ(getCodePageFromCharset("KOI8-RU"), 21866);
    EXPECT_EQ(getCodePageFromCharset("windows-31J"), 932);
    EXPECT_EQ(getCodePageFromCharset("windows-31j"), 932);
    EXPECT_EQ(getCodePageFromCharset("euc-kr"), 949);
    EXPECT_EQ(getCodePageFromCharset("EUC-JP"), 20932);
    EXPECT_STREQ(getCharsetFromCodePage(51949), "euc-kr");
    EXPECT_STREQ(getCharsetFromCodePage(51932), "euc-jp");
    EXPECT_EQ(getCodePageFromCharset("_iso-2022-jp$ESC"), 50221);
    EXPECT_EQ(getCodePageFromCharset("latin1"), 0);
    EXPECT_EQ(getCodePageFromCharset(""), 0);
    EXPECT_STREQ(getCharsetFromCodePage(65001), "utf-8");
    EXPECT_EQ(getCharsetFromCodePage(1), nullptr);
    EXPECT_EQ(getCharsetFromCodePage(0), nullptr);

    try {
        getCodePageFromCharset(nullptr);
        FAIL() << "nothing raised";
    } catch (const HResultException& e) {
        EXPECT_EQ(e.getHResult(), E_INVALIDARG);
        EXPECT_STREQ(e.what(),
                     "Exception of class HResultException: CommonBase\\CharsetCodePages(212), "
                     "getCodePageFromCharset:\n0x80070057 E_INVALIDARG");
    }
}

TEST(CharsetCodePages, ConverterNames) {
    auto pairs = parse(kConverterList);
    ASSERT_EQ(pairs.size(), 75u);
    for (const auto& [cp, name] : pairs) {
        const char* got = getIconvNameFromCodePage(cp);
        ASSERT_NE(got, nullptr) << cp;
        EXPECT_EQ(std::string(got), name);
    }
    EXPECT_STREQ(getIconvNameFromCodePage(0), "WINDOWS-1252");
    EXPECT_EQ(getIconvNameFromCodePage(20273), nullptr);
    EXPECT_EQ(getIconvNameFromCodePage(1026), nullptr);
    EXPECT_EQ(getIconvNameFromCodePage(10001), nullptr);
    EXPECT_STREQ(getIconvNameFromCodePage(38598), "ISO-8859-8");
    EXPECT_STREQ(getIconvNameFromCodePage(28598), "ISO-8859-8");
}

// The C library's iconv lacks some converter names of the table; the list of
// those is documented, so a change of the C library shows up here.
TEST(CharsetCodePages, ConverterNamesUnknownToIconv) {
    const std::set<std::string> knownMissing = {
        "MACROMAN",    "MACARABIC",     "MACHEBREW",        "MACGREEK",   "MACROMANIA",
        "MACUKRAINE",  "MACTHAI",       "MACCENTRALEUROPE", "MACICELAND", "MACTURKISH",
        "MACCROATIAN", "ISO-2022-JP-1", "HZ-GB-2312",
    };
    std::set<std::string> missing;
    for (const auto& [cp, name] : parse(kConverterList)) {
        iconv_t cd = iconv_open("UTF-16LE", name.c_str());
        if (cd == reinterpret_cast<iconv_t>(-1))
            missing.insert(name);
        else
            iconv_close(cd);
    }
    EXPECT_EQ(missing, knownMissing);

    // The platform's converters serve all of them but two pages whose mapping
    // is not on this platform.
    std::set<std::string> unopened;
    for (const auto& [cp, name] : parse(kConverterList))
        if (!winplat::Converter("UCS-2LE", name.c_str()).ok())
            unopened.insert(name);
    EXPECT_EQ(unopened, (std::set<std::string>{"MACHEBREW", "MACTHAI"}));
}
