// Packets and stub data from a peer. The first byte chooses the target:
//  even: the rest is one packet, given to every parser and to the NDR
//        unmarshalling of both procedures; what parses must encode back to
//        what parses the same;
//  odd:  the rest is a stream of packets fed to a server association; every
//        packet it sends back must parse as what it claims to be.
#include "platform/rpc/RemoteInvokeNdr.h"
#include "platform/rpc/RpcAssociation.h"
#include "platform/rpc/RpcPdu.h"

#include <sys/uio.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

const GUID kProduct{0xA9934395, 0xCC29, 0x4CBA, {0x91, 0x04, 0xF0, 0x1F, 0xC6, 0xBA, 0x6A, 0xA0}};
const GUID kThrowing{0x55D8F461, 0x543B, 0x4019, {0x9D, 0x94, 0x54, 0x58, 0x4C, 0x00, 0xEC, 0xD4}};

void CheckBlobRoundTrip(const InvokeBlobView& in, bool bigEndian)
{
    CRpcBuffer again;
    NdrMarshalInvokeRequest(again, in.data, in.size, bigEndian);
    InvokeBlobView back;
    rpc::DataRep rep = bigEndian ? rpc::DataRep::BigEndianRep() : rpc::DataRep::LittleEndian();
    Check(NdrUnmarshalInvokeRequest(again.View(), rep, back) == RPC_S_OK);
    Check(back.size == in.size && (in.size == 0 || std::memcmp(back.data, in.data, in.size) == 0));
}

void FuzzStubData(std::span<const BYTE> stub)
{
    for (const rpc::DataRep& rep : {rpc::DataRep::LittleEndian(), rpc::DataRep::BigEndianRep()}) {
        InvokeBlobView blob;
        if (NdrUnmarshalInvokeRequest(stub, rep, blob) == RPC_S_OK) {
            Check(blob.data == nullptr || (blob.data >= stub.data() && blob.data + blob.size <= stub.data() + stub.size()));
            CheckBlobRoundTrip(blob, rep.BigEndian());
        }
        LONG result;
        if (NdrUnmarshalInvokeReply(stub, rep, blob, result) == RPC_S_OK) {
            CRpcBuffer reply;
            NdrMarshalInvokeReply(reply, blob.data, blob.size, result);
            InvokeBlobView back;
            LONG backResult;
            Check(NdrUnmarshalInvokeReply(reply.View(), rpc::DataRep::LittleEndian(), back, backResult) == RPC_S_OK);
            Check(backResult == result && back.size == blob.size);
        }
        NdrUnmarshalGetVersionReply(stub, rep, result);
    }
}

void FuzzPacket(std::span<const BYTE> data)
{
    FuzzStubData(data);
    if (data.size() < rpc::kCommonHeaderSize)
        return;
    rpc::PduHeader h = rpc::DecodeHeader(data.data());
    if (rpc::CheckHeader(h, 0xFFFF) != rpc::HeaderCheck::Ok || data.size() < h.fragLength)
        return;
    std::span<const BYTE> pdu = data.first(h.fragLength);

    rpc::BindPdu bind;
    if (rpc::ParseBind(pdu, h, bind)) {
        CRpcBuffer out;
        rpc::PduHeader again = h;
        rpc::EncodeBind(out, again, bind);
        rpc::BindPdu back;
        Check(rpc::ParseBind(out.View(), rpc::DecodeHeader(out.Data()), back));
        Check(back.contexts.size() == bind.contexts.size() && back.maxRecvFrag == bind.maxRecvFrag);
        for (size_t i = 0; i < bind.contexts.size(); ++i)
            Check(back.contexts[i].abstract == bind.contexts[i].abstract &&
                  back.contexts[i].transfers == bind.contexts[i].transfers);
    }
    rpc::BindAckPdu ack;
    if (rpc::ParseBindAck(pdu, h, ack) && ack.secondaryAddress.size() < 0xFFFF) {
        CRpcBuffer out;
        rpc::EncodeBindAck(out, h, ack);
        rpc::BindAckPdu back;
        Check(rpc::ParseBindAck(out.View(), rpc::DecodeHeader(out.Data()), back));
        Check(back.results.size() == ack.results.size());
    }
    rpc::BindNakPdu nak;
    rpc::ParseBindNak(pdu, h, nak);
    rpc::RequestPdu request;
    if (rpc::ParseRequest(pdu, h, request)) {
        Check(request.stub.data() >= pdu.data() && request.stub.data() + request.stub.size() <= pdu.data() + pdu.size());
        FuzzStubData(request.stub);
    }
    rpc::ResponsePdu response;
    if (rpc::ParseResponse(pdu, h, response))
        Check(response.stub.data() + response.stub.size() <= pdu.data() + pdu.size());
    rpc::FaultPdu fault;
    rpc::ParseFault(pdu, h, fault);
}

// Every packet the server sends must be well formed.
bool CheckSent(const iovec* pieces, int count, const CRpcAssociation*& association)
{
    std::vector<BYTE> bytes;
    for (int i = 0; i < count; ++i) {
        const BYTE* p = static_cast<const BYTE*>(pieces[i].iov_base);
        bytes.insert(bytes.end(), p, p + pieces[i].iov_len);
    }
    size_t at = 0;
    while (at < bytes.size()) {
        Check(bytes.size() - at >= rpc::kCommonHeaderSize);
        rpc::PduHeader h = rpc::DecodeHeader(bytes.data() + at);
        Check(rpc::CheckHeader(h, 0xFFFF) == rpc::HeaderCheck::Ok && h.fragLength <= bytes.size() - at);
        std::span<const BYTE> pdu(bytes.data() + at, h.fragLength);
        switch (h.Type()) {
        case rpc::PduType::BindAck:
        case rpc::PduType::AlterContextResp: {
            rpc::BindAckPdu ack;
            Check(rpc::ParseBindAck(pdu, h, ack));
            break;
        }
        case rpc::PduType::BindNak: {
            rpc::BindNakPdu nak;
            Check(rpc::ParseBindNak(pdu, h, nak));
            break;
        }
        case rpc::PduType::Response: {
            rpc::ResponsePdu response;
            Check(rpc::ParseResponse(pdu, h, response));
            Check(association == nullptr || h.fragLength <= association->XmitFragment());
            break;
        }
        case rpc::PduType::Fault: {
            rpc::FaultPdu fault;
            Check(rpc::ParseFault(pdu, h, fault));
            break;
        }
        default:
            Check(h.Type() == rpc::PduType::Shutdown);
        }
        at += h.fragLength;
    }
    return true;
}

void FuzzAssociation(std::span<const BYTE> stream)
{
    RpcServerLimits limits;
    limits.maxRequestBytes = 256 * 1024;
    limits.maxContextsPerConnection = 8;
    CRpcInterfaceRegistry registry;
    auto version = [](CRpcCall& call) {
        NdrMarshalGetVersionReply(call.Reply(), 5);
        return RPC_S_OK;
    };
    auto invoke = [](CRpcCall& call) {
        InvokeBlobView in;
        RPC_STATUS status = NdrUnmarshalInvokeRequest(call.Request(), call.DataRep(), in);
        if (status == RPC_S_OK)
            NdrMarshalInvokeReply(call.Reply(), in.data, in.size, LONG(in.size));
        return status;
    };
    auto thrower = [](CRpcCall&) -> RPC_STATUS { throw std::runtime_error("fuzz"); };
    registry.Register({kProduct, 5, 0, {version, invoke}});
    registry.Register({kThrowing, 1, 0, {thrower, version}});
    CRpcCallGate gate;
    RpcConnectionInfo info{34347, "127.0.0.1", "127.0.0.1", 1, "ncacn_ip_tcp:127.0.0.1[34347]"};
    const CRpcAssociation* self = nullptr;
    CRpcAssociation association(registry, gate, limits, info,
                                [&](const iovec* pieces, int count) { return CheckSent(pieces, count, self); });
    self = &association;
    size_t at = 0;
    while (stream.size() - at >= rpc::kCommonHeaderSize) {
        rpc::PduHeader h = rpc::DecodeHeader(stream.data() + at);
        rpc::HeaderCheck check = rpc::CheckHeader(h, limits.maxRecvFragment);
        if (check != rpc::HeaderCheck::Ok) {
            association.OnBadHeader(h, check);
            return;
        }
        if (h.fragLength > stream.size() - at)
            return;
        if (association.OnPdu(h, stream.subspan(at, h.fragLength)) == CRpcAssociation::Next::Close)
            return;
        at += h.fragLength;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    std::span<const BYTE> rest(data + 1, size - 1);
    if (data[0] & 1)
        FuzzAssociation(rest);
    else
        FuzzPacket(rest);
    return 0;
}
