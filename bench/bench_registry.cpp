// The registry's write-through: one value set in a registry file of K keys
// (each with four binary values, about 450 bytes of file per key). A set
// appends its key to the journal beside the file, and the whole file is
// rewritten only when the journal has outgrown it, so the cost per write
// stays near flat in K; the in-memory registry (no file) shows the part that
// is not the file.
// Peers: a pass of subkey enumeration with a value read per key, the
// pattern of a search through a profile; a read of an unchanged key beside a
// std::map lookup of the same tree. Reads beside another user's large file
// of zeros where the lock file or the journal stands, each beside the same
// reads with no such file: it is refused unread, so it costs about nothing.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "platform/tests/test_folder.h"
#include "winplat/console.h"
#include "winplat/inject.h"
#include "winplat/registry.h"

namespace {

// Untimed runs first (modules loaded, files cached, allocator pools made), so
// a plain run reports steady state.
constexpr double kWarmUp = 0.2;

namespace fs = std::filesystem;

const std::wstring kBase = L"Software\\Bench";

std::string hexBytes(int n, int fill) {
    std::string out = "hex:";
    char buf[4];
    for (int i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", (fill + i) & 0xFF);
        out += (i ? "," : "");
        out += buf;
    }
    return out;
}

// The files of the run go when it ends, once the registry has let go of
// them (its rewrite at exit would otherwise come after).
struct Folder {
    fs::path path = testfolder::fresh("registry-bench-");
    ~Folder() {
        ::unsetenv("WINPLAT_REGISTRY");
        winplat::registry::reload();
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

const fs::path& folder() {
    static Folder f;
    return f.path;
}

// Writes a registry file of `keys` keys at `path`.
void writeRegistryFile(const std::string& path, int keys) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "Windows Registry Editor Version 5.00\n\n";
    for (int i = 0; i < keys; ++i) {
        out << "[HKEY_CURRENT_USER\\Software\\Bench\\" << 100000 + i << "]\n";
        out << "\"01023414\"=" << hexBytes(16, i) << "\n";
        out << "\"01020ff9\"=" << hexBytes(16, 0xAA) << "\n";
        out << "\"01020ffa\"=" << hexBytes(16, 0xAA) << "\n";
        out << "\"01020fff\"=" << hexBytes(24, 0xAA) << "\n\n";
    }
}

// A fresh registry of `keys` keys in a file of its own, or in memory.
void makeRegistry(int keys, bool file) {
    if (!file) {
        ::unsetenv("WINPLAT_REGISTRY");
        winplat::registry::reload();
        for (int i = 0; i < keys; ++i) {
            HKEY k = nullptr;
            const std::wstring name = kBase + L"\\" + std::to_wstring(100000 + i);
            RegCreateKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                            nullptr);
            BYTE v[16] = {static_cast<BYTE>(i)};
            RegSetValueExW(k, L"01020ff9", 0, REG_BINARY, v, sizeof v);
            RegCloseKey(k);
        }
        return;
    }
    const fs::path& dir = folder();
    fs::create_directories(dir);
    const std::string path = (dir / ("r" + std::to_string(keys) + ".reg")).string();
    writeRegistryFile(path, keys);
    ::setenv("WINPLAT_REGISTRY", path.c_str(), 1);
    winplat::registry::reload();
}

// Sets one value of `valueSize` bytes, again and again, in a registry of
// range(0) keys.
void writes(benchmark::State& state, bool file, size_t valueSize = 16) {
    const int keys = static_cast<int>(state.range(0));
    makeRegistry(keys, file);
    const std::wstring name = kBase + L"\\" + std::to_wstring(100000 + keys / 2);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        state.SkipWithError("no key");
        return;
    }
    std::vector<BYTE> value(valueSize, 1);
    for (auto _ : state) {
        ++value[1];
        if (RegSetValueExW(key, L"01020ff9", 0, REG_BINARY, value.data(), static_cast<DWORD>(value.size())) !=
            ERROR_SUCCESS) {
            state.SkipWithError("write failed");
            break;
        }
    }
    RegCloseKey(key);
    state.counters["keys"] = keys;
}

void BM_WriteThroughFile(benchmark::State& state) {
    writes(state, true);
}
BENCHMARK(BM_WriteThroughFile)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond)
    ->MinWarmUpTime(kWarmUp);

// A large value written through: what a change costs beside its record.
void BM_WriteLargeValue(benchmark::State& state) {
    writes(state, true, static_cast<size_t>(state.range(1)));
    state.counters["bytes"] = static_cast<double>(state.range(1));
}
BENCHMARK(BM_WriteLargeValue)
    ->Args({100, 4096})
    ->Args({100, 65536})
    ->Unit(benchmark::kMicrosecond)
    ->MinWarmUpTime(kWarmUp);

void BM_WriteInMemory(benchmark::State& state) {
    writes(state, false);
}
BENCHMARK(BM_WriteInMemory)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond)
    ->MinWarmUpTime(kWarmUp);

void BM_EnumerateAndRead(benchmark::State& state) {
    const int keys = static_cast<int>(state.range(0));
    makeRegistry(keys, true);
    HKEY base = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kBase.c_str(), 0, KEY_READ, &base) != ERROR_SUCCESS) {
        state.SkipWithError("no key");
        return;
    }
    for (auto _ : state) {
        wchar_t name[256];
        for (DWORD i = 0;; ++i) {
            DWORD chars = 256;
            if (RegEnumKeyExW(base, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                break;
            }
            HKEY k = nullptr;
            RegOpenKeyExW(base, name, 0, KEY_READ, &k);
            BYTE data[16];
            DWORD size = sizeof data;
            RegQueryValueExW(k, L"01023414", nullptr, nullptr, data, &size);
            RegCloseKey(k);
        }
    }
    RegCloseKey(base);
    state.counters["keys"] = keys;
}
BENCHMARK(BM_EnumerateAndRead)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMicrosecond)
    ->MinWarmUpTime(kWarmUp);

// Loading a file of `values` values of 16 bytes: in one key, and the same
// lines spread over keys of ten values each (the peer). A name is found
// through an index, so one large key loads about as fast as many small ones.
void loads(benchmark::State& state, bool oneKey) {
    const int values = static_cast<int>(state.range(0));
    const fs::path& dir = folder();
    fs::create_directories(dir);
    const std::string path = (dir / (oneKey ? "one-key.reg" : "many-keys.reg")).string();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "Windows Registry Editor Version 5.00\n\n";
        for (int i = 0; i < values; ++i) {
            if (i == 0 || (!oneKey && i % 10 == 0)) {
                out << "\n[HKEY_CURRENT_USER\\Software\\Bench\\" << (oneKey ? 0 : 100000 + i / 10) << "]\n";
            }
            out << "\"v" << 100000 + i << "\"=" << hexBytes(16, i) << "\n";
        }
    }
    ::setenv("WINPLAT_REGISTRY", path.c_str(), 1);
    for (auto _ : state) {
        if (winplat::registry::reload() != ERROR_SUCCESS) {
            state.SkipWithError("load failed");
            break;
        }
    }
    state.counters["values"] = values;
    state.counters["bytes"] = static_cast<double>(fs::file_size(path));
}

void BM_LoadOneKey(benchmark::State& state) {
    loads(state, true);
}
BENCHMARK(BM_LoadOneKey)->Arg(100000)->Unit(benchmark::kMillisecond)->MinWarmUpTime(kWarmUp);

void BM_LoadManyKeys(benchmark::State& state) {
    loads(state, false);
}
BENCHMARK(BM_LoadManyKeys)->Arg(100000)->Unit(benchmark::kMillisecond)->MinWarmUpTime(kWarmUp);

// A read of a value of a key nobody changes, through an open handle of the
// file-backed registry; the peer is the same lookup in a std::map of the
// same tree (key path, then value name).
void BM_ReadUnchangedKey(benchmark::State& state) {
    const int keys = static_cast<int>(state.range(0));
    makeRegistry(keys, true);
    const std::wstring name = kBase + L"\\" + std::to_wstring(100000 + keys / 2);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        state.SkipWithError("no key");
        return;
    }
    BYTE data[16];
    for (auto _ : state) {
        DWORD size = sizeof data;
        benchmark::DoNotOptimize(RegQueryValueExW(key, L"01020ff9", nullptr, nullptr, data, &size));
    }
    RegCloseKey(key);
    state.counters["keys"] = keys;
}
BENCHMARK(BM_ReadUnchangedKey)->Arg(1000)->Unit(benchmark::kNanosecond);

void BM_StdMapLookup(benchmark::State& state) {
    const int keys = static_cast<int>(state.range(0));
    std::map<std::wstring, std::map<std::wstring, std::vector<BYTE>>> tree;
    for (int i = 0; i < keys; ++i) {
        auto& values = tree[L"HKEY_CURRENT_USER\\" + kBase + L"\\" + std::to_wstring(100000 + i)];
        for (const wchar_t* v : {L"01023414", L"01020ff9", L"01020ffa", L"01020fff"}) {
            values[v] = std::vector<BYTE>(16, static_cast<BYTE>(i));
        }
    }
    const std::wstring name = L"HKEY_CURRENT_USER\\" + kBase + L"\\" + std::to_wstring(100000 + keys / 2);
    BYTE data[16];
    for (auto _ : state) {
        const auto& v = tree.find(name)->second.find(L"01020ff9")->second;
        std::memcpy(data, v.data(), v.size());
        benchmark::DoNotOptimize(data);
    }
    state.counters["keys"] = keys;
}
BENCHMARK(BM_StdMapLookup)->Arg(1000)->Unit(benchmark::kNanosecond);

// Another user's file of zeros beside a registry: what a neighbour or a
// power cut can leave where the lock file or the journal stands.
constexpr off_t kOthersFileSize = off_t{256} << 20;
constexpr uid_t kOtherUser = 65534;

// The registry file `name` of 100 keys, only this process's to write (a file
// open to all would trust anyone's file beside it), and loaded.
std::string besideRegistry(const std::string& name) {
    const fs::path& dir = folder();
    fs::create_directories(dir);
    const std::string path = (dir / name).string();
    for (const char* beside : {"", ".lock", ".journal"}) {
        ::unlink((path + beside).c_str());
    }
    writeRegistryFile(path, 100);
    ::chmod(path.c_str(), 0644);
    ::setenv("WINPLAT_REGISTRY", path.c_str(), 1);
    winplat::registry::reload();
    return path;
}

// Puts another user's file of kOthersFileSize written zeros (not holes),
// then `tail`, at `path`, on disk so that no write-back runs under the
// reads; false (with the reason in `state`) when it cannot.
bool plantOthersFile(benchmark::State& state, const std::string& path, const std::string& tail) {
    if (::geteuid() != 0) {
        state.SkipWithError("needs root: the file beside the registry is made another user's");
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const std::string zeros(size_t{1} << 20, '\0');
    bool written = fd >= 0;
    for (off_t at = 0; written && at < kOthersFileSize; at += static_cast<off_t>(zeros.size())) {
        written = ::pwrite(fd, zeros.data(), zeros.size(), at) == static_cast<ssize_t>(zeros.size());
    }
    written = written &&
              ::pwrite(fd, tail.data(), tail.size(), kOthersFileSize) == static_cast<ssize_t>(tail.size()) &&
              ::fchown(fd, kOtherUser, kOtherUser) == 0 && ::fdatasync(fd) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!written) {
        state.SkipWithError("cannot make the file beside the registry");
        ::unlink(path.c_str());
    }
    return written;
}

int64_t coarseMillis() {
    struct timespec t {};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

// A read of a process with no lock file it may use, spaced (untimed) past
// the registry's interval of checks for outside changes, 10 ms, so that
// every read looks at the files again: with no lock file (0), and beside
// another user's lock file of 256 MiB of zeros (1), which it opens, refuses
// and looks for again at every read. `looks`: the looks at the content of a
// file beside the registry in all the reads.
void BM_ReadEveryCheck(benchmark::State& state) {
    winplat::inject::reset();
    const bool planted = state.range(0) != 0;
    const std::string path = besideRegistry(planted ? "beside-lock.reg" : "beside-none.reg");
    if (planted && !plantOthersFile(state, path + ".lock", "")) {
        return;
    }
    state.SetLabel(planted ? "another user's lock file of 256 MiB of zeros" : "no lock file");
    const winplat::console::Capture quiet;  // the refusal, said once
    HKEY key = nullptr;
    const std::wstring name = kBase + L"\\" + std::to_wstring(100050);
    if (RegOpenKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        state.SkipWithError("no key");
        return;
    }
    BYTE data[16];
    for (auto _ : state) {
        state.PauseTiming();
        for (const int64_t from = coarseMillis(); coarseMillis() - from <= 10;) {
            ::usleep(1000);
        }
        state.ResumeTiming();
        DWORD size = sizeof data;
        if (RegQueryValueExW(key, L"01020ff9", nullptr, nullptr, data, &size) != ERROR_SUCCESS) {
            state.SkipWithError("read failed");
            break;
        }
    }
    state.counters["looks"] = static_cast<double>(winplat::inject::calls("RegistryBesideLook"));
    RegCloseKey(key);
    ::unlink((path + ".lock").c_str());
}
BENCHMARK(BM_ReadEveryCheck)->Arg(0)->Arg(1)->Iterations(200)->Unit(benchmark::kMicrosecond);

// A process's first read (its load, then a value): with no journal (0), and
// beside another user's journal of 256 MiB of zeros and one byte, other
// content, refused unread (1).
void BM_FirstRead(benchmark::State& state) {
    const bool planted = state.range(0) != 0;
    const std::string path = besideRegistry(planted ? "beside-journal.reg" : "beside-nothing.reg");
    if (planted && !plantOthersFile(state, path + ".journal", "\x01")) {
        return;
    }
    state.SetLabel(planted ? "another user's journal of 256 MiB of zeros and a byte" : "no journal");
    const winplat::console::Capture quiet;  // the refusal, said once
    const std::wstring name = kBase + L"\\" + std::to_wstring(100050);
    BYTE data[16];
    for (auto _ : state) {
        HKEY key = nullptr;
        DWORD size = sizeof data;
        if (winplat::registry::reload() != ERROR_SUCCESS ||
            RegOpenKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS ||
            RegQueryValueExW(key, L"01020ff9", nullptr, nullptr, data, &size) != ERROR_SUCCESS) {
            state.SkipWithError("read failed");
            break;
        }
        RegCloseKey(key);
    }
    ::unlink((path + ".journal").c_str());
}
BENCHMARK(BM_FirstRead)->Arg(0)->Arg(1)->Iterations(2000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
