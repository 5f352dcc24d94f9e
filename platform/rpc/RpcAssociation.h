#pragma once
// The server side of one connection's protocol, independent of the socket:
// it takes the client's fragments one by one, negotiates presentation
// contexts, reassembles requests, runs their calls and hands the fragments of
// its answers to a send function. The connection's thread drives it; so can
// a test or a fuzzer.

#include "platform/rpc/RpcBuffer.h"
#include "platform/rpc/RpcCall.h"
#include "platform/rpc/RpcCallGate.h"
#include "platform/rpc/RpcInterfaceRegistry.h"
#include "platform/rpc/RpcPdu.h"
#include "platform/rpc/RpcRequestBudget.h"
#include "platform/rpc/RpcServerLimits.h"

#include <functional>
#include <memory>
#include <span>
#include <vector>

struct iovec;

class CRpcAssociation {
public:
    // Sends all the pieces as one stream of bytes; false when the connection
    // failed.
    using SendFunction = std::function<bool(const struct iovec* pieces, int count)>;

    enum class Next { Continue, Close };

    // Without a budget, requests are bounded one by one only.
    CRpcAssociation(CRpcInterfaceRegistry& registry, CRpcCallGate& gate, const RpcServerLimits& limits,
                    const RpcConnectionInfo& connection, SendFunction send, CRpcRequestBudget* budget = nullptr);
    ~CRpcAssociation();
    CRpcAssociation(const CRpcAssociation&) = delete;
    CRpcAssociation& operator=(const CRpcAssociation&) = delete;

    // One whole fragment whose header passed CheckHeader.
    Next OnPdu(const rpc::PduHeader& h, std::span<const BYTE> pdu);
    // A fragment whose header failed CheckHeader: a bind of another protocol
    // version is told which one is spoken; the connection closes either way.
    void OnBadHeader(const rpc::PduHeader& h, rpc::HeaderCheck check);
    // Asks the client to close the connection (before an idle close or stop).
    void SendShutdown();

    bool IsBound() const { return bound_; }
    // Whether fragments of some request are still to come.
    bool HasPendingCalls() const { return !pending_.empty(); }
    // Whether a request larger than a few fragments is being received.
    bool ReceivingLargeRequest() const { return !pending_.empty() && AnyLargeRequest(); }
    // The buffers of the last request and reply are kept for the next call,
    // which saves mapping fresh memory for every large call; a connection
    // that goes quiet gives them back.
    void ReleaseMemory();

    USHORT XmitFragment() const { return xmitFrag_; }
    USHORT RecvFragment() const { return recvFrag_; }
    BYTE Features() const { return features_; }

private:
    struct Context {
        USHORT id;
        std::shared_ptr<CRpcInterfaceRegistry::Entry> interface;
    };
    struct PendingCall {
        ULONG callId;
        USHORT contextId;
        USHORT opnum;
        BYTE flags;
        rpc::DataRep rep;
        ULONG allocHint;
        CRpcBuffer stub;
        size_t charge = 0;  // taken from the budget for the stub's capacity
    };

    bool AnyLargeRequest() const;
    Next OnBind(const rpc::PduHeader& h, std::span<const BYTE> pdu);
    Next OnAlterContext(const rpc::PduHeader& h, std::span<const BYTE> pdu);
    Next OnRequest(const rpc::PduHeader& h, std::span<const BYTE> pdu);
    Next RejectBind(const rpc::PduHeader& h, USHORT reason);
    std::vector<rpc::ContextResult> Negotiate(const rpc::BindPdu& bind);
    void Execute(ULONG callId, USHORT contextId, USHORT opnum, const rpc::DataRep& rep, std::span<const BYTE> stub,
                 BYTE flags);
    // Runs the call into reply; a fault code (0 for none) and whether the
    // call was refused before it ran come back through the pointers.
    RPC_STATUS Run(ULONG callId, USHORT contextId, USHORT opnum, const rpc::DataRep& rep, std::span<const BYTE> stub,
                   CRpcBuffer& reply, RpcReplySplices* splices = nullptr, ULONG* fault = nullptr,
                   bool* didNotExecute = nullptr);
    bool SendReply(ULONG callId, USHORT contextId);
    bool SendFault(ULONG callId, USHORT contextId, ULONG code, bool didNotExecute);
    bool SendBuffer(const CRpcBuffer& pdu);
    rpc::PduHeader Reply(rpc::PduType type, ULONG callId, BYTE flags) const;
    Context* FindContext(USHORT id);
    // Makes room for at least needed bytes in the call's stub, charged to the
    // budget first; false when the budget had no room in time.
    bool Cover(PendingCall& call, size_t needed);
    void Refund(size_t charge);
    void ReleaseSpare();

    CRpcInterfaceRegistry& registry_;
    CRpcCallGate& gate_;
    const RpcServerLimits& limits_;
    const RpcConnectionInfo& connection_;
    SendFunction send_;

    bool bound_ = false;
    BYTE minor_ = 0;
    USHORT xmitFrag_;
    USHORT recvFrag_;
    ULONG assocGroup_ = 0;
    BYTE features_ = 0;
    unsigned rejectedBinds_ = 0;
    std::vector<Context> contexts_;
    std::vector<PendingCall> pending_;
    CRpcBuffer reply_;
    RpcReplySplices splices_;  // parts of reply_ sent from elsewhere
    // A reply stopped part way: the peer's stream cannot be resumed.
    bool replyCut_ = false;
    CRpcBuffer spare_;  // a finished request's buffer, for the next one
    size_t spareCharge_ = 0;
    CRpcRequestBudget* budget_;
    CRpcBuffer scratch_;
};
