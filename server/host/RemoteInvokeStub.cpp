#include "server/host/RemoteInvokeStub.h"

#include "common/Names.h"
#include "common/callrecord/InvokeData.h"
#include "platform/rpc/RemoteInvokeNdr.h"
#include "server/dispatch/CallOrigin.h"
#include "server/host/WindowsServerModule.h"

#include <algorithm>
#include <memory>
#include <stdexcept>
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
    // The binding names the local port; reading it again on every call
    // would cost more than the rest of the framing.
    const LONG port = call.LocalPort() > 0 ? call.LocalPort() : PortFromStringBinding(call.ServerStringBinding());
    const CCallOrigin origin(call.ClientAddress());
    // One reference for each lambda below, so that neither std::function allocates.
    struct {
        CRpcCall& call;
        bool began = false;
        size_t recordAt = 0;
    } reply{call};
    // The reply is encoded straight into the stub data, and its large items
    // (a list of megabytes) are sent from where they lie, or (a 64 MiB file)
    // read as they are sent.
    const CInvokeData::SeparatedItem splice = [&reply](size_t offset, std::unique_ptr<BYTE[]> data,
                                                       std::unique_ptr<IInvokeItemSource> source, DWORD length) {
        bool spliced = false;
        if (source != nullptr) {
            std::shared_ptr<IInvokeItemSource> from(std::move(source));
            spliced = reply.call.SpliceReply(
                reply.recordAt + offset,
                [from](size_t at, BYTE* to, size_t n) { return from->Read(at, to, n); }, length);
        } else {
            spliced = reply.call.SpliceReply(reply.recordAt + offset, std::move(data), length);
        }
        if (!spliced)
            throw std::runtime_error("reply item not spliced");
    };
    LONG rc = InvokeCallRecord(
        module_, port, request.data, request.size,
        [&reply](DWORD size) {
            reply.began = true;
            BYTE* block = NdrBeginInvokeReply(reply.call.Reply(), size, false);
            reply.recordAt = static_cast<size_t>(block - reply.call.Reply().Data());
            return block;
        },
        &splice);
    if (rc != 0 || !reply.began) {
        call.DiscardReply();
        NdrBeginInvokeReply(call.Reply(), 0, true);
    }
    NdrFinishInvokeReply(call.Reply(), rc);
    return RPC_S_OK;
}

LONG InvokeCallRecord(CWindowsServerModule& module, LONG port, const BYTE* request, DWORD requestSize,
                      const std::function<BYTE*(DWORD size)>& allocateReply, const CInvokeData::SeparatedItem* separate)
{
    try {
        CInvokeData record;
        // The request outlives the record, so its large items (a file's
        // content) are used where they were received, not copied.
        if (!record.Decode(request, requestSize, true))
            return E_UNEXPECTED;
        record.result = E_NOTIMPL;
        HRESULT hr = module.DispatchToServer(port, &record);
        if (FAILED(hr))
            record.result = hr;
        const DWORD size = record.GetEncodedSize(InvokeModeReply);
        BYTE* block = allocateReply(size);
        if (block == nullptr)
            return E_UNEXPECTED;
        // A file that shrank since the call cannot give the size announced.
        const LONG encoded = separate != nullptr ? record.EncodeReplySeparating(block, static_cast<LONG>(size), *separate)
                                                 : record.Encode(block, static_cast<LONG>(size), InvokeModeReply);
        return encoded < 0 ? E_UNEXPECTED : 0;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

LONG PortFromStringBinding(std::string_view binding)
{
    // Read in place, as strtol would read the endpoint (leading blanks and a
    // sign allowed): this runs on every call.
    const size_t open = binding.find('[');
    const size_t close = binding.find(']', open == std::string_view::npos ? 0 : open);
    if (open == std::string_view::npos || close == std::string_view::npos || close == open + 1)
        return tq::kDefaultPort;
    std::string_view endpoint = binding.substr(open + 1, close - open - 1);
    size_t at = 0;
    while (at < endpoint.size() && std::string_view(" \t\n\v\f\r").find(endpoint[at]) != std::string_view::npos)
        ++at;
    bool negative = false;
    if (at < endpoint.size() && (endpoint[at] == '+' || endpoint[at] == '-'))
        negative = endpoint[at++] == '-';
    const size_t digits = at;
    unsigned long long port = 0;
    for (; at < endpoint.size() && endpoint[at] >= '0' && endpoint[at] <= '9'; ++at)
        port = std::min<unsigned long long>(port * 10 + unsigned(endpoint[at] - '0'), 0x100000000ull);
    if (at == digits || (at < endpoint.size() && endpoint[at] != ',') || negative || port == 0 || port > 0x7FFFFFFF)
        return tq::kDefaultPort;
    return static_cast<LONG>(port);
}
