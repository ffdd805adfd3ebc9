#include "Tools/Storeset/DbAdopter.h"

#include <boost/format.hpp>
#include <cstring>

#include "CommonBase/EntryId.h"
#include "CommonBase/Guid.h"
#include "CommonBase/HResultException.h"
#include "CommonBase/Holders.h"
#include "CommonBase/StringUtils.h"
#include "MapiProvider/Utilities/MapiHelper.h"
#include "MapiProvider/Utilities/MapiServiceConfiguration.h"
#include "MapiProvider/Utilities/MapiStubs.h"
#include "MapiProvider/Utilities/Support.h"
#include "Tools/Storeset/AdoptionSteps.h"

namespace {

using namespace adoption;

const char* const ModulePath = "Tools\\Storeset\\DbAdopter";

void raiseIfFailed(HRESULT hr, int line, const char* function) {
    if (FAILED(hr)) {
        raiseHResult(hr, 2, ModulePath, line, function, nullptr);
    }
}

}  // namespace

DbAdopter::DbAdopter() {
    Utilities::MapiAllocator::create(&allocator_);
}

DbAdopter::~DbAdopter() {
    if (allocator_) {
        allocator_->Release();
    }
}

LPFREEBUFFER DbAdopter::freeRoutine() const {
    LPFREEBUFFER freeBuffer = nullptr;
    allocator_->getAllocationFunctions(nullptr, nullptr, &freeBuffer);
    return freeBuffer;
}

void DbAdopter::execute(const CommandLineParser& parser) {
    static const char* const function = "DbAdopter::execute";
    raiseIfFailed(MAPIInitialize(nullptr), __LINE__, function);
    // Declared in reverse order of release: the last one declared goes first.
    ScopeGuard uninitialize = ScopeGuard::make([] { MAPIUninitialize(); });

    std::wstring profile;
    parser.getValue(L"profile", profile);
    RegistryHelper registry(profile);
    registry.checkRights();

    IProfAdmin* profAdmin = nullptr;
    ScopeGuard releaseProfAdmin = releaser(profAdmin);
    raiseIfFailed(MAPIAdminProfiles(0, &profAdmin), __LINE__, function);

    winplat::console::writeOut(str(boost::wformat(L"Opening MAPI profile '%s'\n") % profile));
    IMsgServiceAdmin* serviceAdmin = nullptr;
    ScopeGuard releaseServiceAdmin = releaser(serviceAdmin);
    raiseIfFailed(profAdmin->AdminServices(const_cast<LPTSTR>(profile.c_str()), nullptr, 0, MAPI_UNICODE,
                                           &serviceAdmin),
                  __LINE__, function);

    out("Retrieving database name from MAPI profile\n");
    IProfSect* section = nullptr;
    ScopeGuard releaseSection = releaser(section);
    MAPIUID sectionUid;
    std::memcpy(sectionUid.ab, &ProfileServiceSectionUid, sizeof(sectionUid.ab));
    // The section is asked for through the property interface's ID.
    raiseIfFailed(serviceAdmin->OpenProfileSection(&sectionUid, &IID_IMAPIProp, MAPI_MODIFY, &section),
                  __LINE__, function);
    std::wstring database;
    Utilities::MapiHelper::getOneProp(section, DatabaseNameTag, database, true, allocator_, LoggerPtr());
    out(boost::format("Database name is '%s'\n") % wideToAnsi(database));

    out("Connecting to MirtBackend\n");
    IAppServer* server = nullptr;
    ScopeGuard releaseServer = releaser(server);
    IAppConnection* connection = nullptr;
    ScopeGuard releaseConnection = releaser(connection);
    raiseIfFailed(CoCreateInstance(BackendAppServerClsid, nullptr, ServerContext, IID_IAppServer,
                                   reinterpret_cast<void**>(&server)),
                  __LINE__, function);
    raiseIfFailed(server->RegisterClientProcess(GetCurrentProcessId(), 0, 1), __LINE__, function);
    Utilities::Support::setAllocationFunctions(MAPIAllocateBuffer, MAPIAllocateMore, MAPIFreeBuffer);

    ServerConfigurationRecord configuration;
    Utilities::MapiServiceConfigurationWrapper settings;
    settings.localMode = 1;  // the field of 0x6706000B
    configuration.fill(database, profile, settings);
    raiseIfFailed(server->OpenConnection(&configuration.get(), ConnectionTypeLocal, 0, &connection), __LINE__,
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
    raiseIfFailed(connection->GetStoreIds(&count, &stores), __LINE__, function);
    for (ULONG index = 0; index < count; ++index) {
        adoptOneStore(connection, registry, stores[index], index);
    }
    makeServerUnavailable(section);
}

void DbAdopter::adoptOneStore(IAppConnection* connection, RegistryHelper& registry, const GUID& store,
                              ULONG index) {
    static const char* const function = "DbAdopter::adoptOneStore";
    out(boost::format("Handling of store #%d\n") % index);
    IDbMsgStore* msgStore = nullptr;
    ScopeGuard releaseStore = releaser(msgStore);
    raiseIfFailed(connection->OpenMsgStore(store, 0, &msgStore), __LINE__, function);

    SizedSPropTagArray(1, tags) = {1, {MdbProviderTag}};
    _SPropValueArray* props = nullptr;
    LPFREEBUFFER freeBuffer = freeRoutine();
    ScopeGuard freeProps =
        ScopeGuard::make([&] { ScopedMapiArray<_SPropValueArray> holder(freeBuffer, props); });
    raiseIfFailed(msgStore->GetProps(reinterpret_cast<_SPropTagArray*>(&tags), &props), __LINE__, function);

    GUID provider;
    if (announce(storeKindOf(props, &provider))) {
        adjustProfileSection(registry, provider, store);
    }
}

void DbAdopter::adjustProfileSection(RegistryHelper& registry, const GUID& provider, const GUID& store) {
    rewriteSection(registry, provider, store, freeRoutine(), [&](ULONG* size, LPENTRYID* wrapped) {
        EntryId entryId(Guid(&store), 0);
        HRESULT hr = WrapStoreEntryID(MAPI_UNICODE, const_cast<LPTSTR>(L"ZAVUZU.DLL"), entryId.size(),
                                      reinterpret_cast<LPENTRYID>(const_cast<uint8_t*>(entryId.data())), size,
                                      wrapped);
        raiseIfFailed(hr, __LINE__, "DbAdopter::adjustProfileSection");
    });
}

void DbAdopter::makeServerUnavailable(IProfSect* section) {
    out("Making server unavailable\n");
    SPropValue value{};
    value.ulPropTag = ServerTag;
    value.Value.lpszA = const_cast<LPSTR>(ServerUnavailableMarker);
    raiseIfFailed(HrSetOneProp(section, &value), __LINE__, "DbAdopter::makeServerUnavailable");
}
