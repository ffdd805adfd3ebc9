// IDbTable: a table of rows of the backend server (a folder's contents or
// hierarchy).
#pragma once

#include "Backend/common/IDbObject.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_IDBTABLE_SLOTS(X)                                                                   \
    X(5, Slot5, (GUID* pGuid), (pGuid), FORWARD)                                                   \
    X(6, SetColumns, (_SPropTagArray* pTags, int fFlags), (pTags, fFlags), FORWARD)                \
    X(7, QueryColumns, (int fFlags, _SPropTagArray** ppTags), (fFlags, ppTags), FORWARD)           \
    X(8, Slot8, (ULONG* pulCount), (pulCount), FORWARD)                                            \
    X(9, SeekRow, (ULONG bookmark, LONG lRowCount, LONG* plRowsSought),                            \
      (bookmark, lRowCount, plRowsSought), FORWARD)                                                 \
    X(10, SeekRowApprox, (ULONG ulNumerator, ULONG ulDenominator), (ulNumerator, ulDenominator),   \
      FORWARD)                                                                                      \
    X(11, QueryPosition, (ULONG* pulRow, ULONG* pulNumerator, ULONG* pulDenominator),              \
      (pulRow, pulNumerator, pulDenominator), FORWARD)                                              \
    X(12, FindRow, (_SRestrictionEx* pRes, ULONG bookmark, int fFlags), (pRes, bookmark, fFlags),  \
      FORWARD)                                                                                      \
    X(13, Restrict, (_SRestrictionEx* pRes, int fFlags), (pRes, fFlags), FORWARD)                  \
    X(14, CreateBookmark, (ULONG* pBookmark), (pBookmark), FORWARD)                                \
    X(15, FreeBookmark, (ULONG bookmark), (bookmark), FORWARD)                                     \
    X(16, SortTable, (_SSortOrderSet* pSort, int fFlags), (pSort, fFlags), FORWARD)                \
    X(17, QuerySortOrder, (_SSortOrderSet** ppSort), (ppSort), FORWARD)                            \
    X(18, QueryRows, (LONG lRowCount, int fFlags, _SRowSet** ppRows), (lRowCount, fFlags, ppRows), \
      FORWARD)                                                                                      \
    X(19, Slot19, (ULONG cb, BYTE* pb, ULONG ulFlags, _SRowSet** ppRows, ULONG* pulCount),         \
      (cb, pb, ulFlags, ppRows, pulCount), FORWARD)                                                 \
    X(20, Slot20, (ULONG cb, BYTE* pb, ULONG* pulValue), (cb, pb, pulValue), FORWARD)              \
    X(21, Slot21, (ULONG cb, BYTE* pb, ULONG* pcbOut, BYTE** ppbOut), (cb, pb, pcbOut, ppbOut),    \
      FORWARD)                                                                                      \
    X(22, Slot22, (ULONG cb, BYTE* pb, ULONG* pulValue), (cb, pb, pulValue), FORWARD)              \
    X(23, Advise, (IDbAdviseSink* pSink, int fFlags, ULONG* pulConnection),                        \
      (pSink, fFlags, pulConnection), IN_UNWRAPPED(pSink))                                          \
    X(24, Slot24, (ULONG ulConnection), (ulConnection), FORWARD)

#define BACKEND_IDBTABLE_ALL_SLOTS(X) BACKEND_IDBOBJECT_SLOTS(X) BACKEND_IDBTABLE_SLOTS(X)

// clang-format on
struct IDbTable : public IDbObject {
    BACKEND_IDBTABLE_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(IDbTable, 0xD82E8E8B, 0x0B94, 0x44CA, 0x90, 0x8C, 0x4B, 0x3B, 0x38, 0x05, 0x4A, 0x6B)
BACKEND_CHECK_SLOTS(BACKEND_IDBTABLE_SLOTS, IDbTable, 5, 20)
BACKEND_CHECK_SLOTS(BACKEND_IDBTABLE_ALL_SLOTS, IDbTableAll, 3, 22)
