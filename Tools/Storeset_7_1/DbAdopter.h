// The 7.1 adoption: makes an existing MAPI profile use the stores of the
// connector's local database through the backend server's 7.1 interfaces.
// Every primary and public store's profile section gets the store's record
// keys and wrapped entry identifier; the others are left alone.
#pragma once

#include "Backend/v71/Backend.h"
#include "MapiProvider/Utilities/MapiAllocator.h"
#include "Tools/Storeset/RegistryHelper.h"
#include "Tools/Storeset_7_1/Parameters.h"
#include "winplat/mapix.h"

class DbAdopter {
  public:
    // Creates the MAPI allocator object; raises when it cannot.
    DbAdopter();
    virtual ~DbAdopter();
    DbAdopter(const DbAdopter&) = delete;
    DbAdopter& operator=(const DbAdopter&) = delete;

    void execute(const Parameters& parameters);
    void adoptOneStore(IAppConnection* connection, RegistryHelper& registry, const GUID& store, ULONG index);
    void adjustProfileSection(RegistryHelper& registry, const GUID& provider, const GUID& store);
    void makeServerUnavailable(IProfSect* section);

  private:
    LPFREEBUFFER freeRoutine() const;

    IMapiAllocator* allocator_ = nullptr;
};
