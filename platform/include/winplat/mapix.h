// MAPI interfaces and entry points that the tool and the stand-in MAPI runtime
// share: property objects, profile sections, profile and message-service
// administration, in their published slot order, with their interface IDs
// and the forms of the runtime's exports. Written from the public MAPI
// reference.
#pragma once

#include "winplat/com.h"
#include "winplat/mapi.h"
#include "winplat/types.h"

typedef const IID* LPCIID;
typedef IUnknown* LPUNKNOWN;

struct IMAPITable;  // only handed out by the administration objects here
struct IMAPIProgress;
struct IProviderAdmin;
typedef IMAPITable* LPMAPITABLE;
typedef IMAPIProgress* LPMAPIPROGRESS;
typedef IProviderAdmin* LPPROVIDERADMIN;

// Interface IDs (MAPI's range {000203xx-0000-0000-C000-000000000046}).
#define WINPLAT_MAPI_IID(l)                                \
    {                                                      \
        l, 0x0000, 0x0000, {                               \
            0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46 \
        }                                                  \
    }
// One name per value. A profile section is opened with IID_IMAPIProp,
// {00020303-0000-0000-C000-000000000046}, the property interface; no other ID
// for a profile section is named here, so no other can be passed by mistake.
inline constexpr IID IID_IMAPITable = WINPLAT_MAPI_IID(0x00020301);
inline constexpr IID IID_IMAPIProp = WINPLAT_MAPI_IID(0x00020303);
inline constexpr IID IID_IProfAdmin = WINPLAT_MAPI_IID(0x0002031C);
inline constexpr IID IID_IMsgServiceAdmin = WINPLAT_MAPI_IID(0x0002031D);
#undef WINPLAT_MAPI_IID

// Flags the system passes or the runtime checks.
#define MAPI_DEFERRED_ERRORS 0x00000008u
#define KEEP_OPEN_READONLY 0x00000001u
#define KEEP_OPEN_READWRITE 0x00000002u
#define FORCE_SAVE 0x00000004u
#define MAPI_CREATE 0x00000002u

// IMAPIProp: slots 3-13 after IUnknown.
struct IMAPIProp : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLastError(HRESULT hResult, ULONG ulFlags,
                                                   LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT STDMETHODCALLTYPE SaveChanges(ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProps(LPSPropTagArray lpPropTagArray, ULONG ulFlags,
                                               ULONG* lpcValues, LPSPropValue* lppPropArray) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPropList(ULONG ulFlags, LPSPropTagArray* lppPropTagArray) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenProperty(ULONG ulPropTag, LPCIID lpiid, ULONG ulInterfaceOptions,
                                                   ULONG ulFlags, LPUNKNOWN* lppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProps(ULONG cValues, LPSPropValue lpPropArray,
                                               LPSPropProblemArray* lppProblems) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteProps(LPSPropTagArray lpPropTagArray,
                                                  LPSPropProblemArray* lppProblems) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyTo(ULONG ciidExclude, LPCIID rgiidExclude,
                                             LPSPropTagArray lpExcludeProps, ULONG_PTR ulUIParam,
                                             LPMAPIPROGRESS lpProgress, LPCIID lpInterface, LPVOID lpDestObj,
                                             ULONG ulFlags, LPSPropProblemArray* lppProblems) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyProps(LPSPropTagArray lpIncludeProps, ULONG_PTR ulUIParam,
                                                LPMAPIPROGRESS lpProgress, LPCIID lpInterface,
                                                LPVOID lpDestObj, ULONG ulFlags,
                                                LPSPropProblemArray* lppProblems) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNamesFromIDs(LPSPropTagArray* lppPropTags, LPGUID lpPropSetGuid,
                                                      ULONG ulFlags, ULONG* lpcPropNames,
                                                      LPMAPINAMEID** lpppPropNames) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsFromNames(ULONG cPropNames, LPMAPINAMEID* lppPropNames,
                                                      ULONG ulFlags, LPSPropTagArray* lppPropTags) = 0;
};
typedef IMAPIProp* LPMAPIPROP;

// A profile section is a property object with no methods of its own.
struct IProfSect : public IMAPIProp {};
typedef IProfSect* LPPROFSECT;

// IMsgServiceAdmin: slots 3-14 after IUnknown.
struct IMsgServiceAdmin : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLastError(HRESULT hResult, ULONG ulFlags,
                                                   LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMsgServiceTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateMsgService(LPTSTR lpszService, LPTSTR lpszDisplayName,
                                                       ULONG_PTR ulUIParam, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteMsgService(LPMAPIUID lpUID) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyMsgService(LPMAPIUID lpUID, LPTSTR lpszDisplayName,
                                                     LPCIID lpInterfaceToCopy, LPCIID lpInterfaceDst,
                                                     LPVOID lpObjectDst, ULONG_PTR ulUIParam,
                                                     ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenameMsgService(LPMAPIUID lpUID, ULONG ulFlags,
                                                       LPTSTR lpszDisplayName) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConfigureMsgService(LPMAPIUID lpUID, ULONG_PTR ulUIParam, ULONG ulFlags,
                                                          ULONG cValues, LPSPropValue lpProps) = 0;
    virtual HRESULT STDMETHODCALLTYPE OpenProfileSection(LPMAPIUID lpUID, LPCIID lpInterface, ULONG ulFlags,
                                                         LPPROFSECT* lppProfSect) = 0;
    virtual HRESULT STDMETHODCALLTYPE MsgServiceTransportOrder(ULONG cUID, LPMAPIUID lpUIDList,
                                                               ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE AdminProviders(LPMAPIUID lpUID, ULONG ulFlags,
                                                     LPPROVIDERADMIN* lppProviderAdmin) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPrimaryIdentity(LPMAPIUID lpUID, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProviderTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
};
typedef IMsgServiceAdmin* LPSERVICEADMIN;

// IProfAdmin: slots 3-11 after IUnknown.
struct IProfAdmin : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetLastError(HRESULT hResult, ULONG ulFlags,
                                                   LPMAPIERROR* lppMAPIError) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProfileTable(ULONG ulFlags, LPMAPITABLE* lppTable) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreateProfile(LPTSTR lpszProfileName, LPTSTR lpszPassword,
                                                    ULONG_PTR ulUIParam, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE DeleteProfile(LPTSTR lpszProfileName, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE ChangeProfilePassword(LPTSTR lpszProfileName, LPTSTR lpszOldPassword,
                                                            LPTSTR lpszNewPassword, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE CopyProfile(LPTSTR lpszOldProfileName, LPTSTR lpszOldPassword,
                                                  LPTSTR lpszNewProfileName, ULONG_PTR ulUIParam,
                                                  ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenameProfile(LPTSTR lpszOldProfileName, LPTSTR lpszOldPassword,
                                                    LPTSTR lpszNewProfileName, ULONG_PTR ulUIParam,
                                                    ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultProfile(LPTSTR lpszProfileName, ULONG ulFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE AdminServices(LPTSTR lpszProfileName, LPTSTR lpszPassword,
                                                    ULONG_PTR ulUIParam, ULONG ulFlags,
                                                    LPSERVICEADMIN* lppServiceAdmin) = 0;
};
typedef IProfAdmin* LPPROFADMIN;

// Forms of the runtime's exports. The runtime exports them under the
// decorated names below; on this platform the '@' of a decorated name is
// written '_' in the module's symbol table (GetProcAddress accepts either).
typedef HRESULT(STDMETHODCALLTYPE MAPIINITIALIZE)(LPVOID lpMapiInit);
typedef void(STDMETHODCALLTYPE MAPIUNINITIALIZE)();
typedef HRESULT(STDMETHODCALLTYPE MAPIADMINPROFILES)(ULONG ulFlags, LPPROFADMIN* lppProfAdmin);
typedef HRESULT(STDMETHODCALLTYPE HRSETONEPROP)(LPMAPIPROP lpMapiProp, LPSPropValue lpProp);
typedef HRESULT(STDMETHODCALLTYPE WRAPSTOREENTRYID)(ULONG ulFlags, LPTSTR lpszDLLName, ULONG cbOrigEntry,
                                                    LPENTRYID lpOrigEntry, ULONG* lpcbWrappedEntry,
                                                    LPENTRYID* lppWrappedEntry);
typedef MAPIINITIALIZE* LPMAPIINITIALIZE;
typedef MAPIUNINITIALIZE* LPMAPIUNINITIALIZE;
typedef MAPIADMINPROFILES* LPMAPIADMINPROFILES;
typedef HRSETONEPROP* LPHRSETONEPROP;
typedef WRAPSTOREENTRYID* LPWRAPSTOREENTRYID;
// MAPIAllocateBuffer, MAPIAllocateMore and MAPIFreeBuffer have the forms
// LPALLOCATEBUFFER, LPALLOCATEMORE and LPFREEBUFFER of winplat/mapi.h.

#define MAPIINITIALIZE_EXPORT "MAPIInitialize@4"
#define MAPIUNINITIALIZE_EXPORT "MAPIUninitialize@0"
#define MAPIADMINPROFILES_EXPORT "MAPIAdminProfiles@8"
#define MAPIALLOCATEBUFFER_EXPORT "MAPIAllocateBuffer@8"
#define MAPIALLOCATEMORE_EXPORT "MAPIAllocateMore@12"
#define MAPIFREEBUFFER_EXPORT "MAPIFreeBuffer@4"
#define HRSETONEPROP_EXPORT "HrSetOneProp@8"
#define WRAPSTOREENTRYID_EXPORT "WrapStoreEntryID@24"
