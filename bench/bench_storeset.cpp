// Storeset on generated worlds of 10, 100 and 1,000 stores, run in-process
// against the stand-ins. The stores cycle through the four kinds (primary,
// public, delegated, unknown) and the profile has a section of each store's
// kind per store, the primary and public ones last in enumeration order, so
// every search walks the whole profile. Every iteration starts from the same
// registry file.
//
// Peers in the same run: the registry writes alone (three per adopted store,
// each written through to the file) and the section search alone, to show
// where the time goes.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <sstream>
#include <unistd.h>

#include "Tools/Storeset/Storeset.h"
#include "demo/World.h"
#include "winplat/console.h"

namespace {

// Untimed runs first (modules loaded, files cached, allocator pools made), so
// a plain run reports steady state.
constexpr double kWarmUp = 0.2;

namespace fs = std::filesystem;

const char* const Kinds[] = {"primary", "public", "delegate", "other"};
const char* const ProviderHex[] = {"41794ca664235e408b55fe855e5a7ea7", "2d0c3c56c2f98e4c85f7dff1d4d19e82",
                                   "15e43bb846c4dd4a9d325c040ade1c3d", "00112233445566778899aabbccddeeff"};

std::string bytesOfHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

std::string utf16z(const std::string& ascii) {
    std::string out;
    for (char c : ascii + '\0') {
        out += c;
        out += '\0';
    }
    return out;
}

struct Generated {
    world::World world;
    std::string pristine;  // the registry file before any run
};

Generated generate(int stores) {
    std::string root = (fs::temp_directory_path() /
                        ("storeset-bench-" + std::to_string(getpid()) + "-" + std::to_string(stores)))
                           .string();
    std::ostringstream reg;
    std::string profile = std::string("HKEY_CURRENT_USER\\") + world::ProfilesKey + "\\Bench";
    reg << "Windows Registry Editor Version 5.00\n\n[" << profile << "]\n\n";
    reg << "[" << profile << "\\" << world::ServiceSection << "]\n";
    reg << "\"001f6708\"=" << world::regHex(utf16z("C:\\ProgramData\\Connector\\Bench.db")) << "\n";
    reg << "\"001e660c\"=" << world::regHex(std::string("bench-server") + '\0') << "\n\n";
    std::ostringstream db;
    for (int i = 0; i < stores; ++i) {
        int kind = i % 4;
        char guid[64];
        std::snprintf(guid, sizeof(guid), "{%08X-4E5F-4A6B-8C7D-8E9FA0B1C2%02X}", i, kind);
        db << guid << " " << Kinds[kind] << "\n";
        // Delegated and unknown kinds sort first, so searches walk past them.
        char section[40];
        std::snprintf(section, sizeof(section), "%c%031x", kind < 2 ? 'f' : '0', i);
        reg << "[" << profile << "\\" << section << "]\n";
        reg << "\"01023414\"=" << world::regHex(bytesOfHex(ProviderHex[kind])) << "\n";
        reg << "\"01020ff9\"=" << world::regHex(std::string(16, '\xAA')) << "\n";
        reg << "\"01020ffa\"=" << world::regHex(std::string(16, '\xAA')) << "\n";
        reg << "\"01020fff\"=" << world::regHex(std::string(24, '\xAA')) << "\n\n";
    }
    Generated g;
    g.world = world::layOut(root, reg.str(), "Bench", db.str(), world::standinFolder());
    g.pristine = world::readFile(g.world.registryFile);
    return g;
}

Generated& worldOf(int stores) {
    static std::map<int, Generated> worlds;
    auto it = worlds.find(stores);
    if (it == worlds.end()) {
        it = worlds.emplace(stores, generate(stores)).first;
    }
    return it->second;
}

void restore(const Generated& g) {
    world::writeFile(g.world.registryFile, g.pristine);
    world::activate(g.world.root);
}

void BM_Storeset(benchmark::State& state) {
    Generated& g = worldOf(static_cast<int>(state.range(0)));
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
    Generated& g = worldOf(static_cast<int>(state.range(0)));
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
    Generated& g = worldOf(static_cast<int>(state.range(0)));
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
