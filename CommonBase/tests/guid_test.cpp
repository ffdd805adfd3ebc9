#include <gtest/gtest.h>

#include <string>

#include "CommonBase/Guid.h"
#include "CommonBase/HResultException.h"
#include "CommonBase/StringUtils.h"
#include "winplat/com.h"
#include "winplat/inject.h"
#include "winplat/windows.h"

namespace {

const GUID kSample = {0x01234567, 0x89AB, 0xCDEF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};

std::string raisedText(void (*f)()) {
    try {
        f();
    } catch (const HResultException& e) {
        return e.what();
    }
    return "<nothing raised>";
}

}  // namespace

TEST(Guid, TextFormsAndRoundTrip) {
    Guid g(&kSample);
    EXPECT_EQ(g.toBracedString(), L"{01234567-89AB-CDEF-FEDC-BA9876543210}");
    EXPECT_EQ(g.toBracedStringA(), "{01234567-89AB-CDEF-FEDC-BA9876543210}");
    EXPECT_EQ(g.toPlainString(), L"01234567-89ab-cdef-fedc-ba9876543210");
    EXPECT_EQ(g.toPlainStringA(), "01234567-89ab-cdef-fedc-ba9876543210");
    // Memory order: Data1..Data3 little-endian.
    EXPECT_EQ(g.toBytes(),
              std::string("\x67\x45\x23\x01\xAB\x89\xEF\xCD\xFE\xDC\xBA\x98\x76\x54\x32\x10", 16));

    Guid braced(L"{01234567-89ab-cdef-FEDC-ba9876543210}", true);
    Guid plain(std::string("01234567-89AB-cdef-fedc-BA9876543210"));
    EXPECT_EQ(braced, g);
    EXPECT_EQ(plain, g);
    Guid back(g.toPlainString(), true);
    EXPECT_EQ(back, g);
}

TEST(Guid, ParseAcceptsAndRefuses) {
    Guid g(&kSample);
    EXPECT_EQ(g.parse(L"{00000000-0000-0000-0000-000000000000}"), S_OK);
    EXPECT_TRUE(g.isNull());
    EXPECT_FALSE(static_cast<bool>(g));
    g = &kSample;
    EXPECT_EQ(g.parse(L"00000000-0000-0000-0000-000000000000"), S_OK);
    EXPECT_TRUE(g.isNull());
    g = &kSample;
    EXPECT_EQ(g.parse(L"{00000000-0000-0000-0000-000000000000}  "), S_OK);
    EXPECT_TRUE(g.isNull());

    const Guid sample(&kSample);
    const wchar_t* bad[] = {
        L"",
        L"   ",
        L"x01234567-89AB-CDEF-FEDC-BA9876543210}",    // 38 characters, no opening brace
        L" {01234567-89AB-CDEF-FEDC-BA9876543210}",   // leading blank
        L"{01234567-89AB-CDEF-FEDC-BA9876543210}\t",  // a tab is not trimmed
        L"01234567-89AB-CDEF-FEDC-BA987654321",       // 35 characters
        L"01234567+89AB-CDEF-FEDC-BA9876543210",      // wrong separator
        L"0123456G-89AB-CDEF-FEDC-BA9876543210",      // not hexadecimal
        L"{01234567-89AB-CDEF-FEDC-BA9876543210",     // braces must pair
    };
    for (const wchar_t* text : bad) {
        Guid v(&kSample);
        EXPECT_EQ(v.parse(text), E_INVALIDARG) << narrowChars(text);
        EXPECT_EQ(v, sample) << "value changed by a failed parse";
    }
    Guid narrow(&kSample);
    EXPECT_EQ(narrow.parse(std::string("{01234567-89AB-CDEF-FEDC-BA98765432\xE9"
                                       "0}")),
              E_INVALIDARG);
    EXPECT_EQ(narrow, sample);
}

TEST(Guid, RaisingConstructionAndAssignment) {
    EXPECT_EQ(
        raisedText([] { Guid g(L"nonsense", true); }),
        "Exception of class HResultException: CommonBase\\Guid(73), Guid::Guid:\n0x80070057 E_INVALIDARG");
    Guid quiet(L"nonsense", false);
    EXPECT_TRUE(quiet.isNull());
    EXPECT_NE(raisedText([] {
                  Guid g(std::string("nonsense"));
              }).find(", Guid::operator =:\n0x80070057 E_INVALIDARG"),
              std::string::npos);

    Guid g(&kSample);
    const Guid before = g;
    EXPECT_THROW(g = std::wstring(L"{bad}"), HResultException);
    EXPECT_EQ(g, before);
    EXPECT_THROW(g = std::string("{bad}"), HResultException);
    EXPECT_EQ(g, before);

    EXPECT_NE(raisedText([] {
                  Guid g(static_cast<const GUID*>(nullptr));
              }).find(", Guid::setData:\n0x80004003 E_POINTER: NULL GUID data"),
              std::string::npos);
    EXPECT_NE(raisedText([] {
                  Guid g;
                  g.setData(std::string(15, 'x'));
              }).find(", Guid::setData:\n0x80070057 E_INVALIDARG: Wrong GUID data size: 15"),
              std::string::npos);
    g.setData(std::string(16, '\x11'));
    EXPECT_EQ(g.toPlainStringA(), "11111111-1111-1111-1111-111111111111");
}

TEST(Guid, OrderEqualityAndHash) {
    GUID a{}, b{};
    a.Data1 = 0xFF000001;  // low byte 01 first in memory
    b.Data1 = 0x00000002;
    EXPECT_LT(Guid(&a), Guid(&b));
    EXPECT_FALSE(Guid(&b) < Guid(&a));
    EXPECT_NE(Guid(&a), Guid(&b));

    // Sixteen combining steps over zero bytes, computed independently.
    uint32_t seed = 0;
    for (int i = 0; i < 16; ++i)
        seed ^= 0x9E3779B9u + (seed << 6) + (seed >> 2);
    EXPECT_EQ(Guid().hash(), seed);
    EXPECT_NE(Guid().hash(), 0u);
    EXPECT_NE(Guid(&kSample).hash(), Guid().hash());
    EXPECT_EQ(Guid(&kSample).hash(), Guid(L"{01234567-89AB-CDEF-FEDC-BA9876543210}", true).hash());
}

TEST(Guid, CreateAndCoTaskMemCopy) {
    Guid a = Guid::create();
    Guid b = Guid::create();
    EXPECT_FALSE(a.isNull());
    EXPECT_NE(a, b);

    GUID* copy = nullptr;
    EXPECT_EQ(a.copyToCoTaskMem(nullptr), E_POINTER);
    EXPECT_EQ(Guid().copyToCoTaskMem(&copy), E_INVALIDARG);
    EXPECT_EQ(copy, nullptr);
    ASSERT_EQ(a.copyToCoTaskMem(&copy), S_OK);
    EXPECT_EQ(Guid(copy), a);
    CoTaskMemFree(copy);

    winplat::inject::Scope scope;
    winplat::inject::arm("CoTaskMemAlloc", 0);
    copy = nullptr;
    EXPECT_EQ(a.copyToCoTaskMem(&copy), E_OUTOFMEMORY);
    EXPECT_EQ(copy, nullptr);
}

TEST(Guid, CreateRaisesTheGeneratorFailure) {
    winplat::inject::Scope scope;
    winplat::inject::arm("CoCreateGuid", static_cast<int64_t>(static_cast<uint32_t>(E_OUTOFMEMORY)));
    try {
        Guid::create();
        if (winplat::inject::calls("CoCreateGuid") == 0)
            GTEST_SKIP() << "CoCreateGuid has no failure hook";
        FAIL() << "nothing raised";
    } catch (const HResultException& e) {
        EXPECT_EQ(e.getHResult(), E_OUTOFMEMORY);
        EXPECT_NE(std::string(e.what()).find(", Guid::create:\n0x8007000e E_OUTOFMEMORY"), std::string::npos);
    }
}
