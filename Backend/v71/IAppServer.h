// IAppServer, 7.1: the root interface of the backend server.
#pragma once

#include "Backend/common/SlotTable.h"
#include "Backend/v71/Structures.h"
#include "winplat/com.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_IAPPSERVER_SLOTS(X)                                                                  \
    X(3, OpenConnection, (_ServerConfiguration* pConfig, _ConnectionType type, IAppConnection** ppConn), \
      (pConfig, type, ppConn), OUT_WRAPPED(AppConnectionWrapper, ppConn))                            \
    X(4, Slot4, (_ServerConfiguration* pConfig, _ConnectionType type, int fFlag, IAppConnection** ppConn), \
      (pConfig, type, fFlag, ppConn), OUT_WRAPPED(AppConnectionWrapper, ppConn))                     \
    X(5, Slot5, (_ServerConfiguration* pConfig, _ConnectionType type, IAppConnection** ppConn),     \
      (pConfig, type, ppConn), OUT_WRAPPED(AppConnectionWrapper, ppConn))                            \
    X(6, Slot6, (wchar_t* pszText), (pszText), FORWARD)                                              \
    X(7, OpenSynchronizator, (_ServerConfiguration* pConfig, ISynchronizator** ppSync),             \
      (pConfig, ppSync), OUT_WRAPPED(SynchronizatorWrapper, ppSync))                                 \
    X(8, GetLastError, (LONG lFlags, _DbError** ppError), (lFlags, ppError), FORWARD)                \
    X(9, Slot9, (ULONG* pulValue), (pulValue), FORWARD)                                              \
    X(10, Slot10, (), (), FORWARD)                                                                   \
    X(11, Slot11, (ULONG ulValue), (ulValue), FORWARD)                                               \
    X(12, Slot12, (), (), FORWARD)                                                                   \
    X(13, RegisterClientProcess, (ULONG ulProcessId, UINT uReserved), (ulProcessId, uReserved),     \
      FORWARD)                                                                                       \
    X(14, Slot14, (ULONG* pulValue), (pulValue), FORWARD)                                            \
    X(15, GetLog, (ILog** ppLog), (ppLog), OUT_WRAPPED(LogWrapper, ppLog))                           \
    X(16, Slot16, (wchar_t* pszText), (pszText), FORWARD)

// clang-format on
struct IAppServer : public IUnknown {
    BACKEND_IAPPSERVER_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(IAppServer, 0x65ABA069, 0x3C53, 0x4B62, 0x9D, 0xCB, 0xF0, 0xD0, 0xA2, 0x20, 0x25, 0x49)
BACKEND_CHECK_SLOTS(BACKEND_IAPPSERVER_SLOTS, IAppServer, 3, 14)
