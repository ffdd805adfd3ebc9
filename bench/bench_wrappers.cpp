// The 7.4 build of the wrapper layer: a wrapped call against what it is made
// of (WrapperBenchmarks.h).
#include "BackendWrappers/v74/Wrappers.h"
#include "bench/WrapperBenchmarks.h"
