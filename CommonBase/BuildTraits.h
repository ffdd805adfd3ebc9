// What differs between the 7.4 and the 7.1 builds of the shared sources sits
// in one traits header per build: which product codes the name table knows,
// where the shared MAPI helpers' raise sites say they are, and the form of
// the profile name. The shared sources read these names and nothing else of
// the build.
#pragma once

#ifdef STORESET_BUILD_71
#include "Tools/Storeset_7_1/BuildTraits71.h"
#else
#include "CommonBase/BuildTraits74.h"
#endif
