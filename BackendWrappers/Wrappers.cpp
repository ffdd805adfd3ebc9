// Shared by every build: "Wrappers.h" is the build's own set (BackendWrappers/v74 or
// the 7.1 tool's folder), and the methods below are those of the classes every
// set has.
#include "Wrappers.h"

#include "BackendWrappers/Forwarding.h"
#include "BackendWrappers/Specials.h"

namespace BackendWrappers {

HRESULT IsSupportedIID(const IID& riid) {
    return detail::isSupportedIn(WrapperSet(), riid);
}

HRESULT detail::createWrapperByIid(const IID& riid, void** ppOut, IUnknown* pUnk, bool direct,
                                   const boost::shared_ptr<OutOfThreadCaller>& caller) {
    return createWrapperIn(WrapperSet(), riid, ppOut, pUnk, direct, caller);
}

HRESULT CreateWrapper(const IID& riid, void** ppOut, IUnknown* pUnk, bool direct,
                      boost::shared_ptr<OutOfThreadCaller> caller) {
    return detail::createWrapperByIid(riid, ppOut, pUnk, direct, caller);
}

// The methods of each class, one per row of its table; the classes are
// spread over three sources so that they compile in parallel.
#define BW_CLASS DbMapiPropsWrapper
BACKEND_IDBMAPIPROPS_ALL_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS DbMessageWrapper
BACKEND_IDBMESSAGE_ALL_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS DbFolderWrapper
BACKEND_IDBFOLDER_ALL_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS DbTableWrapper
BACKEND_IDBTABLE_ALL_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS DbAttachWrapper
BACKEND_IDBATTACH_ALL_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS DbMsgStoreWrapper
BACKEND_IDBMSGSTORE_ALL_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS DbObjectWrapper
BACKEND_IDBOBJECT_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS DbNamedPropsManagerWrapper
BACKEND_IDBNAMEDPROPSMANAGER_ALL_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS DatabaseManagerWrapper
BACKEND_IDATABASEMANAGER_ALL_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS
#define BW_CLASS DbNotificationEngineWrapper
BACKEND_IDBNOTIFICATIONENGINE_ALL_SLOTS(BW_DEFINE_SLOT)
#undef BW_CLASS

}  // namespace BackendWrappers
