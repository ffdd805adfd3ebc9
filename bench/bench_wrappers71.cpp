// The 7.1 build of the wrapper layer: a wrapped call against what it is made
// of, and AddRef and Release, which this build forwards to the backend object
// (WrapperBenchmarks.h). Without a MAPI runtime bound the calling threads
// serve without MAPI, as they do when it does not start.
#include "Tools/Storeset_7_1/BackendWrappers/Wrappers.h"
#include "bench/WrapperBenchmarks.h"
