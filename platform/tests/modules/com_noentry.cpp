// A module registered as a COM server that lacks DllGetClassObject.
#include "winplat/types.h"

extern "C" WINPLAT_API int comTestNoEntryMarker() {
    return 3;
}
