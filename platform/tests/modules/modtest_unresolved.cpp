// Test module with an import nothing provides: loading it must fail.
#define TESTMOD_EXPORT extern "C" __attribute__((visibility("default")))

extern "C" int winplatTestFunctionNobodyExports();

TESTMOD_EXPORT int usesMissingImport() {
    return winplatTestFunctionNobodyExports();
}
