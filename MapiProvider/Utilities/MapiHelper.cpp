#include "MapiProvider/Utilities/MapiHelper.h"

#include "CommonBase/BuildTraits.h"
#include "CommonBase/HResultException.h"

namespace Utilities {
namespace {

namespace sites = buildTraits::mapiHelper;
const char* const FunctionName = "Utilities::MapiHelper::getOneProp";

void logMissing(const LoggerPtr& logger, int line, ULONG tag, HRESULT hr) {
    if (logger && logger->isEnabled(1, 0x100)) {
        logger->logMessage(ILogger::Category(1), ILogger::Mask(0x100), sites::File, line, FunctionName,
                           formatMessageSafely(tag), hr);
    }
}

bool isStringType(ULONG type) {
    return type == PT_STRING8 || type == PT_UNICODE;
}

}  // namespace

HRESULT MapiHelper::getOneProp(IMAPIProp* object, ULONG tag, SPropValue** values, bool raiseIfMissing,
                               IMapiAllocator* allocator, const LoggerPtr& logger) {
    if (!object) {
        raiseHResult(E_INVALIDARG, 2, sites::NullObject.file, sites::NullObject.line, FunctionName, nullptr);
    }
    if (!values) {
        raiseHResult(E_INVALIDARG, 2, sites::NullOut.file, sites::NullOut.line, FunctionName, nullptr);
    }
    LPFREEBUFFER freeBuffer = nullptr;
    if (allocator) {
        allocator->getAllocationFunctions(nullptr, nullptr, &freeBuffer);
    }
    SizedSPropTagArray(1, tags) = {1, {tag}};
    ULONG count = 0;
    SPropValue* result = nullptr;
    // Frees what is not handed to the caller, then raises.
    auto fail = [&](const buildTraits::RaiseSite& site, HRESULT hr, bool withDetail) {
        logMissing(logger, site.line, tag, hr);
        if (freeBuffer && result) {
            freeBuffer(result);
        }
        if (withDetail) {
            ErrorLocation{2, site.file, site.line, FunctionName}.raiseFormatted(
                hr, "Requested property: 0x%08x", tag);
        }
        raiseHResult(hr, 2, site.file, site.line, FunctionName, nullptr);
    };
    HRESULT hr = object->GetProps(reinterpret_cast<LPSPropTagArray>(&tags), 0, &count, &result);
    if (FAILED(hr)) {
        fail(sites::GetPropsFailed, hr, false);
    }
    if (count != 1 || !result) {
        fail(sites::NotOneValue, E_FAIL, false);
    }
    if (hr == S_OK) {
        *values = result;
        return S_OK;
    }
    if (PROP_TYPE(result->ulPropTag) != PT_ERROR) {
        fail(sites::NotAnError, E_FAIL, false);
    }
    HRESULT missing = result->Value.err;
    if (raiseIfMissing) {
        fail(sites::Missing, missing, true);
    }
    logMissing(logger, sites::Missing.line, tag, missing);
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
