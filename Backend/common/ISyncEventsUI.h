// BackendUI::ISyncEventsUI: takes the server's synchronisation events.
#pragma once

#include "Backend/common/SlotTable.h"
#include "Backend/common/Structures.h"
#include "winplat/com.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_ISYNCEVENTSUI_SLOTS(X)                                                          \
    X(3, Slot3, (BackendUI::SyncStatusEvents event), (event), FORWARD)                          \
    X(4, Slot4, (BackendUI::SyncGlobalEvents event, ULONG ulFirst, ULONG ulSecond),             \
      (event, ulFirst, ulSecond), FORWARD)                                                       \
    X(5, Slot5, (BackendUI::SyncFolderEvents event, const BackendUI::SyncFolderEventInfo* pInfo), \
      (event, pInfo), FORWARD)                                                                   \
    X(6, Slot6, (), (), FORWARD)

// clang-format on
namespace BackendUI {

struct ISyncEventsUI : public IUnknown {
    BACKEND_ISYNCEVENTSUI_SLOTS(BACKEND_DECLARE_SLOT)
};

inline constexpr IID IID_ISyncEventsUI = {
    0xD0F2B9B2, 0x5866, 0x44CF, {0xB5, 0xA7, 0xF4, 0x86, 0xEB, 0x97, 0xBF, 0x97}};

}  // namespace BackendUI

BACKEND_NAME_IID(BackendUI::ISyncEventsUI, BackendUI::IID_ISyncEventsUI)
BACKEND_CHECK_SLOTS(BACKEND_ISYNCEVENTSUI_SLOTS, ISyncEventsUI, 3, 4)
