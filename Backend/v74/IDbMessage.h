// IDbMessage: a message of a folder.
#pragma once

#include "Backend/v74/IDbMapiProps.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_IDBMESSAGE_SLOTS(X)                                                                \
    X(19, Slot19, (IDbTable** ppTable), (ppTable), OUT_WRAPPED(DbTableWrapper, ppTable))          \
    X(20, Slot20, (IDbTable** ppTable), (ppTable), OUT_WRAPPED(DbTableWrapper, ppTable))          \
    X(21, Slot21, (ULONG ulFirst, ULONG ulSecond, IDbAttach** ppAttach),                          \
      (ulFirst, ulSecond, ppAttach), OUT_WRAPPED(DbAttachWrapper, ppAttach))                       \
    X(22, Slot22, (GUID* pGuid, ULONG* pulValue, IDbAttach** ppAttach),                           \
      (pGuid, pulValue, ppAttach), OUT_WRAPPED(DbAttachWrapper, ppAttach))                         \
    X(23, Slot23, (ULONG ulFlags), (ulFlags), FORWARD)                                            \
    X(24, Slot24, (), (), FORWARD)                                                                \
    X(25, Slot25, (_SRow* pRow), (pRow), FORWARD)                                                 \
    X(26, Slot26, (ULONG ulFlags, _SRowSet* pRows), (ulFlags, pRows), FORWARD)                    \
    X(27, Slot27, (ULONG ulFirst, ULONG ulSecond), (ulFirst, ulSecond), FORWARD)                  \
    X(28, Slot28, (_SPropValueArray* pValues, _SPropProblemArray** ppProblems),                  \
      (pValues, ppProblems), FORWARD)                                                              \
    X(29, Slot29, (_SPropTagArray* pTags, _SPropProblemArray** ppProblems), (pTags, ppProblems),  \
      FORWARD)                                                                                     \
    X(30, Slot30, (), (), FORWARD)                                                                \
    X(31, Slot31, (), (), FORWARD)

#define BACKEND_IDBMESSAGE_ALL_SLOTS(X) BACKEND_IDBMAPIPROPS_ALL_SLOTS(X) BACKEND_IDBMESSAGE_SLOTS(X)

// clang-format on
struct IDbMessage : public IDbMapiProps {
    BACKEND_IDBMESSAGE_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(IDbMessage, 0xC2F1FDB4, 0x390A, 0x4E30, 0x96, 0x65, 0x63, 0x41, 0x8F, 0xBF, 0x5E, 0x6F)
BACKEND_CHECK_SLOTS(BACKEND_IDBMESSAGE_SLOTS, IDbMessage, 19, 13)
BACKEND_CHECK_SLOTS(BACKEND_IDBMESSAGE_ALL_SLOTS, IDbMessageAll, 3, 29)
