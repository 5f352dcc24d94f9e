#include "server/host/RemoteInvokeStub.h"

#include "common/Names.h"
#include "common/callrecord/InvokeData.h"
#include "platform/rpc/RemoteInvokeNdr.h"
#include "server/dispatch/CallOrigin.h"
#include "server/host/WindowsServerModule.h"

#include <cstdlib>
#include <string>

namespace {

GUID InterfaceUuid(const char* text)
{
    GUID uuid{};
    UuidFromString(text, &uuid);
    return uuid;
}

} // namespace

const GUID& CRemoteInvokeStub::Tqcam50()
{
    static const GUID uuid = InterfaceUuid("A9934395-CC29-4CBA-9104-F01FC6BA6AA0");
    return uuid;
}

const GUID& CRemoteInvokeStub::Tqcam65()
{
    static const GUID uuid = InterfaceUuid("55D8F461-543B-4019-9D94-54584C00ECD4");
    return uuid;
}

RpcInterfaceDefinition CRemoteInvokeStub::Definition(const GUID& uuid)
{
    RpcInterfaceDefinition definition;
    definition.uuid = uuid;
    definition.versionMajor = kVersionMajor;
    definition.versionMinor = kVersionMinor;
    definition.procedures = {[this](CRpcCall& call) { return OnGetVersion(call); },
                             [this](CRpcCall& call) { return OnRemoteInvoke(call); }};
    return definition;
}

RPC_STATUS CRemoteInvokeStub::OnGetVersion(CRpcCall& call)
{
    NdrMarshalGetVersionReply(call.Reply(), kInterfaceVersion);
    return RPC_S_OK;
}

RPC_STATUS CRemoteInvokeStub::OnRemoteInvoke(CRpcCall& call)
{
    InvokeBlobView request;
    RPC_STATUS status = NdrUnmarshalInvokeRequest(call.Request(), call.DataRep(), request);
    if (status != RPC_S_OK)
        return status;
    const LONG port = PortFromStringBinding(call.ServerStringBinding());
    const CCallOrigin origin(call.ClientAddress());
    bool began = false;
    // The reply is encoded straight into the stub data: a 64 MiB file is not copied again.
    LONG rc = InvokeCallRecord(module_, port, request.data, request.size, [&](DWORD size) {
        began = true;
        return NdrBeginInvokeReply(call.Reply(), size, false);
    });
    if (rc != 0 || !began) {
        call.Reply().Clear();
        NdrBeginInvokeReply(call.Reply(), 0, true);
    }
    NdrFinishInvokeReply(call.Reply(), rc);
    return RPC_S_OK;
}

LONG InvokeCallRecord(CWindowsServerModule& module, LONG port, const BYTE* request, DWORD requestSize,
                      const std::function<BYTE*(DWORD size)>& allocateReply)
{
    try {
        CInvokeData record;
        if (!record.Decode(request, requestSize))
            return E_UNEXPECTED;
        record.result = E_NOTIMPL;
        HRESULT hr = module.DispatchToServer(port, &record);
        if (FAILED(hr))
            record.result = hr;
        const DWORD size = record.GetEncodedSize(InvokeModeReply);
        BYTE* block = allocateReply(size);
        if (block == nullptr)
            return E_UNEXPECTED;
        record.Encode(block, static_cast<LONG>(size), InvokeModeReply);
        return 0;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

LONG PortFromStringBinding(const std::string& binding)
{
    auto open = binding.find('[');
    auto close = binding.find(']', open == std::string::npos ? 0 : open);
    if (open == std::string::npos || close == std::string::npos || close == open + 1)
        return tq::kDefaultPort;
    std::string endpoint = binding.substr(open + 1, close - open - 1);
    char* end = nullptr;
    long port = std::strtol(endpoint.c_str(), &end, 10);
    if (end == endpoint.c_str() || (*end != '\0' && *end != ',') || port <= 0 || port > 0x7FFFFFFF)
        return tq::kDefaultPort;
    return static_cast<LONG>(port);
}
