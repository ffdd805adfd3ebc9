// COM runtime: IUnknown, class factories, apartments, activation through the
// registry, task memory, GUID helpers, the free-threaded marshaler and
// CoDisconnectObject. The storage and marshalling interfaces are in
// winplat/objidl.h (included at the end), BSTR and OLE dates in oleauto.h.
//
// Interfaces are structs of pure virtual functions in published slot order,
// IUnknown's three first, with no virtual destructor (it would shift every
// slot).
//
// Activation (CoCreateInstance, CoGetClassObject):
// - The calling thread must have entered an apartment (CoInitializeEx); there
//   is no implicit multithreaded apartment: CO_E_NOTINITIALIZED otherwise.
// - HKCR\CLSID\{clsid}\InprocServer32 (default value: module path) is used
//   when the context allows CLSCTX_INPROC_SERVER: the module is loaded with
//   LoadLibraryW and its DllGetClassObject asked for IClassFactory.
// - Otherwise HKCR\CLSID\{clsid}\LocalServer32, when the context allows
//   CLSCTX_LOCAL_SERVER (or CLSCTX_REMOTE_SERVER, which needs no remote
//   machine here), names the server module: a quoted value is cut at its
//   closing quote, anything else is the whole path. The module is loaded in
//   this process and must export DllGetClassObject, like an in-process server;
//   it acts as if it ran in another process: no aggregation
//   (CLASS_E_NOAGGREGATION), and the proxy/stub module of the requested
//   interface (HKCR\Interface\{iid}\ProxyStubClsid32, then that class's
//   InprocServer32) is loaded too (E_NOINTERFACE when the interface has no
//   proxy/stub registration; IUnknown needs none).
// - In-process handlers (InprocHandler32) are not used: a context of
//   CLSCTX_INPROC_HANDLER alone finds no server (REGDB_E_CLASSNOTREG).
// - Modules loaded by activation stay loaded until the process ends, so
//   GetModuleHandleW finds a proxy/stub module by its base name afterwards.
// - Errors: an unknown class REGDB_E_CLASSNOTREG; a module that does not load
//   HRESULT_FROM_WIN32 of LoadLibraryW's error (0x8007007E for a missing
//   file); a module without DllGetClassObject CO_E_ERRORINDLL; failures of
//   DllGetClassObject and IClassFactory::CreateInstance come back unchanged.
//
// CoDisconnectObject: calls IMarshal::DisconnectObject when the object
// answers IMarshal, else succeeds. Every call is recorded (see
// winplat::com below). This platform has no remote clients; an object that
// aggregates the free-threaded marshaler is used directly by every apartment,
// and as with the real marshaler such in-process references keep working
// after the disconnection.
#pragma once

#include "winplat/errors.h"
#include "winplat/types.h"

#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define PURE = 0

// Defines a GUID constant in a header; every translation unit and module
// sees the same value.
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    extern "C" inline constexpr GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

struct IUnknown {
    STDMETHOD(QueryInterface)(REFIID riid, void** ppvObject) PURE;
    STDMETHOD_(ULONG, AddRef)() PURE;
    STDMETHOD_(ULONG, Release)() PURE;
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : IUnknown {
    STDMETHOD(CreateInstance)(IUnknown* pUnkOuter, REFIID riid, void** ppvObject) PURE;
    STDMETHOD(LockServer)(BOOL fLock) PURE;
};
typedef IClassFactory* LPCLASSFACTORY;

extern "C" {
extern WINPLAT_API const IID IID_IUnknown;                 // {00000000-0000-0000-C000-000000000046}
extern WINPLAT_API const IID IID_IClassFactory;            // {00000001-0000-0000-C000-000000000046}
extern WINPLAT_API const IID IID_IMarshal;                 // {00000003-0000-0000-C000-000000000046}
extern WINPLAT_API const IID IID_IStorage;                 // {0000000B-0000-0000-C000-000000000046}
extern WINPLAT_API const IID IID_IStream;                  // {0000000C-0000-0000-C000-000000000046}
extern WINPLAT_API const IID IID_IEnumSTATSTG;             // {0000000D-0000-0000-C000-000000000046}
extern WINPLAT_API const IID IID_IExternalConnection;      // {00000019-0000-0000-C000-000000000046}
extern WINPLAT_API const IID IID_ISynchronize;             // {00000030-0000-0000-C000-000000000046}
extern WINPLAT_API const IID IID_ISequentialStream;        // {0C733A30-2A1C-11CE-ADE5-00AA0044773D}
extern WINPLAT_API const IID IID_ICallFactory;             // {1C733A30-2A1C-11CE-ADE5-00AA0044773D}
extern WINPLAT_API const CLSID CLSID_InProcFreeMarshaler;  // {0000033A-0000-0000-C000-000000000046}
extern WINPLAT_API const GUID GUID_NULL;
}

#define IID_NULL GUID_NULL
#define CLSID_NULL GUID_NULL

// Class contexts.
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_INPROC_SERVER16 0x8
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

// Apartment kinds for CoInitializeEx.
#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4
#define COINIT_SPEED_OVER_MEMORY 0x8

typedef CLSID* LPCLSID;
typedef HRESULT(STDMETHODCALLTYPE* LPFNGETCLASSOBJECT)(REFCLSID, REFIID, LPVOID*);

struct COSERVERINFO;

extern "C" {

// Per-thread apartments: the first call enters one (S_OK), further calls of
// the same kind count (S_FALSE), another kind gives RPC_E_CHANGED_MODE and
// changes nothing. Each successful call needs one CoUninitialize.
WINPLAT_API HRESULT WINAPI CoInitialize(LPVOID pvReserved);
WINPLAT_API HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
WINPLAT_API void WINAPI CoUninitialize();

WINPLAT_API HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                            REFIID riid, LPVOID* ppv);
WINPLAT_API HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO* pServerInfo,
                                            REFIID riid, LPVOID* ppv);

// A random (version 4) GUID.
WINPLAT_API HRESULT WINAPI CoCreateGuid(GUID* pguid);
// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" in upper case; returns the number
// of characters written including the NUL (39), or 0 when cchMax is too small.
WINPLAT_API int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
// Parse the braced registry form (either case); null gives GUID_NULL;
// anything else CO_E_CLASSSTRING or E_INVALIDARG.
WINPLAT_API HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
WINPLAT_API HRESULT WINAPI IIDFromString(LPCOLESTR lpsz, IID* lpiid);

// Task memory; CoTaskMemAlloc(0) gives a valid block. Live blocks are counted.
WINPLAT_API LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb);
WINPLAT_API LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
WINPLAT_API void WINAPI CoTaskMemFree(LPVOID pv);

// An aggregatable inner object: its own (nondelegating) IUnknown goes to
// *ppunkMarshal; it answers IMarshal, whose IUnknown methods go to the outer
// object. In-process marshalling passes the pointer itself.
WINPLAT_API HRESULT WINAPI CoCreateFreeThreadedMarshaler(LPUNKNOWN punkOuter, LPUNKNOWN* ppunkMarshal);
// See the header comment. A null object gives E_INVALIDARG.
WINPLAT_API HRESULT WINAPI CoDisconnectObject(LPUNKNOWN pUnk, DWORD dwReserved);

}  // extern "C"

namespace winplat::com {

enum class Apartment { None, SingleThreaded, MultiThreaded };

// The calling thread's apartment and how often it was entered.
WINPLAT_API Apartment currentApartment();
WINPLAT_API uint32_t apartmentInitCount();
// How many threads are inside an apartment now: one that ends without
// leaving its apartment stays counted.
WINPLAT_API int64_t liveApartmentCount();

// Live task-memory blocks and free-threaded marshaler objects.
WINPLAT_API int64_t liveTaskMemCount();
WINPLAT_API int64_t liveMarshalerCount();

// Record of CoDisconnectObject calls, keyed by the object's IUnknown.
WINPLAT_API uint64_t disconnectCount(IUnknown* object);
WINPLAT_API uint64_t disconnectTotal();
// Waits at most timeoutMs for disconnectTotal() to reach `total`.
WINPLAT_API bool waitForDisconnects(uint64_t total, uint32_t timeoutMs);
WINPLAT_API void resetDisconnectRecord();

}  // namespace winplat::com

#include "winplat/objidl.h"
