// The fixed tables that connect charset names, Windows code pages and the
// names under which the iconv converter knows an encoding.
#pragma once

#include <cstdint>

// The code page of a charset name (ASCII case ignored), or 0 when no table
// knows it. A null name raises E_INVALIDARG.
uint16_t getCodePageFromCharset(const char* charsetName);
// The charset name of a code page, or null.
const char* getCharsetFromCodePage(unsigned codePage);
// The converter name of a code page (0 is taken as 1252), or null, to open
// with winplat::Converter; of the names, only MACHEBREW and MACTHAI do not
// open.
const char* getIconvNameFromCodePage(unsigned codePage);
