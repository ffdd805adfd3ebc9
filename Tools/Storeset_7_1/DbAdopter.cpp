#include "Tools/Storeset_7_1/DbAdopter.h"

#include <boost/format.hpp>
#include <cstring>

#include "CommonBase/Holders.h"
#include "CommonBase/StringUtils.h"
#include "MapiProvider/Utilities/MapiHelper.h"
#include "MapiProvider/Utilities/MapiServiceConfiguration.h"
#include "MapiProvider/Utilities/MapiStubs.h"
#include "MapiProvider/Utilities/Support.h"
#include "Tools/Storeset/AdoptionSteps.h"
#include "CommonBase/HResultException.h"

namespace {

using namespace adoption;

const char* const SourceFile = ".\\DbAdopter";

void raiseIfFailed(HRESULT hr, int line, const char* function) {
    if (FAILED(hr)) {
        raiseHResult(hr, 2, SourceFile, line, function, nullptr);
    }
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
    if (announce(storeKindOf(props, &provider))) {
        adjustProfileSection(registry, provider, store);
    }
}

void DbAdopter::adjustProfileSection(RegistryHelper& registry, const GUID& provider, const GUID& store) {
    rewriteSection(registry, provider, store, freeRoutine(), [&](ULONG* size, LPENTRYID* wrapped) {
        std::string id = buildStoreEntryId(store);
        HRESULT hr =
            WrapStoreEntryID(MAPI_UNICODE, const_cast<LPTSTR>(L"ZAVUZU.DLL"), static_cast<ULONG>(id.size()),
                             reinterpret_cast<LPENTRYID>(id.data()), size, wrapped);
        raiseIfFailed(hr, 139, "DbAdopter::adjustProfileSection");
    });
}

void DbAdopter::makeServerUnavailable(IProfSect* section) {
    out("Making server unavailable\n");
    SPropValue value{};
    value.ulPropTag = ServerTag;
    value.Value.lpszA = const_cast<LPSTR>(ServerUnavailableMarker);
    raiseIfFailed(HrSetOneProp(section, &value), 155, "DbAdopter::makeServerUnavailable");
}
