#include "platform/rpc/RpcPdu.h"

#include "platform/rpc/NdrByteOrder.h"
#include "platform/rpc/NdrReader.h"
#include "platform/rpc/NdrWriter.h"

#include <algorithm>
#include <cstring>

namespace rpc {

namespace {

// End of a fragment's body: before the auth verifier, when there is one.
size_t BodyEnd(const PduHeader& h)
{
    return h.authLength == 0 ? h.fragLength : h.fragLength - h.authLength - kSecTrailerSize;
}

// A reader of the body, after the common header and before any verifier.
CNdrReader BodyReader(std::span<const BYTE> pdu, const PduHeader& h)
{
    CNdrReader r(pdu.first(BodyEnd(h)), h.rep);
    r.Seek(kCommonHeaderSize);
    return r;
}

// End of the stub data of a request or response: before the verifier's pad.
size_t StubEnd(std::span<const BYTE> pdu, const PduHeader& h)
{
    size_t e = BodyEnd(h);
    if (h.authLength != 0)
        e -= std::min<size_t>(pdu[e + 2], e);  // auth_pad_len in the sec_trailer
    return e;
}

// A reader of a request's or response's fields, which end where the stub
// data starts.
CNdrReader FieldReader(std::span<const BYTE> pdu, const PduHeader& h)
{
    CNdrReader r(pdu.first(StubEnd(pdu, h)), h.rep);
    r.Seek(kCommonHeaderSize);
    return r;
}

// The rest of the body after the fields read so far.
bool TakeStub(CNdrReader& r, std::span<const BYTE> pdu, const PduHeader& h, std::span<const BYTE>& stub)
{
    if (!r.Ok())
        return false;
    stub = pdu.subspan(r.Position(), StubEnd(pdu, h) - r.Position());
    return true;
}

bool Whole(std::span<const BYTE> pdu, const PduHeader& h)
{
    return pdu.size() >= h.fragLength && CheckHeader(h, 0xFFFF) == HeaderCheck::Ok;
}

// Starts a PDU in out; the header is written by FinishPdu.
CNdrWriter StartPdu(CRpcBuffer& out, const PduHeader& h, size_t* start)
{
    *start = out.Size();
    CNdrWriter w(out, h.rep);
    w.Space(kCommonHeaderSize);
    return w;
}

void FinishPdu(CRpcBuffer& out, PduHeader h, size_t start)
{
    h.fragLength = USHORT(out.Size() - start);
    h.authLength = 0;
    EncodeHeader(out.Data() + start, h);
}

// The fragment sizes and association group that open a bind and a bind_ack.
template <class Pdu>
void ReadAssociation(CNdrReader& r, Pdu& out)
{
    out.maxXmitFrag = r.U16();
    out.maxRecvFrag = r.U16();
    out.assocGroup = r.U32();
}

template <class Pdu>
void WriteAssociation(CNdrWriter& w, const Pdu& body)
{
    w.U16(body.maxXmitFrag);
    w.U16(body.maxRecvFrag);
    w.U32(body.assocGroup);
}

// A list's count: one byte, then three of padding.
BYTE ReadCount(CNdrReader& r)
{
    BYTE count = r.U8();
    r.Skip(3);
    return count;
}

void WriteCount(CNdrWriter& w, size_t count)
{
    w.U8(BYTE(count));
    w.U8(0);
    w.U16(0);
}

// The fields that open a response and a fault.
template <class Pdu>
void ReadResponseFields(CNdrReader& r, Pdu& out)
{
    out.allocHint = r.U32();
    out.contextId = r.U16();
    out.cancelCount = r.U8();
    r.Skip(1);
}


} // namespace




bool ParseBind(std::span<const BYTE> pdu, const PduHeader& h, BindPdu& out)
{
    if (!Whole(pdu, h))
        return false;
    CNdrReader r = BodyReader(pdu, h);
    ReadAssociation(r, out);
    BYTE count = ReadCount(r);
    out.contexts.clear();
    for (BYTE i = 0; i < count && r.Ok(); ++i) {
        PresentationContext c;
        c.id = r.U16();
        BYTE transfers = r.U8();
        r.Skip(1);
        c.abstract = r.Syntax();
        // Each syntax takes 20 bytes; a count beyond the fragment fails here
        // before anything is allocated for it.
        if (size_t(transfers) * 20 > r.Remaining())
            return false;
        for (BYTE t = 0; t < transfers; ++t)
            c.transfers.push_back(r.Syntax());
        out.contexts.push_back(std::move(c));
    }
    return r.Ok();
}

void EncodeBind(CRpcBuffer& out, const PduHeader& h, const BindPdu& body)
{
    size_t start;
    CNdrWriter w = StartPdu(out, h, &start);
    WriteAssociation(w, body);
    WriteCount(w, body.contexts.size());
    for (const PresentationContext& c : body.contexts) {
        w.U16(c.id);
        w.U8(BYTE(c.transfers.size()));
        w.U8(0);
        w.Syntax(c.abstract);
        for (const SyntaxId& t : c.transfers)
            w.Syntax(t);
    }
    FinishPdu(out, h, start);
}

bool ParseBindAck(std::span<const BYTE> pdu, const PduHeader& h, BindAckPdu& out)
{
    if (!Whole(pdu, h))
        return false;
    CNdrReader r = BodyReader(pdu, h);
    ReadAssociation(r, out);
    USHORT addrLength = r.U16();
    std::span<const BYTE> addr = r.Bytes(addrLength);
    out.secondaryAddress.assign(addr.begin(), std::find(addr.begin(), addr.end(), BYTE(0)));
    r.Align(4);
    BYTE count = ReadCount(r);
    out.results.clear();
    for (BYTE i = 0; i < count && r.Ok(); ++i) {
        ContextResult c;
        c.result = r.U16();
        c.reason = r.U16();
        c.transfer = r.Syntax();
        if (r.Ok())
            out.results.push_back(c);
    }
    return r.Ok();
}

void EncodeBindAck(CRpcBuffer& out, const PduHeader& h, const BindAckPdu& body)
{
    size_t start;
    CNdrWriter w = StartPdu(out, h, &start);
    WriteAssociation(w, body);
    if (body.secondaryAddress.empty()) {
        w.U16(0);
    } else {
        w.U16(USHORT(body.secondaryAddress.size() + 1));
        w.Bytes(body.secondaryAddress.c_str(), body.secondaryAddress.size() + 1);
    }
    w.Align(4);
    WriteCount(w, body.results.size());
    for (const ContextResult& c : body.results) {
        w.U16(c.result);
        w.U16(c.reason);
        w.Syntax(c.transfer);
    }
    FinishPdu(out, h, start);
}

bool ParseBindNak(std::span<const BYTE> pdu, const PduHeader& h, BindNakPdu& out)
{
    if (!Whole(pdu, h))
        return false;
    CNdrReader r = BodyReader(pdu, h);
    out.reason = r.U16();
    if (!r.Ok())
        return false;
    out.versions.clear();
    // The version list is optional in practice.
    if (r.Remaining() >= 1) {
        BYTE count = r.U8();
        for (BYTE i = 0; i < count && r.Remaining() >= 2; ++i) {
            BYTE major = r.U8();
            BYTE minor = r.U8();
            out.versions.emplace_back(major, minor);
        }
    }
    return true;
}

void EncodeBindNak(CRpcBuffer& out, const PduHeader& h, USHORT reason)
{
    size_t start;
    CNdrWriter w = StartPdu(out, h, &start);
    w.U16(reason);
    w.U8(1);
    w.U8(kVersionMajor);
    w.U8(0);
    w.Align(4);
    FinishPdu(out, h, start);
}

bool ParseRequestFields(std::span<const BYTE> pdu, const PduHeader& h, RequestPdu& out)
{
    if (!Whole(pdu, h))
        return false;
    CNdrReader r = FieldReader(pdu, h);
    out.allocHint = r.U32();
    out.contextId = r.U16();
    out.opnum = r.U16();
    out.hasObject = (h.flags & PFC_OBJECT_UUID) != 0;
    out.object = out.hasObject ? r.Uuid() : GUID{};
    return TakeStub(r, pdu, h, out.stub);
}


bool ParseResponse(std::span<const BYTE> pdu, const PduHeader& h, ResponsePdu& out)
{
    if (!Whole(pdu, h))
        return false;
    if (h.authLength == 0) {
        if (h.fragLength < kResponseHeaderSize)
            return false;
        const bool big = h.rep.BigEndian();
        out.allocHint = ndr::Load32(pdu.data() + 16, big);
        out.contextId = ndr::Load16(pdu.data() + 20, big);
        out.cancelCount = pdu[22];
        out.stub = pdu.subspan(kResponseHeaderSize, h.fragLength - kResponseHeaderSize);
        return true;
    }
    CNdrReader r = FieldReader(pdu, h);
    ReadResponseFields(r, out);
    return TakeStub(r, pdu, h, out.stub);
}


bool ParseFault(std::span<const BYTE> pdu, const PduHeader& h, FaultPdu& out)
{
    if (!Whole(pdu, h))
        return false;
    CNdrReader r = BodyReader(pdu, h);
    ReadResponseFields(r, out);
    out.status = r.U32();
    return r.Ok();
}

void EncodeFault(BYTE* out, PduHeader h, USHORT contextId, ULONG status)
{
    bool be = h.rep.BigEndian();
    h.type = BYTE(PduType::Fault);
    h.fragLength = USHORT(kFaultPduSize);
    h.authLength = 0;
    EncodeResponseHeader(out, h, 0, contextId);
    ndr::Store32(out + 24, status, be);
    ndr::Store32(out + 28, 0, be);
}

void EncodeHeaderOnly(BYTE* out, PduHeader h)
{
    h.fragLength = USHORT(kCommonHeaderSize);
    h.authLength = 0;
    EncodeHeader(out, h);
}

} // namespace rpc
