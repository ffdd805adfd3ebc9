// Reading one property of a MAPI object, with MAPI's partial-success
// results turned into a plain result or an HResultException.
#pragma once

#include <string>

#include "CommonBase/ILogger.h"
#include "MapiProvider/Utilities/MapiAllocator.h"
#include "winplat/mapix.h"

namespace Utilities {

class MapiHelper {
  public:
    // Reads `tag` into a one-element array that belongs to the caller on
    // success (freed with the MAPI free routine). A missing property raises
    // its error code when raiseIfMissing, else the array is handed out and
    // the code returned. With an allocator, every array not handed out is
    // freed with its free routine.
    static HRESULT getOneProp(IMAPIProp* object, ULONG tag, SPropValue** values, bool raiseIfMissing,
                              IMapiAllocator* allocator, const LoggerPtr& logger);
    // The text of a PT_UNICODE property; false (and empty text) when it is
    // missing and raiseIfMissing is false.
    static bool getOneProp(IMAPIProp* object, ULONG tag, std::wstring& text, bool raiseIfMissing,
                           IMapiAllocator* allocator, const LoggerPtr& logger);
};

// Equal tags, or the same property id where one type is PT_UNSPECIFIED or
// both are string types (PT_STRING8, PT_UNICODE).
bool propTagsMatch(ULONG a, ULONG b);

}  // namespace Utilities
