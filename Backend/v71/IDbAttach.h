// IDbAttach and IDbRecipient, 7.1: an attachment and a recipient of a
// message; IDbMapiProps's slots only. IDbRecipient exists only in the 7.1 set.
#pragma once

#include "Backend/v71/IDbMapiProps.h"

#define BACKEND_IDBATTACH_ALL_SLOTS(X) BACKEND_IDBMAPIPROPS_ALL_SLOTS(X)
#define BACKEND_IDBRECIPIENT_ALL_SLOTS(X) BACKEND_IDBMAPIPROPS_ALL_SLOTS(X)

struct IDbAttach : public IDbMapiProps {};
struct IDbRecipient : public IDbMapiProps {};

BACKEND_DEFINE_IID(IDbAttach, 0xD3C525C8, 0x712C, 0x431E, 0x9F, 0x30, 0x0D, 0xA3, 0x09, 0x63, 0x3A, 0xA4)
BACKEND_DEFINE_IID(IDbRecipient, 0xCD6BF09B, 0xFF83, 0x43D2, 0xA6, 0x7F, 0xB3, 0x12, 0xF2, 0xD1, 0xF0, 0x0D)
BACKEND_CHECK_SLOTS(BACKEND_IDBATTACH_ALL_SLOTS, IDbAttachAll, 3, 15)
BACKEND_CHECK_SLOTS(BACKEND_IDBRECIPIENT_ALL_SLOTS, IDbRecipientAll, 3, 15)
