#include "platform/rpc/RpcCallGate.h"

RPC_STATUS CRpcCallGate::Run(CRpcCall& call, const RpcDispatchFunction& function)
{
    if (active_.fetch_add(1) >= maxCalls_.load()) {
        active_.fetch_sub(1);
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
    active_.fetch_sub(1);
    return status;
}
