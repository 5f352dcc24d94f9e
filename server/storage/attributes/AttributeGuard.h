#pragma once
// Every operation of the attribute store reports an exception inside it as
// a result: a failed allocation as E_OUTOFMEMORY, anything else E_UNEXPECTED.

#include "platform/win/WinTypes.h"

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

} // namespace attrib
