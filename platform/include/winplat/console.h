// The console writer and the main -> wmain glue. All console text of the
// system goes through here: wide text, and narrow text in the ANSI code page
// (as a Windows console program's narrow text is), becomes UTF-8 and is
// written to file descriptor 1 or 2 on one narrow path (mixing wide and narrow
// writes on one stream loses text, so nothing may use std::wcout/std::wcerr).
// So a name shows the same on every line, whichever way it was printed.
#pragma once

#include <string>
#include <string_view>

#include "winplat/types.h"

namespace winplat::console {

WINPLAT_API void writeOut(std::wstring_view text);
WINPLAT_API void writeErr(std::wstring_view text);
// Narrow text is taken in the ANSI code page (Windows-1252) and converted.
WINPLAT_API void writeOutNarrow(std::string_view text);
WINPLAT_API void writeErrNarrow(std::string_view text);

// Collects what the writer is given, instead of writing it, for the life of
// the object (one capture at a time per process; captures nest, the inner one
// collecting while it lives). Text is kept as the UTF-8 that would have been
// written.
class WINPLAT_API Capture {
  public:
    Capture();
    ~Capture();
    Capture(const Capture&) = delete;
    Capture& operator=(const Capture&) = delete;

    std::string out() const;
    std::string err() const;
    std::wstring outWide() const;  // as UTF-16 units
    std::wstring errWide() const;
    void clear();

    struct State;

  private:
    friend struct CaptureAccess;
    State* state_;
    Capture* previous_;
};

}  // namespace winplat::console

namespace winplat {

// Runs a tool's wmain with argv converted from UTF-8 and returns the process
// exit status. Only the low 8 bits of an exit status survive on this
// platform, so a non-zero result whose low byte is 0 (a failure HRESULT such
// as 0x80040100) would read as success: such a result exits with 1. Any other
// result exits with its low byte.
WINPLAT_API int runWmain(int argc, char** argv, int (*wmain)(int, wchar_t**));
// The same for a narrow main: argv is converted from UTF-8 to the ANSI code
// page, as a Windows console program receives it; a character the code page
// lacks becomes the default character.
WINPLAT_API int runAnsiMain(int argc, char** argv, int (*main)(int, char**));
// The mapping runWmain applies to wmain's result.
WINPLAT_API int exitStatusFromResult(int result);

}  // namespace winplat
