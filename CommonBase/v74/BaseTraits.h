// The 7.4 build's traits (see CommonBase/BuildTraits.h).
#pragma once

#include <string>

namespace buildTraits {

// The name table knows the migration and input codes of the product.
inline constexpr bool ProductMigrationCodeNames = true;

// The profile name is wide throughout.
typedef std::wstring ProfileName;
inline std::wstring widenProfileName(const ProfileName& name) {
    return name;
}

namespace mapiHelper {
inline constexpr const char* File = "MapiProvider\\Utilities\\MapiHelper";
inline constexpr RaiseSite NullObject{File, 26}, NullOut{File, 26}, GetPropsFailed{File, 48},
    NotOneValue{File, 51}, NotAnError{File, 58}, Missing{File, 62};
}  // namespace mapiHelper

namespace support {
inline constexpr const char* File = "MapiProvider\\Utilities\\Support";
inline constexpr RaiseSite NullAllocateBuffer{File, 25}, NullAllocateMore{File, 25}, NullFreeBuffer{File, 25},
    NoModule{File, 30}, NoExport{File, 35}, ExportFailed{File, 39};
}  // namespace support

namespace mapiAllocator {
inline constexpr RaiseSite QueryFailed{"MapiProvider\\Utilities\\MapiAllocator", 16};
}  // namespace mapiAllocator

namespace registryHelper {
inline constexpr const char* File = "Tools\\Storeset\\RegistryHelper";
inline constexpr RaiseSite NoRights{File, 49}, ProfileNotOpened{File, 57}, SectionNotFound{File, 65},
    SectionNotOpened{File, 70}, ValueMissing{File, 91}, ValueNotBinary{File, 94}, SetFailed{File, 103};
}  // namespace registryHelper

}  // namespace buildTraits
