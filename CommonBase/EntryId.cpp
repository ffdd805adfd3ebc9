#include "CommonBase/EntryId.h"

#include <cstring>

#include "CommonBase/HResultException.h"
#include "winplat/mapi.h"

namespace {

const char kModule[] = "CommonBase\\EntryId";
const size_t kFlagsOffset = 0;
const size_t kStoreOffset = 4;
const size_t kTypeOffset = 20;
const size_t kObjectOffset = 24;
const size_t kChildOffset = 40;

uint32_t readU32(const void* bytes, size_t offset) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes) + offset;
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

void writeU32(void* bytes, size_t offset, uint32_t value) {
    uint8_t* p = static_cast<uint8_t*>(bytes) + offset;
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(value >> (8 * i));
}

// GUID fields in their little-endian memory layout, whatever the host.
void writeGuid(void* bytes, size_t offset, const GUID& g) {
    uint8_t* p = static_cast<uint8_t*>(bytes) + offset;
    writeU32(p, 0, g.Data1);
    p[4] = static_cast<uint8_t>(g.Data2);
    p[5] = static_cast<uint8_t>(g.Data2 >> 8);
    p[6] = static_cast<uint8_t>(g.Data3);
    p[7] = static_cast<uint8_t>(g.Data3 >> 8);
    std::memcpy(p + 8, g.Data4, 8);
}

Guid readGuid(const void* bytes, size_t offset) {
    const uint8_t* p = static_cast<const uint8_t*>(bytes) + offset;
    GUID g;
    g.Data1 = readU32(p, 0);
    g.Data2 = static_cast<uint16_t>(p[4] | (p[5] << 8));
    g.Data3 = static_cast<uint16_t>(p[6] | (p[7] << 8));
    std::memcpy(g.Data4, p + 8, 8);
    return Guid(&g);
}

void appendU32(std::string& out, uint32_t value) {
    char b[4];
    writeU32(b, 0, value);
    out.append(b, 4);
}

void appendGuid(std::string& out, const Guid& g) {
    char b[16];
    writeGuid(b, 0, g.get());
    out.append(b, 16);
}

bool isObjectType(unsigned type) {
    return type == 1 || type == 2 || type == 3 || type == 5;
}

}  // namespace

unsigned EntryId::sizeForType(unsigned type) {
    if (type == kStoreType)
        return kStoreSize;
    return type == kRecipientType ? kRecipientSize : kObjectSize;
}

EntryId::EntryId(const Guid& store, unsigned type) {
    if (type != kStoreType)
        ErrorLocation{2, kModule, 41, "EntryId::EntryId"}.raise(E_INVALIDARG);
    data_ = build(store, type);
}

EntryId::EntryId(const Guid& store, unsigned type, const Guid& object) : data_(build(store, type, object)) {}

EntryId::EntryId(const Guid& store, unsigned type, const Guid& object, ULONG child)
    : data_(build(store, type, object, child)) {}

EntryId::EntryId(const void* bytes, unsigned size) {
    assign(bytes, size, "EntryId::EntryId");
}

EntryId::EntryId(const SBinary& bin) {
    if (bin.cb == 0)
        return;
    if (bin.cb < 4)
        ErrorLocation{2, kModule, 78, "EntryId::EntryId"}.raise(MAPI_E_INVALID_ENTRYID,
                                                                L"EntryId constructor: size of buffer < 4");
    if (!bin.lpb)
        ErrorLocation{2, kModule, 80, "EntryId::EntryId"}.raise(MAPI_E_INVALID_ENTRYID,
                                                                L"EntryId constructor: lpb is NULL");
    data_.assign(reinterpret_cast<const char*>(bin.lpb), bin.cb);
}

void EntryId::set(const void* bytes, unsigned size) {
    assign(bytes, size, "EntryId::set");
}

void EntryId::assign(const void* bytes, unsigned size, const char* function) {
    if (!bytes && size == 0) {
        data_.clear();
        return;
    }
    if (size < 4)
        ErrorLocation{2, kModule, 95, function}.raise(MAPI_E_INVALID_ENTRYID,
                                                      L"EntryId constructor: size of buffer < 4");
    if (!bytes)
        ErrorLocation{2, kModule, 97, function}.raise(MAPI_E_INVALID_ENTRYID,
                                                      L"EntryId constructor: ID pointer is NULL");
    data_.assign(static_cast<const char*>(bytes), size);
}

std::string EntryId::build(const Guid& store, unsigned type) {
    std::string out;
    appendU32(out, 0);
    appendGuid(out, store);
    appendU32(out, type);
    return out;
}

std::string EntryId::build(const Guid& store, unsigned type, const Guid& object) {
    std::string out = build(store, type);
    if (type != kStoreType)
        appendGuid(out, object);
    return out;
}

std::string EntryId::build(const Guid& store, unsigned type, const Guid& object, ULONG child) {
    std::string out = build(store, type, object);
    if (type == kRecipientType)
        appendU32(out, child);
    return out;
}

EntryId EntryId::fromText(const char* text) {
    EntryId id;
    id.data_.assign(4, '\0');
    if (text)
        id.data_.append(text);
    return id;
}

void EntryId::createHere(void* buffer, unsigned size, const GUID& store, unsigned type, const GUID& object) {
    if (!buffer || size < sizeForType(type))
        ErrorLocation{2, kModule, 140, "EntryId::createHere"}.raise(E_INVALIDARG);
    writeU32(buffer, kFlagsOffset, 0);
    writeGuid(buffer, kStoreOffset, store);
    writeU32(buffer, kTypeOffset, type);
    if (type != kStoreType)
        writeGuid(buffer, kObjectOffset, object);
}

bool EntryId::isValidEntryId(unsigned size, const void* bytes) {
    if (!bytes) {
        if (size != 0)
            ErrorLocation{2, kModule, 152, "EntryId::isValidEntryId"}.raise(E_INVALIDARG);
        return false;
    }
    if (size == kStoreSize)
        return readU32(bytes, kTypeOffset) == kStoreType;
    if (size == kObjectSize)
        return isObjectType(readU32(bytes, kTypeOffset));
    if (size == kRecipientSize)
        return readU32(bytes, kTypeOffset) == kRecipientType;
    return false;
}

bool EntryId::getType(unsigned size, const void* bytes, unsigned* type, bool raiseIfInvalid) {
    if (!isValidEntryId(size, bytes)) {
        if (raiseIfInvalid)
            ErrorLocation{2, kModule, 167, "EntryId::getType"}.raise(MAPI_E_INVALID_ENTRYID);
        return false;
    }
    if (type)
        *type = readU32(bytes, kTypeOffset);
    return true;
}

bool EntryId::getComponents(unsigned size, const void* bytes, Guid* store, unsigned* type, Guid* object,
                            ULONG* child, bool raiseIfInvalid) {
    unsigned found = 0;
    if (!getType(size, bytes, &found, raiseIfInvalid))
        return false;
    if (type)
        *type = found;
    if (store)
        *store = readGuid(bytes, kStoreOffset);
    if (object)
        *object = found == kStoreType ? Guid() : readGuid(bytes, kObjectOffset);
    if (child && found == kRecipientType)
        *child = readU32(bytes, kChildOffset);
    return true;
}

bool EntryId::getComponents(unsigned size, const void* bytes, Guid* store, unsigned* type, Guid* object,
                            bool raiseIfInvalid) {
    return getComponents(size, bytes, store, type, object, nullptr, raiseIfInvalid);
}

void EntryId::getObjectGuid(unsigned size, const void* bytes, Guid* object) {
    unsigned type = 0;
    getComponents(size, bytes, nullptr, &type, object, true);
    if (type == kStoreType)
        ErrorLocation{2, kModule, 201, "EntryId::getObjectGuid"}.raise(E_INVALIDARG);
}

void EntryId::getStoreGuid(unsigned size, const void* bytes, Guid* store) {
    getComponents(size, bytes, store, nullptr, nullptr, true);
}

bool EntryId::equals(unsigned sizeA, const void* bytesA, unsigned sizeB, const void* bytesB,
                     bool raiseIfInvalid) {
    Guid storeA, storeB, objectA, objectB;
    unsigned typeA = 0, typeB = 0;
    ULONG childA = 0, childB = 0;
    if (!getComponents(sizeA, bytesA, &storeA, &typeA, &objectA, &childA, raiseIfInvalid) ||
        !getComponents(sizeB, bytesB, &storeB, &typeB, &objectB, &childB, raiseIfInvalid))
        return false;
    if (typeA != typeB || storeA != storeB)
        return false;
    if (typeA == kStoreType)
        return true;
    return objectA == objectB && (typeA != kRecipientType || childA == childB);
}

bool EntryId::isValid() const {
    return isValidEntryId(size(), data_.empty() ? nullptr : data_.data());
}

void EntryId::getComponents(Guid* object, Guid* store, unsigned* type) const {
    const unsigned n = size();
    if (n < kStoreSize)
        ErrorLocation{2, kModule, 231, "EntryId::getComponents"}.raiseFormatted(MAPI_E_INVALID_ENTRYID,
                                                                                "EntryId too small: %u", n);
    const Guid storeGuid = readGuid(data_.data(), kStoreOffset);
    const unsigned found = readU32(data_.data(), kTypeOffset);
    Guid objectGuid;
    if (found == kStoreType) {
        if (n != kStoreSize)
            ErrorLocation{2, kModule, 238, "EntryId::getComponents"}.raiseFormatted(
                MAPI_E_INVALID_ENTRYID, "Invalid size of store EntryId: %u != 24", n);
        objectGuid = storeGuid;
    } else {
        const unsigned expected = found == kRecipientType ? kRecipientSize : kObjectSize;
        if (n != expected)
            ErrorLocation{2, kModule, 245, "EntryId::getComponents"}.raiseFormatted(
                MAPI_E_INVALID_ENTRYID, "Invalid size of EntryId: %u != %u", n, expected);
        objectGuid = readGuid(data_.data(), kObjectOffset);
    }
    if (object)
        *object = objectGuid;
    if (store)
        *store = storeGuid;
    if (type)
        *type = found;
}

Guid EntryId::getObjectGuid() const {
    Guid object;
    getComponents(&object, nullptr, nullptr);
    return object;
}

Guid EntryId::getStoreGuid() const {
    Guid store;
    getComponents(nullptr, &store, nullptr);
    return store;
}

unsigned EntryId::getType() const {
    unsigned type = 0;
    getComponents(nullptr, nullptr, &type);
    return type;
}

bool EntryId::getChildId(ULONG* child) const {
    if (getType() != kRecipientType)
        return false;
    if (child)
        *child = readU32(data_.data(), kChildOffset);
    return true;
}

ULONG EntryId::getChildId() const {
    ULONG child = 0;
    if (!getChildId(&child))
        ErrorLocation{2, kModule, 283, "EntryId::getChildId"}.raise(MAPI_E_INVALID_ENTRYID,
                                                                    L"It is not EntryId of recipient");
    return child;
}
