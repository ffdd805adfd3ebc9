// IDbAttach: an attachment; IDbMapiProps's slots only.
#pragma once

#include "Backend/v74/IDbMapiProps.h"

#define BACKEND_IDBATTACH_ALL_SLOTS(X) BACKEND_IDBMAPIPROPS_ALL_SLOTS(X)

struct IDbAttach : public IDbMapiProps {};

BACKEND_DEFINE_IID(IDbAttach, 0xD3C525C8, 0x712C, 0x431E, 0x9F, 0x30, 0x0D, 0xA3, 0x09, 0x63, 0x3A, 0xA4)
BACKEND_CHECK_SLOTS(BACKEND_IDBATTACH_ALL_SLOTS, IDbAttachAll, 3, 16)
