#include "bench/RpcSession.h"

#include "platform/rpc/RemoteInvokeNdr.h"

#include <vector>

namespace tqbench {

namespace {

const GUID& InterfaceUuid()
{
    static const GUID uuid = [] {
        GUID u{};
        UuidFromString("A9934395-CC29-4CBA-9104-F01FC6BA6AA0", &u);
        return u;
    }();
    return uuid;
}

RpcClientOptions Options(const std::string& sourceAddress)
{
    RpcClientOptions options;
    options.callTimeoutMs = RpcSession::kCallTimeoutMs;
    options.sourceAddress = sourceAddress;
    return options;
}

} // namespace

RpcSession::RpcSession(const std::string& sourceAddress) : client_(Options(sourceAddress)) {}

RPC_STATUS RpcSession::Connect(int port)
{
    RPC_STATUS status = client_.Connect("127.0.0.1", port);
    if (status == RPC_S_OK)
        status = client_.Bind(InterfaceUuid(), 5, 0, &context_);
    if (status != RPC_S_OK)
        client_.Close();
    return status;
}

void RpcSession::MarshalInvoke(const CInvokeData& request, CRpcBuffer& stub)
{
    std::vector<BYTE> blob(request.GetEncodedSize(InvokeModeRequest));
    request.Encode(blob.data(), static_cast<LONG>(blob.size()), InvokeModeRequest);
    stub.Clear();
    NdrMarshalInvokeRequest(stub, blob.data(), static_cast<ULONG>(blob.size()));
}

RPC_STATUS RpcSession::Call(USHORT opnum, const CRpcBuffer& stub)
{
    return client_.Call(context_, opnum, stub.View(), reply_, &rep_);
}

bool RpcSession::ReadVersion(LONG* version) const
{
    return NdrUnmarshalGetVersionReply(reply_.View(), rep_, *version) == RPC_S_OK;
}

bool RpcSession::ReadInvoke(LONG* value, CInvokeData& reply) const
{
    InvokeBlobView view;
    LONG result = 0;
    if (NdrUnmarshalInvokeReply(reply_.View(), rep_, view, result) != RPC_S_OK)
        return false;
    *value = result;
    if (view.data == nullptr)
        return result != 0;  // a failed call sends no record
    return reply.Decode(view.data, view.size);
}

bool RpcSession::Invoke(const CInvokeData& request, CInvokeData& reply, LONG* value)
{
    MarshalInvoke(request, stub_);
    return Call(kRemoteInvoke, stub_) == RPC_S_OK && ReadInvoke(value, reply);
}

} // namespace tqbench
