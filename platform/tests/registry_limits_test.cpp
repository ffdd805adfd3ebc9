// Limits and odd files: key depth, closed handles, a registry file named
// through a symbolic link, a file that cannot be used, comments.
#include <sys/stat.h>
#include <unistd.h>

#include "registry_children.h"
#include "registry_fixture.h"
#include "winplat/console.h"
#include "winplat/utf16.h"

using namespace regtest;

namespace {

std::wstring levels(int n, const wchar_t* name = L"k") {
    std::wstring out;
    for (int i = 0; i < n; ++i) {
        out += (i ? L"\\" : L"") + std::wstring(name);
    }
    return out;
}

// The root is the first level: HKEY_CURRENT_USER\Software is two deep.
TEST_F(RegistryTest, KeyDepthIsCappedAndCreationGoesAtMost32LevelsAtATime) {
    struct Case {
        int existing;  // levels below HKEY_CURRENT_USER already there
        int created;   // levels the call adds
        LSTATUS rc;
    } const cases[] = {
        {0, 32, ERROR_SUCCESS},   {0, 33, ERROR_BADKEY},
        {480, 31, ERROR_SUCCESS}, {480, 32, ERROR_BADKEY},  // 513 levels
        {511, 0, ERROR_SUCCESS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.existing) + " + " + std::to_string(c.created));
        ASSERT_EQ(load(""), ERROR_SUCCESS);
        for (int made = 0; made < c.existing; made += 30) {
            KeyHolder k;
            ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, levels(std::min(made + 30, c.existing)).c_str(), 0,
                                      nullptr, 0, KEY_ALL_ACCESS, nullptr, k.out(), nullptr),
                      ERROR_SUCCESS);
        }
        const std::string before = fileText();
        KeyHolder k;
        const std::wstring path =
            levels(c.existing) + (c.existing && c.created ? L"\\" : L"") + levels(c.created, L"new");
        EXPECT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  k.out(), nullptr),
                  c.rc);
        if (c.rc != ERROR_SUCCESS) {
            EXPECT_EQ(k.key, nullptr);
            EXPECT_EQ(fileText(), before);
            continue;
        }
        // The deepest tree writes and loads back.
        ASSERT_EQ(setString(k, L"deep", L"here"), ERROR_SUCCESS);
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    }
    // A deeper key in the file is refused by line.
    const std::string deep = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\" +
                             winplat::utf16ToUtf8(levels(512)) + "]\n";
    winplat::console::Capture quiet;
    EXPECT_EQ(load(deep), ERROR_BADDB);
    EXPECT_EQ(winplat::registry::lastLoadError(), file_ + ":3: the key path is deeper than 512 levels");
}

TEST_F(RegistryTest, AClosedHandleNeverReachesAnotherKey) {
    for (const wchar_t* name : {L"Software\\A", L"Software\\B"}) {
        KeyHolder k;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, name, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.out(),
                                  nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(setString(k, L"who", name), ERROR_SUCCESS);
    }
    for (int i = 0; i < 1000; ++i) {
        HKEY stale = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\A", 0, KEY_ALL_ACCESS, &stale), ERROR_SUCCESS);
        ASSERT_EQ(RegCloseKey(stale), ERROR_SUCCESS);
        KeyHolder fresh;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\B", 0, KEY_ALL_ACCESS, fresh.out()),
                  ERROR_SUCCESS);
        ASSERT_NE(fresh.key, stale);
        DWORD cb = 0;
        ASSERT_EQ(RegQueryValueExW(stale, L"who", nullptr, nullptr, nullptr, &cb), ERROR_INVALID_HANDLE);
        ASSERT_EQ(setString(stale, L"who", L"overwritten"), ERROR_INVALID_HANDLE);
        ASSERT_EQ(RegCloseKey(stale), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(fileText().find("overwritten"), std::string::npos);
}

TEST_F(RegistryTest, AFileNamedThroughALinkIsWrittenWhereTheLinkPoints) {
    const std::filesystem::path real = dir_ / "real" / "profile.reg";
    std::filesystem::create_directory(dir_ / "real");
    writeBytes(real.string(), "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER]\n\"a\"=\"1\"\n");
    for (const char* beside : {".lock", ".journal"}) {  // the fixture's registry had no link yet
        std::filesystem::remove(file_ + beside);
    }
    std::filesystem::create_symlink("real/profile.reg", file_);
    ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
    ASSERT_EQ(setString(HKEY_CURRENT_USER, L"b", L"2"), ERROR_SUCCESS);
    EXPECT_TRUE(std::filesystem::is_symlink(file_));
    winplat::registry::flush();
    EXPECT_EQ(readBytes(real.string()),
              "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER]\n\"a\"=\"1\"\n\"b\"=\"2\"\n\n");
    // The lock and the journal lie beside the target, where a process naming it directly looks.
    for (const char* beside : {".lock", ".journal"}) {
        EXPECT_TRUE(std::filesystem::exists(dir_ / "real" / ("profile.reg" + std::string(beside))));
        EXPECT_FALSE(std::filesystem::exists(file_ + beside));
    }
    EXPECT_EQ(std::vector<std::string>{"real"}, strayFiles());
}

// A file that cannot be used is said once on stderr, reads go on with an
// empty registry, and changes fail with the code of the cause. A file its
// own user may not read (mode 0000; root may read any) is mended by its
// rights alone: once they change, the next change of the same process goes
// through. As root, that row runs in a process of another user's.
TEST_F(RegistryTest, AFileThatCannotBeUsedIsReportedOnce) {
    const uid_t user = 65534;  // the user of the unreadable file's own process, when the test runs as root
    const bool asRoot = ::geteuid() == 0;
    struct Case {
        const char* name;
        std::function<bool(const std::string&)> make;  // false: cannot be set up here
        LSTATUS rc;
        std::string what;      // after "<file>"
        bool ownUser = false;  // as root, run by `user`, whose file it is
    } const cases[] = {
        {"folder", [](const std::string& f) { return std::filesystem::create_directory(f); }, ERROR_CANTREAD,
         ": a folder stands where the file should be"},
        {"unreadable",
         [&](const std::string& f) {
             writeBytes(f, "Windows Registry Editor Version 5.00\n");
             return ::chmod(f.c_str(), 0) == 0 && (!asRoot || ::chown(f.c_str(), user, user) == 0);
         },
         ERROR_CANTREAD, ": the file cannot be read (Permission denied)", true},
        {"UTF-16 without a byte-order mark",
         [](const std::string& f) {
             writeBytes(f, std::string("W\0i\0n\0", 6));
             return true;
         },
         ERROR_BADDB,
         ":1: the text is UTF-16 without a byte-order mark (save it as UTF-8, or as UTF-16LE with a "
         "byte-order "
         "mark)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(file_);
        if (!c.make(file_)) {
            continue;
        }
        const std::string message =
            "winplat: the registry file cannot be used: " + file_ + c.what +
            "\nwinplat: the file is left as it is and changes are refused until it is mended.\n";
        if (c.ownUser && asRoot) {
            ASSERT_EQ(::chown(dir_.c_str(), user, user), 0);
            regtest::Scripted own({"as", std::to_string(user)});
            const regtest::Scripted::Answer read = own.ask("get x");
            EXPECT_EQ(read.result, -1);
            const regtest::Scripted::Answer first = own.ask("set x 1");
            EXPECT_EQ(first.result, c.rc);
            const regtest::Scripted::Answer second = own.ask("set x 1");
            EXPECT_EQ(second.result, c.rc);
            EXPECT_EQ(read.said + first.said + second.said, message) << "said once";
            EXPECT_EQ(folderFiles(), std::set<std::string>{"registry.reg"}) << "nothing made beside it";
            // Mended by its rights alone, as its user would: the next change goes through.
            ASSERT_EQ(::chmod(file_.c_str(), 0644), 0);
            const regtest::Scripted::Answer mended = own.ask("set x 1");
            EXPECT_EQ(mended.result, ERROR_SUCCESS);
            EXPECT_EQ(mended.said, "");
            EXPECT_EQ(own.get("x"), 1);
            EXPECT_EQ(own.end(), 0);
            EXPECT_EQ(own.err(), "");
            ASSERT_EQ(::chown(dir_.c_str(), 0, 0), 0);
            continue;
        }
        std::string err;
        {
            winplat::console::Capture capture;
            winplat::registry::reload();
            DWORD cb = 0;
            EXPECT_EQ(RegQueryValueExW(HKEY_CURRENT_USER, L"x", nullptr, nullptr, nullptr, &cb),
                      ERROR_FILE_NOT_FOUND);
            EXPECT_EQ(setString(HKEY_CURRENT_USER, L"x", L"y"), c.rc);
            EXPECT_EQ(setString(HKEY_CURRENT_USER, L"x", L"y"), c.rc);
            err = capture.err();
        }
        EXPECT_EQ(err, message);
        EXPECT_EQ(winplat::registry::lastLoadError(), file_ + c.what);
        ::chmod(file_.c_str(), 0644);
        if (c.name == std::string("unreadable")) {
            // Mended by its rights alone: the next change goes through.
            EXPECT_EQ(setString(HKEY_CURRENT_USER, L"x", L"y"), ERROR_SUCCESS);
        }
    }
    std::filesystem::remove_all(file_);
}

TEST_F(RegistryTest, CommentsStayWithTheirKey) {
    ASSERT_EQ(load("Windows Registry Editor Version 5.00\n; exported for tests\n\n"
                   "[HKEY_CURRENT_USER\\Software\\A]\n; the server\n\"s\"=\"x\"\n  ; indented\n\n"
                   "[-HKEY_CURRENT_USER\\Software\\Gone]\n; goes with the deleted key\n"
                   "[HKEY_CURRENT_USER\\Software\\B]\n\"t\"=\"y\"\n"),
              ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\B"), ERROR_SUCCESS);
    EXPECT_EQ(fileText(),
              "Windows Registry Editor Version 5.00\n; exported for tests\n\n"
              "[HKEY_CURRENT_USER]\n\n[HKEY_CURRENT_USER\\Software]\n\n"
              "[HKEY_CURRENT_USER\\Software\\A]\n; the server\n; indented\n\"s\"=\"x\"\n\n");
}

}  // namespace
