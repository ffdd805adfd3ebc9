// The COM boundary of both builds' error types: included by
// CommonBase/HResultException.h right after the build's error type.
#pragma once

#include <new>

// Runs `body` (which returns an HRESULT) where no exception may leave: a
// raised error comes back as its HRESULT, a failed allocation as E_OUTOFMEMORY.
template <typename Body>
HRESULT hresultOf(Body body) {
    try {
        return body();
    } catch (const HResultException& e) {
        return e.getHResult();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}
