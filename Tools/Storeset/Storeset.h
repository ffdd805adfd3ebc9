// The tool's entry point: parses the command line, runs the adoption and
// turns its outcome into console text and the exit code.
#pragma once

int wmain(int argc, wchar_t** argv);
