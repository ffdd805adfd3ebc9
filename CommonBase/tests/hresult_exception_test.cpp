#include <gtest/gtest.h>

#include <string>

#include "CommonBase/HResultException.h"
#include "CommonBase/HResultNames.h"
#include "winplat/errors.h"

namespace {

// Runs `raise` and returns the exception it threw (fails the test otherwise).
template <typename F>
HResultException caught(F raise) {
    try {
        raise();
    } catch (const HResultException& e) {
        return e;
    }
    ADD_FAILURE() << "nothing was raised";
    return HResultException(S_OK, 0, nullptr, 0, nullptr, static_cast<const wchar_t*>(nullptr));
}

const HRESULT kInvalidEntryId = static_cast<HRESULT>(0x80040107);
const ErrorLocation kAt{2, "..\\..\\src\\Lib\\File", 154, "Guid::operator ="};

}  // namespace

TEST(HResultException, MessageWithoutAndWithDetail) {
    HResultException plain = caught([] { kAt.raise(E_INVALIDARG); });
    EXPECT_STREQ(
        plain.what(),
        "Exception of class HResultException: Lib\\File(154), Guid::operator =:\n0x80070057 E_INVALIDARG");
    EXPECT_EQ(plain.getHResult(), E_INVALIDARG);

    HResultException detailed = caught([] { kAt.raise(E_INVALIDARG, L"NULL GUID data"); });
    EXPECT_STREQ(detailed.what(),
                 "Exception of class HResultException: Lib\\File(154), Guid::operator =:\n"
                 "0x80070057 E_INVALIDARG: NULL GUID data");

    // A narrow detail is widened byte by byte; a null one adds nothing.
    HResultException narrow = caught([] { kAt.raise(E_FAIL, "abc\xE9"); });
    EXPECT_STREQ(
        narrow.what(),
        "Exception of class HResultException: Lib\\File(154), Guid::operator =:\n0x80004005 E_FAIL: abc\xE9");
    HResultException nullNarrow = caught([] { kAt.raise(E_FAIL, static_cast<const char*>(nullptr)); });
    EXPECT_STREQ(nullNarrow.what(),
                 "Exception of class HResultException: Lib\\File(154), Guid::operator =:\n0x80004005 E_FAIL");
}

TEST(HResultException, NullFileFunctionEmptyDetailAndPathTails) {
    HResultException e(E_FAIL, 2, nullptr, 0, nullptr, L"");
    EXPECT_STREQ(e.what(),
                 "Exception of class HResultException: <unknown file>(0), <no function>:\n0x80004005 E_FAIL");

    HResultException noSlash(S_OK, 2, "File", 7, "f", std::wstring(L"x"));
    EXPECT_STREQ(noSlash.what(), "Exception of class HResultException: File(7), f:\n0x00000000 S_OK: x");
    HResultException oneSlash(S_OK, 2, "a\\b", 7, "f", static_cast<const wchar_t*>(nullptr));
    EXPECT_STREQ(oneSlash.what(), "Exception of class HResultException: a\\b(7), f:\n0x00000000 S_OK");
    // An unknown code prints bare hex.
    HResultException unknown(0x12345678, 2, "\\a\\b", -1, "f", static_cast<const wchar_t*>(nullptr));
    EXPECT_STREQ(unknown.what(), "Exception of class HResultException: \\a\\b(-1), f:\n0x12345678");
}

TEST(HResultException, WhatNarrowsLowBytesStablyAndCopiesKeepIt) {
    HResultException e(E_FAIL, 2, "M", 1, "f", L"\u0416\u00e9");
    std::string expected = "Exception of class HResultException: M(1), f:\n0x80004005 E_FAIL: \x16\xE9";
    EXPECT_EQ(std::string(e.what()), expected);
    EXPECT_EQ(std::string(e.what()), expected);
    HResultException copy(e);
    EXPECT_EQ(std::string(copy.what()), expected);
    EXPECT_EQ(copy.getHResult(), E_FAIL);
    // A copy made before the first what() composes the same text.
    HResultException fresh(E_POINTER, 2, "M", 1, "f", L"d");
    HResultException freshCopy(fresh);
    EXPECT_STREQ(freshCopy.what(), fresh.what());
    // Caught through std::exception the text is the same.
    try {
        raiseHResult(E_ABORT, 2, "X\\Y\\Z", 3, "g", nullptr);
    } catch (const std::exception& ex) {
        EXPECT_STREQ(ex.what(), "Exception of class HResultException: Y\\Z(3), g:\n0x80004004 E_ABORT");
    }
}

TEST(HResultException, RaiseFormatted) {
    const ErrorLocation at{2, "CommonBase\\EntryId", 10, "EntryId::getComponents"};
    const std::string head =
        "Exception of class HResultException: CommonBase\\EntryId(10), EntryId::getComponents:\n"
        "0x80040107 MAPI_E_INVALID_ENTRYID";
    HResultException two =
        caught([&] { at.raiseFormatted(kInvalidEntryId, "Invalid size of EntryId: %u != %u", 30, 40); });
    EXPECT_EQ(std::string(two.what()), head + ": Invalid size of EntryId: 30 != 40");

    HResultException hex = caught([&] { at.raiseFormatted(kInvalidEntryId, "tag %08x", 0x1Fu); });
    EXPECT_EQ(std::string(hex.what()), head + ": tag 0000001f");

    // Too many values for the format (one placeholder, two values): the
    // formatting library's own description follows the prefix.
    HResultException tooMany =
        caught([&] { at.raiseFormatted(kInvalidEntryId, "EntryId too small: %u", 1, 2); });
    EXPECT_EQ(
        std::string(tooMany.what()),
        head +
            ": Wrongly formatted exception message: boost::too_many_args: format-string referred to fewer "
            "arguments than were passed");

    // Too few values (two placeholders, one value).
    HResultException tooFew = caught([&] { at.raiseFormatted(kInvalidEntryId, "%u != %u", 1); });
    EXPECT_EQ(
        std::string(tooFew.what()),
        head +
            ": Wrongly formatted exception message: boost::too_few_args: format-string referred to more "
            "arguments than were passed");

    // A null format raises with no detail at all.
    HResultException none = caught([&] { at.raiseFormatted(kInvalidEntryId, nullptr, 1); });
    EXPECT_EQ(std::string(none.what()), head);
}

TEST(HResultException, FormatMessageSafely) {
    EXPECT_EQ(formatMessageSafely(0x0FFF001F), L"Missing property 0x0fff001f");
    EXPECT_EQ(formatMessageSafely(0x1), L"Missing property 0x00000001");
    EXPECT_EQ(formatMessageSafely(0xFFFFFFFF), L"Missing property 0xffffffff");
}
