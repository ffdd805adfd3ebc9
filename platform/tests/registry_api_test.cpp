// The registry calls as their callers rely on them: names, sizes, access,
// enumeration order, handles, deletion, the classes root, failures.
#include <cstring>
#include <functional>
#include <thread>

#include "registry_fixture.h"
#include "winplat/errors.h"

using namespace regtest;
using winplat::registry::openKeyCount;

namespace {

const char kProfile[] =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_CURRENT_USER\\Software\\Profiles\\Demo\\Sect]\n"
    "\"01020ff9\"=hex:aa,aa\n"
    "\"01023414\"=hex:41,79,4c,a6\n";

std::vector<std::wstring> subkeyNames(HKEY key) {
    std::vector<std::wstring> names;
    for (DWORD i = 0;; ++i) {
        WCHAR name[256];
        DWORD cch = 256;
        const LSTATUS rc = RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        if (rc != ERROR_SUCCESS) {
            EXPECT_EQ(rc, ERROR_NO_MORE_ITEMS);
            return names;
        }
        EXPECT_EQ(cch, wcslen(name));
        names.emplace_back(name);
    }
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirSpelling) {
    ASSERT_EQ(load(kProfile), ERROR_SUCCESS);
    KeyHolder sect;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"software\\PROFILES\\demo\\SECT", 0, 0x2001F, sect.out()),
              ERROR_SUCCESS);
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(queryRaw(sect, L"01020FF9", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(data, bytesOf({0xaa, 0xaa}));

    // Writing under another spelling replaces the value and keeps its name and place.
    ASSERT_EQ(setBytes(sect, L"01020FF9", bytesOf({1, 2, 3})), ERROR_SUCCESS);
    EXPECT_EQ(winplat::registry::exportKey(HKEY_CURRENT_USER, L"SOFTWARE\\profiles\\Demo\\Sect"),
              "[HKEY_CURRENT_USER\\Software\\Profiles\\Demo\\Sect]\n"
              "\"01020ff9\"=hex:01,02,03\n"
              "\"01023414\"=hex:41,79,4c,a6\n\n");

    // A key created under another spelling is the existing one.
    KeyHolder again;
    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Profiles\\DEMO\\sect", 0, nullptr, 0, KEY_READ,
                              nullptr, again.out(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    KeyHolder created;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\profiles\\Demo\\New Section", 0, nullptr, 0,
                              KEY_READ, nullptr, created.out(), &disposition),
              ERROR_SUCCESS);
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    EXPECT_NE(fileText().find("[HKEY_CURRENT_USER\\Software\\Profiles\\Demo\\New Section]\n"),
              std::string::npos);
}

TEST_F(RegistryTest, SubkeysEnumerateSortedWithoutCaseAndStayInThatOrder) {
    KeyHolder parent;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Order", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              parent.out(), nullptr),
              ERROR_SUCCESS);
    for (const wchar_t* name : {L"b", L"A", L"_x", L"a1", L"C"}) {
        KeyHolder k;
        ASSERT_EQ(RegCreateKeyExW(parent, name, 0, nullptr, 0, KEY_READ, nullptr, k.out(), nullptr),
                  ERROR_SUCCESS);
    }
    const std::vector<std::wstring> expected{L"A", L"a1", L"b", L"C", L"_x"};
    EXPECT_EQ(subkeyNames(parent), expected);
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    EXPECT_EQ(subkeyNames(parent), expected);
}

TEST_F(RegistryTest, EnumKeyReportsShortNameBuffersAndTheLengthOfEachName) {
    ASSERT_EQ(load(kProfile), ERROR_SUCCESS);
    KeyHolder demo;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Profiles\\Demo", 0, KEY_READ, demo.out()),
              ERROR_SUCCESS);
    WCHAR name[8] = {L'?', L'?', L'?', L'?', L'?', 0};
    DWORD cch = 4;  // "Sect" needs 5 with its terminator
    EXPECT_EQ(RegEnumKeyExW(demo, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(cch, 5u);
    EXPECT_EQ(std::wstring(name), L"?????");
    cch = 5;
    EXPECT_EQ(RegEnumKeyExW(demo, 0, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(cch, 4u);  // the length without the terminator: a caller must reset it before the next call
    EXPECT_EQ(std::wstring(name), L"Sect");
    cch = 8;
    EXPECT_EQ(RegEnumKeyExW(demo, 1, name, &cch, nullptr, nullptr, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, QueryMeasuresAndNeverCutsAValue) {
    KeyHolder key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Sizes", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.out(), nullptr),
              ERROR_SUCCESS);
    std::vector<BYTE> v1024(1024, 0x11), v1025(1025, 0x22);
    ASSERT_EQ(setBytes(key, L"Fits", v1024), ERROR_SUCCESS);
    ASSERT_EQ(setBytes(key, L"TooLong", v1025), ERROR_SUCCESS);

    std::vector<BYTE> buf(1024, 0xCC);
    DWORD type = 0, cb = 1024;
    EXPECT_EQ(RegQueryValueExW(key, L"Fits", nullptr, &type, buf.data(), &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 1024u);
    EXPECT_EQ(buf, v1024);

    std::fill(buf.begin(), buf.end(), 0xCC);
    type = 0;
    cb = 1024;
    EXPECT_EQ(RegQueryValueExW(key, L"TooLong", nullptr, &type, buf.data(), &cb), ERROR_MORE_DATA);
    EXPECT_EQ(cb, 1025u);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(buf, std::vector<BYTE>(1024, 0xCC)) << "a short buffer must not receive part of the value";

    cb = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"TooLong", nullptr, nullptr, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 1025u);

    cb = 77;
    type = 99;
    EXPECT_EQ(RegQueryValueExW(key, L"Missing", nullptr, &type, buf.data(), &cb), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(cb, 77u);
    EXPECT_EQ(type, 99u);

    // The default value is reached by a null or an empty name, and is absent until set.
    EXPECT_EQ(RegQueryValueExW(key, nullptr, nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(setString(key, nullptr, L"default"), ERROR_SUCCESS);
    std::vector<BYTE> data;
    EXPECT_EQ(queryRaw(key, L"", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_NE(fileText().find("@=\"default\"\n"), std::string::npos);

    EXPECT_EQ(RegQueryValueExW(key, L"Fits", nullptr, &type, buf.data(), nullptr), ERROR_INVALID_PARAMETER);
}

TEST_F(RegistryTest, TextTravelsAsWcharsAndIsStoredAsTwoBytesPerUnit) {
    KeyHolder key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Text", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.out(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(setString(key, L"Name", L"Zo\x00EB \xD83D\xDE00"), ERROR_SUCCESS);
    ASSERT_EQ(setString(key, L"Path", L"%TEMP%", REG_EXPAND_SZ), ERROR_SUCCESS);
    const WCHAR multi[] = L"a\0bc\0";
    ASSERT_EQ(
        RegSetValueExW(key, L"List", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi),
        ERROR_SUCCESS);

    DWORD type = 0, cb = 0;
    ASSERT_EQ(RegQueryValueExW(key, L"Name", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, 7 * sizeof(WCHAR));
    WCHAR text[7];
    ASSERT_EQ(RegQueryValueExW(key, L"Name", nullptr, &type, reinterpret_cast<BYTE*>(text), &cb),
              ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(text), L"Zo\x00EB \xD83D\xDE00");
    EXPECT_EQ(RegQueryValueExW(key, L"List", nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(cb, sizeof multi);

    const std::string file = fileText();
    EXPECT_NE(file.find("\"Name\"=\"Zo\xC3\xAB \xF0\x9F\x98\x80\"\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\"Path\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\n"), std::string::npos)
        << file;
    EXPECT_NE(file.find("\"List\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\n"), std::string::npos) << file;

    // Binary data is bytes both ways, whatever it holds.
    ASSERT_EQ(setBytes(key, L"Bytes", bytesOf({0x61, 0x00, 0x62})), ERROR_SUCCESS);
    std::vector<BYTE> data;
    ASSERT_EQ(queryRaw(key, L"Bytes", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data, bytesOf({0x61, 0x00, 0x62}));

    // A unit above 0xFFFF is no UTF-16 unit: refused, nothing written.
    const std::string before = fileText();
    const WCHAR bad[] = {L'a', static_cast<WCHAR>(0x1F600), 0};
    EXPECT_EQ(RegSetValueExW(key, L"Bad", 0, REG_SZ, reinterpret_cast<const BYTE*>(bad), sizeof bad),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(fileText(), before);
}

TEST_F(RegistryTest, StoredTextComesBackRawEvenWhenOddOrUnterminated) {
    ASSERT_EQ(load("Windows Registry Editor Version 5.00\n\n"
                   "[HKEY_LOCAL_MACHINE\\Software\\Raw]\n"
                   "\"Odd\"=hex(1):61,00,62\n"
                   "\"NoNul\"=hex(1):61,00,62,00\n"
                   "\"Empty\"=hex(1):\n"),
              ERROR_SUCCESS);
    KeyHolder key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Raw", 0, KEY_READ, key.out()), ERROR_SUCCESS);
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_EQ(queryRaw(key, L"Odd", type, data), ERROR_SUCCESS);
    ASSERT_EQ(data.size(), sizeof(WCHAR) + 1);  // the odd count shows
    WCHAR first;
    std::memcpy(&first, data.data(), sizeof first);
    EXPECT_EQ(first, L'a');
    EXPECT_EQ(data.back(), 0x62);
    ASSERT_EQ(queryRaw(key, L"NoNul", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data.size(), 2 * sizeof(WCHAR));
    ASSERT_EQ(queryRaw(key, L"Empty", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_TRUE(data.empty());
}

TEST_F(RegistryTest, AccessIsCheckedAgainstTheRightsOfTheHandle) {
    ASSERT_EQ(load(kProfile), ERROR_SUCCESS);
    const std::string before = fileText();
    KeyHolder readOnly;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Profiles\\Demo\\Sect", 0, KEY_READ, readOnly.out()),
        ERROR_SUCCESS);
    EXPECT_EQ(setBytes(readOnly, L"01020ff9", bytesOf({1})), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteValueW(readOnly, L"01020ff9"), ERROR_ACCESS_DENIED);
    KeyHolder sub;
    EXPECT_EQ(RegCreateKeyExW(readOnly, L"Child", 0, nullptr, 0, KEY_READ, nullptr, sub.out(), nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(fileText(), before);

    KeyHolder queryOnly;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Profiles\\Demo", 0, KEY_QUERY_VALUE, queryOnly.out()),
        ERROR_SUCCESS);
    WCHAR name[256];
    DWORD cch = 256;
    EXPECT_EQ(RegEnumKeyExW(queryOnly, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
              ERROR_ACCESS_DENIED);

    KeyHolder writeOnly;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Profiles\\Demo\\Sect", 0,
                            KEY_SET_VALUE | KEY_WOW64_64KEY, writeOnly.out()),
              ERROR_SUCCESS);
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExW(writeOnly, L"01020ff9", nullptr, nullptr, nullptr, &cb), ERROR_ACCESS_DENIED);
    EXPECT_EQ(setBytes(writeOnly, L"01020ff9", bytesOf({7})), ERROR_SUCCESS);

    // A missing key is not found whatever the rights asked for.
    HKEY missing = reinterpret_cast<HKEY>(1);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Profiles\\Nobody", 0, 0x2001F, &missing),
              ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(missing, nullptr);
}

TEST_F(RegistryTest, DeniedKeysRefuseWriteAccessOnly) {
    ASSERT_EQ(load(kProfile), ERROR_SUCCESS);
    winplat::registry::denyWrite(HKEY_CURRENT_USER, L"SOFTWARE\\profiles\\demo");
    const std::string before = fileText();
    const size_t handles = openKeyCount();

    HKEY h = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Profiles\\Demo", 0, 0x2001F, &h),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Profiles\\Demo", 0, nullptr, 0, KEY_WRITE,
                              nullptr, &h, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Profiles\\Demo\\Added", 0, nullptr, 0, KEY_READ,
                              nullptr, &h, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(openKeyCount(), handles);
    EXPECT_EQ(fileText(), before);

    // Reading is still allowed, and so is writing the keys below it.
    KeyHolder read;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Profiles\\Demo", 0, KEY_READ, read.out()),
              ERROR_SUCCESS);
    KeyHolder below;
    EXPECT_EQ(RegOpenKeyExW(read, L"Sect", 0, 0x2001F, below.out()), ERROR_SUCCESS);

    // The denial outlives a reload, and ends when cleared.
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Profiles\\Demo", 0, 0x2001F, &h),
              ERROR_ACCESS_DENIED);
    winplat::registry::clearDeniedKeys();
    KeyHolder writable;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Profiles\\Demo", 0, 0x2001F, writable.out()),
              ERROR_SUCCESS);
}

TEST_F(RegistryTest, DeniedPredefinedKeyRefusesWritesThroughItsHandle) {
    winplat::registry::denyWrite(HKEY_CURRENT_USER, L"");
    EXPECT_EQ(setString(HKEY_CURRENT_USER, L"x", L"y"), ERROR_ACCESS_DENIED);
    HKEY h = nullptr;
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"New", 0, nullptr, 0, KEY_READ, nullptr, &h, nullptr),
              ERROR_ACCESS_DENIED);
    EXPECT_FALSE(std::filesystem::exists(file_));
}

TEST_F(RegistryTest, OpenHandlesAreCounted) {
    ASSERT_EQ(load(kProfile), ERROR_SUCCESS);
    const size_t start = openKeyCount();
    HKEY a = nullptr, b = nullptr, c = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &a), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(a, L"Profiles\\Demo", 0, KEY_READ, &b), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, nullptr, 0, KEY_READ, &c),
              ERROR_SUCCESS);  // a new handle to the root
    EXPECT_EQ(openKeyCount(), start + 3);
    EXPECT_EQ(subkeyNames(c), std::vector<std::wstring>{L"Software"});
    HKEY failed = nullptr;
    EXPECT_EQ(RegOpenKeyExW(a, L"Nothing", 0, KEY_READ, &failed), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(openKeyCount(), start + 3);

    EXPECT_EQ(RegCloseKey(a), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(a), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegCloseKey(b), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(c), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);  // predefined keys are never counted
    EXPECT_EQ(openKeyCount(), start);
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExW(b, L"x", nullptr, nullptr, nullptr, &cb), ERROR_INVALID_HANDLE);
    EXPECT_EQ(RegQueryValueExW(nullptr, L"x", nullptr, nullptr, nullptr, &cb), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryTest, DeletingKeysAndValues) {
    ASSERT_EQ(load(kProfile), ERROR_SUCCESS);
    KeyHolder sect;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Profiles\\Demo\\Sect", 0, KEY_ALL_ACCESS, sect.out()),
        ERROR_SUCCESS);
    EXPECT_EQ(RegDeleteValueW(sect, L"nothing"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteValueW(sect, L"01020FF9"), ERROR_SUCCESS);
    EXPECT_EQ(fileText().find("01020ff9"), std::string::npos);

    // A key with subkeys stays; a missing key is not found.
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Profiles\\Demo"), ERROR_ACCESS_DENIED);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\Profiles\\Demo\\None"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L"software\\profiles\\demo\\sect"), ERROR_SUCCESS);
    EXPECT_EQ(fileText().find("Sect]"), std::string::npos);

    // A handle to the deleted key says so.
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExW(sect, L"01023414", nullptr, nullptr, nullptr, &cb), ERROR_KEY_DELETED);
    EXPECT_EQ(setBytes(sect, L"01023414", bytesOf({1})), ERROR_KEY_DELETED);
    EXPECT_EQ(fileText().find("Sect]"), std::string::npos);
}

TEST_F(RegistryTest, ClassesRootIsSoftwareClassesOfTheMachine) {
    ASSERT_EQ(
        load("Windows Registry Editor Version 5.00\n\n"
             "[HKEY_CLASSES_ROOT\\Interface\\{65ABA069-3C53-4B62-9DCB-F0D0A2202549}\\ProxyStubClsid32]\n"
             "@=\"{65ABA069-3C53-4B62-9DCB-F0D0A2202549}\"\n"),
        ERROR_SUCCESS);
    KeyHolder viaMachine;
    EXPECT_EQ(RegOpenKeyExW(
                  HKEY_LOCAL_MACHINE,
                  L"SOFTWARE\\Classes\\Interface\\{65ABA069-3C53-4B62-9DCB-F0D0A2202549}\\ProxyStubClsid32",
                  0, KEY_READ, viaMachine.out()),
              ERROR_SUCCESS);

    KeyHolder server;
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{0F1BE71C-DFE7-41B1-8D52-C76A054D1EAE}\\LocalServer32", 0,
                        nullptr, 0, KEY_WRITE, nullptr, server.out(), nullptr),
        ERROR_SUCCESS);
    ASSERT_EQ(setString(server, nullptr, L"C:\\Program Files\\Connector\\Hollomar.dll"), ERROR_SUCCESS);
    EXPECT_NE(fileText().find(
                  "[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{0F1BE71C-DFE7-41B1-8D52-C76A054D1EAE}"
                  "\\LocalServer32]\n@=\"C:\\\\Program Files\\\\Connector\\\\Hollomar.dll\"\n"),
              std::string::npos)
        << fileText();
}

TEST_F(RegistryTest, ClassesRootWithoutSoftwareClassesIsEmptyUntilWritten) {
    WCHAR name[256];
    DWORD cch = 256;
    EXPECT_EQ(RegEnumKeyExW(HKEY_CLASSES_ROOT, 0, name, &cch, nullptr, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExW(HKEY_CLASSES_ROOT, L"x", nullptr, nullptr, nullptr, &cb),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(setString(HKEY_CLASSES_ROOT, L"x", L"y"), ERROR_SUCCESS);
    EXPECT_NE(fileText().find("[HKEY_LOCAL_MACHINE\\Software\\Classes]\n\"x\"=\"y\"\n"), std::string::npos);
}

TEST_F(RegistryTest, EnumValuesAndKeyInfo) {
    ASSERT_EQ(load("Windows Registry Editor Version 5.00\n\n"
                   "[HKEY_CURRENT_USER\\Software\\Info]\n"
                   "\"Zeta\"=dword:00000010\n"
                   "\"alpha longer\"=\"abc\"\n"
                   "[HKEY_CURRENT_USER\\Software\\Info\\Sub]\n"
                   "[HKEY_CURRENT_USER\\Software\\Info\\Longer Sub]\n"),
              ERROR_SUCCESS);
    KeyHolder key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Info", 0, KEY_READ, key.out()), ERROR_SUCCESS);
    DWORD subkeys = 0, maxSub = 0, values = 0, maxName = 0, maxData = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, &maxSub, nullptr, &values, &maxName,
                               &maxData, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subkeys, 2u);
    EXPECT_EQ(maxSub, 10u);
    EXPECT_EQ(values, 2u);
    EXPECT_EQ(maxName, 12u);
    EXPECT_EQ(maxData, 4 * sizeof(WCHAR));

    // Values come in the order they were added.
    WCHAR name[32];
    DWORD cch = 32, type = 0, cb = 0;
    ASSERT_EQ(RegEnumValueW(key, 0, name, &cch, nullptr, &type, nullptr, &cb), ERROR_SUCCESS);
    EXPECT_EQ(std::wstring(name), L"Zeta");
    EXPECT_EQ(cch, 4u);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(cb, 4u);
    BYTE small[4];
    cch = 32;
    cb = 4;
    EXPECT_EQ(RegEnumValueW(key, 1, name, &cch, nullptr, &type, small, &cb), ERROR_MORE_DATA);
    EXPECT_EQ(cb, 4 * sizeof(WCHAR));
    cch = 5;
    EXPECT_EQ(RegEnumValueW(key, 1, name, &cch, nullptr, &type, nullptr, nullptr), ERROR_MORE_DATA);
    EXPECT_EQ(cch, 13u);
    cch = 32;
    EXPECT_EQ(RegEnumValueW(key, 2, name, &cch, nullptr, &type, nullptr, nullptr), ERROR_NO_MORE_ITEMS);
}

TEST_F(RegistryTest, InjectedFailuresChangeNothing) {
    ASSERT_EQ(load(kProfile), ERROR_SUCCESS);
    const std::string before = fileText();
    KeyHolder sect;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Profiles\\Demo\\Sect", 0, 0x2001F, sect.out()),
              ERROR_SUCCESS);

    winplat::inject::arm("RegSetValueExW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(setBytes(sect, L"01020FFF", bytesOf({1})), ERROR_ACCESS_DENIED);
    EXPECT_EQ(setBytes(sect, L"01020FFF", bytesOf({1})), ERROR_SUCCESS);  // armed once
    const std::string afterOne = fileText();
    EXPECT_NE(afterOne, before);

    // The disk fails half-way through the new file: the old file stays, and so does the tree.
    winplat::inject::arm("RegistryFileWrite", ERROR_DISK_FULL);
    EXPECT_EQ(setBytes(sect, L"01020FFA", bytesOf({2})), ERROR_DISK_FULL);
    EXPECT_EQ(fileText(), afterOne);
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExW(sect, L"01020FFA", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(strayFiles().empty());

    const size_t handles = openKeyCount();
    winplat::inject::arm("RegOpenKeyExW", ERROR_ACCESS_DENIED);
    HKEY h = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &h), ERROR_ACCESS_DENIED);
    EXPECT_EQ(openKeyCount(), handles);
    EXPECT_EQ(winplat::inject::calls("RegOpenKeyExW"), 2);  // the registry's calls can be counted
}

// Every kind of change whose file cannot be written is taken back, and what
// a later write puts in the file is the tree as it really is.
TEST_F(RegistryTest, EveryChangeThatCannotBeWrittenIsTakenBack) {
    const std::string start =
        "Windows Registry Editor Version 5.00\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\App]\n"
        "\"One\"=dword:00000001\n"
        "\"Two\"=\"two\"\n"
        "\"Three\"=hex:03\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\App\\Child]\n"
        "\n";
    ASSERT_EQ(load(start), ERROR_SUCCESS);
    const std::string tree = winplat::registry::exportText();
    KeyHolder app;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\App", 0, KEY_ALL_ACCESS, app.out()),
              ERROR_SUCCESS);

    const auto failing = [&](const char* what, const std::function<LSTATUS()>& change) {
        winplat::inject::arm("RegistryFileWrite", ERROR_DISK_FULL);
        EXPECT_EQ(change(), ERROR_DISK_FULL) << what;
        EXPECT_EQ(fileText(), start) << what;
        EXPECT_EQ(winplat::registry::exportText(), tree) << what;
        EXPECT_TRUE(strayFiles().empty()) << what;
    };
    failing("replace a value", [&] { return setString(app, L"TWO", L"changed", REG_EXPAND_SZ); });
    failing("add a value", [&] { return setBytes(app, L"Four", bytesOf({4})); });
    failing("delete a value", [&] { return RegDeleteValueW(app, L"two"); });
    failing("delete a key", [&] { return RegDeleteKeyW(app, L"Child"); });
    failing("create keys", [&] {
        HKEY k = nullptr;
        const LSTATUS rc =
            RegCreateKeyExW(app, L"New\\Deeper", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k, nullptr);
        if (k) {
            RegCloseKey(k);
        }
        return rc;
    });
    failing("create the classes root", [&] { return setString(HKEY_CLASSES_ROOT, L"", L"x"); });
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(queryRaw(app, L"Two", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(RegQueryValueExW(app, L"Four", nullptr, nullptr, nullptr, nullptr), ERROR_FILE_NOT_FOUND);
    KeyHolder child;
    EXPECT_EQ(RegOpenKeyExW(app, L"Child", 0, KEY_READ, child.out()), ERROR_SUCCESS);

    // The next write goes through and carries only its own change.
    ASSERT_EQ(setBytes(app, L"Three", bytesOf({0x33})), ERROR_SUCCESS);
    EXPECT_EQ(fileText(),
              "Windows Registry Editor Version 5.00\n"
              "\n"
              "[HKEY_CURRENT_USER]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software]\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\App]\n"
              "\"One\"=dword:00000001\n"
              "\"Two\"=\"two\"\n"
              "\"Three\"=hex:33\n"
              "\n"
              "[HKEY_CURRENT_USER\\Software\\App\\Child]\n"
              "\n");
}

// Walking subkeys by index sees changes made between two steps, and two
// keys walked in turn do not disturb each other.
TEST_F(RegistryTest, EnumerationByIndexFollowsChanges) {
    ASSERT_EQ(load("Windows Registry Editor Version 5.00\n\n"
                   "[HKEY_CURRENT_USER\\A\\b1]\n[HKEY_CURRENT_USER\\A\\b3]\n[HKEY_CURRENT_USER\\A\\b5]\n"
                   "[HKEY_CURRENT_USER\\Z\\y1]\n[HKEY_CURRENT_USER\\Z\\y2]\n"),
              ERROR_SUCCESS);
    KeyHolder a, z;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"A", 0, KEY_ALL_ACCESS, a.out()), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Z", 0, KEY_ALL_ACCESS, z.out()), ERROR_SUCCESS);
    const auto nameAt = [](HKEY key, DWORD i) {
        WCHAR name[64];
        DWORD cch = 64;
        const LSTATUS rc = RegEnumKeyExW(key, i, name, &cch, nullptr, nullptr, nullptr, nullptr);
        return rc == ERROR_SUCCESS ? std::wstring(name) : L"rc " + std::to_wstring(rc);
    };
    EXPECT_EQ(nameAt(a, 0), L"b1");
    EXPECT_EQ(nameAt(z, 1), L"y2");
    EXPECT_EQ(nameAt(a, 1), L"b3");
    EXPECT_EQ(nameAt(z, 0), L"y1");
    EXPECT_EQ(nameAt(a, 2), L"b5");
    EXPECT_EQ(nameAt(a, 1), L"b3");  // back to an earlier index

    KeyHolder added;
    ASSERT_EQ(RegCreateKeyExW(a, L"B2", 0, nullptr, 0, KEY_READ, nullptr, added.out(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(nameAt(a, 2), L"b3");
    ASSERT_EQ(RegDeleteKeyW(a, L"b3"), ERROR_SUCCESS);
    EXPECT_EQ(nameAt(a, 2), L"b5");
    EXPECT_EQ(nameAt(a, 3), L"rc " + std::to_wstring(ERROR_NO_MORE_ITEMS));

    // A change by another process, seen between two steps.
    replaceFromOutside(
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\A\\a0]\n"
        "[HKEY_CURRENT_USER\\A\\b1]\n[HKEY_CURRENT_USER\\A\\b5]\n");
    EXPECT_EQ(nameAt(a, 1), L"b1");
    EXPECT_EQ(nameAt(a, 2), L"b5");
}

TEST_F(RegistryTest, WithoutAFileTheRegistryLivesInMemory) {
    unsetenv("WINPLAT_REGISTRY");
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    EXPECT_EQ(winplat::registry::filePath(), "");
    ASSERT_EQ(setString(HKEY_CURRENT_USER, L"kept", L"in memory"), ERROR_SUCCESS);
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(queryRaw(HKEY_CURRENT_USER, L"KEPT", type, data), ERROR_SUCCESS);
    EXPECT_EQ(winplat::registry::exportText(),
              "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER]\n\"kept\"=\"in memory\"\n\n");
    EXPECT_FALSE(std::filesystem::exists(file_));
    EXPECT_TRUE(strayFiles().empty());
}

TEST_F(RegistryTest, BadNamesAndArgumentsAreRefusedAndChangeNothing) {
    KeyHolder key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Names", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.out(), nullptr),
              ERROR_SUCCESS);
    const std::string before = fileText();
    HKEY h = nullptr;
    EXPECT_EQ(setString(key, L"two\nlines", L"x"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(setString(key, std::wstring(16384, L'n').c_str(), L"x"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegSetValueExW(key, L"null", 0, REG_BINARY, nullptr, 4), ERROR_NOACCESS);
    EXPECT_EQ(
        RegCreateKeyExW(key, std::wstring(256, L'k').c_str(), 0, nullptr, 0, KEY_READ, nullptr, &h, nullptr),
        ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCreateKeyExW(key, L"a\\\\b", 0, nullptr, 0, KEY_READ, nullptr, &h, nullptr),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(RegCreateKeyExW(key, L"\\lead", 0, nullptr, 0, KEY_READ, nullptr, &h, nullptr),
              ERROR_BAD_PATHNAME);
    EXPECT_EQ(fileText(), before);
    // A 255-character key name and an empty binary value are fine.
    KeyHolder longest;
    EXPECT_EQ(RegCreateKeyExW(key, std::wstring(255, L'k').c_str(), 0, nullptr, 0, KEY_READ, nullptr,
                              longest.out(), nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExW(key, L"empty", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    EXPECT_NE(fileText().find("\"empty\"=hex:\n"), std::string::npos);
}

TEST_F(RegistryTest, ThreadsWritingTogetherLoseNothing) {
    constexpr int kThreads = 4;
    constexpr int kEach = 25;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            HKEY key = nullptr;
            ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Threads", 0, nullptr, 0, KEY_ALL_ACCESS,
                                      nullptr, &key, nullptr),
                      ERROR_SUCCESS);
            for (int i = 0; i < kEach; ++i) {
                const std::wstring name = L"t" + std::to_wstring(t) + L"_" + std::to_wstring(i);
                EXPECT_EQ(setString(key, name.c_str(), name), ERROR_SUCCESS);
            }
            RegCloseKey(key);
        });
    }
    for (std::thread& th : threads) {
        th.join();
    }
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    KeyHolder key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Threads", 0, KEY_READ, key.out()), ERROR_SUCCESS);
    DWORD values = 0;
    ASSERT_EQ(RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(values, static_cast<DWORD>(kThreads * kEach));
}

}  // namespace
