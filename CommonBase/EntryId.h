// The connector's binary MAPI entry identifier (all integers little-endian):
//   0  flags (written 0, never examined)     4  store GUID
//   20 type                                   24 object GUID (types 1, 2, 3, 5, 6)
//   40 child id (type 6)
// Store identifiers (type 0) are 24 bytes, recipient identifiers (type 6) 44,
// object identifiers 40.
#pragma once

#include <cstdint>
#include <string>

#include "CommonBase/Guid.h"
#include "winplat/types.h"

struct SBinary;
struct IDbMapiProps;
struct MapiAllocFunctions;

class EntryId {
  public:
    static constexpr unsigned kStoreType = 0;
    static constexpr unsigned kRecipientType = 6;
    static constexpr unsigned kStoreSize = 24;
    static constexpr unsigned kObjectSize = 40;
    static constexpr unsigned kRecipientSize = 44;

    static unsigned sizeForType(unsigned type);

    EntryId() = default;
    // The store identifier; any type but 0 raises E_INVALIDARG.
    EntryId(const Guid& store, unsigned type);
    EntryId(const Guid& store, unsigned type, const Guid& object);
    EntryId(const Guid& store, unsigned type, const Guid& object, ULONG child);
    // A copy of raw bytes (no check beyond the size and the pointer).
    EntryId(const void* bytes, unsigned size);
    explicit EntryId(const SBinary& bin);

    void set(const void* bytes, unsigned size);

    static std::string build(const Guid& store, unsigned type);
    static std::string build(const Guid& store, unsigned type, const Guid& object);
    static std::string build(const Guid& store, unsigned type, const Guid& object, ULONG child);
    // Four zero bytes followed by the text's bytes.
    static EntryId fromText(const char* text);
    // Writes flags, store GUID, type and (for a non-zero type) the object GUID
    // into a caller's buffer; a type-6 child is left to the caller.
    static void createHere(void* buffer, unsigned size, const GUID& store, unsigned type, const GUID& object);

    // Raw identifiers held as (size, pointer).
    static bool isValidEntryId(unsigned size, const void* bytes);
    static bool getType(unsigned size, const void* bytes, unsigned* type, bool raiseIfInvalid);
    static bool getComponents(unsigned size, const void* bytes, Guid* store, unsigned* type, Guid* object,
                              ULONG* child, bool raiseIfInvalid);
    static bool getComponents(unsigned size, const void* bytes, Guid* store, unsigned* type, Guid* object,
                              bool raiseIfInvalid);
    static void getObjectGuid(unsigned size, const void* bytes, Guid* object);
    static void getStoreGuid(unsigned size, const void* bytes, Guid* store);
    static bool equals(unsigned sizeA, const void* bytesA, unsigned sizeB, const void* bytesB,
                       bool raiseIfInvalid);

    // This identifier's own bytes.
    bool isValid() const;
    void getComponents(Guid* object, Guid* store, unsigned* type) const;
    Guid getObjectGuid() const;  // the store GUID for a store identifier
    Guid getStoreGuid() const;
    unsigned getType() const;
    bool getChildId(ULONG* child) const;
    ULONG getChildId() const;  // raises for any type but 6

    // Property transfer through the backend property interface; never raises.
    // The tag array is allocated and the returned values are freed with
    // `functions`, so its free routine must be the one of the memory the
    // server hands back.
    HRESULT readFromProperty(IDbMapiProps* object, ULONG tag, const MapiAllocFunctions& functions);
    // The same over the task-allocator routines (MAPI-shaped memory without a
    // MAPI runtime); the caller links the MAPI utilities that carry them.
    HRESULT readFromProperty(IDbMapiProps* object, ULONG tag);
    HRESULT writeToProperty(IDbMapiProps* object, ULONG tag) const;

    const std::string& bytes() const { return data_; }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(data_.data()); }
    unsigned size() const { return static_cast<unsigned>(data_.size()); }
    bool empty() const { return data_.empty(); }
    bool operator==(const EntryId& other) const { return data_ == other.data_; }

  private:
    void assign(const void* bytes, unsigned size, const char* function);

    std::string data_;
};

#include "CommonBase/MapiAlloc.h"
#include "MapiProvider/Utilities/MapiAllocator.h"

inline HRESULT EntryId::readFromProperty(IDbMapiProps* object, ULONG tag) {
    const MapiAllocFunctions taskAllocator{coTaskMemAllocateBuffer, coTaskMemAllocateMore,
                                           coTaskMemFreeBuffer};
    return readFromProperty(object, tag, taskAllocator);
}
