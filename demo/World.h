// Lays out a world for Storeset in a folder: the stand-in MAPI runtime,
// backend server and proxy/stub module at the paths the registry names, the
// store database where the profile's connector section says, and a registry
// file made of a profile export plus the machine part (where the mail
// client's runtime is, how the backend server is registered). The process is
// then pointed at it (WINPLAT_ROOT, WINPLAT_REGISTRY) and the registry
// reloaded.
//
// Used by the demo command, the end-to-end tests and the benchmark.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "winplat/files.h"
#include "winplat/registry.h"
#include "winplat/utf16.h"

namespace world {

inline const char* const ProfilesKey =
    "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
inline const wchar_t* const ProfilesKeyW =
    L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
// The connector's section: its UID's bytes in lower-case hexadecimal.
inline const char* const ServiceSection = "4c743e44ba2e8547ac48d3181fb5e9cc";
inline const wchar_t* const ServiceSectionW = L"4c743e44ba2e8547ac48d3181fb5e9cc";

inline const char* const RuntimeFolder = "C:\\Program Files\\Mail Client";
inline const char* const ConnectorFolder = "C:\\Program Files\\Connector";
inline const char* const ServerClsid = "{0F1BE71C-DFE7-41B1-8D52-C76A054D1EAE}";
inline const char* const AppServerIid = "{65ABA069-3C53-4B62-9DCB-F0D0A2202549}";

// Text of a .reg string value: backslashes and quotes escaped.
inline std::string regString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

inline std::string regHex(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "hex:";
    for (size_t i = 0; i < bytes.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (i) {
            out += ',';
        }
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// Sets the default value of HKLM\path to `value` (REG_SZ), creating the key.
inline void setMachineDefault(const std::string& path, const std::string& value) {
    std::wstring key = winplat::utf8ToUtf16(path);
    std::wstring text = winplat::utf8ToUtf16(value);
    HKEY h = nullptr;
    LSTATUS r = RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                                &h, nullptr);
    if (r == ERROR_SUCCESS) {
        r = RegSetValueExW(h, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                           static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(h);
    }
    if (r != ERROR_SUCCESS) {
        throw std::runtime_error("cannot write HKLM\\" + path);
    }
}

// The machine part: where the mail client's runtime is and how the backend
// server and its proxy/stub module are registered.
inline void registerMachine() {
    setMachineDefault("Software\\Clients\\Mail", "Microsoft Outlook");
    setMachineDefault("SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\OUTLOOK.EXE",
                      std::string(RuntimeFolder) + "\\OUTLOOK.EXE");
    setMachineDefault(std::string("Software\\Classes\\CLSID\\") + ServerClsid + "\\LocalServer32",
                      std::string(ConnectorFolder) + "\\Hollomar.dll");
    setMachineDefault(std::string("Software\\Classes\\Interface\\") + AppServerIid + "\\ProxyStubClsid32",
                      AppServerIid);
    setMachineDefault(std::string("Software\\Classes\\CLSID\\") + AppServerIid + "\\InprocServer32",
                      std::string(ConnectorFolder) + "\\HollomarPS.dll");
}

// The bytes of the file `path`. One that cannot be read is told with the C
// library's reason and, when given, `what` it is to the user: a stream would
// read a folder as an empty file and say nothing of why a file would not open.
inline std::string readFile(const std::string& path, const std::string& what = "") {
    const auto refuse = [&](int error) {
        throw std::runtime_error("cannot read " + (what.empty() ? "" : what + " ") + path + ": " +
                                 std::strerror(error));
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        refuse(errno);
    }
    std::string bytes;
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof(buffer));  // a folder fails here, EISDIR
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            if (n < 0) {
                refuse(error);
            }
            return bytes;
        }
        bytes.append(buffer, static_cast<size_t>(n));
    }
}

// Refuses, with the C library's reason, a folder files are taken from by
// name: absent, not a folder, or one the user may not enter.
inline void checkFolder(const std::string& path, const std::string& what) {
    struct stat st;
    const int error = ::stat(path.c_str(), &st) != 0                          ? errno
                      : !S_ISDIR(st.st_mode)                                  ? ENOTDIR
                      : ::faccessat(AT_FDCWD, path.c_str(), X_OK, AT_EACCESS) ? errno
                                                                              : 0;
    if (error) {
        throw std::runtime_error("cannot read " + what + " " + path + ": " + std::strerror(error));
    }
}

// Writes `bytes` as the file `path`, making the folders on the way; one that
// cannot be made or written is told with the C library's reason.
inline void writeFile(const std::string& path, const std::string& bytes) {
    const auto refuse = [&](int error) {
        throw std::runtime_error("cannot write " + path + ": " + std::strerror(error));
    };
    if (const std::filesystem::path folder = std::filesystem::path(path).parent_path(); !folder.empty()) {
        std::error_code failed;
        std::filesystem::create_directories(folder, failed);
        if (failed) {
            refuse(failed.value());
        }
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        refuse(errno);
    }
    for (size_t at = 0; at < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            refuse(error);
        }
        at += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        refuse(errno);
    }
}

// The folder of the built stand-ins: STORESET_BUILD_DIR/standins, else the
// standins folder beside the program's own build folder.
inline std::string standinFolder() {
    if (const char* build = std::getenv("STORESET_BUILD_DIR")) {
        return std::string(build) + "/standins";
    }
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe");
    for (std::filesystem::path dir = self.parent_path(); !dir.empty() && dir != dir.root_path();
         dir = dir.parent_path()) {
        if (std::filesystem::exists(dir / "standins" / "olmapi32.dll")) {
            return (dir / "standins").string();
        }
    }
    throw std::runtime_error("built stand-ins not found; set STORESET_BUILD_DIR");
}

struct World {
    std::string root;          // the drive root: C:\ is root/c
    std::string registryFile;  // root/registry.reg
    std::string database;      // where the store database was written; empty when nowhere

    std::string posix(const std::string& windowsPath) const {
        return winplat::paths::toPosix(winplat::utf8ToUtf16(windowsPath));
    }
};

// Points the process at `root` and its registry file and reloads it.
inline World activate(const std::string& root) {
    World w{root, root + "/registry.reg", ""};
    setenv("WINPLAT_ROOT", root.c_str(), 1);
    setenv("WINPLAT_REGISTRY", w.registryFile.c_str(), 1);
    if (winplat::registry::reload() != ERROR_SUCCESS) {
        throw std::runtime_error("registry does not load: " + winplat::registry::lastLoadError());
    }
    return w;
}

// Which build of the tool the world is for. The 7.1 world has the same
// registry and database; its tool links the system's MAPI32.dll (the MAPI
// stand-in installed there) and its server is the 7.1 stand-in, installed
// under the server's module name.
enum class Build { v74, v71 };

inline const char* const SystemFolder = "C:\\Windows\\system32";

// Installs the stand-in modules where the machine part names them.
inline void installModules(const World& w, const std::string& standins, Build build = Build::v74) {
    namespace fs = std::filesystem;
    const auto copy = [&](const std::string& name, const std::string& folder, const std::string& as) {
        fs::path target = w.posix(folder + "\\" + as);
        fs::create_directories(target.parent_path());
        fs::copy_file(fs::path(standins) / name, target, fs::copy_options::overwrite_existing);
    };
    if (build == Build::v71) {
        copy("olmapi32.dll", SystemFolder, "MAPI32.dll");
        copy("Hollomar71.dll", ConnectorFolder, "Hollomar.dll");
    } else {
        copy("olmapi32.dll", RuntimeFolder, "olmapi32.dll");
        copy("Hollomar.dll", ConnectorFolder, "Hollomar.dll");
    }
    copy("HollomarPS.dll", ConnectorFolder, "HollomarPS.dll");
}

// The mark of a folder layOut made: it empties no other folder that holds
// anything, so a folder of the user's is never taken for a world.
inline const char* const MarkName = ".storeset-world";

// A file a world is made from, with what it is to the user.
struct Input {
    std::string what;  // "the export", "the store database", "the stand-in folder"
    std::string path;
};

// True when `inner` is `outer` or lies under it, as written or as resolved
// (links, "..", a relative name): emptying `outer` would take it either way.
inline bool isWithin(const std::string& inner, const std::string& outer) {
    namespace fs = std::filesystem;
    const auto forms = [](const std::string& path) {
        std::vector<fs::path> out{fs::absolute(path).lexically_normal()};
        std::error_code failed;
        fs::path resolved = fs::weakly_canonical(path, failed);
        if (!failed) {
            out.push_back(resolved);
        }
        for (fs::path& p : out) {
            if (p.has_relative_path() && p.filename().empty()) {
                p = p.parent_path();  // "a/b/" is "a/b"
            }
        }
        return out;
    };
    for (const fs::path& in : forms(inner)) {
        for (const fs::path& out : forms(outer)) {
            const fs::path relative = in.lexically_relative(out);
            if (!relative.empty() && *relative.begin() != "..") {
                return true;
            }
        }
    }
    return false;
}

// Empties `root` for a world, after refusing, having changed nothing, a
// folder that holds one of the world's inputs, a file, and a folder neither
// empty nor marked as a world; then marks it. The folder itself stays, so a
// link named as the world keeps pointing at it.
inline void clearWorld(const std::string& root, const std::vector<Input>& inputs) {
    namespace fs = std::filesystem;
    const auto refuse = [&](const std::string& why) {
        std::string shown = fs::absolute(root).lexically_normal().string();
        if (shown.size() > 1 && shown.back() == '/') {
            shown.pop_back();
        }
        throw std::runtime_error("layout refuses " + shown + ": " + why);
    };
    for (const Input& input : inputs) {
        if (isWithin(input.path, root)) {
            refuse("it holds " + input.what + " " + input.path);
        }
    }
    if (fs::exists(root)) {
        if (!fs::is_directory(root)) {
            refuse("it is not a folder");
        }
        if (!fs::is_empty(root) && !fs::is_regular_file(fs::symlink_status(fs::path(root) / MarkName))) {
            refuse(std::string("it is not empty and was not laid out by storeset_world (it holds no ") +
                   MarkName + ")");
        }
    }
    fs::create_directories(root);
    std::vector<fs::path> entries;
    for (const fs::directory_entry& entry : fs::directory_iterator(root)) {
        entries.push_back(entry.path());
    }
    for (const fs::path& entry : entries) {
        fs::remove_all(entry);  // a link goes, not what it points at
    }
    writeFile(root + "/" + MarkName,
              "A world laid out by storeset_world, which empties this folder again.\n");
}

// The store database's name in the connector section of the profile
// `profile` in the registry loaded now, up to its first NUL; none when there
// is no such value, and empty when the value is.
inline std::optional<std::wstring> databaseName(const std::string& profile) {
    const std::wstring key =
        std::wstring(ProfilesKeyW) + L"\\" + winplat::utf8ToUtf16(profile) + L"\\" + ServiceSectionW;
    HKEY section = nullptr;
    std::optional<std::wstring> name;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &section) == ERROR_SUCCESS) {
        BYTE data[1024];
        DWORD type = 0;
        DWORD size = sizeof(data);
        if (RegQueryValueExW(section, L"001f6708", nullptr, &type, data, &size) == ERROR_SUCCESS) {
            name = winplat::bytesToWide(data, size);
            name = name->substr(0, name->find(L'\0'));
        }
        RegCloseKey(section);
    }
    return name;
}

// Refuses a database name that is not a full path with a drive: only such a
// name maps into the world (C:\a is <world>/c/a); a relative or rooted one
// maps by the current folder, a POSIX one as it stands, so the database
// would be written over whatever is there.
inline void checkDatabaseName(const std::wstring& name) {
    const bool drive = name.size() >= 3 &&
                       ((name[0] >= L'A' && name[0] <= L'Z') || (name[0] >= L'a' && name[0] <= L'z')) &&
                       name[1] == L':' && (name[2] == L'\\' || name[2] == L'/');
    if (!drive) {
        throw std::runtime_error("layout refuses the store database name '" + winplat::utf16ToUtf8(name) +
                                 "' of the profile's connector section: it is not a full Windows path with a "
                                 "drive, as C:\\ProgramData\\Connector\\Demo.db is; the database is written "
                                 "only inside the world");
    }
}

// A fresh world: a stand-in folder the modules cannot be taken from is
// refused before anything is written; `root` is emptied (see clearWorld;
// `inputs` are the files the caller made the other arguments of, the
// stand-in folder is one too),
// the registry file becomes the profile export followed by the machine part,
// the modules are installed and the store database (`database`, file
// contents) is written where the profile named `profile` says. The export
// may be UTF-16LE with a byte-order mark, as the Windows registry editor
// writes it.
inline World layOut(const std::string& root, const std::string& profileExport, const std::string& profile,
                    const std::string& database, const std::string& standins, Build build = Build::v74,
                    std::vector<Input> inputs = {}) {
    checkFolder(standins, "the stand-in folder");
    inputs.push_back({"the stand-in folder", standins});
    clearWorld(root, inputs);
    World w{root, root + "/registry.reg", ""};
    // The export goes in as it is; the machine part is added through the
    // registry itself, so any form the registry reads is accepted.
    writeFile(w.registryFile, profileExport);
    w = activate(root);
    registerMachine();
    installModules(w, standins, build);
    // The database where the connector's section names it.
    std::string dbPath;
    if (const std::optional<std::wstring> name = databaseName(profile); name && !name->empty()) {
        checkDatabaseName(*name);
        dbPath = winplat::paths::toPosix(*name);
    }
    if (!dbPath.empty()) {
        writeFile(dbPath, database);
        w.database = dbPath;
    }
    // The file stands whole, to be copied as it is.
    winplat::registry::flush();
    return w;
}

// The demo world of the source tree's demo folder.
inline World layOutDemo(const std::string& root, const std::string& sourceDir, const std::string& standins,
                        Build build = Build::v74) {
    return layOut(root, readFile(sourceDir + "/demo/Demo.reg"), "Demo", readFile(sourceDir + "/demo/Demo.db"),
                  standins, build);
}

// A profile's sections as they are in the registry: section name -> value
// name (lower case) -> (type, bytes).
typedef std::map<std::wstring, std::pair<DWORD, std::string>> SectionValues;
typedef std::map<std::wstring, SectionValues> ProfileSnapshot;

inline std::wstring lowerAscii(std::wstring s) {
    for (auto& c : s) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return s;
}

inline ProfileSnapshot snapshotProfile(const std::string& profile) {
    ProfileSnapshot snapshot;
    std::wstring path = std::wstring(ProfilesKeyW) + L"\\" + winplat::utf8ToUtf16(profile);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        throw std::runtime_error("no profile " + profile);
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD chars = 256;
        if (RegEnumKeyExW(key, i, name, &chars, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        SectionValues& values = snapshot[name];
        HKEY sub = nullptr;
        if (RegOpenKeyExW(key, name, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            for (DWORD j = 0;; ++j) {
                wchar_t valueName[256];
                DWORD valueChars = 256;
                DWORD type = 0;
                std::vector<BYTE> data(65536);
                DWORD size = static_cast<DWORD>(data.size());
                if (RegEnumValueW(sub, j, valueName, &valueChars, nullptr, &type, data.data(), &size) !=
                    ERROR_SUCCESS) {
                    break;
                }
                values[lowerAscii(valueName)] = {type,
                                                 std::string(reinterpret_cast<char*>(data.data()), size)};
            }
            RegCloseKey(sub);
        }
    }
    RegCloseKey(key);
    return snapshot;
}

}  // namespace world
