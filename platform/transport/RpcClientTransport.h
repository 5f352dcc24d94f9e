#pragma once
// The client transport over our RPC runtime: Connect opens a TCP connection
// to the binding's host and port and binds the call-record interface of the
// server program ({A9934395-CC29-4CBA-9104-F01FC6BA6AA0} 5.0); each Call is
// one RemoteInvoke (opnum 1) on that connection. A connection lost after it
// was made is made anew by the next Call; one that could not be made is not
// tried again until the next Connect, so a peer that is away costs one
// connect timeout, not one per call.
//
// Results are HRESULTs; a failure of the runtime is HRESULT_FROM_WIN32 of its
// status:
//   Connect  the binding's own errors (see TransportBinding), or
//            RPC_S_SERVER_UNAVAILABLE  no connection within the connect timeout
//                                      (refused, unreachable, unknown name)
//            RPC_S_CALL_FAILED_DNE     the bind went unanswered or the peer hung up
//            RPC_S_UNKNOWN_IF          the peer does not serve the interface
//            RPC_S_SERVER_TOO_BUSY, RPC_S_PROTOCOL_ERROR, ...  as the bind failed
//   Call     what Connect failed with, while it has not succeeded
//            RPC_S_INVALID_BINDING     Connect was never called
//            RPC_S_CALL_CANCELLED      no reply within the call timeout
//            RPC_S_CALL_FAILED         the connection broke during the call
//            RPC_X_BAD_STUB_DATA       a reply that does not unmarshal
//            the status of a fault the peer sent (RPC_S_PROCNUM_OUT_OF_RANGE, ...)
//            the procedure's own result when it is a failure (0x8000FFFF when
//            the peer failed to handle the call), with no reply
//            E_OUTOFMEMORY             no memory for the reply
// A successful Call returns the procedure's result (0) and hands out the reply
// record's bytes (none for an empty reply). They belong to the caller until
// FreeReply, or until the transport ends, which frees what is left.

#include "platform/rpc/RpcClient.h"
#include "platform/transport/ClientTransport.h"
#include "platform/transport/TransportBinding.h"
#include "platform/win/Guid.h"

#include <mutex>
#include <unordered_set>

struct ClientTransportOptions {
    // Name lookup and TCP connect together.
    DWORD connectTimeoutMs = 5000;
    // The peer's answer to the bind.
    DWORD bindTimeoutMs = 5000;
    // The reply to one call (and each stalled part of sending it): long
    // enough for a peer that does real work before it answers.
    DWORD callTimeoutMs = 30000;
};

class CRpcClientTransport : public ClientTransport {
public:
    static constexpr GUID kInterface{0xA9934395, 0xCC29, 0x4CBA, {0x91, 0x04, 0xF0, 0x1F, 0xC6, 0xBA, 0x6A, 0xA0}};
    static constexpr USHORT kVersionMajor = 5;
    static constexpr USHORT kVersionMinor = 0;
    static constexpr USHORT kRemoteInvoke = 1;
    // Longest binding text taken; anything longer is no binding.
    static constexpr DWORD kMaxBindingLength = 512;

    explicit CRpcClientTransport(ClientTransportOptions options = {});
    ~CRpcClientTransport() override;
    CRpcClientTransport(const CRpcClientTransport&) = delete;
    CRpcClientTransport& operator=(const CRpcClientTransport&) = delete;

    // length characters of binding (a NUL among them makes it malformed).
    HRESULT Connect(const char* binding, DWORD length) override;
    HRESULT Call(const BYTE* request, DWORD size, BYTE** reply, DWORD* replyLength) override;
    // S_OK for a reply of this transport or null; E_INVALIDARG for any other
    // pointer, which is left alone.
    HRESULT FreeReply(BYTE* reply) override;

    // The factory that production uses.
    static HRESULT Create(std::unique_ptr<ClientTransport>* out);

private:
    HRESULT Open();
    HRESULT Invoke(const BYTE* request, DWORD size, BYTE** reply, DWORD* replyLength);
    RPC_STATUS Send(const CRpcBuffer& request, CRpcBuffer& stub, rpc::DataRep& rep);

    ClientTransportOptions options_;
    std::mutex callMutex_; // one call at a time on the connection
    CRpcClient client_;
    TransportBinding target_;
    bool aimed_ = false;
    HRESULT connectResult_;
    USHORT context_ = 0;

    std::mutex replyMutex_;
    std::unordered_set<BYTE*> replies_;
};
