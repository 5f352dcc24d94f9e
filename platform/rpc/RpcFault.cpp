#include "platform/rpc/RpcFault.h"

#include "platform/rpc/RpcProtocol.h"

namespace {

struct FaultMapping {
    RPC_STATUS status;
    ULONG code;
};

constexpr FaultMapping kMappings[] = {
    {RPC_S_PROCNUM_OUT_OF_RANGE, rpc::nca_s_op_rng_error},
    {RPC_S_UNKNOWN_IF, rpc::nca_s_unk_if},
    {RPC_S_PROTOCOL_ERROR, rpc::nca_s_proto_error},
    {RPC_S_SERVER_TOO_BUSY, rpc::nca_s_server_too_busy},
    {RPC_S_CALL_FAILED, rpc::nca_s_fault_unspec},
    {RPC_S_CALL_CANCELLED, rpc::nca_s_fault_cancel},
    {RPC_S_INVALID_TAG, rpc::nca_s_fault_invalid_tag},
    {RPC_S_INVALID_BOUND, rpc::nca_s_fault_invalid_bound},
    {RPC_X_SS_CONTEXT_MISMATCH, rpc::nca_s_fault_context_mismatch},
};

} // namespace

ULONG RpcStatusToFaultCode(RPC_STATUS status)
{
    if (status == RPC_S_OK)
        return rpc::nca_s_fault_unspec;
    for (const FaultMapping& m : kMappings)
        if (m.status == status)
            return m.code;
    return static_cast<ULONG>(status);
}

RPC_STATUS RpcFaultCodeToStatus(ULONG code)
{
    for (const FaultMapping& m : kMappings)
        if (m.code == code)
            return m.status;
    // Any other member of the protocol's own code range is a failed call
    // whose cause this side cannot name.
    if ((code & 0xFFFF0000u) == 0x1C000000u || (code & 0xFFFF0000u) == 0x1C010000u)
        return RPC_S_CALL_FAILED;
    return code == 0 ? RPC_S_CALL_FAILED : static_cast<RPC_STATUS>(code);
}
