// The generic IUnknown of the system's COM objects: an interlocked count from
// 1, QueryInterface over a compile-time list of interfaces, and optional
// aggregation of inner objects by interface ID.
//
//   class Backend : public iui_::IUnknownImpl<IStreamData, IStreamDataCallbacks> {...};
//   class Wrapper : public iui_::IUnknownImpl<iui_::InheritsFrom<IDbMsgStore, IDbMapiProps, IDbObject>,
//                                             IBackendWrapper, iui_::Aggreg<IMarshal>, iui_::SupportAggreg>
//                                             {...};
//
// A list item is an interface (one face of the object), `InheritsFrom<I, Bases...>`
// (one face I that also answers for its base interfaces), `Aggreg<I>` (no face:
// the inner object registered under I's ID answers), or an aggregation policy.
// The first face doubles as the object's IUnknown.
#pragma once

#include <cstring>
#include <map>
#include <type_traits>

#include "winplat/com.h"
#include "winplat/windows.h"

template <class I>
struct BackendIid;

namespace iui_ {

// Interface IDs by type: specialise with IUI_INTERFACE_ID; the backend's
// interfaces are known through their own table.
template <class I, class = void>
struct InterfaceId;

template <>
struct InterfaceId<IUnknown> {
    static const IID& get() { return IID_IUnknown; }
};

template <class I>
struct InterfaceId<I, std::void_t<decltype(BackendIid<I>::value)>> {
    static const IID& get() { return BackendIid<I>::value; }
};

// Byte-wise order of the 16 bytes of a GUID.
struct guidLess {
    bool operator()(const GUID& a, const GUID& b) const { return std::memcmp(&a, &b, sizeof(GUID)) < 0; }
};

template <int Enabled>
struct AggregationSupport {};
using SupportAggreg = AggregationSupport<1>;
struct DoesntSupportAggreg {};

template <class I, class... Bases>
struct InheritsFrom {};

template <class I>
struct Aggreg {};

namespace detail {

template <class Item>
struct ItemTraits {
    using Face = Item;
    static bool answers(REFIID riid) { return IsEqualGUID(riid, InterfaceId<Item>::get()); }
    static constexpr bool hasFace = true;
    static constexpr bool aggregation = false;
};

template <class I, class... Bases>
struct ItemTraits<InheritsFrom<I, Bases...>> {
    using Face = I;
    static bool answers(REFIID riid) {
        return IsEqualGUID(riid, InterfaceId<I>::get()) ||
               (IsEqualGUID(riid, InterfaceId<Bases>::get()) || ...);
    }
    static constexpr bool hasFace = true;
    static constexpr bool aggregation = false;
};

struct NoFace {};

template <class I>
struct ItemTraits<Aggreg<I>> {
    using Face = NoFace;
    static bool answers(REFIID) { return false; }
    static constexpr bool hasFace = false;
    static constexpr bool aggregation = false;
};

template <int Enabled>
struct ItemTraits<AggregationSupport<Enabled>> {
    using Face = NoFace;
    static bool answers(REFIID) { return false; }
    static constexpr bool hasFace = false;
    static constexpr bool aggregation = Enabled != 0;
};

template <>
struct ItemTraits<DoesntSupportAggreg> {
    using Face = NoFace;
    static bool answers(REFIID) { return false; }
    static constexpr bool hasFace = false;
    static constexpr bool aggregation = false;
};

template <class... Items>
struct FirstFace;
template <class Item, class... Rest>
struct FirstFace<Item, Rest...> {
    using type = std::conditional_t<ItemTraits<Item>::hasFace, typename ItemTraits<Item>::Face,
                                    typename FirstFace<Rest...>::type>;
};
template <>
struct FirstFace<> {
    using type = void;
};

}  // namespace detail

// Chains in one face per list item (none for markers).
template <class... Items>
struct PredecessorImpl {};

namespace detail {
template <bool HasFace, class Face, class Next>
struct Link : public Face, public Next {};
template <class Face, class Next>
struct Link<false, Face, Next> : public Next {};
}  // namespace detail

template <class Item, class... Rest>
struct PredecessorImpl<Item, Rest...>
    : public detail::Link<detail::ItemTraits<Item>::hasFace, typename detail::ItemTraits<Item>::Face,
                          PredecessorImpl<Rest...>> {};

class IUnknownImplBase {
  public:
    IUnknownImplBase(const IUnknownImplBase&) = delete;
    IUnknownImplBase& operator=(const IUnknownImplBase&) = delete;

  protected:
    IUnknownImplBase() : refCount_(1) {}
    virtual ~IUnknownImplBase() { aggregates_.clear(); }

    ULONG addRefImpl() { return static_cast<ULONG>(InterlockedIncrement(&refCount_)); }
    ULONG releaseImpl() {
        LONG count = InterlockedDecrement(&refCount_);
        if (count == 0)
            delete this;
        return static_cast<ULONG>(count);
    }
    // The inner object's answer when the ID is aggregated and it succeeds.
    bool queryAggregate(REFIID riid, void** out, HRESULT* result) {
        auto it = aggregates_.find(riid);
        if (it == aggregates_.end() || !it->second)
            return false;
        HRESULT hr = it->second->QueryInterface(riid, out);
        if (FAILED(hr))
            return false;
        *result = hr;
        return true;
    }

    volatile LONG refCount_;
    // Inner objects by interface ID; filled by the class before the object is shared.
    std::map<IID, IUnknown*, guidLess> aggregates_;
};

template <class... Items>
class IUnknownImpl : public PredecessorImpl<Items...>, public IUnknownImplBase {
    using First = typename detail::FirstFace<Items...>::type;
    static_assert(!std::is_void_v<First>, "IUnknownImpl needs at least one interface");
    static constexpr bool kAggregation = (detail::ItemTraits<Items>::aggregation || ...);

  public:
    STDMETHOD(QueryInterface)(REFIID riid, void** out) override {
        if (!out)
            return E_POINTER;
        if constexpr (kAggregation) {
            HRESULT result = S_OK;
            if (queryAggregate(riid, out, &result))
                return result;
        }
        void* face = nullptr;
        if (IsEqualGUID(riid, IID_IUnknown))
            face = static_cast<IUnknown*>(static_cast<First*>(this));
        else
            ((face == nullptr && detail::ItemTraits<Items>::answers(riid) ? (face = faceOf<Items>())
                                                                          : nullptr),
             ...);
        if (!face) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        *out = face;
        addRefImpl();
        return S_OK;
    }
    STDMETHOD_(ULONG, AddRef)() override { return addRefImpl(); }
    STDMETHOD_(ULONG, Release)() override { return releaseImpl(); }

    // The object's identity.
    IUnknown* unknown() { return static_cast<IUnknown*>(static_cast<First*>(this)); }

  private:
    template <class Item>
    void* faceOf() {
        using Face = typename detail::ItemTraits<Item>::Face;
        if constexpr (detail::ItemTraits<Item>::hasFace)
            return static_cast<Face*>(this);
        else
            return nullptr;
    }
};

}  // namespace iui_

// Names the interface ID of a (non-backend) interface for the list items.
#define IUI_INTERFACE_ID(I, iid)                \
    template <>                                 \
    struct iui_::InterfaceId<I> {               \
        static const IID& get() { return iid; } \
    }
