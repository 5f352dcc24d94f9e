#include "platform/rpc/RpcClient.h"

#include "platform/rpc/NdrByteOrder.h"
#include "platform/rpc/RpcFault.h"
#include "platform/rpc/RpcFragments.h"
#include "platform/rpc/RpcPdu.h"

#include <sys/uio.h>

#include <algorithm>
#include <climits>
#include <functional>

namespace {

constexpr size_t kTrustedHint = 16 << 20;

int Milliseconds(DWORD ms)
{
    return ms == 0 ? CRpcSocket::kWaitForever : int(std::min<DWORD>(ms, INT_MAX));
}

RPC_STATUS BindNakStatus(USHORT reason)
{
    switch (reason) {
    case rpc::kNakAuthenticationTypeNotRecognized:
    case rpc::kNakInvalidChecksum:
        return RPC_S_UNKNOWN_AUTHN_SERVICE;
    case rpc::kNakProtocolVersionNotSupported:
        return RPC_S_PROTOCOL_ERROR;
    case rpc::kNakTemporaryCongestion:
    case rpc::kNakLocalLimitExceeded:
        return RPC_S_SERVER_TOO_BUSY;
    default:
        return RPC_S_CALL_FAILED_DNE;
    }
}

RPC_STATUS ContextStatus(const rpc::ContextResult& r)
{
    if (r.result == rpc::kResultAcceptance)
        return RPC_S_OK;
    switch (r.reason) {
    case rpc::kReasonAbstractSyntaxNotSupported:
        return RPC_S_UNKNOWN_IF;
    case rpc::kReasonTransferSyntaxesNotSupported:
        return RPC_S_UNSUPPORTED_TRANS_SYN;
    case rpc::kReasonLocalLimitExceeded:
        return RPC_S_SERVER_TOO_BUSY;
    default:
        return RPC_S_CALL_FAILED_DNE;
    }
}

} // namespace

CRpcClient::CRpcClient(RpcClientOptions options) : options_(options) {}

rpc::PduHeader CRpcClient::Header(rpc::PduType type, BYTE flags)
{
    rpc::PduHeader h;
    h.type = BYTE(type);
    h.flags = flags;
    h.rep = options_.dataRep;
    h.callId = nextCallId_++;
    return h;
}

RPC_STATUS CRpcClient::Fail(RPC_STATUS status)
{
    Close();
    return status;
}

void CRpcClient::Close()
{
    socket_.Close();
    bound_ = false;
    shutdownRequested_ = false;
    nextContextId_ = 0;
    xmitFrag_ = recvFrag_ = 0;
    assocGroup_ = 0;
    features_ = 0;
    secondaryAddress_.clear();
}

RPC_STATUS CRpcClient::Connect(const std::string& host, int port, DWORD timeoutMs)
{
    Close();
    return socket_.Connect(host, port, Milliseconds(timeoutMs == 0 ? 1 : timeoutMs), options_.sourceAddress);
}

RPC_STATUS CRpcClient::Bind(const GUID& uuid, USHORT major, USHORT minor, USHORT* contextId)
{
    if (!socket_.IsOpen())
        return RPC_S_INVALID_BINDING;
    rpc::BindPdu bind;
    bind.maxXmitFrag = options_.maxXmitFragment;
    bind.maxRecvFrag = options_.maxRecvFragment;
    bind.assocGroup = assocGroup_;
    rpc::SyntaxId abstract{uuid, major, minor};
    USHORT id = nextContextId_++;
    bind.contexts.push_back({id, abstract, {rpc::kNdr20}});
    if (!bound_ && options_.featureNegotiation)
        bind.contexts.push_back(
            {nextContextId_++, abstract,
             {rpc::FeatureNegotiationSyntax(rpc::kFeatureSecurityContextMultiplexing |
                                            rpc::kFeatureKeepConnectionOnOrphan)}});
    rpc::PduHeader h = Header(bound_ ? rpc::PduType::AlterContext : rpc::PduType::Bind,
                              rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG);
    scratch_.Clear();
    rpc::EncodeBind(scratch_, h, bind);
    const int waitMs = Milliseconds(options_.bindTimeoutMs);
    if (!socket_.SendAll(scratch_.Data(), scratch_.Size(), waitMs))
        return Fail(RPC_S_CALL_FAILED_DNE);

    for (;;) {
        rpc::PduHeader r;
        rpc::HeaderCheck check;
        std::span<const BYTE> pdu;
        CRpcSocket::Io io = socket_.ReadPdu(0xFFFF, waitMs, waitMs, r, check, pdu);
        if (io != CRpcSocket::Io::Ok)
            return Fail(RPC_S_CALL_FAILED_DNE);
        if (check != rpc::HeaderCheck::Ok)
            return Fail(RPC_S_PROTOCOL_ERROR);
        RPC_STATUS status = RPC_S_PROTOCOL_ERROR;
        bool answered = r.callId == h.callId;
        if (r.Type() == rpc::PduType::Shutdown) {
            shutdownRequested_ = true;
            answered = false;
        } else if (!answered) {
            // A late packet of an abandoned call.
        } else if (r.Type() == rpc::PduType::BindAck || r.Type() == rpc::PduType::AlterContextResp) {
            rpc::BindAckPdu ack;
            if (!rpc::ParseBindAck(pdu, r, ack) || ack.results.empty())
                return Fail(RPC_S_PROTOCOL_ERROR);
            if (!bound_) {
                // What the server receives bounds what this side sends.
                xmitFrag_ = std::min(ack.maxRecvFrag, options_.maxXmitFragment);
                recvFrag_ = ack.maxXmitFrag;
                assocGroup_ = ack.assocGroup;
                secondaryAddress_ = ack.secondaryAddress;
                bound_ = true;
                if (xmitFrag_ < rpc::kResponseHeaderSize + 8)
                    return Fail(RPC_S_PROTOCOL_ERROR);
            }
            for (size_t i = 1; i < ack.results.size(); ++i)
                if (ack.results[i].result == rpc::kResultNegotiateAck)
                    features_ = BYTE(ack.results[i].reason);
            status = ContextStatus(ack.results[0]);
        } else if (r.Type() == rpc::PduType::BindNak) {
            rpc::BindNakPdu nak;
            status = rpc::ParseBindNak(pdu, r, nak) ? BindNakStatus(nak.reason) : RPC_S_PROTOCOL_ERROR;
        } else if (r.Type() == rpc::PduType::Fault) {
            rpc::FaultPdu fault;
            status = rpc::ParseFault(pdu, r, fault) ? RpcFaultCodeToStatus(fault.status) : RPC_S_PROTOCOL_ERROR;
        } else {
            return Fail(RPC_S_PROTOCOL_ERROR);
        }
        socket_.ConsumePdu();
        if (!answered)
            continue;
        if (status == RPC_S_OK && contextId != nullptr)
            *contextId = id;
        return status;
    }
}

bool CRpcClient::Idle(bool lookAtSocket)
{
    // Between calls the server has nothing to say but goodbye: a shutdown
    // request or its close. Late packets of abandoned calls are skipped.
    while (lookAtSocket ? socket_.HasInput() : socket_.Buffered() != 0) {
        rpc::PduHeader r;
        rpc::HeaderCheck check;
        std::span<const BYTE> pdu;
        if (socket_.ReadPdu(0xFFFF, 0, 1000, r, check, pdu) != CRpcSocket::Io::Ok || check != rpc::HeaderCheck::Ok ||
            r.Type() == rpc::PduType::Shutdown)
            return false;
        socket_.ConsumePdu();
    }
    return true;
}

RPC_STATUS CRpcClient::Call(USHORT contextId, USHORT opnum, std::span<const BYTE> request, CRpcBuffer& reply,
                            rpc::DataRep* replyRep)
{
    if (!socket_.IsOpen() || !bound_)
        return RPC_S_INVALID_BINDING;
    const int waitMs = Milliseconds(options_.callTimeoutMs);
    // Asking the socket before every call would cost a system call each; a
    // goodbye not read yet is met while waiting for the reply (or, when the
    // request could not be sent, looked for then).
    if (!Idle(false))
        return Fail(RPC_S_CALL_FAILED_DNE);
    const ULONG callId = nextCallId_++;

    bool sent;
    if (request.size() <= rpc::FragmentBody(xmitFrag_)) {
        // Nearly every call: one fragment, framed here.
        BYTE head[rpc::kFragmentHeaderSize];
        rpc::PduHeader h;
        h.type = BYTE(rpc::PduType::Request);
        h.flags = rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG;
        h.rep = options_.dataRep;
        h.callId = callId;
        h.fragLength = USHORT(rpc::kFragmentHeaderSize + request.size());
        rpc::EncodeRequestHeader(head, h, ULONG(request.size()), contextId, opnum);
        iovec pieces[2] = {{head, sizeof head}, {const_cast<BYTE*>(request.data()), request.size()}};
        sent = socket_.SendAll(pieces, request.empty() ? 1 : 2, waitMs);
    } else {
        // The request, fragmented to what the server takes.
        auto header = [&](BYTE* out, BYTE flags, USHORT fragLength, ULONG allocHint) {
            rpc::PduHeader h;
            h.type = BYTE(rpc::PduType::Request);
            h.flags = flags;
            h.rep = options_.dataRep;
            h.callId = callId;
            h.fragLength = fragLength;
            rpc::EncodeRequestHeader(out, h, allocHint, contextId, opnum);
        };
        auto send = [&](const iovec* pieces, int count) { return socket_.SendAll(pieces, count, waitMs); };
        // By reference: a std::function would otherwise allocate for the lambdas.
        sent = rpc::SendFragmented(request, xmitFrag_, std::ref(header), std::ref(send));
    }
    if (!sent)
        return Fail(Idle(true) ? RPC_S_CALL_FAILED : RPC_S_CALL_FAILED_DNE);

    // The reply, reassembled. The stub data of a response goes straight from
    // the socket into the reply; anything else is read whole.
    bool started = false;
    for (;;) {
        rpc::PduHeader r;
        rpc::HeaderCheck check;
        std::span<const BYTE> head;
        // Within a reply, only a header is read ahead: the body that follows
        // is wanted in the reply, not in the socket's buffer.
        CRpcSocket::Io io =
            socket_.ReadPduStart(0xFFFF, rpc::kResponseHeaderSize, waitMs, waitMs, r, check, head, !started);
        if (io == CRpcSocket::Io::TimedOut)
            return Fail(RPC_S_CALL_CANCELLED);
        // A server that asked this client to leave takes no more calls.
        if (io != CRpcSocket::Io::Ok)
            return Fail(shutdownRequested_ && !started ? RPC_S_CALL_FAILED_DNE : RPC_S_CALL_FAILED);
        if (check != rpc::HeaderCheck::Ok)
            return Fail(RPC_S_PROTOCOL_ERROR);
        bool done = true;
        RPC_STATUS status = RPC_S_OK;
        if (r.Type() == rpc::PduType::Response && r.callId == callId && r.authLength == 0) {
            if (r.fragLength < rpc::kResponseHeaderSize)
                return Fail(RPC_S_PROTOCOL_ERROR);
            if (!started) {
                if ((r.flags & rpc::PFC_FIRST_FRAG) == 0)
                    return Fail(RPC_S_PROTOCOL_ERROR);
                started = true;
                const ULONG allocHint = ndr::Load32(head.data() + 16, r.rep.BigEndian());
                reply.Clear();
                // The hint is the server's word: trusted only so far.
                reply.Reserve(std::min<size_t>({allocHint, options_.maxReplyBytes, kTrustedHint}));
                if (replyRep != nullptr)
                    *replyRep = r.rep;
            }
            const size_t body = r.fragLength - rpc::kResponseHeaderSize;
            if (body > options_.maxReplyBytes - reply.Size())
                return Fail(RPC_S_CALL_FAILED);
            io = socket_.ReadPduBody(reply.Grow(body));
            if (io != CRpcSocket::Io::Ok) {
                reply.Resize(reply.Size() - body);
                return Fail(io == CRpcSocket::Io::TimedOut ? RPC_S_CALL_CANCELLED : RPC_S_CALL_FAILED);
            }
            done = (r.flags & rpc::PFC_LAST_FRAG) != 0;
        } else {
            std::span<const BYTE> pdu;
            io = socket_.ReadPduRest(pdu);
            if (io == CRpcSocket::Io::TimedOut)
                return Fail(RPC_S_CALL_CANCELLED);
            if (io != CRpcSocket::Io::Ok)
                return Fail(shutdownRequested_ && !started ? RPC_S_CALL_FAILED_DNE : RPC_S_CALL_FAILED);
            if (r.Type() == rpc::PduType::Shutdown || r.callId != callId) {
                shutdownRequested_ |= r.Type() == rpc::PduType::Shutdown;
                socket_.ConsumePdu();
                continue;
            }
            if (r.Type() == rpc::PduType::Response) {
                rpc::ResponsePdu response;
                if (!rpc::ParseResponse(pdu, r, response))
                    return Fail(RPC_S_PROTOCOL_ERROR);
                if (!started) {
                    if ((r.flags & rpc::PFC_FIRST_FRAG) == 0)
                        return Fail(RPC_S_PROTOCOL_ERROR);
                    started = true;
                    reply.Clear();
                    reply.Reserve(std::min<size_t>({response.allocHint, options_.maxReplyBytes, kTrustedHint}));
                    if (replyRep != nullptr)
                        *replyRep = r.rep;
                }
                if (response.stub.size() > options_.maxReplyBytes - reply.Size())
                    return Fail(RPC_S_CALL_FAILED);
                reply.Append(response.stub.data(), response.stub.size());
                done = (r.flags & rpc::PFC_LAST_FRAG) != 0;
            } else if (r.Type() == rpc::PduType::Fault) {
                rpc::FaultPdu fault;
                if (!rpc::ParseFault(pdu, r, fault))
                    return Fail(RPC_S_PROTOCOL_ERROR);
                status = RpcFaultCodeToStatus(fault.status);
            } else {
                return Fail(RPC_S_PROTOCOL_ERROR);
            }
            socket_.ConsumePdu();
        }
        if (!done)
            continue;
        if (shutdownRequested_)
            Close();
        return status;
    }
}
