#include "MapiProvider/Utilities/MapiServiceConfiguration.h"

#include <cstring>

#include "CommonBase/StringUtils.h"
#include "winplat/oleauto.h"

namespace Utilities::detail {
namespace {

// Narrow text under this tag is UTF-8 with a byte-order mark; under any other
// tag it is in the ANSI code page.
constexpr ULONG Utf8TextTag = 0x67F1001E;

BSTR copyOf(BSTR text) {
    return text ? SysAllocStringLen(text, SysStringLen(text)) : nullptr;
}
BSTR bstrOf(const std::wstring& text) {
    return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

}  // namespace

template <class R>
PropertyMapItem<R, wchar_t*>::PropertyMapItem(wchar_t* R::*field, const wchar_t* firstDefault,
                                              const wchar_t* secondDefault)
    : PropertyMapItemBase<R, wchar_t*>(field),
      first_(SysAllocString(firstDefault)),
      second_(SysAllocString(secondDefault)) {}

template <class R>
PropertyMapItem<R, wchar_t*>::~PropertyMapItem() {
    SysFreeString(first_);
    SysFreeString(second_);
}

// Every assignment frees the text the field held, so no path leaks it.
template <class R>
void PropertyMapItem<R, wchar_t*>::assign(R& record, BSTR text) {
    SysFreeString(record.*this->field_);
    record.*this->field_ = text;
}

template <class R>
void PropertyMapItem<R, wchar_t*>::fromPropValue(R& record, ULONG tag, const SPropValue& value) {
    if (PROP_TYPE(tag) == PT_UNICODE) {
        assign(record, SysAllocString(value.Value.lpszW));
    } else if (tag == Utf8TextTag) {
        assign(record, bstrOf(bomTextToWide(value.Value.lpszA)));
    } else {
        assign(record, bstrOf(ansiToWide(value.Value.lpszA ? value.Value.lpszA : "")));
    }
}

template <class R>
void PropertyMapItem<R, wchar_t*>::setDefault(R& record, bool first) {
    assign(record, copyOf(first ? first_ : second_));
}

template <class R>
void PropertyMapItem<R, wchar_t*>::clear(R& record) {
    SysFreeString(record.*this->field_);
    record.*this->field_ = nullptr;
}

template <class R>
void PropertyMapItem<R, wchar_t*>::copy(R& record, const R& source) {
    assign(record, copyOf(source.*this->field_));
}

template <class R>
HRESULT PropertyMapItem<R, wchar_t*>::toPropValue(const R& record, ULONG tag, SPropValue* value,
                                                  IMapiAllocator* allocator, void* parent) {
    value->ulPropTag = tag;
    value->Value.lpszW = nullptr;
    BSTR text = record.*this->field_;
    if (!text) {
        return S_OK;
    }
    UINT length = SysStringLen(text);
    if (PROP_TYPE(tag) == PT_UNICODE) {
        void* block = nullptr;
        HRESULT hr =
            allocator->allocateMore(static_cast<ULONG>((length + 1) * sizeof(WCHAR)), parent, &block);
        if (FAILED(hr)) {
            return hr;
        }
        std::memcpy(block, text, length * sizeof(WCHAR));
        static_cast<WCHAR*>(block)[length] = L'\0';
        value->Value.lpszW = static_cast<LPWSTR>(block);
        return S_OK;
    }
    std::wstring wide(text, length);
    std::string narrow = tag == Utf8TextTag ? wideToUtf8WithBom(wide.c_str()) : wideToAnsi(wide);
    void* block = nullptr;
    HRESULT hr = allocator->allocateMore(static_cast<ULONG>(narrow.size() + 1), parent, &block);
    if (FAILED(hr)) {
        return hr;
    }
    std::memcpy(block, narrow.c_str(), narrow.size() + 1);
    value->Value.lpszA = static_cast<LPSTR>(block);
    return S_OK;
}

template class PropertyMapItem<MapiServiceConfiguration, wchar_t*>;

}  // namespace Utilities::detail

namespace Utilities {
namespace {

using Record = MapiServiceConfiguration;
using StringItem = detail::PropertyMapItem<Record, wchar_t*>;
using IntItem = detail::PropertyMapItem<Record, int>;
using UlongItem = detail::PropertyMapItem<Record, ULONG>;
using ProfileTypeItem = detail::PropertyMapItem<Record, _ProfileType>;

}  // namespace

MapiServiceConfigurationWrapper::MapiServiceConfigurationWrapper() {
    addItem(0x660C001E, std::make_unique<StringItem>(&Record::serverName, L"", L""));
    addItem(0x661A001E, std::make_unique<StringItem>(&Record::userName, L"", L""));
    addItem(0x67F1001E, std::make_unique<StringItem>(&Record::displayName, L"", L""));
    addItem(0x670D000B, std::make_unique<IntItem>(&Record::autoConnect, 1, 0));
    addItem(0x670E001F, std::make_unique<StringItem>(&Record::emailAddress, L"", L""));
    addItem(0x67000003, std::make_unique<UlongItem>(&Record::port, 80u, 0u));
    addItem(0x67010003, std::make_unique<UlongItem>(&Record::securePort, 443u, 0u));
    addItem(0x6705000B, std::make_unique<IntItem>(&Record::useSecurePort, 1, 0));
    addItem(0x6706000B, std::make_unique<IntItem>(&Record::localMode, 0, 0));
    addItem(0x6709000B, std::make_unique<IntItem>(&Record::keepAlive, 1, 0));
    addItem(0x67070003, std::make_unique<UlongItem>(&Record::timeoutSeconds, 180u, 0u));
    addItem(0x671B0003,
            std::make_unique<ProfileTypeItem>(&Record::profileType, ProfileTypeDefault, ProfileTypeDefault));
    addItem(0x67210003, std::make_unique<UlongItem>(&Record::reserved, 0u, 0u));
    setDefaults(*this, true);
}

MapiServiceConfigurationWrapper::~MapiServiceConfigurationWrapper() {
    clearRecord(*this);
}

}  // namespace Utilities

ServerConfigurationRecord::ServerConfigurationRecord() : config_{} {
    config_.autoConnect = 1;
}

ServerConfigurationRecord::~ServerConfigurationRecord() {
    freeStrings();
}

void ServerConfigurationRecord::freeStrings() {
    for (BSTR* field : {&config_.databaseName, &config_.profileName, &config_.serverName, &config_.userName,
                        &config_.displayName, &config_.emailAddress}) {
        SysFreeString(*field);
        *field = nullptr;
    }
}

void ServerConfigurationRecord::fill(const std::wstring& databaseName, const std::wstring& profileName,
                                     const MapiServiceConfiguration& record) {
    freeStrings();
    auto copy = [](BSTR text) { return text ? SysAllocStringLen(text, SysStringLen(text)) : nullptr; };
    config_.databaseName = SysAllocStringLen(databaseName.data(), static_cast<UINT>(databaseName.size()));
    config_.profileName = SysAllocStringLen(profileName.data(), static_cast<UINT>(profileName.size()));
    config_.serverName = copy(record.serverName);
    config_.userName = copy(record.userName);
    config_.displayName = copy(record.displayName);
    config_.autoConnect = record.autoConnect;
    config_.emailAddress = copy(record.emailAddress);
    config_.port = record.useSecurePort ? record.securePort : record.port;
    config_.useSecurePort = record.useSecurePort;
    config_.localMode = record.localMode;
    config_.keepAlive = record.keepAlive;
    config_.timeoutSeconds = record.timeoutSeconds;
    config_.profileType = record.profileType;
}
