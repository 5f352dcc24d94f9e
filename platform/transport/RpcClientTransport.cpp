#include "platform/transport/RpcClientTransport.h"

#include "platform/rpc/RemoteInvokeNdr.h"

#include <cstring>
#include <new>

namespace {

HRESULT FromStatus(RPC_STATUS status)
{
    return HRESULT_FROM_WIN32(static_cast<DWORD>(status));
}

RpcClientOptions ClientOptions(const ClientTransportOptions& options)
{
    RpcClientOptions o;
    // 0 would mean no bound at all in the runtime; here every wait has one.
    o.bindTimeoutMs = options.bindTimeoutMs == 0 ? 1 : options.bindTimeoutMs;
    o.callTimeoutMs = options.callTimeoutMs == 0 ? 1 : options.callTimeoutMs;
    return o;
}

} // namespace

CRpcClientTransport::CRpcClientTransport(ClientTransportOptions options)
    : options_(options), client_(ClientOptions(options)), connectResult_(FromStatus(RPC_S_INVALID_BINDING))
{
}

CRpcClientTransport::~CRpcClientTransport()
{
    client_.Close();
    for (BYTE* reply : replies_)
        delete[] reply;
}

HRESULT CRpcClientTransport::Create(std::unique_ptr<ClientTransport>* out)
{
    try {
        *out = std::make_unique<CRpcClientTransport>();
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CRpcClientTransport::Open()
{
    RPC_STATUS status = client_.Connect(target_.host, target_.port, options_.connectTimeoutMs);
    if (status == RPC_S_OK)
        status = client_.Bind(kInterface, kVersionMajor, kVersionMinor, &context_);
    if (status != RPC_S_OK)
        client_.Close();
    connectResult_ = status == RPC_S_OK ? S_OK : FromStatus(status);
    return connectResult_;
}

HRESULT CRpcClientTransport::Connect(const char* binding, DWORD length)
{
    std::lock_guard lock(callMutex_);
    client_.Close();
    aimed_ = false;
    if (binding == nullptr) {
        connectResult_ = E_POINTER;
        return connectResult_;
    }
    TransportBinding target;
    HRESULT hr = FromStatus(RPC_S_INVALID_STRING_BINDING);
    if (length <= kMaxBindingLength && std::memchr(binding, '\0', length) == nullptr)
        hr = TransportBinding::Parse(std::string_view(binding, length), &target);
    if (FAILED(hr)) {
        connectResult_ = hr;
        return hr;
    }
    try {
        target_ = std::move(target);
        aimed_ = true;
        return Open();
    } catch (const std::bad_alloc&) {
        client_.Close();
        connectResult_ = E_OUTOFMEMORY;
        return connectResult_;
    }
}

HRESULT CRpcClientTransport::Call(const BYTE* request, DWORD size, BYTE** reply, DWORD* replyLength)
{
    if (reply == nullptr || replyLength == nullptr)
        return E_POINTER;
    *reply = nullptr;
    *replyLength = 0;
    if (request == nullptr && size != 0)
        return E_POINTER;
    std::lock_guard lock(callMutex_);
    try {
        return Invoke(request, size, reply, replyLength);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

RPC_STATUS CRpcClientTransport::Send(const CRpcBuffer& request, CRpcBuffer& stub, rpc::DataRep& rep)
{
    return client_.Call(context_, kRemoteInvoke, request.View(), stub, &rep);
}

HRESULT CRpcClientTransport::Invoke(const BYTE* request, DWORD size, BYTE** reply, DWORD* replyLength)
{
    if (!aimed_ || FAILED(connectResult_))
        return connectResult_;
    bool openedHere = false;
    if (!client_.IsConnected()) {
        // The connection was made and is gone since: make it again.
        if (HRESULT hr = Open(); FAILED(hr))
            return hr;
        openedHere = true;
    }

    CRpcBuffer stubIn;
    NdrMarshalInvokeRequest(stubIn, request, size);
    CRpcBuffer stubOut;
    rpc::DataRep rep;
    RPC_STATUS status = Send(stubIn, stubOut, rep);
    if (status == RPC_S_CALL_FAILED_DNE && !openedHere) {
        // The peer let an idle connection go; the call did not run there, so
        // it may go once more on a new connection.
        if (HRESULT hr = Open(); FAILED(hr))
            return hr;
        status = Send(stubIn, stubOut, rep);
    }
    if (status != RPC_S_OK)
        return FromStatus(status);

    InvokeBlobView blob;
    LONG result = 0;
    status = NdrUnmarshalInvokeReply(stubOut.View(), rep, blob, result);
    if (status != RPC_S_OK)
        return FromStatus(status);
    if (FAILED(result))
        return result;
    if (blob.size != 0) {
        BYTE* copy = new BYTE[blob.size];
        std::memcpy(copy, blob.data, blob.size);
        try {
            std::lock_guard lock(replyMutex_);
            replies_.insert(copy);
        } catch (...) {
            delete[] copy;
            throw;
        }
        *reply = copy;
        *replyLength = blob.size;
    }
    return result;
}

HRESULT CRpcClientTransport::FreeReply(BYTE* reply)
{
    if (reply == nullptr)
        return S_OK;
    std::lock_guard lock(replyMutex_);
    if (replies_.erase(reply) == 0)
        return E_INVALIDARG;
    delete[] reply;
    return S_OK;
}
