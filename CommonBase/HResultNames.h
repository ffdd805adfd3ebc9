// Text of an HRESULT: "0x%08x" of the code, then a blank and its symbolic name
// when the name table knows the code.
#pragma once

#include <string>

#include "winplat/types.h"

std::string formatHResult(HRESULT hr);
std::wstring formatHResultW(HRESULT hr);

// The name of a code, or null when the table does not hold it.
const char* hresultName(HRESULT hr);
// Number of distinct codes in the table.
size_t hresultNameCount();
