// The steps both builds of the adoption take alike: the property tags, the
// console lines, the report of a store's kind, and the checks and writes of
// one store's profile section. Each build's DbAdopter keeps its own calls of
// the backend and its own raise sites around them.
#pragma once

#include <boost/format.hpp>

#include "CommonBase/Holders.h"
#include "Tools/Storeset/RegistryHelper.h"
#include "Tools/Storeset/StoreProviders.h"
#include "winplat/com.h"
#include "winplat/console.h"

namespace adoption {

constexpr ULONG DatabaseNameTag = 0x6708001F;
constexpr ULONG ServerTag = 0x660C001E;
constexpr ULONG MdbProviderTag = 0x34140102;
constexpr ULONG RecordKeyTag = 0x0FF90102;
constexpr ULONG StoreRecordKeyTag = 0x0FFA0102;
constexpr ULONG EntryIdTag = 0x0FFF0102;
// In-process server, in-process handler, local server, remote server.
constexpr DWORD ServerContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

inline void out(const char* text) {
    winplat::console::writeOutNarrow(text);
}
inline void out(const boost::format& text) {
    winplat::console::writeOutNarrow(str(text));
}

template <class I>
ScopeGuard releaser(I*& object) {
    return ScopeGuard::make([&object] { releaseIfNotNull(&object); });
}

// Prints what is done with a store of this kind; true when its section is
// to be rewritten.
inline bool announce(StoreKind kind) {
    switch (kind) {
        case StoreKind::Primary:
            out("Adjusting primary store\n");
            return true;
        case StoreKind::Public:
            out("Adjusting public store\n");
            return true;
        case StoreKind::Delegate:
            out("Delegated store, skipped\n");
            return false;
        case StoreKind::Unknown:
            break;
    }
    out("Unknown store, skipped\n");
    return false;
}

// Finds the store's section, checks its three values and rewrites them: the
// store GUID as record key and store record key, and the entry identifier
// that wrapEntryId(&size, &entry) makes (it raises on failure; the entry is
// freed with freeBuffer). Nothing is written before every check passed, and
// the section key is closed when the store's step ends, on every road.
template <class WrapEntryId>
void rewriteSection(RegistryHelper& registry, const GUID& provider, const GUID& store,
                    LPFREEBUFFER freeBuffer, WrapEntryId wrapEntryId) {
    out("Searching profile section in registry\n");
    RegistryKey section(registry.searchKeyByMdbProvider(provider));
    out("Checking existence of PR_RECORD_KEY\n");
    registry.checkPropertyExists(section.get(), RecordKeyTag);
    out("Checking existence of PR_STORE_RECORD_KEY\n");
    registry.checkPropertyExists(section.get(), StoreRecordKeyTag);
    out("Checking existence of PR_ENTRYID\n");
    registry.checkPropertyExists(section.get(), EntryIdTag);
    out("Setting new property values\n");

    ULONG wrappedSize = 0;
    LPENTRYID wrapped = nullptr;
    wrapEntryId(&wrappedSize, &wrapped);
    ScopedMapiBuffer freeWrapped(freeBuffer, wrapped);

    registry.setPropertyValue(section.get(), RecordKeyTag, store);
    registry.setPropertyValue(section.get(), StoreRecordKeyTag, store);
    registry.setPropertyValue(section.get(), EntryIdTag, reinterpret_cast<const BYTE*>(wrapped), wrappedSize);
}

}  // namespace adoption
