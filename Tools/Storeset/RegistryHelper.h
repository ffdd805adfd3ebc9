// Direct access to one MAPI profile's key in the registry: the adoption
// rewrites store sections there instead of through MAPI.
#pragma once

#include <string>

#include "CommonBase/BuildTraits.h"
#include "winplat/windows.h"

class RegistryHelper {
  public:
    // The name is widened where the build's profile names are narrow.
    explicit RegistryHelper(const buildTraits::ProfileName& profileName);
    virtual ~RegistryHelper();

    // "Software\Microsoft\Windows NT\CurrentVersion\Windows Messaging Subsystem\Profiles"
    static const std::wstring& profilesKey();
    // The profile's key under HKEY_CURRENT_USER.
    const std::wstring& path() const { return path_; }
    // "0102" and the tag's property id in four upper-case hexadecimal digits.
    static std::wstring valueName(ULONG tag);

    // Without read and write access to the profile's key: prints the
    // permissions message and raises E_ACCESSDENIED.
    void checkRights() const;
    // The first section (in enumeration order) whose provider value is the
    // 16 bytes of `provider`, opened; the caller closes it.
    HKEY searchKeyByMdbProvider(const GUID& provider) const;
    void checkPropertyExists(HKEY section, ULONG tag) const;
    void setPropertyValue(HKEY section, ULONG tag, const BYTE* bytes, ULONG size) const;
    void setPropertyValue(HKEY section, ULONG tag, const GUID& value) const;

  private:
    std::wstring path_;
};
