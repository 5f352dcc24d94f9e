#pragma once
// The dispatch of handlers that take one call at a time: the routes are
// looked up by the record's code, and the call waits a bounded time for the
// one before it.

#include "common/callrecord/InvokeData.h"

#include <chrono>
#include <cstddef>
#include <mutex>

// call(route) for the record's route, with the mutex held. E_INVALIDARG
// without a record; E_ABORT when the mutex is not had within wait (nothing
// logged, the record untouched); E_NOTIMPL, also in the record, for a code
// without a route; E_UNEXPECTED when the call ended in an exception; else
// what the call returned.
template <class Route, std::size_t N, class Call>
HRESULT DispatchLocked(CInvokeData* record, std::timed_mutex& mutex, std::chrono::milliseconds wait,
                       const Route (&routes)[N], Call call)
{
    if (record == nullptr)
        return E_INVALIDARG;
    std::unique_lock lock(mutex, std::defer_lock);
    if (!lock.try_lock_for(wait))
        return E_ABORT;
    try {
        for (const Route& route : routes)
            if (route.code == record->functionCode)
                return call(route);
        record->result = E_NOTIMPL;
        return E_NOTIMPL;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
