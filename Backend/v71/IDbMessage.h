// IDbMessage, 7.1: a message of a folder, with its attachments and recipients.
#pragma once

#include "Backend/v71/IDbAttach.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_IDBMESSAGE_SLOTS(X)                                                                \
    X(18, Slot18, (IDbTable** ppTable), (ppTable), OUT_WRAPPED(DbTableWrapper, ppTable))          \
    X(19, Slot19, (IDbTable** ppTable), (ppTable), OUT_WRAPPED(DbTableWrapper, ppTable))          \
    X(20, Slot20, (ULONG ulFirst, ULONG ulSecond, IDbAttach** ppAttach),                          \
      (ulFirst, ulSecond, ppAttach), OUT_WRAPPED(DbAttachWrapper, ppAttach))                       \
    X(21, Slot21, (GUID* pGuid, ULONG* pulValue, IDbAttach** ppAttach),                           \
      (pGuid, pulValue, ppAttach), OUT_WRAPPED(DbAttachWrapper, ppAttach))                         \
    X(22, Slot22, (ULONG ulFlags), (ulFlags), FORWARD)                                            \
    X(23, Slot23, (), (), FORWARD)                                                                \
    X(24, Slot24, (ULONG ulFirst, ULONG ulSecond, IDbRecipient** ppRecipient),                    \
      (ulFirst, ulSecond, ppRecipient), OUT_WRAPPED(DbRecipientWrapper, ppRecipient))              \
    X(25, Slot25, (ULONG* pulValue, IDbRecipient** ppRecipient), (pulValue, ppRecipient),         \
      OUT_WRAPPED(DbRecipientWrapper, ppRecipient))                                                \
    X(26, Slot26, (ULONG ulFlags, ULONG* pulValue), (ulFlags, pulValue), FORWARD)                 \
    X(27, Slot27, (ULONG ulFirst, ULONG ulSecond), (ulFirst, ulSecond), FORWARD)                  \
    X(28, Slot28, (_SPropValueArray* pValues, _SPropProblemArray** ppProblems),                  \
      (pValues, ppProblems), FORWARD)                                                              \
    X(29, Slot29, (_SPropTagArray* pTags, _SPropProblemArray** ppProblems), (pTags, ppProblems),  \
      FORWARD)                                                                                     \
    X(30, Slot30, (), (), FORWARD)

#define BACKEND_IDBMESSAGE_ALL_SLOTS(X) BACKEND_IDBMAPIPROPS_ALL_SLOTS(X) BACKEND_IDBMESSAGE_SLOTS(X)

// clang-format on
struct IDbMessage : public IDbMapiProps {
    BACKEND_IDBMESSAGE_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(IDbMessage, 0xC2F1FDB4, 0x390A, 0x4E30, 0x96, 0x65, 0x63, 0x41, 0x8F, 0xBF, 0x5E, 0x6F)
BACKEND_CHECK_SLOTS(BACKEND_IDBMESSAGE_SLOTS, IDbMessage, 18, 13)
BACKEND_CHECK_SLOTS(BACKEND_IDBMESSAGE_ALL_SLOTS, IDbMessageAll, 3, 28)
