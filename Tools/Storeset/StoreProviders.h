// What both builds of the adoption know of the profile and the database: the
// connector's section, the store kinds told apart by a store's
// PR_MDB_PROVIDER value, and the marker that makes the server unavailable.
#pragma once

#include <cstring>

#include "winplat/mapi.h"

// {443E744C-2EBA-4785-AC48-D3181FB5E9CC}: the connector's profile section.
inline constexpr GUID ProfileServiceSectionUid = {
    0x443E744C, 0x2EBA, 0x4785, {0xAC, 0x48, 0xD3, 0x18, 0x1F, 0xB5, 0xE9, 0xCC}};
// PR_MDB_PROVIDER of the database's store kinds.
inline constexpr GUID PrimaryStoreProviderUid = {
    0xA64C7941, 0x2364, 0x405E, {0x8B, 0x55, 0xFE, 0x85, 0x5E, 0x5A, 0x7E, 0xA7}};
inline constexpr GUID PublicStoreProviderUid = {
    0x563C0C2D, 0xF9C2, 0x4C8E, {0x85, 0xF7, 0xDF, 0xF1, 0xD4, 0xD1, 0x9E, 0x82}};
inline constexpr GUID DelegateStoreProviderUid = {
    0xB83BE415, 0xC446, 0x4ADD, {0x9D, 0x32, 0x5C, 0x04, 0x0A, 0xDE, 0x1C, 0x3D}};
// Makes the server unavailable to the profile.
inline constexpr char ServerUnavailableMarker[] = "{B19C9E26-B196-42b9-B3D1-1AC0942D3000}";

enum class StoreKind { Primary, Public, Delegate, Unknown };

// The kind of a store from the values its PR_MDB_PROVIDER read returned. A
// store without a usable provider value (missing, an error element, another
// type, or shorter than a GUID) is one the adoption does not know; *provider
// is then left alone.
inline StoreKind storeKindOf(const _SPropValueArray* values, GUID* provider) {
    const SPropValue* value = values && values->cValues >= 1 ? values->lpProps : nullptr;
    if (!value || PROP_TYPE(value->ulPropTag) != PT_BINARY || value->Value.bin.cb < sizeof(GUID) ||
        !value->Value.bin.lpb) {
        return StoreKind::Unknown;
    }
    std::memcpy(provider, value->Value.bin.lpb, sizeof(GUID));
    if (IsEqualGUID(*provider, PrimaryStoreProviderUid)) {
        return StoreKind::Primary;
    }
    if (IsEqualGUID(*provider, PublicStoreProviderUid)) {
        return StoreKind::Public;
    }
    if (IsEqualGUID(*provider, DelegateStoreProviderUid)) {
        return StoreKind::Delegate;
    }
    return StoreKind::Unknown;
}
