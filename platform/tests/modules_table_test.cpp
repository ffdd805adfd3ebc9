// The module table: names, search order, exports, reference counts.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "files_testroot.h"
#include "winplat/files.h"
#include "winplat/inject.h"
#include "winplat/kernel.h"
#include "winplat/modules.h"

extern char** environ;

namespace {

std::string testModule(const std::string& name) {
    return std::string(WINPLAT_TESTMOD_DIR) + "/" + name + ".so";
}

// Places a built test module below the root under a Windows file name.
std::string install(const FilesTestRoot& root, const std::string& module, const std::string& relative) {
    std::string target = root.path() + "/" + relative;
    std::filesystem::create_directories(std::filesystem::path(target).parent_path());
    std::filesystem::copy_file(testModule(module), target, std::filesystem::copy_options::overwrite_existing);
    return target;
}

int whoAmI(HMODULE h) {
    auto fn = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(h, "whoAmI")));
    return fn ? fn() : -1;
}

std::wstring fileNameOf(HMODULE h) {
    WCHAR buf[1024];
    DWORD n = GetModuleFileNameW(h, buf, 1024);
    return std::wstring(buf, n);
}

int localFunction() {
    return 0;
}

// Runs a program to its end: its exit status, -1 when it did not exit.
int exitStatusOf(std::vector<std::string> arguments) {
    std::vector<char*> argv;
    for (std::string& a : arguments) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

}  // namespace

TEST(ModulesTable, ModuleLoadedByPathIsKnownByItsBaseNameInAnyCase) {
    FilesTestRoot root;
    install(root, "modtest_alpha", "c/program files/connector/HollomarPS.dll");
    size_t before = winplat::modules::loadedCount();
    HMODULE h = LoadLibraryW(L"C:\\PROGRAM FILES\\Connector\\hollomarps.DLL");
    ASSERT_NE(h, nullptr) << winplat::modules::lastLoadError();
    EXPECT_EQ(winplat::modules::loadedCount(), before + 1);
    EXPECT_EQ(GetModuleHandleW(L"HollomarPS"), h);
    EXPECT_EQ(GetModuleHandleW(L"HOLLOMARPS.DLL"), h);
    EXPECT_EQ(GetModuleHandleW(L"C:\\Program Files\\connector\\hollomarps.dll"), h);
    SetLastError(0);
    EXPECT_EQ(GetModuleHandleW(L"HollomarPS.so"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(GetModuleHandleW(L"HollomarPS."), nullptr);  // a trailing dot means no extension
    // The file name is reported in Windows form with the on-disk spelling.
    EXPECT_EQ(fileNameOf(h), L"C:\\program files\\connector\\HollomarPS.dll");
    EXPECT_EQ(whoAmI(h), 1);
    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_EQ(GetModuleHandleW(L"HollomarPS"), nullptr);
    EXPECT_EQ(winplat::modules::loadedCount(), before);
}

TEST(ModulesTable, ReferenceCountsFollowLoadsHandlesAndFrees) {
    FilesTestRoot root;
    install(root, "modtest_alpha", "c/mods/Counted.dll");
    HMODULE h = LoadLibraryW(L"C:\\mods\\Counted.dll");
    ASSERT_NE(h, nullptr) << winplat::modules::lastLoadError();
    EXPECT_EQ(LoadLibraryExW(L"c:\\MODS\\counted", nullptr, 0), h);  // ".dll" added to a path too
    EXPECT_EQ(LoadLibraryW(L"counted"), h);                          // a bare name finds the loaded module
    EXPECT_EQ(winplat::modules::referenceCount(h), 3);
    HMODULE got = nullptr;
    EXPECT_TRUE(GetModuleHandleExW(0, L"Counted.dll", &got));
    EXPECT_EQ(got, h);
    EXPECT_EQ(winplat::modules::referenceCount(h), 4);
    EXPECT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, L"counted", &got));
    EXPECT_EQ(GetModuleHandleW(L"counted"), h);
    EXPECT_EQ(winplat::modules::referenceCount(h), 4);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(FreeLibrary(h));
        EXPECT_EQ(GetModuleHandleW(L"counted"), h);
    }
    EXPECT_EQ(winplat::modules::referenceCount(h), 1);
    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_EQ(GetModuleHandleW(L"counted"), nullptr);
    SetLastError(0);
    EXPECT_FALSE(FreeLibrary(h));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    got = reinterpret_cast<HMODULE>(1);
    EXPECT_FALSE(GetModuleHandleExW(0, L"counted", &got));
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(ModulesTable, BareNamesAreSearchedInWindowsOrderOverTheMappedFolders) {
    FilesTestRoot root;
    install(root, "modtest_alpha", "c/windows/system32/Probe.dll");
    install(root, "modtest_beta", "c/dlls/probe.dll");

    HMODULE h = LoadLibraryW(L"probe");
    ASSERT_NE(h, nullptr) << winplat::modules::lastLoadError();
    EXPECT_EQ(whoAmI(h), 1);  // system directory
    EXPECT_TRUE(FreeLibrary(h));

    ASSERT_TRUE(SetDllDirectoryW(L"C:\\DLLS"));
    WCHAR dir[MAX_PATH];
    EXPECT_EQ(GetDllDirectoryW(MAX_PATH, dir), 7u);
    EXPECT_STREQ(dir, L"C:\\DLLS");
    h = LoadLibraryW(L"PROBE.DLL");
    ASSERT_NE(h, nullptr) << winplat::modules::lastLoadError();
    EXPECT_EQ(whoAmI(h), 2);  // the DLL directory comes before the system directory
    EXPECT_TRUE(FreeLibrary(h));

    // The program's folder comes first of all: a probe program run from a
    // folder of its own, not the build's, finds the module beside it before
    // the DLL directory's, and the DLL directory's once that one is gone.
    const testfolder::Scoped program("winplat-program-");
    const std::string probe = program.path() + "/winplat_module_probe";
    std::filesystem::copy_file(std::string(WINPLAT_HELPER_DIR) + "/winplat_module_probe", probe);
    std::filesystem::copy_file(testModule("modtest_alpha"), program.path() + "/first.dll");
    install(root, "modtest_beta", "c/dlls/first.dll");
    EXPECT_EQ(exitStatusOf({probe, "first", "C:\\DLLS"}), 1);
    std::filesystem::remove(program.path() + "/first.dll");
    EXPECT_EQ(exitStatusOf({probe, "first", "C:\\DLLS"}), 2);

    ASSERT_TRUE(SetDllDirectoryW(nullptr));
    dir[0] = L'#';
    EXPECT_EQ(GetDllDirectoryW(MAX_PATH, dir), 0u);
    EXPECT_EQ(dir[0], 0);
    h = LoadLibraryW(L"probe");
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(whoAmI(h), 1);
    EXPECT_TRUE(FreeLibrary(h));

    // dlopen's own search is never used.
    SetLastError(0);
    EXPECT_EQ(LoadLibraryW(L"libm.so.6"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(LoadLibraryW(L"nowhere"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(ModulesTable, ExportsByNameDecoratedNameAndOrdinal) {
    FilesTestRoot root;
    install(root, "modtest_alpha", "c/m/alpha.dll");
    install(root, "modtest_beta", "c/m/beta.dll");
    HMODULE a = LoadLibraryW(L"C:\\m\\alpha.dll");
    HMODULE b = LoadLibraryW(L"C:\\m\\beta.dll");
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(a, b);
    // The same name in two modules: each module's own.
    EXPECT_EQ(whoAmI(a), 1);
    EXPECT_EQ(whoAmI(b), 2);

    auto decorated =
        reinterpret_cast<int (*)(int)>(reinterpret_cast<void*>(GetProcAddress(a, "Decorated@4")));
    ASSERT_NE(decorated, nullptr);
    EXPECT_EQ(decorated(38), 42);
    EXPECT_EQ(reinterpret_cast<void*>(GetProcAddress(a, "Decorated_4")), reinterpret_cast<void*>(decorated));
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(a, "Undecorated@4"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

    auto seven = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(a, MAKEINTRESOURCEA(7))));
    ASSERT_NE(seven, nullptr);
    EXPECT_EQ(seven(), 7);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(a, MAKEINTRESOURCEA(8)), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(GetProcAddress(b, MAKEINTRESOURCEA(7)), nullptr);

    // Hidden symbols are not exports; a dependency's exports are not this
    // module's, although dlsym finds them through it.
    EXPECT_EQ(GetProcAddress(a, "hiddenHelper"), nullptr);
    void* raw = dlopen((root.path() + "/c/m/alpha.dll").c_str(), RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(raw, nullptr);
    EXPECT_NE(dlsym(raw, "GetLastError"), nullptr);
    dlclose(raw);
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(a, "GetLastError"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));

    EXPECT_TRUE(FreeLibrary(a));
    EXPECT_TRUE(FreeLibrary(b));
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(a, "whoAmI"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(ModulesTable, HandlesFromAddresses) {
    FilesTestRoot root;
    install(root, "modtest_alpha", "c/m/alpha.dll");
    HMODULE a = LoadLibraryW(L"C:\\m\\alpha.dll");
    ASSERT_NE(a, nullptr);
    auto fn = reinterpret_cast<LPCWSTR>(GetProcAddress(a, "whoAmI"));
    HMODULE got = nullptr;
    EXPECT_TRUE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, fn, &got));
    EXPECT_EQ(got, a);
    EXPECT_EQ(winplat::modules::referenceCount(a), 1);
    EXPECT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, fn, &got));
    EXPECT_EQ(winplat::modules::referenceCount(a), 2);
    EXPECT_TRUE(FreeLibrary(a));
    EXPECT_TRUE(FreeLibrary(a));
    EXPECT_EQ(GetModuleHandleW(L"alpha"), nullptr);

    // The program itself.
    EXPECT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                   reinterpret_cast<LPCWSTR>(&localFunction), &got));
    EXPECT_EQ(got, GetModuleHandleW(nullptr));
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    ASSERT_GT(n, 0);
    EXPECT_EQ(fileNameOf(nullptr), winplat::paths::toWindows(std::string(exe, static_cast<size_t>(n))));
    EXPECT_EQ(fileNameOf(got), fileNameOf(nullptr));
    EXPECT_TRUE(FreeLibrary(got));  // pinned: nothing happens
    EXPECT_EQ(GetModuleHandleW(nullptr), got);

    // A library the program links: reached by address, pinned.
    EXPECT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                   reinterpret_cast<LPCWSTR>(&GetLastError), &got));
    EXPECT_NE(got, GetModuleHandleW(nullptr));
    EXPECT_TRUE(fileNameOf(got).ends_with(L"libwinplat.so"));
    EXPECT_EQ(winplat::modules::referenceCount(got), -1);

    int onStack = 0;
    SetLastError(0);
    EXPECT_FALSE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                                    reinterpret_cast<LPCWSTR>(&onStack), &got));
    EXPECT_EQ(got, nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_FALSE(GetModuleHandleExW(
        GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT, nullptr, &got));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(GetModuleHandleExW(0x100, nullptr, &got));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(GetModuleHandleExW(0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(ModulesTable, PinnedModulesStay) {
    FilesTestRoot root;
    install(root, "modtest_alpha", "c/m/pinned.dll");
    HMODULE h = LoadLibraryW(L"C:\\m\\pinned.dll");
    ASSERT_NE(h, nullptr);
    HMODULE got = nullptr;
    EXPECT_TRUE(GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"pinned", &got));
    EXPECT_EQ(got, h);
    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_EQ(GetModuleHandleW(L"pinned"), h);
    EXPECT_EQ(whoAmI(h), 1);
}

TEST(ModulesTable, ConstructorsMayCallBackWhileTheModuleLoads) {
    FilesTestRoot root;
    install(root, "modtest_beta", "c/m/Reentrant.dll");
    HMODULE h = LoadLibraryW(L"C:\\m\\Reentrant.dll");
    ASSERT_NE(h, nullptr) << winplat::modules::lastLoadError();
    auto seen = reinterpret_cast<HMODULE (*)()>(
        reinterpret_cast<void*>(GetProcAddress(h, "moduleSeenByConstructor")));
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(seen(), h);
    // The entry made during construction became an ordinary counted load.
    EXPECT_EQ(winplat::modules::referenceCount(h), 1);
    EXPECT_EQ(GetModuleHandleW(L"reentrant"), h);
    EXPECT_TRUE(FreeLibrary(h));
    EXPECT_EQ(GetModuleHandleW(L"reentrant"), nullptr);
}

TEST(ModulesTable, LoadFailuresAsWindowsReportsThem) {
    FilesTestRoot root;
    root.write("c/m/text.dll", "this is not a module");
    std::string elf = FilesTestRoot::read(testModule("modtest_alpha"));
    root.write("c/m/cut.dll", elf.substr(0, 64));
    install(root, "modtest_unresolved", "c/m/unresolved.dll");
    size_t before = winplat::modules::loadedCount();
    // noFile: the load found nothing by the name, which a caller reports as
    // missing rather than as broken.
    struct Case {
        const wchar_t* name;
        DWORD error;
        bool noFile;
    } cases[] = {
        {L"C:\\m\\missing.dll", ERROR_MOD_NOT_FOUND, true},
        {L"C:\\m\\text.dll", ERROR_BAD_EXE_FORMAT, false},
        {L"C:\\nofolder\\x.dll", ERROR_MOD_NOT_FOUND, true},
        {L"C:\\m\\cut.dll", ERROR_BAD_EXE_FORMAT, false},
        {L"C:\\m", ERROR_MOD_NOT_FOUND, true},
        {L"nosuchmodule", ERROR_MOD_NOT_FOUND, true},
        {L"C:\\m\\unresolved.dll", ERROR_PROC_NOT_FOUND, false},
        {L"", ERROR_INVALID_PARAMETER, false},
        {nullptr, ERROR_INVALID_PARAMETER, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name ? c.name : L"(null)");
        SetLastError(0);
        EXPECT_EQ(LoadLibraryW(c.name), nullptr);
        EXPECT_EQ(GetLastError(), c.error);
        EXPECT_EQ(winplat::modules::lastLoadFoundNoFile(), c.noFile);
    }
    EXPECT_NE(winplat::modules::lastLoadError().find("winplatTestFunctionNobodyExports"), std::string::npos);
    install(root, "modtest_alpha", "c/m/alpha.dll");
    EXPECT_EQ(LoadLibraryExW(L"C:\\m\\alpha.dll", INVALID_HANDLE_VALUE, 0), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(LoadLibraryExW(L"C:\\m\\alpha.dll", nullptr, 0x2 /* as data file */), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(winplat::modules::loadedCount(), before);
}

TEST(ModulesTable, InjectedFailuresLoadNothing) {
    FilesTestRoot root;
    install(root, "modtest_alpha", "c/m/alpha.dll");
    size_t before = winplat::modules::loadedCount();
    winplat::inject::Scope scope;
    winplat::inject::arm("LoadLibraryW", ERROR_DLL_INIT_FAILED);
    EXPECT_EQ(LoadLibraryW(L"C:\\m\\alpha.dll"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
    winplat::inject::arm("LoadLibraryExW", ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryExW(L"C:\\m\\alpha.dll", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    EXPECT_EQ(winplat::modules::loadedCount(), before);
    EXPECT_EQ(GetModuleHandleW(L"alpha"), nullptr);

    HMODULE h = LoadLibraryExW(L"C:\\m\\alpha.dll", nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    ASSERT_NE(h, nullptr);
    winplat::inject::arm("GetProcAddress", ERROR_PROC_NOT_FOUND);
    EXPECT_EQ(GetProcAddress(h, "whoAmI"), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
    EXPECT_EQ(whoAmI(h), 1);  // armed once only
    EXPECT_TRUE(FreeLibrary(h));
}

TEST(ModulesTable, ModuleFileNameBufferRules) {
    FilesTestRoot root;
    install(root, "modtest_alpha", "c/m/alpha.dll");
    HMODULE h = LoadLibraryW(L"C:\\m\\alpha.dll");
    ASSERT_NE(h, nullptr);
    WCHAR buf[8];
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(h, buf, 8), 8u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_STREQ(buf, L"C:\\m\\al");
    WCHAR exact[15];
    EXPECT_EQ(GetModuleFileNameW(h, exact, 15), 14u);
    EXPECT_STREQ(exact, L"C:\\m\\alpha.dll");
    EXPECT_TRUE(FreeLibrary(h));
    SetLastError(0);
    EXPECT_EQ(GetModuleFileNameW(h, exact, 15), 0u);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
}

TEST(ModulesTable, ConcurrentLoadsAndFreesKeepTheCountsRight) {
    FilesTestRoot root;
    install(root, "modtest_alpha", "c/m/shared.dll");
    size_t before = winplat::modules::loadedCount();
    HMODULE keep = LoadLibraryW(L"C:\\m\\shared.dll");
    ASSERT_NE(keep, nullptr);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                HMODULE h = LoadLibraryW(i % 2 ? L"C:\\M\\SHARED.DLL" : L"shared");
                if (h != keep || whoAmI(h) != 1 || !FreeLibrary(h)) {
                    ++wrong;
                }
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(winplat::modules::referenceCount(keep), 1);
    EXPECT_TRUE(FreeLibrary(keep));
    EXPECT_EQ(winplat::modules::loadedCount(), before);
}
