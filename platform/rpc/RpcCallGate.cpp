#include "platform/rpc/RpcCallGate.h"

RPC_STATUS CRpcCallGate::Run(CRpcCall& call, const RpcDispatchFunction& function)
{
    // Count first, then look: of two calls racing for the last place, at
    // least one sees the other.
    active_.Add(1);
    const unsigned maxCalls = maxCalls_.load();
    if (connections_.load() > maxCalls && active_.Sum() > long(maxCalls)) {
        active_.Add(-1);
        return RPC_S_SERVER_TOO_BUSY;
    }
    RPC_STATUS status;
    try {
        status = function(call);
    } catch (...) {
        status = RPC_S_CALL_FAILED;
        if (filter_) {
            try {
                status = filter_(std::current_exception());
            } catch (...) {
                status = RPC_S_CALL_FAILED;
            }
        }
        // A fault needs a cause; "no error" would read as a reply.
        if (status == RPC_S_OK)
            status = RPC_S_CALL_FAILED;
    }
    active_.Add(-1);
    return status;
}
