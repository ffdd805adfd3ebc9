// The 7.1 tool's entry point: parses the command line, runs the adoption and
// turns its outcome into console text and the exit code (the HRESULT).
#pragma once

namespace storeset71 {

// argv is narrow text in the ANSI code page.
int main(int argc, char** argv);

}  // namespace storeset71
