// Generated worlds for the tool benchmarks: 10, 100 or 1,000 stores cycling
// through the four kinds (primary, public, delegated, unknown), and a profile
// with a section of each store's kind per store, the primary and public ones
// last in enumeration order, so every search walks the whole profile.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <string>

#include "demo/World.h"
#include "platform/tests/test_folder.h"

namespace benchworld {

// Untimed runs first (modules loaded, files cached, allocator pools made), so
// a plain run reports steady state.
constexpr double kWarmUp = 0.2;

namespace fs = std::filesystem;

const char* const Kinds[] = {"primary", "public", "delegate", "other"};
const char* const ProviderHex[] = {"41794ca664235e408b55fe855e5a7ea7", "2d0c3c56c2f98e4c85f7dff1d4d19e82",
                                   "15e43bb846c4dd4a9d325c040ade1c3d", "00112233445566778899aabbccddeeff"};

inline std::string bytesOfHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

inline std::string utf16z(const std::string& ascii) {
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

inline Generated generate(int stores, world::Build build) {
    std::string root = testfolder::fresh("storeset-bench-" + std::to_string(stores) +
                                         (build == world::Build::v71 ? "-71-" : "-"));
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
    g.world = world::layOut(root, reg.str(), "Bench", db.str(), world::standinFolder(), build);
    g.pristine = world::readFile(g.world.registryFile);
    return g;
}

// The worlds made so far, removed when the program ends. They outlive the
// registry's own fold at exit: that is registered during the runs, after
// this object was made, and so runs before it is destroyed.
struct Worlds {
    std::map<int, Generated> byStores;
    Worlds() = default;
    Worlds(const Worlds&) = delete;
    Worlds& operator=(const Worlds&) = delete;
    ~Worlds() {
        for (const auto& [stores, g] : byStores) {
            std::error_code ignored;
            fs::remove_all(g.world.root, ignored);
        }
    }
};

inline Generated& worldOf(int stores, world::Build build) {
    static Worlds worlds;
    auto it = worlds.byStores.find(stores);
    if (it == worlds.byStores.end()) {
        it = worlds.byStores.emplace(stores, generate(stores, build)).first;
    }
    return it->second;
}

inline void restore(const Generated& g) {
    world::writeFile(g.world.registryFile, g.pristine);
    world::activate(g.world.root);
}

}  // namespace benchworld
