// The methods of the wrappers of the structured-storage interfaces, one per row of
// each table (the rest are in Wrappers.cpp).
#include "Wrappers.h"

#include "BackendWrappers/Forwarding.h"
#include "BackendWrappers/Specials.h"

namespace BackendWrappers {

#define BW_CLASS StreamWrapper
BACKEND_ISTREAM_ALL_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS StorageWrapper
BACKEND_ISTORAGE_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS SequentialStreamWrapper
BACKEND_ISEQUENTIALSTREAM_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS EnumSTATSTGWrapper
BACKEND_IENUMSTATSTG_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS

}  // namespace BackendWrappers
