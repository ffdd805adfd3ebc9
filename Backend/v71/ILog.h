// ILog and ILogManager, 7.1: the server's own log and its manager.
#pragma once

#include "Backend/common/SlotTable.h"
#include "Backend/v71/Structures.h"
#include "winplat/objidl.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_ILOG_SLOTS(X)                                                                      \
    X(3, WriteEntry, (_LogSeverity severity, _LogFacility facility, ULONG ulThreadId, const wchar_t* pszText), \
      (severity, facility, ulThreadId, pszText), FORWARD)                                          \
    X(4, GetLogManager, (ILogManager** ppManager), (ppManager),                                   \
      OUT_WRAPPED(LogManagerWrapper, ppManager))                                                   \
    X(5, Slot5, (wchar_t** ppszText), (ppszText), FORWARD)                                        \
    X(6, Slot6, (const wchar_t* pszFirst, const wchar_t* pszSecond), (pszFirst, pszSecond),       \
      FORWARD)                                                                                     \
    X(7, Slot7, (wchar_t** ppszFirst, wchar_t** ppszSecond, wchar_t** ppszThird),                 \
      (ppszFirst, ppszSecond, ppszThird), FORWARD)                                                 \
    X(8, Slot8, (_LogDisplaying* pDisplaying), (pDisplaying), FORWARD)

#define BACKEND_ILOGMANAGER_SLOTS(X)                                                               \
    X(3, Slot3, (ULONG ulValue), (ulValue), FORWARD)                                              \
    X(4, Slot4, (ULONG* pulValue), (pulValue), FORWARD)                                           \
    X(5, Slot5, (ULONG ulFirst, ULONG ulSecond), (ulFirst, ulSecond), FORWARD)                    \
    X(6, GetMasks, (ULONG* pulFirstMask, ULONG* pulSecondMask), (pulFirstMask, pulSecondMask),    \
      FORWARD)                                                                                     \
    X(7, Slot7, (ISynchronize* pSync, ULONG* pulCookie), (pSync, pulCookie), IN_UNWRAPPED(pSync)) \
    X(8, Slot8, (ULONG ulCookie), (ulCookie), FORWARD)                                            \
    X(9, Slot9, (GUID* pGuid), (pGuid), FORWARD)

// clang-format on
struct ILogManager : public IUnknown {
    BACKEND_ILOGMANAGER_SLOTS(BACKEND_DECLARE_SLOT)
};

struct ILog : public IUnknown {
    BACKEND_ILOG_SLOTS(BACKEND_DECLARE_SLOT)
};

BACKEND_DEFINE_IID(ILog, 0x47323FA0, 0x8DD7, 0x4BD9, 0x9C, 0xEE, 0xF6, 0x64, 0x78, 0xF2, 0x17, 0xEE)
BACKEND_DEFINE_IID(ILogManager, 0x68169311, 0x6B1C, 0x4742, 0x96, 0x99, 0xE6, 0x3A, 0x96, 0xAF, 0xF7, 0x60)
BACKEND_CHECK_SLOTS(BACKEND_ILOG_SLOTS, ILog, 3, 6)
BACKEND_CHECK_SLOTS(BACKEND_ILOGMANAGER_SLOTS, ILogManager, 3, 7)
