// storeset_world: lays out a world for Storeset, and shows what a run changed.
//
//   storeset_world layout <root> <profile.reg> <profile> <store database> [<stand-in folder>]
//   storeset_world layout71 ...   the same for Storeset_7_1
//   storeset_world compare <profile> <before.reg> <after.reg>
//
// layout says on its standard output what the world lacks for a run (the
// profile, its connector section, the database name there), since Storeset
// then fails on it. compare prints, per section of the profile, the values
// the adoption reads or writes before and after, and the connector section's
// server property. Both read the files they are given as text, and write
// nothing there.
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "demo/World.h"

namespace {

typedef world::SectionValues Section;

bool keyExists(const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

std::string hex(const std::string& bytes) {
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        std::snprintf(b, sizeof(b), "%02x", c);
        out += b;
    }
    return out;
}

std::string show(const std::pair<DWORD, std::string>* v) {
    if (!v) {
        return "(none)";
    }
    if (v->first != REG_BINARY) {
        return "(not binary)";
    }
    return hex(v->second) + " (" + std::to_string(v->second.size()) + " bytes)";
}

std::string text(const std::pair<DWORD, std::string>* v) {
    if (!v) {
        return "(none)";
    }
    std::string s = v->second.substr(0, v->second.find('\0'));
    return "\"" + s + "\"";
}

std::string displayName(const Section& s) {
    auto it = s.find(L"001f3001");
    if (it == s.end()) {
        return "";
    }
    std::wstring w = winplat::bytesToWide(it->second.second.data(), it->second.second.size());
    return " (" + winplat::utf16ToUtf8(w.substr(0, w.find(L'\0'))) + ")";
}

// Why the export's first line is not the editor's header where the registry
// reads the file all the same: it takes an empty file, or blank lines before
// the header, as a registry (an empty registry file is one), but the editor
// never writes them. Empty when the first line has text; the registry judges
// that text.
std::string blankFirstLine(const std::string& bytes) {
    const std::string rule = "the first line must be \"Windows Registry Editor Version 5.00\"";
    size_t at = 0;
    size_t unit = 1;
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        at = 2, unit = 2;
    } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        at = 3;
    }
    if (at == bytes.size()) {
        return "the file is empty; " + rule;
    }
    for (; at + unit <= bytes.size(); at += unit) {
        const char c = bytes[at];
        if ((unit == 2 && bytes[at + 1] != 0) || (c != ' ' && c != '\t' && c != '\r' && c != '\n')) {
            return "";
        }
        if (c == '\r' || c == '\n') {
            break;
        }
    }
    return rule;
}

// Loads `bytes`, read from the registry file `file`, into the registry as
// text, in memory alone. Loaded where it is, the file would be a live
// registry, a journal beside it merged into it and a lock file made there;
// the user's files are only read, and nothing is made anywhere. `what` is
// the file to the user ("the export"). One that does not load is told in one
// line, of the user's file; the registry would tell it as the registry in
// use, to be mended before changes.
void loadAsText(const std::string& file, const std::string& bytes, const std::string& what) {
    std::string error;
    if (!winplat::registry::loadText(bytes.data(), bytes.size(), &error)) {
        // "line N: why" becomes "<file>:N: why", as the registry tells a file.
        throw std::runtime_error(what + " does not load: " + file + ":" + error.substr(5));
    }
}

std::vector<std::pair<std::wstring, Section>> snapshot(const std::string& registryFile,
                                                       const std::string& profile) {
    loadAsText(registryFile, world::readFile(registryFile, "the registry"), "the registry");
    if (!keyExists(std::wstring(world::ProfilesKeyW) + L"\\" + winplat::utf8ToUtf16(profile))) {
        throw std::runtime_error("no profile '" + profile + "' in " + registryFile);
    }
    world::ProfileSnapshot all = world::snapshotProfile(profile);
    return std::vector<std::pair<std::wstring, Section>>(all.begin(), all.end());
}

void layout(const std::string& root, const std::string& exportFile, const std::string& profile,
            const std::string& database, const std::string& standins, world::Build build) {
    // What is wrong with the export is said of the user's file, and the
    // database name is checked and the database read before the world is
    // emptied, so that a refusal changes nothing.
    const std::string exportBytes = world::readFile(exportFile, "the export");
    if (const std::string why = blankFirstLine(exportBytes); !why.empty()) {
        throw std::runtime_error("the export does not load: " + exportFile + ":1: " + why);
    }
    loadAsText(exportFile, exportBytes, "the export");
    if (const std::optional<std::wstring> name = world::databaseName(profile); name && !name->empty()) {
        world::checkDatabaseName(*name);
    }
    const std::string databaseBytes = world::readFile(database, "the store database");
    world::World w = world::layOut(root, exportBytes, profile, databaseBytes, standins, build,
                                   {{"the export", exportFile}, {"the store database", database}});
    if (!w.database.empty()) {
        return;
    }
    const std::wstring profileKey = std::wstring(world::ProfilesKeyW) + L"\\" + winplat::utf8ToUtf16(profile);
    std::string missing;
    if (!keyExists(profileKey)) {
        missing = "the export holds no profile '" + profile + "' (no key HKEY_CURRENT_USER\\" +
                  world::ProfilesKey + "\\" + profile + ")";
    } else if (!keyExists(profileKey + L"\\" + world::ServiceSectionW)) {
        missing = "the profile '" + profile + "' has no connector section " + world::ServiceSection;
    } else {
        missing = "the connector section of the profile '" + profile + "' names no store database (" +
                  (world::databaseName(profile) ? "value 001f6708 is empty" : "no value 001f6708") + ")";
    }
    std::printf("=== missing: %s; no store database was written, and %s will fail on it\n", missing.c_str(),
                build == world::Build::v71 ? "Storeset_7_1" : "Storeset");
}

int compare(const std::string& profile, const std::string& beforeFile, const std::string& afterFile) {
    auto before = snapshot(beforeFile, profile);
    auto after = snapshot(afterFile, profile);
    auto find = [](const std::vector<std::pair<std::wstring, Section>>& list,
                   const std::wstring& name) -> const Section* {
        for (const auto& s : list) {
            if (s.first == name) {
                return &s.second;
            }
        }
        return nullptr;
    };
    auto value = [](const Section* s, const wchar_t* name) -> const std::pair<DWORD, std::string>* {
        if (!s) {
            return nullptr;
        }
        auto it = s->find(name);
        return it == s->end() ? nullptr : &it->second;
    };
    for (const auto& [sectionName, b] : before) {
        const Section* a = find(after, sectionName);
        std::printf("\nSection %s%s\n", winplat::utf16ToUtf8(sectionName).c_str(), displayName(b).c_str());
        if (sectionName == world::ServiceSectionW) {
            std::printf("  server property 001e660c\n    before %s\n    after  %s\n",
                        text(value(&b, L"001e660c")).c_str(), text(value(a, L"001e660c")).c_str());
            continue;
        }
        auto provider = value(&b, L"01023414");
        std::printf("  provider 01023414: %s\n", !provider ? "(none)"
                                                 : provider->first == REG_BINARY
                                                     ? hex(provider->second).c_str()
                                                     : "(not binary)");
        for (const wchar_t* name : {L"01020ff9", L"01020ffa", L"01020fff"}) {
            std::string was = show(value(&b, name));
            std::string now = show(value(a, name));
            std::printf("  %s %s\n    before %s\n    after  %s\n", winplat::utf16ToUtf8(name).c_str(),
                        was == now ? "unchanged" : "changed", was.c_str(), now.c_str());
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        std::string mode = argc > 1 ? argv[1] : "";
        if ((mode == "layout" || mode == "layout71") && (argc == 6 || argc == 7)) {
            layout(argv[2], argv[3], argv[4], argv[5], argc == 7 ? argv[6] : world::standinFolder(),
                   mode == "layout71" ? world::Build::v71 : world::Build::v74);
            return 0;
        }
        if (mode == "compare" && argc == 5) {
            return compare(argv[2], argv[3], argv[4]);
        }
        std::fprintf(stderr,
                     "usage: storeset_world layout|layout71 <root> <profile.reg> <profile> <store database> "
                     "[<stand-ins>]\n"
                     "       storeset_world compare <profile> <before.reg> <after.reg>\n");
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "storeset_world: %s\n", e.what());
        return 1;
    }
}
