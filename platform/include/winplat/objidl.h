// Storage, stream and marshalling interfaces in published slot order, with
// their structures and constants. IIDs are declared in winplat/com.h.
#pragma once

#include "winplat/com.h"

// STATSTG.type
#define STGTY_STORAGE 1
#define STGTY_STREAM 2
#define STGTY_LOCKBYTES 3
#define STGTY_PROPERTY 4

// IStream::Seek origins.
#define STREAM_SEEK_SET 0
#define STREAM_SEEK_CUR 1
#define STREAM_SEEK_END 2

// LockRegion types. The C library's <fcntl.h> has a LOCK_WRITE of its own
// (a flock() flag Linux no longer honours): taken in first, so that this one
// stands wherever both are included, in whichever order.
#include <fcntl.h>
#undef LOCK_WRITE
#define LOCK_WRITE 1
#define LOCK_EXCLUSIVE 2
#define LOCK_ONLYONCE 4

// Stat flags.
#define STATFLAG_DEFAULT 0
#define STATFLAG_NONAME 1
#define STATFLAG_NOOPEN 2

// Commit flags.
#define STGC_DEFAULT 0
#define STGC_OVERWRITE 1
#define STGC_ONLYIFCURRENT 2
#define STGC_DANGEROUSLYCOMMITMERELYTODISKCACHE 4
#define STGC_CONSOLIDATE 8

// Storage access modes.
#define STGM_DIRECT 0x00000000
#define STGM_TRANSACTED 0x00010000
#define STGM_SIMPLE 0x08000000
#define STGM_READ 0x00000000
#define STGM_WRITE 0x00000001
#define STGM_READWRITE 0x00000002
#define STGM_SHARE_DENY_NONE 0x00000040
#define STGM_SHARE_DENY_READ 0x00000030
#define STGM_SHARE_DENY_WRITE 0x00000020
#define STGM_SHARE_EXCLUSIVE 0x00000010
#define STGM_PRIORITY 0x00040000
#define STGM_DELETEONRELEASE 0x04000000
#define STGM_NOSCRATCH 0x00100000
#define STGM_CREATE 0x00001000
#define STGM_CONVERT 0x00020000
#define STGM_FAILIFTHERE 0x00000000
#define STGM_NOSNAPSHOT 0x00200000
#define STGM_DIRECT_SWMR 0x00400000

// IExternalConnection connection kinds.
#define EXTCONN_STRONG 0x0001
#define EXTCONN_WEAK 0x0002
#define EXTCONN_CALLABLE 0x0004

// Marshalling destination contexts and flags.
#define MSHCTX_LOCAL 0
#define MSHCTX_NOSHAREDMEM 1
#define MSHCTX_DIFFERENTMACHINE 2
#define MSHCTX_INPROC 3
#define MSHCTX_CROSSCTX 4
#define MSHLFLAGS_NORMAL 0
#define MSHLFLAGS_TABLESTRONG 1
#define MSHLFLAGS_TABLEWEAK 2
#define MSHLFLAGS_NOPING 4

// ISynchronize::Wait flags.
#define COWAIT_DEFAULT 0
#define COWAIT_WAITALL 1
#define COWAIT_ALERTABLE 2

struct STATSTG {
    LPOLESTR pwcsName;
    DWORD type;
    ULARGE_INTEGER cbSize;
    FILETIME mtime;
    FILETIME ctime;
    FILETIME atime;
    DWORD grfMode;
    DWORD grfLocksSupported;
    CLSID clsid;
    DWORD grfStateBits;
    DWORD reserved;
};
typedef STATSTG* LPSTATSTG;

typedef OLECHAR** SNB;

struct ISequentialStream : IUnknown {
    STDMETHOD(Read)(void* pv, ULONG cb, ULONG* pcbRead) PURE;
    STDMETHOD(Write)(const void* pv, ULONG cb, ULONG* pcbWritten) PURE;
};

struct IStream : ISequentialStream {
    STDMETHOD(Seek)(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) PURE;
    STDMETHOD(SetSize)(ULARGE_INTEGER libNewSize) PURE;
    STDMETHOD(CopyTo)
    (IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) PURE;
    STDMETHOD(Commit)(DWORD grfCommitFlags) PURE;
    STDMETHOD(Revert)() PURE;
    STDMETHOD(LockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) PURE;
    STDMETHOD(UnlockRegion)(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) PURE;
    STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) PURE;
    STDMETHOD(Clone)(IStream** ppstm) PURE;
};
typedef IStream* LPSTREAM;

struct IEnumSTATSTG : IUnknown {
    STDMETHOD(Next)(ULONG celt, STATSTG* rgelt, ULONG* pceltFetched) PURE;
    STDMETHOD(Skip)(ULONG celt) PURE;
    STDMETHOD(Reset)() PURE;
    STDMETHOD(Clone)(IEnumSTATSTG** ppenum) PURE;
};

struct IStorage : IUnknown {
    STDMETHOD(CreateStream)
    (const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2, IStream** ppstm) PURE;
    STDMETHOD(OpenStream)
    (const OLECHAR* pwcsName, void* reserved1, DWORD grfMode, DWORD reserved2, IStream** ppstm) PURE;
    STDMETHOD(CreateStorage)
    (const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2, IStorage** ppstg) PURE;
    STDMETHOD(OpenStorage)
    (const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, SNB snbExclude, DWORD reserved,
     IStorage** ppstg) PURE;
    STDMETHOD(CopyTo)(DWORD ciidExclude, const IID* rgiidExclude, SNB snbExclude, IStorage* pstgDest) PURE;
    STDMETHOD(MoveElementTo)
    (const OLECHAR* pwcsName, IStorage* pstgDest, const OLECHAR* pwcsNewName, DWORD grfFlags) PURE;
    STDMETHOD(Commit)(DWORD grfCommitFlags) PURE;
    STDMETHOD(Revert)() PURE;
    STDMETHOD(EnumElements)(DWORD reserved1, void* reserved2, DWORD reserved3, IEnumSTATSTG** ppenum) PURE;
    STDMETHOD(DestroyElement)(const OLECHAR* pwcsName) PURE;
    STDMETHOD(RenameElement)(const OLECHAR* pwcsOldName, const OLECHAR* pwcsNewName) PURE;
    STDMETHOD(SetElementTimes)
    (const OLECHAR* pwcsName, const FILETIME* pctime, const FILETIME* patime, const FILETIME* pmtime) PURE;
    STDMETHOD(SetClass)(REFCLSID clsid) PURE;
    STDMETHOD(SetStateBits)(DWORD grfStateBits, DWORD grfMask) PURE;
    STDMETHOD(Stat)(STATSTG* pstatstg, DWORD grfStatFlag) PURE;
};
typedef IStorage* LPSTORAGE;

struct IExternalConnection : IUnknown {
    STDMETHOD_(DWORD, AddConnection)(DWORD extconn, DWORD reserved) PURE;
    STDMETHOD_(DWORD, ReleaseConnection)(DWORD extconn, DWORD reserved, BOOL fLastReleaseCloses) PURE;
};

struct IMarshal : IUnknown {
    STDMETHOD(GetUnmarshalClass)
    (REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags, CLSID* pCid) PURE;
    STDMETHOD(GetMarshalSizeMax)
    (REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags, DWORD* pSize) PURE;
    STDMETHOD(MarshalInterface)
    (IStream* pStm, REFIID riid, void* pv, DWORD dwDestContext, void* pvDestContext, DWORD mshlflags) PURE;
    STDMETHOD(UnmarshalInterface)(IStream* pStm, REFIID riid, void** ppv) PURE;
    STDMETHOD(ReleaseMarshalData)(IStream* pStm) PURE;
    STDMETHOD(DisconnectObject)(DWORD dwReserved) PURE;
};
typedef IMarshal* LPMARSHAL;

struct ISynchronize : IUnknown {
    STDMETHOD(Wait)(DWORD dwFlags, DWORD dwMilliseconds) PURE;
    STDMETHOD(Signal)() PURE;
    STDMETHOD(Reset)() PURE;
};

struct ICallFactory : IUnknown {
    STDMETHOD(CreateCall)(REFIID riid, IUnknown* pCtrlUnk, REFIID riid2, IUnknown** ppv) PURE;
};
