#include "CommonBase/MapiAlloc.h"

#include <cstring>
#include <cwchar>

#include "CommonBase/HResultException.h"
#include "MapiProvider/Utilities/MapiAllocator.h"

namespace {

constexpr const char* kFile = "CommonBase\\MapiAlloc";

[[noreturn]] void fail(HRESULT hr, int line, const char* function) {
    raiseHResult(hr, 2, kFile, line, function, nullptr);
}

[[noreturn]] void invalid(int line, const char* function) {
    fail(E_INVALIDARG, line, function);
}

// A new top-level block, freed again unless handed out.
class TopBlock {
  public:
    TopBlock(const MapiAllocFunctions& functions, void* block) : functions_(functions), block_(block) {}
    ~TopBlock() {
        if (block_) {
            functions_.freeBuffer(block_);
        }
    }
    TopBlock(const TopBlock&) = delete;
    TopBlock& operator=(const TopBlock&) = delete;
    void keep() { block_ = nullptr; }

  private:
    const MapiAllocFunctions& functions_;
    void* block_;
};

// The parent for data nested in a new record.
inline void* nestedParent(void* parent, void* record) {
    return parent ? parent : record;
}

constexpr SPropValue kDefaultPropValue = {PR_NULL, 0, {}};

}  // namespace

// ---------------------------------------------------------------------------
MapiAllocFunctions& MapiAlloc::getAlloc(MapiAllocFunctions& functions, IMapiAllocator* source) {
    if (!source) {
        fail(E_INVALIDARG, 1634, "MapiAlloc::getAlloc");
    }
    functions.allocateBuffer = nullptr;
    functions.allocateMore = nullptr;
    functions.freeBuffer = nullptr;
    HRESULT hr = source->getAllocationFunctions(&functions.allocateBuffer, &functions.allocateMore,
                                                &functions.freeBuffer);
    if (FAILED(hr)) {
        fail(hr, 1637, "MapiAlloc::getAlloc");
    }
    if (!functions.allocateBuffer || !functions.allocateMore || !functions.freeBuffer) {
        fail(E_INVALIDARG, 1638, "MapiAlloc::getAlloc");
    }
    return functions;
}

namespace InternalMapiAlloc {

// ---------------------------------------------------------------------------
namespace detail {

void rawAlloc(const MapiAllocFunctions& functions, void* parent, void** out, size_t size) {
    if (!out || !functions.allocateBuffer || !functions.allocateMore) {
        fail(E_INVALIDARG, 18, "detail::rawAlloc");
    }
    // The routines take 32-bit sizes: a larger block cannot be had.
    if (size > 0xFFFFFFFFu) {
        fail(E_OUTOFMEMORY, parent ? 22 : 20, "detail::rawAlloc");
    }
    void* block = nullptr;
    if (!parent) {
        HRESULT hr = functions.allocateBuffer(static_cast<ULONG>(size), &block);
        if (FAILED(hr)) {
            fail(hr, 20, "detail::rawAlloc");
        }
    } else {
        HRESULT hr = functions.allocateMore(static_cast<ULONG>(size), parent, &block);
        if (FAILED(hr)) {
            fail(hr, 22, "detail::rawAlloc");
        }
    }
    if (size != 0) {
        std::memset(block, 0, size);
    }
    *out = block;
}

void checkedCount(size_t count, size_t elementSize, size_t header, size_t* size) {
    // Counts come from data handed over by others; never let the size wrap.
    if (elementSize != 0 && count > (SIZE_MAX - header) / elementSize) {
        fail(E_OUTOFMEMORY, 20, "detail::rawAlloc");
    }
    *size = header + count * elementSize;
}

namespace {
template <typename T>
void copyScalar(const T* source, T* destination) {
    if (!source || !destination) {
        fail(E_INVALIDARG, 65, "detail::copy");
    }
    std::memcpy(destination, source, sizeof(T));
}
}  // namespace

void copy(const GUID* source, GUID* destination) {
    if (!source || !destination) {
        fail(E_INVALIDARG, 65, "detail::copy");
    }
    destination->Data1 = source->Data1;
    destination->Data2 = source->Data2;
    destination->Data3 = source->Data3;
    std::memcpy(destination->Data4, source->Data4, sizeof(source->Data4));
}
void copy(const FILETIME* source, FILETIME* destination) {
    copyScalar(source, destination);
}
void copy(const LARGE_INTEGER* source, LARGE_INTEGER* destination) {
    copyScalar(source, destination);
}
void copy(const CURRENCY* source, CURRENCY* destination) {
    copyScalar(source, destination);
}
void copy(const double* source, double* destination) {
    copyScalar(source, destination);
}

void copyArray(const void* source, void* destination, size_t count, size_t elementSize) {
    if (!source || !destination || count == 0) {
        fail(E_INVALIDARG, 55, "detail::copyArray");
    }
    std::memcpy(destination, source, count * elementSize);
}

}  // namespace detail

using detail::allocArray;
using detail::allocOne;
using detail::rawAlloc;

// ---------------------------------------------------------------------------
void allocSPropTagArray(LPSPropTagArray* out, ULONG count, void* parent,
                        const MapiAllocFunctions& functions) {
    rawAlloc(functions, parent, out, CbNewSPropTagArray(count));
}

void allocSPropProblemArray(LPSPropProblemArray* out, ULONG count, void* parent,
                            const MapiAllocFunctions& functions) {
    rawAlloc(functions, parent, out, CbNewSPropProblemArray(count));
}

void allocSSortOrderSet(LPSSortOrderSet* out, ULONG count, void* parent,
                        const MapiAllocFunctions& functions) {
    rawAlloc(functions, parent, out, CbNewSSortOrderSet(count));
}

void allocGuid(LPGUID* out, void* parent, const MapiAllocFunctions& functions) {
    if (!out) {
        invalid(577, "InternalMapiAlloc::allocGuid");
    }
    allocOne(functions, parent, out);
}

void allocSProp(LPSPropValue* out, ULONG count, void* parent, const MapiAllocFunctions& functions) {
    if (!out) {
        invalid(422, "InternalMapiAlloc::allocSProp");
    }
    LPSPropValue values = nullptr;
    allocArray(functions, parent, &values, count);
    for (ULONG i = 0; i < count; ++i) {
        values[i] = kDefaultPropValue;
    }
    *out = values;
}

void allocBinaryData(LPBYTE* out, ULONG size, void* parent, const MapiAllocFunctions& functions) {
    if (!out) {
        invalid(542, "InternalMapiAlloc::allocBinaryData");
    }
    if (size == 0) {
        return;
    }
    rawAlloc(functions, parent, out, size);
}

void allocSBinary(LPSBinary* out, ULONG size, void* parent, const MapiAllocFunctions& functions) {
    if (!out) {
        invalid(600, "InternalMapiAlloc::allocSBinary");
    }
    LPSBinary binary = nullptr;
    allocOne(functions, parent, &binary);
    TopBlock guard(functions, parent ? nullptr : binary);
    binary->cb = size;
    rawAlloc(functions, nestedParent(parent, binary), &binary->lpb, size);
    guard.keep();
    *out = binary;
}

void allocSPropValueArray(_SPropValueArray** out, ULONG count, const MapiAllocFunctions& functions) {
    if (!out) {
        invalid(1021, "InternalMapiAlloc::allocSPropValueArray");
    }
    _SPropValueArray* header = nullptr;
    allocOne(functions, nullptr, &header);
    TopBlock guard(functions, header);
    header->cValues = count;
    header->lpProps = nullptr;
    if (count > 0) {
        allocSProp(&header->lpProps, count, nullptr, functions);
    }
    guard.keep();
    *out = header;
}

// ---------------------------------------------------------------------------
void copyStringA(const char* text, LPSTR* out, void* parent, const MapiAllocFunctions& functions) {
    if (!text || !out) {
        invalid(456, "InternalMapiAlloc::copyStringA");
    }
    size_t length = std::strlen(text);
    LPSTR copy = nullptr;
    allocArray(functions, parent, &copy, length + 1);
    std::memcpy(copy, text, length + 1);
    *out = copy;
}

void copyStringALen(const char* text, size_t length, LPSTR* out, void* parent,
                    const MapiAllocFunctions& functions) {
    if ((!text && length > 0) || !out) {
        invalid(479, "InternalMapiAlloc::copyStringALen");
    }
    LPSTR copy = nullptr;
    allocArray(functions, parent, &copy, length + 1);
    if (length > 0) {
        std::memcpy(copy, text, length);
    }
    *out = copy;
}

void copyStringW(const wchar_t* text, LPWSTR* out, void* parent, const MapiAllocFunctions& functions) {
    if (!text || !out) {
        invalid(499, "InternalMapiAlloc::copyStringW");
    }
    size_t length = std::wcslen(text);
    LPWSTR copy = nullptr;
    allocArray(functions, parent, &copy, length + 1);
    std::memcpy(copy, text, (length + 1) * sizeof(wchar_t));
    *out = copy;
}

void copyStringWLen(const wchar_t* text, size_t length, LPWSTR* out, void* parent,
                    const MapiAllocFunctions& functions) {
    if ((!text && length > 0) || !out) {
        invalid(522, "InternalMapiAlloc::copyStringWLen");
    }
    LPWSTR copy = nullptr;
    allocArray(functions, parent, &copy, length + 1);
    if (length > 0) {
        std::memcpy(copy, text, length * sizeof(wchar_t));
    }
    *out = copy;
}

void copyStringA(const std::string& text, LPSTR* out, void* parent, const MapiAllocFunctions& functions) {
    copyStringALen(text.data(), text.size(), out, parent, functions);
}

void copyStringW(const std::wstring& text, LPWSTR* out, void* parent, const MapiAllocFunctions& functions) {
    copyStringWLen(text.data(), text.size(), out, parent, functions);
}

void copyEntryId(const void* bytes, ULONG length, LPENTRYID* out, ULONG* outLength, void* parent,
                 const MapiAllocFunctions& functions) {
    if (!out) {
        invalid(118, "InternalMapiAlloc::copyEntryId");
    }
    if (!bytes) {
        *out = nullptr;
    } else {
        if (length < 5) {
            invalid(120, "InternalMapiAlloc::copyEntryId");
        }
        LPENTRYID copy = nullptr;
        rawAlloc(functions, parent, &copy, length);
        std::memcpy(copy, bytes, length);
        *out = copy;
    }
    if (outLength) {
        *outLength = length;
    }
}

void copyBinaryData(const void* bytes, ULONG length, LPBYTE* out, ULONG* outLength, void* parent,
                    const MapiAllocFunctions& functions) {
    if (!bytes || !out) {
        invalid(558, "InternalMapiAlloc::copyBinaryData");
    }
    if (length > 0) {
        LPBYTE copy = nullptr;
        rawAlloc(functions, parent, &copy, length);
        std::memcpy(copy, bytes, length);
        *out = copy;
    }
    if (outLength) {
        *outLength = length;
    }
}

void copySBinary(const SBinary* source, SBinary* destination, void* parent,
                 const MapiAllocFunctions& functions) {
    if (!source || !destination || !parent || (!source->lpb && source->cb != 0)) {
        invalid(894, "InternalMapiAlloc::copySBinary");
    }
    LPBYTE data = nullptr;
    if (source->cb != 0) {
        rawAlloc(functions, parent, &data, source->cb);
        std::memcpy(data, source->lpb, source->cb);
    }
    destination->cb = source->cb;
    destination->lpb = data;
}

void copySBinary(const SBinary* source, LPSBinary* out, void* parent, const MapiAllocFunctions& functions) {
    if (!source || !out) {
        invalid(619, "InternalMapiAlloc::copySBinary");
    }
    LPSBinary binary = nullptr;
    allocOne(functions, parent, &binary);
    TopBlock guard(functions, parent ? nullptr : binary);
    copySBinary(source, binary, nestedParent(parent, binary), functions);
    guard.keep();
    *out = binary;
}

void copySBinaryArray(const SBinaryArray* source, SBinaryArray* destination, void* parent,
                      const MapiAllocFunctions& functions) {
    if (!source || !source->lpbin || !destination || !parent) {
        invalid(914, "InternalMapiAlloc::copySBinaryArray");
    }
    SBinary* entries = nullptr;
    allocArray(functions, parent, &entries, source->cValues);
    detail::copyArray(source->lpbin, entries, source->cValues, sizeof(SBinary));
    for (ULONG i = 0; i < source->cValues; ++i) {
        copySBinary(&source->lpbin[i], &entries[i], parent, functions);
    }
    destination->cValues = source->cValues;
    destination->lpbin = entries;
}

void copySBinaryArray(const SBinaryArray* source, SBinaryArray** out, void* parent,
                      const MapiAllocFunctions& functions) {
    if (!source || !out) {
        invalid(637, "InternalMapiAlloc::copySBinaryArray");
    }
    SBinaryArray* array = nullptr;
    allocOne(functions, parent, &array);
    TopBlock guard(functions, parent ? nullptr : array);
    copySBinaryArray(source, array, nestedParent(parent, array), functions);
    guard.keep();
    *out = array;
}

void copyGuid(const GUID* source, LPGUID* out, void* parent, const MapiAllocFunctions& functions) {
    if (!source || !out) {
        invalid(588, "InternalMapiAlloc::copyGuid");
    }
    LPGUID guid = nullptr;
    allocOne(functions, parent, &guid);
    detail::copy(source, guid);
    *out = guid;
}

void copySPropTagArray(const SPropTagArray* source, LPSPropTagArray* out, void* parent,
                       const MapiAllocFunctions& functions) {
    if (!out) {
        invalid(152, "InternalMapiAlloc::copySPropTagArray");
    }
    if (!source) {
        *out = nullptr;
        return;
    }
    if (source->cValues == 0) {
        invalid(157, "InternalMapiAlloc::copySPropTagArray");
    }
    size_t size = 0;
    detail::checkedCount(source->cValues, sizeof(ULONG), offsetof(SPropTagArray, aulPropTag), &size);
    LPSPropTagArray tags = nullptr;
    rawAlloc(functions, parent, &tags, size);
    std::memcpy(tags, source, size);
    *out = tags;
}

void copySPropProblemArray(const SPropProblemArray* source, LPSPropProblemArray* out, void* parent,
                           const MapiAllocFunctions& functions) {
    if (!source || !out) {
        invalid(960, "InternalMapiAlloc::copySPropProblemArray");
    }
    size_t size = 0;
    detail::checkedCount(source->cProblem, sizeof(SPropProblem), offsetof(SPropProblemArray, aProblem),
                         &size);
    LPSPropProblemArray problems = nullptr;
    rawAlloc(functions, parent, &problems, size);
    std::memcpy(problems, source, size);
    *out = problems;
}

void copySSortOrderSet(const SSortOrderSet* source, LPSSortOrderSet* out, void* parent,
                       const MapiAllocFunctions& functions) {
    if (!source || !out) {
        invalid(984, "InternalMapiAlloc::copySSortOrderSet");
    }
    size_t size = 0;
    detail::checkedCount(source->cSorts, sizeof(SSortOrder), offsetof(SSortOrderSet, aSort), &size);
    LPSSortOrderSet sorts = nullptr;
    rawAlloc(functions, parent, &sorts, size);
    std::memcpy(sorts, source, size);
    *out = sorts;
}

// ---------------------------------------------------------------------------
namespace {

// A multi-valued array of fixed-size elements: allocated, then copied flat.
template <typename Array, typename T>
void copyMvScalars(const Array& source, Array& destination, T* Array::*items, void* parent,
                   const MapiAllocFunctions& functions) {
    T* copy = nullptr;
    allocArray(functions, parent, &copy, source.cValues);
    detail::copyArray(source.*items, copy, source.cValues, sizeof(T));
    destination.*items = copy;
}

}  // namespace

void copySProp(const SPropValue* source, SPropValue* destination, void* parent,
               const MapiAllocFunctions& functions) {
    if (!source || !destination || !parent) {
        invalid(791, "InternalMapiAlloc::copySProp");
    }
    *destination = *source;
    const _PV& from = source->Value;
    _PV& to = destination->Value;
    switch (source->ulPropTag & PROP_TYPE_MASK) {
        case PT_UNSPECIFIED:
        case PT_NULL:
        case PT_I2:
        case PT_LONG:
        case PT_R4:
        case PT_DOUBLE:
        case PT_CURRENCY:
        case PT_APPTIME:
        case PT_ERROR:
        case PT_BOOLEAN:
        case PT_OBJECT:
        case PT_I8:
        case PT_SYSTIME:
            break;
        case PT_STRING8:
            copyStringA(from.lpszA, &to.lpszA, parent, functions);
            break;
        case PT_UNICODE:
            copyStringW(from.lpszW, &to.lpszW, parent, functions);
            break;
        case PT_CLSID: {
            LPGUID guid = nullptr;
            allocOne(functions, parent, &guid);
            detail::copy(from.lpguid, guid);
            to.lpguid = guid;
            break;
        }
        case PT_BINARY:
            copySBinary(&from.bin, &to.bin, parent, functions);
            break;
        case PT_MV_I2:
            copyMvScalars(from.MVi, to.MVi, &SShortArray::lpi, parent, functions);
            break;
        case PT_MV_LONG:
            copyMvScalars(from.MVl, to.MVl, &SLongArray::lpl, parent, functions);
            break;
        case PT_MV_R4:
            copyMvScalars(from.MVflt, to.MVflt, &SRealArray::lpflt, parent, functions);
            break;
        case PT_MV_DOUBLE:
            copyMvScalars(from.MVdbl, to.MVdbl, &SDoubleArray::lpdbl, parent, functions);
            break;
        case PT_MV_CURRENCY:
            copyMvScalars(from.MVcur, to.MVcur, &SCurrencyArray::lpcur, parent, functions);
            break;
        case PT_MV_APPTIME:
            copyMvScalars(from.MVat, to.MVat, &SAppTimeArray::lpat, parent, functions);
            break;
        case PT_MV_I8:
            copyMvScalars(from.MVli, to.MVli, &SLargeIntegerArray::lpli, parent, functions);
            break;
        case PT_MV_SYSTIME:
            copyMvScalars(from.MVft, to.MVft, &SDateTimeArray::lpft, parent, functions);
            break;
        case PT_MV_CLSID:
            copyMvScalars(from.MVguid, to.MVguid, &SGuidArray::lpguid, parent, functions);
            break;
        case PT_MV_STRING8: {
            if (from.MVszA.cValues > 0 && !from.MVszA.lppszA) {
                invalid(791, "InternalMapiAlloc::copySProp");
            }
            LPSTR* strings = nullptr;
            allocArray(functions, parent, &strings, from.MVszA.cValues);
            for (ULONG i = 0; i < from.MVszA.cValues; ++i) {
                copyStringA(from.MVszA.lppszA[i], &strings[i], parent, functions);
            }
            to.MVszA.lppszA = strings;
            break;
        }
        case PT_MV_UNICODE: {
            if (from.MVszW.cValues > 0 && !from.MVszW.lppszW) {
                invalid(791, "InternalMapiAlloc::copySProp");
            }
            LPWSTR* strings = nullptr;
            allocArray(functions, parent, &strings, from.MVszW.cValues);
            for (ULONG i = 0; i < from.MVszW.cValues; ++i) {
                copyStringW(from.MVszW.lppszW[i], &strings[i], parent, functions);
            }
            to.MVszW.lppszW = strings;
            break;
        }
        case PT_MV_BINARY:
            copySBinaryArray(&from.MVbin, &to.MVbin, parent, functions);
            break;
        default:
            invalid(883, "InternalMapiAlloc::copySProp");
    }
}

void copySProp(const SPropValue* source, LPSPropValue* out, void* parent,
               const MapiAllocFunctions& functions) {
    if (!source || !out) {
        invalid(437, "InternalMapiAlloc::copySProp");
    }
    LPSPropValue value = nullptr;
    allocOne(functions, parent, &value);
    TopBlock guard(functions, parent ? nullptr : value);
    copySProp(source, value, nestedParent(parent, value), functions);
    guard.keep();
    *out = value;
}

void copySPropInstance(const SPropValue* source, SPropValue* destination, ULONG index, void* parent,
                       const MapiAllocFunctions& functions) {
    if (!source || !destination || !parent) {
        invalid(720, "InternalMapiAlloc::copySPropInstance");
    }
    if ((source->ulPropTag & MV_FLAG) == 0) {
        invalid(721, "InternalMapiAlloc::copySPropInstance");
    }
    const _PV& from = source->Value;
    // Every multi-valued member starts with the count.
    if (index >= from.MVl.cValues) {
        return;
    }
    // The element array must exist when the count says it has elements.
    auto element = [&](const void* items) {
        if (!items) {
            invalid(720, "InternalMapiAlloc::copySPropInstance");
        }
    };
    _PV& to = destination->Value;
    switch (source->ulPropTag & PROP_TYPE_MASK & ~MVI_FLAG) {
        case PT_I2:
            element(from.MVi.lpi);
            to.i = from.MVi.lpi[index];
            break;
        case PT_LONG:
            element(from.MVl.lpl);
            to.l = from.MVl.lpl[index];
            break;
        case PT_R4:
            element(from.MVflt.lpflt);
            to.flt = from.MVflt.lpflt[index];
            break;
        case PT_DOUBLE:
            element(from.MVdbl.lpdbl);
            to.dbl = from.MVdbl.lpdbl[index];
            break;
        case PT_APPTIME:
            element(from.MVat.lpat);
            to.at = from.MVat.lpat[index];
            break;
        case PT_CURRENCY:
            element(from.MVcur.lpcur);
            to.cur = from.MVcur.lpcur[index];
            break;
        case PT_I8:
            element(from.MVli.lpli);
            to.li = from.MVli.lpli[index];
            break;
        case PT_SYSTIME:
            element(from.MVft.lpft);
            to.ft = from.MVft.lpft[index];
            break;
        case PT_STRING8:
            element(from.MVszA.lppszA);
            copyStringA(from.MVszA.lppszA[index], &to.lpszA, parent, functions);
            break;
        case PT_UNICODE:
            element(from.MVszW.lppszW);
            copyStringW(from.MVszW.lppszW[index], &to.lpszW, parent, functions);
            break;
        case PT_CLSID: {
            element(from.MVguid.lpguid);
            LPGUID guid = nullptr;
            allocOne(functions, parent, &guid);
            detail::copy(&from.MVguid.lpguid[index], guid);
            to.lpguid = guid;
            break;
        }
        case PT_BINARY:
            element(from.MVbin.lpbin);
            copySBinary(&from.MVbin.lpbin[index], &to.bin, parent, functions);
            break;
        default:
            invalid(778, "InternalMapiAlloc::copySPropInstance");
    }
    destination->ulPropTag = source->ulPropTag & ~MVI_FLAG;
}

void copySPropValueArray(const _SPropValueArray* source, _SPropValueArray** out,
                         const MapiAllocFunctions& functions) {
    if (!source || !out || (source->cValues > 0 && !source->lpProps)) {
        invalid(1038, "InternalMapiAlloc::copySPropValueArray");
    }
    _SPropValueArray* copy = nullptr;
    allocSPropValueArray(&copy, source->cValues, functions);
    // Two top-level blocks: the values first, then the header.
    TopBlock headerGuard(functions, copy);
    TopBlock valuesGuard(functions, copy->lpProps);
    for (ULONG i = 0; i < source->cValues; ++i) {
        copySProp(&source->lpProps[i], &copy->lpProps[i], copy, functions);
    }
    valuesGuard.keep();
    headerGuard.keep();
    *out = copy;
}

// ---------------------------------------------------------------------------
void allocSRow(LPSRow* out, void* parent, const MapiAllocFunctions& functions) {
    if (!out) {
        invalid(654, "InternalMapiAlloc::allocSRow");
    }
    allocOne(functions, parent, out);
}

void allocSRowSet(LPSRowSet* out, ULONG count, void* parent, const MapiAllocFunctions& functions) {
    if (!out) {
        invalid(682, "InternalMapiAlloc::allocSRowSet");
    }
    rawAlloc(functions, parent, out, CbNewSRowSet(count));
}

void copySRow(const SRow* source, SRow* destination, void* parent, const MapiAllocFunctions& functions) {
    if (!source || !destination || (source->cValues > 0 && !source->lpProps)) {
        invalid(930, "InternalMapiAlloc::copySRow");
    }
    if (source->cValues == 0) {
        return;
    }
    LPSPropValue values = nullptr;
    allocArray(functions, parent, &values, source->cValues);
    TopBlock guard(functions, parent ? nullptr : values);
    detail::copyArray(source->lpProps, values, source->cValues, sizeof(SPropValue));
    void* nested = nestedParent(parent, values);
    for (ULONG i = 0; i < source->cValues; ++i) {
        copySProp(&source->lpProps[i], &values[i], nested, functions);
    }
    guard.keep();
    destination->cValues = source->cValues;
    destination->lpProps = values;
}

void copySRow(const SRow* source, LPSRow* out, void* parent, bool link, const MapiAllocFunctions& functions) {
    if (!source || !out) {
        invalid(667, "InternalMapiAlloc::copySRow");
    }
    LPSRow row = nullptr;
    allocOne(functions, parent, &row);
    TopBlock guard(functions, parent ? nullptr : row);
    copySRow(source, row, link ? nestedParent(parent, row) : nullptr, functions);
    guard.keep();
    *out = row;
}

HRESULT reallocSRowSet(LPSRowSet* rowSet, ULONG capacity, void* parent, const MapiAllocFunctions& functions) {
    // A smaller block could not hold the rows.
    if (!rowSet || !*rowSet || capacity < (*rowSet)->cRows) {
        invalid(694, "InternalMapiAlloc::reallocSRowSet");
    }
    LPSRowSet old = *rowSet;
    LPSRowSet grown = nullptr;
    rawAlloc(functions, parent, &grown, CbNewSRowSet(capacity));
    grown->cRows = old->cRows;
    for (ULONG i = 0; i < old->cRows; ++i) {
        grown->aRow[i] = old->aRow[i];
    }
    HRESULT hr = static_cast<HRESULT>(functions.freeBuffer(old));
    *rowSet = grown;
    return hr;
}

// ---------------------------------------------------------------------------
namespace {

void copyPropArray(const SPropValue* source, ULONG count, LPSPropValue* out, void* parent,
                   const MapiAllocFunctions& functions) {
    LPSPropValue values = nullptr;
    allocArray(functions, parent, &values, count);
    for (ULONG i = 0; i < count; ++i) {
        copySProp(&source[i], &values[i], parent, functions);
    }
    *out = values;
}

}  // namespace

void copySRestriction(const SRestriction* source, SRestriction* destination, void* parent,
                      const MapiAllocFunctions& functions) {
    // NOT, SUB and COUNT descend into their one child without recursion.
    while (true) {
        if (!source || !destination || !parent) {
            invalid(324, "InternalMapiAlloc::copySRestriction");
        }
        *destination = *source;
        switch (source->rt) {
            case RES_AND:
            case RES_OR: {
                // AND and OR share one layout.
                const SAndRestriction& from = source->res.resAnd;
                if (from.cRes == 0) {
                    destination->res.resAnd.cRes = 0;
                    destination->res.resAnd.lpRes = nullptr;
                    return;
                }
                if (!from.lpRes) {
                    invalid(324, "InternalMapiAlloc::copySRestriction");
                }
                LPSRestriction children = nullptr;
                allocArray(functions, parent, &children, from.cRes);
                for (ULONG i = 0; i < from.cRes; ++i) {
                    copySRestriction(&from.lpRes[i], &children[i], parent, functions);
                }
                destination->res.resAnd.lpRes = children;
                return;
            }
            case RES_NOT:
            case RES_SUBRESTRICTION:
            case RES_COUNT: {
                LPSRestriction child = nullptr;
                const SRestriction* next = nullptr;
                if (source->rt == RES_NOT) {
                    next = source->res.resNot.lpRes;
                } else if (source->rt == RES_SUBRESTRICTION) {
                    next = source->res.resSub.lpRes;
                } else {
                    next = source->res.resCount.lpRes;
                }
                if (!next) {
                    invalid(324, "InternalMapiAlloc::copySRestriction");
                }
                allocOne(functions, parent, &child);
                if (source->rt == RES_NOT) {
                    destination->res.resNot.lpRes = child;
                } else if (source->rt == RES_SUBRESTRICTION) {
                    destination->res.resSub.lpRes = child;
                } else {
                    destination->res.resCount.lpRes = child;
                }
                source = next;
                destination = child;
                continue;
            }
            case RES_CONTENT:
            case RES_PROPERTY: {
                const SPropValue* from = source->rt == RES_CONTENT ? source->res.resContent.lpProp
                                                                   : source->res.resProperty.lpProp;
                LPSPropValue value = nullptr;
                allocOne(functions, parent, &value);
                copySProp(from, value, parent, functions);
                if (source->rt == RES_CONTENT) {
                    destination->res.resContent.lpProp = value;
                } else {
                    destination->res.resProperty.lpProp = value;
                }
                return;
            }
            case RES_COMPAREPROPS:
            case RES_BITMASK:
            case RES_SIZE:
            case RES_EXIST:
                return;
            case RES_COMMENT:
            case RES_ANNOTATION: {
                // COMMENT and ANNOTATION share one layout.
                const SCommentRestriction& from = source->res.resComment;
                SCommentRestriction& to = destination->res.resComment;
                if (from.lpRes) {
                    copySRestriction(from.lpRes, &to.lpRes, parent, functions);
                }
                if (from.lpProp) {
                    copyPropArray(from.lpProp, from.cValues, &to.lpProp, parent, functions);
                }
                return;
            }
            default:
                invalid(411, "InternalMapiAlloc::copySRestriction");
        }
    }
}

void copySRestriction(const SRestriction* source, LPSRestriction* out, void* parent,
                      const MapiAllocFunctions& functions) {
    if (!source || !out) {
        invalid(306, "InternalMapiAlloc::copySRestriction");
    }
    LPSRestriction restriction = nullptr;
    allocOne(functions, parent, &restriction);
    TopBlock guard(functions, parent ? nullptr : restriction);
    copySRestriction(source, restriction, nestedParent(parent, restriction), functions);
    guard.keep();
    *out = restriction;
}

// ---------------------------------------------------------------------------
void copyNotification(const NOTIFICATION* source, NOTIFICATION* destination, void* parent,
                      const MapiAllocFunctions& functions) {
    if (!source || !destination) {
        invalid(1144, "InternalMapiAlloc::copyNotification");
    }
    destination->ulEventType = source->ulEventType;
    // Without a parent the destination itself must be the start of a block.
    void* nested = nestedParent(parent, destination);
    switch (source->ulEventType) {
        case fnevCriticalError: {
            const ERROR_NOTIFICATION& from = source->info.err;
            ERROR_NOTIFICATION& to = destination->info.err;
            copyEntryId(from.lpEntryID, from.cbEntryID, &to.lpEntryID, &to.cbEntryID, nested, functions);
            to.scode = from.scode;
            to.ulFlags = from.ulFlags;
            copyMapiError(from.lpMAPIError, &to.lpMAPIError, nested, functions);
            break;
        }
        case fnevNewMail: {
            const NEWMAIL_NOTIFICATION& from = source->info.newmail;
            NEWMAIL_NOTIFICATION& to = destination->info.newmail;
            copyEntryId(from.lpEntryID, from.cbEntryID, &to.lpEntryID, &to.cbEntryID, nested, functions);
            copyEntryId(from.lpParentID, from.cbParentID, &to.lpParentID, &to.cbParentID, nested, functions);
            to.ulFlags = from.ulFlags;
            if (from.ulFlags & MAPI_UNICODE) {
                copyStringW(from.lpszMessageClass, &to.lpszMessageClass, nested, functions);
            } else {
                LPSTR text = nullptr;
                copyStringA(reinterpret_cast<const char*>(from.lpszMessageClass), &text, nested, functions);
                to.lpszMessageClass = reinterpret_cast<LPTSTR>(text);
            }
            to.ulMessageFlags = from.ulMessageFlags;
            break;
        }
        case fnevObjectCreated:
        case fnevObjectDeleted:
        case fnevObjectModified:
        case fnevObjectMoved:
        case fnevObjectCopied:
        case fnevSearchComplete: {
            const OBJECT_NOTIFICATION& from = source->info.obj;
            OBJECT_NOTIFICATION& to = destination->info.obj;
            copyEntryId(from.lpEntryID, from.cbEntryID, &to.lpEntryID, &to.cbEntryID, nested, functions);
            to.ulObjType = from.ulObjType;
            copyEntryId(from.lpParentID, from.cbParentID, &to.lpParentID, &to.cbParentID, nested, functions);
            copyEntryId(from.lpOldID, from.cbOldID, &to.lpOldID, &to.cbOldID, nested, functions);
            copyEntryId(from.lpOldParentID, from.cbOldParentID, &to.lpOldParentID, &to.cbOldParentID, nested,
                        functions);
            copySPropTagArray(from.lpPropTagArray, &to.lpPropTagArray, nested, functions);
            break;
        }
        case fnevTableModified: {
            const TABLE_NOTIFICATION& from = source->info.tab;
            TABLE_NOTIFICATION& to = destination->info.tab;
            to.ulTableEvent = from.ulTableEvent;
            to.hResult = from.hResult;
            copySProp(&from.propIndex, &to.propIndex, nested, functions);
            copySProp(&from.propPrior, &to.propPrior, nested, functions);
            copySRow(&from.row, &to.row, nested, functions);
            break;
        }
        case fnevStatusObjectModified: {
            const STATUS_OBJECT_NOTIFICATION& from = source->info.statobj;
            STATUS_OBJECT_NOTIFICATION& to = destination->info.statobj;
            if (from.cValues > 0 && !from.lpPropVals) {
                invalid(1144, "InternalMapiAlloc::copyNotification");
            }
            copyEntryId(from.lpEntryID, from.cbEntryID, &to.lpEntryID, &to.cbEntryID, nested, functions);
            to.cValues = from.cValues;
            copyPropArray(from.lpPropVals, from.cValues, &to.lpPropVals, nested, functions);
            break;
        }
        case fnevExtended: {
            const EXTENDED_NOTIFICATION& from = source->info.ext;
            EXTENDED_NOTIFICATION& to = destination->info.ext;
            to.ulEvent = from.ulEvent;
            copyBinaryData(from.pbEventParameters, from.cb, &to.pbEventParameters, &to.cb, nested, functions);
            break;
        }
        default:
            invalid(1183, "InternalMapiAlloc::copyNotification");
    }
}

void copyNotification(const NOTIFICATION* source, LPNOTIFICATION* out, void* parent,
                      const MapiAllocFunctions& functions) {
    if (!source || !out) {
        invalid(1193, "InternalMapiAlloc::copyNotification");
    }
    LPNOTIFICATION notification = nullptr;
    allocOne(functions, parent, &notification);
    TopBlock guard(functions, parent ? nullptr : notification);
    copyNotification(source, notification, nestedParent(parent, notification), functions);
    guard.keep();
    *out = notification;
}

void allocNotificationArray(_NOTIFICATION_ARRAY** out, ULONG count, const MapiAllocFunctions& functions) {
    if (!out) {
        invalid(1004, "InternalMapiAlloc::allocNotificationArray");
    }
    _NOTIFICATION_ARRAY* header = nullptr;
    allocOne(functions, nullptr, &header);
    TopBlock guard(functions, header);
    header->cNotifications = count;
    header->lpNotifications = nullptr;
    if (count > 0) {
        allocArray(functions, nullptr, &header->lpNotifications, count);
    }
    guard.keep();
    *out = header;
}

void copyNotificationArray(const _NOTIFICATION_ARRAY* source, _NOTIFICATION_ARRAY** out,
                           const MapiAllocFunctions& functions) {
    if (!source || !out) {
        invalid(1210, "InternalMapiAlloc::copyNotificationArray");
    }
    if (!source->lpNotifications && source->cNotifications > 0) {
        invalid(1211, "InternalMapiAlloc::copyNotificationArray");
    }
    _NOTIFICATION_ARRAY* copy = nullptr;
    allocNotificationArray(&copy, source->cNotifications, functions);
    TopBlock headerGuard(functions, copy);
    TopBlock elementsGuard(functions, copy->lpNotifications);
    for (ULONG i = 0; i < source->cNotifications; ++i) {
        copyNotification(&source->lpNotifications[i], &copy->lpNotifications[i], copy->lpNotifications,
                         functions);
    }
    elementsGuard.keep();
    headerGuard.keep();
    *out = copy;
}

// ---------------------------------------------------------------------------
void allocMapiNameIdArray(_MAPINAMEID_ARRAY** out, const MapiAllocFunctions& functions) {
    if (!out) {
        invalid(285, "InternalMapiAlloc::allocMapiNameIdArray");
    }
    allocOne(functions, nullptr, out);
}

void allocMapiNameIdPtrArray(LPMAPINAMEID** out, ULONG count, void* parent,
                             const MapiAllocFunctions& functions) {
    if (!out) {
        invalid(254, "InternalMapiAlloc::allocMapiNameIdPtrArray");
    }
    allocArray(functions, parent, out, count);
}

void copyMapiNameId(const MAPINAMEID* source, LPMAPINAMEID* out, void* parent,
                    const MapiAllocFunctions& functions) {
    if (!source || !out) {
        invalid(220, "InternalMapiAlloc::copyMapiNameId");
    }
    LPMAPINAMEID name = nullptr;
    allocOne(functions, parent, &name);
    TopBlock guard(functions, parent ? nullptr : name);
    void* nested = nestedParent(parent, name);
    copyGuid(source->lpguid, &name->lpguid, nested, functions);
    name->ulKind = source->ulKind;
    if (source->ulKind == MNID_STRING) {
        copyStringW(source->Kind.lpwstrName, &name->Kind.lpwstrName, nested, functions);
    } else if (source->ulKind == MNID_ID) {
        name->Kind.lID = source->Kind.lID;
    } else {
        invalid(241, "InternalMapiAlloc::copyMapiNameId");
    }
    guard.keep();
    *out = name;
}

void copyMapiNameIdPtrArray(MAPINAMEID* const* source, ULONG count, LPMAPINAMEID** out, void* parent,
                            const MapiAllocFunctions& functions) {
    if (!source || !out) {
        invalid(266, "InternalMapiAlloc::copyMapiNameIdPtrArray");
    }
    LPMAPINAMEID* names = nullptr;
    allocArray(functions, parent, &names, count);
    TopBlock guard(functions, parent ? nullptr : names);
    void* nested = nestedParent(parent, names);
    for (ULONG i = 0; i < count; ++i) {
        copyMapiNameId(source[i], &names[i], nested, functions);
    }
    guard.keep();
    *out = names;
}

void copyMapiError(const MAPIERROR* source, LPMAPIERROR* out, void* parent,
                   const MapiAllocFunctions& functions) {
    if (!source || !out) {
        invalid(179, "InternalMapiAlloc::copyMapiError");
    }
    LPMAPIERROR error = nullptr;
    allocOne(functions, parent, &error);
    TopBlock guard(functions, parent ? nullptr : error);
    void* nested = nestedParent(parent, error);
    error->ulVersion = source->ulVersion;
    if (source->lpszError) {
        copyStringW(source->lpszError, &error->lpszError, nested, functions);
    }
    if (source->lpszComponent) {
        copyStringW(source->lpszComponent, &error->lpszComponent, nested, functions);
    }
    error->ulLowLevelError = source->ulLowLevelError;
    error->ulContext = source->ulContext;
    guard.keep();
    *out = error;
}

// ---------------------------------------------------------------------------
// Forms over an allocation source.
#define FROM_SOURCE(call)                       \
    do {                                        \
        MapiAllocFunctions functions{};         \
        MapiAlloc::getAlloc(functions, source); \
        return call;                            \
    } while (0)

void allocSPropTagArray(LPSPropTagArray* out, ULONG count, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(allocSPropTagArray(out, count, parent, functions));
}
void allocSPropProblemArray(LPSPropProblemArray* out, ULONG count, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(allocSPropProblemArray(out, count, parent, functions));
}
void allocSSortOrderSet(LPSSortOrderSet* out, ULONG count, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(allocSSortOrderSet(out, count, parent, functions));
}
void allocGuid(LPGUID* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(allocGuid(out, parent, functions));
}
void allocSProp(LPSPropValue* out, ULONG count, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(allocSProp(out, count, parent, functions));
}
void allocBinaryData(LPBYTE* out, ULONG size, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(allocBinaryData(out, size, parent, functions));
}
void allocSBinary(LPSBinary* out, ULONG size, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(allocSBinary(out, size, parent, functions));
}
void allocSPropValueArray(_SPropValueArray** out, ULONG count, IMapiAllocator* source) {
    FROM_SOURCE(allocSPropValueArray(out, count, functions));
}
void copyStringA(const char* text, LPSTR* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copyStringA(text, out, parent, functions));
}
void copyStringALen(const char* text, size_t length, LPSTR* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copyStringALen(text, length, out, parent, functions));
}
void copyStringW(const wchar_t* text, LPWSTR* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copyStringW(text, out, parent, functions));
}
void copyStringWLen(const wchar_t* text, size_t length, LPWSTR* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copyStringWLen(text, length, out, parent, functions));
}
void copyStringA(const std::string& text, LPSTR* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copyStringA(text, out, parent, functions));
}
void copyStringW(const std::wstring& text, LPWSTR* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copyStringW(text, out, parent, functions));
}
void copyEntryId(const void* bytes, ULONG length, LPENTRYID* out, ULONG* outLength, void* parent,
                 IMapiAllocator* source) {
    FROM_SOURCE(copyEntryId(bytes, length, out, outLength, parent, functions));
}
void copyBinaryData(const void* bytes, ULONG length, LPBYTE* out, ULONG* outLength, void* parent,
                    IMapiAllocator* source) {
    FROM_SOURCE(copyBinaryData(bytes, length, out, outLength, parent, functions));
}
void copySBinary(const SBinary* from, SBinary* destination, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copySBinary(from, destination, parent, functions));
}
void copySBinary(const SBinary* from, LPSBinary* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copySBinary(from, out, parent, functions));
}
void copySBinaryArray(const SBinaryArray* from, SBinaryArray* destination, void* parent,
                      IMapiAllocator* source) {
    FROM_SOURCE(copySBinaryArray(from, destination, parent, functions));
}
void copySBinaryArray(const SBinaryArray* from, SBinaryArray** out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copySBinaryArray(from, out, parent, functions));
}
void copyGuid(const GUID* from, LPGUID* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copyGuid(from, out, parent, functions));
}
void copySPropTagArray(const SPropTagArray* from, LPSPropTagArray* out, void* parent,
                       IMapiAllocator* source) {
    FROM_SOURCE(copySPropTagArray(from, out, parent, functions));
}
void copySPropProblemArray(const SPropProblemArray* from, LPSPropProblemArray* out, void* parent,
                           IMapiAllocator* source) {
    FROM_SOURCE(copySPropProblemArray(from, out, parent, functions));
}
void copySSortOrderSet(const SSortOrderSet* from, LPSSortOrderSet* out, void* parent,
                       IMapiAllocator* source) {
    FROM_SOURCE(copySSortOrderSet(from, out, parent, functions));
}
void copySProp(const SPropValue* from, SPropValue* destination, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copySProp(from, destination, parent, functions));
}
void copySProp(const SPropValue* from, LPSPropValue* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copySProp(from, out, parent, functions));
}
void copySPropInstance(const SPropValue* from, SPropValue* destination, ULONG index, void* parent,
                       IMapiAllocator* source) {
    FROM_SOURCE(copySPropInstance(from, destination, index, parent, functions));
}
void copySPropValueArray(const _SPropValueArray* from, _SPropValueArray** out, IMapiAllocator* source) {
    FROM_SOURCE(copySPropValueArray(from, out, functions));
}
void allocSRow(LPSRow* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(allocSRow(out, parent, functions));
}
void allocSRowSet(LPSRowSet* out, ULONG count, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(allocSRowSet(out, count, parent, functions));
}
void copySRow(const SRow* from, SRow* destination, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copySRow(from, destination, parent, functions));
}
void copySRow(const SRow* from, LPSRow* out, void* parent, bool link, IMapiAllocator* source) {
    FROM_SOURCE(copySRow(from, out, parent, link, functions));
}
HRESULT reallocSRowSet(LPSRowSet* rowSet, ULONG capacity, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(reallocSRowSet(rowSet, capacity, parent, functions));
}
void copySRestriction(const SRestriction* from, SRestriction* destination, void* parent,
                      IMapiAllocator* source) {
    FROM_SOURCE(copySRestriction(from, destination, parent, functions));
}
void copySRestriction(const SRestriction* from, LPSRestriction* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copySRestriction(from, out, parent, functions));
}
void copyNotification(const NOTIFICATION* from, NOTIFICATION* destination, void* parent,
                      IMapiAllocator* source) {
    FROM_SOURCE(copyNotification(from, destination, parent, functions));
}
void copyNotification(const NOTIFICATION* from, LPNOTIFICATION* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copyNotification(from, out, parent, functions));
}
void allocNotificationArray(_NOTIFICATION_ARRAY** out, ULONG count, IMapiAllocator* source) {
    FROM_SOURCE(allocNotificationArray(out, count, functions));
}
void copyNotificationArray(const _NOTIFICATION_ARRAY* from, _NOTIFICATION_ARRAY** out,
                           IMapiAllocator* source) {
    FROM_SOURCE(copyNotificationArray(from, out, functions));
}
void allocMapiNameIdArray(_MAPINAMEID_ARRAY** out, IMapiAllocator* source) {
    FROM_SOURCE(allocMapiNameIdArray(out, functions));
}
void allocMapiNameIdPtrArray(LPMAPINAMEID** out, ULONG count, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(allocMapiNameIdPtrArray(out, count, parent, functions));
}
void copyMapiNameId(const MAPINAMEID* from, LPMAPINAMEID* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copyMapiNameId(from, out, parent, functions));
}
void copyMapiNameIdPtrArray(MAPINAMEID* const* from, ULONG count, LPMAPINAMEID** out, void* parent,
                            IMapiAllocator* source) {
    FROM_SOURCE(copyMapiNameIdPtrArray(from, count, out, parent, functions));
}
void copyMapiError(const MAPIERROR* from, LPMAPIERROR* out, void* parent, IMapiAllocator* source) {
    FROM_SOURCE(copyMapiError(from, out, parent, functions));
}

#undef FROM_SOURCE

}  // namespace InternalMapiAlloc

// ---------------------------------------------------------------------------
HRESULT freeRowSet(LPSRowSet rowSet, LPFREEBUFFER freeBuffer) {
    if (!freeBuffer) {
        return E_INVALIDARG;
    }
    if (rowSet) {
        for (ULONG i = 0; i < rowSet->cRows; ++i) {
            HRESULT hr = static_cast<HRESULT>(freeBuffer(rowSet->aRow[i].lpProps));
            if (FAILED(hr)) {
                return hr;
            }
        }
    }
    return static_cast<HRESULT>(freeBuffer(rowSet));
}

// ---------------------------------------------------------------------------
MapiAllocSource::MapiAllocSource(IMapiAllocator* source) : source_(source) {
    if (source_) {
        source_->AddRef();
    }
}

MapiAllocSource::MapiAllocSource(const MapiAllocSource& other) : MapiAllocSource(other.source_) {}

MapiAllocSource& MapiAllocSource::operator=(const MapiAllocSource& other) {
    if (other.source_) {
        other.source_->AddRef();
    }
    if (source_) {
        source_->Release();
    }
    source_ = other.source_;
    return *this;
}

MapiAllocSource::~MapiAllocSource() {
    if (source_) {
        source_->Release();
    }
}

void MapiAllocSource::copyStringA(const char* text, LPSTR* out, void* parent) const {
    InternalMapiAlloc::copyStringA(text, out, parent, source_);
}
void MapiAllocSource::copyStringW(const wchar_t* text, LPWSTR* out, void* parent) const {
    InternalMapiAlloc::copyStringW(text, out, parent, source_);
}
void MapiAllocSource::copySProp(const SPropValue* from, LPSPropValue* out, void* parent) const {
    InternalMapiAlloc::copySProp(from, out, parent, source_);
}
void MapiAllocSource::copySBinaryArray(const SBinaryArray* from, SBinaryArray** out, void* parent) const {
    InternalMapiAlloc::copySBinaryArray(from, out, parent, source_);
}
void MapiAllocSource::copySSortOrderSet(const SSortOrderSet* from, LPSSortOrderSet* out, void* parent) const {
    InternalMapiAlloc::copySSortOrderSet(from, out, parent, source_);
}
void MapiAllocSource::copySRow(const SRow* from, LPSRow* out, void* parent, bool link) const {
    InternalMapiAlloc::copySRow(from, out, parent, link, source_);
}
void MapiAllocSource::copySRestriction(const SRestriction* from, LPSRestriction* out, void* parent) const {
    InternalMapiAlloc::copySRestriction(from, out, parent, source_);
}
