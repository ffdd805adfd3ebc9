// Failure injection: tests make a named platform or stand-in call fail with a
// chosen code. A call site asks `winplat::inject::take(name, &code)` before it
// does its work and fails with `code` when it returns true.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "winplat/types.h"

namespace winplat::inject {

// Arms a failure for `name`: the call fails `times` times (-1: always) after
// `skip` calls of it have passed. `code` is the Win32 error or the HRESULT the
// call returns or sets as its last error, as that call reports failures.
WINPLAT_API void arm(const std::string& name, int64_t code, int times = 1, int skip = 0);
// Removes every armed failure and clears the call counts.
WINPLAT_API void reset();
// True when the call `name` must fail now; `code` receives the armed code.
// Every query counts one call of `name`.
WINPLAT_API bool take(const char* name, int64_t* code);
// How often `name` was queried since the last reset.
WINPLAT_API int64_t calls(const std::string& name);

// Scoped reset for tests.
struct Scope {
    Scope() { reset(); }
    ~Scope() { reset(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
};

}  // namespace winplat::inject
