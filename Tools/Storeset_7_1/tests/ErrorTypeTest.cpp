// The 7.1 error type: its message byte for byte, and the string routines it
// shares with the rest of the 7.1 build.
#include <gtest/gtest.h>

#include "CommonBase/HResultNames.h"
#include "CommonBase/HResultException.h"
#include "winplat/mapi.h"

namespace {

std::string messageOf(HRESULT hr, const char* file, int line, const char* function, const char* detail) {
    try {
        raiseHResult(hr, 2, file, line, function, detail);
    } catch (const HResultException& e) {
        EXPECT_EQ(e.getHResult(), hr);
        return e.what();
    }
    ADD_FAILURE() << "nothing raised";
    return {};
}

}  // namespace

TEST(ErrorType, MessagesAreComposedByteForByte) {
    struct Case {
        HRESULT hr;
        const char* file;
        int line;
        const char* function;
        const char* detail;
        const char* expected;
    } cases[] = {
        {E_INVALIDARG, ".\\Parameters", 143, "Parameters::missingParameter", nullptr,
         "Exception of class HResultException: .\\Parameters(143), Parameters::missingParameter:\n"
         "0x80070057 E_INVALIDARG"},
        {E_INVALIDARG, ".\\Parameters", 143, "Parameters::missingParameter", "",
         "Exception of class HResultException: .\\Parameters(143), Parameters::missingParameter:\n"
         "0x80070057 E_INVALIDARG"},
        {MAPI_E_NOT_FOUND, ".\\MapiHelper", 72, "Utilities::MapiHelper::getOneProp",
         "Requested property: 0x6708001f",
         "Exception of class HResultException: .\\MapiHelper(72), Utilities::MapiHelper::getOneProp:\n"
         "0x8004010f MAPI_E_NOT_FOUND: Requested property: 0x6708001f"},
        {E_FAIL, nullptr, 0, nullptr, nullptr,
         "Exception of class HResultException: <unknown file>(0), <no function>:\n0x80004005 E_FAIL"},
        {E_FAIL, "a\\b\\c", 7, "f", nullptr,
         "Exception of class HResultException: b\\c(7), f:\n0x80004005 E_FAIL"},
        // The product's migration and input codes have no name in this build.
        {static_cast<HRESULT>(0x8004100Bu), ".\\DbAdopter", 77, "DbAdopter::execute", nullptr,
         "Exception of class HResultException: .\\DbAdopter(77), DbAdopter::execute:\n0x8004100b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        EXPECT_EQ(messageOf(c.hr, c.file, c.line, c.function, c.detail), c.expected);
    }
    for (uint32_t code : {0x80041009u, 0x8004100Au, 0x8004100Bu, 0x0004100Cu}) {
        EXPECT_EQ(hresultName(static_cast<HRESULT>(code)), nullptr) << std::hex << code;
    }
    EXPECT_STREQ(hresultName(static_cast<HRESULT>(0x80041000u)), "MIRT_E_DATABASE");
}

TEST(ErrorType, CopiesCarryEverything) {
    HResultException original(E_ACCESSDENIED, 2, ".\\RegistryHelper", 32, "RegistryHelper::checkRights", "d");
    HResultException copy = original;
    EXPECT_EQ(copy.getHResult(), E_ACCESSDENIED);
    EXPECT_STREQ(copy.what(), original.what());
}

TEST(ErrorType, SourcePathTailKeepsTheLastTwoComponents) {
    const std::pair<const char*, const char*> cases[] = {
        {nullptr, ""},        {"a", "a"},          {".\\X", ".\\X"},
        {"\\a\\b", "\\a\\b"}, {"x\\y\\z", "y\\z"}, {"..\\..\\src\\Lib\\File", "Lib\\File"},
    };
    for (const auto& [path, tail] : cases) {
        EXPECT_EQ(sourcePathTail(path), tail) << (path ? path : "(null)");
    }
}

TEST(ErrorType, AnsiConversionsRoundTripTheCodePage) {
    EXPECT_EQ(ansiToWide(""), L"");
    EXPECT_EQ(wideToAnsi(L""), "");
    EXPECT_EQ(ansiToWide("Caf\xe9 \x80"), L"Caf\u00e9 \u20ac");
    EXPECT_EQ(wideToAnsi(L"Caf\u00e9 \u20ac"), "Caf\xe9 \x80");
    // Outside the code page: the default character.
    EXPECT_EQ(wideToAnsi(L"\u4e2d"), "?");
}

TEST(ErrorType, StoreEntryIdIsFlagsGuidAndStoreType) {
    const GUID store = {0x0A1B2C3D, 0x4E5F, 0x4A6B, {0x8C, 0x7D, 0x8E, 0x9F, 0xA0, 0xB1, 0xC2, 0x01}};
    const std::string expected(
        "\0\0\0\0"
        "\x3d\x2c\x1b\x0a\x5f\x4e\x6b\x4a\x8c\x7d\x8e\x9f\xa0\xb1\xc2\x01"
        "\0\0\0\0",
        24);
    EXPECT_EQ(buildStoreEntryId(store), expected);
}
