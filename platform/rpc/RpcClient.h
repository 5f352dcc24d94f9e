#pragma once
// The client side of the runtime: one connection to one server, on which
// interfaces are bound and calls made one at a time.
//
//   CRpcClient client;
//   client.Connect("127.0.0.1", 34347);          // fails within the timeout
//   USHORT context;
//   client.Bind(uuid, 5, 0, &context);           // bind, then alter_context
//   CRpcBuffer reply;
//   client.Call(context, 1, requestStub, reply); // fragments both ways
//
// Not for use from several threads at once; take one client per thread.

#include "platform/rpc/RpcBuffer.h"
#include "platform/rpc/RpcProtocol.h"
#include "platform/rpc/RpcSocket.h"

#include <span>
#include <string>

struct RpcClientOptions {
    // Fragment sizes proposed at bind time; the server's answer may lower them.
    // Reply bodies are read straight into the reply, so receiving the
    // largest costs nothing more and saves the server headers and sends.
    USHORT maxXmitFragment = 5840;
    USHORT maxRecvFragment = 0xFFFF;
    // The label of what this client sends: headers and stub data alike must
    // be written in its byte order.
    rpc::DataRep dataRep;
    // Waiting for a bind's answer; 0 waits for ever.
    DWORD bindTimeoutMs = 10000;
    // Waiting for a call's reply (and for a stalled send); 0 waits for ever.
    DWORD callTimeoutMs = 0;
    // Largest reply accepted, summed over its fragments.
    size_t maxReplyBytes = (size_t(256) << 20) + (size_t(1) << 20);
    // Propose bind-time feature negotiation, as current clients do.
    bool featureNegotiation = true;
    // Numeric local address the connection is made from; empty lets the
    // system choose. Many connections from one host can be spread this way.
    std::string sourceAddress;
};

class CRpcClient {
public:
    explicit CRpcClient(RpcClientOptions options = {});
    CRpcClient(const CRpcClient&) = delete;
    CRpcClient& operator=(const CRpcClient&) = delete;

    // RPC_S_SERVER_UNAVAILABLE when no connection is made within timeoutMs.
    RPC_STATUS Connect(const std::string& host, int port, DWORD timeoutMs = 5000);
    // Negotiates a presentation context for the interface in NDR 2.0: the
    // first with a bind, later ones with alter_context. RPC_S_UNKNOWN_IF when
    // the server does not offer the interface in that version,
    // RPC_S_UNSUPPORTED_TRANS_SYN when it refuses NDR 2.0, the mapped reason
    // of a bind_nak, RPC_S_CALL_FAILED_DNE when the connection fails.
    RPC_STATUS Bind(const GUID& uuid, USHORT major, USHORT minor, USHORT* contextId);
    // Sends the request stub data (written in the options' data
    // representation) and receives the reply's stub data and the label it is
    // written in. A fault comes back as its status (RPC_S_PROCNUM_OUT_OF_RANGE,
    // RPC_X_BAD_STUB_DATA, ...); RPC_S_CALL_CANCELLED when the call timeout
    // passes, RPC_S_CALL_FAILED when the connection fails, RPC_S_CALL_FAILED_DNE
    // when it was found closed (or asked to close) before the call was sent.
    // Each of those closes the connection, as does a server's request to shut
    // down that arrives with a reply.
    RPC_STATUS Call(USHORT contextId, USHORT opnum, std::span<const BYTE> request, CRpcBuffer& reply,
                    rpc::DataRep* replyRep = nullptr);
    void Close();

    bool IsConnected() const { return socket_.IsOpen(); }
    // What the bind negotiated.
    USHORT XmitFragment() const { return xmitFrag_; }
    USHORT RecvFragment() const { return recvFrag_; }
    ULONG AssocGroup() const { return assocGroup_; }
    const std::string& SecondaryAddress() const { return secondaryAddress_; }
    BYTE Features() const { return features_; }

private:
    rpc::PduHeader Header(rpc::PduType type, BYTE flags);
    RPC_STATUS Fail(RPC_STATUS status);
    // False when the server said goodbye or closed between calls. Looks at
    // what was read already, and asks the socket only when lookAtSocket.
    bool Idle(bool lookAtSocket);

    RpcClientOptions options_;
    CRpcSocket socket_;
    bool bound_ = false;
    ULONG nextCallId_ = 1;
    USHORT nextContextId_ = 0;
    USHORT xmitFrag_ = 0;
    USHORT recvFrag_ = 0;
    ULONG assocGroup_ = 0;
    std::string secondaryAddress_;
    BYTE features_ = 0;
    bool shutdownRequested_ = false;
    CRpcBuffer scratch_;
};
