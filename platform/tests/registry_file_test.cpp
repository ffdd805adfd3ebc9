// The registry file: the `.reg` form written and read back, the registry
// editor's UTF-16LE export, files that do not parse, changes from outside.
#include <map>

#include "registry_fixture.h"
#include "winplat/console.h"

using namespace regtest;

namespace {

TEST_F(RegistryTest, WrittenFileReloadsIdentically) {
    KeyHolder key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Round Trip\\Odd ]Name[", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, key.out(), nullptr),
              ERROR_SUCCESS);
    std::vector<BYTE> longBinary(200);
    for (size_t i = 0; i < longBinary.size(); ++i) {
        longBinary[i] = static_cast<BYTE>(i * 7);
    }
    const DWORD dword = 0xDEADBEEF;
    const uint64_t qword = 0x0102030405060708ull;
    const WCHAR multi[] = L"one\0two\0";
    ASSERT_EQ(setString(key, nullptr, L"the default"), ERROR_SUCCESS);
    ASSERT_EQ(setString(key, L"quote \"and\" back\\slash", L"C:\\dir\\ \"x\" \\"), ERROR_SUCCESS);
    ASSERT_EQ(setString(key, L"\x00C4nderung", L"\x65E5\x672C \xD83D\xDE00"), ERROR_SUCCESS);
    ASSERT_EQ(setString(key, L"lines", L"a\r\nb"), ERROR_SUCCESS);  // no "text" form holds it
    ASSERT_EQ(setString(key, L"expand", L"%SystemRoot%\\x", REG_EXPAND_SZ), ERROR_SUCCESS);
    ASSERT_EQ(
        RegSetValueExW(key, L"multi", 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(multi), sizeof multi),
        ERROR_SUCCESS);
    ASSERT_EQ(setBytes(key, L"binary", longBinary), ERROR_SUCCESS);
    ASSERT_EQ(
        setBytes(key, L"dword", std::vector<BYTE>((const BYTE*)&dword, (const BYTE*)&dword + 4), REG_DWORD),
        ERROR_SUCCESS);
    ASSERT_EQ(setBytes(key, L"short dword", bytesOf({1, 2}), REG_DWORD), ERROR_SUCCESS);
    ASSERT_EQ(
        setBytes(key, L"qword", std::vector<BYTE>((const BYTE*)&qword, (const BYTE*)&qword + 8), REG_QWORD),
        ERROR_SUCCESS);
    ASSERT_EQ(setBytes(key, L"none", {}, REG_NONE), ERROR_SUCCESS);
    ASSERT_EQ(setBytes(key, L"big type", bytesOf({9}), 0x12345), ERROR_SUCCESS);

    // Everything as it was set, before and after a reload.
    auto snapshot = [&] {
        std::vector<std::tuple<std::wstring, DWORD, std::vector<BYTE>>> all;
        for (DWORD i = 0;; ++i) {
            WCHAR name[64];
            DWORD cch = 64, type = 0, cb = 0;
            if (RegEnumValueW(key, i, name, &cch, nullptr, &type, nullptr, &cb) != ERROR_SUCCESS) {
                break;
            }
            std::vector<BYTE> data;
            EXPECT_EQ(queryRaw(key, name, type, data), ERROR_SUCCESS);
            all.emplace_back(name, type, data);
        }
        return all;
    };
    const auto before = snapshot();
    ASSERT_EQ(before.size(), 12u);
    const std::string written = fileText();
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(winplat::registry::exportText(), written);

    // The form is the registry editor's.
    EXPECT_EQ(written.rfind("Windows Registry Editor Version 5.00\n\n", 0), 0u);
    EXPECT_NE(written.find("[HKEY_CURRENT_USER\\Software\\Round Trip\\Odd ]Name[]\n"
                           "@=\"the default\"\n"
                           "\"quote \\\"and\\\" back\\\\slash\"=\"C:\\\\dir\\\\ \\\"x\\\" \\\\\"\n"),
              std::string::npos)
        << written;
    EXPECT_NE(written.find("\"dword\"=dword:deadbeef\n"), std::string::npos);
    EXPECT_NE(written.find("\"short dword\"=hex(4):01,02\n"), std::string::npos);
    EXPECT_NE(written.find("\"qword\"=hex(b):08,07,06,05,04,03,02,01\n"), std::string::npos);
    EXPECT_NE(written.find("\"none\"=hex(0):\n"), std::string::npos);
    EXPECT_NE(written.find("\"big type\"=hex(12345):09\n"), std::string::npos);
    EXPECT_NE(written.find("\"lines\"=hex(1):61,00,0d,00,0a,00,62,00,00,00\n"), std::string::npos);
    // Long byte lists wrap at 80 columns with the next line indented.
    EXPECT_NE(
        written.find("\"binary\"=hex:00,07,0e,15,1c,23,2a,31,38,3f,46,4d,54,5b,62,69,70,77,7e,85,8c,93,\\\n"
                     "  9a,a1,"),
        std::string::npos)
        << written;
    std::istringstream lines(written);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_LE(line.size(), 80u) << line;
    }
}

// A file as the Windows registry editor exports it: UTF-16LE with a byte
// order mark, CR LF line ends, wrapped byte lists.
const char16_t kExport[] =
    u"Windows Registry Editor Version 5.00\r\n"
    u"\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Sample]\r\n"
    u"@=\"Default text\"\r\n"
    u"\"Path\"=\"C:\\\\Program Files\\\\Sample\\\\\"\r\n"
    u"\"Quote\"=\"say \\\"hi\\\"\"\r\n"
    u"\"Count\"=dword:0000002a\r\n"
    u"\"Blob\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\r\n"
    u"  16,17,18,19,1a\r\n"
    u"\"Expand\"=hex(2):25,00,54,00,45,00,4d,00,50,00,25,00,00,00\r\n"
    u"\"Multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    u"\"Big\"=hex(b):2a,00,00,00,00,00,00,00\r\n"
    u"\"Nothing\"=hex(0):\r\n"
    u"\"Gr\u00fc\u00dfe \u65e5\u672c\"=\"\u00e9t\u00e9\"\r\n"
    u"\"Gone\"=\"soon\"\r\n"
    u"\"Gone\"=-\r\n"
    u"\r\n"
    u"[HKEY_CURRENT_USER\\Software\\Sample\\Removed]\r\n"
    u"\"x\"=\"y\"\r\n"
    u"\r\n"
    u"[-HKEY_CURRENT_USER\\Software\\Sample\\Removed]\r\n"
    u"\r\n"
    u"[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones\\Greenland Standard "
    u"Time]\r\n"
    u"\"Display\"=\"(UTC-03:00) Greenland\"\r\n"
    u"\"TZI\"=hex:b4,00,00,00,00,00,00,00,c4,ff,ff,ff,00,00,0a,00,06,00,05,00,17,00,\\\r\n"
    u"  00,00,00,00,00,00,00,00,03,00,06,00,05,00,16,00,00,00,00,00,00,00\r\n"
    u"\r\n";

TEST_F(RegistryTest, RegistryEditorExportInUtf16Loads) {
    ASSERT_EQ(load(utf16File(kExport)), ERROR_SUCCESS) << winplat::registry::lastLoadError();
    KeyHolder key;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Sample", 0, KEY_ALL_ACCESS, key.out()),
              ERROR_SUCCESS);
    DWORD type = 0;
    std::vector<BYTE> data;
    auto text = [&](const wchar_t* name) {
        EXPECT_EQ(queryRaw(key, name, type, data), ERROR_SUCCESS) << name;
        return std::wstring(reinterpret_cast<const WCHAR*>(data.data()), data.size() / sizeof(WCHAR));
    };
    EXPECT_EQ(text(nullptr), std::wstring(L"Default text", 13));
    EXPECT_EQ(text(L"Path"), std::wstring(L"C:\\Program Files\\Sample\\", 25));
    EXPECT_EQ(text(L"quote"), std::wstring(L"say \"hi\"", 9));
    EXPECT_EQ(text(L"Expand"), std::wstring(L"%TEMP%", 7));
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(text(L"Multi"), std::wstring(L"a\0b\0", 5));
    EXPECT_EQ(type, REG_MULTI_SZ);
    EXPECT_EQ(text(L"GR\u00dc\u00dfE \u65e5\u672c"), std::wstring(L"\u00e9t\u00e9", 4));
    ASSERT_EQ(queryRaw(key, L"Count", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(data, bytesOf({0x2a, 0, 0, 0}));
    ASSERT_EQ(queryRaw(key, L"Blob", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data.size(), 27u);
    EXPECT_EQ(data.back(), 0x1a);
    ASSERT_EQ(queryRaw(key, L"Big", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_QWORD);
    EXPECT_EQ(data, bytesOf({0x2a, 0, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(queryRaw(key, L"Nothing", type, data), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_NONE);
    EXPECT_TRUE(data.empty());
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExW(key, L"Gone", nullptr, nullptr, nullptr, &cb), ERROR_FILE_NOT_FOUND);
    HKEY removed = nullptr;
    EXPECT_EQ(RegOpenKeyExW(key, L"Removed", 0, KEY_READ, &removed), ERROR_FILE_NOT_FOUND);

    KeyHolder zone;
    ASSERT_EQ(
        RegOpenKeyExW(HKEY_LOCAL_MACHINE,
                      L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Time Zones\\Greenland Standard Time",
                      0, KEY_READ, zone.out()),
        ERROR_SUCCESS);
    ASSERT_EQ(queryRaw(zone, L"TZI", type, data), ERROR_SUCCESS);
    EXPECT_EQ(data.size(), 44u);

    // A change keeps the file in the form it came in, and it loads again.
    ASSERT_EQ(setString(key, L"Added", L"new"), ERROR_SUCCESS);
    const std::string written = fileText();
    EXPECT_EQ(written.substr(0, 2), "\xFF\xFE");
    EXPECT_NE(written.find(utf16File(u"\"Added\"=\"new\"\r\n").substr(2)), std::string::npos);
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    EXPECT_EQ(text(L"Added"), std::wstring(L"new", 4));
    EXPECT_EQ(text(L"Path"), std::wstring(L"C:\\Program Files\\Sample\\", 25));
}

struct BadFile {
    std::string_view text;
    const char* error;  // after "<file>:"
};

class RegistryBadFileTest : public RegistryTest, public ::testing::WithParamInterface<BadFile> {};

TEST_P(RegistryBadFileTest, IsReportedByLineAndNeverOverwritten) {
    const BadFile& bad = GetParam();
    const std::string text(bad.text);
    std::string err;
    {
        winplat::console::Capture capture;
        ASSERT_EQ(load(text), ERROR_BADDB);
        err = capture.err();
    }
    const std::string expected = file_ + ":" + bad.error;
    EXPECT_EQ(winplat::registry::lastLoadError(), expected);
    EXPECT_EQ(err, "winplat: the registry file cannot be used: " + expected +
                       "\nwinplat: the file is left as it is and changes are refused until it is mended.\n");

    // Every change is refused and the file stays byte for byte.
    HKEY key = nullptr;
    EXPECT_EQ(setString(HKEY_CURRENT_USER, L"v", L"x"), ERROR_BADDB);
    EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\New", 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                              nullptr),
              ERROR_BADDB);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(fileText(), text);
    EXPECT_TRUE(strayFiles().empty());

    // Once the file is mended the next change goes through without a reload.
    writeBytes(file_,
               "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software]\n\"ok\"=\"1\"\n");
    EXPECT_EQ(setString(HKEY_CURRENT_USER, L"v", L"x"), ERROR_SUCCESS);
    EXPECT_EQ(winplat::registry::lastLoadError(), "");
    EXPECT_NE(fileText().find("\"ok\"=\"1\""), std::string::npos);
}

const BadFile kBadFiles[] = {
    {"REGEDIT4\n\n[HKEY_CURRENT_USER\\x]\n",
     "1: REGEDIT4 files are not supported; the first line must be \"Windows Registry Editor Version 5.00\""},
    {"\n\nWindows Registry Editor\n", "3: the first line must be \"Windows Registry Editor Version 5.00\""},
    {"Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\x]\n\"b\"=hex:01,zz\n",
     "4: invalid hexadecimal byte list"},
    {"Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\x]\n\"b\"=hex:01,02,\\\n  03,4\\\n  "
     ",100\n\"c\"=\"\"\n",
     "4: invalid hexadecimal byte list"},
    {"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\x]\r\n\"a\"=\"b\"\r\n\"s\"=\"open\r\n",
     "5: the string has no closing '\"'"},
    {"Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\x]\n\"s\"=\"a\" b\n",
     "4: unexpected text after the string"},
    {"Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\x]\n\"s=\"a\"\n",
     "4: expected '=' after the value name"},
    {"Windows Registry Editor Version 5.00\n\n[HKEY_USERS\\.DEFAULT]\n", "3: unknown root key 'HKEY_USERS'"},
    // A name's control characters are written escaped, never as they are.
    {std::string_view("Windows Registry Editor Version 5.00\n\n[HKEY_US\0ERS\x01]\n", 53),
     "3: invalid key name 'HKEY_US\\x00ERS\\x01'"},
    {"Windows Registry Editor Version 5.00\n\"v\"=\"x\"\n", "2: a value before the first key"},
    {"Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\x\n", "3: a key line must end with ']'"},
    {"Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\\\x]\n",
     "3: empty key name in the key path"},
    {"Windows Registry Editor Version 5.00\n\n[-HKEY_LOCAL_MACHINE]\n", "3: a root key cannot be deleted"},
    {"Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\x]\n\"d\"=dword:123456789\n",
     "4: dword: needs 1 to 8 hexadecimal digits"},
    {"Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\x]\n\"d\"=hex(zz):00\n",
     "4: hex(...) needs a hexadecimal type of 1 to 8 digits"},
    {"Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\x]\n\"d\"=text\n",
     "4: unrecognised value data (expected \"text\", dword:, hex:, hex(type): or -)"},
    {"Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\x]\nname=1\n",
     "4: expected a key in [brackets], a value, or a comment"},
    {"Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\x\xC3(]\n",
     "3: the text is not valid UTF-8"},
    {"\xFF\xFEW", "1: the UTF-16 text ends in the middle of a character"},
    {"\xFE\xFF", "1: big-endian UTF-16 text is not supported (use UTF-8 or UTF-16LE)"},
};

INSTANTIATE_TEST_SUITE_P(Files, RegistryBadFileTest, ::testing::ValuesIn(kBadFiles));

TEST_F(RegistryTest, ChangesFromOutsideAreReadAndKept) {
    ASSERT_EQ(setString(HKEY_CURRENT_USER, L"mine", L"1"), ERROR_SUCCESS);
    // Another program replaces the file.
    replaceFromOutside(
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER]\n\"mine\"=\"1\"\n\"theirs\"=\"2\"\n");
    DWORD type = 0;
    std::vector<BYTE> data;
    EXPECT_EQ(queryRaw(HKEY_CURRENT_USER, L"theirs", type, data), ERROR_SUCCESS);
    ASSERT_EQ(setString(HKEY_CURRENT_USER, L"later", L"3"), ERROR_SUCCESS);
    EXPECT_EQ(
        fileText(),
        "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER]\n\"mine\"=\"1\"\n\"theirs\"=\"2\"\n"
        "\"later\"=\"3\"\n\n");

    // A file broken from outside keeps serving what was read last, and refuses changes.
    replaceFromOutside("Windows Registry Editor Version 5.00\n[broken\n");
    {
        winplat::console::Capture capture;
        EXPECT_EQ(queryRaw(HKEY_CURRENT_USER, L"later", type, data), ERROR_SUCCESS);
        EXPECT_EQ(setString(HKEY_CURRENT_USER, L"refused", L"4"), ERROR_BADDB);
        EXPECT_NE(capture.err().find(":2: a key line must end with ']'"), std::string::npos);
    }
    EXPECT_EQ(fileText(), "Windows Registry Editor Version 5.00\n[broken\n");
}

TEST_F(RegistryTest, MissingOrEmptyFileIsAnEmptyRegistry) {
    EXPECT_FALSE(std::filesystem::exists(file_));
    DWORD cb = 0;
    EXPECT_EQ(RegQueryValueExW(HKEY_CURRENT_USER, L"x", nullptr, nullptr, nullptr, &cb),
              ERROR_FILE_NOT_FOUND);
    ASSERT_EQ(load(""), ERROR_SUCCESS);
    ASSERT_EQ(load("\xEF\xBB\xBF\n  \n"), ERROR_SUCCESS);
    ASSERT_EQ(setString(HKEY_LOCAL_MACHINE, L"x", L"y"), ERROR_SUCCESS);
    EXPECT_EQ(fileText(), "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE]\n\"x\"=\"y\"\n\n");
}

TEST_F(RegistryTest, LenientInputReadsAsTheEditorMeansIt) {
    // Short root names, spaces around '=', upper-case hex, a trailing comma,
    // comments, a trailing backslash on a key and an unknown escape.
    ASSERT_EQ(load("Windows Registry Editor Version 5.00\n"
                   "; a comment\n"
                   "[HKCU\\Software\\Lenient\\]\n"
                   "\"a\" = hex:0A,0b,\n"
                   "\"b\"=DWORD:A\n"
                   "\"c\"=\"back\\slash\"\n"
                   "[HKCR\\.txt]\n"
                   "@=\"txtfile\"\n"),
              ERROR_SUCCESS)
        << winplat::registry::lastLoadError();
    EXPECT_EQ(winplat::registry::exportKey(HKEY_CURRENT_USER, L"Software\\Lenient"),
              "[HKEY_CURRENT_USER\\Software\\Lenient]\n\"a\"=hex:0a,0b\n\"b\"=dword:0000000a\n"
              "\"c\"=\"back\\\\slash\"\n\n");
    EXPECT_EQ(winplat::registry::exportKey(HKEY_CLASSES_ROOT, L".TXT"),
              "[HKEY_LOCAL_MACHINE\\Software\\Classes\\.txt]\n@=\"txtfile\"\n\n");
    EXPECT_EQ(winplat::registry::exportKey(HKEY_CLASSES_ROOT, L"none"), "");
}

TEST_F(RegistryTest, ParseFromMemoryGivesTheCanonicalForm) {
    const std::string in =
        "Windows Registry Editor Version 5.00\r\n[HKLM\\S]\r\n\"v\"=hex(2):41,00,00,00\r\n";
    std::string error, canonical;
    ASSERT_TRUE(winplat::registry::parseText(in.data(), in.size(), &error, &canonical)) << error;
    EXPECT_EQ(canonical,
              "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE]\n\n[HKEY_LOCAL_MACHINE\\S]\n"
              "\"v\"=hex(2):41,00,00,00\n\n");
    EXPECT_FALSE(winplat::registry::parseText("x", 1, &error, nullptr));
    EXPECT_EQ(error, "line 1: the first line must be \"Windows Registry Editor Version 5.00\"");
}

// Text loaded from memory is the registry in memory alone: it reads as the
// file would, the changes made on it go nowhere on disk, and the next reload
// goes back to the file. Text that does not parse is refused with the
// parser's message, and the registry is the file's as it was.
TEST_F(RegistryTest, TextLoadsAsARegistryInMemoryOrChangesNothing) {
    const std::string header = "Windows Registry Editor Version 5.00";
    const std::string rule = "the first line must be \"" + header + "\"";
    const struct {
        const char* what;
        std::string text;
        std::string error;  // "" : it loads
        std::string key;    // HKCU\Software\Text as it then exports
    } rows[] = {
        {"UTF-8", header + "\n\n[HKEY_CURRENT_USER\\Software\\Text]\n\"a\"=\"b\"\n", "",
         "[HKEY_CURRENT_USER\\Software\\Text]\n\"a\"=\"b\"\n\n"},
        {"blank lines before the header",
         "\n \t\r\n" + header + "\r\n[HKCU\\Software\\Text]\r\n\"n\"=dword:2\r\n", "",
         "[HKEY_CURRENT_USER\\Software\\Text]\n\"n\"=dword:00000002\n\n"},
        {"UTF-16LE with a byte-order mark",
         utf16File(u"Windows Registry Editor Version 5.00\r\n\r\n"
                   u"[HKEY_CURRENT_USER\\Software\\Text]\r\n@=\"d\"\r\n"),
         "", "[HKEY_CURRENT_USER\\Software\\Text]\n@=\"d\"\n\n"},
        {"an empty file", "", "", ""},
        {"not the header", "a profile\n", "line 1: " + rule, ""},
        {"REGEDIT4", "REGEDIT4\n", "line 1: REGEDIT4 files are not supported; " + rule, ""},
        {"a value that does not parse", header + "\n\n[HKEY_CURRENT_USER\\Software\\Text]\n\"a\"=hex:zz\n",
         "line 4: invalid hexadecimal byte list", ""},
    };
    const auto folder = [this] {
        std::map<std::string, std::string> files;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) {
            files[e.path().filename().string()] = readBytes(e.path().string());
        }
        return files;
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        ASSERT_EQ(load(kBase), ERROR_SUCCESS);
        ASSERT_EQ(setDword(L"Pending", 7), ERROR_SUCCESS);  // in the journal
        const std::string before = winplat::registry::exportText();
        const auto filesBefore = folder();
        std::string error = "untouched";
        const bool loaded = winplat::registry::loadText(row.text.data(), row.text.size(), &error);
        if (!row.error.empty()) {
            EXPECT_FALSE(loaded);
            EXPECT_EQ(error, row.error);
            EXPECT_EQ(winplat::registry::exportText(), before);
            EXPECT_EQ(winplat::registry::filePath(), file_);
            EXPECT_EQ(winplat::registry::lastLoadError(), "");
            EXPECT_EQ(folder(), filesBefore);
            ASSERT_EQ(setDword(L"After", 1), ERROR_SUCCESS);  // still the file's
            EXPECT_NE(fileText().find("\"After\"=dword:00000001\n"), std::string::npos);
            continue;
        }
        ASSERT_TRUE(loaded);
        EXPECT_EQ(error, "untouched");
        EXPECT_EQ(winplat::registry::filePath(), "");
        EXPECT_EQ(winplat::registry::lastLoadError(), "");
        EXPECT_EQ(winplat::registry::exportKey(HKEY_CURRENT_USER, L"Software\\Text"), row.key);
        EXPECT_EQ(winplat::registry::exportKey(HKEY_CURRENT_USER, L"Software\\Journal"), "");
        if (row.key.empty()) {
            EXPECT_EQ(winplat::registry::exportText(), header + "\n\n");
        }
        // The record left in the journal went into the file first.
        EXPECT_NE(readBytes(file_).find("\"Pending\"=dword:00000007\n"), std::string::npos);
        const auto filesLoaded = folder();
        ASSERT_EQ(setDword(L"InMemory", 3), ERROR_SUCCESS);
        EXPECT_EQ(dwordOf(L"InMemory"), 3);
        winplat::registry::flush();
        EXPECT_EQ(folder(), filesLoaded);
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        EXPECT_EQ(winplat::registry::filePath(), file_);
        EXPECT_EQ(winplat::registry::exportText(), before);
        EXPECT_EQ(folder(), filesLoaded);
    }
}

}  // namespace
