#include "timezone/BoundedFormat.h"

#include <cstdarg>
#include <cstdio>

namespace tavlo::timezone {

int boundedFormat(char* buffer, size_t size, const char* format, ...) {
    if (buffer == nullptr || size == 0) {
        return 0;
    }
    if (size == 1) {
        buffer[0] = 0;
        return 0;
    }
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, size, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        n = static_cast<int>(size - 1);
    }
    buffer[n] = 0;
    return n;
}

}  // namespace tavlo::timezone
