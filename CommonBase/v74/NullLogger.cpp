#include "CommonBase/HResultException.h"
#include "CommonBase/ILogger.h"
#include "winplat/errors.h"

bool NullLogger::isEnabled(int, ULONG) {
    return false;
}

HRESULT NullLogger::logException(int, ULONG, const char*, int, const char*, const std::wstring&,
                                 const std::exception&) {
    return S_OK;
}

HRESULT NullLogger::logMessage(int, ULONG, const char*, int, const char*, const std::wstring&, HRESULT) {
    return S_OK;
}

HRESULT NullLogger::logHResult(int, ULONG, const char*, int, const char*, const wchar_t*, HRESULT) {
    return S_OK;
}

ILog* NullLogger::getLog() {
    raiseHResult(E_POINTER, 2, "CommonBase\\NullLogger", 63, "NullLogger::getLog", nullptr);
}

HRESULT NullLogger::queryLog(ILog**) {
    return E_POINTER;
}

ULONG NullLogger::reserved() {
    return 0;
}
