#pragma once
// Runs dispatch functions within the server's limit of concurrent calls and
// turns whatever they throw into a status, so no exception leaves a call
// thread.

#include "platform/rpc/RpcCall.h"
#include "platform/rpc/RpcStripedCount.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>

class CRpcCallGate {
public:
    // Chooses the status for an exception a dispatch function threw; the
    // default (and the status when the filter throws too) is RPC_S_CALL_FAILED,
    // which travels as the unspecified fault.
    using ExceptionFilter = std::function<RPC_STATUS(std::exception_ptr)>;

    void SetMaxCalls(unsigned maxCalls) { maxCalls_.store(maxCalls); }
    // The connections a server has open. Each runs one call at a time, so
    // while they are no more than the limit no call needs refusing, and the
    // calls are counted without the threads contending for one counter.
    // Unknown (never set) counts as beyond any limit.
    void SetConnectionCount(size_t count) { connections_.store(count); }
    void SetExceptionFilter(ExceptionFilter filter) { filter_ = std::move(filter); }

    // The function's status, RPC_S_SERVER_TOO_BUSY when the limit is reached
    // (the function is not run), or the filtered status of an exception.
    RPC_STATUS Run(CRpcCall& call, const RpcDispatchFunction& function);

    unsigned ActiveCalls() const { return unsigned(std::max(active_.Sum(), 0L)); }

private:
    std::atomic<unsigned> maxCalls_{1234};
    std::atomic<size_t> connections_{SIZE_MAX};
    CRpcStripedCount active_;
    ExceptionFilter filter_;
};
