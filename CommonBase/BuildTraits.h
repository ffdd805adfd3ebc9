// What differs between the builds of the shared sources sits in one traits
// header per build, BaseTraits.h in the build's own folder, which the build's
// target puts on the include path: which product codes the name table knows,
// where the shared MAPI helpers' raise sites say they are, and the form of
// the profile name. The shared sources read these names and nothing else of
// the build.
#pragma once

namespace buildTraits {

struct RaiseSite {
    const char* file;
    int line;
};

}  // namespace buildTraits

#include "BaseTraits.h"
