#include "CommonBase/Holders.h"

#include <cstdlib>
#include <new>

#include "winplat/windows.h"
#include "winplat/oleauto.h"

BstrHolder::~BstrHolder() {
    SysFreeString(text_);
}

ScopedMapiBuffer::~ScopedMapiBuffer() {
    if (buffer_ && owned_ && freeBuffer_)
        freeBuffer_(buffer_);
    buffer_ = nullptr;
}

ULONG detail::releaseCountedArray(LPFREEBUFFER freeBuffer, CountedArrayLayout* record) {
    ULONG result = freeBuffer(record->elements);
    if (static_cast<LONG>(result) >= 0)
        result = freeBuffer(record);
    return result;
}

LONG RegistryKey::close() {
    if (!key_)
        return ERROR_SUCCESS;
    LONG result = RegCloseKey(key_);
    key_ = nullptr;
    return result;
}

LONG RegistryKey::queryStringValue(const wchar_t* valueName, wchar_t* buffer, ULONG* length) const {
    if (!length)
        return ERROR_INVALID_PARAMETER;
    // Registry byte counts of wide text are in-memory bytes: sizeof(wchar_t) per character.
    const ULONG capacity = *length;
    DWORD bytes = capacity * static_cast<DWORD>(sizeof(wchar_t));
    *length = 0;
    DWORD type = 0;
    LONG result = RegQueryValueExW(key_, valueName, nullptr, &type, reinterpret_cast<LPBYTE>(buffer), &bytes);
    if (result != ERROR_SUCCESS)
        return result;
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return ERROR_INVALID_DATA;
    if (buffer) {
        if (bytes == 0) {
            // An empty value: terminate only when the buffer has room.
            if (capacity > 0)
                buffer[0] = L'\0';
        } else if (bytes % sizeof(wchar_t) != 0 || buffer[bytes / sizeof(wchar_t) - 1] != L'\0') {
            return ERROR_INVALID_DATA;
        }
    }
    *length = bytes / static_cast<DWORD>(sizeof(wchar_t));
    return ERROR_SUCCESS;
}

namespace {
InvalidParameterGuard* guardInstance = nullptr;
bool guardMade = false;

void destroyGuard() {
    delete guardInstance;
    guardInstance = nullptr;
}
}  // namespace

InvalidParameterGuard* InvalidParameterGuard::instance() {
    if (!guardMade) {
        guardMade = true;
        guardInstance = new (std::nothrow) InvalidParameterGuard();
        if (!guardInstance)
            guardInstance = new (std::nothrow) InvalidParameterGuard();
        std::atexit(destroyGuard);
    }
    return guardInstance;
}

bool InvalidParameterGuard::ensure() {
    return instance() != nullptr;
}
