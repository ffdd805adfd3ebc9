// The platform's COM interfaces that the server hands out, written as slot
// tables like the server's own. The interfaces themselves are the platform's
// (winplat/objidl.h); each row is checked here against the platform's member,
// so a table that drifts from the declaration does not compile.
#pragma once

#include <type_traits>

#include "Backend/common/SlotTable.h"
#include "winplat/objidl.h"

// One row per slot; the formatter would break the rows apart.
// clang-format off
#define BACKEND_ISEQUENTIALSTREAM_SLOTS(X)                                                    \
    X(3, Read, (void* pv, ULONG cb, ULONG* pcbRead), (pv, cb, pcbRead), FORWARD)              \
    X(4, Write, (const void* pv, ULONG cb, ULONG* pcbWritten), (pv, cb, pcbWritten), FORWARD)

#define BACKEND_ISTREAM_SLOTS(X)                                                                 \
    X(5, Seek, (LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition),        \
      (dlibMove, dwOrigin, plibNewPosition), FORWARD)                                             \
    X(6, SetSize, (ULARGE_INTEGER libNewSize), (libNewSize), FORWARD)                            \
    X(7, CopyTo, (IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,                     \
                  ULARGE_INTEGER* pcbWritten),                                                    \
      (pstm, cb, pcbRead, pcbWritten), SPECIAL)                                                   \
    X(8, Commit, (DWORD grfCommitFlags), (grfCommitFlags), FORWARD)                              \
    X(9, Revert, (), (), FORWARD)                                                                \
    X(10, LockRegion, (ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType),           \
      (libOffset, cb, dwLockType), FORWARD)                                                       \
    X(11, UnlockRegion, (ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType),         \
      (libOffset, cb, dwLockType), FORWARD)                                                       \
    X(12, Stat, (STATSTG* pstatstg, DWORD grfStatFlag), (pstatstg, grfStatFlag), FORWARD)        \
    X(13, Clone, (IStream** ppstm), (ppstm), OUT_WRAPPED(StreamWrapper, ppstm))

#define BACKEND_ISTREAM_ALL_SLOTS(X) BACKEND_ISEQUENTIALSTREAM_SLOTS(X) BACKEND_ISTREAM_SLOTS(X)

#define BACKEND_IENUMSTATSTG_SLOTS(X)                                                            \
    X(3, Next, (ULONG celt, STATSTG* rgelt, ULONG* pceltFetched), (celt, rgelt, pceltFetched),   \
      FORWARD)                                                                                    \
    X(4, Skip, (ULONG celt), (celt), FORWARD)                                                    \
    X(5, Reset, (), (), FORWARD)                                                                 \
    X(6, Clone, (IEnumSTATSTG** ppenum), (ppenum), OUT_WRAPPED(EnumSTATSTGWrapper, ppenum))

#define BACKEND_ISTORAGE_SLOTS(X)                                                                \
    X(3, CreateStream,                                                                           \
      (const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2, IStream** ppstm), \
      (pwcsName, grfMode, reserved1, reserved2, ppstm), OUT_WRAPPED(StreamWrapper, ppstm))        \
    X(4, OpenStream,                                                                             \
      (const OLECHAR* pwcsName, void* reserved1, DWORD grfMode, DWORD reserved2, IStream** ppstm), \
      (pwcsName, reserved1, grfMode, reserved2, ppstm), OUT_WRAPPED(StreamWrapper, ppstm))        \
    X(5, CreateStorage,                                                                          \
      (const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2, IStorage** ppstg), \
      (pwcsName, grfMode, reserved1, reserved2, ppstg), OUT_WRAPPED(StorageWrapper, ppstg))       \
    X(6, OpenStorage,                                                                            \
      (const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode, SNB snbExclude,           \
       DWORD reserved, IStorage** ppstg),                                                         \
      (pwcsName, pstgPriority, grfMode, snbExclude, reserved, ppstg),                             \
      IN_UNWRAPPED_OUT_WRAPPED(pstgPriority, StorageWrapper, ppstg))                              \
    X(7, CopyTo, (DWORD ciidExclude, const IID* rgiidExclude, SNB snbExclude, IStorage* pstgDest), \
      (ciidExclude, rgiidExclude, snbExclude, pstgDest), IN_UNWRAPPED(pstgDest))                  \
    X(8, MoveElementTo,                                                                          \
      (const OLECHAR* pwcsName, IStorage* pstgDest, const OLECHAR* pwcsNewName, DWORD grfFlags), \
      (pwcsName, pstgDest, pwcsNewName, grfFlags), IN_UNWRAPPED(pstgDest))                        \
    X(9, Commit, (DWORD grfCommitFlags), (grfCommitFlags), FORWARD)                              \
    X(10, Revert, (), (), FORWARD)                                                               \
    X(11, EnumElements, (DWORD reserved1, void* reserved2, DWORD reserved3, IEnumSTATSTG** ppenum), \
      (reserved1, reserved2, reserved3, ppenum), OUT_WRAPPED(EnumSTATSTGWrapper, ppenum))         \
    X(12, DestroyElement, (const OLECHAR* pwcsName), (pwcsName), FORWARD)                        \
    X(13, RenameElement, (const OLECHAR* pwcsOldName, const OLECHAR* pwcsNewName),               \
      (pwcsOldName, pwcsNewName), FORWARD)                                                        \
    X(14, SetElementTimes,                                                                       \
      (const OLECHAR* pwcsName, const FILETIME* pctime, const FILETIME* patime,                  \
       const FILETIME* pmtime),                                                                   \
      (pwcsName, pctime, patime, pmtime), FORWARD)                                                \
    X(15, SetClass, (REFCLSID clsid), (clsid), FORWARD)                                          \
    X(16, SetStateBits, (DWORD grfStateBits, DWORD grfMask), (grfStateBits, grfMask), FORWARD)  \
    X(17, Stat, (STATSTG* pstatstg, DWORD grfStatFlag), (pstatstg, grfStatFlag), FORWARD)

#define BACKEND_ISYNCHRONIZE_SLOTS(X)                                                  \
    X(3, Wait, (DWORD dwFlags, DWORD dwMilliseconds), (dwFlags, dwMilliseconds), FORWARD) \
    X(4, Signal, (), (), FORWARD)                                                       \
    X(5, Reset, (), (), FORWARD)

#define BACKEND_ICALLFACTORY_SLOTS(X)                                                       \
    X(3, CreateCall, (REFIID riid, IUnknown* pCtrlUnk, REFIID riid2, IUnknown** ppv),       \
      (riid, pCtrlUnk, riid2, ppv), SPECIAL)

// clang-format on

// Each row against the platform's member of the same name: same parameter
// types, same result, declared in that interface itself.
#define BACKEND_CHECK_PLATFORM_MEMBER(I, name, params)                                        \
    static_assert(std::is_same_v<decltype(&I::name), HRESULT(STDMETHODCALLTYPE I::*) params>, \
                  #I "::" #name ": the table's row differs from the platform's declaration");

#define BACKEND_CHECK_ISEQUENTIALSTREAM(slot, name, params, args, treatment) \
    BACKEND_CHECK_PLATFORM_MEMBER(ISequentialStream, name, params)
#define BACKEND_CHECK_ISTREAM(slot, name, params, args, treatment) \
    BACKEND_CHECK_PLATFORM_MEMBER(IStream, name, params)
#define BACKEND_CHECK_IENUMSTATSTG(slot, name, params, args, treatment) \
    BACKEND_CHECK_PLATFORM_MEMBER(IEnumSTATSTG, name, params)
#define BACKEND_CHECK_ISTORAGE(slot, name, params, args, treatment) \
    BACKEND_CHECK_PLATFORM_MEMBER(IStorage, name, params)
#define BACKEND_CHECK_ISYNCHRONIZE(slot, name, params, args, treatment) \
    BACKEND_CHECK_PLATFORM_MEMBER(ISynchronize, name, params)
#define BACKEND_CHECK_ICALLFACTORY(slot, name, params, args, treatment) \
    BACKEND_CHECK_PLATFORM_MEMBER(ICallFactory, name, params)

BACKEND_ISEQUENTIALSTREAM_SLOTS(BACKEND_CHECK_ISEQUENTIALSTREAM)
BACKEND_ISTREAM_SLOTS(BACKEND_CHECK_ISTREAM)
BACKEND_IENUMSTATSTG_SLOTS(BACKEND_CHECK_IENUMSTATSTG)
BACKEND_ISTORAGE_SLOTS(BACKEND_CHECK_ISTORAGE)
BACKEND_ISYNCHRONIZE_SLOTS(BACKEND_CHECK_ISYNCHRONIZE)
BACKEND_ICALLFACTORY_SLOTS(BACKEND_CHECK_ICALLFACTORY)

BACKEND_CHECK_SLOTS(BACKEND_ISEQUENTIALSTREAM_SLOTS, ISequentialStream, 3, 2)
BACKEND_CHECK_SLOTS(BACKEND_ISTREAM_ALL_SLOTS, IStreamAll, 3, 11)
BACKEND_CHECK_SLOTS(BACKEND_IENUMSTATSTG_SLOTS, IEnumSTATSTG, 3, 4)
BACKEND_CHECK_SLOTS(BACKEND_ISTORAGE_SLOTS, IStorage, 3, 15)
BACKEND_CHECK_SLOTS(BACKEND_ISYNCHRONIZE_SLOTS, ISynchronize, 3, 3)
BACKEND_CHECK_SLOTS(BACKEND_ICALLFACTORY_SLOTS, ICallFactory, 3, 1)

BACKEND_NAME_IID(IUnknown, IID_IUnknown)
BACKEND_NAME_IID(ISequentialStream, IID_ISequentialStream)
BACKEND_NAME_IID(IStream, IID_IStream)
BACKEND_NAME_IID(IEnumSTATSTG, IID_IEnumSTATSTG)
BACKEND_NAME_IID(IStorage, IID_IStorage)
BACKEND_NAME_IID(ISynchronize, IID_ISynchronize)
BACKEND_NAME_IID(ICallFactory, IID_ICallFactory)
