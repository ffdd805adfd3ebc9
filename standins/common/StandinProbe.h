// The test side of a stand-in: its record and counters, reached through the
// exports every stand-in module has (standins/common/Standin.h).
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "winplat/modules.h"

// A stand-in module's record, reached through its handle (all zero while it
// is not loaded).
class Standin {
  public:
    explicit Standin(const wchar_t* name) : name_(name) {}

    int64_t counter(const char* name) const {
        auto fn = proc<int64_t (*)(const char*)>("standinCounter");
        return fn ? fn(name) : 0;
    }
    std::vector<std::string> calls() const {
        std::vector<std::string> out;
        if (auto fn = proc<void (*)(std::vector<std::string>*)>("standinCalls")) {
            fn(&out);
        }
        return out;
    }
    void reset() const {
        if (auto fn = proc<void (*)()>("standinReset")) {
            fn();
        }
    }
    bool loaded() const { return GetModuleHandleW(name_) != nullptr; }

  private:
    template <class Fn>
    Fn proc(const char* name) const {
        HMODULE m = GetModuleHandleW(name_);
        return m ? reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(GetProcAddress(m, name))) : nullptr;
    }

    const wchar_t* name_;
};

// Bytes of a GUID in memory order.
inline std::string guidBytes(const GUID& g) {
    return std::string(reinterpret_cast<const char*>(&g), sizeof(g));
}

inline std::string fromHex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

// {0A1B2C3D-4E5F-4A6B-8C7D-8E9FA0B1C2nn} in memory order.
inline std::string storeBytes(int n) {
    char last[3];
    std::snprintf(last, sizeof(last), "%02x", n);
    return fromHex(std::string("3d2c1b0a5f4e6b4a8c7d8e9fa0b1c2") + last);
}

// The stand-in runtime's wrapping of the 24-byte store entry identifier.
inline std::string wrappedEntryId(const std::string& store) {
    std::string id = std::string(4, '\0') + store + std::string(4, '\0');
    std::string wrapped = std::string(4, '\0') + fromHex("38a1bb1005e5101aa1bb08002b2a56c2") +
                          std::string(2, '\0') + "ZAVUZU.DLL" + std::string(1, '\0');
    wrapped += std::string((4 - wrapped.size() % 4) % 4, '\0');
    return wrapped + id;
}
