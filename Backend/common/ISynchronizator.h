// ISynchronizator: the server's synchronisation engine, and its COM
// asynchronous form AsyncISynchronizator, as both interface sets have them.
//
// The table keeps each slot's in and out parameters apart, as the
// asynchronous form needs them: slot k of ISynchronizator takes the in list
// followed by the out list; AsyncISynchronizator has Begin_ at 2k-3 with the
// in list and Finish_ at 2k-2 with the out list (BACKEND_SYNC_ROW,
// BACKEND_ASYNC_ROW). Both declarations come from the one table.
//
// The sets differ in the names of slots 9, 18, 19, 20 and 24 and in the
// parameters of slots 10 to 12. A set's header defines
// BACKEND_ISYNCHRONIZATOR_ROWS(Y, X) from BACKEND_ISYNCHRONIZATOR_SHARED_ROWS
// with those, then includes this header for the declarations.
#pragma once

#include "Backend/common/SlotTable.h"
#include "Backend/common/Structures.h"
#include "winplat/objidl.h"

#ifndef BACKEND_ISYNCHRONIZATOR_ROWS
#error "a set's ISynchronizator.h defines BACKEND_ISYNCHRONIZATOR_ROWS before it includes this header"
#endif

// Y(X, slot, Name, (in params), (in args), (out params), (out args),
//   in treatment, out treatment)
// ROWS_10_TO_12(Y, X) gives the set's rows 10 to 12.
// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_ISYNCHRONIZATOR_SHARED_ROWS(Y, X, Name9, ROWS_10_TO_12, Name18, Name19, Name20, Name24) \
    Y(X, 3, Slot3, (), (), (), (), FORWARD, FORWARD)                                                \
    Y(X, 4, Slot4, (), (), (), (), FORWARD, FORWARD)                                                \
    Y(X, 5, Slot5, (_ServerConfiguration* pConfig, int fFlag), (pConfig, fFlag), (), (),           \
      FORWARD, FORWARD)                                                                             \
    Y(X, 6, Slot6, (), (), (), (), FORWARD, FORWARD)                                                \
    Y(X, 7, Slot7, (), (), (), (), FORWARD, FORWARD)                                                \
    Y(X, 8, Slot8, (), (), (), (), FORWARD, FORWARD)                                                \
    Y(X, 9, Name9, (), (), (_ConnectionInfo** ppInfo), (ppInfo), FORWARD, FORWARD)                  \
    ROWS_10_TO_12(Y, X)                                                                             \
    Y(X, 13, Slot13,                                                                                \
      (GUID guid, _SynchronizatorCallFlags flags, char* pszText, _QueueRequestPriority priority),   \
      (guid, flags, pszText, priority), (), (), FORWARD, FORWARD)                                   \
    Y(X, 14, Slot14, (_SynchronizatorCallFlags flags, _QueueRequestPriority priority),              \
      (flags, priority), (), (), FORWARD, FORWARD)                                                  \
    Y(X, 15, Slot15, (_SynchronizatorCallFlags flags, _QueueRequestPriority priority),              \
      (flags, priority), (), (), FORWARD, FORWARD)                                                  \
    Y(X, 16, Slot16, (IStream* pStream, wchar_t* pszFirst, wchar_t* pszSecond, ULONG ulFlags),      \
      (pStream, pszFirst, pszSecond, ulFlags), (), (), IN_UNWRAPPED(pStream), FORWARD)              \
    Y(X, 17, Slot17, (int fFlag, _QueueRequestPriority priority), (fFlag, priority), (), (),        \
      FORWARD, FORWARD)                                                                             \
    Y(X, 18, Name18, (_SynchronizatorCallFlags flags), (flags), (_SharingList** ppList), (ppList),  \
      FORWARD, FORWARD)                                                                             \
    Y(X, 19, Name19, (_SynchronizatorCallFlags flags, _SharingList* pList), (flags, pList), (), (), \
      FORWARD, FORWARD)                                                                             \
    Y(X, 20, Name20, (_SynchronizatorCallFlags flags, const wchar_t* pszServer), (flags, pszServer),\
      (_ServerInfo** ppInfo), (ppInfo), FORWARD, FORWARD)                                           \
    Y(X, 21, Slot21, (_SynchronizatorCallFlags flags), (flags), (), (), FORWARD, FORWARD)           \
    Y(X, 22, Slot22, (_SynchronizatorCallFlags flags), (flags), (), (), FORWARD, FORWARD)           \
    Y(X, 23, GetLastError, (LONG lFlags), (lFlags), (_DbError** ppError), (ppError), FORWARD,       \
      FORWARD)                                                                                      \
    Y(X, 24, Name24, (), (), (ILog** ppLog), (ppLog), FORWARD, OUT_WRAPPED(LogWrapper, ppLog))      \
    Y(X, 25, Slot25, (IUnknown* pUnk), (pUnk), (), (), IN_UNWRAPPED(pUnk), FORWARD)                 \
    Y(X, 26, Slot26, (), (), (), (), FORWARD, FORWARD)

// clang-format on
#define BACKEND_ISYNCHRONIZATOR_SLOTS(X) BACKEND_ISYNCHRONIZATOR_ROWS(BACKEND_SYNC_ROW, X)
#define BACKEND_ASYNCISYNCHRONIZATOR_SLOTS(X) BACKEND_ISYNCHRONIZATOR_ROWS(BACKEND_ASYNC_ROW, X)

struct ISynchronizator : public IUnknown {
    BACKEND_ISYNCHRONIZATOR_SLOTS(BACKEND_DECLARE_SLOT)
};

struct AsyncISynchronizator : public IUnknown {
    BACKEND_ASYNCISYNCHRONIZATOR_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(ISynchronizator, 0xFE50FFBB, 0x7F0D, 0x42B8, 0x85, 0x0C, 0x16, 0x74, 0xFF, 0x83, 0xDA,
                   0x3B)
BACKEND_DEFINE_IID(AsyncISynchronizator, 0x4DD96898, 0x53D2, 0x45FB, 0xA0, 0xBC, 0x29, 0x2D, 0xEF, 0x9A, 0x6B,
                   0xA1)
BACKEND_CHECK_SLOTS(BACKEND_ISYNCHRONIZATOR_SLOTS, ISynchronizator, 3, 24)
BACKEND_CHECK_SLOTS(BACKEND_ASYNCISYNCHRONIZATOR_SLOTS, AsyncISynchronizator, 3, 48)
