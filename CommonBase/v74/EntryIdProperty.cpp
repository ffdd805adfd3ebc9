// Transfer of an entry identifier to and from a backend object's property.
#include <new>

#include "Backend/v74/IDbMapiProps.h"
#include "CommonBase/EntryId.h"
#include "CommonBase/HResultException.h"
#include "CommonBase/Holders.h"
#include "CommonBase/MapiAlloc.h"
#include "winplat/mapi.h"

HRESULT EntryId::readFromProperty(IDbMapiProps* object, ULONG tag, const MapiAllocFunctions& functions) {
    if (PROP_TYPE(tag) != PT_BINARY)
        return MAPI_E_UNEXPECTED_TYPE;
    if (!object || !functions.allocateBuffer || !functions.allocateMore || !functions.freeBuffer)
        return E_INVALIDARG;
    LPSPropTagArray tags = nullptr;
    try {
        InternalMapiAlloc::allocSPropTagArray(&tags, 1, nullptr, functions);
    } catch (const HResultException&) {
        return E_OUTOFMEMORY;
    }
    ScopedMapiBuffer tagsHolder(functions.freeBuffer, tags);
    tags->cValues = 1;
    tags->aulPropTag[0] = tag;

    // Whatever the server hands back is freed on every path, values first.
    _SPropValueArray* values = nullptr;
    HRESULT hr = object->GetProps(tags, &values);
    ScopedMapiArray<_SPropValueArray> valuesHolder(functions.freeBuffer, values);
    if (FAILED(hr))
        return hr;
    if (!values || values->cValues != 1 || !values->lpProps ||
        PROP_ID(values->lpProps[0].ulPropTag) != PROP_ID(tag))
        return E_INVALIDARG;
    const SPropValue& value = values->lpProps[0];
    switch (PROP_TYPE(value.ulPropTag)) {
        case PT_ERROR:
            return value.Value.err;
        case PT_BINARY:
            // The raw constructor's checks raise: their code is the result here.
            try {
                EntryId read(value.Value.bin);
                data_.swap(read.data_);
                return S_OK;
            } catch (const HResultException& e) {
                return e.getHResult();
            } catch (const std::bad_alloc&) {
                return E_OUTOFMEMORY;
            }
        default:
            return MAPI_E_INVALID_OBJECT;
    }
}

HRESULT EntryId::writeToProperty(IDbMapiProps* object, ULONG tag) const {
    if (!object || PROP_TYPE(tag) != PT_BINARY)
        return E_INVALIDARG;
    if (size() < kStoreSize)
        return MAPI_E_INVALID_ENTRYID;
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.bin.cb = size();
    value.Value.bin.lpb = reinterpret_cast<LPBYTE>(const_cast<char*>(data_.data()));
    _SPropValueArray values{1, &value};
    return object->SetProps(&values, nullptr);
}
