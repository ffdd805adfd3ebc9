// Test helper: loads a module by the bare name given as its first argument,
// after making its second, when given, the DLL directory, and exits with what
// the module's whoAmI returns (100: it did not load, 101: no whoAmI). A test
// runs a copy of it from a folder of its own, to see where the program's
// folder comes in the search.
#include <cstdio>
#include <string>

#include "winplat/kernel.h"
#include "winplat/modules.h"
#include "winplat/utf16.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: module_probe <module> [<dll directory>]\n");
        return 2;
    }
    if (argc > 2 && !SetDllDirectoryW(winplat::utf8ToUtf16(argv[2]).c_str())) {
        return 102;
    }
    HMODULE module = LoadLibraryW(winplat::utf8ToUtf16(argv[1]).c_str());
    if (module == nullptr) {
        std::fprintf(stderr, "%s\n", winplat::modules::lastLoadError().c_str());
        return 100;
    }
    auto whoAmI = reinterpret_cast<int (*)()>(reinterpret_cast<void*>(GetProcAddress(module, "whoAmI")));
    return whoAmI ? whoAmI() : 101;
}
