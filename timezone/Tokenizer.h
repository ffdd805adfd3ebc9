// A re-entrant splitter over a writable text, in the manner of strtok_r.
#pragma once

namespace tavlo::timezone {

// Returns the next token of text (or, when text is null, of the text the
// cursor walks), cut at the first character of delimiters, or null when only
// delimiters remain. Leading and repeated delimiters yield no empty tokens.
// The delimiter that ends a token is overwritten with NUL; the cursor then
// points behind it, or is null once the text is used up.
char* nextToken(char* text, const char* delimiters, char** cursor);

}  // namespace tavlo::timezone
