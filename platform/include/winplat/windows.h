// Umbrella header of the platform layer: what a Windows source would get from
// the system headers it includes.
#pragma once

#include "winplat/types.h"
#include "winplat/errors.h"
#if __has_include("winplat/kernel.h")
#include "winplat/kernel.h"
#endif
#if __has_include("winplat/console.h")
#include "winplat/console.h"
#endif
#if __has_include("winplat/text.h")
#include "winplat/text.h"
#endif
#if __has_include("winplat/registry.h")
#include "winplat/registry.h"
#endif
#if __has_include("winplat/files.h")
#include "winplat/files.h"
#endif
#if __has_include("winplat/modules.h")
#include "winplat/modules.h"
#endif
#if __has_include("winplat/process.h")
#include "winplat/process.h"
#endif
#if __has_include("winplat/time.h")
#include "winplat/time.h"
#endif
#if __has_include("winplat/locale.h")
#include "winplat/locale.h"
#endif
#if __has_include("winplat/shell.h")
#include "winplat/shell.h"
#endif
#if __has_include("winplat/com.h")
#include "winplat/com.h"
#endif
#if __has_include("winplat/oleauto.h")
#include "winplat/oleauto.h"
#endif
