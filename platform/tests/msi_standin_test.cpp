// The stand-in msi.dll: the qualified-component call by ordinal, answered
// from the registry as the real call answers.
#include <gtest/gtest.h>

#include <string>

#include "files_testroot.h"
#include "winplat/files.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/modules.h"
#include "winplat/msi.h"
#include "winplat/registry.h"

namespace {

const wchar_t kCategory[] = L"{D5FC2B3E-0A6C-4C4B-9D41-6D1F1E1D2A3B}";
const wchar_t kUnknownCategory[] = L"{00000000-1111-2222-3333-444444444444}";

std::string msiModulePath() {
    // testmods lives in <build>/platform; stand-ins in <build>/standins.
    return std::string(WINPLAT_TESTMOD_DIR) + "/../../standins/msi.dll";
}

class MsiStandin : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string path = msiModulePath();
        ASSERT_TRUE(FilesTestRoot::exists(path)) << path;
        module_ = LoadLibraryW(std::wstring(path.begin(), path.end()).c_str());
        ASSERT_NE(module_, nullptr) << winplat::modules::lastLoadError();
        call_ = reinterpret_cast<PFN_MSIPROVIDEQUALIFIEDCOMPONENTW>(reinterpret_cast<void*>(
            GetProcAddress(module_, MAKEINTRESOURCEA(MSI_ORDINAL_PROVIDE_QUALIFIED_COMPONENT))));
        ASSERT_NE(call_, nullptr);
        reset_ =
            reinterpret_cast<void (*)()>(reinterpret_cast<void*>(GetProcAddress(module_, "standinMsiReset")));
        requests_ = reinterpret_cast<DWORD (*)(LPWSTR, DWORD)>(
            reinterpret_cast<void*>(GetProcAddress(module_, "standinMsiRequests")));
        ASSERT_NE(reset_, nullptr);
        ASSERT_NE(requests_, nullptr);
        reset_();

        dll_ = root_.write("c/program files/common files/system/msmapi/1033/msmapi32.dll", "x");
        std::wstring key = std::wstring(WINPLAT_MSI_COMPONENTS_KEY) + L"\\" + kCategory;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key_, nullptr),
                  ERROR_SUCCESS);
        setString(L"1033\\NT", REG_SZ,
                  L"C:\\Program Files\\Common Files\\System\\MSMAPI\\1033\\MSMAPI32.DLL");
        setString(L"1031", REG_SZ, L"C:\\Program Files\\Common Files\\System\\MSMAPI\\1031\\MSMAPI32.DLL");
        setString(L"expand", REG_EXPAND_SZ, L"%WinplatMsiTestDir%\\MSMAPI32.DLL");
        DWORD number = 7;
        ASSERT_EQ(RegSetValueExW(key_, L"number", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        if (key_) {
            RegCloseKey(key_);
            std::wstring key = std::wstring(WINPLAT_MSI_COMPONENTS_KEY) + L"\\" + kCategory;
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
        }
        if (module_) {
            FreeLibrary(module_);
        }
    }
    void setString(const wchar_t* name, DWORD type, const std::wstring& value) {
        ASSERT_EQ(RegSetValueExW(key_, name, 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR))),
                  ERROR_SUCCESS);
    }
    std::wstring requests() {
        WCHAR buf[1024];
        DWORD n = requests_(buf, 1024);
        return std::wstring(buf, n < 1024 ? n : 0);
    }

    FilesTestRoot root_;
    std::string dll_;
    HMODULE module_ = nullptr;
    HKEY key_ = nullptr;
    PFN_MSIPROVIDEQUALIFIEDCOMPONENTW call_ = nullptr;
    void (*reset_)() = nullptr;
    DWORD (*requests_)(LPWSTR, DWORD) = nullptr;
};

const std::wstring kPath = L"C:\\Program Files\\Common Files\\System\\MSMAPI\\1033\\MSMAPI32.DLL";

}  // namespace

TEST_F(MsiStandin, ResolvesAPublishedComponent) {
    WCHAR path[520];
    DWORD length = 520;
    EXPECT_EQ(call_(kCategory, L"1033\\NT", static_cast<DWORD>(INSTALLMODE_EXISTING), path, &length),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(std::wstring(path), kPath);
    EXPECT_EQ(length, kPath.size());
    // The path leads to the file through the mapping.
    EXPECT_EQ(winplat::paths::toPosix(path), dll_);
    // Category GUIDs and qualifiers compare without regard to case.
    std::wstring lower = kCategory;
    for (auto& c : lower)
        c = towlower(c);
    length = 520;
    EXPECT_EQ(call_(lower.c_str(), L"1033\\nt", static_cast<DWORD>(INSTALLMODE_EXISTING), path, &length),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(requests(), std::wstring(kCategory) + L"|1033\\NT|-1\n" + lower + L"|1033\\nt|-1\n");
}

TEST_F(MsiStandin, ShortBuffersGetMoreDataAndTheLengthNeeded) {
    WCHAR path[520];
    path[0] = L'#';
    DWORD length = static_cast<DWORD>(kPath.size());  // no room for the terminator
    EXPECT_EQ(call_(kCategory, L"1033\\NT", static_cast<DWORD>(INSTALLMODE_EXISTING), path, &length),
              static_cast<UINT>(ERROR_MORE_DATA));
    EXPECT_EQ(length, kPath.size());
    EXPECT_EQ(path[0], L'#');
    // A null buffer measures.
    length = 0;
    EXPECT_EQ(call_(kCategory, L"1033\\NT", static_cast<DWORD>(INSTALLMODE_EXISTING), nullptr, &length),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(length, kPath.size());
    length = static_cast<DWORD>(kPath.size() + 1);
    EXPECT_EQ(call_(kCategory, L"1033\\NT", static_cast<DWORD>(INSTALLMODE_EXISTING), path, &length),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(std::wstring(path), kPath);
}

TEST_F(MsiStandin, UnknownComponentsQualifiersAndFiles) {
    WCHAR path[520];
    DWORD length = 520;
    path[0] = L'#';
    EXPECT_EQ(call_(kUnknownCategory, L"1033", static_cast<DWORD>(INSTALLMODE_EXISTING), path, &length),
              static_cast<UINT>(ERROR_UNKNOWN_COMPONENT));
    EXPECT_EQ(call_(kCategory, L"1033", static_cast<DWORD>(INSTALLMODE_EXISTING), path, &length),
              static_cast<UINT>(ERROR_INDEX_ABSENT));
    // Registered, but the file is not there.
    EXPECT_EQ(call_(kCategory, L"1031", static_cast<DWORD>(INSTALLMODE_EXISTING), path, &length),
              static_cast<UINT>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(path[0], L'#');
    EXPECT_EQ(length, 520u);
    // A mode that does not look at the file trusts the registration.
    EXPECT_EQ(call_(kCategory, L"1031", static_cast<DWORD>(INSTALLMODE_NODETECTION), path, &length),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(std::wstring(path), L"C:\\Program Files\\Common Files\\System\\MSMAPI\\1031\\MSMAPI32.DLL");
    length = 520;
    EXPECT_EQ(call_(kCategory, L"number", static_cast<DWORD>(INSTALLMODE_EXISTING), path, &length),
              static_cast<UINT>(ERROR_BAD_CONFIGURATION));
    EXPECT_EQ(call_(nullptr, L"1033", static_cast<DWORD>(INSTALLMODE_EXISTING), path, &length),
              static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(call_(kCategory, nullptr, static_cast<DWORD>(INSTALLMODE_EXISTING), path, &length),
              static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(call_(kCategory, L"1033\\NT", static_cast<DWORD>(INSTALLMODE_EXISTING), path, nullptr),
              static_cast<UINT>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(call_(kCategory, L"1033\\NT", static_cast<DWORD>(-4), path, &length),
              static_cast<UINT>(ERROR_INVALID_PARAMETER));
}

TEST_F(MsiStandin, ExpandableRegistrationsAreExpanded) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"WinplatMsiTestDir",
                                        L"C:\\Program Files\\Common Files\\System\\MSMAPI\\1033"));
    WCHAR path[520];
    DWORD length = 520;
    EXPECT_EQ(call_(kCategory, L"expand", static_cast<DWORD>(INSTALLMODE_EXISTING), path, &length),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(std::wstring(path), kPath);
    ASSERT_TRUE(SetEnvironmentVariableW(L"WinplatMsiTestDir", nullptr));
}

TEST_F(MsiStandin, InjectedFailureIsTheResult) {
    winplat::inject::Scope scope;
    winplat::inject::arm("MsiProvideQualifiedComponentW", ERROR_INSTALL_FAILURE);
    WCHAR path[520];
    DWORD length = 520;
    EXPECT_EQ(call_(kCategory, L"1033\\NT", static_cast<DWORD>(INSTALLMODE_EXISTING), path, &length),
              static_cast<UINT>(ERROR_INSTALL_FAILURE));
    EXPECT_EQ(call_(kCategory, L"1033\\NT", static_cast<DWORD>(INSTALLMODE_EXISTING), path, &length),
              static_cast<UINT>(ERROR_SUCCESS));
    EXPECT_EQ(winplat::inject::calls("MsiProvideQualifiedComponentW"), 2);
}
