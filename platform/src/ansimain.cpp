// The narrow main glue: argv arrives as UTF-8 and leaves in the ANSI code page.
#include <string>
#include <vector>

#include "winplat/console.h"
#include "winplat/text.h"
#include "winplat/utf16.h"

namespace winplat {

int runAnsiMain(int argc, char** argv, int (*main)(int, char**)) {
    std::vector<std::string> args;
    args.reserve(static_cast<size_t>(argc > 0 ? argc : 0));
    for (int i = 0; i < argc; ++i) {
        std::wstring wide = utf8ToUtf16(argv[i] != nullptr ? argv[i] : "");
        int units = static_cast<int>(wide.size()) + 1;
        std::string ansi(static_cast<size_t>(units) * 2, '\0');
        int bytes = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), units, ansi.data(),
                                        static_cast<int>(ansi.size()), nullptr, nullptr);
        ansi.resize(bytes > 0 ? static_cast<size_t>(bytes - 1) : 0);
        args.push_back(std::move(ansi));
    }
    std::vector<char*> ansiArgv;
    ansiArgv.reserve(args.size() + 1);
    for (auto& a : args) {
        ansiArgv.push_back(a.data());
    }
    ansiArgv.push_back(nullptr);
    return exitStatusFromResult(main(argc, ansiArgv.data()));
}

}  // namespace winplat
