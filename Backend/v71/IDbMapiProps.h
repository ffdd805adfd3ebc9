// IDbMapiProps, 7.1: a stored object seen as a set of MAPI properties.
#pragma once

#include "Backend/common/IDbObject.h"
#include "Backend/v71/Structures.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_IDBMAPIPROPS_SLOTS(X)                                                          \
    X(5, GetObjectType, (_ObjectType* pType), (pType), FORWARD)                               \
    X(6, Slot6, (GUID* pGuid), (pGuid), FORWARD)                                              \
    X(7, Slot7, (GUID* pGuid), (pGuid), FORWARD)                                              \
    X(8, Slot8, (), (), FORWARD)                                                               \
    X(9, GetPropList, (_SPropTagArray** ppTags), (ppTags), FORWARD)                           \
    X(10, GetProps, (_SPropTagArray* pTags, _SPropValueArray** ppValues), (pTags, ppValues), \
      FORWARD)                                                                                 \
    X(11, SetProps, (_SPropValueArray* pValues, _SPropProblemArray** ppProblems),            \
      (pValues, ppProblems), FORWARD)                                                          \
    X(12, Slot12, (ULONG ulPropTag, IStream* pStream), (ulPropTag, pStream),                  \
      IN_UNWRAPPED(pStream))                                                                   \
    X(13, OpenProperty,                                                                        \
      (ULONG ulPropTag, REFIID riid, ULONG ulInterfaceOptions, int fCreate, int fModify,       \
       IUnknown** ppUnk),                                                                      \
      (ulPropTag, riid, ulInterfaceOptions, fCreate, fModify, ppUnk), SPECIAL)                 \
    X(14, DeleteProps, (_SPropTagArray* pTags, _SPropProblemArray** ppProblems),             \
      (pTags, ppProblems), FORWARD)                                                            \
    X(15, Slot15, (_SPropTagArray** ppFirst, _SPropTagArray** ppSecond),                     \
      (ppFirst, ppSecond), FORWARD)                                                            \
    X(16, Slot16, (LONG lFirst, LONG lSecond, int fFlag), (lFirst, lSecond, fFlag), FORWARD)   \
    X(17, Slot17, (ULONG ulFlags), (ulFlags), FORWARD)

// Every slot from 3 on, as a wrapper of IDbMapiProps sees them.
#define BACKEND_IDBMAPIPROPS_ALL_SLOTS(X) BACKEND_IDBOBJECT_SLOTS(X) BACKEND_IDBMAPIPROPS_SLOTS(X)

// clang-format on
struct IDbMapiProps : public IDbObject {
    BACKEND_IDBMAPIPROPS_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(IDbMapiProps, 0x12A94FB1, 0xF6E5, 0x4825, 0x8F, 0x3C, 0xE7, 0x0A, 0x67, 0x93, 0x81, 0x97)
BACKEND_CHECK_SLOTS(BACKEND_IDBMAPIPROPS_SLOTS, IDbMapiProps, 5, 13)
BACKEND_CHECK_SLOTS(BACKEND_IDBMAPIPROPS_ALL_SLOTS, IDbMapiPropsAll, 3, 15)
