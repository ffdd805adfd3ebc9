#include "Tools/Storeset_7_1/DbAdopter.h"

#include <boost/format.hpp>
#include <cstring>

#include "CommonBase/Holders.h"
#include "CommonBase/StringUtils.h"
#include "MapiProvider/Utilities/MapiHelper.h"
#include "MapiProvider/Utilities/MapiServiceConfiguration.h"
#include "MapiProvider/Utilities/MapiStubs.h"
#include "MapiProvider/Utilities/Support.h"
#include "Tools/Storeset/StoreProviders.h"
#include "Tools/Storeset_7_1/HResultException.h"
#include "winplat/console.h"

namespace {

const char* const SourceFile = ".\\DbAdopter";

constexpr ULONG DatabaseNameTag = 0x6708001F;
constexpr ULONG ServerTag = 0x660C001E;
constexpr ULONG MdbProviderTag = 0x34140102;
constexpr ULONG RecordKeyTag = 0x0FF90102;
constexpr ULONG StoreRecordKeyTag = 0x0FFA0102;
constexpr ULONG EntryIdTag = 0x0FFF0102;
// In-process server, in-process handler, local server, remote server.
constexpr DWORD ServerContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

void out(const char* text) {
    winplat::console::writeOutNarrow(text);
}
void out(const boost::format& text) {
    winplat::console::writeOutNarrow(str(text));
}

void raiseIfFailed(HRESULT hr, int line, const char* function) {
    if (FAILED(hr)) {
        raiseHResult(hr, 2, SourceFile, line, function, nullptr);
    }
}

template <class I>
ScopeGuard releaser(I*& object) {
    return ScopeGuard::make([&object] { releaseIfNotNull(&object); });
}

}  // namespace

DbAdopter::DbAdopter() {
    Utilities::MapiAllocator::create(&allocator_);
}

DbAdopter::~DbAdopter() {
    releaseIfNotNull(&allocator_);
}

LPFREEBUFFER DbAdopter::freeRoutine() const {
    LPFREEBUFFER freeBuffer = nullptr;
    allocator_->getAllocationFunctions(nullptr, nullptr, &freeBuffer);
    return freeBuffer;
}

// Guards are declared in the reverse order of release: the last one declared
// goes first, and MAPIUninitialize last of all.
void DbAdopter::execute(const Parameters& parameters) {
    static const char* const function = "DbAdopter::execute";
    raiseIfFailed(MAPIInitialize(nullptr), 38, function);
    ScopeGuard uninitialize = ScopeGuard::make([] { MAPIUninitialize(); });

    const std::string profile = parameters.getProfile();
    RegistryHelper registry(profile);
    registry.checkRights();

    IProfAdmin* profAdmin = nullptr;
    ScopeGuard releaseProfAdmin = releaser(profAdmin);
    raiseIfFailed(MAPIAdminProfiles(0, &profAdmin), 45, function);

    out(boost::format("Opening MAPI profile '%s'\n") % profile);
    IMsgServiceAdmin* serviceAdmin = nullptr;
    ScopeGuard releaseServiceAdmin = releaser(serviceAdmin);
    // Without MAPI_UNICODE the profile name is narrow text.
    raiseIfFailed(profAdmin->AdminServices(reinterpret_cast<LPTSTR>(const_cast<char*>(profile.c_str())),
                                           nullptr, 0, 0, &serviceAdmin),
                  49, function);

    out("Retrieving database name from MAPI profile\n");
    IProfSect* section = nullptr;
    ScopeGuard releaseSection = releaser(section);
    MAPIUID sectionUid;
    std::memcpy(sectionUid.ab, &ProfileServiceSectionUid, sizeof(sectionUid.ab));
    raiseIfFailed(serviceAdmin->OpenProfileSection(&sectionUid, &IID_IMAPIProp, MAPI_MODIFY, &section), 55,
                  function);
    std::wstring database;
    Utilities::MapiHelper::getOneProp(section, DatabaseNameTag, database, true, allocator_, LoggerPtr());
    out(boost::format("Database name is '%s'\n") % wideToAnsi(database));

    out("Connecting to MirtBackend\n");
    IAppServer* server = nullptr;
    ScopeGuard releaseServer = releaser(server);
    IAppConnection* connection = nullptr;
    ScopeGuard releaseConnection = releaser(connection);
    // COM is up on this thread: MAPIInitialize brought it up.
    raiseIfFailed(CoCreateInstance(BackendAppServerClsid, nullptr, ServerContext, IID_IAppServer,
                                   reinterpret_cast<void**>(&server)),
                  63, function);
    raiseIfFailed(server->RegisterClientProcess(GetCurrentProcessId(), 0), 64, function);
    Utilities::Support::setAllocationFunctions();

    ServerConfigurationRecord configuration;
    Utilities::MapiServiceConfigurationWrapper settings;
    settings.localMode = 1;  // the field of 0x6706000B
    configuration.fill(database, buildTraits::widenProfileName(profile), settings);
    raiseIfFailed(server->OpenConnection(&configuration.get(), ConnectionTypeLocal, &connection), 72,
                  function);

    out("Retrieving list of stores\n");
    LPFREEBUFFER freeBuffer = freeRoutine();
    ULONG count = 0;
    GUID* stores = nullptr;
    ScopeGuard freeStores = ScopeGuard::make([&] {
        if (stores) {
            freeBuffer(stores);
        }
    });
    raiseIfFailed(connection->GetStoreIds(&count, &stores), 77, function);
    for (ULONG index = 0; index < count; ++index) {
        adoptOneStore(connection, registry, stores[index], index);
    }
    makeServerUnavailable(section);
}

void DbAdopter::adoptOneStore(IAppConnection* connection, RegistryHelper& registry, const GUID& store,
                              ULONG index) {
    static const char* const function = "DbAdopter::adoptOneStore";
    out(boost::format("Handling of store #%d\n") % index);
    IDbMapiProps* storeProps = nullptr;
    ScopeGuard releaseStore = releaser(storeProps);
    raiseIfFailed(connection->OpenMapiProps(store, 0, &storeProps), 93, function);

    SizedSPropTagArray(1, tags) = {1, {MdbProviderTag}};
    _SPropValueArray* props = nullptr;
    LPFREEBUFFER freeBuffer = freeRoutine();
    ScopeGuard freeProps =
        ScopeGuard::make([&] { ScopedMapiArray<_SPropValueArray> holder(freeBuffer, props); });
    raiseIfFailed(storeProps->GetProps(reinterpret_cast<_SPropTagArray*>(&tags), &props), 97, function);

    GUID provider;
    switch (storeKindOf(props, &provider)) {
        case StoreKind::Primary:
            out("Adjusting primary store\n");
            adjustProfileSection(registry, provider, store);
            break;
        case StoreKind::Public:
            out("Adjusting public store\n");
            adjustProfileSection(registry, provider, store);
            break;
        case StoreKind::Delegate:
            out("Delegated store, skipped\n");
            break;
        case StoreKind::Unknown:
            out("Unknown store, skipped\n");
            break;
    }
}

void DbAdopter::adjustProfileSection(RegistryHelper& registry, const GUID& provider, const GUID& store) {
    out("Searching profile section in registry\n");
    // Closed when this store's step ends, on every road.
    RegistryKey section(registry.searchKeyByMdbProvider(provider));
    out("Checking existence of PR_RECORD_KEY\n");
    registry.checkPropertyExists(section.get(), RecordKeyTag);
    out("Checking existence of PR_STORE_RECORD_KEY\n");
    registry.checkPropertyExists(section.get(), StoreRecordKeyTag);
    out("Checking existence of PR_ENTRYID\n");
    registry.checkPropertyExists(section.get(), EntryIdTag);
    out("Setting new property values\n");

    std::string id = buildStoreEntryId(store);
    ULONG wrappedSize = 0;
    LPENTRYID wrapped = nullptr;
    HRESULT hr =
        WrapStoreEntryID(MAPI_UNICODE, const_cast<LPTSTR>(L"ZAVUZU.DLL"), static_cast<ULONG>(id.size()),
                         reinterpret_cast<LPENTRYID>(id.data()), &wrappedSize, &wrapped);
    raiseIfFailed(hr, 139, "DbAdopter::adjustProfileSection");
    ScopedMapiBuffer freeWrapped(freeRoutine(), wrapped);

    registry.setPropertyValue(section.get(), RecordKeyTag, store);
    registry.setPropertyValue(section.get(), StoreRecordKeyTag, store);
    registry.setPropertyValue(section.get(), EntryIdTag, reinterpret_cast<const BYTE*>(wrapped), wrappedSize);
}

void DbAdopter::makeServerUnavailable(IProfSect* section) {
    out("Making server unavailable\n");
    SPropValue value{};
    value.ulPropTag = ServerTag;
    value.Value.lpszA = const_cast<LPSTR>(ServerUnavailableMarker);
    raiseIfFailed(HrSetOneProp(section, &value), 155, "DbAdopter::makeServerUnavailable");
}
