// printf-style formatting into a fixed buffer that never overflows it.
#pragma once

#include <cstddef>

namespace tavlo::timezone {

// Writes at most size - 1 characters and a terminating NUL (nothing for a
// null buffer or size 0); returns the characters written, without the NUL.
int boundedFormat(char* buffer, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));

}  // namespace tavlo::timezone
