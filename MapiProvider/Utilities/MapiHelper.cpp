#include "MapiProvider/Utilities/MapiHelper.h"

#include "CommonBase/HResultException.h"

namespace Utilities {
namespace {

const char* const ModulePath = "MapiProvider\\Utilities\\MapiHelper";
const char* const FunctionName = "Utilities::MapiHelper::getOneProp";

void logMissing(const LoggerPtr& logger, int line, ULONG tag, HRESULT hr) {
    if (logger && logger->isEnabled(1, 0x100)) {
        logger->logMessage(1, 0x100, ModulePath, line, FunctionName, formatMessageSafely(tag), hr);
    }
}

bool isStringType(ULONG type) {
    return type == PT_STRING8 || type == PT_UNICODE;
}

}  // namespace

HRESULT MapiHelper::getOneProp(IMAPIProp* object, ULONG tag, SPropValue** values, bool raiseIfMissing,
                               IMapiAllocator* allocator, const LoggerPtr& logger) {
    if (!object || !values) {
        raiseHResult(E_INVALIDARG, 2, ModulePath, __LINE__, FunctionName, nullptr);
    }
    LPFREEBUFFER freeBuffer = nullptr;
    if (allocator) {
        allocator->getAllocationFunctions(nullptr, nullptr, &freeBuffer);
    }
    SizedSPropTagArray(1, tags) = {1, {tag}};
    ULONG count = 0;
    SPropValue* result = nullptr;
    // Frees what is not handed to the caller, then raises.
    auto fail = [&](int line, HRESULT hr, const wchar_t* detail) {
        logMissing(logger, line, tag, hr);
        if (freeBuffer && result) {
            freeBuffer(result);
        }
        if (detail) {
            ErrorLocation{2, ModulePath, line, FunctionName}.raiseFormatted(hr, "Requested property: 0x%08x",
                                                                            tag);
        }
        raiseHResult(hr, 2, ModulePath, line, FunctionName, nullptr);
    };
    HRESULT hr = object->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &result);
    if (FAILED(hr)) {
        fail(__LINE__, hr, nullptr);
    }
    if (count != 1 || !result) {
        fail(__LINE__, E_FAIL, nullptr);
    }
    if (hr == S_OK) {
        *values = result;
        return S_OK;
    }
    if (PROP_TYPE(result->ulPropTag) != PT_ERROR) {
        fail(__LINE__, E_FAIL, nullptr);
    }
    HRESULT missing = result->Value.err;
    if (raiseIfMissing) {
        fail(__LINE__, missing, L"");
    }
    logMissing(logger, __LINE__, tag, missing);
    *values = result;
    return missing;
}

bool MapiHelper::getOneProp(IMAPIProp* object, ULONG tag, std::wstring& text, bool raiseIfMissing,
                            IMapiAllocator* allocator, const LoggerPtr& logger) {
    text.clear();
    SPropValue* values = nullptr;
    HRESULT hr = getOneProp(object, tag, &values, raiseIfMissing, allocator, logger);
    bool found = hr == S_OK;
    if (found && PROP_TYPE(values->ulPropTag) == PT_UNICODE && values->Value.lpszW) {
        text = values->Value.lpszW;
    }
    if (allocator && values) {
        allocator->freeBuffer(values);
    }
    return found;
}

bool propTagsMatch(ULONG a, ULONG b) {
    if (a == b) {
        return true;
    }
    if (PROP_ID(a) != PROP_ID(b)) {
        return false;
    }
    ULONG typeA = PROP_TYPE(a);
    ULONG typeB = PROP_TYPE(b);
    // A string tag never matches a tag of another value type.
    return typeA == PT_UNSPECIFIED || typeB == PT_UNSPECIFIED || (isStringType(typeA) && isStringType(typeB));
}

}  // namespace Utilities
