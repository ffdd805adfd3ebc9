// Makes an existing MAPI profile use the stores of the connector's local
// database: every primary and public store's profile section gets the
// store's record keys and wrapped entry identifier.
#pragma once

#include "Backend/v74/Backend.h"
#include "MapiProvider/Utilities/MapiAllocator.h"
#include "Tools/Storeset/CommandLineParser.h"
#include "Tools/Storeset/RegistryHelper.h"
#include "Tools/Storeset/StoreProviders.h"
#include "winplat/mapix.h"

class DbAdopter {
  public:
    DbAdopter();
    virtual ~DbAdopter();
    DbAdopter(const DbAdopter&) = delete;
    DbAdopter& operator=(const DbAdopter&) = delete;

    void execute(const CommandLineParser& parser);
    void adoptOneStore(IAppConnection* connection, RegistryHelper& registry, const GUID& store, ULONG index);
    void adjustProfileSection(RegistryHelper& registry, const GUID& provider, const GUID& store);
    void makeServerUnavailable(IProfSect* section);

  private:
    LPFREEBUFFER freeRoutine() const;

    IMapiAllocator* allocator_ = nullptr;
};
