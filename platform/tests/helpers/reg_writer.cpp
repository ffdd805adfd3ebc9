// Writes to the registry file named by WINPLAT_REGISTRY, for the registry
// tests that need other processes:
//   reg_writer loop               rewrites HKCU\Software\Crash until killed: each round
//                                 sets "Payload" (32 KiB, every byte the round's low byte),
//                                 "R<round>" and then "Round" (dwords)
//   reg_writer values <tag> <n>   sets <tag>_0 .. <tag>_<n-1> (REG_SZ "<tag>:<i>") under
//                                 HKCU\Software\Concurrent, then exits 0
//   reg_writer hold <tag> <n>     the same, then waits (a minute at most) for a value
//                                 "Stop" there before it exits 0
//   reg_writer leave <tag> <n>    the same, then ends at once, as if killed, with its
//                                 changes left in the journal
//   reg_writer nest <tag> <n>     creates HKCU\Software\Race\P<i % 4>\<tag>_<i> and sets
//                                 its "v" to i, for i below n
//   reg_writer prune <n>          n times tries to delete each HKCU\Software\Race\P<k>
//   reg_writer count <tag> <n>    sets HKCU\Software\Race\Counters "<tag>" to 1 .. n
// A first argument "coarse" rounds file times to 4 ms ticks, as coarse file
// systems do. Exit 1 on a failed call, printing it.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <unistd.h>

#include "winplat/inject.h"
#include "winplat/registry.h"
#include "winplat/utf16.h"

namespace {

int failed(const char* what, LSTATUS rc) {
    std::fprintf(stderr, "reg_writer: %s failed with %d\n", what, static_cast<int>(rc));
    return 1;
}

int loop() {
    HKEY key;
    LSTATUS rc = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Crash", 0, nullptr, 0, KEY_ALL_ACCESS,
                                 nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) {
        return failed("RegCreateKeyExW", rc);
    }
    // Go on from the round a killed writer reached.
    DWORD round = 0, cb = sizeof round;
    if (RegQueryValueExW(key, L"Round", nullptr, nullptr, reinterpret_cast<BYTE*>(&round), &cb) !=
        ERROR_SUCCESS) {
        round = 0;
    }
    std::vector<BYTE> payload(32 * 1024);
    for (++round;; ++round) {
        std::fill(payload.begin(), payload.end(), static_cast<BYTE>(round));
        rc = RegSetValueExW(key, L"Payload", 0, REG_BINARY, payload.data(),
                            static_cast<DWORD>(payload.size()));
        if (rc != ERROR_SUCCESS) {
            return failed("RegSetValueExW", rc);
        }
        const std::wstring mark = L"R" + std::to_wstring(round);
        rc = RegSetValueExW(key, mark.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&round),
                            sizeof round);
        if (rc != ERROR_SUCCESS) {
            return failed("RegSetValueExW", rc);
        }
        rc = RegSetValueExW(key, L"Round", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&round), sizeof round);
        if (rc != ERROR_SUCCESS) {
            return failed("RegSetValueExW", rc);
        }
    }
}

int values(const std::string& tag, int n) {
    HKEY key;
    LSTATUS rc = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Concurrent", 0, nullptr, 0, KEY_WRITE,
                                 nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) {
        return failed("RegCreateKeyExW", rc);
    }
    for (int i = 0; i < n; ++i) {
        const std::wstring name = winplat::utf8ToUtf16(tag + "_" + std::to_string(i));
        const std::wstring data = winplat::utf8ToUtf16(tag + ":" + std::to_string(i));
        rc = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                            static_cast<DWORD>((data.size() + 1) * sizeof(WCHAR)));
        if (rc != ERROR_SUCCESS) {
            return failed("RegSetValueExW", rc);
        }
    }
    RegCloseKey(key);
    return 0;
}

int hold(const std::string& tag, int n) {
    if (const int rc = values(tag, n)) {
        return rc;
    }
    for (int ms = 0; ms < 60000; ++ms) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Concurrent", 0, KEY_READ, &key) == ERROR_SUCCESS) {
            const LSTATUS rc = RegQueryValueExW(key, L"Stop", nullptr, nullptr, nullptr, nullptr);
            RegCloseKey(key);
            if (rc == ERROR_SUCCESS) {
                return 0;
            }
        }
        usleep(1000);
    }
    std::fprintf(stderr, "reg_writer: no Stop came\n");
    return 3;
}

std::wstring raceKey(int parent) {
    return L"Software\\Race\\P" + std::to_wstring(parent);
}

int nest(const std::string& tag, int n) {
    for (int i = 0; i < n; ++i) {
        const std::wstring path =
            raceKey(i % 4) + L"\\" + winplat::utf8ToUtf16(tag) + L"_" + std::to_wstring(i);
        HKEY key;
        LSTATUS rc = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                     &key, nullptr);
        if (rc != ERROR_SUCCESS) {
            return failed("RegCreateKeyExW", rc);
        }
        const DWORD v = static_cast<DWORD>(i);
        rc = RegSetValueExW(key, L"v", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
        RegCloseKey(key);
        if (rc != ERROR_SUCCESS) {
            return failed("RegSetValueExW", rc);
        }
    }
    return 0;
}

int prune(int n) {
    for (int i = 0; i < n; ++i) {
        const LSTATUS rc = RegDeleteKeyW(HKEY_CURRENT_USER, raceKey(i % 4).c_str());
        if (rc != ERROR_SUCCESS && rc != ERROR_ACCESS_DENIED && rc != ERROR_FILE_NOT_FOUND) {
            return failed("RegDeleteKeyW", rc);
        }
    }
    return 0;
}

int count(const std::string& tag, int n) {
    HKEY key;
    LSTATUS rc = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Race\\Counters", 0, nullptr, 0,
                                 KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) {
        return failed("RegCreateKeyExW", rc);
    }
    const std::wstring name = winplat::utf8ToUtf16(tag);
    for (DWORD i = 1; i <= static_cast<DWORD>(n); ++i) {
        rc = RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&i), sizeof i);
        if (rc != ERROR_SUCCESS) {
            return failed("RegSetValueExW", rc);
        }
    }
    RegCloseKey(key);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "coarse") {
        winplat::inject::arm("RegistryCoarseFileTimes", 2000, -1);
        --argc;
        ++argv;
    }
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "loop") {
        return loop();
    }
    if (mode == "values" && argc == 4) {
        return values(argv[2], std::atoi(argv[3]));
    }
    if (mode == "leave" && argc == 4) {
        const int rc = values(argv[2], std::atoi(argv[3]));
        _exit(rc);
    }
    if (mode == "hold" && argc == 4) {
        return hold(argv[2], std::atoi(argv[3]));
    }
    if (mode == "nest" && argc == 4) {
        return nest(argv[2], std::atoi(argv[3]));
    }
    if (mode == "prune" && argc == 3) {
        return prune(std::atoi(argv[2]));
    }
    if (mode == "count" && argc == 4) {
        return count(argv[2], std::atoi(argv[3]));
    }
    std::fprintf(stderr,
                 "usage: reg_writer [coarse] loop | values|hold|leave|nest|count <tag> <n> | prune <n>\n");
    return 2;
}
