#include "BackendWrappers/OutOfThreadCaller.h"
#include "Threads/Thread.h"
#include "Tools/Storeset/Storeset.h"
#include "winplat/console.h"

int main(int argc, char** argv) {
    // A thread misused anywhere in the tool reports from a thread of its own.
    setThreadMisuseRunner(BackendWrappers::runInCrasherThread);
    return winplat::runWmain(argc, argv, wmain);
}
