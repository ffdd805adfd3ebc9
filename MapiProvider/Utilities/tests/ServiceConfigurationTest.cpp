// The server configuration: the record's defaults, the filled
// _ServerConfiguration, string ownership, and the items' MAPI forms.
#include <gtest/gtest.h>

#include <cstring>

#include "FakeMapi.h"
#include "MapiProvider/Utilities/MapiServiceConfiguration.h"
#include "winplat/oleauto.h"

namespace {

std::wstring text(BSTR b) {
    return b ? std::wstring(b, SysStringLen(b)) : L"(null)";
}

class ServiceConfiguration : public ::testing::Test {
  protected:
    void SetUp() override { bstrs_ = winplat::com::liveBstrCount(); }
    void TearDown() override { EXPECT_EQ(winplat::com::liveBstrCount(), bstrs_); }
    int64_t bstrs_ = 0;
};

}  // namespace

TEST_F(ServiceConfiguration, AFilledRecordCarriesTheDefaultsAndTheAdoptionsChange) {
    Utilities::MapiServiceConfigurationWrapper settings;
    EXPECT_EQ(settings.size(), 13u);
    settings.localMode = 1;
    ServerConfigurationRecord record;
    record.fill(L"C:\\Data\\Demo.db", L"Demo", settings);
    const _ServerConfiguration& c = record.get();
    EXPECT_EQ(text(c.databaseName), L"C:\\Data\\Demo.db");
    EXPECT_EQ(text(c.profileName), L"Demo");
    for (BSTR s : {c.serverName, c.userName, c.displayName, c.emailAddress}) {
        ASSERT_NE(s, nullptr);  // empty, not null
        EXPECT_EQ(SysStringLen(s), 0u);
    }
    EXPECT_EQ(c.autoConnect, 1);
    EXPECT_EQ(c.port, 443u);
    EXPECT_EQ(c.useSecurePort, 1);
    EXPECT_EQ(c.localMode, 1);
    EXPECT_EQ(c.keepAlive, 1);
    EXPECT_EQ(c.timeoutSeconds, 180u);
    EXPECT_EQ(c.profileType, ProfileTypeDefault);

    settings.useSecurePort = 0;
    record.fill(L"x", L"y", settings);  // the first strings are freed (checked at tear-down)
    EXPECT_EQ(record.get().port, 80u);
}

TEST_F(ServiceConfiguration, AFreshRecordStartsZeroWithAutoConnect) {
    ServerConfigurationRecord record;
    const _ServerConfiguration& c = record.get();
    EXPECT_EQ(c.databaseName, nullptr);
    EXPECT_EQ(c.autoConnect, 1);
    EXPECT_EQ(c.port, 0u);
    EXPECT_EQ(c.localMode, 0);
}

TEST_F(ServiceConfiguration, ClearingTheRecordNullsItsStrings) {
    Utilities::MapiServiceConfigurationWrapper settings;
    settings.clearRecord(settings);
    EXPECT_EQ(settings.serverName, nullptr);
    EXPECT_EQ(settings.userName, nullptr);
    EXPECT_EQ(settings.displayName, nullptr);
    EXPECT_EQ(settings.emailAddress, nullptr);
    EXPECT_EQ(settings.securePort, 443u);
}

TEST_F(ServiceConfiguration, ItemsReadAndWriteTheirMapiForms) {
    Utilities::MapiServiceConfigurationWrapper settings;
    TaskAllocator allocator;
    int64_t blocks = winplat::com::liveTaskMemCount();
    void* parent = nullptr;
    ASSERT_EQ(allocator.allocateBuffer(8, &parent), S_OK);

    SPropValue in{};
    in.ulPropTag = 0x670E001F;
    in.Value.lpszW = const_cast<LPWSTR>(L"me@example.org");
    settings.item(0x670E001F)->fromPropValue(settings, 0x670E001F, in);  // frees the default it replaces
    EXPECT_EQ(text(settings.emailAddress), L"me@example.org");
    SPropValue out{};
    ASSERT_EQ(settings.item(0x670E001F)->toPropValue(settings, 0x670E001F, &out, &allocator, parent), S_OK);
    EXPECT_EQ(out.ulPropTag, 0x670E001Fu);
    EXPECT_EQ(std::wstring(out.Value.lpszW), L"me@example.org");

    in.ulPropTag = 0x660C001E;
    in.Value.lpszA = const_cast<LPSTR>("server.example.org");
    settings.item(0x660C001E)->fromPropValue(settings, 0x660C001E, in);
    ASSERT_EQ(settings.item(0x660C001E)->toPropValue(settings, 0x660C001E, &out, &allocator, parent), S_OK);
    EXPECT_STREQ(out.Value.lpszA, "server.example.org");

    in.ulPropTag = 0x6706000B;
    in.Value.b = 1;
    settings.item(0x6706000B)->fromPropValue(settings, 0x6706000B, in);
    EXPECT_EQ(settings.localMode, 1);
    ASSERT_EQ(settings.item(0x6706000B)->toPropValue(settings, 0x6706000B, &out, &allocator, parent), S_OK);
    EXPECT_EQ(out.Value.b, 1);

    in.ulPropTag = 0x67070003;
    in.Value.ul = 90;
    settings.item(0x67070003)->fromPropValue(settings, 0x67070003, in);
    EXPECT_EQ(settings.timeoutSeconds, 90u);

    in.ulPropTag = 0x671B0003;
    in.Value.ul = 1;
    settings.item(0x671B0003)->fromPropValue(settings, 0x671B0003, in);
    EXPECT_EQ(settings.profileType, ProfileTypeShared);

    EXPECT_EQ(allocator.freeBuffer(parent), S_OK);
    EXPECT_EQ(winplat::com::liveTaskMemCount(), blocks);
}

TEST_F(ServiceConfiguration, Utf8WithAMarkIsReadOnlyForTheDisplayName) {
    Utilities::MapiServiceConfigurationWrapper settings;
    SPropValue in{};
    in.Value.lpszA = const_cast<LPSTR>("\xEF\xBB\xBF\xC3\xA9t\xC3\xA9");  // mark + "été"
    in.ulPropTag = 0x67F1001E;
    settings.item(0x67F1001E)->fromPropValue(settings, 0x67F1001E, in);
    EXPECT_EQ(text(settings.displayName), L"\u00E9t\u00E9");
    in.ulPropTag = 0x661A001E;
    settings.item(0x661A001E)->fromPropValue(settings, 0x661A001E, in);
    EXPECT_EQ(text(settings.userName), L"\u00EF\u00BB\u00BF\u00C3\u00A9t\u00C3\u00A9");  // ANSI, byte by byte

    // And back: the display name with the mark, the others in the ANSI code page.
    TaskAllocator allocator;
    void* parent = nullptr;
    ASSERT_EQ(allocator.allocateBuffer(8, &parent), S_OK);
    SPropValue out{};
    ASSERT_EQ(settings.item(0x67F1001E)->toPropValue(settings, 0x67F1001E, &out, &allocator, parent), S_OK);
    EXPECT_STREQ(out.Value.lpszA, "\xEF\xBB\xBF\xC3\xA9t\xC3\xA9");
    allocator.freeBuffer(parent);
}

TEST_F(ServiceConfiguration, AFailedAllocationIsReportedAndLeavesTheValueNull) {
    Utilities::MapiServiceConfigurationWrapper settings;
    TaskAllocator allocator;
    allocator.failMore = true;
    void* parent = nullptr;
    ASSERT_EQ(allocator.allocateBuffer(8, &parent), S_OK);
    for (ULONG tag : {0x670E001Fu, 0x660C001Eu}) {
        SPropValue out{};
        out.Value.lpszW = reinterpret_cast<LPWSTR>(&out);
        EXPECT_EQ(settings.item(tag)->toPropValue(settings, tag, &out, &allocator, parent),
                  MAPI_E_NOT_ENOUGH_MEMORY);
        EXPECT_EQ(out.Value.lpszW, nullptr);
    }
    allocator.freeBuffer(parent);
}

TEST_F(ServiceConfiguration, CopyAndSecondDefaults) {
    Utilities::MapiServiceConfigurationWrapper source;
    Utilities::MapiServiceConfigurationWrapper target;
    SPropValue in{};
    in.ulPropTag = 0x661A001E;
    in.Value.lpszA = const_cast<LPSTR>("user");
    source.item(0x661A001E)->fromPropValue(source, 0x661A001E, in);
    target.item(0x661A001E)->copy(target, source);
    EXPECT_EQ(text(target.userName), L"user");
    EXPECT_NE(target.userName, source.userName);
    target.setDefaults(target, false);
    EXPECT_EQ(target.port, 0u);
    EXPECT_EQ(target.autoConnect, 0);
    EXPECT_EQ(text(target.userName), L"");
}
