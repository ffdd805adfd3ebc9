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
//   reg_writer set <name> <n> [<name> <n> ...]
//                                 sets HKCU\Software\Journal "<name>" to the dword n, one
//                                 change each; exit 0, or 5 when one was refused with
//                                 ERROR_ACCESS_DENIED and the value still reads as before
//   reg_writer keep <name> <n>    sets HKCU\Software\Journal "<name>" to the dword n, prints
//                                 "set", then waits (a minute at most) for a value "Stop"
//                                 there before it exits 0
//   reg_writer check <name> <n> [<name> <n> ...]
//                                 exit 0 when those values read so, else 4 (each
//                                 that does not, on stderr)
//   reg_writer await <seen> <name> waits (30 s at most) for "<name>" there, with "<seen>"
//                                 read first and kept throughout; prints "loaded" when it
//                                 has read the registry first
//   reg_writer open <path>        exit 0 when that file opens for reading, else 4
//   reg_writer stress <tag>       until killed: V_<tag>_<i> = i, "Big_<tag>" (2 KiB of i)
//                                 and N_<tag> = i there, then i (4 bytes) on stdout
//   reg_writer watch              until killed: reads every N_<tag> there again and again;
//                                 exit 4 when one goes back or is gone once read
//   reg_writer script             one command a line on stdin, each answered on stdout by
//                                 one line, "<result>\t<what winplat said meanwhile>" (its
//                                 newlines and backslashes escaped), so a test steps it:
//                                 get <name>, set <name> <n>, del <name> (the dword there,
//                                 -1 when absent; a Win32 code), get|set|del <key> <name>
//                                 [<n>] in HKCU\Software\Journal\<key>, mkkey|delkey <key>,
//                                 haskey <key> (1 or 0),
//                                 and exit (at once, at the end of its input too)
// Leading options, in this order: "as <uid>[+<gid>...]" runs as that user (and
// group), a member of the groups after a '+' as well;
// "fsize <bytes>" sets that file size limit just before it exits; "at <point>
// <signal> <skip>" (as often as wanted) arms the injection point of that name; "fail <point>
// <code>" makes it fail with that code every time; "ignore-sigbus" ignores SIGBUS from the
// start and, once the mode's work is done, raises it and has it sent; "coarse" rounds
// file times to 4 ms ticks, as coarse file systems do. Exit 1 on a failed
// call, printing it.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <grp.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

#include "winplat/console.h"
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

const wchar_t* const kJournalKey = L"Software\\Journal";

LSTATUS setDword(HKEY key, const std::wstring& name, DWORD v) {
    return RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), sizeof v);
}

// The dword value `name` of the journal key, or -1.
long long readDword(const std::wstring& name) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kJournalKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return -1;
    }
    DWORD v = 0, cb = sizeof v;
    const LSTATUS rc =
        RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &cb);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? static_cast<long long>(v) : -1;
}

int set(const std::string& name, DWORD v) {
    const long long before = readDword(winplat::utf8ToUtf16(name));
    HKEY key;
    LSTATUS rc = RegCreateKeyExW(HKEY_CURRENT_USER, kJournalKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                 nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = setDword(key, winplat::utf8ToUtf16(name), v);
        RegCloseKey(key);
    }
    if (rc == ERROR_ACCESS_DENIED) {
        return readDword(winplat::utf8ToUtf16(name)) == before
                   ? 5
                   : failed("set (refused, yet the value changed)", rc);
    }
    return rc == ERROR_SUCCESS ? 0 : failed("set", rc);
}

int keep(const std::string& name, DWORD v) {
    if (const int rc = set(name, v); rc != 0) {
        return rc;
    }
    std::printf("set\n");
    std::fflush(stdout);
    for (int ms = 0; ms < 60000; ++ms) {
        if (readDword(L"Stop") >= 0) {
            return 0;
        }
        usleep(1000);
    }
    std::fprintf(stderr, "reg_writer: Stop never came\n");
    return 3;
}

int await(const std::string& seen, const std::string& name) {
    const std::wstring seenName = winplat::utf8ToUtf16(seen);
    const long long first = readDword(seenName);
    std::printf("loaded\n");
    std::fflush(stdout);
    if (first < 0) {
        std::fprintf(stderr, "reg_writer: %s not read at load\n", seen.c_str());
        return 4;
    }
    for (int ms = 0; ms < 30000; ++ms) {
        if (readDword(seenName) != first) {
            std::fprintf(stderr, "reg_writer: %s went from %lld\n", seen.c_str(), first);
            return 4;
        }
        if (readDword(winplat::utf8ToUtf16(name)) >= 0) {
            return 0;
        }
        usleep(1000);
    }
    std::fprintf(stderr, "reg_writer: %s never came\n", name.c_str());
    return 3;
}

int stress(const std::string& tag) {
    HKEY key;
    LSTATUS rc = RegCreateKeyExW(HKEY_CURRENT_USER, kJournalKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                                 nullptr);
    if (rc != ERROR_SUCCESS) {
        return failed("RegCreateKeyExW", rc);
    }
    const std::wstring wtag = winplat::utf8ToUtf16(tag);
    std::vector<BYTE> big(2048);
    for (DWORD i = 0;; ++i) {
        std::fill(big.begin(), big.end(), static_cast<BYTE>(i));
        if ((rc = setDword(key, L"V_" + wtag + L"_" + std::to_wstring(i), i)) != ERROR_SUCCESS ||
            (rc = RegSetValueExW(key, (L"Big_" + wtag).c_str(), 0, REG_BINARY, big.data(),
                                 static_cast<DWORD>(big.size()))) != ERROR_SUCCESS ||
            (rc = setDword(key, L"N_" + wtag, i)) != ERROR_SUCCESS) {
            return failed("RegSetValueExW", rc);
        }
        if (write(1, &i, sizeof i) != static_cast<ssize_t>(sizeof i)) {
            return 1;
        }
    }
}

// What winplat said, on one line.
std::string escaped(const std::string& text) {
    std::string out;
    for (const char c : text) {
        out += c == '\n' ? std::string("\\n") : c == '\\' ? std::string("\\\\") : std::string(1, c);
    }
    return out;
}

// One command of "script" mode; its result.
long long scriptCommand(const std::vector<std::string>& w) {
    const auto path = [&](size_t keyAt) {
        return std::wstring(kJournalKey) + L"\\" + winplat::utf8ToUtf16(w[keyAt]);
    };
    const std::string& op = w[0];
    if ((op == "mkkey" || op == "delkey" || op == "haskey") && w.size() == 2) {
        if (op == "delkey") {
            return RegDeleteKeyW(HKEY_CURRENT_USER, path(1).c_str());
        }
        HKEY key;
        const LSTATUS rc = op == "haskey"
                               ? RegOpenKeyExW(HKEY_CURRENT_USER, path(1).c_str(), 0, KEY_READ, &key)
                               : RegCreateKeyExW(HKEY_CURRENT_USER, path(1).c_str(), 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (rc == ERROR_SUCCESS) {
            RegCloseKey(key);
        }
        return op == "haskey" ? rc == ERROR_SUCCESS : rc;
    }
    // get|del <name>, set <name> <n>, or the same with a key first.
    const size_t args = op == "set" ? 3 : 2;
    if ((op != "get" && op != "set" && op != "del") || (w.size() != args && w.size() != args + 1)) {
        return -2;
    }
    const bool inKey = w.size() == args + 1;
    const std::wstring name = winplat::utf8ToUtf16(w[inKey ? 2 : 1]);
    const std::wstring at = inKey ? path(1) : std::wstring(kJournalKey);
    HKEY key;
    LSTATUS rc = op == "get" ? RegOpenKeyExW(HKEY_CURRENT_USER, at.c_str(), 0, KEY_READ, &key)
                             : RegCreateKeyExW(HKEY_CURRENT_USER, at.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                               nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS) {
        return op == "get" ? -1 : rc;
    }
    long long result;
    if (op == "get") {
        DWORD v = 0, cb = sizeof v;
        rc = RegQueryValueExW(key, name.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &cb);
        result = rc == ERROR_SUCCESS ? static_cast<long long>(v) : -1;
    } else if (op == "set") {
        result = setDword(key, name, static_cast<DWORD>(std::atol(w.back().c_str())));
    } else {
        result = RegDeleteValueW(key, name.c_str());
    }
    RegCloseKey(key);
    return result;
}

int script() {
    char line[512];
    while (std::fgets(line, sizeof line, stdin)) {
        std::vector<std::string> words;
        for (char* w = std::strtok(line, " \n"); w; w = std::strtok(nullptr, " \n")) {
            words.emplace_back(w);
        }
        if (words.empty() || words[0] == "exit") {
            break;
        }
        long long result;
        std::string said;
        {
            winplat::console::Capture capture;
            result = scriptCommand(words);
            said = capture.err();
        }
        std::printf("%lld\t%s\n", result, escaped(said).c_str());
        std::fflush(stdout);
    }
    return 0;
}

int watch() {
    std::map<std::wstring, DWORD> seen;
    for (;;) {
        HKEY key;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kJournalKey, 0, KEY_READ, &key) != ERROR_SUCCESS) {
            if (!seen.empty()) {
                std::fprintf(stderr, "reg_writer: the key is gone\n");
                return 4;
            }
            continue;
        }
        std::map<std::wstring, DWORD> now;
        for (DWORD i = 0;; ++i) {
            wchar_t name[256];
            DWORD cch = 256, v = 0, cb = sizeof v, type = 0;
            const LSTATUS rc =
                RegEnumValueW(key, i, name, &cch, nullptr, &type, reinterpret_cast<BYTE*>(&v), &cb);
            if (rc == ERROR_NO_MORE_ITEMS) {
                break;
            }
            if (rc == ERROR_SUCCESS && type == REG_DWORD && std::wcsncmp(name, L"N_", 2) == 0) {
                now[name] = v;
            }
        }
        RegCloseKey(key);
        for (const auto& [name, v] : seen) {
            const auto it = now.find(name);
            if (it == now.end() || it->second < v) {
                std::fprintf(stderr, "reg_writer: %s went from %u to %lld\n",
                             winplat::utf16ToUtf8(name).c_str(), v,
                             it == now.end() ? -1LL : static_cast<long long>(it->second));
                return 4;
            }
        }
        seen = std::move(now);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2 && std::string(argv[1]) == "as") {
        // <uid>[+<gid>...]: its own group, and those after a '+' besides.
        char* next = argv[2];
        const auto id = static_cast<uid_t>(std::strtol(next, &next, 10));
        std::vector<gid_t> groups;
        while (*next == '+') {
            groups.push_back(static_cast<gid_t>(std::strtol(next + 1, &next, 10)));
        }
        if (setgroups(groups.size(), groups.data()) != 0 || setgid(id) != 0 || setuid(id) != 0) {
            std::perror("reg_writer: as");
            return 6;
        }
        argc -= 2;
        argv += 2;
    }
    long long fsizeAtEnd = -1;
    if (argc > 2 && std::string(argv[1]) == "fsize") {
        fsizeAtEnd = std::atoll(argv[2]);
        argc -= 2;
        argv += 2;
    }
    while (argc > 4 && std::string(argv[1]) == "at") {
        winplat::inject::arm(argv[2], std::atoi(argv[3]), 1, std::atoi(argv[4]));
        argc -= 4;
        argv += 4;
    }
    while (argc > 3 && std::string(argv[1]) == "fail") {
        winplat::inject::arm(argv[2], std::atoi(argv[3]), -1);
        argc -= 3;
        argv += 3;
    }
    bool ignoreBus = false;
    if (argc > 1 && std::string(argv[1]) == "ignore-sigbus") {
        ignoreBus = true;
        signal(SIGBUS, SIG_IGN);
        --argc;
        ++argv;
    }
    if (argc > 1 && std::string(argv[1]) == "coarse") {
        winplat::inject::arm("RegistryCoarseFileTimes", 2000, -1);
        --argc;
        ++argv;
    }
    const std::string mode = argc > 1 ? argv[1] : "";
    if (fsizeAtEnd >= 0) {
        // Applied once the mode's work is done: the write at exit meets it.
        const int rc = mode == "values" && argc == 4 ? values(argv[2], std::atoi(argv[3])) : 2;
        signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {static_cast<rlim_t>(fsizeAtEnd), static_cast<rlim_t>(fsizeAtEnd)};
        setrlimit(RLIMIT_FSIZE, &limit);
        return rc;
    }
    if (mode == "set" && argc >= 4 && argc % 2 == 0) {
        int rc = 0;
        for (int i = 2; i < argc && rc == 0; i += 2) {
            rc = set(argv[i], static_cast<DWORD>(std::atol(argv[i + 1])));
        }
        if (ignoreBus) {
            raise(SIGBUS);
            kill(getpid(), SIGBUS);
        }
        return rc;
    }
    if (mode == "check" && argc >= 4 && argc % 2 == 0) {
        int rc = 0;
        for (int i = 2; i < argc; i += 2) {
            const long long got = readDword(winplat::utf8ToUtf16(argv[i]));
            if (got != std::atoll(argv[i + 1])) {
                std::fprintf(stderr, "reg_writer: %s reads %lld\n", argv[i], got);
                rc = 4;
            }
        }
        return rc;
    }
    if (mode == "keep" && argc == 4) {
        return keep(argv[2], static_cast<DWORD>(std::atol(argv[3])));
    }
    if (mode == "await" && argc == 4) {
        return await(argv[2], argv[3]);
    }
    if (mode == "open" && argc == 3) {
        const int fd = open(argv[2], O_RDONLY | O_CLOEXEC);
        return fd >= 0 ? 0 : 4;
    }
    if (mode == "stress" && argc == 3) {
        return stress(argv[2]);
    }
    if (mode == "script" && argc == 2) {
        return script();
    }
    if (mode == "watch") {
        return watch();
    }
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
    std::fprintf(
        stderr,
        "usage: reg_writer [coarse] loop | values|hold|leave|nest|count <tag> <n> | prune <n> | script\n");
    return 2;
}
