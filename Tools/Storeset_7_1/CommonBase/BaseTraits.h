// The 7.1 build's traits (see CommonBase/BuildTraits.h): raise sites name the
// source as ".\<file>" with the lines the 7.1 messages show.
#pragma once

#ifndef STORESET_BUILD_71
#error "the 7.1 traits belong to the 7.1 build only"
#endif

#include <string>

#include "CommonBase/StringUtils.h"

namespace buildTraits {

// The 7.1 name table lacks MIRT_E_INVALID_DB_INPUT, MIRT_E_REQUIRED_MIGRATION,
// MIRT_E_RUNNING_MIGRATION and MIRT_W_DIFFERENT_CONFIG_RUNNING.
inline constexpr bool ProductMigrationCodeNames = false;

// The profile name is narrow text in the ANSI code page.
typedef std::string ProfileName;
inline std::wstring widenProfileName(const ProfileName& name) {
    return ansiToWide(name);
}

namespace mapiHelper {
inline constexpr const char* File = ".\\MapiHelper";
inline constexpr RaiseSite NullObject{File, 36}, NullOut{File, 37}, GetPropsFailed{File, 52},
    NotOneValue{File, 57}, NotAnError{File, 63}, Missing{File, 72};
}  // namespace mapiHelper

namespace support {
inline constexpr const char* File = ".\\Support";
inline constexpr RaiseSite NullAllocateBuffer{File, 84}, NullAllocateMore{File, 85}, NullFreeBuffer{File, 86},
    NoModule{File, 90}, NoExport{File, 95}, ExportFailed{File, 97};
}  // namespace support

namespace mapiAllocator {
inline constexpr RaiseSite QueryFailed{".\\MapiAllocator", 34};
}  // namespace mapiAllocator

namespace registryHelper {
inline constexpr const char* File = ".\\RegistryHelper";
inline constexpr RaiseSite NoRights{File, 32}, ProfileNotOpened{File, 43}, SectionNotFound{File, 54},
    SectionNotOpened{File, 59}, ValueMissing{File, 84}, ValueNotBinary{File, 84}, SetFailed{File, 105};
}  // namespace registryHelper

}  // namespace buildTraits
