// File handles: dispositions, I/O and the file pointer, sharing,
// delete-on-close, temporary files and failures.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "files_testroot.h"
#include "winplat/files.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/time.h"

namespace {

HANDLE open(const wchar_t* name, DWORD access, DWORD share, DWORD disposition,
            DWORD flags = FILE_ATTRIBUTE_NORMAL) {
    return CreateFileW(name, access, share, nullptr, disposition, flags, nullptr);
}

std::string readAll(HANDLE h) {
    LARGE_INTEGER zero{};
    EXPECT_TRUE(SetFilePointerEx(h, zero, nullptr, FILE_BEGIN));
    std::string out(4096, '\0');
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(h, out.data(), static_cast<DWORD>(out.size()), &n, nullptr));
    out.resize(n);
    return out;
}

bool write(HANDLE h, const std::string& s) {
    DWORD n = 0;
    return WriteFile(h, s.data(), static_cast<DWORD>(s.size()), &n, nullptr) && n == s.size();
}

LARGE_INTEGER li(int64_t v) {
    LARGE_INTEGER r;
    r.QuadPart = v;
    return r;
}

}  // namespace

TEST(FilesHandles, DispositionsCreateOpenAndTruncateAsOnWindows) {
    FilesTestRoot root;
    std::string file = root.write("c/data/Existing.txt", "old content");
    const DWORD rw = GENERIC_READ | GENERIC_WRITE;

    SetLastError(0);
    EXPECT_EQ(open(L"C:\\DATA\\existing.TXT", rw, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_EXISTS));
    EXPECT_EQ(FilesTestRoot::read(file), "old content");

    HANDLE h = open(L"C:\\Data\\existing.txt", rw, 0, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(readAll(h), "old content");
    EXPECT_TRUE(CloseHandle(h));

    h = open(L"C:\\Data\\existing.txt", rw, 0, CREATE_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(readAll(h), "");
    EXPECT_TRUE(write(h, "new"));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(FilesTestRoot::read(file), "new");

    h = open(L"C:\\Data\\existing.txt", GENERIC_WRITE, 0, TRUNCATE_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(FilesTestRoot::read(file), "");

    h = open(L"C:\\Data\\Fresh.txt", rw, 0, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(FilesTestRoot::exists(root.path() + "/c/data/Fresh.txt"));  // new names keep their spelling
}

TEST(FilesHandles, OpenFailuresSetTheWin32Error) {
    FilesTestRoot root;
    root.mkdir("c/dir");
    struct Case {
        const wchar_t* name;
        DWORD access;
        DWORD disposition;
        DWORD error;
    } cases[] = {
        {L"C:\\dir\\missing.txt", GENERIC_READ, OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {L"C:\\nodir\\missing.txt", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {L"C:\\nodir\\new.txt", GENERIC_WRITE, CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {L"C:\\dir", GENERIC_READ, OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {L"C:\\dir\\x.txt", GENERIC_READ, TRUNCATE_EXISTING, ERROR_INVALID_PARAMETER},
        {L"C:\\dir\\x.txt", GENERIC_READ, 0, ERROR_INVALID_PARAMETER},
        {L"C:\\dir\\x.txt", GENERIC_READ, 6, ERROR_INVALID_PARAMETER},
        {L"", GENERIC_READ, OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
    };
    for (const auto& c : cases) {
        SetLastError(0);
        EXPECT_EQ(open(c.name, c.access, 0, c.disposition), INVALID_HANDLE_VALUE) << c.disposition;
        EXPECT_EQ(GetLastError(), c.error) << c.disposition;
    }
    EXPECT_FALSE(FilesTestRoot::exists(root.path() + "/c/dir/x.txt"));
}

TEST(FilesHandles, ReadWriteAndTheFilePointer) {
    FilesTestRoot root;
    HANDLE h = open(L"C:\\f.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(write(h, "hello world"));
    LARGE_INTEGER pos;
    EXPECT_TRUE(SetFilePointerEx(h, li(-5), &pos, FILE_CURRENT));
    EXPECT_EQ(pos.QuadPart, 6);
    char buf[16] = {};
    DWORD n = 0;
    EXPECT_TRUE(ReadFile(h, buf, 16, &n, nullptr));
    EXPECT_EQ(std::string(buf, n), "world");
    // At or past the end a read succeeds with nothing.
    EXPECT_TRUE(ReadFile(h, buf, 16, &n, nullptr));
    EXPECT_EQ(n, 0u);

    // A negative position is refused and the pointer stays.
    SetLastError(0);
    EXPECT_FALSE(SetFilePointerEx(h, li(-12), &pos, FILE_END));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_FALSE(SetFilePointerEx(h, li(INT64_MIN), &pos, FILE_CURRENT));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_TRUE(SetFilePointerEx(h, li(0), &pos, FILE_CURRENT));
    EXPECT_EQ(pos.QuadPart, 11);
    EXPECT_FALSE(SetFilePointerEx(h, li(0), &pos, 3));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    // Writing past the end leaves a zero gap.
    EXPECT_TRUE(SetFilePointerEx(h, li(4), nullptr, FILE_END));
    EXPECT_TRUE(write(h, "!"));
    EXPECT_EQ(readAll(h), std::string("hello world\0\0\0\0!", 16));

    // The end follows the pointer both ways.
    LARGE_INTEGER size;
    EXPECT_TRUE(SetFilePointerEx(h, li(5), nullptr, FILE_BEGIN));
    EXPECT_TRUE(SetEndOfFile(h));
    EXPECT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 5);
    EXPECT_TRUE(SetFilePointerEx(h, li(3000000), nullptr, FILE_BEGIN));
    EXPECT_TRUE(SetEndOfFile(h));
    EXPECT_TRUE(GetFileSizeEx(h, &size));
    EXPECT_EQ(size.QuadPart, 3000000);
    EXPECT_TRUE(FlushFileBuffers(h));

    // A pointer far past anything a file can hold reads as the end.
    EXPECT_TRUE(SetFilePointerEx(h, li(INT64_MAX - 10), nullptr, FILE_BEGIN));
    EXPECT_TRUE(ReadFile(h, buf, 16, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(WriteFile(h, "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_TRUE(CloseHandle(h));
}

TEST(FilesHandles, SetFilePointerThirtyTwoBitForm) {
    FilesTestRoot root;
    HANDLE h = open(L"C:\\f.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetFilePointer(h, 100, nullptr, FILE_BEGIN), 100u);
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(h, 5, &high, FILE_BEGIN), 5u);
    EXPECT_EQ(high, 1);
    LARGE_INTEGER pos;
    EXPECT_TRUE(SetFilePointerEx(h, li(0), &pos, FILE_CURRENT));
    EXPECT_EQ(pos.QuadPart, (1LL << 32) + 5);
    // Without the high part a result beyond 32 bits is refused.
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(SetFilePointerEx(h, li(0), &pos, FILE_CURRENT));
    EXPECT_EQ(pos.QuadPart, (1LL << 32) + 5);
    EXPECT_TRUE(CloseHandle(h));
}

TEST(FilesHandles, AccessIsCheckedPerHandle) {
    FilesTestRoot root;
    root.write("c/f.txt", "data");
    HANDLE r = open(L"C:\\f.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    HANDLE w = open(L"C:\\f.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    ASSERT_NE(r, INVALID_HANDLE_VALUE);
    ASSERT_NE(w, INVALID_HANDLE_VALUE);
    DWORD n = 7;
    char buf[8];
    EXPECT_FALSE(WriteFile(r, "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(SetEndOfFile(r));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(ReadFile(w, buf, 8, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(FilesTestRoot::read(root.path() + "/c/f.txt"), "data");
    EXPECT_TRUE(CloseHandle(r));
    EXPECT_TRUE(CloseHandle(w));
}

TEST(FilesHandles, ExclusiveOpensRefuseOthersAndTouchNothing) {
    FilesTestRoot root;
    std::string file = root.write("c/shared.txt", "keep me");
    HANDLE first = open(L"C:\\shared.txt", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    SetLastError(0);
    EXPECT_EQ(open(L"c:\\SHARED.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // A refused CREATE_ALWAYS must not truncate what the first handle holds.
    EXPECT_EQ(open(L"C:\\shared.txt", GENERIC_WRITE, 0, CREATE_ALWAYS), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(FilesTestRoot::read(file), "keep me");
    EXPECT_FALSE(DeleteFileW(L"C:\\shared.txt"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(FilesTestRoot::exists(file));
    EXPECT_TRUE(CloseHandle(first));

    // After the close the file is free again.
    HANDLE again = open(L"C:\\shared.txt", GENERIC_READ, 0, OPEN_EXISTING);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(again));
}

TEST(FilesHandles, ShareModesAreCheckedBothWays) {
    FilesTestRoot root;
    root.write("c/s.txt", "x");
    HANDLE reader = open(L"C:\\s.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    HANDLE reader2 = open(L"C:\\s.txt", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    EXPECT_NE(reader2, INVALID_HANDLE_VALUE);  // both share reading
    // A writer is refused by the readers' share mode...
    EXPECT_EQ(open(L"C:\\s.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // ...and a reader that will not share reading is refused by their access.
    EXPECT_EQ(open(L"C:\\s.txt", GENERIC_READ, FILE_SHARE_WRITE, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    // An attributes-only open conflicts with nobody.
    HANDLE attrs = open(L"C:\\s.txt", 0, 0, OPEN_EXISTING);
    EXPECT_NE(attrs, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(attrs));
    EXPECT_TRUE(CloseHandle(reader));
    EXPECT_TRUE(CloseHandle(reader2));

    HANDLE deletable = open(L"C:\\s.txt", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING);
    ASSERT_NE(deletable, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(DeleteFileW(L"C:\\S.TXT"));
    EXPECT_FALSE(FilesTestRoot::exists(root.path() + "/c/s.txt"));
    EXPECT_TRUE(CloseHandle(deletable));
}

TEST(FilesHandles, DeleteOnCloseRemovesTheFileWithTheLastHandle) {
    FilesTestRoot root;
    root.mkdir("c/temp");
    WCHAR name[MAX_PATH];
    ASSERT_NE(GetTempFileNameW(L"C:\\Temp", L"TAV", 0, name), 0u);
    std::string posix = winplat::paths::toPosix(name);
    ASSERT_TRUE(FilesTestRoot::exists(posix));
    HANDLE h = open(name, GENERIC_READ | GENERIC_WRITE, 0, CREATE_ALWAYS,
                    FILE_FLAG_DELETE_ON_CLOSE | FILE_ATTRIBUTE_TEMPORARY);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(write(h, "scratch"));
    HANDLE dup = nullptr;
    ASSERT_TRUE(
        DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_TRUE(FilesTestRoot::exists(posix));  // the duplicate still holds it
    EXPECT_EQ(readAll(dup), "scratch");
    EXPECT_TRUE(CloseHandle(dup));
    EXPECT_FALSE(FilesTestRoot::exists(posix));
}

TEST(FilesHandles, DeleteOnCloseWaitsForEveryOpenAndRefusesNewOnes) {
    FilesTestRoot root;
    std::string posix = root.write("c/t.tmp", "x");
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE plain = open(L"C:\\t.tmp", GENERIC_READ, all, OPEN_EXISTING);
    ASSERT_NE(plain, INVALID_HANDLE_VALUE);
    HANDLE doc =
        open(L"C:\\t.tmp", GENERIC_READ | GENERIC_WRITE, all, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE);
    ASSERT_NE(doc, INVALID_HANDLE_VALUE);
    // An open that does not share deletion is refused while doc is open.
    EXPECT_EQ(open(L"C:\\t.tmp", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_TRUE(CloseHandle(doc));
    EXPECT_TRUE(FilesTestRoot::exists(posix));
    // Delete pending: nobody may open it any more.
    EXPECT_EQ(open(L"C:\\t.tmp", GENERIC_READ, all, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(plain));
    EXPECT_FALSE(FilesTestRoot::exists(posix));
}

TEST(FilesHandles, DeleteOnCloseLeavesANewFileOfTheSameNameAlone) {
    FilesTestRoot root;
    HANDLE doc = open(L"C:\\t.tmp", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_DELETE, CREATE_NEW,
                      FILE_FLAG_DELETE_ON_CLOSE);
    ASSERT_NE(doc, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(DeleteFileW(L"C:\\t.tmp"));
    std::string again = root.write("c/t.tmp", "someone else's");
    EXPECT_TRUE(CloseHandle(doc));
    EXPECT_EQ(FilesTestRoot::read(again), "someone else's");
}

TEST(FilesHandles, FileInformationReportsSizeTimesAndIdentity) {
    FilesTestRoot root;
    // File times come from the kernel's coarse clock, which may lag the precise
    // one by more than a tick: read that same clock before.
    struct timespec coarse;
    clock_gettime(CLOCK_REALTIME_COARSE, &coarse);
    const uint64_t before = 116444736000000000ull + static_cast<uint64_t>(coarse.tv_sec) * 10000000u +
                            static_cast<uint64_t>(coarse.tv_nsec) / 100;
    HANDLE h = open(L"C:\\info.bin", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(write(h, std::string(70000, 'a')));
    BY_HANDLE_FILE_INFORMATION info{};
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_EQ(info.nFileSizeLow, 70000u);
    EXPECT_EQ(info.nFileSizeHigh, 0u);
    EXPECT_EQ(info.nNumberOfLinks, 1u);
    EXPECT_EQ(info.dwFileAttributes, FILE_ATTRIBUTE_NORMAL);
    struct stat st;
    ASSERT_EQ(stat((root.path() + "/c/info.bin").c_str(), &st), 0);
    EXPECT_EQ((static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow, st.st_ino);
    auto ticks = [](const FILETIME& f) {
        return (static_cast<uint64_t>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    };
    // File systems keep coarser clocks: allow a few milliseconds of rounding.
    const uint64_t slack = 10 * 10000;
    EXPECT_GE(ticks(info.ftLastWriteTime) + slack, before);
    EXPECT_GE(ticks(info.ftCreationTime) + slack, before);
    EXPECT_LE(ticks(info.ftCreationTime), ticks(info.ftLastWriteTime));
    EXPECT_TRUE(CloseHandle(h));
}

TEST(FilesHandles, BadHandlesAndKindsAreRefused) {
    char buf[4];
    DWORD n = 0;
    LARGE_INTEGER size;
    SetLastError(0);
    EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, buf, 4, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_FALSE(GetFileSizeEx(event, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(WriteFile(event, "x", 1, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(CloseHandle(event));

    FilesTestRoot root;
    HANDLE h = open(L"C:\\x", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(CloseHandle(h));
    EXPECT_FALSE(GetFileSizeEx(h, &size));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(FilesHandles, InjectedFailuresLeaveNothingBehind) {
    FilesTestRoot root;
    winplat::inject::Scope scope;
    winplat::inject::arm("CreateFileW", ERROR_DISK_FULL);
    EXPECT_EQ(open(L"C:\\new.txt", GENERIC_WRITE, 0, CREATE_NEW), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_FALSE(FilesTestRoot::exists(root.path() + "/c/new.txt"));

    HANDLE h = open(L"C:\\new.txt", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(write(h, "abc"));
    winplat::inject::arm("WriteFile", ERROR_DISK_FULL);
    DWORD n = 9;
    EXPECT_FALSE(WriteFile(h, "def", 3, &n, nullptr));
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    winplat::inject::arm("ReadFile", ERROR_READ_FAULT);
    char buf[4];
    EXPECT_FALSE(ReadFile(h, buf, 4, &n, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_READ_FAULT));
    winplat::inject::arm("SetEndOfFile", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(SetEndOfFile(h));
    winplat::inject::arm("DeleteFileW", ERROR_ACCESS_DENIED);
    EXPECT_FALSE(DeleteFileW(L"C:\\new.txt"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(FilesTestRoot::read(root.path() + "/c/new.txt"), "abc");
}

TEST(FilesHandles, FileAttributes) {
    FilesTestRoot root;
    root.mkdir("c/Folder");
    std::string ro = root.write("c/Folder/ro.txt", "x");
    root.write("c/Folder/rw.txt", "x");
    chmod(ro.c_str(), 0444);
    EXPECT_EQ(GetFileAttributesW(L"c:\\folder"), FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(GetFileAttributesW(L"C:\\FOLDER\\RW.TXT"), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(GetFileAttributesW(L"C:\\Folder\\ro.txt"), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(GetFileAttributesW(L"C:\\Folder\\none.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(GetFileAttributesW(L"C:\\NoFolder\\none.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    // Read-only files cannot be deleted, as on Windows; folders neither.
    EXPECT_FALSE(DeleteFileW(L"C:\\Folder\\ro.txt"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileW(L"C:\\Folder"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(DeleteFileW(L"C:\\Folder\\none.txt"));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(FilesTestRoot::exists(ro));
}

TEST(FilesTempNames, PrefixAndUniqueNumbersAsOnWindows) {
    FilesTestRoot root;
    root.mkdir("c/temp");
    WCHAR a[MAX_PATH], b[MAX_PATH];
    UINT ua = GetTempFileNameW(L"C:\\Temp\\", L"TAVERN", 0, a);
    UINT ub = GetTempFileNameW(L"C:\\Temp", L"TAVERN", 0, b);
    ASSERT_NE(ua, 0u);
    ASSERT_NE(ub, 0u);
    EXPECT_NE(ua, ub);
    wchar_t want[MAX_PATH];
    swprintf(want, MAX_PATH, L"C:\\Temp\\TAV%X.TMP", ua);
    EXPECT_STREQ(a, want);
    swprintf(want, MAX_PATH, L"C:\\Temp\\TAV%X.TMP", ub);
    EXPECT_STREQ(b, want);
    // The files exist, empty.
    EXPECT_EQ(FilesTestRoot::read(winplat::paths::toPosix(a)), "");
    EXPECT_TRUE(FilesTestRoot::exists(winplat::paths::toPosix(b)));

    // A given number only makes the name (lower 16 bits).
    WCHAR c[MAX_PATH];
    EXPECT_EQ(GetTempFileNameW(L"C:\\Temp", L"x", 0x1ABCD, c), 0xABCDu);
    EXPECT_STREQ(c, L"C:\\Temp\\xABCD.TMP");
    EXPECT_FALSE(FilesTestRoot::exists(winplat::paths::toPosix(c)));

    // A POSIX folder gets a POSIX separator.
    std::string posixDir = root.path() + "/c/temp";
    std::wstring wdir(posixDir.begin(), posixDir.end());
    EXPECT_EQ(GetTempFileNameW(wdir.c_str(), L"", 0x12, c), 0x12u);
    EXPECT_EQ(std::wstring(c), wdir + L"/12.TMP");
}

TEST(FilesTempNames, Failures) {
    FilesTestRoot root;
    WCHAR name[MAX_PATH];
    name[0] = L'#';
    EXPECT_EQ(GetTempFileNameW(L"C:\\NoSuchFolder", L"TAV", 0, name), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIRECTORY));
    EXPECT_EQ(name[0], L'#');
    std::wstring longDir = L"C:\\" + std::wstring(MAX_PATH - 16, L'd');
    EXPECT_EQ(GetTempFileNameW(longDir.c_str(), L"TAV", 0, name), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BUFFER_OVERFLOW));

    root.mkdir("c/temp");
    winplat::inject::Scope scope;
    winplat::inject::arm("GetTempFileNameW", ERROR_ACCESS_DENIED);
    EXPECT_EQ(GetTempFileNameW(L"C:\\Temp", L"TAV", 0, name), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(std::filesystem::is_empty(root.path() + "/c/temp"));
}

TEST(FilesTempNames, ConcurrentCallersNeverShareAName) {
    FilesTestRoot root;
    root.mkdir("c/temp");
    std::vector<std::vector<std::wstring>> names(4);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&names, t] {
            for (int i = 0; i < 100; ++i) {
                WCHAR name[MAX_PATH];
                if (GetTempFileNameW(L"C:\\Temp", L"TAV", 0, name) != 0) {
                    names[t].push_back(name);
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    std::set<std::wstring> all;
    for (const auto& list : names) {
        EXPECT_EQ(list.size(), 100u);
        all.insert(list.begin(), list.end());
    }
    EXPECT_EQ(all.size(), 400u);
}
