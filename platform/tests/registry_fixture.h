// Shared set-up of the registry tests: a registry file in a fresh temporary
// folder, loaded through WINPLAT_REGISTRY.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "test_folder.h"
#include "winplat/inject.h"
#include "winplat/registry.h"

namespace regtest {

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// UTF-16LE bytes with a BOM, as the Windows registry editor exports.
inline std::string utf16File(std::u16string_view text) {
    std::string out = "\xFF\xFE";
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

inline struct stat statOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st;
}

inline std::vector<BYTE> bytesOf(std::initializer_list<int> v) {
    return std::vector<BYTE>(v.begin(), v.end());
}

// Reads a value with a buffer of exactly the reported size.
inline LSTATUS queryRaw(HKEY key, const wchar_t* name, DWORD& type, std::vector<BYTE>& data) {
    DWORD cb = 0;
    LSTATUS rc = RegQueryValueExW(key, name, nullptr, &type, nullptr, &cb);
    if (rc != ERROR_SUCCESS) {
        return rc;
    }
    data.assign(cb, 0xCC);
    rc = RegQueryValueExW(key, name, nullptr, &type, data.data(), &cb);
    data.resize(cb);
    return rc;
}

inline LSTATUS setString(HKEY key, const wchar_t* name, const std::wstring& text, DWORD type = REG_SZ) {
    return RegSetValueExW(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

inline LSTATUS setBytes(HKEY key, const wchar_t* name, const std::vector<BYTE>& data,
                        DWORD type = REG_BINARY) {
    return RegSetValueExW(key, name, 0, type, data.data(), static_cast<DWORD>(data.size()));
}

// Returns once the clock the registry reads for its checks of outside
// changes (and, without a lock file, of other processes' writes) has moved
// past their interval, 10 ms, since the call: the next call that reads looks
// at the files again, however fast or slow the processes before it ran.
inline void passOutsideCheckInterval() {
    const auto now = [] {
        struct timespec t {};
        clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
        return static_cast<long long>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
    };
    const long long start = now();
    while (now() - start <= 10) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        winplat::inject::reset();
        winplat::registry::clearDeniedKeys();
        dir_ = testfolder::fresh("winplat_reg_");
        file_ = (dir_ / "registry.reg").string();
        setenv("WINPLAT_REGISTRY", file_.c_str(), 1);
        ASSERT_EQ(winplat::registry::reload(), ERROR_SUCCESS);
        handlesAtStart_ = winplat::registry::openKeyCount();
    }

    void TearDown() override {
        EXPECT_EQ(winplat::registry::openKeyCount(), handlesAtStart_) << "registry handles leaked";
        unsetenv("WINPLAT_REGISTRY");
        winplat::registry::reload();
        winplat::registry::clearDeniedKeys();
        winplat::inject::reset();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    // Writes the file and loads it.
    LSTATUS load(const std::string& bytes) {
        writeBytes(file_, bytes);
        return winplat::registry::reload();
    }

    // The file as it stands once the journal is written into it.
    std::string fileText() const {
        winplat::registry::flush();
        return readBytes(file_);
    }

    // Another program replaces the file; reads notice it once the interval
    // of the checks for outside changes has passed.
    void replaceFromOutside(const std::string& bytes) {
        writeBytes(file_, bytes);
        passOutsideCheckInterval();
    }

    std::set<std::string> folderFiles() const {
        std::set<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) {
            out.insert(e.path().filename().string());
        }
        return out;
    }

    std::vector<std::string> strayFiles() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(dir_)) {
            const std::string n = e.path().filename().string();
            if (n != "registry.reg" && n != "registry.reg.lock" && n != "registry.reg.journal") {
                out.push_back(n);
            }
        }
        return out;
    }

    std::filesystem::path dir_;
    std::string file_;
    size_t handlesAtStart_ = 0;
};

// Closes a key at the end of a scope.
struct KeyHolder {
    HKEY key = nullptr;
    ~KeyHolder() {
        if (key) {
            RegCloseKey(key);
        }
    }
    HKEY* out() { return &key; }
    operator HKEY() const { return key; }
};

// The registry the journal tests start from, and a dword of its key
// HKCU\Software\Journal as this process reads it (-1 when it cannot).
inline const std::string kBase =
    "Windows Registry Editor Version "
    "5.00\n\n[HKEY_CURRENT_USER\\Software\\Journal]\n\"Base\"=dword:00000001\n";

// Sets a dword of HKCU\Software\Journal, creating the key when needed.
inline LSTATUS setDword(const std::wstring& name, DWORD v) {
    KeyHolder key;
    const LSTATUS rc = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Journal", 0, nullptr, 0, KEY_ALL_ACCESS,
                                       nullptr, key.out(), nullptr);
    return rc != ERROR_SUCCESS
               ? rc
               : RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}

inline long long dwordOf(const std::wstring& name) {
    KeyHolder key;
    DWORD v = 0, cb = sizeof v;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Journal", 0, KEY_READ, key.out()) != ERROR_SUCCESS ||
        RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &cb) !=
            ERROR_SUCCESS) {
        return -1;
    }
    return v;
}

}  // namespace regtest
