// The backend server configuration as MAPI properties: each property tag of
// the connector's profile section is tied to one typed field of a settings
// record with its defaults, and the record is copied into the
// _ServerConfiguration that opens a connection.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <type_traits>

#include "Backend/common/Structures.h"
#include "MapiProvider/Utilities/MapiAllocator.h"
#include "winplat/mapi.h"

// Settings record. Strings are owned BSTRs.
struct MapiServiceConfiguration {
    BSTR serverName = nullptr;                      // 0x660C001E
    BSTR userName = nullptr;                        // 0x661A001E
    BSTR displayName = nullptr;                     // 0x67F1001E
    int autoConnect = 0;                            // 0x670D000B
    BSTR emailAddress = nullptr;                    // 0x670E001F
    ULONG port = 0;                                 // 0x67000003
    ULONG securePort = 0;                           // 0x67010003
    int useSecurePort = 0;                          // 0x6705000B
    int localMode = 0;                              // 0x6706000B
    int keepAlive = 0;                              // 0x6709000B
    ULONG timeoutSeconds = 0;                       // 0x67070003
    _ProfileType profileType = ProfileTypeDefault;  // 0x671B0003
    ULONG reserved = 0;                             // 0x67210003
};

namespace Utilities {
namespace detail {

// One property of a record R.
template <class R>
class PropertyMapItemAbstract {
  public:
    virtual ~PropertyMapItemAbstract() = default;
    virtual void fromPropValue(R& record, ULONG tag, const SPropValue& value) = 0;
    virtual void setDefault(R& record, bool first) = 0;
    virtual void clear(R& record) = 0;
    virtual void copy(R& record, const R& source) = 0;
    // Fills value (tag and data); strings are allocated linked to parent.
    // The failure of that allocation is returned and leaves the data null.
    virtual HRESULT toPropValue(const R& record, ULONG tag, SPropValue* value, IMapiAllocator* allocator,
                                void* parent) = 0;
};

template <class R, class T>
class PropertyMapItemBase : public PropertyMapItemAbstract<R> {
  public:
    explicit PropertyMapItemBase(T R::*field) : field_(field) {}

  protected:
    T R::*field_;
};

// Plain values: int fields (MAPI booleans), ULONG and _ProfileType fields.
template <class R, class T>
class PropertyMapItem : public PropertyMapItemBase<R, T> {
  public:
    PropertyMapItem(T R::*field, T firstDefault, T secondDefault)
        : PropertyMapItemBase<R, T>(field), first_(firstDefault), second_(secondDefault) {}

    void fromPropValue(R& record, ULONG, const SPropValue& value) override {
        if constexpr (std::is_same_v<T, int>) {
            record.*this->field_ = static_cast<int>(value.Value.b);
        } else {
            record.*this->field_ = static_cast<T>(value.Value.ul);
        }
    }
    void setDefault(R& record, bool first) override { record.*this->field_ = first ? first_ : second_; }
    void clear(R&) override {}
    void copy(R& record, const R& source) override { record.*this->field_ = source.*this->field_; }
    HRESULT toPropValue(const R& record, ULONG tag, SPropValue* value, IMapiAllocator*, void*) override {
        value->ulPropTag = tag;
        if constexpr (std::is_same_v<T, int>) {
            value->Value.b = static_cast<USHORT>(record.*this->field_ & 0xFFFF);
        } else {
            value->Value.ul = static_cast<ULONG>(record.*this->field_);
        }
        return S_OK;
    }

  private:
    T first_;
    T second_;
};

// String fields (owned BSTRs). The item owns its two default texts.
template <class R>
class PropertyMapItem<R, wchar_t*> : public PropertyMapItemBase<R, wchar_t*> {
  public:
    PropertyMapItem(wchar_t* R::*field, const wchar_t* firstDefault, const wchar_t* secondDefault);
    ~PropertyMapItem() override;

    void fromPropValue(R& record, ULONG tag, const SPropValue& value) override;
    void setDefault(R& record, bool first) override;
    void clear(R& record) override;
    void copy(R& record, const R& source) override;
    HRESULT toPropValue(const R& record, ULONG tag, SPropValue* value, IMapiAllocator* allocator,
                        void* parent) override;

  private:
    void assign(R& record, BSTR text);

    BSTR first_;
    BSTR second_;
};

}  // namespace detail

// Property tag (ascending) -> item of the record R.
template <class R>
class PropertyMap {
  public:
    PropertyMap() = default;
    virtual ~PropertyMap() { clearItems(); }
    PropertyMap(const PropertyMap&) = delete;
    PropertyMap& operator=(const PropertyMap&) = delete;

    void clearRecord(R& record) {
        for (auto& item : items_) {
            item.second->clear(record);
        }
    }
    void clearItems() { items_.clear(); }
    void setDefaults(R& record, bool first) {
        for (auto& item : items_) {
            item.second->setDefault(record, first);
        }
    }
    // The item of a tag; null when the map has none.
    detail::PropertyMapItemAbstract<R>* item(ULONG tag) const {
        auto it = items_.find(tag);
        return it == items_.end() ? nullptr : it->second.get();
    }
    size_t size() const { return items_.size(); }

  protected:
    void addItem(ULONG tag, std::unique_ptr<detail::PropertyMapItemAbstract<R>> item) {
        items_[tag] = std::move(item);
    }

  private:
    std::map<ULONG, std::unique_ptr<detail::PropertyMapItemAbstract<R>>> items_;
};

// The record with its table of thirteen properties, at the first defaults.
class MapiServiceConfigurationWrapper : public MapiServiceConfiguration,
                                        public PropertyMap<MapiServiceConfiguration> {
  public:
    MapiServiceConfigurationWrapper();
    ~MapiServiceConfigurationWrapper() override;
};

}  // namespace Utilities

// Owns one _ServerConfiguration and its strings.
class ServerConfigurationRecord {
  public:
    ServerConfigurationRecord();
    virtual ~ServerConfigurationRecord();
    ServerConfigurationRecord(const ServerConfigurationRecord&) = delete;
    ServerConfigurationRecord& operator=(const ServerConfigurationRecord&) = delete;

    // Frees the strings it holds, then copies the names and the record.
    void fill(const std::wstring& databaseName, const std::wstring& profileName,
              const MapiServiceConfiguration& record);

    _ServerConfiguration& get() { return config_; }
    const _ServerConfiguration& get() const { return config_; }

  private:
    void freeStrings();

    _ServerConfiguration config_;
};
