// MAPI declarations the system uses: property tags and types, property values,
// rows, restrictions, notifications, named-property ids, extended errors, the
// memory routine forms and the MAPI status codes. Written from the public MAPI
// reference. Fields are fixed-width; every size is taken with sizeof/offsetof,
// so pointer-bearing structures have this platform's layout.
#pragma once

#include <cstddef>

#include "winplat/errors.h"
#include "winplat/types.h"

// Wide build: text types follow UTF-16 `WCHAR` (a typedef to the same type may
// be repeated by other headers).
typedef WCHAR TCHAR;
typedef TCHAR* LPTSTR;
typedef const TCHAR* LPCTSTR;

#ifndef WINPLAT_CY_DEFINED
#define WINPLAT_CY_DEFINED
union CY {
    struct {
        ULONG Lo;
        LONG Hi;
    };
    LONGLONG int64;
};
typedef CY CURRENCY;
#endif

// Trailing variable-length arrays are declared with one element, as the
// public declarations do; sizes come from the Cb* helpers below.
#define MAPI_DIM 1

// ---------------------------------------------------------------------------
// Property tags and types
// ---------------------------------------------------------------------------
#define PROP_TYPE_MASK 0x0000FFFFu
#define PROP_TYPE(ulPropTag) (static_cast<ULONG>(ulPropTag) & PROP_TYPE_MASK)
#define PROP_ID(ulPropTag) (static_cast<ULONG>(ulPropTag) >> 16)
#define PROP_TAG(ulPropType, ulPropID) ((static_cast<ULONG>(ulPropID) << 16) | static_cast<ULONG>(ulPropType))
#define CHANGE_PROP_TYPE(ulPropTag, ulPropType) \
    ((0xFFFF0000u & static_cast<ULONG>(ulPropTag)) | static_cast<ULONG>(ulPropType))
#define PROP_ID_NULL 0
#define PROP_ID_INVALID 0xFFFF

#define PT_UNSPECIFIED 0x0000u
#define PT_NULL 0x0001u
#define PT_I2 0x0002u
#define PT_LONG 0x0003u
#define PT_R4 0x0004u
#define PT_DOUBLE 0x0005u
#define PT_CURRENCY 0x0006u
#define PT_APPTIME 0x0007u
#define PT_ERROR 0x000Au
#define PT_BOOLEAN 0x000Bu
#define PT_OBJECT 0x000Du
#define PT_I8 0x0014u
#define PT_STRING8 0x001Eu
#define PT_UNICODE 0x001Fu
#define PT_SYSTIME 0x0040u
#define PT_CLSID 0x0048u
#define PT_BINARY 0x0102u

#define PT_SHORT PT_I2
#define PT_I4 PT_LONG
#define PT_FLOAT PT_R4
#define PT_R8 PT_DOUBLE
#define PT_LONGLONG PT_I8

#define MV_FLAG 0x1000u
#define MV_INSTANCE 0x2000u
#define MVI_FLAG (MV_FLAG | MV_INSTANCE)
#define MVI_PROP(tag) ((tag) | MVI_FLAG)

#define PT_MV_I2 (MV_FLAG | PT_I2)
#define PT_MV_LONG (MV_FLAG | PT_LONG)
#define PT_MV_R4 (MV_FLAG | PT_R4)
#define PT_MV_DOUBLE (MV_FLAG | PT_DOUBLE)
#define PT_MV_CURRENCY (MV_FLAG | PT_CURRENCY)
#define PT_MV_APPTIME (MV_FLAG | PT_APPTIME)
#define PT_MV_SYSTIME (MV_FLAG | PT_SYSTIME)
#define PT_MV_STRING8 (MV_FLAG | PT_STRING8)
#define PT_MV_BINARY (MV_FLAG | PT_BINARY)
#define PT_MV_UNICODE (MV_FLAG | PT_UNICODE)
#define PT_MV_CLSID (MV_FLAG | PT_CLSID)
#define PT_MV_I8 (MV_FLAG | PT_I8)

#define PT_MV_SHORT PT_MV_I2
#define PT_MV_I4 PT_MV_LONG
#define PT_MV_FLOAT PT_MV_R4
#define PT_MV_R8 PT_MV_DOUBLE
#define PT_MV_LONGLONG PT_MV_I8

// The system is built wide.
#define PT_TSTRING PT_UNICODE
#define PT_MV_TSTRING PT_MV_UNICODE

#define PR_NULL PROP_TAG(PT_NULL, PROP_ID_NULL)

// Common flags.
#define MAPI_MODIFY 0x00000001u
#define MAPI_UNICODE 0x80000000u
#define MAPI_ERROR_VERSION 0x00000000u

// ---------------------------------------------------------------------------
// Identifiers
// ---------------------------------------------------------------------------
struct ENTRYID {
    BYTE abFlags[4];
    BYTE ab[MAPI_DIM];
};
typedef ENTRYID* LPENTRYID;
#define CbNewENTRYID(cb) (offsetof(ENTRYID, ab) + static_cast<size_t>(cb))

struct MAPIUID {
    BYTE ab[16];
};
typedef MAPIUID* LPMAPIUID;
static_assert(sizeof(MAPIUID) == 16);

// ---------------------------------------------------------------------------
// Property values
// ---------------------------------------------------------------------------
struct SBinary {
    ULONG cb;
    LPBYTE lpb;
};
typedef SBinary* LPSBinary;

struct SShortArray {
    ULONG cValues;
    SHORT* lpi;
};
struct SLongArray {
    ULONG cValues;
    LONG* lpl;
};
struct SRealArray {
    ULONG cValues;
    FLOAT* lpflt;
};
struct SDoubleArray {
    ULONG cValues;
    DOUBLE* lpdbl;
};
struct SCurrencyArray {
    ULONG cValues;
    CURRENCY* lpcur;
};
struct SAppTimeArray {
    ULONG cValues;
    DOUBLE* lpat;
};
struct SDateTimeArray {
    ULONG cValues;
    FILETIME* lpft;
};
struct SBinaryArray {
    ULONG cValues;
    SBinary* lpbin;
};
typedef SBinaryArray ENTRYLIST;
typedef SBinaryArray* LPENTRYLIST;
struct SLPSTRArray {
    ULONG cValues;
    LPSTR* lppszA;
};
struct SWStringArray {
    ULONG cValues;
    LPWSTR* lppszW;
};
struct SGuidArray {
    ULONG cValues;
    GUID* lpguid;
};
struct SLargeIntegerArray {
    ULONG cValues;
    LARGE_INTEGER* lpli;
};

union _PV {
    SHORT i;
    LONG l;
    ULONG ul;
    FLOAT flt;
    DOUBLE dbl;
    USHORT b;
    CURRENCY cur;
    DOUBLE at;
    FILETIME ft;
    LPSTR lpszA;
    SBinary bin;
    LPWSTR lpszW;
    LPGUID lpguid;
    LARGE_INTEGER li;
    SShortArray MVi;
    SLongArray MVl;
    SRealArray MVflt;
    SDoubleArray MVdbl;
    SCurrencyArray MVcur;
    SAppTimeArray MVat;
    SDateTimeArray MVft;
    SBinaryArray MVbin;
    SLPSTRArray MVszA;
    SWStringArray MVszW;
    SGuidArray MVguid;
    SLargeIntegerArray MVli;
    SCODE err;
    LONG x;
};
typedef _PV __UPV;

struct SPropValue {
    ULONG ulPropTag;
    ULONG dwAlignPad;
    _PV Value;
};
typedef SPropValue* LPSPropValue;

struct SPropTagArray {
    ULONG cValues;
    ULONG aulPropTag[MAPI_DIM];
};
typedef SPropTagArray* LPSPropTagArray;
#define CbNewSPropTagArray(cTags) \
    (offsetof(SPropTagArray, aulPropTag) + static_cast<size_t>(cTags) * sizeof(ULONG))
#define CbSPropTagArray(lpTags) CbNewSPropTagArray((lpTags)->cValues)
#define SizedSPropTagArray(cTags, name) \
    struct _SPropTagArray_##name {      \
        ULONG cValues;                  \
        ULONG aulPropTag[cTags];        \
    } name

struct SPropProblem {
    ULONG ulIndex;
    ULONG ulPropTag;
    SCODE scode;
};
typedef SPropProblem* LPSPropProblem;

struct SPropProblemArray {
    ULONG cProblem;
    SPropProblem aProblem[MAPI_DIM];
};
typedef SPropProblemArray* LPSPropProblemArray;
#define CbNewSPropProblemArray(cProblems) \
    (offsetof(SPropProblemArray, aProblem) + static_cast<size_t>(cProblems) * sizeof(SPropProblem))
#define CbSPropProblemArray(lpProblems) CbNewSPropProblemArray((lpProblems)->cProblem)

// ---------------------------------------------------------------------------
// Rows and sort orders
// ---------------------------------------------------------------------------
struct SRow {
    ULONG ulAdrEntryPad;
    ULONG cValues;
    LPSPropValue lpProps;
};
typedef SRow* LPSRow;

struct SRowSet {
    ULONG cRows;
    SRow aRow[MAPI_DIM];
};
typedef SRowSet* LPSRowSet;
#define CbNewSRowSet(cRows) (offsetof(SRowSet, aRow) + static_cast<size_t>(cRows) * sizeof(SRow))
#define CbSRowSet(lpRowSet) CbNewSRowSet((lpRowSet)->cRows)

struct SSortOrder {
    ULONG ulPropTag;
    ULONG ulOrder;
};
typedef SSortOrder* LPSSortOrder;

#define TABLE_SORT_ASCEND 0x00000000u
#define TABLE_SORT_DESCEND 0x00000001u
#define TABLE_SORT_COMBINE 0x00000002u

struct SSortOrderSet {
    ULONG cSorts;
    ULONG cCategories;
    ULONG cExpanded;
    SSortOrder aSort[MAPI_DIM];
};
typedef SSortOrderSet* LPSSortOrderSet;
#define CbNewSSortOrderSet(cSorts) \
    (offsetof(SSortOrderSet, aSort) + static_cast<size_t>(cSorts) * sizeof(SSortOrder))
#define CbSSortOrderSet(lpSet) CbNewSSortOrderSet((lpSet)->cSorts)

// ---------------------------------------------------------------------------
// Restrictions
// ---------------------------------------------------------------------------
#define RES_AND 0x00000000u
#define RES_OR 0x00000001u
#define RES_NOT 0x00000002u
#define RES_CONTENT 0x00000003u
#define RES_PROPERTY 0x00000004u
#define RES_COMPAREPROPS 0x00000005u
#define RES_BITMASK 0x00000006u
#define RES_SIZE 0x00000007u
#define RES_EXIST 0x00000008u
#define RES_SUBRESTRICTION 0x00000009u
#define RES_COMMENT 0x0000000Au
#define RES_COUNT 0x0000000Bu
#define RES_ANNOTATION 0x0000000Cu

#define RELOP_LT 0u
#define RELOP_LE 1u
#define RELOP_GT 2u
#define RELOP_GE 3u
#define RELOP_EQ 4u
#define RELOP_NE 5u
#define RELOP_RE 6u

#define FL_FULLSTRING 0x00000000u
#define FL_SUBSTRING 0x00000001u
#define FL_PREFIX 0x00000002u
#define FL_IGNORECASE 0x00010000u
#define FL_IGNORENONSPACE 0x00020000u
#define FL_LOOSE 0x00040000u

#define BMR_EQZ 0u
#define BMR_NEZ 1u

struct SRestriction;
typedef SRestriction* LPSRestriction;

struct SAndRestriction {
    ULONG cRes;
    LPSRestriction lpRes;
};
struct SOrRestriction {
    ULONG cRes;
    LPSRestriction lpRes;
};
struct SNotRestriction {
    ULONG ulReserved;
    LPSRestriction lpRes;
};
struct SContentRestriction {
    ULONG ulFuzzyLevel;
    ULONG ulPropTag;
    LPSPropValue lpProp;
};
struct SPropertyRestriction {
    ULONG relop;
    ULONG ulPropTag;
    LPSPropValue lpProp;
};
struct SComparePropsRestriction {
    ULONG relop;
    ULONG ulPropTag1;
    ULONG ulPropTag2;
};
struct SBitMaskRestriction {
    ULONG relBMR;
    ULONG ulPropTag;
    ULONG ulMask;
};
struct SSizeRestriction {
    ULONG relop;
    ULONG ulPropTag;
    ULONG cb;
};
struct SExistRestriction {
    ULONG ulReserved1;
    ULONG ulPropTag;
    ULONG ulReserved2;
};
struct SSubRestriction {
    ULONG ulSubObject;
    LPSRestriction lpRes;
};
struct SCommentRestriction {
    ULONG cValues;
    LPSRestriction lpRes;
    LPSPropValue lpProp;
};
struct SAnnotationRestriction {
    ULONG cValues;
    LPSRestriction lpRes;
    LPSPropValue lpProp;
};
struct SCountRestriction {
    ULONG ulCount;
    LPSRestriction lpRes;
};

struct SRestriction {
    ULONG rt;
    union {
        SComparePropsRestriction resCompareProps;
        SAndRestriction resAnd;
        SOrRestriction resOr;
        SNotRestriction resNot;
        SContentRestriction resContent;
        SPropertyRestriction resProperty;
        SBitMaskRestriction resBitMask;
        SSizeRestriction resSize;
        SExistRestriction resExist;
        SSubRestriction resSub;
        SCommentRestriction resComment;
        SAnnotationRestriction resAnnotation;
        SCountRestriction resCount;
    } res;
};

// ---------------------------------------------------------------------------
// Extended errors
// ---------------------------------------------------------------------------
struct MAPIERROR {
    ULONG ulVersion;
    LPTSTR lpszError;
    LPTSTR lpszComponent;
    ULONG ulLowLevelError;
    ULONG ulContext;
};
typedef MAPIERROR* LPMAPIERROR;

// ---------------------------------------------------------------------------
// Notifications
// ---------------------------------------------------------------------------
#define fnevCriticalError 0x00000001u
#define fnevNewMail 0x00000002u
#define fnevObjectCreated 0x00000004u
#define fnevObjectDeleted 0x00000008u
#define fnevObjectModified 0x00000010u
#define fnevObjectMoved 0x00000020u
#define fnevObjectCopied 0x00000040u
#define fnevSearchComplete 0x00000080u
#define fnevTableModified 0x00000100u
#define fnevStatusObjectModified 0x00000200u
#define fnevReservedForMapi 0x40000000u
#define fnevExtended 0x80000000u

#define TABLE_CHANGED 1u
#define TABLE_ERROR 2u
#define TABLE_ROW_ADDED 3u
#define TABLE_ROW_DELETED 4u
#define TABLE_ROW_MODIFIED 5u
#define TABLE_SORT_DONE 6u
#define TABLE_RESTRICT_DONE 7u
#define TABLE_SETCOL_DONE 8u
#define TABLE_RELOAD 9u

struct ERROR_NOTIFICATION {
    ULONG cbEntryID;
    LPENTRYID lpEntryID;
    SCODE scode;
    ULONG ulFlags;
    LPMAPIERROR lpMAPIError;
};

// lpszMessageClass holds wide text when ulFlags has MAPI_UNICODE, narrow text
// otherwise.
struct NEWMAIL_NOTIFICATION {
    ULONG cbEntryID;
    LPENTRYID lpEntryID;
    ULONG cbParentID;
    LPENTRYID lpParentID;
    ULONG ulFlags;
    LPTSTR lpszMessageClass;
    ULONG ulMessageFlags;
};

struct OBJECT_NOTIFICATION {
    ULONG cbEntryID;
    LPENTRYID lpEntryID;
    ULONG ulObjType;
    ULONG cbParentID;
    LPENTRYID lpParentID;
    ULONG cbOldID;
    LPENTRYID lpOldID;
    ULONG cbOldParentID;
    LPENTRYID lpOldParentID;
    LPSPropTagArray lpPropTagArray;
};

struct TABLE_NOTIFICATION {
    ULONG ulTableEvent;
    HRESULT hResult;
    SPropValue propIndex;
    SPropValue propPrior;
    SRow row;
    ULONG ulPad;
};

struct EXTENDED_NOTIFICATION {
    ULONG ulEvent;
    ULONG cb;
    LPBYTE pbEventParameters;
};

struct STATUS_OBJECT_NOTIFICATION {
    ULONG cbEntryID;
    LPENTRYID lpEntryID;
    ULONG cValues;
    LPSPropValue lpPropVals;
};

struct NOTIFICATION {
    ULONG ulEventType;
    ULONG ulAlignPad;
    union {
        ERROR_NOTIFICATION err;
        NEWMAIL_NOTIFICATION newmail;
        OBJECT_NOTIFICATION obj;
        TABLE_NOTIFICATION tab;
        EXTENDED_NOTIFICATION ext;
        STATUS_OBJECT_NOTIFICATION statobj;
    } info;
};
typedef NOTIFICATION* LPNOTIFICATION;

// ---------------------------------------------------------------------------
// Named-property ids
// ---------------------------------------------------------------------------
#define MNID_ID 0u
#define MNID_STRING 1u

struct MAPINAMEID {
    LPGUID lpguid;
    ULONG ulKind;
    union {
        LONG lID;
        LPWSTR lpwstrName;
    } Kind;
};
typedef MAPINAMEID* LPMAPINAMEID;

// ---------------------------------------------------------------------------
// Counted arrays of the backend server's interface definitions that carry
// MAPI records. Declared once here so that the common library and the backend
// declarations share one definition.
// ---------------------------------------------------------------------------
#ifndef WINPLAT_BACKEND_MAPI_ARRAYS_DEFINED
#define WINPLAT_BACKEND_MAPI_ARRAYS_DEFINED
struct _SPropValueArray {
    ULONG cValues;
    SPropValue* lpProps;
};
struct _NOTIFICATION_ARRAY {
    ULONG cNotifications;
    NOTIFICATION* lpNotifications;
};
struct _MAPINAMEID_ARRAY {
    ULONG cNames;
    MAPINAMEID** lppNames;
};
#endif

// ---------------------------------------------------------------------------
// Memory routines
// ---------------------------------------------------------------------------
typedef SCODE(STDMETHODCALLTYPE ALLOCATEBUFFER)(ULONG cbSize, LPVOID* lppBuffer);
typedef SCODE(STDMETHODCALLTYPE ALLOCATEMORE)(ULONG cbSize, LPVOID lpObject, LPVOID* lppBuffer);
typedef ULONG(STDMETHODCALLTYPE FREEBUFFER)(LPVOID lpBuffer);
typedef ALLOCATEBUFFER* LPALLOCATEBUFFER;
typedef ALLOCATEMORE* LPALLOCATEMORE;
typedef FREEBUFFER* LPFREEBUFFER;

// ---------------------------------------------------------------------------
// Status codes
// ---------------------------------------------------------------------------
#define MAKE_MAPI_SCODE(sev, fac, code) MAKE_SCODE(sev, fac, code)
#define MAKE_MAPI_E(code) MAKE_MAPI_SCODE(SEVERITY_ERROR, FACILITY_ITF, code)
#define MAKE_MAPI_S(code) MAKE_MAPI_SCODE(SEVERITY_SUCCESS, FACILITY_ITF, code)

#define SUCCESS_SUCCESS 0

#define MAPI_E_CALL_FAILED E_FAIL
#define MAPI_E_NOT_ENOUGH_MEMORY E_OUTOFMEMORY
#define MAPI_E_INVALID_PARAMETER E_INVALIDARG
#define MAPI_E_INTERFACE_NOT_SUPPORTED E_NOINTERFACE
#define MAPI_E_NO_ACCESS E_ACCESSDENIED

#define MAPI_E_NO_SUPPORT MAKE_MAPI_E(0x102)
#define MAPI_E_BAD_CHARWIDTH MAKE_MAPI_E(0x103)
#define MAPI_E_STRING_TOO_LONG MAKE_MAPI_E(0x105)
#define MAPI_E_UNKNOWN_FLAGS MAKE_MAPI_E(0x106)
#define MAPI_E_INVALID_ENTRYID MAKE_MAPI_E(0x107)
#define MAPI_E_INVALID_OBJECT MAKE_MAPI_E(0x108)
#define MAPI_E_OBJECT_CHANGED MAKE_MAPI_E(0x109)
#define MAPI_E_OBJECT_DELETED MAKE_MAPI_E(0x10A)
#define MAPI_E_BUSY MAKE_MAPI_E(0x10B)
#define MAPI_E_NOT_ENOUGH_DISK MAKE_MAPI_E(0x10D)
#define MAPI_E_NOT_ENOUGH_RESOURCES MAKE_MAPI_E(0x10E)
#define MAPI_E_NOT_FOUND MAKE_MAPI_E(0x10F)
#define MAPI_E_VERSION MAKE_MAPI_E(0x110)
#define MAPI_E_LOGON_FAILED MAKE_MAPI_E(0x111)
#define MAPI_E_SESSION_LIMIT MAKE_MAPI_E(0x112)
#define MAPI_E_USER_CANCEL MAKE_MAPI_E(0x113)
#define MAPI_E_UNABLE_TO_ABORT MAKE_MAPI_E(0x114)
#define MAPI_E_NETWORK_ERROR MAKE_MAPI_E(0x115)
#define MAPI_E_DISK_ERROR MAKE_MAPI_E(0x116)
#define MAPI_E_TOO_COMPLEX MAKE_MAPI_E(0x117)
#define MAPI_E_BAD_COLUMN MAKE_MAPI_E(0x118)
#define MAPI_E_EXTENDED_ERROR MAKE_MAPI_E(0x119)
#define MAPI_E_COMPUTED MAKE_MAPI_E(0x11A)
#define MAPI_E_CORRUPT_DATA MAKE_MAPI_E(0x11B)
#define MAPI_E_UNCONFIGURED MAKE_MAPI_E(0x11C)
#define MAPI_E_FAILONEPROVIDER MAKE_MAPI_E(0x11D)
#define MAPI_E_UNKNOWN_CPID MAKE_MAPI_E(0x11E)
#define MAPI_E_UNKNOWN_LCID MAKE_MAPI_E(0x11F)
#define MAPI_E_PASSWORD_CHANGE_REQUIRED MAKE_MAPI_E(0x120)
#define MAPI_E_PASSWORD_EXPIRED MAKE_MAPI_E(0x121)
#define MAPI_E_INVALID_WORKSTATION_ACCOUNT MAKE_MAPI_E(0x122)
#define MAPI_E_INVALID_ACCESS_TIME MAKE_MAPI_E(0x123)
#define MAPI_E_ACCOUNT_DISABLED MAKE_MAPI_E(0x124)
#define MAPI_E_END_OF_SESSION MAKE_MAPI_E(0x200)
#define MAPI_E_UNKNOWN_ENTRYID MAKE_MAPI_E(0x201)
#define MAPI_E_MISSING_REQUIRED_COLUMN MAKE_MAPI_E(0x202)
#define MAPI_W_NO_SERVICE MAKE_MAPI_S(0x203)
#define MAPI_E_BAD_VALUE MAKE_MAPI_E(0x301)
#define MAPI_E_INVALID_TYPE MAKE_MAPI_E(0x302)
#define MAPI_E_TYPE_NO_SUPPORT MAKE_MAPI_E(0x303)
#define MAPI_E_UNEXPECTED_TYPE MAKE_MAPI_E(0x304)
#define MAPI_E_TOO_BIG MAKE_MAPI_E(0x305)
#define MAPI_E_DECLINE_COPY MAKE_MAPI_E(0x306)
#define MAPI_E_UNEXPECTED_ID MAKE_MAPI_E(0x307)
#define MAPI_W_ERRORS_RETURNED MAKE_MAPI_S(0x380)
#define MAPI_E_UNABLE_TO_COMPLETE MAKE_MAPI_E(0x400)
#define MAPI_E_TIMEOUT MAKE_MAPI_E(0x401)
#define MAPI_E_TABLE_EMPTY MAKE_MAPI_E(0x402)
#define MAPI_E_TABLE_TOO_BIG MAKE_MAPI_E(0x403)
#define MAPI_E_INVALID_BOOKMARK MAKE_MAPI_E(0x405)
#define MAPI_W_POSITION_CHANGED MAKE_MAPI_S(0x481)
#define MAPI_W_APPROX_COUNT MAKE_MAPI_S(0x482)
#define MAPI_E_WAIT MAKE_MAPI_E(0x500)
#define MAPI_E_CANCEL MAKE_MAPI_E(0x501)
#define MAPI_E_NOT_ME MAKE_MAPI_E(0x502)
#define MAPI_W_CANCEL_MESSAGE MAKE_MAPI_S(0x580)
#define MAPI_E_CORRUPT_STORE MAKE_MAPI_E(0x600)
#define MAPI_E_NOT_IN_QUEUE MAKE_MAPI_E(0x601)
#define MAPI_E_NO_SUPPRESS MAKE_MAPI_E(0x602)
#define MAPI_E_COLLISION MAKE_MAPI_E(0x604)
#define MAPI_E_NOT_INITIALIZED MAKE_MAPI_E(0x605)
#define MAPI_E_NON_STANDARD MAKE_MAPI_E(0x606)
#define MAPI_E_NO_RECIPIENTS MAKE_MAPI_E(0x607)
#define MAPI_E_SUBMITTED MAKE_MAPI_E(0x608)
#define MAPI_E_HAS_FOLDERS MAKE_MAPI_E(0x609)
#define MAPI_E_HAS_MESSAGES MAKE_MAPI_E(0x60A)
#define MAPI_E_FOLDER_CYCLE MAKE_MAPI_E(0x60B)
#define MAPI_W_PARTIAL_COMPLETION MAKE_MAPI_S(0x680)
#define MAPI_E_AMBIGUOUS_RECIP MAKE_MAPI_E(0x700)
