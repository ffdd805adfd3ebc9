// The methods of the wrapper of the one interface only the 7.1 set has (the
// rest are the shared sources').
#include "Tools/Storeset_7_1/BackendWrappers/Wrappers.h"

#include "BackendWrappers/Forwarding.h"
#include "BackendWrappers/Specials.h"

namespace BackendWrappers {

#define BW_CLASS DbRecipientWrapper
BACKEND_IDBRECIPIENT_ALL_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS

}  // namespace BackendWrappers
