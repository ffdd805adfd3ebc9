// The 7.1 build links MAPI from the system's MAPI32.dll by ordinal. The
// program's start-up binds the eight imports once, as the loader would
// before main, and a module that is missing or will not load, or a missing
// ordinal, stops the program there with the loader's status. The functions themselves are the ones
// MapiStubs.h declares; an unbound one fails softly (E_FAIL, nothing, or 0).
#pragma once

#include <cstdint>
#include <string>

namespace mapiImports {

// The loader's statuses for a missing module (or a missing module it
// needs), a file that is no module, a missing ordinal, and a missing symbol
// a module it needs imports.
inline constexpr uint32_t StatusDllNotFound = 0xC0000135u;
inline constexpr uint32_t StatusInvalidImageFormat = 0xC000007Bu;
inline constexpr uint32_t StatusOrdinalNotFound = 0xC0000138u;
inline constexpr uint32_t StatusEntryPointNotFound = 0xC0000139u;

// Loads MAPI32.dll and binds every import; true when all are bound (then
// again at once on later calls). Otherwise *status and *message say what is
// missing, or why the module would not load, and nothing stays bound.
bool bind(uint32_t* status, std::string* message);

// Forgets the bindings and frees the module; for tests that lay out another
// world.
void unbind();

}  // namespace mapiImports
