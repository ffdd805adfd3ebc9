#include <cstdint>
#include <string>

#include "BackendWrappers/OutOfThreadCaller.h"
#include "Threads/Thread.h"
#include "Tools/Storeset_7_1/MapiImports71.h"
#include "Tools/Storeset_7_1/Storeset71.h"
#include "winplat/console.h"

// What the loader does before main: bind MAPI32.dll's imports, or stop with
// its status and name what is missing.
int main(int argc, char** argv) {
    // A thread misused anywhere in the tool reports from a thread of its own.
    setThreadMisuseRunner(BackendWrappers::runInCrasherThread);
    uint32_t status = 0;
    std::string message;
    if (!mapiImports::bind(&status, &message)) {
        winplat::console::writeErrNarrow(message);
        return winplat::exitStatusFromResult(static_cast<int>(status));
    }
    return winplat::runAnsiMain(argc, argv, storeset71::main);
}
