// The wrapper classes of a build's interface set, declared from the build's
// list, and the set in factory order. The build's Wrappers.h defines
//
//   #define BACKEND_WRAPPERS(X) X(wrapper class, interface, every slot from 3 on) ...
//
// in factory order and then includes this header.
#pragma once

#include <boost/shared_ptr.hpp>

#include "BackendWrappers/WrapperBase.h"
#include "BackendWrappers/WrapperFactory.h"

#define BW_NO_SLOTS(X)

#define BW_DECLARE_WRAPPER(W, I, SLOTS)                                                                  \
    class W : public WrapperBase<I, W> {                                                                 \
      public:                                                                                            \
        using WrapperBase<I, W>::WrapperBase;                                                            \
        static constexpr const char* QueryInterfaceName =                                                \
            "BackendWrappers::WrapperBase<struct " #I ",class BackendWrappers::" #W ">::QueryInterface"; \
        SLOTS(BACKEND_OVERRIDE_SLOT)                                                                     \
    };
#define BW_LIST_WRAPPER(W, I, SLOTS) , W

namespace BackendWrappers {

BACKEND_WRAPPERS(BW_DECLARE_WRAPPER)

// The set in factory order (the first comma is eaten by the dummy).
namespace detail {
template <class Dummy, class... Wrappers>
struct DropFirst {
    typedef InterfaceSet<Wrappers...> type;
};
}  // namespace detail
typedef detail::DropFirst<void BACKEND_WRAPPERS(BW_LIST_WRAPPER)>::type WrapperSet;

// Wraps pUnk as the interface named by riid (one of the set).
HRESULT CreateWrapper(const IID& riid, void** ppOut, IUnknown* pUnk, bool direct,
                      boost::shared_ptr<OutOfThreadCaller> caller);

}  // namespace BackendWrappers
