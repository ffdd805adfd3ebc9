// Each route of the runtime search, chosen by the registry and the files laid
// out for it; the stubs with and without a runtime. The module found is a
// copy of the stand-in runtime under the name the route looks for.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <unistd.h>

#include "MapiProvider/Utilities/MapiLoader.h"
#include "MapiProvider/Utilities/MapiStubs.h"
#include "demo/World.h"
#include "platform/tests/test_folder.h"
#include "winplat/inject.h"
#include "winplat/msi.h"
#include "winplat/modules.h"
#include "winplat/windows.h"

namespace {

namespace fs = std::filesystem;

class MapiLoaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        MapiLoader::resetForTests();
        winplat::inject::reset();
        root_ = testfolder::fresh("storeset-loader-");
        world::writeFile(root_ + "/registry.reg", "Windows Registry Editor Version 5.00\n\n");
        world_ = world::activate(root_);
        standins_ = world::standinFolder();
    }
    void TearDown() override {
        MapiLoader::resetForTests();
        SetDllDirectoryW(nullptr);
        winplat::inject::reset();
        testfolder::removeAll(root_);
    }

    // A copy of the stand-in runtime at a Windows path.
    void install(const std::string& windowsPath, const char* module = "olmapi32.dll") {
        fs::path target = world_.posix(windowsPath);
        fs::create_directories(target.parent_path());
        fs::copy_file(fs::path(standins_) / module, target, fs::copy_options::overwrite_existing);
    }
    void setValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type, const void* data,
                  size_t size) {
        HKEY key = nullptr;
        ASSERT_EQ(
            RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
        ASSERT_EQ(
            RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)),
            ERROR_SUCCESS);
        RegCloseKey(key);
    }
    void setText(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& value,
                 DWORD type = REG_SZ) {
        setValue(root, path, name, type, value.c_str(), (value.size() + 1) * sizeof(wchar_t));
    }
    void setDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value) {
        setValue(root, path, name, REG_DWORD, &value, sizeof(value));
    }
    void setMulti(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& first,
                  const std::wstring& second) {
        std::wstring multi = first + L'\0' + second + L'\0' + L'\0';
        setValue(root, path, name, REG_MULTI_SZ, multi.data(), multi.size() * sizeof(wchar_t));
    }
    void appPaths(const std::wstring& program) {
        setText(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail", nullptr, L"Microsoft Outlook");
        setText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\OUTLOOK.EXE",
                nullptr, program);
    }

    // The module is the file at windowsPath.
    void expectModuleAt(HMODULE module, const std::string& windowsPath) {
        ASSERT_NE(module, nullptr);
        wchar_t path[MAX_PATH];
        ASSERT_GT(GetModuleFileNameW(module, path, MAX_PATH), 0u);
        EXPECT_TRUE(fs::equivalent(winplat::paths::toPosix(path), world_.posix(windowsPath)))
            << winplat::utf16ToUtf8(path) << " is not " << windowsPath;
    }

    std::string root_;
    std::string standins_;
    world::World world_;
};

// A module a step loaded directly; its reference goes back at the end.
struct Owned {
    explicit Owned(HMODULE h) : module(h) {}
    ~Owned() {
        if (module) {
            FreeLibrary(module);
        }
    }
    HMODULE module;
};

const wchar_t* const OutlookClient = L"Software\\Clients\\Mail\\Microsoft Outlook";

}  // namespace

TEST_F(MapiLoaderTest, ARuntimeAlreadyLoadedIsTakenWithoutReadingTheRegistry) {
    install("C:\\Elsewhere\\olmapi32.dll");
    HMODULE loaded = LoadLibraryW(L"C:\\Elsewhere\\olmapi32.dll");
    ASSERT_NE(loaded, nullptr);
    winplat::inject::reset();
    EXPECT_EQ(MapiLoader::getMapiModule(), loaded);
    EXPECT_EQ(winplat::inject::calls("RegOpenKeyExW"), 0);
    EXPECT_EQ(winplat::modules::referenceCount(loaded), 2);  // the loader's own reference
    FreeLibrary(loaded);
}

TEST_F(MapiLoaderTest, ADefaultClientOtherThanOutlookLoadsItsDllPathEx) {
    appPaths(L"C:\\Program Files\\Mail Client\\OUTLOOK.EXE");
    install("C:\\Program Files\\Mail Client\\olmapi32.dll");
    setText(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail", nullptr, L"Other Mail");
    setText(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail\\Other Mail", L"DllPathEx",
            L"%OTHERMAIL%\\othermapi.dll", REG_EXPAND_SZ);
    SetEnvironmentVariableW(L"OTHERMAIL", L"C:\\Other");
    install("C:\\Other\\othermapi.dll");
    expectModuleAt(MapiLoader::getMapiModule(), "C:\\Other\\othermapi.dll");
    SetEnvironmentVariableW(L"OTHERMAIL", nullptr);
}

TEST_F(MapiLoaderTest, OnlyTheExactOutlookNameSkipsTheDllPathEx) {
    setText(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail", nullptr, L"microsoft outlook");
    setText(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail\\microsoft outlook", L"DllPathEx",
            L"C:\\Client\\client.dll");
    install("C:\\Client\\client.dll");
    expectModuleAt(Owned(MapiLoader::loadDefaultClientMapi()).module, "C:\\Client\\client.dll");

    setText(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail", nullptr, L"Microsoft Outlook");
    setText(HKEY_LOCAL_MACHINE, OutlookClient, L"DllPathEx", L"C:\\Client\\client.dll");
    EXPECT_EQ(Owned(MapiLoader::loadDefaultClientMapi()).module, nullptr);
}

TEST_F(MapiLoaderTest, TheProgramFolderIsLowerCasedAndSearchedForTheRuntime) {
    appPaths(L"C:\\Program Files\\Office12\\OUTLOOK.EXE");
    install("C:\\Program Files\\Office12\\olmapi32.dll");
    install("C:\\Windows\\system32\\mapi32.dll");
    expectModuleAt(MapiLoader::getMapiModule(), "C:\\program files\\office12\\olmapi32.dll");
    wchar_t directory[MAX_PATH];
    EXPECT_EQ(GetDllDirectoryW(MAX_PATH, directory), 0u);  // reset after the search
}

TEST_F(MapiLoaderTest, AProgramPathOfAnotherTypeEndsTheSearch) {
    setText(HKEY_LOCAL_MACHINE, L"Software\\Clients\\Mail", nullptr, L"Microsoft Outlook");
    setDword(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\OUTLOOK.EXE",
             nullptr, 1);
    install("C:\\Windows\\system32\\mapi32.dll");
    EXPECT_EQ(Owned(MapiLoader::loadMapiModule()).module, nullptr);
}

// A program path that cannot be read is taken as no program path at all.
TEST_F(MapiLoaderTest, AnUnreadableProgramPathFallsBackToTheSystemRuntime) {
    setText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\OUTLOOK.EXE",
            L"Path",
            L"C:\\x");  // the key, without a default value
    install("C:\\Windows\\system32\\mapi32.dll");
    expectModuleAt(MapiLoader::getMapiModule(), "C:\\Windows\\system32\\mapi32.dll");
}

TEST_F(MapiLoaderTest, WithNothingRegisteredTheSystemRuntimeIsLoaded) {
    install("C:\\Windows\\system32\\mapi32.dll");
    expectModuleAt(MapiLoader::getMapiModule(), "C:\\Windows\\system32\\mapi32.dll");
}

TEST_F(MapiLoaderTest, WithoutARuntimeTheStubsFailSoftlyUntilOneAppears) {
    int marker = 0;
    LPPROFADMIN admin = nullptr;
    void* block = nullptr;
    EXPECT_EQ(MAPIInitialize(nullptr), E_FAIL);
    MAPIUninitialize();
    EXPECT_EQ(MAPIAdminProfiles(0, &admin), E_FAIL);
    EXPECT_EQ(MAPIAllocateBuffer(4, &block), E_FAIL);
    EXPECT_EQ(MAPIAllocateMore(4, &marker, &block), E_FAIL);
    EXPECT_EQ(MAPIFreeBuffer(&marker), 0u);
    EXPECT_EQ(HrSetOneProp(nullptr, nullptr), E_FAIL);
    EXPECT_EQ(WrapStoreEntryID(0, nullptr, 0, nullptr, nullptr, nullptr), E_FAIL);
    EXPECT_EQ(block, nullptr);
    EXPECT_EQ(MapiLoader::getMapiModule(), nullptr);

    // Every later call searches again.
    uint32_t generation = MapiLoader::generation();
    install("C:\\Windows\\system32\\mapi32.dll");
    EXPECT_EQ(MAPIAllocateBuffer(4, &block), S_OK);
    EXPECT_EQ(MAPIFreeBuffer(block), 0u);
    EXPECT_GT(MapiLoader::generation(), generation);
}

TEST_F(MapiLoaderTest, CommonFilesRouteTriesEachLcidButNeverZero) {
    appPaths(L"C:\\Program Files\\Mail Client\\OUTLOOK.EXE");  // no runtime in that folder
    setText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"CommonFilesDir",
            L"C:\\Program Files\\Common Files\\");
    install("C:\\Program Files\\Common Files\\System\\MSMAPI\\0\\MSMAPI32.DLL");
    install("C:\\Program Files\\Common Files\\System\\MSMAPI\\1033\\MSMAPI32.DLL");
    install("C:\\Windows\\system32\\mapi32.dll");
    expectModuleAt(MapiLoader::getMapiModule(),
                   "C:\\Program Files\\Common Files\\System\\MSMAPI\\1033\\MSMAPI32.DLL");
    wchar_t directory[MAX_PATH];
    EXPECT_EQ(GetDllDirectoryW(MAX_PATH, directory), 0u);
}

TEST_F(MapiLoaderTest, CommonFilesNamingAFileMeansItsFolder) {
    setText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"CommonFilesDir",
            L"%CF%\\readme.txt", REG_EXPAND_SZ);
    SetEnvironmentVariableW(L"CF", L"C:\\Common");
    world::writeFile(world_.posix("C:\\Common\\readme.txt"), "x");
    install("C:\\Common\\System\\MSMAPI\\1033\\MSMAPI32.DLL");
    expectModuleAt(Owned(MapiLoader::loadFromCommonFiles(L"\\System\\MSMAPI\\1033\\MSMAPI32.DLL")).module,
                   "C:\\Common\\System\\MSMAPI\\1033\\MSMAPI32.DLL");
    SetEnvironmentVariableW(L"CF", nullptr);
}

TEST_F(MapiLoaderTest, CommonFilesOfAnotherTypeIsAnInvalidParameter) {
    setDword(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"CommonFilesDir", 7);
    EXPECT_EQ(Owned(MapiLoader::loadFromCommonFiles(L"System\\x.dll")).module, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(MapiLoaderTest, TheOfficeLcidComesFromThePolicyOrUserLocationTheClientNames) {
    setMulti(HKEY_CURRENT_USER, OutlookClient, L"MSIApplicationLCID", L"Office\\Lang", L"UILanguage");
    EXPECT_EQ(MapiLoader::getOfficeLcid(), 0u);  // the location holds nothing yet
    setDword(HKEY_CURRENT_USER, L"Software\\Office\\Lang", L"UILanguage", 1031);
    EXPECT_EQ(MapiLoader::getOfficeLcid(), 1031u);
    setDword(HKEY_CURRENT_USER, L"Software\\Policy\\Office\\Lang", L"UILanguage", 1036);
    EXPECT_EQ(MapiLoader::getOfficeLcid(), 1036u);  // the user pass reads the policy first
}

TEST_F(MapiLoaderTest, TheMachinePassReadsTheUserLocationFirst) {
    setMulti(HKEY_LOCAL_MACHINE, OutlookClient, L"MSIOfficeLCID", L"Office\\Lang", L"Language");
    setDword(HKEY_CURRENT_USER, L"Software\\Policy\\Office\\Lang", L"Language", 1036);
    setDword(HKEY_CURRENT_USER, L"Software\\Office\\Lang", L"Language", 1031);
    EXPECT_EQ(MapiLoader::getOfficeLcid(), 1031u);
}

TEST_F(MapiLoaderTest, TheOfficeLcidIsTriedFirst) {
    setMulti(HKEY_CURRENT_USER, OutlookClient, L"MSIApplicationLCID", L"Office\\Lang", L"UILanguage");
    setDword(HKEY_CURRENT_USER, L"Software\\Office\\Lang", L"UILanguage", 1031);
    setText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion", L"CommonFilesDir",
            L"C:\\CF");
    install("C:\\CF\\System\\MSMAPI\\1033\\MSMAPI32.DLL");
    install("C:\\CF\\System\\MSMAPI\\1031\\MSMAPI32.DLL");
    expectModuleAt(Owned(MapiLoader::loadMsiPublishedMapi()).module,
                   "C:\\CF\\System\\MSMAPI\\1031\\MSMAPI32.DLL");
}

// The component ID is a braced GUID, 39 characters with its terminator: it
// fits the buffer of 84 bytes of two-byte characters only when that buffer is
// sized as 42 characters of this platform's WCHAR.
TEST_F(MapiLoaderTest, TheQualifiedComponentIsAskedWithEachQualifierForm) {
    const std::wstring component = L"{00112233-4455-6677-8899-AABBCCDDEEFF}";
    setText(HKEY_CURRENT_USER, OutlookClient, L"MSIComponentID", component);
    setMulti(HKEY_CURRENT_USER, OutlookClient, L"MSIApplicationLCID", L"Office\\Lang", L"UILanguage");
    setDword(HKEY_CURRENT_USER, L"Software\\Office\\Lang", L"UILanguage", 1031);
    install("C:\\Windows\\system32\\msi.dll", "msi.dll");
    install("C:\\Office\\MSMAPI32.DLL");
    // Only the plain form is published: the "\NT" form is asked first and fails.
    setText(HKEY_LOCAL_MACHINE, std::wstring(WINPLAT_MSI_COMPONENTS_KEY) + L"\\" + component, L"1033",
            L"C:\\Office\\MSMAPI32.DLL");
    // Held here, so its record of requests outlives the loader's use of it.
    Owned msi(LoadLibraryW(L"C:\\Windows\\system32\\msi.dll"));
    ASSERT_NE(msi.module, nullptr);
    auto requests = reinterpret_cast<DWORD (*)(LPWSTR, DWORD)>(
        reinterpret_cast<void*>(GetProcAddress(msi.module, "standinMsiRequests")));
    ASSERT_NE(requests, nullptr);
    expectModuleAt(Owned(MapiLoader::loadMsiPublishedMapi()).module, "C:\\Office\\MSMAPI32.DLL");
    std::wstring asked(requests(nullptr, 0), L'\0');
    asked.resize(requests(asked.data(), static_cast<DWORD>(asked.size())));
    // Every LCID with "\NT" first (the client's 1031, then the user's, the
    // system's and 1033, all 1033 here), then the plain form until one is found.
    const std::wstring line = component + L"|";
    EXPECT_EQ(asked, line + L"1031\\NT|-1\n" + line + L"1033\\NT|-1\n" + line + L"1033\\NT|-1\n" + line +
                         L"1033\\NT|-1\n" + line + L"1031|-1\n" + line + L"1033|-1\n");
}

TEST_F(MapiLoaderTest, AComponentPathThatIsNoFileLoadsNothing) {
    install("C:\\Windows\\system32\\msi.dll", "msi.dll");
    fs::create_directories(world_.posix("C:\\Folder"));
    const std::wstring component = L"{00112233-4455-6677-8899-AABBCCDDEEFF}";
    setText(HKEY_LOCAL_MACHINE, std::wstring(WINPLAT_MSI_COMPONENTS_KEY) + L"\\" + component, L"1033\\NT",
            L"C:\\Folder");
    EXPECT_EQ(Owned(MapiLoader::loadFromComponent(component.c_str(), L"1033\\NT")).module, nullptr);
    EXPECT_NE(GetLastError(), 0u);
}

TEST(MapiLoaderPaths, CopyPathKeepsRoomForTheTerminator) {
    wchar_t buffer[MapiLoader::PathChars];
    wchar_t* end = nullptr;
    size_t remaining = 0;
    std::wstring fits(MapiLoader::PathChars - 1, L'a');
    EXPECT_EQ(MapiLoader::copyPath(fits.c_str(), buffer, MapiLoader::PathChars, &end, &remaining), S_OK);
    EXPECT_EQ(end, buffer + fits.size());
    EXPECT_EQ(remaining, 1u);
    std::wstring tooLong(MapiLoader::PathChars, L'b');
    EXPECT_EQ(MapiLoader::copyPath(tooLong.c_str(), buffer, MapiLoader::PathChars, &end, &remaining),
              static_cast<HRESULT>(0x8007007Au));
    EXPECT_EQ(std::wstring(buffer), std::wstring(MapiLoader::PathChars - 1, L'b'));
    EXPECT_FALSE(MapiLoader::fileExists(nullptr));
}

TEST_F(MapiLoaderTest, TwoThreadsRacingToPublishShareOneModule) {
    install("C:\\Windows\\system32\\mapi32.dll");
    HMODULE seen[2] = {};
    std::thread a([&] { seen[0] = MapiLoader::getMapiModule(); });
    std::thread b([&] { seen[1] = MapiLoader::getMapiModule(); });
    a.join();
    b.join();
    ASSERT_NE(seen[0], nullptr);
    EXPECT_EQ(seen[0], seen[1]);
    EXPECT_EQ(winplat::modules::referenceCount(seen[0]), 1);  // the loser gave its reference back
}
