#include "Tools/Storeset/Storeset.h"
#include "winplat/console.h"

int main(int argc, char** argv) {
    return winplat::runWmain(argc, argv, wmain);
}
