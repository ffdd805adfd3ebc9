#include "Tools/Storeset/RegistryHelper.h"

#include <boost/format.hpp>
#include <cstring>

#include "CommonBase/HResultException.h"
#include "CommonBase/Holders.h"
#include "CommonBase/StringUtils.h"

namespace {

namespace sites = buildTraits::registryHelper;
constexpr REGSAM ReadWrite = KEY_READ | KEY_WRITE;  // 0x2001F
constexpr DWORD SectionNameChars = 256;
constexpr DWORD PropertyBufferBytes = 1024;

[[noreturn]] void raiseAt(const buildTraits::RaiseSite& site, HRESULT hr, const char* function) {
    raiseHResult(hr, 2, site.file, site.line, function, nullptr);
}

[[noreturn]] void raiseWin32(LSTATUS result, const buildTraits::RaiseSite& site, const char* function) {
    raiseAt(site, HRESULT_FROM_WIN32(static_cast<DWORD>(result)), function);
}

}  // namespace

RegistryHelper::RegistryHelper(const buildTraits::ProfileName& profileName)
    : path_(profilesKey() + L"\\" + buildTraits::widenProfileName(profileName)) {}

RegistryHelper::~RegistryHelper() = default;

const std::wstring& RegistryHelper::profilesKey() {
    static const std::wstring key =
        L"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
    return key;
}

std::wstring RegistryHelper::valueName(ULONG tag) {
    wchar_t name[16];
    std::swprintf(name, 16, L"0102%04X", static_cast<unsigned>(PROP_ID(tag)));
    return name;
}

void RegistryHelper::checkRights() const {
    RegistryKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, ReadWrite, key.receive()) == ERROR_SUCCESS) {
        return;
    }
    winplat::console::writeOutNarrow(
        str(boost::format("Insufficient permissions to 'HKCU\\%s'\nREAD / WRITE access requested\n") %
            wideToAnsi(path_)));
    raiseAt(sites::NoRights, E_ACCESSDENIED, "RegistryHelper::checkRights");
}

HKEY RegistryHelper::searchKeyByMdbProvider(const GUID& provider) const {
    static const char* const function = "RegistryHelper::searchKeyByMdbProvider";
    RegistryKey profile;
    LSTATUS r = RegOpenKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, ReadWrite, profile.receive());
    if (r != ERROR_SUCCESS) {
        raiseWin32(r, sites::ProfileNotOpened, function);
    }
    for (DWORD index = 0;; ++index) {
        wchar_t name[SectionNameChars];
        DWORD nameChars = SectionNameChars;
        r = RegEnumKeyExW(profile.get(), index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
        if (r != ERROR_SUCCESS) {
            winplat::console::writeOutNarrow(str(boost::format("Profile section not found\n")));
            raiseWin32(r, sites::SectionNotFound, function);
        }
        HKEY section = nullptr;
        r = RegOpenKeyExW(profile.get(), name, 0, ReadWrite, &section);
        if (r != ERROR_SUCCESS) {
            raiseWin32(r, sites::SectionNotOpened, function);
        }
        BYTE value[sizeof(GUID)];
        DWORD type = REG_NONE;
        DWORD size = sizeof(value);
        if (RegQueryValueExW(section, L"01023414", nullptr, &type, value, &size) == ERROR_SUCCESS &&
            type == REG_BINARY && size == sizeof(value) &&
            std::memcmp(value, &provider, sizeof(value)) == 0) {
            return section;
        }
        RegCloseKey(section);
    }
}

void RegistryHelper::checkPropertyExists(HKEY section, ULONG tag) const {
    static const char* const function = "RegistryHelper::checkPropertyExists";
    std::wstring name = valueName(tag);
    BYTE buffer[PropertyBufferBytes];
    DWORD type = REG_NONE;
    DWORD size = PropertyBufferBytes;
    LSTATUS r = RegQueryValueExW(section, name.c_str(), nullptr, &type, buffer, &size);
    if (r != ERROR_SUCCESS) {
        raiseWin32(r, sites::ValueMissing, function);
    }
    if (type != REG_BINARY) {
        raiseAt(sites::ValueNotBinary, HRESULT_FROM_WIN32(ERROR_INVALID_DATA), function);
    }
}

void RegistryHelper::setPropertyValue(HKEY section, ULONG tag, const BYTE* bytes, ULONG size) const {
    std::wstring name = valueName(tag);
    LSTATUS r = RegSetValueExW(section, name.c_str(), 0, REG_BINARY, bytes, size);
    if (r != ERROR_SUCCESS) {
        raiseWin32(r, sites::SetFailed, "RegistryHelper::setPropertyValue");
    }
}

void RegistryHelper::setPropertyValue(HKEY section, ULONG tag, const GUID& value) const {
    setPropertyValue(section, tag, reinterpret_cast<const BYTE*>(&value), sizeof(GUID));
}
