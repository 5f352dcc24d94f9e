#pragma once
// Every operation of the attribute store reports an exception inside it as
// a result: a failed allocation as E_OUTOFMEMORY, anything else E_UNEXPECTED.
// Sizes the interfaces hand out as a LONG are bounded the same way.

#include "platform/win/WinTypes.h"

#include <cstdint>
#include <new>

namespace attrib {

template <typename F>
HRESULT Guarded(F&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

// *size := n, or E_OUTOFMEMORY (size untouched) when n does not fit.
inline HRESULT SizeResult(unsigned long long n, LONG* size)
{
    if (n > static_cast<unsigned long long>(INT32_MAX))
        return E_OUTOFMEMORY;
    *size = static_cast<LONG>(n);
    return S_OK;
}

} // namespace attrib
