// Windows path mapping, full paths, shell helpers and the environment.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "files_testroot.h"
#include "winplat/files.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/shell.h"
#include "winplat/utf16.h"

using winplat::paths::toPosix;
using winplat::paths::toWindows;

namespace {

std::wstring fullPathOf(const wchar_t* name, std::wstring* filePart = nullptr) {
    WCHAR buf[MAX_PATH];
    LPWSTR part = nullptr;
    DWORD n = GetFullPathNameW(name, MAX_PATH, buf, &part);
    EXPECT_GT(n, 0u);
    EXPECT_LT(n, static_cast<DWORD>(MAX_PATH));
    if (filePart) {
        *filePart = part ? std::wstring(part) : std::wstring(L"<null>");
    }
    return std::wstring(buf, n);
}

std::wstring removeFileSpec(const wchar_t* in, BOOL* removed) {
    WCHAR buf[MAX_PATH];
    wcscpy(buf, in);
    *removed = PathRemoveFileSpecW(buf);
    return buf;
}

}  // namespace

TEST(FilesPaths, DrivePathsResolveEachComponentWithoutRegardToCase) {
    FilesTestRoot root;
    root.write("c/Program Files/Mail Client/OLMAPI32.dll", "x");
    const std::string want = root.path() + "/c/Program Files/Mail Client/OLMAPI32.dll";
    EXPECT_EQ(toPosix(L"C:\\Program Files\\Mail Client\\OLMAPI32.dll"), want);
    EXPECT_EQ(toPosix(L"c:/program files\\MAIL CLIENT/olmapi32.DLL"), want);
    EXPECT_EQ(toPosix(L"C:\\\\PROGRAM FILES//mail client\\\\Olmapi32.Dll"), want);
    // Components that do not exist keep their spelling, and so do those after.
    EXPECT_EQ(toPosix(L"c:\\PROGRAM FILES\\New Folder\\Mail Client\\A.txt"),
              root.path() + "/c/Program Files/New Folder/Mail Client/A.txt");
    // Drive letters are lower-case folders whether they exist or not.
    EXPECT_EQ(toPosix(L"D:\\Data"), root.path() + "/d/Data");
}

TEST(FilesPaths, ExactSpellingWinsOverCaseVariantsAndVariantsPickTheFirst) {
    FilesTestRoot root;
    root.mkdir("c/data");
    root.mkdir("c/Data");
    EXPECT_EQ(toPosix(L"C:\\data"), root.path() + "/c/data");
    EXPECT_EQ(toPosix(L"C:\\Data"), root.path() + "/c/Data");
    EXPECT_EQ(toPosix(L"C:\\DATA"), root.path() + "/c/Data");  // "Data" < "data" in byte order
}

TEST(FilesPaths, DotsFoldLexicallyAndNeverClimbAboveTheDrive) {
    FilesTestRoot root;
    root.mkdir("c/Windows/System32");
    EXPECT_EQ(toPosix(L"C:\\windows\\.\\temp\\..\\system32"), root.path() + "/c/Windows/System32");
    EXPECT_EQ(toPosix(L"C:\\..\\..\\windows"), root.path() + "/c/Windows");
    EXPECT_EQ(toPosix(L"C:\\windows\\"), root.path() + "/c/Windows/");
    EXPECT_EQ(toPosix(L"C:\\"), root.path() + "/c/");
    EXPECT_EQ(toPosix(L"C:"), root.path() + "/c");
    EXPECT_EQ(toPosix(L"C:windows"), root.path() + "/c/Windows");
    EXPECT_EQ(toPosix(L"\\\\?\\C:\\windows"), root.path() + "/c/Windows");
}

TEST(FilesPaths, PosixPathsPassUnchangedExceptBackslashes) {
    FilesTestRoot root;
    EXPECT_EQ(toPosix(L"/usr/LIB/x.so"), "/usr/LIB/x.so");
    EXPECT_EQ(toPosix(L"/tmp/dir\\TAV1.TMP"), "/tmp/dir/TAV1.TMP");
    EXPECT_EQ(toPosix(L"/"), "/");
}

TEST(FilesPaths, RelativeAndRootedPathsFollowTheCurrentDirectory) {
    FilesTestRoot root;
    root.write("c/Program Files/Mail Client/olmapi32.dll");
    ASSERT_EQ(chdir((root.path() + "/c/Program Files").c_str()), 0);
    EXPECT_EQ(toPosix(L"MAIL CLIENT\\OLMAPI32.DLL"),
              root.path() + "/c/Program Files/Mail Client/olmapi32.dll");
    EXPECT_EQ(toPosix(L"..\\program files\\mail client"), root.path() + "/c/Program Files/Mail Client");
    EXPECT_EQ(toPosix(L"\\program files"), root.path() + "/c/Program Files");

    std::wstring part;
    EXPECT_EQ(fullPathOf(L"x\\..\\y.txt", &part), L"C:\\Program Files\\y.txt");
    EXPECT_EQ(part, L"y.txt");
    EXPECT_EQ(fullPathOf(L"\\Windows\\", &part), L"C:\\Windows\\");
    EXPECT_EQ(part, L"<null>");
}

TEST(FilesPaths, NonWindowsLocationsAreReportedInPosixForm) {
    testfolder::Scoped outside("winplat-outside-");  // beside the root, not under it
    FilesTestRoot root;
    ASSERT_EQ(chdir(outside.path().c_str()), 0);
    std::wstring part;
    EXPECT_EQ(fullPathOf(L"a\\b/./c.txt", &part), winplat::utf8ToUtf16(outside.path()) + L"/a/b/c.txt");
    EXPECT_EQ(part, L"c.txt");
    EXPECT_EQ(fullPathOf(L"\\x"), L"C:\\x");
}

TEST(FilesPaths, ReverseMappingGivesDrivePathsUnderTheRootOnly) {
    FilesTestRoot root;
    EXPECT_EQ(toWindows(root.path() + "/c/Program Files/x.dll"), L"C:\\Program Files\\x.dll");
    EXPECT_EQ(toWindows(root.path() + "/d"), L"D:\\");
    EXPECT_EQ(toWindows(root.path() + "/c/dir/"), L"C:\\dir\\");
    const std::string outside = root.path() + "/cc/x";
    EXPECT_EQ(toWindows(outside), std::wstring(outside.begin(), outside.end()));
    EXPECT_EQ(toWindows("/usr/lib/x.so"), L"/usr/lib/x.so");
    EXPECT_EQ(toWindows("/usr//lib/./a/../x.so"), L"/usr/lib/x.so");
    // What the platform reports maps back to the same file.
    root.write("c/Mixed Case/File.BIN");
    std::string posix = root.path() + "/c/Mixed Case/File.BIN";
    EXPECT_EQ(toPosix(toWindows(posix)), posix);
}

TEST(FilesPaths, FullPathNameReportsSizesTheWin32Way) {
    FilesTestRoot root;
    const wchar_t* name = L"c:/a/./b/../file.txt";
    DWORD needed = GetFullPathNameW(name, 0, nullptr, nullptr);
    EXPECT_EQ(needed, wcslen(L"c:\\a\\file.txt") + 1);
    WCHAR small[5] = {L'#', L'#', L'#', L'#', L'#'};
    EXPECT_EQ(GetFullPathNameW(name, 5, small, nullptr), needed);
    EXPECT_EQ(small[0], L'#');  // not written
    WCHAR buf[MAX_PATH];
    LPWSTR part = nullptr;
    EXPECT_EQ(GetFullPathNameW(name, needed, buf, &part), needed - 1);
    EXPECT_STREQ(buf, L"c:\\a\\file.txt");
    EXPECT_EQ(part, buf + 5);

    SetLastError(0);
    EXPECT_EQ(GetFullPathNameW(L"", MAX_PATH, buf, nullptr), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
}

TEST(FilesPaths, PathRemoveFileSpecKeepsRoots) {
    BOOL removed = FALSE;
    EXPECT_EQ(removeFileSpec(L"C:\\a\\b.dll", &removed), L"C:\\a");
    EXPECT_TRUE(removed);
    EXPECT_EQ(removeFileSpec(L"C:\\a\\", &removed), L"C:\\a");
    EXPECT_TRUE(removed);
    EXPECT_EQ(removeFileSpec(L"C:\\a", &removed), L"C:\\");
    EXPECT_TRUE(removed);
    EXPECT_EQ(removeFileSpec(L"C:\\", &removed), L"C:\\");
    EXPECT_FALSE(removed);
    EXPECT_EQ(removeFileSpec(L"C:", &removed), L"C:");
    EXPECT_FALSE(removed);
    EXPECT_EQ(removeFileSpec(L"file.txt", &removed), L"");
    EXPECT_TRUE(removed);
    EXPECT_EQ(removeFileSpec(L"\\x", &removed), L"\\");
    EXPECT_TRUE(removed);
    EXPECT_EQ(removeFileSpec(L"/tmp/x.so", &removed), L"/tmp");
    EXPECT_TRUE(removed);
    EXPECT_EQ(removeFileSpec(L"", &removed), L"");
    EXPECT_FALSE(removed);
    EXPECT_FALSE(PathRemoveFileSpecW(nullptr));
}

TEST(FilesPaths, SystemFoldersAndBufferSizes) {
    WCHAR buf[MAX_PATH];
    EXPECT_EQ(GetSystemDirectoryW(buf, MAX_PATH), 19u);
    EXPECT_STREQ(buf, L"C:\\Windows\\system32");
    EXPECT_EQ(GetWindowsDirectoryW(buf, MAX_PATH), 10u);
    EXPECT_STREQ(buf, L"C:\\Windows");
    WCHAR small[19];
    small[0] = L'#';
    EXPECT_EQ(GetSystemDirectoryW(small, 19), 20u);
    EXPECT_EQ(small[0], L'#');

    winplat::inject::Scope scope;
    winplat::inject::arm("GetSystemDirectoryW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(GetSystemDirectoryW(buf, MAX_PATH), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

TEST(FilesPaths, TempPathFollowsTmpInEitherForm) {
    FilesTestRoot root;
    std::string tmp;
    bool hadTmp = getenv("TMP") != nullptr;
    if (hadTmp)
        tmp = getenv("TMP");
    WCHAR buf[MAX_PATH];

    setenv("TMP", "C:\\Users\\Me\\AppData\\Local\\..\\Temp", 1);
    EXPECT_EQ(GetTempPathW(MAX_PATH, buf), wcslen(L"C:\\Users\\Me\\AppData\\Temp\\"));
    EXPECT_STREQ(buf, L"C:\\Users\\Me\\AppData\\Temp\\");

    root.mkdir("c/temp");
    setenv("TMP", (root.path() + "/c/temp").c_str(), 1);
    GetTempPathW(MAX_PATH, buf);
    EXPECT_STREQ(buf, L"C:\\temp\\");

    setenv("TMP", "/var/tmp", 1);
    DWORD n = GetTempPathW(MAX_PATH, buf);
    EXPECT_STREQ(buf, L"/var/tmp/");
    EXPECT_EQ(n, 9u);
    EXPECT_EQ(GetTempPathW(9, buf), 10u);

    {
        winplat::inject::Scope scope;
        winplat::inject::arm("GetTempPathW", ERROR_ACCESS_DENIED);
        EXPECT_EQ(GetTempPathW(MAX_PATH, buf), 0u);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    if (hadTmp) {
        setenv("TMP", tmp.c_str(), 1);
    } else {
        unsetenv("TMP");
    }
}

TEST(FilesEnvironment, NamesCompareWithoutRegardToCase) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"WinplatTestVar", L"C:\\Program Files"));
    WCHAR buf[64];
    EXPECT_EQ(GetEnvironmentVariableW(L"WINPLATTESTVAR", buf, 64), 16u);
    EXPECT_STREQ(buf, L"C:\\Program Files");
    EXPECT_EQ(GetEnvironmentVariableW(L"winplattestvar", buf, 16), 17u);  // too small: size with terminator
    // Setting another spelling replaces the variable rather than adding one.
    ASSERT_TRUE(SetEnvironmentVariableW(L"WINPLATTESTVAR", L"x"));
    EXPECT_EQ(getenv("WinplatTestVar"), nullptr);
    EXPECT_STREQ(getenv("WINPLATTESTVAR"), "x");
    ASSERT_TRUE(SetEnvironmentVariableW(L"winplatTESTvar", nullptr));
    SetLastError(0);
    EXPECT_EQ(GetEnvironmentVariableW(L"WinplatTestVar", buf, 64), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ENVVAR_NOT_FOUND));
    EXPECT_FALSE(SetEnvironmentVariableW(L"A=B", L"x"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(FilesEnvironment, ExpandReplacesKnownNamesAndKeepsTheRest) {
    ASSERT_TRUE(SetEnvironmentVariableW(L"WinplatProgramFiles", L"C:\\Program Files"));
    ASSERT_TRUE(SetEnvironmentVariableW(L"WinplatNoSuchVar", nullptr));
    const wchar_t* src = L"%winplatprogramfiles%\\x;%WinplatNoSuchVar%;50%;%%";
    const std::wstring want = L"C:\\Program Files\\x;%WinplatNoSuchVar%;50%;%%";
    DWORD needed = ExpandEnvironmentStringsW(src, nullptr, 0);
    EXPECT_EQ(needed, want.size() + 1);
    WCHAR small[8] = {L'#'};
    EXPECT_EQ(ExpandEnvironmentStringsW(src, small, 8), needed);
    EXPECT_EQ(small[0], L'#');
    WCHAR buf[128];
    EXPECT_EQ(ExpandEnvironmentStringsW(src, buf, 128), needed);
    EXPECT_EQ(std::wstring(buf), want);
    ASSERT_TRUE(SetEnvironmentVariableW(L"WinplatProgramFiles", nullptr));

    winplat::inject::Scope scope;
    winplat::inject::arm("ExpandEnvironmentStringsW", ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(ExpandEnvironmentStringsW(src, buf, 128), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

TEST(FilesPaths, RelativeRootIsTakenFromTheCurrentDirectory) {
    FilesTestRoot root;
    std::filesystem::path full(root.path());
    ASSERT_EQ(chdir(full.parent_path().c_str()), 0);
    setenv("WINPLAT_ROOT", full.filename().c_str(), 1);
    EXPECT_EQ(toPosix(L"C:\\x"), root.path() + "/c/x");
    EXPECT_EQ(toWindows(root.path() + "/c/x"), L"C:\\x");
}
