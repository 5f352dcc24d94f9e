#pragma once
// The packets of the connection-oriented protocol: their common header and
// the bodies this runtime reads and writes. Parsers take a whole fragment
// (as many bytes as its header's frag_length) and never read beyond it;
// integers are in the order the fragment's data representation label names.
// Encoders write little-endian unless told otherwise.

#include "platform/rpc/NdrByteOrder.h"
#include "platform/rpc/RpcBuffer.h"
#include "platform/rpc/RpcProtocol.h"

#include <cstring>
#include <span>
#include <string>
#include <vector>

namespace rpc {

struct PduHeader {
    BYTE versionMajor = kVersionMajor;
    BYTE versionMinor = 0;
    BYTE type = 0;  // a PduType, kept raw: a peer may send anything
    BYTE flags = 0;
    DataRep rep;
    USHORT fragLength = 0;
    USHORT authLength = 0;
    ULONG callId = 0;

    PduType Type() const { return static_cast<PduType>(type); }
};

// Header codecs are inline, and the encoders written once per byte order:
// they run for every packet.

// Reads the common header from 16 bytes.
inline PduHeader DecodeHeader(const BYTE* p)
{
    PduHeader h;
    h.versionMajor = p[0];
    h.versionMinor = p[1];
    h.type = p[2];
    h.flags = p[3];
    std::memcpy(h.rep.bytes, p + 4, 4);
    bool be = h.rep.BigEndian();
    h.fragLength = ndr::Load16(p + 8, be);
    h.authLength = ndr::Load16(p + 10, be);
    h.callId = ndr::Load32(p + 12, be);
    return h;
}

enum class HeaderCheck { Ok, BadVersion, BadLength };
// Framing checks every fragment must pass before its body is read: version
// 5.0 or 5.1, a length from 16 to maxFragment, an auth verifier that fits.
inline HeaderCheck CheckHeader(const PduHeader& h, size_t maxFragment)
{
    if (h.versionMajor != kVersionMajor || h.versionMinor > kVersionMinorMax)
        return HeaderCheck::BadVersion;
    if (h.fragLength < kCommonHeaderSize || h.fragLength > maxFragment)
        return HeaderCheck::BadLength;
    if (h.authLength != 0 && size_t(h.authLength) + kSecTrailerSize > size_t(h.fragLength) - kCommonHeaderSize)
        return HeaderCheck::BadLength;
    return HeaderCheck::Ok;
}

// Writes a common header into 16 bytes.
template <bool BigEndian>
inline void EncodeHeaderAs(BYTE* out, const PduHeader& h)
{
    out[0] = h.versionMajor;
    out[1] = h.versionMinor;
    out[2] = h.type;
    out[3] = h.flags;
    std::memcpy(out + 4, h.rep.bytes, 4);
    ndr::Store16(out + 8, h.fragLength, BigEndian);
    ndr::Store16(out + 10, h.authLength, BigEndian);
    ndr::Store32(out + 12, h.callId, BigEndian);
}

inline void EncodeHeader(BYTE* out, const PduHeader& h)
{
    h.rep.BigEndian() ? EncodeHeaderAs<true>(out, h) : EncodeHeaderAs<false>(out, h);
}

// ---- bind and alter_context (client to server)

struct PresentationContext {
    USHORT id = 0;
    SyntaxId abstract;
    std::vector<SyntaxId> transfers;
};

struct BindPdu {
    USHORT maxXmitFrag = 0;
    USHORT maxRecvFrag = 0;
    ULONG assocGroup = 0;
    std::vector<PresentationContext> contexts;
};

// False when the body does not fit the fragment. An auth verifier is not
// interpreted.
bool ParseBind(std::span<const BYTE> pdu, const PduHeader& h, BindPdu& out);
// A whole bind (or alter_context) fragment.
void EncodeBind(CRpcBuffer& out, const PduHeader& h, const BindPdu& body);

// ---- bind_ack and alter_context_resp (server to client)

struct ContextResult {
    USHORT result = kResultAcceptance;
    USHORT reason = 0;
    SyntaxId transfer;
};

struct BindAckPdu {
    USHORT maxXmitFrag = 0;
    USHORT maxRecvFrag = 0;
    ULONG assocGroup = 0;
    std::string secondaryAddress;  // without its NUL
    std::vector<ContextResult> results;
};

bool ParseBindAck(std::span<const BYTE> pdu, const PduHeader& h, BindAckPdu& out);
void EncodeBindAck(CRpcBuffer& out, const PduHeader& h, const BindAckPdu& body);

// ---- bind_nak

struct BindNakPdu {
    USHORT reason = 0;
    std::vector<std::pair<BYTE, BYTE>> versions;  // protocol versions the server speaks
};

bool ParseBindNak(std::span<const BYTE> pdu, const PduHeader& h, BindNakPdu& out);
// A bind_nak naming 5.0 as the supported version.
void EncodeBindNak(CRpcBuffer& out, const PduHeader& h, USHORT reason);

// The common header, then the allocation hint and context id that open a
// request, a response and a fault.
template <bool BigEndian>
inline void EncodeCallHeaderAs(BYTE* out, const PduHeader& h, ULONG allocHint, USHORT contextId)
{
    EncodeHeaderAs<BigEndian>(out, h);
    ndr::Store32(out + 16, allocHint, BigEndian);
    ndr::Store16(out + 20, contextId, BigEndian);
}

// ---- request

struct RequestPdu {
    ULONG allocHint = 0;
    USHORT contextId = 0;
    USHORT opnum = 0;
    bool hasObject = false;
    GUID object{};
    std::span<const BYTE> stub;  // within the fragment
};

// ParseRequest for requests with an object UUID or an auth verifier.
bool ParseRequestFields(std::span<const BYTE> pdu, const PduHeader& h, RequestPdu& out);

inline bool ParseRequest(std::span<const BYTE> pdu, const PduHeader& h, RequestPdu& out)
{
    if (h.authLength != 0 || (h.flags & PFC_OBJECT_UUID) != 0)
        return ParseRequestFields(pdu, h, out);
    // Every call of this system's clients: fixed fields read in place.
    if (pdu.size() < h.fragLength || CheckHeader(h, 0xFFFF) != HeaderCheck::Ok || h.fragLength < kRequestHeaderSize)
        return false;
    const bool big = h.rep.BigEndian();
    out.allocHint = ndr::Load32(pdu.data() + 16, big);
    out.contextId = ndr::Load16(pdu.data() + 20, big);
    out.opnum = ndr::Load16(pdu.data() + 22, big);
    out.hasObject = false;
    out.object = GUID{};
    out.stub = pdu.subspan(kRequestHeaderSize, h.fragLength - kRequestHeaderSize);
    return true;
}
// The 24-byte request header (no object UUID, no auth verifier).
inline void EncodeRequestHeader(BYTE* out, const PduHeader& h, ULONG allocHint, USHORT contextId, USHORT opnum)
{
    if (h.rep.BigEndian()) {
        EncodeCallHeaderAs<true>(out, h, allocHint, contextId);
        ndr::Store16(out + 22, opnum, true);
    } else {
        EncodeCallHeaderAs<false>(out, h, allocHint, contextId);
        ndr::Store16(out + 22, opnum, false);
    }
}

// ---- response

struct ResponsePdu {
    ULONG allocHint = 0;
    USHORT contextId = 0;
    BYTE cancelCount = 0;
    std::span<const BYTE> stub;
};

bool ParseResponse(std::span<const BYTE> pdu, const PduHeader& h, ResponsePdu& out);
// The 24-byte response header.
inline void EncodeResponseHeader(BYTE* out, const PduHeader& h, ULONG allocHint, USHORT contextId)
{
    h.rep.BigEndian() ? EncodeCallHeaderAs<true>(out, h, allocHint, contextId)
                      : EncodeCallHeaderAs<false>(out, h, allocHint, contextId);
    out[22] = 0;  // cancel count
    out[23] = 0;
}

// ---- fault

struct FaultPdu {
    ULONG allocHint = 0;
    USHORT contextId = 0;
    BYTE cancelCount = 0;
    ULONG status = 0;
};

bool ParseFault(std::span<const BYTE> pdu, const PduHeader& h, FaultPdu& out);
// A whole 32-byte fault fragment; h.fragLength is set here.
void EncodeFault(BYTE* out, PduHeader h, USHORT contextId, ULONG status);

// The header-only PDUs (shutdown, orphaned, co_cancel): 16 bytes.
void EncodeHeaderOnly(BYTE* out, PduHeader h);

} // namespace rpc
