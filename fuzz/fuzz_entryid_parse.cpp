// Entry identifier parsing: the raw readers and the value readers on any
// bytes either answer or raise HResultException, and agree with each other.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "CommonBase/EntryId.h"
#include "CommonBase/HResultException.h"
#include "winplat/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const unsigned n = static_cast<unsigned>(size);
    const void* bytes = size ? data : nullptr;
    bool valid = EntryId::isValidEntryId(n, bytes);
    Guid store, object;
    unsigned type = 0;
    ULONG child = 0;
    if (EntryId::getComponents(n, bytes, &store, &type, &object, &child, false) != valid)
        std::abort();
    if (valid && !EntryId::equals(n, bytes, n, bytes, false))
        std::abort();
    try {
        EntryId::getComponents(n, bytes, &store, &type, &object, &child, true);
        if (!valid)
            std::abort();
    } catch (const HResultException&) {
        if (valid)
            std::abort();
    }
    try {
        EntryId id(bytes, n);
        if (id.size() != n)
            std::abort();
        Guid valueObject, valueStore;
        unsigned valueType = 0;
        id.getComponents(&valueObject, &valueStore, &valueType);
        // What the raw check accepts, the value form reads alike.
        if (valid && (valueStore != store || valueType != type))
            std::abort();
        ULONG valueChild = 0;
        if (id.getChildId(&valueChild) != (valueType == EntryId::kRecipientType))
            std::abort();
        if (id.isValid() != valid)
            std::abort();
    } catch (const HResultException& e) {
        if (e.getHResult() != static_cast<HRESULT>(0x80040107))
            std::abort();
    }
    return 0;
}
