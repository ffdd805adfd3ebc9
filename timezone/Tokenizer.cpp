#include "timezone/Tokenizer.h"

#include <cstring>

namespace tavlo::timezone {

char* nextToken(char* text, const char* delimiters, char** cursor) {
    char* p = text != nullptr ? text : *cursor;
    if (p == nullptr) {
        return nullptr;
    }
    p += std::strspn(p, delimiters);
    if (*p == 0) {
        *cursor = nullptr;
        return nullptr;
    }
    char* end = p + std::strcspn(p, delimiters);
    if (*end == 0) {
        *cursor = nullptr;
    } else {
        *end = 0;
        *cursor = end + 1;
    }
    return p;
}

}  // namespace tavlo::timezone
