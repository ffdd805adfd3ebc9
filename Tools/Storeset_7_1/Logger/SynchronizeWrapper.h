// SynchronizeWrapper: a free-threaded COM object whose ISynchronize forwards
// to another ISynchronize, and which COM can marshal by the free-threaded
// marshaler aggregated under IMarshal. It is what a log manager is given to
// signal configuration changes with.
#pragma once

#include "Backend/common/ComInterfaces.h"
#include "CommonBase/IUnknownImpl.h"
#include "winplat/objidl.h"

// Copies an interface pointer from a From* to a To* with a reference of its own.
template <class From, class To>
struct SimpleCopy {
    static To* copy(From* from) {
        if (from) {
            from->AddRef();
        }
        return from;
    }
};

// The held side of a wrapper object: a first pointer (the wrapped object's
// identity) and a second (the wrapped interface), each an owned reference,
// released second first.
template <class Derived, class Wrapped, class Outer, class Inner, class Identity, class Copy>
class WrapperBase {
  public:
    WrapperBase(const WrapperBase&) = delete;
    WrapperBase& operator=(const WrapperBase&) = delete;

    virtual ~WrapperBase() {
        if (second_) {
            second_->Release();
        }
        if (first_) {
            first_->Release();
        }
    }
    virtual bool hasWrapped() const { return second_ != nullptr; }

  protected:
    WrapperBase() = default;
    // Takes references of its own on wrapped and on its identity.
    void hold(Wrapped* wrapped) {
        second_ = Copy::copy(wrapped);
        if (wrapped) {
            wrapped->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&first_));
        }
    }

    Identity* first_ = nullptr;
    Inner* second_ = nullptr;
};

class SynchronizeWrapper : public iui_::IUnknownImpl<iui_::InheritsFrom<ISynchronize>, iui_::Aggreg<IMarshal>,
                                                     iui_::Aggreg<IMarshal>, iui_::SupportAggreg>,
                           public WrapperBase<SynchronizeWrapper, ISynchronize, ISynchronize, ISynchronize,
                                              IUnknown, SimpleCopy<ISynchronize, ISynchronize>> {
  public:
    // A wrapper of target, its one reference in *out. With marshalled the
    // free-threaded marshaler answers IMarshal; without, IMarshal is not
    // there. E_INVALIDARG for a null target, E_POINTER for a null out.
    static HRESULT create(ISynchronize* target, bool marshalled, ISynchronize** out);

    STDMETHOD(QueryInterface)(REFIID riid, void** out) override;
    STDMETHOD(Wait)(DWORD flags, DWORD milliseconds) override;
    STDMETHOD(Signal)() override;
    STDMETHOD(Reset)() override;

  private:
    SynchronizeWrapper() = default;
    ~SynchronizeWrapper() override;

    // The marshaler's inner object (when marshalled), a spare slot, and the
    // ISynchronize that Wait, Signal and Reset go to.
    IUnknown* marshaler_ = nullptr;
    ISynchronize* spare_ = nullptr;
    ISynchronize* target_ = nullptr;
};
