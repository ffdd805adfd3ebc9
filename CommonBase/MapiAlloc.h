// MAPI memory: the three MAPI memory routines of an allocation source, and
// allocations and deep copies of MAPI structures built on them.
//
// Parent rule: every allocating operation takes a parent block. A null parent
// allocates a new top-level block (allocateBuffer); a non-null one links the
// new block to the parent (allocateMore), so freeing the parent frees it.
// When an operation makes a new top-level record and fills it, the nested data
// is linked to the caller's parent if one was given, else to the new record,
// and the new record is freed again if filling it fails. Failures raise
// HResultException (source "CommonBase\MapiAlloc").
//
// Every operation has a form taking the routines (MapiAllocFunctions) and one
// taking the allocation source (IMapiAllocator) instead.
#pragma once

#include <cstddef>
#include <string>

#include "winplat/mapi.h"

struct IMapiAllocator;

struct MapiAllocFunctions {
    LPALLOCATEBUFFER allocateBuffer;
    LPALLOCATEMORE allocateMore;
    LPFREEBUFFER freeBuffer;
};

namespace MapiAlloc {
// Clears `functions`, fills it from the source and returns it; every routine
// must be present.
MapiAllocFunctions& getAlloc(MapiAllocFunctions& functions, IMapiAllocator* source);
}  // namespace MapiAlloc

namespace InternalMapiAlloc {

namespace detail {
// One zero-filled block of `size` bytes.
void rawAlloc(const MapiAllocFunctions& functions, void* parent, void** out, size_t size);

template <typename T>
void rawAlloc(const MapiAllocFunctions& functions, void* parent, T** out, size_t size) {
    void* block = nullptr;
    rawAlloc(functions, parent, out ? &block : nullptr, size);
    *out = static_cast<T*>(block);
}

// `count` elements of T.
void checkedCount(size_t count, size_t elementSize, size_t header, size_t* size);
template <typename T>
void allocArray(const MapiAllocFunctions& functions, void* parent, T** out, size_t count) {
    size_t size = 0;
    checkedCount(count, sizeof(T), 0, &size);
    rawAlloc(functions, parent, out, size);
}
template <typename T>
void allocOne(const MapiAllocFunctions& functions, void* parent, T** out) {
    rawAlloc(functions, parent, out, sizeof(T));
}

// Member-wise copy of one 64-bit scalar or GUID.
void copy(const GUID* source, GUID* destination);
void copy(const FILETIME* source, FILETIME* destination);
void copy(const LARGE_INTEGER* source, LARGE_INTEGER* destination);
void copy(const CURRENCY* source, CURRENCY* destination);
void copy(const double* source, double* destination);
// Flat copy of `count` elements of 1, 2, 4, 8 or 16 bytes; fails on a count
// of 0 or a null array.
void copyArray(const void* source, void* destination, size_t count, size_t elementSize);
}  // namespace detail

// ---- allocations ----------------------------------------------------------
void allocSPropTagArray(LPSPropTagArray* out, ULONG count, void* parent, const MapiAllocFunctions& functions);
void allocSPropProblemArray(LPSPropProblemArray* out, ULONG count, void* parent,
                            const MapiAllocFunctions& functions);
void allocSSortOrderSet(LPSSortOrderSet* out, ULONG count, void* parent, const MapiAllocFunctions& functions);
void allocGuid(LPGUID* out, void* parent, const MapiAllocFunctions& functions);
// Every element is {PR_NULL, 0, 0}.
void allocSProp(LPSPropValue* out, ULONG count, void* parent, const MapiAllocFunctions& functions);
// A size of 0 allocates nothing and leaves *out as it was.
void allocBinaryData(LPBYTE* out, ULONG size, void* parent, const MapiAllocFunctions& functions);
void allocSBinary(LPSBinary* out, ULONG size, void* parent, const MapiAllocFunctions& functions);
// Header and value array are two top-level blocks; free the array, then the header.
void allocSPropValueArray(_SPropValueArray** out, ULONG count, const MapiAllocFunctions& functions);

// ---- copies -----------------------------------------------------------------
void copyStringA(const char* text, LPSTR* out, void* parent, const MapiAllocFunctions& functions);
void copyStringALen(const char* text, size_t length, LPSTR* out, void* parent,
                    const MapiAllocFunctions& functions);
void copyStringW(const wchar_t* text, LPWSTR* out, void* parent, const MapiAllocFunctions& functions);
void copyStringWLen(const wchar_t* text, size_t length, LPWSTR* out, void* parent,
                    const MapiAllocFunctions& functions);
void copyStringA(const std::string& text, LPSTR* out, void* parent, const MapiAllocFunctions& functions);
void copyStringW(const std::wstring& text, LPWSTR* out, void* parent, const MapiAllocFunctions& functions);
// A null source stores null; the length is reported whenever outLength is given.
void copyEntryId(const void* bytes, ULONG length, LPENTRYID* out, ULONG* outLength, void* parent,
                 const MapiAllocFunctions& functions);
// A length of 0 allocates nothing and leaves *out as it was.
void copyBinaryData(const void* bytes, ULONG length, LPBYTE* out, ULONG* outLength, void* parent,
                    const MapiAllocFunctions& functions);
void copySBinary(const SBinary* source, SBinary* destination, void* parent,
                 const MapiAllocFunctions& functions);
void copySBinary(const SBinary* source, LPSBinary* out, void* parent, const MapiAllocFunctions& functions);
void copySBinaryArray(const SBinaryArray* source, SBinaryArray* destination, void* parent,
                      const MapiAllocFunctions& functions);
void copySBinaryArray(const SBinaryArray* source, SBinaryArray** out, void* parent,
                      const MapiAllocFunctions& functions);
void copyGuid(const GUID* source, LPGUID* out, void* parent, const MapiAllocFunctions& functions);
void copySPropTagArray(const SPropTagArray* source, LPSPropTagArray* out, void* parent,
                       const MapiAllocFunctions& functions);
void copySPropProblemArray(const SPropProblemArray* source, LPSPropProblemArray* out, void* parent,
                           const MapiAllocFunctions& functions);
void copySSortOrderSet(const SSortOrderSet* source, LPSSortOrderSet* out, void* parent,
                       const MapiAllocFunctions& functions);
void copySProp(const SPropValue* source, SPropValue* destination, void* parent,
               const MapiAllocFunctions& functions);
void copySProp(const SPropValue* source, LPSPropValue* out, void* parent,
               const MapiAllocFunctions& functions);
// Element `index` of a multi-valued property as a single value; an index past
// the end leaves the destination as it was.
void copySPropInstance(const SPropValue* source, SPropValue* destination, ULONG index, void* parent,
                       const MapiAllocFunctions& functions);
void copySPropValueArray(const _SPropValueArray* source, _SPropValueArray** out,
                         const MapiAllocFunctions& functions);

// ---- rows, restrictions, notifications, named-property ids, errors ----------
void allocSRow(LPSRow* out, void* parent, const MapiAllocFunctions& functions);
void allocSRowSet(LPSRowSet* out, ULONG count, void* parent, const MapiAllocFunctions& functions);
// A row without values leaves the destination as it was.
void copySRow(const SRow* source, SRow* destination, void* parent, const MapiAllocFunctions& functions);
// link false: the row's property array and its data are new top-level blocks.
void copySRow(const SRow* source, LPSRow* out, void* parent, bool link, const MapiAllocFunctions& functions);
// Moves the rows into a new row set of `capacity` rows and frees the old block;
// returns the result of that free. A capacity below the row count is refused.
HRESULT reallocSRowSet(LPSRowSet* rowSet, ULONG capacity, void* parent, const MapiAllocFunctions& functions);
void copySRestriction(const SRestriction* source, SRestriction* destination, void* parent,
                      const MapiAllocFunctions& functions);
void copySRestriction(const SRestriction* source, LPSRestriction* out, void* parent,
                      const MapiAllocFunctions& functions);
void copyNotification(const NOTIFICATION* source, NOTIFICATION* destination, void* parent,
                      const MapiAllocFunctions& functions);
void copyNotification(const NOTIFICATION* source, LPNOTIFICATION* out, void* parent,
                      const MapiAllocFunctions& functions);
// Header and element array are two top-level blocks; free the array, then the header.
void allocNotificationArray(_NOTIFICATION_ARRAY** out, ULONG count, const MapiAllocFunctions& functions);
void copyNotificationArray(const _NOTIFICATION_ARRAY* source, _NOTIFICATION_ARRAY** out,
                           const MapiAllocFunctions& functions);
void allocMapiNameIdArray(_MAPINAMEID_ARRAY** out, const MapiAllocFunctions& functions);
void allocMapiNameIdPtrArray(LPMAPINAMEID** out, ULONG count, void* parent,
                             const MapiAllocFunctions& functions);
void copyMapiNameId(const MAPINAMEID* source, LPMAPINAMEID* out, void* parent,
                    const MapiAllocFunctions& functions);
void copyMapiNameIdPtrArray(MAPINAMEID* const* source, ULONG count, LPMAPINAMEID** out, void* parent,
                            const MapiAllocFunctions& functions);
// The texts are copied as wide text whatever the version.
void copyMapiError(const MAPIERROR* source, LPMAPIERROR* out, void* parent,
                   const MapiAllocFunctions& functions);

// ---- the same operations over an allocation source --------------------------
void allocSPropTagArray(LPSPropTagArray* out, ULONG count, void* parent, IMapiAllocator* source);
void allocSPropProblemArray(LPSPropProblemArray* out, ULONG count, void* parent, IMapiAllocator* source);
void allocSSortOrderSet(LPSSortOrderSet* out, ULONG count, void* parent, IMapiAllocator* source);
void allocGuid(LPGUID* out, void* parent, IMapiAllocator* source);
void allocSProp(LPSPropValue* out, ULONG count, void* parent, IMapiAllocator* source);
void allocBinaryData(LPBYTE* out, ULONG size, void* parent, IMapiAllocator* source);
void allocSBinary(LPSBinary* out, ULONG size, void* parent, IMapiAllocator* source);
void allocSPropValueArray(_SPropValueArray** out, ULONG count, IMapiAllocator* source);
void copyStringA(const char* text, LPSTR* out, void* parent, IMapiAllocator* source);
void copyStringALen(const char* text, size_t length, LPSTR* out, void* parent, IMapiAllocator* source);
void copyStringW(const wchar_t* text, LPWSTR* out, void* parent, IMapiAllocator* source);
void copyStringWLen(const wchar_t* text, size_t length, LPWSTR* out, void* parent, IMapiAllocator* source);
void copyStringA(const std::string& text, LPSTR* out, void* parent, IMapiAllocator* source);
void copyStringW(const std::wstring& text, LPWSTR* out, void* parent, IMapiAllocator* source);
void copyEntryId(const void* bytes, ULONG length, LPENTRYID* out, ULONG* outLength, void* parent,
                 IMapiAllocator* source);
void copyBinaryData(const void* bytes, ULONG length, LPBYTE* out, ULONG* outLength, void* parent,
                    IMapiAllocator* source);
void copySBinary(const SBinary* from, SBinary* destination, void* parent, IMapiAllocator* source);
void copySBinary(const SBinary* from, LPSBinary* out, void* parent, IMapiAllocator* source);
void copySBinaryArray(const SBinaryArray* from, SBinaryArray* destination, void* parent,
                      IMapiAllocator* source);
void copySBinaryArray(const SBinaryArray* from, SBinaryArray** out, void* parent, IMapiAllocator* source);
void copyGuid(const GUID* from, LPGUID* out, void* parent, IMapiAllocator* source);
void copySPropTagArray(const SPropTagArray* from, LPSPropTagArray* out, void* parent, IMapiAllocator* source);
void copySPropProblemArray(const SPropProblemArray* from, LPSPropProblemArray* out, void* parent,
                           IMapiAllocator* source);
void copySSortOrderSet(const SSortOrderSet* from, LPSSortOrderSet* out, void* parent, IMapiAllocator* source);
void copySProp(const SPropValue* from, SPropValue* destination, void* parent, IMapiAllocator* source);
void copySProp(const SPropValue* from, LPSPropValue* out, void* parent, IMapiAllocator* source);
void copySPropInstance(const SPropValue* from, SPropValue* destination, ULONG index, void* parent,
                       IMapiAllocator* source);
void copySPropValueArray(const _SPropValueArray* from, _SPropValueArray** out, IMapiAllocator* source);
void allocSRow(LPSRow* out, void* parent, IMapiAllocator* source);
void allocSRowSet(LPSRowSet* out, ULONG count, void* parent, IMapiAllocator* source);
void copySRow(const SRow* from, SRow* destination, void* parent, IMapiAllocator* source);
void copySRow(const SRow* from, LPSRow* out, void* parent, bool link, IMapiAllocator* source);
HRESULT reallocSRowSet(LPSRowSet* rowSet, ULONG capacity, void* parent, IMapiAllocator* source);
void copySRestriction(const SRestriction* from, SRestriction* destination, void* parent,
                      IMapiAllocator* source);
void copySRestriction(const SRestriction* from, LPSRestriction* out, void* parent, IMapiAllocator* source);
void copyNotification(const NOTIFICATION* from, NOTIFICATION* destination, void* parent,
                      IMapiAllocator* source);
void copyNotification(const NOTIFICATION* from, LPNOTIFICATION* out, void* parent, IMapiAllocator* source);
void allocNotificationArray(_NOTIFICATION_ARRAY** out, ULONG count, IMapiAllocator* source);
void copyNotificationArray(const _NOTIFICATION_ARRAY* from, _NOTIFICATION_ARRAY** out,
                           IMapiAllocator* source);
void allocMapiNameIdArray(_MAPINAMEID_ARRAY** out, IMapiAllocator* source);
void allocMapiNameIdPtrArray(LPMAPINAMEID** out, ULONG count, void* parent, IMapiAllocator* source);
void copyMapiNameId(const MAPINAMEID* from, LPMAPINAMEID* out, void* parent, IMapiAllocator* source);
void copyMapiNameIdPtrArray(MAPINAMEID* const* from, ULONG count, LPMAPINAMEID** out, void* parent,
                            IMapiAllocator* source);
void copyMapiError(const MAPIERROR* from, LPMAPIERROR* out, void* parent, IMapiAllocator* source);

}  // namespace InternalMapiAlloc

// Frees a row set whose rows' property arrays are top-level blocks of their
// own: each row's array, then the row set. Stops at the first failing free.
// A null free routine gives E_INVALIDARG.
HRESULT freeRowSet(LPSRowSet rowSet, LPFREEBUFFER freeBuffer);

// Keeps one reference to an allocation source and offers copies that fetch
// the routines from it on every call.
class MapiAllocSource {
  public:
    explicit MapiAllocSource(IMapiAllocator* source = nullptr);
    MapiAllocSource(const MapiAllocSource& other);
    MapiAllocSource& operator=(const MapiAllocSource& other);
    ~MapiAllocSource();

    IMapiAllocator* get() const { return source_; }

    void copyStringA(const char* text, LPSTR* out, void* parent) const;
    void copyStringW(const wchar_t* text, LPWSTR* out, void* parent) const;
    void copySProp(const SPropValue* from, LPSPropValue* out, void* parent) const;
    void copySBinaryArray(const SBinaryArray* from, SBinaryArray** out, void* parent) const;
    void copySSortOrderSet(const SSortOrderSet* from, LPSSortOrderSet* out, void* parent) const;
    void copySRow(const SRow* from, LPSRow* out, void* parent, bool link) const;
    void copySRestriction(const SRestriction* from, LPSRestriction* out, void* parent) const;

  private:
    IMapiAllocator* source_;
};
