// Windows Installer: the qualified-component call, which msi.dll exports by
// ordinal only (MSI_ORDINAL_PROVIDE_QUALIFIED_COMPONENT).
//
// UINT call(category, qualifier, installMode, pathBuffer, pathLength):
//   - *pathLength is the buffer size in characters, terminator included; on
//     return it is the path length without the terminator.
//   - ERROR_SUCCESS: the path was copied.
//   - ERROR_MORE_DATA: the buffer is too small; *pathLength is the length
//     needed without the terminator. A null buffer with a length pointer
//     only measures (ERROR_SUCCESS).
//   - ERROR_UNKNOWN_COMPONENT: no such category; ERROR_INDEX_ABSENT: the
//     category has no such qualifier; ERROR_FILE_NOT_FOUND: the file the
//     component names is absent (not checked with INSTALLMODE_NODETECTION);
//   - ERROR_INVALID_PARAMETER: null category or qualifier, a buffer without
//     a length, or an unknown install mode.
//
// The project's stand-in msi.dll reads the published components from the
// registry: under HKEY_LOCAL_MACHINE, WINPLAT_MSI_COMPONENTS_KEY plus
// "\<category>" is one key per category, with one value per qualifier (for
// example "1033\NT" or "1033"), REG_SZ or REG_EXPAND_SZ, holding the
// component's Windows path.
#pragma once

#include "winplat/errors.h"
#include "winplat/types.h"

#define MSI_ORDINAL_PROVIDE_QUALIFIED_COMPONENT 109

#define INSTALLMODE_DEFAULT 0
#define INSTALLMODE_EXISTING (-1)
#define INSTALLMODE_NODETECTION (-2)
#define INSTALLMODE_NOSOURCERESOLUTION (-3)

#define WINPLAT_MSI_COMPONENTS_KEY L"Software\\Winplat\\QualifiedComponents"

typedef UINT(WINAPI* PFN_MSIPROVIDEQUALIFIEDCOMPONENTW)(LPCWSTR szCategory, LPCWSTR szQualifier,
                                                        DWORD dwInstallMode, LPWSTR lpPathBuf,
                                                        LPDWORD pcchPathBuf);
