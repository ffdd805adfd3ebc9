// Storeset on generated worlds of 10, 100 and 1,000 stores (BenchWorld.h),
// run in-process against the stand-ins. Every iteration starts from the same
// registry file. bench_storeset71 times Storeset_7_1 on the same worlds.
//
// Peers in the same run: the registry writes alone (three per adopted store,
// each written through to the file) and the section search alone, to show
// where the time goes.
#include <benchmark/benchmark.h>

#include "Tools/Storeset/Storeset.h"
#include "bench/BenchWorld.h"
#include "winplat/console.h"

namespace {

using namespace benchworld;

void BM_Storeset(benchmark::State& state) {
    Generated& g = worldOf(static_cast<int>(state.range(0)), world::Build::v74);
    std::wstring a0 = L"Storeset", a1 = L"/p", a2 = L"Bench";
    wchar_t* argv[] = {a0.data(), a1.data(), a2.data()};
    for (auto _ : state) {
        state.PauseTiming();
        restore(g);
        state.ResumeTiming();
        winplat::console::Capture quiet;
        if (wmain(3, argv) != 0) {
            state.SkipWithError("Storeset failed");
            break;
        }
    }
    state.counters["stores"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_Storeset)->Arg(10)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->MinWarmUpTime(kWarmUp);

// The writes of one run alone: three values per primary or public store.
void BM_RegistryWrites(benchmark::State& state) {
    Generated& g = worldOf(static_cast<int>(state.range(0)), world::Build::v74);
    restore(g);
    std::wstring path = std::wstring(world::ProfilesKeyW) + L"\\Bench\\f" + std::wstring(31, L'0');
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) {
        state.SkipWithError("no section");
        return;
    }
    int64_t writes = state.range(0) / 2 * 3;
    BYTE value[16] = {1};
    for (auto _ : state) {
        for (int64_t i = 0; i < writes; ++i) {
            value[1] = static_cast<BYTE>(i);
            RegSetValueExW(key, L"01020FF9", 0, REG_BINARY, value, sizeof(value));
        }
    }
    RegCloseKey(key);
    state.counters["writes"] = static_cast<double>(writes);
}
BENCHMARK(BM_RegistryWrites)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->MinWarmUpTime(kWarmUp);

// One pass over every section of the profile, as one search does.
void BM_SectionSearch(benchmark::State& state) {
    Generated& g = worldOf(static_cast<int>(state.range(0)), world::Build::v74);
    restore(g);
    std::wstring path = std::wstring(world::ProfilesKeyW) + L"\\Bench";
    for (auto _ : state) {
        HKEY profile = nullptr;
        RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ | KEY_WRITE, &profile);
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD chars = 256;
            if (RegEnumKeyExW(profile, i, name, &chars, nullptr, nullptr, nullptr, nullptr) !=
                ERROR_SUCCESS) {
                break;
            }
            HKEY section = nullptr;
            RegOpenKeyExW(profile, name, 0, KEY_READ | KEY_WRITE, &section);
            BYTE provider[16];
            DWORD type = 0;
            DWORD size = sizeof(provider);
            RegQueryValueExW(section, L"01023414", nullptr, &type, provider, &size);
            RegCloseKey(section);
        }
        RegCloseKey(profile);
    }
}
BENCHMARK(BM_SectionSearch)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->MinWarmUpTime(kWarmUp);

}  // namespace

BENCHMARK_MAIN();
