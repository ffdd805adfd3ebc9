// IAppServer: the root interface of the backend server.
#pragma once

#include "Backend/common/SlotTable.h"
#include "Backend/v74/Structures.h"
#include "winplat/com.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_IAPPSERVER_SLOTS(X)                                                                  \
    X(3, OpenConnection,                                                                             \
      (_ServerConfiguration* pConfig, _ConnectionType type, ULONG ulFlags, IAppConnection** ppConn), \
      (pConfig, type, ulFlags, ppConn), OUT_WRAPPED(AppConnectionWrapper, ppConn))                   \
    X(4, Slot4,                                                                                      \
      (_ServerConfiguration* pConfig, _ConnectionType type, ULONG ulFlags, IAppConnection** ppConn), \
      (pConfig, type, ulFlags, ppConn), OUT_WRAPPED(AppConnectionWrapper, ppConn))                   \
    X(5, Slot5, (_ServerConfiguration* pConfig, _ConnectionType type, IAppConnection** ppConn),     \
      (pConfig, type, ppConn), OUT_WRAPPED(AppConnectionWrapper, ppConn))                            \
    X(6, Slot6,                                                                                      \
      (_ServerConfiguration* pConfig, const wchar_t* pszFirst, ULONG ulFlags,                        \
       const wchar_t* pszSecond),                                                                    \
      (pConfig, pszFirst, ulFlags, pszSecond), FORWARD)                                              \
    X(7, Slot7, (wchar_t* pszText), (pszText), FORWARD)                                              \
    X(8, Slot8, (_ServerConfiguration* pConfig, ISynchronizator** ppSync), (pConfig, ppSync),       \
      OUT_WRAPPED(SynchronizatorWrapper, ppSync))                                                    \
    X(9, GetLastError, (LONG lFlags, _DbError** ppError), (lFlags, ppError), FORWARD)                \
    X(10, Slot10, (ULONG* pulValue), (pulValue), FORWARD)                                            \
    X(11, Slot11, (), (), FORWARD)                                                                   \
    X(12, Slot12, (ULONG ulValue), (ulValue), FORWARD)                                               \
    X(13, Slot13, (), (), FORWARD)                                                                   \
    X(14, RegisterClientProcess, (ULONG ulProcessId, ULONG ulReserved, int fRegister),              \
      (ulProcessId, ulReserved, fRegister), FORWARD)                                                 \
    X(15, Slot15, (ULONG* pulValue), (pulValue), FORWARD)                                            \
    X(16, Slot16, (ILog** ppLog), (ppLog), OUT_WRAPPED(LogWrapper, ppLog))                           \
    X(17, Slot17, (wchar_t* pszText), (pszText), FORWARD)

// clang-format on
struct IAppServer : public IUnknown {
    BACKEND_IAPPSERVER_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(IAppServer, 0x65ABA069, 0x3C53, 0x4B62, 0x9D, 0xCB, 0xF0, 0xD0, 0xA2, 0x20, 0x25, 0x49)
BACKEND_CHECK_SLOTS(BACKEND_IAPPSERVER_SLOTS, IAppServer, 3, 15)
