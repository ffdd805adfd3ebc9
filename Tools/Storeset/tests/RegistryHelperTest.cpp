// The profile's registry access on its own: value names, the provider
// search's matching rules, the size limit of the existence check, and that
// every key it opens is closed again.
#include "StandinWorld.h"
#include "CommonBase/HResultException.h"
#include "Tools/Storeset/RegistryHelper.h"

namespace {

const GUID Primary = {0xA64C7941, 0x2364, 0x405E, {0x8B, 0x55, 0xFE, 0x85, 0x5E, 0x5A, 0x7E, 0xA7}};

class RegistryHelperTest : public WorldTest {
  protected:
    HKEY section(const std::wstring& name) {
        HKEY key = nullptr;
        std::wstring path = std::wstring(world::ProfilesKeyW) + L"\\Demo\\" + name;
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        return key;
    }
    void set(const std::wstring& name, const wchar_t* value, DWORD type, const std::string& bytes) {
        HKEY key = section(name);
        ASSERT_EQ(RegSetValueExW(key, value, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                 static_cast<DWORD>(bytes.size())),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }
    std::wstring nameOf(HKEY key) {
        // The section found is told apart by its display name.
        BYTE data[64] = {};
        DWORD size = sizeof(data);
        DWORD type = 0;
        RegQueryValueExW(key, L"001f3001", nullptr, &type, data, &size);
        std::wstring text = winplat::bytesToWide(data, size);
        return text.substr(0, text.find(L'\0'));
    }
    HRESULT raised(const std::function<void()>& call) {
        try {
            call();
        } catch (const HResultException& e) {
            return e.getHResult();
        }
        return S_OK;
    }
};

}  // namespace

TEST_F(RegistryHelperTest, PathAndValueNames) {
    RegistryHelper helper(L"Outlook");
    EXPECT_EQ(helper.path(), RegistryHelper::profilesKey() + L"\\Outlook");
    EXPECT_EQ(RegistryHelper::profilesKey(),
              L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles");
    EXPECT_EQ(RegistryHelper::valueName(0x0FF90102), L"01020FF9");
    EXPECT_EQ(RegistryHelper::valueName(0x0FFF0102), L"01020FFF");
}

TEST_F(RegistryHelperTest, TheFirstSectionWithExactlyTheProvidersSixteenBytesIsFound) {
    std::string provider = guidBytes(Primary);
    // Sections sorting before the demo's primary one: a 15-byte and a 17-byte
    // provider never match.
    set(L"00a", L"01023414", REG_BINARY, provider.substr(0, 15));
    set(L"00b", L"01023414", REG_BINARY, provider + '\0');
    RegistryHelper helper(L"Demo");
    size_t keys = winplat::registry::openKeyCount();
    HKEY found = helper.searchKeyByMdbProvider(Primary);
    EXPECT_EQ(nameOf(found), L"Mailbox");
    RegCloseKey(found);
    EXPECT_EQ(winplat::registry::openKeyCount(), keys);

    // A second section of the same provider sorting first wins.
    set(L"00c", L"01023414", REG_BINARY, provider);
    set(L"00c", L"001f3001", REG_BINARY, std::string("F\0i\0r\0s\0t\0\0\0", 12));
    found = helper.searchKeyByMdbProvider(Primary);
    EXPECT_EQ(nameOf(found), L"First");
    RegCloseKey(found);
    EXPECT_EQ(winplat::registry::openKeyCount(), keys);
}

TEST_F(RegistryHelperTest, AValueOfExactly1024BytesExistsAndOneMoreIsTooLong) {
    RegistryHelper helper(L"Demo");
    set(L"00d", L"01020FF9", REG_BINARY, std::string(1024, 'x'));
    set(L"00d", L"01020FFA", REG_BINARY, std::string(1025, 'x'));
    HKEY key = section(L"00d");
    EXPECT_EQ(raised([&] { helper.checkPropertyExists(key, 0x0FF90102); }), S_OK);
    EXPECT_EQ(raised([&] { helper.checkPropertyExists(key, 0x0FFA0102); }),
              static_cast<HRESULT>(0x800700EAu));
    EXPECT_EQ(raised([&] { helper.checkPropertyExists(key, 0x0FFF0102); }),
              static_cast<HRESULT>(0x80070002u));
    RegCloseKey(key);
}

TEST_F(RegistryHelperTest, ValuesAreWrittenAsBinaryUnderTheirNames) {
    RegistryHelper helper(L"Demo");
    HKEY key = section(L"00e");
    helper.setPropertyValue(key, 0x0FFA0102, Primary);
    BYTE data[32];
    DWORD size = sizeof(data);
    DWORD type = 0;
    ASSERT_EQ(RegQueryValueExW(key, L"01020ffa", nullptr, &type, data, &size), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(data), size), guidBytes(Primary));
    RegCloseKey(key);
}

TEST_F(RegistryHelperTest, AFailingEnumerationIsReportedAsNotFound) {
    winplat::inject::arm("RegEnumKeyExW", ERROR_ACCESS_DENIED, 1, 1);
    RegistryHelper helper(L"Demo");
    size_t keys = winplat::registry::openKeyCount();
    winplat::console::Capture capture;
    EXPECT_EQ(raised([&] { RegCloseKey(helper.searchKeyByMdbProvider(Primary)); }), E_ACCESSDENIED);
    EXPECT_EQ(capture.out(), "Profile section not found\n");
    EXPECT_EQ(winplat::registry::openKeyCount(), keys);
}
