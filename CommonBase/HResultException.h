// The one error type of the system and the facility through which every
// raise goes. A raise site names its module path and its qualified function
// name as literals; the message shows them with the code's symbolic name.
//
// Each build of the library brings its own form of HResultException,
// raiseHResult and ErrorLocation in a BaseError.h of its own folder, which
// the build's target puts on the include path.
#pragma once

#include <cstdint>
#include <string>

#include "BaseError.h"
#include "CommonBase/HResultOf.h"

// "Missing property 0x%08x" for a property tag; never throws a formatting error.
std::wstring formatMessageSafely(uint32_t propTag);
