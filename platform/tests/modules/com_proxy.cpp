// Stands for the proxy/stub module of IComTestThing: COM only loads it.
#include "winplat/types.h"

extern "C" WINPLAT_API int comTestProxyMarker() {
    return 7;
}
