#include "platform/rpc/RpcAssociation.h"

#include "platform/rpc/RpcFault.h"
#include "platform/rpc/RpcFragments.h"

#include <sys/uio.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <string>
#include <utility>

namespace {

// Requests beyond this are received through a larger socket buffer.
constexpr ULONG kLargeRequest = 64 * 1024;
// Memory set aside at once for a request on the strength of its alloc_hint.
constexpr size_t kTrustedHint = 16 << 20;

std::atomic<ULONG> g_nextAssocGroup{0x5A00};

ULONG NewAssocGroup()
{
    ULONG id;
    do
        id = g_nextAssocGroup.fetch_add(1);
    while (id == 0);
    return id;
}

} // namespace

CRpcAssociation::CRpcAssociation(CRpcInterfaceRegistry& registry, CRpcCallGate& gate, const RpcServerLimits& limits,
                                 const RpcConnectionInfo& connection, SendFunction send, CRpcRequestBudget* budget)
    : registry_(registry), gate_(gate), limits_(limits), connection_(connection), send_(std::move(send)),
      xmitFrag_(limits.maxXmitFragment), recvFrag_(limits.maxRecvFragment), budget_(budget)
{
}

CRpcAssociation::~CRpcAssociation()
{
    for (const PendingCall& p : pending_)
        Refund(p.charge);
    Refund(spareCharge_);
}

void CRpcAssociation::Refund(size_t charge)
{
    if (budget_ != nullptr)
        budget_->Give(connection_.clientAddress, charge);
}

bool CRpcAssociation::Cover(PendingCall& call, size_t needed)
{
    if (needed <= call.stub.Capacity())
        return true;
    // Grown by half at a time, as the buffer would, but never past the bound.
    size_t capacity = std::max(needed, call.stub.Capacity() + call.stub.Capacity() / 2);
    capacity = std::max(needed, std::min(capacity, limits_.maxRequestBytes));
    if (capacity > call.charge) {
        const int waitMs = limits_.pduTimeoutMs == 0 ? -1 : int(std::min<DWORD>(limits_.pduTimeoutMs, INT_MAX));
        if (budget_ != nullptr && !budget_->Take(connection_.clientAddress, capacity - call.charge, waitMs))
            return false;
        call.charge = capacity;
    }
    call.stub.Reserve(capacity);
    return true;
}

bool CRpcAssociation::AnyLargeRequest() const
{
    return std::any_of(pending_.begin(), pending_.end(),
                       [](const PendingCall& p) { return p.allocHint > kLargeRequest || p.stub.Size() > kLargeRequest; });
}

void CRpcAssociation::ReleaseMemory()
{
    reply_ = CRpcBuffer();
    splices_ = RpcReplySplices();
    scratch_ = CRpcBuffer();
    ReleaseSpare();
}

void CRpcAssociation::ReleaseSpare()
{
    if (spare_.Capacity() == 0 && spareCharge_ == 0)
        return;
    spare_ = CRpcBuffer();
    Refund(std::exchange(spareCharge_, 0));
}

rpc::PduHeader CRpcAssociation::Reply(rpc::PduType type, ULONG callId, BYTE flags) const
{
    rpc::PduHeader h;
    h.versionMinor = minor_;
    h.type = BYTE(type);
    h.flags = flags;
    h.callId = callId;
    return h;
}

CRpcAssociation::Context* CRpcAssociation::FindContext(USHORT id)
{
    for (Context& c : contexts_)
        if (c.id == id)
            return &c;
    return nullptr;
}

CRpcAssociation::Next CRpcAssociation::OnPdu(const rpc::PduHeader& h, std::span<const BYTE> pdu)
{
    switch (h.Type()) {
    case rpc::PduType::Bind:
        return OnBind(h, pdu);
    case rpc::PduType::AlterContext:
        return OnAlterContext(h, pdu);
    case rpc::PduType::Request: {
        const Next next = OnRequest(h, pdu);
        return replyCut_ ? Next::Close : next;
    }
    case rpc::PduType::Orphaned:
        // The client gave up on the call: drop what has arrived of it.
        std::erase_if(pending_, [&](const PendingCall& p) {
            if (p.callId != h.callId)
                return false;
            Refund(p.charge);
            return true;
        });
        return Next::Continue;
    case rpc::PduType::CoCancel:
        // Calls are not cancellable; the call runs to its end.
        return Next::Continue;
    default:
        // Server-to-client packets, auth3 without any security context, and
        // types of other protocols: the peer does not speak this protocol.
        return Next::Close;
    }
}

void CRpcAssociation::OnBadHeader(const rpc::PduHeader& h, rpc::HeaderCheck check)
{
    if (check == rpc::HeaderCheck::BadVersion && h.Type() == rpc::PduType::Bind) {
        rpc::PduHeader nak = Reply(rpc::PduType::BindNak, h.callId, rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG);
        scratch_.Clear();
        rpc::EncodeBindNak(scratch_, nak, rpc::kNakProtocolVersionNotSupported);
        SendBuffer(scratch_);
    }
}

void CRpcAssociation::SendShutdown()
{
    BYTE pdu[rpc::kCommonHeaderSize];
    rpc::EncodeHeaderOnly(pdu, Reply(rpc::PduType::Shutdown, 0, rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG));
    iovec piece{pdu, sizeof pdu};
    send_(&piece, 1);
}

bool CRpcAssociation::SendBuffer(const CRpcBuffer& pdu)
{
    iovec piece{const_cast<BYTE*>(pdu.Data()), pdu.Size()};
    return send_(&piece, 1);
}

CRpcAssociation::Next CRpcAssociation::RejectBind(const rpc::PduHeader& h, USHORT reason)
{
    rpc::PduHeader nak = Reply(rpc::PduType::BindNak, h.callId, rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG);
    nak.versionMinor = h.versionMinor;
    scratch_.Clear();
    rpc::EncodeBindNak(scratch_, nak, reason);
    if (!SendBuffer(scratch_))
        return Next::Close;
    // The connection stays as it was and may bind again, a few times.
    return ++rejectedBinds_ >= limits_.maxRejectedBinds ? Next::Close : Next::Continue;
}

std::vector<rpc::ContextResult> CRpcAssociation::Negotiate(const rpc::BindPdu& bind)
{
    std::vector<rpc::ContextResult> results;
    results.reserve(bind.contexts.size());
    for (const rpc::PresentationContext& pc : bind.contexts) {
        rpc::ContextResult r;
        r.result = rpc::kResultProviderRejection;
        if (pc.transfers.size() == 1 && rpc::IsFeatureNegotiation(pc.transfers[0])) {
            // Of the features offered, keeping the connection after an
            // orphaned call is all this side does (it never closes for one).
            features_ = pc.transfers[0].uuid.Data4[0] & rpc::kFeatureKeepConnectionOnOrphan;
            r.result = rpc::kResultNegotiateAck;
            r.reason = features_;
            results.push_back(r);
            continue;
        }
        std::shared_ptr<CRpcInterfaceRegistry::Entry> entry = registry_.Find(pc.abstract);
        bool ndr20 = std::find(pc.transfers.begin(), pc.transfers.end(), rpc::kNdr20) != pc.transfers.end();
        Context* existing = FindContext(pc.id);
        if (!entry) {
            r.reason = rpc::kReasonAbstractSyntaxNotSupported;
        } else if (!ndr20) {
            r.reason = rpc::kReasonTransferSyntaxesNotSupported;
        } else if (existing == nullptr && contexts_.size() >= limits_.maxContextsPerConnection) {
            r.reason = rpc::kReasonLocalLimitExceeded;
        } else {
            r.result = rpc::kResultAcceptance;
            r.reason = 0;
            r.transfer = rpc::kNdr20;
            if (existing != nullptr)
                existing->interface = std::move(entry);
            else
                contexts_.push_back({pc.id, std::move(entry)});
        }
        results.push_back(r);
    }
    return results;
}

CRpcAssociation::Next CRpcAssociation::OnBind(const rpc::PduHeader& h, std::span<const BYTE> pdu)
{
    if (h.authLength != 0)
        return RejectBind(h, rpc::kNakAuthenticationTypeNotRecognized);
    rpc::BindPdu bind;
    if (!rpc::ParseBind(pdu, h, bind)) {
        RejectBind(h, rpc::kNakReasonNotSpecified);
        return Next::Close;
    }
    if (!bound_) {
        if (bind.maxRecvFrag < rpc::kMustRecvFragSize || bind.maxXmitFrag < rpc::kMustRecvFragSize)
            return RejectBind(h, rpc::kNakReasonNotSpecified);
        xmitFrag_ = std::min(bind.maxRecvFrag, limits_.maxXmitFragment);
        recvFrag_ = std::min(bind.maxXmitFrag, limits_.maxRecvFragment);
        assocGroup_ = bind.assocGroup != 0 ? bind.assocGroup : NewAssocGroup();
        minor_ = h.versionMinor;
    }
    // A second bind on a bound connection is answered like an alter_context,
    // keeping what was negotiated first.
    rpc::BindAckPdu ack;
    ack.results = Negotiate(bind);
    ack.maxXmitFrag = xmitFrag_;
    ack.maxRecvFrag = recvFrag_;
    ack.assocGroup = assocGroup_;
    ack.secondaryAddress = std::to_string(connection_.localPort);
    scratch_.Clear();
    rpc::EncodeBindAck(scratch_, Reply(rpc::PduType::BindAck, h.callId, rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG), ack);
    bound_ = true;
    return SendBuffer(scratch_) ? Next::Continue : Next::Close;
}

CRpcAssociation::Next CRpcAssociation::OnAlterContext(const rpc::PduHeader& h, std::span<const BYTE> pdu)
{
    if (!bound_)
        return Next::Close;
    if (h.authLength != 0) {
        // No security context can be set up here; the connection goes on
        // with what it has.
        return SendFault(h.callId, 0, RpcStatusToFaultCode(RPC_S_UNKNOWN_AUTHN_SERVICE), true) ? Next::Continue
                                                                                              : Next::Close;
    }
    rpc::BindPdu bind;
    if (!rpc::ParseBind(pdu, h, bind)) {
        SendFault(h.callId, 0, rpc::nca_s_proto_error, true);
        return Next::Close;
    }
    rpc::BindAckPdu ack;
    ack.results = Negotiate(bind);
    ack.maxXmitFrag = xmitFrag_;
    ack.maxRecvFrag = recvFrag_;
    ack.assocGroup = assocGroup_;
    scratch_.Clear();
    rpc::EncodeBindAck(scratch_,
                       Reply(rpc::PduType::AlterContextResp, h.callId, rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG), ack);
    return SendBuffer(scratch_) ? Next::Continue : Next::Close;
}

CRpcAssociation::Next CRpcAssociation::OnRequest(const rpc::PduHeader& h, std::span<const BYTE> pdu)
{
    rpc::RequestPdu request;
    if (!bound_ || h.authLength != 0 || !rpc::ParseRequest(pdu, h, request))
        return Next::Close;
    bool first = (h.flags & rpc::PFC_FIRST_FRAG) != 0;
    bool last = (h.flags & rpc::PFC_LAST_FRAG) != 0;
    auto it = std::find_if(pending_.begin(), pending_.end(), [&](const PendingCall& p) { return p.callId == h.callId; });

    if (first) {
        if (it != pending_.end())
            return Next::Close;  // a call id in use
        if (request.stub.size() > limits_.maxRequestBytes)
            return Next::Close;
        if (last) {
            // The common case: the stub data is used where it lies. The
            // buffer of an earlier large request is kept for the next one
            // (a fresh one of tens of megabytes costs a page fault every
            // 4 KiB) unless another connection waits for room; a quiet
            // connection gives it back all the same.
            if (spare_.Capacity() != 0 && budget_ != nullptr && budget_->Wanted())
                ReleaseSpare();
            Execute(h.callId, request.contextId, request.opnum, h.rep, request.stub, h.flags);
            return Next::Continue;
        }
        if (pending_.size() >= limits_.maxPendingCallsPerConnection)
            return Next::Close;
        PendingCall p{h.callId,       request.contextId, request.opnum,
                      h.flags,        h.rep,             request.allocHint,
                      std::move(spare_), std::exchange(spareCharge_, 0)};
        p.stub.Clear();
        // The hint is the peer's word: trusted only so far, the rest grows.
        if (!Cover(p, std::min({std::max<size_t>(request.allocHint, request.stub.size()), limits_.maxRequestBytes,
                                kTrustedHint}))) {
            Refund(p.charge);
            return Next::Close;
        }
        p.stub.Append(request.stub.data(), request.stub.size());
        pending_.push_back(std::move(p));
        return Next::Continue;
    }

    if (it == pending_.end())
        return Next::Continue;  // the rest of a call already dropped (orphaned)
    if (request.stub.size() > limits_.maxRequestBytes - it->stub.Size())
        return Next::Close;
    if (!Cover(*it, it->stub.Size() + request.stub.size()))
        return Next::Close;
    it->stub.Append(request.stub.data(), request.stub.size());
    if (last) {
        PendingCall call = std::move(*it);
        pending_.erase(it);
        Execute(call.callId, call.contextId, call.opnum, call.rep, call.stub.View(), call.flags);
        // The larger buffer is kept for the next request, with its charge.
        if (call.stub.Capacity() > spare_.Capacity()) {
            spare_ = std::move(call.stub);
            std::swap(spareCharge_, call.charge);
        }
        Refund(call.charge);
    }
    return Next::Continue;
}

void CRpcAssociation::Execute(ULONG callId, USHORT contextId, USHORT opnum, const rpc::DataRep& rep,
                              std::span<const BYTE> stub, BYTE flags)
{
    // A call with "maybe" semantics is run and never answered.
    if ((flags & rpc::PFC_MAYBE) != 0) {
        CRpcBuffer ignored;
        Run(callId, contextId, opnum, rep, stub, ignored);
        return;
    }
    ULONG fault = 0;
    bool didNotExecute = false;
    Run(callId, contextId, opnum, rep, stub, reply_, &splices_, &fault, &didNotExecute);
    if (fault != 0)
        SendFault(callId, contextId, fault, didNotExecute);
    else if (!SendReply(callId, contextId))
        replyCut_ = true;
    // Sources are let go whether the reply went out or not.
    splices_.Clear();
}

RPC_STATUS CRpcAssociation::Run(ULONG callId, USHORT contextId, USHORT opnum, const rpc::DataRep& rep,
                                std::span<const BYTE> stub, CRpcBuffer& reply, RpcReplySplices* splices, ULONG* fault,
                                bool* didNotExecute)
{
    ULONG code = 0;
    bool dne = true;
    RPC_STATUS status = RPC_S_OK;
    // The context holds the entry, and contexts change only between calls
    // of this connection: no reference of its own is needed.
    Context* context = FindContext(contextId);
    CRpcInterfaceRegistry::Entry* entry = context != nullptr ? context->interface.get() : nullptr;
    if (entry == nullptr) {
        code = rpc::nca_s_unk_if;
    } else if (opnum >= entry->definition.procedures.size() || !entry->definition.procedures[opnum]) {
        code = rpc::nca_s_op_rng_error;
    } else if (!CRpcInterfaceRegistry::BeginCall(*entry)) {
        code = rpc::nca_s_unk_if;  // withdrawn since the bind
    } else {
        rpc::SyntaxId id{entry->definition.uuid, entry->definition.versionMajor, entry->definition.versionMinor};
        reply.Clear();
        CRpcCall call(connection_, id, opnum, callId, rep, stub, reply, splices);
        status = gate_.Run(call, entry->definition.procedures[opnum]);
        CRpcInterfaceRegistry::EndCall(*entry);
        // A splice past the reply's end would send bytes nobody wrote.
        if (status == RPC_S_OK && splices != nullptr && !splices->pieces.empty() &&
            splices->pieces.back().offset + splices->pieces.back().length > reply.Size())
            status = RPC_S_CALL_FAILED;
        if (status != RPC_S_OK) {
            code = RpcStatusToFaultCode(status);
            if (splices != nullptr)
                splices->Clear();
        }
        dne = status == RPC_S_SERVER_TOO_BUSY;
    }
    if (fault != nullptr)
        *fault = code;
    if (didNotExecute != nullptr)
        *didNotExecute = dne;
    return status;
}

bool CRpcAssociation::SendReply(ULONG callId, USHORT contextId)
{
    const size_t size = reply_.Size();
    if (size <= rpc::FragmentBody(xmitFrag_) && splices_.pieces.empty()) {
        // Nearly every reply: one fragment, framed here rather than through
        // the general cutter's callbacks.
        // The header is built in place, where its byte order is plain to the
        // compiler.
        BYTE head[rpc::kFragmentHeaderSize];
        rpc::PduHeader h;
        h.versionMinor = minor_;
        h.type = BYTE(rpc::PduType::Response);
        h.flags = rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG;
        h.callId = callId;
        h.fragLength = USHORT(rpc::kFragmentHeaderSize + size);
        rpc::EncodeResponseHeader(head, h, ULONG(size), contextId);
        iovec pieces[2] = {{head, sizeof head}, {reply_.Data(), size}};
        return send_(pieces, size == 0 ? 1 : 2);
    }
    auto header = [&](BYTE* out, BYTE flags, USHORT fragLength, ULONG allocHint) {
        rpc::PduHeader h = Reply(rpc::PduType::Response, callId, flags);
        h.fragLength = fragLength;
        rpc::EncodeResponseHeader(out, h, allocHint, contextId);
    };
    // By reference: a std::function would otherwise allocate for the lambda.
    return rpc::SendFragmented(reply_.View(), xmitFrag_, std::ref(header), std::ref(send_), splices_.pieces);
}

bool CRpcAssociation::SendFault(ULONG callId, USHORT contextId, ULONG code, bool didNotExecute)
{
    BYTE flags = rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG | (didNotExecute ? rpc::PFC_DID_NOT_EXECUTE : 0);
    BYTE pdu[rpc::kFaultPduSize];
    rpc::EncodeFault(pdu, Reply(rpc::PduType::Fault, callId, flags), contextId, code);
    iovec piece{pdu, sizeof pdu};
    return send_(&piece, 1);
}
