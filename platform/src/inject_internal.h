// Failure injection for the platform's own calls.
#pragma once

namespace winplat::detail {

// For a call that reports failure through the last error: true when `name`
// must fail now, the armed code then set as the last error.
bool injected(const char* name);

}  // namespace winplat::detail
