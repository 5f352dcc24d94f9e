#include "tests/server/host/program/TqwlClient.h"

#include "platform/rpc/RemoteInvokeNdr.h"

namespace tqtest {

RpcClientOptions TqwlClient::Options(const std::string& sourceAddress)
{
    RpcClientOptions options;
    options.sourceAddress = sourceAddress;
    return options;
}

TqwlClient::TqwlClient(const std::string& sourceAddress) : client_(Options(sourceAddress)) {}

RPC_STATUS TqwlClient::Connect(int port)
{
    RPC_STATUS status = client_.Connect("127.0.0.1", port);
    GUID uuid{};
    UuidFromString("A9934395-CC29-4CBA-9104-F01FC6BA6AA0", &uuid);
    if (status == RPC_S_OK)
        status = client_.Bind(uuid, 5, 0, &context_);
    return status;
}

long TqwlClient::InvokeBlob(const std::vector<BYTE>& blob, std::vector<BYTE>* reply, bool* nullReply)
{
    CRpcBuffer request, answer;
    NdrMarshalInvokeRequest(request, blob.empty() ? nullptr : blob.data(), static_cast<ULONG>(blob.size()));
    rpc::DataRep rep{};
    RPC_STATUS status = client_.Call(context_, 1, request.View(), answer, &rep);
    if (status != RPC_S_OK)
        return -static_cast<long>(status) - 2;
    InvokeBlobView view;
    LONG result = 0;
    if (NdrUnmarshalInvokeReply(answer.View(), rep, view, result) != RPC_S_OK)
        return -2;
    reply->assign(view.data, view.data + view.size);
    *nullReply = view.data == nullptr;
    return static_cast<long>(static_cast<ULONG>(result));
}

long TqwlClient::Invoke(const CInvokeData& request, CInvokeData& reply)
{
    std::vector<BYTE> blob(request.GetEncodedSize(InvokeModeRequest));
    request.Encode(blob.data(), static_cast<LONG>(blob.size()), InvokeModeRequest);
    std::vector<BYTE> answer;
    bool null = false;
    const long rc = InvokeBlob(blob, &answer, &null);
    if (!answer.empty())
        reply.Decode(answer.data(), answer.size());
    return rc;
}

} // namespace tqtest
