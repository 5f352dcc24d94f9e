#include "PduBuilder.h"

#include "platform/rpc/NdrByteOrder.h"
#include "platform/rpc/RpcBuffer.h"
#include "platform/rpc/RpcSocket.h"

#include <cstring>

namespace rpctest {

rpc::PduHeader Header(rpc::PduType type, ULONG callId, BYTE flags, const rpc::DataRep& rep)
{
    rpc::PduHeader h;
    h.type = BYTE(type);
    h.flags = flags;
    h.callId = callId;
    h.rep = rep;
    return h;
}

Bytes BindBytes(const std::vector<rpc::PresentationContext>& contexts, ULONG callId, rpc::PduType type,
                USHORT maxXmit, USHORT maxRecv, const rpc::DataRep& rep)
{
    rpc::BindPdu bind;
    bind.maxXmitFrag = maxXmit;
    bind.maxRecvFrag = maxRecv;
    bind.contexts = contexts;
    CRpcBuffer out;
    rpc::EncodeBind(out, Header(type, callId, rpc::PFC_FIRST_FRAG | rpc::PFC_LAST_FRAG, rep), bind);
    return Bytes(out.Data(), out.Data() + out.Size());
}

Bytes SimpleBind(const GUID& id, USHORT major, USHORT minor, ULONG callId, USHORT contextId)
{
    return BindBytes({{contextId, {id, major, minor}, {rpc::kNdr20}}}, callId);
}

Bytes RequestBytes(ULONG callId, USHORT contextId, USHORT opnum, const Bytes& stub, BYTE flags, ULONG allocHint,
                   const rpc::DataRep& rep)
{
    Bytes pdu(rpc::kRequestHeaderSize + stub.size());
    rpc::PduHeader h = Header(rpc::PduType::Request, callId, flags, rep);
    h.fragLength = USHORT(pdu.size());
    rpc::EncodeRequestHeader(pdu.data(), h, allocHint != 0 ? allocHint : ULONG(stub.size()), contextId, opnum);
    if (!stub.empty())
        std::memcpy(pdu.data() + rpc::kRequestHeaderSize, stub.data(), stub.size());
    return pdu;
}

void AddAuthVerifier(Bytes& pdu, USHORT authLength)
{
    size_t pad = (4 - pdu.size() % 4) % 4;
    pdu.insert(pdu.end(), pad, 0xFF);
    // sec_trailer: type 10, level 2 (connect), pad, reserved, context id.
    const BYTE trailer[8] = {10, 2, BYTE(pad), 0, 1, 0, 0, 0};
    pdu.insert(pdu.end(), trailer, trailer + 8);
    pdu.insert(pdu.end(), authLength, 0xA5);
    bool be = rpc::DecodeHeader(pdu.data()).rep.BigEndian();
    ndr::Store16(pdu.data() + 8, USHORT(pdu.size()), be);
    ndr::Store16(pdu.data() + 10, authLength, be);
}

Bytes HeaderOnly(rpc::PduType type, ULONG callId)
{
    Bytes pdu(rpc::kCommonHeaderSize);
    rpc::EncodeHeaderOnly(pdu.data(), Header(type, callId));
    return pdu;
}

std::vector<Bytes> SplitPdus(const Bytes& stream)
{
    std::vector<Bytes> out;
    size_t at = 0;
    while (stream.size() - at >= rpc::kCommonHeaderSize) {
        rpc::PduHeader h = rpc::DecodeHeader(stream.data() + at);
        if (h.fragLength < rpc::kCommonHeaderSize || h.fragLength > stream.size() - at)
            break;
        out.emplace_back(stream.begin() + long(at), stream.begin() + long(at + h.fragLength));
        at += h.fragLength;
    }
    return out;
}

bool AcceptBoundCall(CRpcSocket& socket, ULONG* callId)
{
    rpc::PduHeader h;
    rpc::HeaderCheck check;
    std::span<const BYTE> pdu;
    if (socket.ReadPdu(0xFFFF, 5000, 5000, h, check, pdu) != CRpcSocket::Io::Ok)
        return false;
    rpc::BindAckPdu ack;
    ack.maxXmitFrag = ack.maxRecvFrag = 5840;
    ack.assocGroup = 1;
    ack.results.resize(1);
    ack.results[0].transfer = rpc::kNdr20;
    CRpcBuffer out;
    rpc::EncodeBindAck(out, Header(rpc::PduType::BindAck, h.callId), ack);
    socket.ConsumePdu();
    if (!socket.SendAll(out.Data(), out.Size(), 5000) ||
        socket.ReadPdu(0xFFFF, 5000, 5000, h, check, pdu) != CRpcSocket::Io::Ok)
        return false;
    *callId = h.callId;
    return true;
}

} // namespace rpctest
